#include "CombinerTestUtil.h"

#include "datastorage/DataPyramid.h"
#include "datastorage/RescaleSumming.h"

#include <gtest/gtest.h>

using namespace CombinerTest;

namespace {

Ref<DataChannel> channelOf(int w, int h, const std::vector<uint8_t>& values) {
    auto c = makeRef<DataChannel>(w, h, -1);
    setData(*c, c->bounds(), values.data(), 0);
    return c;
}

struct CountingProgress {
    int total = -1;
    std::atomic<int> steps{0};
    void setTotal(int t) { total = t; }
    void step() { ++steps; }
};

} // namespace

TEST(Coverage, TablesFollowTheScale) {
    const CoverageTable t = coverageTable(3, 2);
    EXPECT_FLOAT_EQ(t.scale, 2.0f / 3.0f);
    EXPECT_EQ(t.target, (std::vector<int>{0, 0, 1}));
    EXPECT_FLOAT_EQ(t.weight[0], 1.0f);
    EXPECT_NEAR(t.weight[1], 0.5f, 1e-6f);
    EXPECT_NEAR(t.weight[2], 1.0f, 1e-6f);
    const CoverageTable half = coverageTable(4, 2);
    EXPECT_EQ(half.target, (std::vector<int>{0, 0, 1, 1}));
    for (float w : half.weight) EXPECT_FLOAT_EQ(w, 1.0f);
    EXPECT_TRUE(coverageTable(0, 5).target.empty());
}

TEST(RescaleSumming, FourByFourToTwoByTwoAveragesBlocks) {
    auto src = channelOf(4, 4, {10, 20, 30, 40, 50, 60, 70, 80, 1, 2, 3, 4, 5, 6, 7, 9});
    auto dst = makeRef<DataChannel>(2, 2, -1);
    ASSERT_TRUE(rescaleSumming<unsigned char>(*src, *dst));
    EXPECT_EQ(dst->value<uint8_t>(0, 0), 35); // (10 + 20 + 50 + 60) / 4
    EXPECT_EQ(dst->value<uint8_t>(1, 0), 55); // (30 + 40 + 70 + 80) / 4
    EXPECT_EQ(dst->value<uint8_t>(0, 1), 4);  // (1 + 2 + 5 + 6) / 4 = 3.5, half away from zero
    EXPECT_EQ(dst->value<uint8_t>(1, 1), 6);  // (3 + 4 + 7 + 9) / 4 = 5.75
}

TEST(RescaleSumming, ThreeToTwoSplitsTheMiddlePixel) {
    auto src = channelOf(3, 1, {90, 30, 240});
    auto dst = makeRef<DataChannel>(2, 1, -1);
    CountingProgress progress;
    ASSERT_TRUE(rescaleSumming<unsigned char>(*src, *dst, &progress, true));
    EXPECT_EQ(dst->value<uint8_t>(0, 0), 70);  // (90 + 15) * 2/3
    EXPECT_EQ(dst->value<uint8_t>(1, 0), 170); // (15 + 240) * 2/3
    EXPECT_EQ(progress.total, 1);
    EXPECT_EQ(progress.steps.load(), 1);
}

TEST(RescaleSumming, UniformSourceFillsWithoutAccumulating) {
    auto src = makeRef<DataChannel>(300, 200, -1);
    const uint8_t v = 77;
    src->fill(&v);
    auto dst = makeRef<DataChannel>(97, 61, -1);
    CountingProgress progress;
    ASSERT_TRUE(rescaleSumming<unsigned char>(*src, *dst, &progress));
    EXPECT_EQ(progress.steps.load(), 0);
    EXPECT_EQ(dst->pooledTileCount(), dst->tileCount());
    EXPECT_EQ(dst->value<uint8_t>(96, 60), 77);
    // Uniform but written element by element (ordinary tiles) counts too.
    auto written = makeRef<DataChannel>(70, 70, -1);
    std::vector<uint8_t> same(70 * 70, 5);
    setData(*written, written->bounds(), same.data(), 0);
    auto small = makeRef<DataChannel>(7, 7, -1);
    ASSERT_TRUE(rescaleSumming<unsigned char>(*written, *small));
    EXPECT_EQ(small->value<uint8_t>(3, 3), 5);
}

TEST(RescaleSumming, AcrossTileBordersTheMeanIsKept) {
    // A large gradient reduced by an odd factor: each destination pixel is its area's mean, whatever
    // tile its source pixels came from.
    const int sw = 301, sh = 211, dw = 97, dh = 68;
    std::vector<uint8_t> values(size_t(sw) * sh);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) values[size_t(y) * sw + x] = uint8_t((x + 2 * y) % 256);
    auto src = channelOf(sw, sh, values);
    auto dst = makeRef<DataChannel>(dw, dh, -1);
    ASSERT_TRUE(rescaleSumming<unsigned char>(*src, *dst));
    // Brute force with the same coverage rule in double precision.
    const CoverageTable tx = coverageTable(sw, dw), ty = coverageTable(sh, dh);
    std::vector<double> sums(size_t(dw) * dh, 0.0);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            const double v = values[size_t(y) * sw + x];
            for (int j = 0; j < 2; ++j)
                for (int i = 0; i < 2; ++i) {
                    const int dx = tx.target[x] + i, dy = ty.target[y] + j;
                    const double wx = i ? 1 - tx.weight[x] : tx.weight[x];
                    const double wy = j ? 1 - ty.weight[y] : ty.weight[y];
                    if (dx < dw && dy < dh) sums[size_t(dy) * dw + dx] += v * wx * wy;
                }
        }
    const std::vector<double> out = samplesOf(*dst);
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_NEAR(out[i] * 255, std::round(sums[i] * tx.scale * ty.scale), 1.0) << i;
}

TEST(RescaleSumming, OtherTypesAndBadInput) {
    auto f = makeRef<DataChannel>(4, 2, -3), fd = makeRef<DataChannel>(2, 1, -3);
    const std::vector<float> fv = {0.0f, 1.0f, 0.5f, 0.5f, 1.0f, 1.0f, 0.25f, 0.75f};
    setData(*f, f->bounds(), fv.data(), 0);
    ASSERT_TRUE(rescaleSummingChannel(*f, *fd, {}));
    EXPECT_NEAR(fd->value<float>(0, 0), 0.75f, 1e-6f);
    EXPECT_NEAR(fd->value<float>(1, 0), 0.5f, 1e-6f);
    auto u8 = makeRef<DataChannel>(4, 4, -1), empty = makeRef<DataChannel>(0, 0, -1);
    EXPECT_FALSE(rescaleSummingChannel(*f, *u8, {}));         // types differ
    EXPECT_FALSE(rescaleSumming<unsigned char>(*f, *fd));     // not 8-bit
    EXPECT_FALSE(rescaleSumming<unsigned char>(*u8, *empty)); // nothing to fill
    EXPECT_FALSE(rescaleSumming<unsigned char>(*empty, *u8));
}

TEST(DataPyramid, LevelsHalveAndAreBuiltOnDemand) {
    auto plane = makeRef<PixelPlane>((1u << 2) | (1u << 3) | (1u << 4) | (1u << 13), TypeU8, SizeI{300, 130});
    Ref<DataChannel> red = plane->writableChannel(2);
    std::vector<uint8_t> values(300 * 130);
    for (size_t i = 0; i < values.size(); ++i) values[i] = uint8_t(i % 200);
    setData(*red, red->bounds(), values.data(), 0);
    DataPyramid pyramid(plane);
    EXPECT_TRUE(pyramid.isOutOfDate());
    EXPECT_EQ(pyramid.levelCount(), 5); // 300, 150, 75, 38, 19
    EXPECT_EQ(pyramid.levelSize(3), (SizeI{38, 17}));
    EXPECT_EQ(pyramid.level(0), plane);
    Ref<PixelPlane> two = pyramid.level(2);
    ASSERT_TRUE(two);
    EXPECT_FALSE(pyramid.isOutOfDate());
    EXPECT_EQ(two->size(), (SizeI{75, 33}));
    EXPECT_EQ(two->channelMask(), plane->channelMask());
    EXPECT_EQ(two->channel(13)->value<uint8_t>(5, 5), 0);
    EXPECT_EQ(pyramid.level(2), two); // kept
    EXPECT_FALSE(pyramid.level(5));
    EXPECT_EQ(pyramid.levelForZoom(1.5), 0);
    EXPECT_EQ(pyramid.levelForZoom(0.5), 1);
    EXPECT_EQ(pyramid.levelForZoom(0.3), 1);
    EXPECT_EQ(pyramid.levelForZoom(0.01), 4);
    bool signalled = false;
    QObject::connect(&pyramid, &DataPyramid::invalidated, [&] { signalled = true; });
    pyramid.invalidate();
    EXPECT_TRUE(signalled);
    EXPECT_TRUE(pyramid.isOutOfDate());
    EXPECT_NE(pyramid.level(2), two); // rebuilt
    DataPyramid none;
    EXPECT_EQ(none.levelCount(), 0);
    EXPECT_FALSE(none.level(0));
}
