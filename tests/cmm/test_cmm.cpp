#include "cmm/CMM.h"

#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

using namespace Orvex::CMM;

TEST(CMM, DefaultProfilesAreGenericAndSerialise) {
    struct Case {
        ColorSpace space;
        const char* description;
    } cases[] = {{ColorSpace::RGB, "sRGB built-in"},
                 {ColorSpace::Grey, "Gray D50 virtual profile"},
                 {ColorSpace::CMYK, "CMYK virtual profile"},
                 {ColorSpace::Lab, "Lab D50 identity"}};
    for (const Case& c : cases) {
        const ProfilePtr p = Profile::defaultProfile(c.space);
        ASSERT_TRUE(p);
        EXPECT_EQ(p, Profile::defaultProfile(c.space)); // created once
        EXPECT_EQ(p->colorSpace(), c.space);
        EXPECT_EQ(p->description(), c.description);
        EXPECT_TRUE(p->isGeneric());
        const ProfilePtr parsed = Profile::fromICC(p->iccBytes());
        ASSERT_TRUE(parsed) << c.description;
        EXPECT_EQ(parsed->colorSpace(), c.space);
        EXPECT_EQ(parsed->description(), c.description);
        EXPECT_EQ(profileOrDefault(parsed, c.space), p); // a generic profile gives way to the built-in one
    }
    EXPECT_FALSE(Profile::defaultProfile(ColorSpace::Unknown));
}

TEST(CMM, GarbageIsNoProfile) {
    std::vector<char> junk(4000, 'x');
    EXPECT_FALSE(Profile::fromICC(junk.data(), junk.size()));
    EXPECT_FALSE(Profile::fromICC(nullptr, 0));
    QByteArray cut = Profile::defaultProfile(ColorSpace::RGB)->iccBytes();
    cut.truncate(100);
    EXPECT_FALSE(Profile::fromICC(cut));
    EXPECT_EQ(profileOrDefault(nullptr, ColorSpace::Grey), Profile::defaultProfile(ColorSpace::Grey));
    // A profile of another space is replaced by the default of the space asked for.
    EXPECT_EQ(profileOrDefault(Profile::defaultProfile(ColorSpace::RGB), ColorSpace::CMYK),
              Profile::defaultProfile(ColorSpace::CMYK));
}

TEST(CMM, LayoutsMustMatchTheirProfiles) {
    auto rgb = Profile::defaultProfile(ColorSpace::RGB);
    EXPECT_THROW(Transform(rgb, {ColorSpace::Grey, -1, false}, rgb, {ColorSpace::RGB, -1, false}),
                 std::runtime_error);
    EXPECT_THROW(Transform(rgb, {ColorSpace::RGB, 7, false}, rgb, {ColorSpace::RGB, -1, false}),
                 std::runtime_error);
    EXPECT_THROW(Transform(nullptr, {ColorSpace::RGB, -1, false}, rgb, {ColorSpace::RGB, -1, false}),
                 std::runtime_error);
}

namespace {
// Converts RGB 16-bit pixels to `space` and back and returns the largest difference in 8-bit steps.
double roundTripError(ColorSpace space, int type, bool alpha) {
    auto rgb = Profile::defaultProfile(ColorSpace::RGB);
    auto other = Profile::defaultProfile(space);
    const PixelLayout rgbLayout{ColorSpace::RGB, -2, alpha};
    const PixelLayout otherLayout{space, type, alpha};
    Transform there(rgb, rgbLayout, other, otherLayout, Intent::RelativeColorimetric);
    Transform back(other, otherLayout, rgb, rgbLayout, Intent::RelativeColorimetric);
    const size_t pixels = 3000;
    std::vector<uint16_t> source(pixels * rgbLayout.channels()), result(source.size());
    std::mt19937 rng(3);
    // Colours well inside the gamut of every space, so that a round trip must come back.
    for (size_t i = 0; i < source.size(); ++i) source[i] = uint16_t(16384 + rng() % 32768);
    std::vector<uint8_t> middle(pixels * otherLayout.pixelBytes());
    there.apply(source.data(), middle.data(), pixels);
    back.apply(middle.data(), result.data(), pixels);
    double worst = 0;
    for (size_t i = 0; i < source.size(); ++i) {
        const bool isAlpha = alpha && i % 4 == 3;
        const double d = std::abs(double(source[i]) - double(result[i])) / 257.0;
        if (isAlpha && type == -2) {
            EXPECT_EQ(source[i], result[i]);
        }
        worst = std::max(worst, isAlpha ? 0.0 : d);
    }
    return worst;
}
} // namespace

TEST(CMM, RoundTripsThroughEverySpaceAndType) {
    for (int type : {-1, -2, -3}) {
        SCOPED_TRACE(type);
        // 8-bit Lab holds a and b in whole units, several 8-bit RGB steps apart.
        const double step = type == -1 ? 4.0 : 0.6;
        EXPECT_LT(roundTripError(ColorSpace::RGB, type, false), step);
        EXPECT_LT(roundTripError(ColorSpace::Lab, type, true), step);
        EXPECT_LT(roundTripError(ColorSpace::Lab, type, false), step);
        EXPECT_LT(roundTripError(ColorSpace::CMYK, type, true), 6.0); // the ink model is a sampled grid
    }
}

TEST(CMM, KnownColours) {
    auto rgb = Profile::defaultProfile(ColorSpace::RGB);
    // White and black in Lab 8-bit: L at the ends, a and b neutral.
    Transform toLab(rgb, {ColorSpace::RGB, -1, false}, Profile::defaultProfile(ColorSpace::Lab),
                    {ColorSpace::Lab, -1, false}, Intent::RelativeColorimetric);
    const uint8_t px[6] = {255, 255, 255, 0, 0, 0};
    uint8_t lab[6];
    toLab.apply(px, lab, 2);
    EXPECT_NEAR(lab[0], 255, 1);
    EXPECT_NEAR(lab[1], 128, 1);
    EXPECT_NEAR(lab[2], 128, 1);
    EXPECT_NEAR(lab[3], 0, 1);
    // Grey to RGB gives equal channels and carries alpha over, converted to the target type.
    Transform toRgb(Profile::defaultProfile(ColorSpace::Grey), {ColorSpace::Grey, -1, true}, rgb,
                    {ColorSpace::RGB, -3, true});
    const uint8_t ga[4] = {200, 51, 0, 255};
    float out[8];
    toRgb.apply(ga, out, 2);
    EXPECT_NEAR(out[0], out[1], 1e-3);
    EXPECT_NEAR(out[1], out[2], 1e-3);
    EXPECT_NEAR(out[3], 0.2f, 1e-6);
    EXPECT_NEAR(out[7], 1.0f, 1e-6);
    // White paper is no ink; RGB without alpha into RGBA gives opaque pixels.
    Transform toCmyk(rgb, {ColorSpace::RGB, -1, false}, Profile::defaultProfile(ColorSpace::CMYK),
                     {ColorSpace::CMYK, -1, true}, Intent::RelativeColorimetric);
    uint8_t cmyk[5];
    toCmyk.apply(px, cmyk, 1);
    for (int c = 0; c < 4; ++c) EXPECT_LE(cmyk[c], 2);
    EXPECT_EQ(cmyk[4], 255);
    // Strided rectangles.
    uint8_t rows[2][8] = {{255, 255, 255, 0, 0, 0, 9, 9}, {0, 0, 0, 255, 255, 255, 9, 9}};
    uint8_t labRows[2][6];
    toLab.apply(rows, 8, labRows, 6, 2, 2);
    EXPECT_NEAR(labRows[1][3], 255, 1);
    EXPECT_NEAR(labRows[1][0], 0, 1);
}
