// The slider-to-value scales on their own: rounding, the bent integer curve and its inverse.
#include "gui/Param.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using Orvex::GUI::NonLinear;
using Orvex::GUI::Param;
using Orvex::GUI::ParamDbl;

TEST(LinearScale, IdentityWhenStepsEqualCount) {
    const Param::DrawingScaleBase scale(101, 101, -50);
    for (int p = 0; p <= 100; ++p) {
        EXPECT_EQ(scale.positionToValue(p), p - 50);
        EXPECT_EQ(scale.valueToPosition(p - 50), p);
    }
}

TEST(LinearScale, RoundsHalfAwayFromZero) {
    // 11 positions over 101 values: ten values per position.
    const Param::DrawingScaleBase scale(11, 101, 0);
    EXPECT_EQ(scale.valueToPosition(44), 4);
    EXPECT_EQ(scale.valueToPosition(45), 5); // 4.5 rounds up
    EXPECT_EQ(scale.valueToPosition(55), 6); // 5.5 rounds up, not to even
    EXPECT_EQ(scale.positionToValue(5), 50);
    // 3 positions over 4 values: position 1 is value 1.5, which rounds away from zero.
    const Param::DrawingScaleBase coarse(3, 4, -3);
    EXPECT_EQ(coarse.positionToValue(1), -3 + 2);
}

TEST(LinearScale, OutOfRangeInputIsClampedAndEmptyRangesAreSafe) {
    const Param::DrawingScaleBase scale(101, 101, 0);
    EXPECT_EQ(scale.valueToPosition(-5), 0);
    EXPECT_EQ(scale.valueToPosition(500), 100);
    EXPECT_EQ(scale.positionToValue(-1), 0);
    EXPECT_EQ(scale.positionToValue(1000), 100);
    const Param::DrawingScaleBase single(1, 1, 7);
    EXPECT_EQ(single.valueToPosition(7), 0);
    EXPECT_EQ(single.positionToValue(0), 7);
    EXPECT_EQ(single.positionToValue(3), 7);
}

TEST(NonLinearScale, BrushSizeCurveHitsItsMarks) {
    // 1 … 1000 with mid 100: slider 0 … 198, the middle shows 100.
    const double k = NonLinear::exponentFor(1, 1000, 100);
    EXPECT_NEAR(k, 2.0 * 99.0 / 999.0, 1e-12); // r ≤ 0.25: k = 2r
    const NonLinear scale(199, 1000, 1, k);
    EXPECT_EQ(scale.positionToValue(0), 1);
    EXPECT_EQ(scale.positionToValue(99), 100);
    EXPECT_EQ(scale.positionToValue(198), 1000);
    EXPECT_EQ(scale.valueToPosition(1), 0);
    EXPECT_EQ(scale.valueToPosition(100), 99);
    EXPECT_EQ(scale.valueToPosition(1000), 198);
}

TEST(NonLinearScale, InverseHoldsForEveryPosition) {
    struct Case {
        int min, max, mid;
    };
    for (const Case c :
         {Case{1, 1000, 100}, Case{50, 1000, 200}, Case{0, 100, 10}, Case{1, 10000, 100}, Case{-20, 80, 5}}) {
        const int steps = 2 * (c.mid - c.min) + 1;
        const NonLinear scale(steps, c.max - c.min + 1, c.min, NonLinear::exponentFor(c.min, c.max, c.mid));
        int previous = std::numeric_limits<int>::min();
        for (int p = 0; p < steps; ++p) {
            const int v = scale.positionToValue(p);
            EXPECT_GT(v, previous) << c.min << "…" << c.max << " mid " << c.mid << " at " << p;
            EXPECT_EQ(scale.valueToPosition(v), p) << c.min << "…" << c.max << " mid " << c.mid;
            previous = v;
        }
        EXPECT_EQ(scale.positionToValue(0), c.min);
        EXPECT_EQ(scale.positionToValue(steps - 1), c.max);
    }
}

TEST(NonLinearScale, ExponentRules) {
    EXPECT_DOUBLE_EQ(NonLinear::exponentFor(0, 100, 0), 1.0);  // r = 0
    EXPECT_DOUBLE_EQ(NonLinear::exponentFor(0, 100, 50), 1.0); // r = 0.5: linear
    EXPECT_DOUBLE_EQ(NonLinear::exponentFor(0, 100, 90), 1.0); // r limited to 0.5
    EXPECT_DOUBLE_EQ(NonLinear::exponentFor(10, 10, 10), 1.0); // empty range
    const double r = 0.4;                                      // above 0.25 the log rule wins
    EXPECT_NEAR(NonLinear::exponentFor(0, 100, 40), std::log(0.5) / std::log(r), 1e-12);
    // Values above the range map to the last position, below it to the first.
    const NonLinear scale(199, 1000, 1, NonLinear::exponentFor(1, 1000, 100));
    EXPECT_EQ(scale.valueToPosition(5000), 198);
    EXPECT_EQ(scale.valueToPosition(-5), 0);
}

TEST(RealScale, PositionsAreHundredthsForTwoDecimals) {
    // 0 … 5 with two decimals: 501 positions, count 6.
    const ParamDbl::DrawingScaleBase scale(501, 6.0, 0.0);
    EXPECT_EQ(scale.valueToPosition(2.5), 250);
    EXPECT_EQ(scale.valueToPosition(0.004), 0);
    EXPECT_EQ(scale.valueToPosition(0.006), 1); // adds 0.5 and truncates
    EXPECT_DOUBLE_EQ(scale.positionToValue(250), 2.5);
    EXPECT_DOUBLE_EQ(scale.positionToValue(0), 0.0);
    EXPECT_DOUBLE_EQ(scale.positionToValue(500), 5.0);
}

TEST(RealScale, NonFiniteAndOutOfRangeValues) {
    const ParamDbl::DrawingScaleBase scale(101, 2.0, -0.5);
    EXPECT_EQ(scale.valueToPosition(std::nan("")), 0);
    EXPECT_EQ(scale.valueToPosition(std::numeric_limits<double>::infinity()), 100);
    EXPECT_EQ(scale.valueToPosition(-std::numeric_limits<double>::infinity()), 0);
    const ParamDbl::DrawingScaleBase single(1, 1.0, 3.0);
    EXPECT_EQ(single.valueToPosition(3.0), 0);
    EXPECT_DOUBLE_EQ(single.positionToValue(7), 3.0);
}
