#include "document/filters/common/ColorSpaces.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace Orvex::Document::Filters::Common;

TEST(Lab, ReferenceColours) {
    const LabColor white = srgbToLab(1, 1, 1);
    EXPECT_NEAR(white.L, 100.0, 1e-3);
    EXPECT_NEAR(white.a, 0.0, 0.02);
    EXPECT_NEAR(white.b, 0.0, 0.02);
    const LabColor black = srgbToLab(0, 0, 0);
    EXPECT_NEAR(black.L, 0.0, 1e-9);
    const LabColor red = srgbToLab(1, 0, 0);
    EXPECT_NEAR(red.L, 53.24, 0.05);
    EXPECT_NEAR(red.a, 80.09, 0.1);
    EXPECT_NEAR(red.b, 67.20, 0.1);
}

TEST(Lab, RoundTripOverTheSrgbCube) {
    double worst = 0;
    const int n = 40;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j)
            for (int k = 0; k <= n; ++k) {
                const double r = double(i) / n, g = double(j) / n, b = double(k) / n;
                double r2, g2, b2;
                labToSrgb(srgbToLab(r, g, b), r2, g2, b2);
                worst = std::max({worst, std::fabs(r2 - r), std::fabs(g2 - g), std::fabs(b2 - b)});
            }
    EXPECT_LT(worst, 1e-4);
}

TEST(Lab, LightnessScaling) {
    for (float v : {0.1f, 0.3f, 0.6f}) {
        float r = v, g = v * 0.8f, b = v * 0.5f;
        const LabColor before = srgbToLab(r, g, b);
        scaleLightness(r, g, b, 1.0);
        EXPECT_NEAR(r, v, 1e-4);
        EXPECT_NEAR(b, v * 0.5f, 1e-4);
        r = v, g = v * 0.8f, b = v * 0.5f;
        scaleLightness(r, g, b, 1.5);
        const LabColor after = srgbToLab(r, g, b);
        EXPECT_NEAR(after.L, before.L * 1.5, 0.05);
        EXPECT_NEAR(after.a, before.a, 0.1);
        EXPECT_NEAR(after.b, before.b, 0.1);
    }
    float r = 0.9f, g = 0.9f, b = 0.9f;
    scaleLightness(r, g, b, 3.0); // out of gamut: clamped
    EXPECT_EQ(r, 1.0f);
    r = NAN, g = 0.5f, b = 0.5f;
    scaleLightness(r, g, b, 1.0);
    EXPECT_EQ(r, 0.0f);
}

TEST(Lab, TheTableScalerFollowsTheReference) {
    const cLightnessScaler& scaler = cLightnessScaler::instance();
    // The whole cube, dark corners included, over darkening and brightening factors.
    float worst = 0;
    const int n = 24;
    for (float k : {0.5f, 0.75f, 1.0f, 1.3f, 2.5f, 13.0f})
        for (int i = 0; i <= n; ++i)
            for (int j = 0; j <= n; ++j)
                for (int l = 0; l <= n; ++l) {
                    // Off the table's nodes, and the steep first hundredth sampled finely.
                    const auto at = [&](int v) { return v == 1 ? 0.003f : std::min(1.0f, (v + 0.37f) / n); };
                    float r = at(i), g = at(j), b = at(l);
                    float r2 = r, g2 = g, b2 = b;
                    scaleLightness(r, g, b, k);
                    scaler.scale(r2, g2, b2, k);
                    worst = std::max({worst, std::fabs(r - r2), std::fabs(g - g2), std::fabs(b - b2)});
                }
    EXPECT_LT(worst, 2e-5f);
    float r = 1, g = 1, b = 1;
    scaler.scale(r, g, b, 1.0f);
    EXPECT_NEAR(r, 1.0f, 2e-5f);
    EXPECT_NEAR(b, 1.0f, 2e-5f);
    r = NAN, g = -3, b = 7; // bad samples come out inside 0 ... 1
    scaler.scale(r, g, b, 1.0f);
    for (float v : {r, g, b}) EXPECT_TRUE(v >= 0.0f && v <= 1.0f) << v;
}

TEST(Hsl, PrimariesAndRoundTrip) {
    HslColor red = rgbToHsl(1, 0, 0), green = rgbToHsl(0, 1, 0), blue = rgbToHsl(0, 0, 1);
    EXPECT_FLOAT_EQ(red.h, 0.0f);
    EXPECT_FLOAT_EQ(green.h, 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(blue.h, 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(red.s, 1.0f);
    EXPECT_FLOAT_EQ(red.l, 0.5f);
    const HslColor magentaish = rgbToHsl(1, 0, 0.5f);
    EXPECT_NEAR(magentaish.h, 1.0f - 1.0f / 12.0f, 1e-6f); // negative hue wraps
    const HslColor grey = rgbToHsl(0.4f, 0.4f, 0.400001f);
    EXPECT_EQ(grey.s, 0.0f);
    EXPECT_EQ(grey.h, 0.0f);

    float worst = 0;
    for (int i = 0; i <= 20; ++i)
        for (int j = 0; j <= 20; ++j)
            for (int k = 0; k <= 20; ++k) {
                const float r = i / 20.0f, g = j / 20.0f, b = k / 20.0f;
                float r2, g2, b2;
                hslToRgb(rgbToHsl(r, g, b), r2, g2, b2);
                worst = std::max({worst, std::fabs(r2 - r), std::fabs(g2 - g), std::fabs(b2 - b)});
            }
    EXPECT_LT(worst, 2e-5f);
}

TEST(Hsl, HueShiftTurnsAndWraps) {
    float r = 1, g = 0, b = 0;
    shiftHue(r, g, b, 1.0f / 3.0f);
    EXPECT_NEAR(r, 0.0f, 1e-6f);
    EXPECT_NEAR(g, 1.0f, 1e-6f);
    shiftHue(r, g, b, -2.0f / 3.0f); // back past zero to blue
    EXPECT_NEAR(b, 1.0f, 1e-5f);
    EXPECT_NEAR(g, 0.0f, 1e-5f);
    float r2 = 0.9f, g2 = 0.55f, b2 = 0.2f;
    shiftHue(r2, g2, b2, 0.5f); // orange to blue, lightness kept
    EXPECT_GT(b2, r2);
    EXPECT_NEAR((std::max({r2, g2, b2}) + std::min({r2, g2, b2})) / 2, 0.55f, 1e-5f);
    shiftHue(r2, g2, b2, NAN);
    EXPECT_TRUE(std::isfinite(r2));
}
