#include "document/filters/common/Bilinear.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace Orvex::Document::Filters::Common;

TEST(Bilinear, InterpolatesInsideAndClampsAtTheBorders) {
    // value = 10 x + y over 4 x 3
    const int w = 4, h = 3;
    std::vector<float> img(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img[y * w + x] = 10.0f * x + y;
    EXPECT_FLOAT_EQ(sampleBilinear(img.data(), w, w, h, 1.5f, 0.25f), 15.25f);
    EXPECT_FLOAT_EQ(sampleBilinear(img.data(), w, w, h, 0.0f, 0.0f), 0.0f);
    // Positions are limited to size - 1.01, so the far edge reads just inside it.
    EXPECT_NEAR(sampleBilinear(img.data(), w, w, h, 99.0f, 99.0f), 10.0f * 2.99f + 1.99f, 1e-4f);
    EXPECT_NEAR(sampleBilinear(img.data(), w, w, h, 3.0f, 2.0f), 10.0f * 2.99f + 1.99f, 1e-4f);
    EXPECT_FLOAT_EQ(sampleBilinear(img.data(), w, w, h, -5.0f, NAN), 0.0f);
    EXPECT_FLOAT_EQ(clampSamplePosition(-0.5f, 10), 0.0f);
    EXPECT_FLOAT_EQ(clampSamplePosition(20.0f, 10), 8.99f);
}

TEST(Bilinear, SingleRowsAndColumnsDegrade) {
    std::vector<float> row = {1.0f, 3.0f, 5.0f};
    EXPECT_FLOAT_EQ(sampleBilinear(row.data(), 3, 3, 1, 0.5f, 0.7f), 2.0f); // linear along x
    EXPECT_FLOAT_EQ(sampleBilinear(row.data(), 1, 1, 3, 0.3f, 1.5f), 4.0f); // a column
    std::vector<float> one = {7.0f};
    EXPECT_FLOAT_EQ(sampleBilinear(one.data(), 1, 1, 1, 0.9f, 0.9f), 7.0f); // nearest
    EXPECT_FLOAT_EQ(sampleBilinear(nullptr, 1, 0, 0, 0.0f, 0.0f), 0.0f);
}

TEST(Bilinear, StrideIsHonoured) {
    const int w = 2, h = 2, stride = 5;
    std::vector<float> img(stride * h, 100.0f);
    img[0] = 0, img[1] = 1, img[stride] = 2, img[stride + 1] = 3;
    EXPECT_FLOAT_EQ(sampleBilinear(img.data(), stride, w, h, 0.5f, 0.5f), 1.5f);
}
