#include "document/filters/common/Noise.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace Orvex::Document::Filters::Common;

TEST(ValueNoise, HashIsInRangeAndSpreadsOut) {
    double sum = 0;
    int below = 0, count = 0;
    for (int i = -300; i < 300; i += 3)
        for (int j = -300; j < 300; j += 7) {
            const double v = valueNoiseHash(i, j);
            ASSERT_GE(v, 0.0);
            ASSERT_LT(v, 1.0);
            EXPECT_EQ(v, valueNoiseHash(i, j));
            sum += v;
            below += v < 0.5;
            ++count;
        }
    EXPECT_NEAR(sum / count, 0.5, 0.05);
    EXPECT_NEAR(double(below) / count, 0.5, 0.05);
    // The two lattice variants differ.
    int differing = 0;
    for (int i = 1; i < 50; ++i) differing += valueNoiseHash(i, 3, 29) != valueNoiseHash(i, 3, 23);
    EXPECT_GT(differing, 40);
    // Extreme lattice indices wrap instead of overflowing.
    EXPECT_GE(valueNoiseHash(INT32_MAX, INT32_MIN), 0.0);
}

TEST(ValueNoise, CubicKernelInterpolates) {
    EXPECT_DOUBLE_EQ(cubicKernel(0.0), 1.0);
    EXPECT_DOUBLE_EQ(cubicKernel(1.0), 0.0);
    EXPECT_DOUBLE_EQ(cubicKernel(-1.0), 0.0);
    EXPECT_DOUBLE_EQ(cubicKernel(2.0), 0.0);
    EXPECT_DOUBLE_EQ(cubicKernel(3.5), 0.0);
    // Partition of unity: the weights of the lattice around any point sum to 1.
    for (double f = 0.0; f < 1.0; f += 0.0625) {
        double sum = 0;
        for (int k = -2; k <= 2; ++k) sum += cubicKernel(k - f);
        EXPECT_NEAR(sum, 1.0, 1e-12) << f;
    }
}

TEST(ValueNoise, FiveByFiveInterpolationPassesThroughTheLattice) {
    for (int i = -3; i < 3; ++i)
        for (int j = 5; j < 9; ++j) EXPECT_NEAR(cubicValueNoise(i, j), valueNoiseHash(i, j), 1e-12);
    // Continuous between lattice points, and within a small overshoot of 0 ... 1.
    double previous = cubicValueNoise(2.0, 3.0);
    for (double x = 3.0; x < 8.0; x += 0.01) {
        const double v = cubicValueNoise(2.0, x);
        EXPECT_LT(std::fabs(v - previous), 0.1);
        EXPECT_GT(v, -0.3);
        EXPECT_LT(v, 1.3);
        previous = v;
    }
    EXPECT_EQ(cubicValueNoise(NAN, 1.0), 0.0);
    EXPECT_EQ(cubicValueNoise(1.0, INFINITY), 0.0);
}

TEST(GradientNoise, ReproducibleZeroOnLatticeAndBounded) {
    const auto& noise = cGradientNoise3::instance();
    EXPECT_EQ(&noise, &cGradientNoise3::instance());
    for (int i = 0; i < 5; ++i) EXPECT_FLOAT_EQ(noise.noise(float(i), float(2 * i), 3.0f), 0.0f);
    double sum = 0, sumSq = 0;
    int count = 0;
    float lo = 1, hi = -1;
    for (float x = 0.05f; x < 20.0f; x += 0.37f)
        for (float y = 0.11f; y < 20.0f; y += 0.41f) {
            const float v = noise.noise(x, y, 0.5f);
            EXPECT_EQ(v, noise.noise(x, y, 0.5f));
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            sum += v;
            sumSq += v * v;
            ++count;
            const float two = noise.twoOctaves(x, y, 0.5f);
            EXPECT_FLOAT_EQ(two, v + noise.noise(5 * x, 5 * y, 2.5f) / 2);
        }
    EXPECT_GT(lo, -1.2f);
    EXPECT_LT(hi, 1.2f);
    EXPECT_NEAR(sum / count, 0.0, 0.05);
    EXPECT_GT(sumSq / count, 0.005); // not degenerate
    EXPECT_EQ(noise.noise(NAN, 1.0f, 1.0f), 0.0f);
    EXPECT_EQ(noise.noise(1e30f, 1.0f, 1.0f), 0.0f);
}

TEST(GradientNoise, IsContinuous) {
    const auto& noise = cGradientNoise3::instance();
    float previous = noise.noise(0.0f, 3.3f, 0.5f);
    for (float x = 0.01f; x < 10.0f; x += 0.01f) {
        const float v = noise.noise(x, 3.3f, 0.5f);
        ASSERT_LT(std::fabs(v - previous), 0.05f) << x;
        previous = v;
    }
}
