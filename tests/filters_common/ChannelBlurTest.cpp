#include "document/filters/common/ChannelBlur.h"
#include "document/filters/common/BoxGaussian.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace Orvex;
using namespace Orvex::DataStorage;
using namespace Orvex::Document::Filters::Common;

TEST(ChannelBlur, MatchesTheBufferBlurOverTheGrownRegion) {
    const int w = 200, h = 150;
    auto src = makeRef<DataChannel>(w, h, -3), dst = makeRef<DataChannel>(w, h, -3);
    std::vector<float> values(w * h, 0.0f);
    for (int y = 60; y < 80; ++y)
        for (int x = 90; x < 100; ++x) values[y * w + x] = 1.0f;
    setData(*src, src->bounds(), values.data(), 0);
    const RectI region{90, 60, 100, 80};
    EXPECT_EQ(boxGaussianMargin(2.0), 6); // boxes of 3 and 5: three radii of 2
    const RectI written = boxGaussianBlurChannel(*src, *dst, region, 2.0, 2.0);
    EXPECT_EQ(written, (RectI{84, 54, 106, 86}));
    // Same as blurring the grown area as a buffer.
    std::vector<float> area(written.width() * written.height());
    getData(*src, written, area.data(), 0);
    boxGaussianBlur(area.data(), written.width(), written.height(), 2.0, 2.0);
    std::vector<float> out(area.size());
    getData(*dst, written, out.data(), 0);
    EXPECT_EQ(out, area);
    double mass = 0;
    for (float v : out) mass += v;
    EXPECT_NEAR(mass, 200.0, 0.5);              // the streak spreads without losing (more than its far tail)
    EXPECT_EQ(dst->value<float>(83, 70), 0.0f); // outside the grown region untouched
}

TEST(ChannelBlur, IntegerChannelsInPlaceAndDegenerateInput) {
    auto c = makeRef<DataChannel>(100, 100, -1);
    const uint8_t v = 200;
    c->fill(RectI{0, 0, 50, 100}, &v);
    boxGaussianBlurChannel(*c, *c, c->bounds(), 3.0, 0.0);
    EXPECT_EQ(c->value<uint8_t>(10, 10), 200);
    EXPECT_EQ(c->value<uint8_t>(90, 10), 0);
    const int edge = c->value<uint8_t>(49, 10) + c->value<uint8_t>(50, 10);
    EXPECT_NEAR(edge, 200, 1);                                       // symmetric around the step
    EXPECT_EQ(c->value<uint8_t>(49, 10), c->value<uint8_t>(49, 90)); // rows untouched by sigma y = 0

    auto copy = makeRef<DataChannel>(100, 100, -1);
    const RectI r = boxGaussianBlurChannel(*c, *copy, RectI{10, 10, 20, 20}, 0.0, -1.0);
    EXPECT_EQ(r, (RectI{10, 10, 20, 20}));
    EXPECT_EQ(copy->value<uint8_t>(15, 15), c->value<uint8_t>(15, 15));
    EXPECT_EQ(copy->value<uint8_t>(25, 15), 0);
    auto other = makeRef<DataChannel>(100, 100, -2), small = makeRef<DataChannel>(10, 10, -1);
    EXPECT_TRUE(boxGaussianBlurChannel(*c, *other, c->bounds(), 2, 2).isEmpty());
    EXPECT_TRUE(boxGaussianBlurChannel(*c, *small, c->bounds(), 2, 2).isEmpty());
    EXPECT_TRUE(boxGaussianBlurChannel(*c, *c, RectI{5, 5, 5, 9}, 2, 2).isEmpty());
    boxGaussianBlurChannel(*c, *c, c->bounds(), std::numeric_limits<double>::quiet_NaN(), 1e300);
}
