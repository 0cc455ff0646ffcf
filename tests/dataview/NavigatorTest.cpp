#include "dataview/Navigator.h"
#include "dataview/Zoom.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

using namespace Orvex::DataView;

namespace {

struct NavigatorTest : ::testing::Test {
    Navigator nav;
    NavigatorTest()
    {
        QImage thumb(200, 100, QImage::Format_RGB32);
        thumb.fill(Qt::darkGreen);
        nav.setImage(thumb, QSize(4000, 2000));
        nav.resize(260, 240);
        nav.show();
        QApplication::processEvents();
    }
};

}  // namespace

TEST_F(NavigatorTest, FollowsTheWindowsZoomWithoutEchoing)
{
    QSignalSpy zoomed(&nav, &Navigator::zoomRequested);
    EXPECT_EQ(nav.windowTitle(), "Navigator");
    nav.ImageZoomed(2.0);
    EXPECT_EQ(nav.zoomField()->text(), "200%");
    EXPECT_EQ(nav.presets()->currentText(), "200%");
    EXPECT_EQ(nav.slider()->value(), qRound((0.5 + 4.0 / 28.0) * Navigator::kSliderSteps));
    EXPECT_EQ(zoomed.count(), 0);
}

TEST_F(NavigatorTest, ActionsStepAlongTheScaleAndStopAtTheEnds)
{
    QSignalSpy zoomed(&nav, &Navigator::zoomRequested);
    QSignalSpy fit(&nav, &Navigator::fitRequested);
    nav.ImageZoomed(1.0);
    nav.increaseAction()->trigger();
    ASSERT_EQ(zoomed.count(), 1);
    EXPECT_NEAR(zoomed.takeFirst().at(0).toDouble(), Zoom::step(1.0, 0.01), 1e-12);
    nav.reduceAction()->trigger();
    ASSERT_EQ(zoomed.count(), 1);
    EXPECT_LT(zoomed.takeFirst().at(0).toDouble(), 1.0);

    nav.ImageZoomed(64.0);
    EXPECT_FALSE(nav.increaseAction()->isEnabled());
    nav.increaseAction()->trigger();
    nav.ImageZoomed(0.01);
    EXPECT_FALSE(nav.reduceAction()->isEnabled());
    EXPECT_EQ(zoomed.count(), 0);

    nav.fitAction()->trigger();
    EXPECT_EQ(fit.count(), 1);
}

TEST_F(NavigatorTest, PresetsAndSliderRequestZooms)
{
    QSignalSpy zoomed(&nav, &Navigator::zoomRequested);
    QSignalSpy fit(&nav, &Navigator::fitRequested);
    QComboBox* presets = nav.presets();
    ASSERT_EQ(presets->count(), 15);
    emit presets->activated(presets->findText("300%"));
    ASSERT_EQ(zoomed.count(), 1);
    EXPECT_DOUBLE_EQ(zoomed.takeFirst().at(0).toDouble(), 3.0);
    emit presets->activated(presets->findText("Fit image"));
    EXPECT_EQ(fit.count(), 1);

    nav.slider()->setValue(Navigator::kSliderSteps);
    ASSERT_EQ(zoomed.count(), 1);
    EXPECT_DOUBLE_EQ(zoomed.takeFirst().at(0).toDouble(), 64.0);
}

TEST_F(NavigatorTest, ClickOnTheThumbnailCentresThereInImageCoordinates)
{
    QSignalSpy centre(&nav, &Navigator::centerRequested);
    nav.setVisibleRect(QRectF(0, 0, 1000, 500));
    QWidget* thumb = nullptr;
    for (QWidget* w : nav.findChildren<QWidget*>())
        if (w->metaObject() == &QWidget::staticMetaObject)
            thumb = w;
    ASSERT_NE(thumb, nullptr);
    // The 2:1 image fills the thumbnail's width; its middle is the image's middle.
    QTest::mouseClick(thumb, Qt::LeftButton, {}, QPoint(thumb->width() / 2, thumb->height() / 2));
    ASSERT_EQ(centre.count(), 1);
    const QPointF p = centre.takeFirst().at(0).toPointF();
    EXPECT_NEAR(p.x(), 2000, 4000.0 / thumb->width() + 1);
    EXPECT_NEAR(p.y(), 1000, 4000.0 / thumb->width() + 1);
    // A click beside the image clamps to its edge.
    QTest::mouseClick(thumb, Qt::LeftButton, {}, QPoint(thumb->width() / 2, 0));
    ASSERT_EQ(centre.count(), 1);
    EXPECT_GE(centre.takeFirst().at(0).toPointF().y(), 0.0);
    nav.grab().save(QStringLiteral(ELEMORAMA_BIN_DIR "/navigator.png"));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
