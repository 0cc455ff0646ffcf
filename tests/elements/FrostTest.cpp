#include "ElementsTestSupport.h"

#include "document/filters/common/Random.h"
#include "document/filters/frost/FrostCrystals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Orvex::Document::Filters;
using namespace ElementsTest;

namespace {

FrostHooks noHooks() {
    return {};
}

// The growth written the plain way: every pixel of every round in tile order, every walker step by
// step. The renderer's growth must give exactly the same crystals and leave the generator at the
// same state.
void growReference(const std::vector<float>& field, int width, int height, int thickness, int branching,
                   std::vector<uint8_t>& crystals) {
    Orvex::Document::Filters::Common::cShiftRegister20 crust(101);
    const int steps = std::max(1, branching * 100);
    double threshold = 7.5;
    static const int dx[8] = {1, -1, 0, 0, 1, -1, 1, -1};
    static const int dy[8] = {0, 0, 1, -1, -1, 1, 1, -1};
    for (int round = 0; round < 100; ++round) {
        for (int ty = 0; ty < height; ty += 64)
            for (int tx = 0; tx < width; tx += 64)
                for (int y = ty; y < std::min(height, ty + 64); ++y)
                    for (int x = tx; x < std::min(width, tx + 64); ++x) {
                        const uint32_t s = crust.next();
                        const std::size_t i = std::size_t(y) * width + x;
                        if (!(s - 1 < uint32_t(thickness * 200) && field[i] <= threshold && !crystals[i]))
                            continue;
                        int wx = x, wy = y;
                        for (int k = 0; k < steps; ++k) {
                            const uint32_t s1 = crust.next(), s2 = crust.next(), s3 = crust.next();
                            const int d = int((s1 + s2 + s3 + 5) % 8);
                            const int nx = wx + dx[d], ny = wy + dy[d];
                            if (nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
                            if (crystals[std::size_t(ny) * width + nx]) {
                                crystals[std::size_t(wy) * width + wx] = 255;
                                break;
                            }
                            wx = nx;
                            wy = ny;
                        }
                    }
        threshold += 0.2;
    }
    setFrostCrustState(crust.state());
}

std::size_t count(const std::vector<uint8_t>& v) {
    std::size_t n = 0;
    for (uint8_t b : v) n += b != 0;
    return n;
}

} // namespace

TEST(FrostSeeding, FillDecidesTheShareOfSeeds) {
    const int w = 1000, h = 1000;
    const auto all = bandMask(w, h, 0, h);
    std::vector<uint8_t> crystals;
    setFrostCrustState(1);
    seedFrostCrystals(all.data(), w, h, 0, crystals);
    // About one selected pixel in two thousand stays a seed at fill 0.
    EXPECT_NEAR(double(count(crystals)) / (w * h), 575.0 / 1048575.0, 0.0002);
    seedFrostCrystals(all.data(), w, h, 100, crystals);
    EXPECT_NEAR(double(count(crystals)) / (w * h), 200575.0 / 1048575.0, 0.005);
}

TEST(FrostSeeding, TheGeneratorRunsOnBetweenRuns) {
    const auto mask = ellipseMask(300, 200, 150, 100, 120, 80);
    std::vector<uint8_t> first, second, again;
    setFrostCrustState(1);
    seedFrostCrystals(mask.data(), 300, 200, 40, first);
    const uint32_t after = frostCrustState();
    EXPECT_NE(after, 1u);
    seedFrostCrystals(mask.data(), 300, 200, 40, second);
    EXPECT_FALSE(sameBytes(first, second));
    setFrostCrustState(1);
    seedFrostCrystals(mask.data(), 300, 200, 40, again);
    EXPECT_TRUE(sameBytes(first, again));
    // Unselected pixels never become seeds; partly selected ones keep their value.
    const auto soft = ellipseMask(300, 200, 150, 100, 120, 80, 128);
    seedFrostCrystals(soft.data(), 300, 200, 100, again);
    for (std::size_t i = 0; i < again.size(); ++i)
        ASSERT_TRUE(again[i] == 0 || (soft[i] == 128 && again[i] == 128));
}

TEST(FrostField, ZeroOnTheSelectionGrowingOutwards) {
    const int w = 200, h = 160;
    const auto mask = ellipseMask(w, h, 100, 80, 40, 30);
    const FrostRect bounds = selectionBounds(mask.data(), w, h);
    EXPECT_EQ(bounds, (FrostRect{60, 50, 141, 111}));
    std::vector<float> field;
    ASSERT_TRUE(buildFrostField(mask.data(), w, h, bounds, 40, field, noHooks()));
    EXPECT_NEAR(field[80 * w + 100], 0.0f, 0.01f);
    // Inside the bounds the value grows towards the corners, away from the selection.
    EXPECT_GT(field[52 * w + 62], field[60 * w + 80]);
    EXPECT_GT(field[60 * w + 80], field[80 * w + 100]);
    // Outside the working region the field is 0.
    EXPECT_EQ(field[0], 0.0f);
    EXPECT_EQ(selectionBounds(std::vector<uint8_t>(100, 0).data(), 10, 10), FrostRect{});
}

class FrostGrowth : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(FrostGrowth, MatchesTheStepByStepWalk) {
    const auto [thickness, branching, fill] = GetParam();
    const int w = 230, h = 170; // not a multiple of the tile size
    const auto mask = ellipseMask(w, h, 90, 70, 50, 35);
    const FrostRect bounds = selectionBounds(mask.data(), w, h);
    std::vector<float> field;
    ASSERT_TRUE(buildFrostField(mask.data(), w, h, bounds, thickness, field, noHooks()));

    setFrostCrustState(1);
    std::vector<uint8_t> seeds;
    seedFrostCrystals(mask.data(), w, h, fill, seeds);
    const uint32_t seeded = frostCrustState();

    std::vector<uint8_t> fast = seeds;
    int rounds = 0;
    FrostHooks hooks;
    hooks.step = [&] { ++rounds; };
    ASSERT_TRUE(growFrostCrystals(field, w, h, thickness, branching, fast, hooks));
    EXPECT_EQ(rounds, 100);
    const uint32_t fastState = frostCrustState();

    setFrostCrustState(seeded);
    std::vector<uint8_t> reference = seeds;
    growReference(field, w, h, thickness, branching, reference);
    EXPECT_EQ(fastState, frostCrustState());
    EXPECT_TRUE(sameBytes(fast, reference));
    if (thickness > 0) {
        EXPECT_GT(count(fast), count(seeds));
    }
}

INSTANTIATE_TEST_SUITE_P(Parameters, FrostGrowth,
                         ::testing::Values(std::tuple{40, 25, 40}, std::tuple{100, 1, 10},
                                           std::tuple{70, 60, 0}, std::tuple{0, 25, 40},
                                           std::tuple{20, 0, 100}));

TEST(FrostGrowth, CancellationStopsAfterARound) {
    const auto mask = ellipseMask(120, 90, 60, 45, 30, 20);
    std::vector<float> field;
    buildFrostField(mask.data(), 120, 90, selectionBounds(mask.data(), 120, 90), 40, field, noHooks());
    std::vector<uint8_t> crystals = mask;
    int rounds = 0;
    FrostHooks hooks;
    hooks.step = [&] { ++rounds; };
    hooks.cancelled = [&] { return rounds >= 3; };
    EXPECT_FALSE(growFrostCrystals(field, 120, 90, 40, 25, crystals, hooks));
    EXPECT_EQ(rounds, 3);
}

TEST(FrostDeposit, OpacityFallsWithTheFieldAndTransparency) {
    const FrostDepositSettings opaque = FrostDepositSettings::from(50, 40, 0, 0xFFE6E6FF);
    EXPECT_NEAR(1.0 - opaque.keep(0.0f), 0.85, 0.01);
    EXPECT_GT(opaque.keep(3.0f), opaque.keep(0.5f));
    const FrostDepositSettings clear = FrostDepositSettings::from(50, 40, 100, 0xFFE6E6FF);
    EXPECT_GE(clear.keep(0.0f), 0.99999);
    EXPECT_GE(clear.keep(std::numeric_limits<float>::infinity()), 0.99999);
}

namespace {

struct DepositCase {
    int width = 40, height = 30;
    std::vector<uint8_t> rgba = std::vector<uint8_t>(40 * 30 * 4, 0);
    std::vector<float> field = std::vector<float>(40 * 30, 0.0f);
    std::vector<uint8_t> crystals = std::vector<uint8_t>(40 * 30, 0);
    std::vector<uint8_t> coverage;
    FrostRect whole{0, 0, 40, 30};

    DepositCase() {
        for (std::size_t i = 0; i < rgba.size(); i += 4) {
            rgba[i] = 40, rgba[i + 1] = 80, rgba[i + 2] = 120, rgba[i + 3] = 255;
        }
    }
    bool deposit(int uniformity, int freeze, int transparency) {
        coverage = crystals;
        return depositFrost<uint8_t>(
            rgba.data(), width * 4, whole, width, height, whole, field, crystals, coverage,
            FrostDepositSettings::from(uniformity, freeze, transparency, 0xFFE6E6FF), noHooks());
    }
};

} // namespace

TEST(FrostDeposit, TransparencyHundredDepositsNothing) {
    DepositCase c;
    c.crystals[10 * 40 + 10] = 255;
    const auto before = c.rgba;
    ASSERT_TRUE(c.deposit(50, 40, 100));
    EXPECT_TRUE(sameBytes(before, c.rgba));
    EXPECT_EQ(count(c.coverage), 1u);
}

TEST(FrostDeposit, FreezeHundredMakesEverySplatThreeByThree) {
    DepositCase c;
    c.crystals[10 * 40 + 10] = 255;
    c.crystals[20 * 40 + 30] = 255;
    ASSERT_TRUE(c.deposit(100, 100, 0));
    EXPECT_EQ(count(c.coverage), 18u);
    for (int y = 9; y <= 11; ++y)
        for (int x = 9; x <= 11; ++x) EXPECT_TRUE(c.coverage[y * 40 + x]);
    // Uniformity 100 gives no jitter: the splat is the frost colour at opacity 0.85 over the source.
    const uint8_t* p = &c.rgba[(10 * 40 + 10) * 4];
    const double a = FrostDepositSettings::from(100, 100, 0, 0xFFE6E6FF).keep(0.0f);
    EXPECT_EQ(p[0], uint8_t(std::floor((1 - a) * 0xE6 + 40 * a + 0.5)));
    EXPECT_EQ(p[2], uint8_t(std::floor((1 - a) * 0xFF + 120 * a + 0.5)));
    EXPECT_EQ(p[3], 255);
}

TEST(FrostDeposit, TransparentPixelsGainAlphaAndTheSameInputGivesTheSameSplats) {
    DepositCase c, d;
    for (std::size_t i = 3; i < c.rgba.size(); i += 4) c.rgba[i] = d.rgba[i] = 0;
    for (int i = 0; i < 40 * 30; i += 7) c.crystals[i] = d.crystals[i] = 255;
    ASSERT_TRUE(c.deposit(30, 40, 0));
    ASSERT_TRUE(d.deposit(30, 40, 0));
    EXPECT_TRUE(sameBytes(c.rgba, d.rgba));
    EXPECT_GT(c.rgba[3], 200);
}

TEST(FrostShading, ShadowDarkensTheLowerRightEdge) {
    DepositCase c;
    std::vector<uint8_t> coverage(40 * 30, 0);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) coverage[y * 40 + x] = 1; // touches the top row and left column
    for (int y = 15; y < 20; ++y)
        for (int x = 15; x < 20; ++x) coverage[y * 40 + x] = 1;
    auto shaded = c.rgba;
    shadeFrost<uint8_t>(shaded.data(), 40 * 4, c.whole, 40, c.whole, coverage, 100);
    EXPECT_EQ(shaded[(15 * 40 + 15) * 4], 0);       // the corner of the inner block
    EXPECT_EQ(shaded[(15 * 40 + 17) * 4], 0);       // its top edge
    EXPECT_EQ(shaded[(17 * 40 + 17) * 4], 40);      // inside: upper-left neighbour covered
    EXPECT_EQ(shaded[(0 * 40 + 5) * 4], 40);        // the top row is never shaded
    EXPECT_EQ(shaded[(5 * 40 + 0) * 4], 40);        // nor the left column
    EXPECT_EQ(shaded[(15 * 40 + 15) * 4 + 3], 255); // alpha untouched
    auto untouched = c.rgba;
    shadeFrost<uint8_t>(untouched.data(), 40 * 4, c.whole, 40, c.whole, coverage, 0);
    EXPECT_TRUE(sameBytes(untouched, c.rgba));
    shadeFrost<uint8_t>(untouched.data(), 40 * 4, c.whole, 40, c.whole, coverage, 50);
    EXPECT_EQ(untouched[(15 * 40 + 15) * 4], 40 * 127 / 255);
}
