// The image window drawn through OpenGL (run under Xvfb with Mesa's software GL; skipped where no
// context can be made). Frames are drawn into an offscreen framebuffer and compared with the
// shown picture resampled the way the view promises: bilinear when zoomed out, pixel for pixel
// at 100 %. Texture uploads are counted to check that only changed tiles travel again.

#include "FilterTestSupport.h"

#include "dataview/Viewport.h"
#include "ui/PluginUI.h"

#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QPainter>
#include <QMouseEvent>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace FilterTest;
using Orvex::GPU::Viewport;
using Orvex::UI::ImagePreview;

namespace {

// Gradients under a grid of 37-pixel blocks and thin diagonal stripes: any shift, flip or seam
// between tiles shows against it.
void paintPattern(std::vector<uint8_t>& rgba, int w, int h) {
    rgba.resize(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &rgba[(size_t(y) * size_t(w) + size_t(x)) * 4];
            const bool block = ((x / 37) + (y / 37)) % 2 == 0;
            const bool stripe = (x + 2 * y) % 23 < 3;
            p[0] = uint8_t(x * 255 / w);
            p[1] = uint8_t(block ? 40 + y * 200 / h : 230 - y * 200 / h);
            p[2] = stripe ? 255 : uint8_t(block ? 60 : 180);
            p[3] = 255;
        }
}

Ref<DataStorage::PixelPlane> patternPlane(int w, int h) {
    auto plane = rgbaPlane(w, h);
    std::vector<uint8_t> rgba;
    paintPattern(rgba, w, h);
    DataStorage::setData(*plane, plane->bounds(), rgba.data(), 0,
                         DataStorage::PixelFormat::fromMask(DataStorage::MaskRGBA, DataStorage::TypeU8));
    return plane;
}

// The plane as an RGB32 picture of its own size.
QImage planePicture(const DataStorage::PixelPlane& plane) {
    QImage picture(plane.width(), plane.height(), QImage::Format_RGBA8888);
    DataStorage::getData(plane, plane.bounds(), picture.bits(), unsigned(picture.bytesPerLine()),
                         DataStorage::PixelFormat::fromMask(DataStorage::MaskRGBA, DataStorage::TypeU8));
    return picture.convertToFormat(QImage::Format_RGB32);
}

// Bilinear sample of an RGBA8888 picture at picture coordinates (texel centres at +0.5), edges
// clamped: what linear texture filtering computes.
QRgb bilinear(const QImage& picture, double u, double v) {
    u -= 0.5, v -= 0.5;
    const int x0 = int(std::floor(u)), y0 = int(std::floor(v));
    const double fx = u - x0, fy = v - y0;
    auto at = [&](int x, int y, int c) {
        x = std::clamp(x, 0, picture.width() - 1), y = std::clamp(y, 0, picture.height() - 1);
        return double(picture.constScanLine(y)[4 * x + c]);
    };
    int out[3];
    for (int c = 0; c < 3; ++c)
        out[c] = int(std::lround((at(x0, y0, c) * (1 - fx) + at(x0 + 1, y0, c) * fx) * (1 - fy) +
                                 (at(x0, y0 + 1, c) * (1 - fx) + at(x0 + 1, y0 + 1, c) * fx) * fy));
    return qRgb(out[0], out[1], out[2]);
}

int channelDistance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

struct ImageViewGL : ::testing::Test {
    std::unique_ptr<ImagePreview> view;

    void SetUp() override {
        if (!Viewport::openGLAvailable()) GTEST_SKIP() << "no OpenGL context on this platform";
        view = std::make_unique<ImagePreview>(nullptr, ImagePreview::Drawing::OpenGL);
        ASSERT_TRUE(view->usesOpenGL());
        view->resize(700, 500);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    // The viewport's next frame; skips the test when the context turned out unusable.
    QImage frame() {
        QCoreApplication::processEvents();
        Viewport* viewport = view->viewport();
        if (!viewport || !viewport->isWorking()) return {};
        return viewport->grabFrame().convertToFormat(QImage::Format_RGB32);
    }

    int64_t uploads() const { return view->viewport() ? view->viewport()->tileUploads() : 0; }
};

#define GRAB(image)                                                                                                    \
    const QImage image = frame();                                                                                      \
    if (image.isNull()) GTEST_SKIP() << "the OpenGL viewport could not draw";                                          \
    ASSERT_EQ(image.size(), QSize(700, 500))

} // namespace

TEST_F(ImageViewGL, FitShowsTheReducedLevelResampledIntoTheWholeView) {
    const auto plane = patternPlane(1600, 1200);
    view->setPlane(plane);
    GRAB(shot);
    shot.save(QDir::temp().filePath("elemorama-glview-fit.png"));
    // Fitted to 700 x 500 the zoom is 5/12: the pyramid's half-size level, reduced further.
    const QImage picture = view->shownImage();
    ASSERT_EQ(picture.size(), QSize(800, 600));
    const QRectF t(view->toView(QPointF(0, 0)), view->toView(QPointF(1600, 1200)));
    EXPECT_NEAR(t.height(), 500.0, 1e-9);
    const double k = t.width() / picture.width();
    long compared = 0, off = 0;
    int worst = 0;
    for (int y = 1; y < 499; ++y)
        for (int x = 0; x < 700; ++x) {
            const QPointF at(x + 0.5, y + 0.5);
            if (!t.adjusted(1, 1, -1, -1).contains(at)) {
                // Outside the image: the backdrop, untouched.
                if (!t.adjusted(-1, -1, 1, 1).contains(at)) {
                    ASSERT_EQ(shot.pixel(x, y) & 0xFFFFFF, view->palette().color(QPalette::Dark).rgb() & 0xFFFFFF)
                        << x << "," << y;
                }
                continue;
            }
            const QRgb expected = bilinear(picture, (at.x() - t.left()) / k, (at.y() - t.top()) / k);
            const int d = channelDistance(shot.pixel(x, y), expected);
            worst = std::max(worst, d);
            off += d > 6;
            ++compared;
        }
    EXPECT_GT(compared, 300000);
    // Filtering precision differs between GL implementations by a few levels; a shifted or
    // seamed picture differs by far more over the pattern's edges.
    EXPECT_LT(double(off) / compared, 0.002) << "worst " << worst;
    EXPECT_LE(worst, 40);
}

TEST_F(ImageViewGL, AtHundredPercentEveryViewPixelIsOnePlanePixelAndPanningFollows) {
    const auto plane = patternPlane(1600, 1200);
    view->setPlane(plane);
    view->setZoom(1.0);
    const QImage pixels = planePicture(*plane);
    // Across the tile seams at 512 and 1024 in both directions.
    for (const QPointF centre : {QPointF(800, 600), QPointF(512, 512), QPointF(1250, 900)}) {
        SCOPED_TRACE(centre.x());
        view->centerOn(centre);
        GRAB(shot);
        if (centre.x() == 512) shot.save(QDir::temp().filePath("elemorama-glview-100.png"));
        const QPointF origin = view->toImage(QPointF(0, 0));
        ASSERT_EQ(origin, QPointF(std::round(origin.x()), std::round(origin.y()))) << "whole pixels";
        long off = 0;
        for (int y = 0; y < 500; y += 3)
            for (int x = 0; x < 700; ++x)
                off += shot.pixel(x, y) != pixels.pixel(int(origin.x()) + x, int(origin.y()) + y);
        EXPECT_EQ(off, 0);
    }
}

TEST_F(ImageViewGL, TilesTravelOnlyWhenTheyChanged) {
    const auto plane = patternPlane(1600, 1200);
    view->setPlane(plane);
    view->setZoom(1.0);
    view->centerOn(QPointF(400, 300)); // the view covers tiles (0..1, 0..1)
    GRAB(first);
    const int64_t shown = uploads();
    EXPECT_EQ(shown, 4);
    {
        GRAB(again);
        EXPECT_EQ(uploads(), shown) << "redrawing uploads nothing";
        EXPECT_EQ(again, first);
    }
    // Zooming out to another level and back: the full-size tiles are still there.
    view->fitImage();
    { GRAB(fit); }
    const int64_t withFit = uploads();
    EXPECT_GT(withFit, shown);
    view->setZoom(1.0);
    view->centerOn(QPointF(400, 300));
    { GRAB(back); EXPECT_EQ(back, first); }
    EXPECT_EQ(uploads(), withFit);

    // A region drawn into the plane: only the tile under it travels again, and it shows.
    std::vector<uint8_t> red(40 * 30 * 4);
    for (size_t i = 0; i < red.size(); i += 4) red[i] = 255, red[i + 1] = 0, red[i + 2] = 0, red[i + 3] = 255;
    DataStorage::setData(*plane, DataStorage::RectI{100, 100, 140, 130}, red.data(), 0,
                         DataStorage::PixelFormat::fromMask(DataStorage::MaskRGBA, DataStorage::TypeU8));
    view->updateRegion(QRect(100, 100, 40, 30));
    {
        GRAB(painted);
        EXPECT_EQ(uploads(), withFit + 1);
        const QPointF at = view->toView(QPointF(120, 115));
        EXPECT_EQ(painted.pixel(at.toPoint()) & 0xFFFFFF, 0xFF0000u);
        const QPointF beside = view->toView(QPointF(200, 115));
        EXPECT_EQ(painted.pixel(beside.toPoint()), first.pixel(beside.toPoint()));
    }

    // Another plane of the same size (Before / After): the view stays, its tiles travel again.
    view->setPlane(patternPlane(1600, 1200));
    { GRAB(other); EXPECT_EQ(other, first); }
    EXPECT_EQ(uploads(), withFit + 1 + 4);
}

TEST_F(ImageViewGL, OverlaysAndLinesLookAsTheRasterPainterDrawsThem) {
    const auto plane = patternPlane(900, 600);
    view->setPlane(plane);
    auto mask = maskChannel(900, 600, 0);
    const std::vector<uint8_t> full(300 * 600, 255);
    DataStorage::setData(*mask, DataStorage::RectI{300, 0, 600, 600}, full.data(), 300);
    view->setSelectionDisplay(true, 0x8000FF00);
    view->setMaskOverlay(mask);
    view->setLines({QLineF(50, 50, 850, 550), QLineF(100, 500, 800, 100)});
    GRAB(gl);
    gl.save(QDir::temp().filePath("elemorama-glview-overlay.png"));
    QImage raster(700, 500, QImage::Format_RGB32);
    {
        QPainter painter(&raster);
        view->paintRaster(painter);
    }
    raster.save(QDir::temp().filePath("elemorama-raster-overlay.png"));
    long off = 0;
    double sum = 0;
    for (int y = 0; y < 500; ++y)
        for (int x = 0; x < 700; ++x) {
            const int d = channelDistance(gl.pixel(x, y), raster.pixel(x, y));
            sum += d;
            off += d > 24;
        }
    // Filtering and line antialiasing differ a little between the two; the tint and the lines
    // themselves must be where the raster painter puts them.
    EXPECT_LT(sum / (700.0 * 500.0), 2.0);
    EXPECT_LT(double(off) / (700.0 * 500.0), 0.01);
    const QPoint tinted = view->toView(QPointF(450, 300)).toPoint() + QPoint(0, 40);
    EXPECT_GT(qGreen(gl.pixel(tinted)), qGreen(raster.pixel(tinted)) - 8);
}

// The viewport is a native window of its own: what the pointer does over it reaches the image
// window's tools and panning as if the widget itself had been hit.
TEST_F(ImageViewGL, PointerEventsOverTheViewportReachTheWindow) {
    const auto plane = patternPlane(1600, 1200);
    view->setPlane(plane);
    view->setZoom(1.0);
    QCoreApplication::processEvents();
    QWindow* window = view->viewport();
    ASSERT_NE(window, nullptr);

    std::vector<std::pair<int, QPointF>> pointer;
    QObject::connect(view.get(), &ImagePreview::pointer,
                     [&](int kind, QPointF at, Qt::KeyboardModifiers) { pointer.emplace_back(kind, at); });
    const QPoint at(200, 150);
    const QPointF expected = view->toImage(at);
    QTest::mousePress(window, Qt::LeftButton, {}, at);
    QTest::mouseRelease(window, Qt::LeftButton, {}, at);
    ASSERT_EQ(pointer.size(), 2u);
    EXPECT_EQ(pointer[0].first, 1);
    EXPECT_EQ(pointer[1].first, 3);
    EXPECT_NEAR(pointer[0].second.x(), expected.x(), 1e-6);
    EXPECT_NEAR(pointer[0].second.y(), expected.y(), 1e-6);

    // The middle button drags the image.
    const QRectF before = view->visibleRect();
    QTest::mousePress(window, Qt::MiddleButton, {}, QPoint(300, 300));
    QMouseEvent move(QEvent::MouseMove, QPointF(260, 280), window->mapToGlobal(QPoint(260, 280)), Qt::NoButton,
                     Qt::MiddleButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &move);
    QTest::mouseRelease(window, Qt::MiddleButton, {}, QPoint(260, 280));
    EXPECT_NEAR(view->visibleRect().left(), before.left() + 40, 1e-6);
    EXPECT_NEAR(view->visibleRect().top(), before.top() + 20, 1e-6);
    EXPECT_EQ(pointer.size(), 2u) << "panning is no tool stroke";
}

// A grab of the widget cannot see into the native viewport: it gets the raster painter's frame.
TEST_F(ImageViewGL, AGrabOfTheWidgetShowsTheImage) {
    view->setPlane(patternPlane(900, 600));
    QCoreApplication::processEvents();
    const QImage grabbed = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage raster(700, 500, QImage::Format_RGB32);
    {
        QPainter painter(&raster);
        view->paintRaster(painter);
    }
    ASSERT_EQ(grabbed.size(), raster.size());
    EXPECT_EQ(grabbed, raster);
}

// On the screen: the frame the viewport swaps in shows inside a window beside other widgets,
// exactly where the image widget lies.
TEST_F(ImageViewGL, TheScreenShowsTheFrameWhereTheWidgetLies) {
    view.reset();
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* side = new QLabel(QStringLiteral("side panel"), &window);
    side->setFixedWidth(200);
    layout->addWidget(side);
    auto* shown = new ImagePreview(&window, ImagePreview::Drawing::OpenGL);
    layout->addWidget(shown, 1);
    window.resize(900, 500);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    shown->setPlane(patternPlane(1600, 1200));
    QTest::qWait(300);
    ASSERT_TRUE(shown->usesOpenGL());
    if (!shown->viewport()->isWorking()) GTEST_SKIP() << "the OpenGL viewport could not draw";
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(window.winId()).toImage()
                              .convertToFormat(QImage::Format_RGB32);
    screen.save(QDir::temp().filePath("elemorama-glview-screen.png"));
    const QRect where(shown->mapTo(&window, QPoint(0, 0)), shown->size());
    ASSERT_TRUE(screen.rect().contains(where));
    QImage raster(shown->size(), QImage::Format_RGB32);
    {
        QPainter painter(&raster);
        shown->paintRaster(painter);
    }
    double sum = 0;
    for (int y = 0; y < raster.height(); ++y)
        for (int x = 0; x < raster.width(); ++x)
            sum += channelDistance(screen.pixel(where.left() + x, where.top() + y), raster.pixel(x, y));
    EXPECT_LT(sum / (raster.width() * raster.height()), 2.0);
}
