#include "dataview/Zoom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Orvex::DataView;

TEST(ZoomScale, AnchorsOfTheSlider)
{
    EXPECT_DOUBLE_EQ(Zoom::zoomToSlider(1.0), 0.5);
    EXPECT_DOUBLE_EQ(Zoom::zoomToSlider(2.0), 0.5 + 4.0 / 28.0);
    EXPECT_DOUBLE_EQ(Zoom::zoomToSlider(0.5), 7.0 / 18.0);
    EXPECT_DOUBLE_EQ(Zoom::zoomToSlider(0.01), 0.0);
    EXPECT_DOUBLE_EQ(Zoom::zoomToSlider(64.0), 1.0);
    EXPECT_DOUBLE_EQ(Zoom::sliderToZoom(0.5), 1.0);
}

TEST(ZoomScale, OutOfRangeInputsClampToTheEnds)
{
    EXPECT_DOUBLE_EQ(Zoom::zoomToSlider(0.001), 0.0);
    EXPECT_DOUBLE_EQ(Zoom::zoomToSlider(-3.0), 0.0);
    EXPECT_DOUBLE_EQ(Zoom::zoomToSlider(1000.0), 1.0);
    EXPECT_DOUBLE_EQ(Zoom::zoomToSlider(std::numeric_limits<double>::quiet_NaN()), 0.0);
    EXPECT_DOUBLE_EQ(Zoom::sliderToZoom(-0.1), 0.01);
    EXPECT_DOUBLE_EQ(Zoom::sliderToZoom(0.0), 0.01);
    EXPECT_DOUBLE_EQ(Zoom::sliderToZoom(1.0), 64.0);
    EXPECT_DOUBLE_EQ(Zoom::sliderToZoom(7.0), 64.0);
}

TEST(ZoomScale, EveryTableEntryRoundTrips)
{
    for (int i = 0; i < Zoom::kTableSize; ++i) {
        const double z = Zoom::kTable[i];
        EXPECT_NEAR(Zoom::sliderToZoom(Zoom::zoomToSlider(z)), z, 1e-12) << "entry " << i;
    }
    // Entries sit on the interval boundaries: 1/18 apart below 100 %, 1/28 above.
    for (int i = 0; i <= Zoom::kOneIndex; ++i)
        EXPECT_NEAR(Zoom::zoomToSlider(Zoom::kTable[i]), i / 18.0, 1e-12) << "entry " << i;
    for (int i = Zoom::kOneIndex; i < Zoom::kTableSize; ++i)
        EXPECT_NEAR(Zoom::zoomToSlider(Zoom::kTable[i]), 0.5 + (i - 9) / 28.0, 1e-12) << "entry " << i;
}

TEST(ZoomScale, SliderIsMonotonicAndInvertibleBetweenEntries)
{
    double previous = -1.0;
    for (int n = 0; n <= 10000; ++n) {
        const double p = n / 10000.0;
        const double z = Zoom::sliderToZoom(p);
        EXPECT_GT(z, previous) << "p " << p;
        EXPECT_NEAR(Zoom::zoomToSlider(z), p, 1e-9) << "p " << p;
        previous = z;
    }
}

TEST(ZoomSteps, WheelStepFromOneHundredPercent)
{
    EXPECT_NEAR(Zoom::wheelStep(1.0, 120), 1.014, 1e-12);
    EXPECT_NEAR(Zoom::step(1.0, Zoom::kWheelStep), 1.014, 1e-12);
    // Zooming out by one wheel step goes down the 0.66 ... 1.0 interval: 0.002 × 18 × 0.34.
    EXPECT_NEAR(Zoom::wheelStep(1.0, -120), 1.0 - 0.036 * 0.34, 1e-12);
    EXPECT_DOUBLE_EQ(Zoom::wheelStep(1.0, 0), 1.0);
}

TEST(ZoomSteps, ClampAtTheEndsOfTheTable)
{
    EXPECT_DOUBLE_EQ(Zoom::step(64.0, Zoom::kWheelStep), 64.0);
    EXPECT_DOUBLE_EQ(Zoom::step(0.01, -Zoom::kWheelStep), 0.01);
    EXPECT_DOUBLE_EQ(Zoom::step(64.0, Zoom::kNavigatorStep), 64.0);
    // A step that would overshoot lands exactly on the end.
    EXPECT_DOUBLE_EQ(Zoom::step(63.9, Zoom::kNavigatorStep), 64.0);
    EXPECT_DOUBLE_EQ(Zoom::step(0.0101, -Zoom::kNavigatorStep), 0.01);
    // Zoom values outside the table are brought back first.
    EXPECT_DOUBLE_EQ(Zoom::step(500.0, Zoom::kWheelStep), 64.0);
    EXPECT_DOUBLE_EQ(Zoom::step(1.0, std::numeric_limits<double>::infinity()), 1.0);
}

TEST(ZoomSteps, ZoomToolCrossesTheWholeRangeInTwentySeconds)
{
    const int ticksPerSecond = 1000 / Zoom::kToolTickMs;
    double z = 0.01;
    int ticks = 0;
    while (z < 64.0 && ticks < 100000) {
        z = Zoom::step(z, Zoom::kToolTickStep);
        ++ticks;
    }
    EXPECT_NEAR(double(ticks) / ticksPerSecond, 20.0, 0.05);
    EXPECT_DOUBLE_EQ(z, 64.0);
}

TEST(ZoomFit, LargestZoomShowingTheWholeImage)
{
    EXPECT_DOUBLE_EQ(Zoom::fitZoom(QSize(4000, 3000), QSize(1000, 1000)), 0.25);
    EXPECT_DOUBLE_EQ(Zoom::fitZoom(QSize(3000, 4000), QSize(1000, 1000)), 0.25);
    EXPECT_DOUBLE_EQ(Zoom::fitZoom(QSize(100, 50), QSize(800, 800)), 8.0);
    // Clamped to the table's range, and harmless for empty sizes.
    EXPECT_DOUBLE_EQ(Zoom::fitZoom(QSize(10, 10), QSize(2000, 2000)), 64.0);
    EXPECT_DOUBLE_EQ(Zoom::fitZoom(QSize(100000, 100000), QSize(100, 100)), 0.01);
    EXPECT_DOUBLE_EQ(Zoom::fitZoom(QSize(0, 10), QSize(100, 100)), 1.0);
    EXPECT_DOUBLE_EQ(Zoom::fitZoom(QSize(10, 10), QSize(0, 0)), 1.0);
}

TEST(ZoomPresets, TextsFactorsAndField)
{
    const QStringList texts = Zoom::presetTexts();
    const auto factors = Zoom::presetFactors();
    ASSERT_EQ(texts.size(), int(factors.size()));
    EXPECT_EQ(texts.last(), "Fit image");
    EXPECT_EQ(factors.back(), 0.0);
    for (int i = 0; i + 1 < texts.size(); ++i)
        EXPECT_EQ(texts[i], Zoom::zoomText(factors[i])) << i;
    EXPECT_EQ(Zoom::zoomText(1.014), "101.4%");
    EXPECT_EQ(Zoom::zoomText(0.0), "1%");
}
