#include "document/filters/common/BoxGaussian.h"
#include "document/filters/common/RecursiveGaussian.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using namespace Orvex::Document::Filters::Common;

namespace {

struct Moments {
    double mass = 0, mean = 0, variance = 0;
};

Moments momentsOf(const std::vector<float>& v, int step = 1, int count = -1, int offset = 0) {
    if (count < 0) count = int(v.size());
    Moments m;
    for (int i = 0; i < count; ++i) {
        m.mass += v[offset + i * step];
        m.mean += i * double(v[offset + i * step]);
    }
    m.mean /= m.mass;
    for (int i = 0; i < count; ++i) m.variance += (i - m.mean) * (i - m.mean) * v[offset + i * step];
    m.variance /= m.mass;
    return m;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

} // namespace

TEST(BoxMixture, ParametersForSigmaTwo) {
    BoxMixture m;
    ASSERT_TRUE(BoxMixture::forSigma(2.0, 3, m));
    EXPECT_EQ(m.width, 4); // boxes of 3 and 5
    EXPECT_DOUBLE_EQ(m.weight, 0.5);
    EXPECT_NEAR(m.variance(), 4.0 / 3.0, 1e-12);
}

TEST(BoxMixture, EachPassHasAThirdOfTheVariance) {
    const int n = 1201;
    for (double sigma : {0.3, 0.8, 1.0, 2.0, 3.7, 10.0, 25.0, 50.0}) {
        SCOPED_TRACE(sigma);
        BoxMixture m;
        ASSERT_TRUE(BoxMixture::forSigma(sigma, 3, m));
        EXPECT_EQ(m.width % 2, 0);
        EXPECT_GE(m.weight, 0.0);
        EXPECT_LE(m.weight, 1.0);
        std::vector<float> impulse(n, 0.0f), once(n), twice(n), thrice(n);
        impulse[n / 2] = 1.0f;
        boxMixturePass(impulse.data(), 1, once.data(), 1, n, m);
        boxMixturePass(once.data(), 1, twice.data(), 1, n, m);
        boxMixturePass(twice.data(), 1, thrice.data(), 1, n, m);
        const Moments one = momentsOf(once), three = momentsOf(thrice);
        EXPECT_NEAR(one.mass, 1.0, 1e-5);
        EXPECT_NEAR(one.mean, n / 2, 1e-4);
        EXPECT_NEAR(one.variance, sigma * sigma / 3.0, 1e-4 * (1 + sigma * sigma));
        EXPECT_NEAR(three.mass, 1.0, 1e-5);
        EXPECT_NEAR(three.variance, sigma * sigma, 1e-4 * (1 + sigma * sigma));
    }
}

TEST(BoxGaussian, TwoDimensionalImpulseHasTheVariancePerAxis) {
    const int w = 301, h = 241;
    std::vector<float> img(w * h, 0.0f);
    img[(h / 2) * w + w / 2] = 1.0f;
    boxGaussianBlur(img.data(), w, h, 6.0, 11.0);
    const Moments row = [&] {
        std::vector<float> sums(w, 0.0f);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) sums[x] += img[y * w + x];
        return momentsOf(sums);
    }();
    const Moments col = [&] {
        std::vector<float> sums(h, 0.0f);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) sums[y] += img[y * w + x];
        return momentsOf(sums);
    }();
    EXPECT_NEAR(row.mass, 1.0, 1e-4);
    EXPECT_NEAR(row.variance, 36.0, 0.01);
    EXPECT_NEAR(col.variance, 121.0, 0.02);
    // Symmetric about the impulse.
    EXPECT_NEAR(img[(h / 2) * w + w / 2 - 5], img[(h / 2) * w + w / 2 + 5], 1e-7);
}

TEST(BoxGaussian, BordersRepeatSoConstantsStayConstant) {
    const int w = 70, h = 9; // taller kernels than the image
    std::vector<float> img(w * h, 0.625f);
    boxGaussianBlur(img.data(), w, h, 40.0, 40.0);
    for (float v : img) ASSERT_NEAR(v, 0.625f, 1e-6f);
}

TEST(BoxGaussian, InPlaceEqualsOutOfPlaceWithStrides) {
    const int w = 77, h = 53, stride = 80;
    std::vector<float> src(stride * h);
    for (int i = 0; i < stride * h; ++i) src[i] = float((i * 7919) % 1000) / 1000.0f;
    std::vector<float> dst(stride * h, -1.0f), inPlace = src;
    boxGaussianBlur(src.data(), stride, dst.data(), stride, w, h, 3.0, 5.0);
    boxGaussianBlur(inPlace.data(), stride, inPlace.data(), stride, w, h, 3.0, 5.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(dst[y * stride + x], inPlace[y * stride + x]);
    EXPECT_EQ(dst[w], -1.0f); // padding beyond the width untouched
}

TEST(BoxGaussian, DegenerateSigmasCopyOrFilterOneAxis) {
    const int w = 40, h = 30;
    std::vector<float> src(w * h);
    for (int i = 0; i < w * h; ++i) src[i] = float(i % 13) / 13.0f;
    for (double bad : {0.0, -0.0, 1e-7, -3.0, kNaN, kInf, -kInf}) {
        // A negative sigma counts by its magnitude; everything else tiny or non-finite is a copy.
        std::vector<float> dst(w * h, 9.0f);
        boxGaussianBlur(src.data(), w, dst.data(), w, w, h, bad, bad);
        if (bad == -3.0) {
            std::vector<float> ref(w * h);
            boxGaussianBlur(src.data(), w, ref.data(), w, w, h, 3.0, 3.0);
            EXPECT_EQ(dst, ref);
        } else {
            EXPECT_EQ(dst, src) << bad;
        }
    }
    // Only y filtered: every column's mean is kept and rows mix.
    std::vector<float> dst(w * h);
    boxGaussianBlur(src.data(), w, dst.data(), w, w, h, 0.0, 2.0);
    for (int x = 0; x < w; ++x) {
        double a = 0, b = 0;
        for (int y = 0; y < h; ++y) a += src[y * w + x], b += dst[y * w + x];
        EXPECT_NEAR(a, b, 0.2); // borders repeat, so the mass is only nearly kept
    }
}

TEST(BoxGaussian, NonFiniteSamplesAndHugeSigmaDoNotHang) {
    std::vector<float> img(64 * 64, 0.5f);
    img[100] = std::numeric_limits<float>::quiet_NaN();
    img[200] = std::numeric_limits<float>::infinity();
    boxGaussianBlur(img.data(), 64, 64, 1e30, 5.0);
    boxGaussianBlur(img.data(), 64, 64, 2.0, 2.0);
    boxGaussianBlur(nullptr, 64, 64, 2.0, 2.0);
    boxGaussianBlur(img.data(), 0, 64, 2.0, 2.0);
    SUCCEED();
}

TEST(RecursiveGaussian, CloseToATrueGaussian) {
    for (double sigma : {0.5, 1.0, 2.0, 2.5, 5.0, 10.0, 20.0, 50.0}) {
        SCOPED_TRACE(sigma);
        const int n = int(sigma * 24) + 101;
        std::vector<float> line(n, 0.0f);
        line[n / 2] = 1.0f;
        YoungVanVliet c;
        ASSERT_TRUE(YoungVanVliet::forSigma(sigma, c));
        EXPECT_NEAR(c.B0 + c.b1 + c.b2 + c.b3, 1.0, 1e-12);
        recursiveGaussianLine(line.data(), 1, n, c);
        const Moments m = momentsOf(line);
        EXPECT_NEAR(m.mass, 1.0, 1e-4);
        EXPECT_NEAR(m.mean, n / 2, 1e-3 * sigma);
        // This third-order approximation runs wide of the requested sigma: by about a fifth below
        // sigma 2.5, by 5 to 10 % above.
        EXPECT_NEAR(std::sqrt(m.variance), sigma, (sigma < 2.5 ? 0.25 : 0.12) * sigma);
        EXPECT_GT(std::sqrt(m.variance), sigma);
        // Pointwise against the sampled continuous Gaussian, relative to its peak.
        const double peak = 1.0 / (std::sqrt(2 * M_PI) * sigma);
        double worst = 0;
        for (int i = 0; i < n; ++i) {
            const double d = i - n / 2;
            const double g = std::exp(-d * d / (2 * sigma * sigma)) * peak;
            worst = std::max(worst, std::fabs(line[i] - g));
        }
        EXPECT_LT(worst, (sigma < 4.0 ? 0.1 : 0.04) * peak);
    }
}

TEST(RecursiveGaussian, ConstantsAreKeptAndShortLinesSurvive) {
    YoungVanVliet c;
    ASSERT_TRUE(YoungVanVliet::forSigma(7.0, c));
    for (int n : {1, 2, 3, 4, 5, 100}) {
        std::vector<float> line(n, 0.25f);
        recursiveGaussianLine(line.data(), 1, n, c);
        for (float v : line) EXPECT_NEAR(v, 0.25f, 1e-6f) << n;
    }
    std::vector<float> img(50 * 20, 0.75f);
    recursiveGaussianBlur(img.data(), 50, 50, 20, 3.0, 30.0);
    for (float v : img) ASSERT_NEAR(v, 0.75f, 1e-5f);
}

TEST(RecursiveGaussian, RowsThenColumnsMatchesLineByLine) {
    const int w = 45, h = 37;
    std::vector<float> img(w * h);
    for (int i = 0; i < w * h; ++i) img[i] = float((i * 31) % 17) / 17.0f;
    std::vector<float> ref = img;
    YoungVanVliet cx, cy;
    YoungVanVliet::forSigma(1.5, cx);
    YoungVanVliet::forSigma(4.0, cy);
    for (int y = 0; y < h; ++y) recursiveGaussianLine(ref.data() + y * w, 1, w, cx);
    for (int x = 0; x < w; ++x) recursiveGaussianLine(ref.data() + x, w, h, cy);
    std::vector<float> serial = img;
    recursiveGaussianBlur(img.data(), w, w, h, 1.5, 4.0);
    // The same arithmetic whichever way the lines are grouped (and whatever vector unit runs it).
    for (int i = 0; i < w * h; ++i) ASSERT_EQ(img[i], ref[i]) << i;
    // The serial form on a part of a larger buffer touches nothing outside it.
    std::vector<float> big(std::size_t(w + 9) * (h + 4), -1.0f);
    for (int y = 0; y < h; ++y)
        std::copy(&serial[std::size_t(y) * w], &serial[std::size_t(y) * w] + w,
                  &big[std::size_t(y + 2) * (w + 9) + 3]);
    std::vector<double> scratch;
    recursiveGaussianBlurSerial(&big[2 * (w + 9) + 3], w + 9, w, h, 1.5, 4.0, scratch);
    for (int y = 0; y < h + 4; ++y)
        for (int x = 0; x < w + 9; ++x) {
            const float v = big[std::size_t(y) * (w + 9) + x];
            if (y >= 2 && y < h + 2 && x >= 3 && x < w + 3)
                ASSERT_EQ(v, ref[std::size_t(y - 2) * w + (x - 3)]) << x << "," << y;
            else
                ASSERT_EQ(v, -1.0f) << x << "," << y;
        }
}

TEST(RecursiveGaussian, BadSigmasLeaveTheData) {
    std::vector<float> img(30 * 30);
    for (int i = 0; i < 900; ++i) img[i] = float(i % 7);
    const std::vector<float> before = img;
    for (double bad : {0.0, -1.0, kNaN, kInf, -kInf}) {
        recursiveGaussianBlur(img.data(), 30, 30, 30, bad, bad);
        EXPECT_EQ(img, before);
    }
    recursiveGaussianBlur(img.data(), 30, 30, 30, 1e300, 1e300); // huge but finite: no hang
    recursiveGaussianBlur(nullptr, 30, 30, 30, 2.0, 2.0);
}
