#include "dataview/TextureGrid.h"
#include "dataview/ViewGeometry.h"

#include <gtest/gtest.h>

using namespace Orvex::DataView;
using Orvex::GPU::TextureGrid;

namespace {

ViewGeometry view(QSize image, QSizeF viewSize) {
    ViewGeometry g;
    g.setImageSize(image);
    g.setViewSize(viewSize);
    return g;
}

} // namespace

TEST(ViewGeometry, FitCentresTheWholeImageAlongItsTighterAxis) {
    ViewGeometry g = view({4000, 3000}, {1920, 1080});
    EXPECT_TRUE(g.fitted());
    EXPECT_DOUBLE_EQ(g.zoom(), 0.36);
    const QRectF t = g.target();
    EXPECT_DOUBLE_EQ(t.top(), 0.0);
    EXPECT_DOUBLE_EQ(t.height(), 1080.0);
    EXPECT_DOUBLE_EQ(t.left(), (1920 - 1440) / 2.0);
    EXPECT_EQ(g.visibleRect(), QRectF(0, 0, 4000, 3000));
    // A fitted view does not pan.
    EXPECT_FALSE(g.panBy({100, 0}));
    EXPECT_FALSE(g.centerOn({10, 10}));
}

TEST(ViewGeometry, ViewAndImageCoordinatesRoundTrip) {
    for (const double zoom : {0.0, 0.37, 1.0, 3.5}) {
        SCOPED_TRACE(zoom);
        ViewGeometry g = view({1600, 1200}, {700, 500});
        if (zoom > 0) g.zoomAround(zoom, {350, 250});
        g.centerOn({900, 400});
        for (const QPointF p : {QPointF(0, 0), QPointF(123.25, 77.5), QPointF(699, 499)}) {
            const QPointF back = g.toView(g.toImage(p));
            EXPECT_NEAR(back.x(), p.x(), 1e-9);
            EXPECT_NEAR(back.y(), p.y(), 1e-9);
        }
    }
}

TEST(ViewGeometry, ZoomKeepsThePointUnderThePointer) {
    ViewGeometry g = view({4000, 3000}, {1000, 800});
    const QPointF pointer(700, 300);
    const QPointF under = g.toImage(pointer);
    ASSERT_TRUE(g.zoomAround(1.0, pointer));
    EXPECT_FALSE(g.fitted());
    EXPECT_NEAR(g.toImage(pointer).x(), under.x(), 1e-9);
    EXPECT_NEAR(g.toImage(pointer).y(), under.y(), 1e-9);
    EXPECT_FALSE(g.zoomAround(1.0, pointer)) << "the same zoom changes nothing";
    // Out of the table's range: clamped to its ends.
    g.zoomAround(1000, pointer);
    EXPECT_DOUBLE_EQ(g.zoom(), 64.0);
    g.zoomAround(0.0001, pointer);
    EXPECT_DOUBLE_EQ(g.zoom(), 0.01);
    EXPECT_TRUE(g.fit());
    EXPECT_FALSE(g.fit());
}

TEST(ViewGeometry, PanningStopsAtTheImageEdgesAndSmallAxesStayCentred) {
    ViewGeometry g = view({4000, 600}, {1000, 800});
    g.zoomAround(1.0, {500, 400});
    // Wider than the view: the view cannot leave the image. Lower than the view: centred.
    g.panBy({100000, 0});
    EXPECT_DOUBLE_EQ(g.visibleRect().left(), 0.0);
    EXPECT_DOUBLE_EQ(g.target().top(), 100.0);
    g.panBy({-100000, -500});
    EXPECT_DOUBLE_EQ(g.visibleRect().right(), 4000.0);
    EXPECT_DOUBLE_EQ(g.target().top(), 100.0);
    EXPECT_DOUBLE_EQ(g.visibleRect().width(), 1000.0);
    // A smaller view keeps the centre inside the new bounds.
    g.setViewSize({3000, 800});
    EXPECT_DOUBLE_EQ(g.visibleRect().right(), 4000.0);
    EXPECT_DOUBLE_EQ(g.visibleRect().left(), 1000.0);
}

TEST(ViewGeometry, AnotherImageSizeStartsFittedTheSameSizeKeepsTheView) {
    ViewGeometry g = view({800, 600}, {400, 300});
    g.zoomAround(2.0, {100, 100});
    const QRectF shown = g.visibleRect();
    g.setImageSize({800, 600});
    EXPECT_EQ(g.visibleRect(), shown);
    g.setImageSize({801, 600});
    EXPECT_TRUE(g.fitted());
    g.setImageSize({});
    EXPECT_TRUE(g.target().isEmpty());
    EXPECT_TRUE(g.visibleRect().isEmpty());
    EXPECT_EQ(g.toImage({5, 5}), QPointF());
    EXPECT_FALSE(g.zoomAround(2.0, {0, 0}));
}

TEST(TextureGrid, TilesCoverThePictureWithABorderOfOnePixel) {
    const TextureGrid grid(QSize(1100, 513));
    ASSERT_EQ(grid.columns(), 3);
    ASSERT_EQ(grid.rows(), 2);
    EXPECT_EQ(grid.tile(0, 0).inner, QRect(0, 0, 512, 512));
    EXPECT_EQ(grid.tile(0, 0).stored, QRect(0, 0, 513, 513));
    EXPECT_EQ(grid.tile(1, 0).stored, QRect(511, 0, 514, 513));
    EXPECT_EQ(grid.tile(2, 1).inner, QRect(1024, 512, 76, 1));
    EXPECT_EQ(grid.tile(2, 1).stored, QRect(1023, 511, 77, 2));
    EXPECT_EQ(grid.tile(1, 1).texture, 0u) << "nothing is uploaded before it is drawn";
}

TEST(TextureGrid, AChangeMakesStaleOnlyTheTilesHoldingItsPixels) {
    TextureGrid grid(QSize(2048, 1024));
    auto stale = [&] {
        std::string marks;
        for (int r = 0; r < grid.rows(); ++r)
            for (int c = 0; c < grid.columns(); ++c) marks += grid.tile(c, r).stale ? 'x' : '.';
        return marks;
    };
    grid.markChanged(QRect());
    grid.markChanged(QRect(-50, -50, 10, 10));
    EXPECT_EQ(stale(), "........");
    grid.markChanged(QRect(600, 10, 5, 5));
    EXPECT_EQ(stale(), ".x......");
    // The last column of a tile is also the border texel of the next one.
    grid.markChanged(QRect(1535, 700, 1, 1));
    EXPECT_EQ(stale(), ".x....xx");
    grid.markAllChanged();
    EXPECT_EQ(stale(), "xxxxxxxx");

    int c0, c1, r0, r1;
    grid.tilesMeeting(QRectF(100, 100, 1000, 50), c0, c1, r0, r1);
    EXPECT_EQ(c0, 0);
    EXPECT_EQ(c1, 3);
    EXPECT_EQ(r0, 0);
    EXPECT_EQ(r1, 1);
    grid.tilesMeeting(QRectF(-500, -500, 100, 100), c0, c1, r0, r1);
    EXPECT_EQ(c1 - c0, 0) << "outside the picture: no tiles";
    grid.tilesMeeting(QRectF(1500, 600, 5000, 5000), c0, c1, r0, r1);
    EXPECT_EQ(c0, 2);
    EXPECT_EQ(c1, 4);
    EXPECT_EQ(r0, 1);
    EXPECT_EQ(r1, 2);
}
