#include "CombinerTestUtil.h"

#include "datastorage/HslBlend.h"

#include <gtest/gtest.h>

using namespace CombinerTest;

namespace {

// The non-separable definitions, written plainly in double precision.
struct Rgb {
    double c[3];
};
double lum(const Rgb& x) {
    return 0.3 * x.c[0] + 0.59 * x.c[1] + 0.11 * x.c[2];
}
Rgb clip(Rgb x) {
    const double l = lum(x), n = std::min({x.c[0], x.c[1], x.c[2]}), m = std::max({x.c[0], x.c[1], x.c[2]});
    for (double& v : x.c) {
        if (n < 0) v = l + (v - l) * l / (l - n);
    }
    for (double& v : x.c) {
        if (m > 1) v = l + (v - l) * (1 - l) / (m - l);
    }
    return x;
}
Rgb withLum(Rgb x, double l) {
    const double d = l - lum(x);
    for (double& v : x.c) v += d;
    return clip(x);
}
double sat(const Rgb& x) {
    return std::max({x.c[0], x.c[1], x.c[2]}) - std::min({x.c[0], x.c[1], x.c[2]});
}
Rgb withSat(Rgb x, double s) {
    double* p[3] = {&x.c[0], &x.c[1], &x.c[2]};
    std::sort(p, p + 3, [](double* a, double* b) { return *a < *b; });
    if (*p[2] > *p[0]) {
        *p[1] = (*p[1] - *p[0]) * s / (*p[2] - *p[0]);
        *p[2] = s;
    } else {
        *p[1] = *p[2] = 0;
    }
    *p[0] = 0;
    return x;
}
Rgb reference(HslVariant v, const Rgb& b, const Rgb& s) {
    switch (v) {
    case HslVariant::Hue:
        return withLum(withSat(s, sat(b)), lum(b));
    case HslVariant::Saturation:
        return withLum(withSat(b, sat(s)), lum(b));
    case HslVariant::Color:
        return withLum(s, lum(b));
    case HslVariant::Luminosity:
        return withLum(b, lum(s));
    }
    return b;
}

} // namespace

TEST(HslBlend, FunctionsMatchTheDefinitions) {
    Filler f(42);
    for (HslVariant v : {HslVariant::Hue, HslVariant::Saturation, HslVariant::Color, HslVariant::Luminosity})
        for (int i = 0; i < 2000; ++i) {
            Rgb b{{f.next(), f.next(), f.next()}}, s{{f.next(), f.next(), f.next()}};
            const float bf[3] = {float(b.c[0]), float(b.c[1]), float(b.c[2])};
            const float sf[3] = {float(s.c[0]), float(s.c[1]), float(s.c[2])};
            float r[3];
            hslBlendFunction(v, bf, sf, r);
            const Rgb want = reference(v, b, s);
            for (int k = 0; k < 3; ++k) ASSERT_NEAR(r[k], want.c[k], 2e-5) << int(v) << " " << i;
        }
}

TEST(HslBlend, CompositesOverChannelTriples) {
    const int w = 80, h = 70;
    for (int32_t t : {-1, -2, -3}) {
        Filler f(7);
        Ref<DataChannel> b[3], s[3], d[3];
        for (int k = 0; k < 3; ++k) {
            b[k] = makeRef<DataChannel>(w, h, t), s[k] = makeRef<DataChannel>(w, h, t);
            d[k] = makeRef<DataChannel>(w, h, -3);
            f.fillRandom(*b[k], 0, 0, w, h);
            f.fillRandom(*s[k], 0, 0, w, h);
        }
        auto ab = makeRef<DataChannel>(w, h, t), as = makeRef<DataChannel>(w, h, -1);
        f.fillRandom(*ab, 0, 0, w, h);
        f.fillRandom(*as, 0, 0, w, h);
        f.fillSolid(*as, RectI{0, 0, 64, 64}, 0.0);
        DataChannel* dst[3] = {d[0].get(), d[1].get(), d[2].get()};
        const DataChannel* back[3] = {b[0].get(), b[1].get(), b[2].get()};
        const DataChannel* src[3] = {s[0].get(), s[1].get(), s[2].get()};
        applyHslBlend(HslVariant::Color, 0.9f, dst, back, *ab, src, *as);
        std::vector<double> bv[3], sv[3], dv[3];
        for (int k = 0; k < 3; ++k)
            bv[k] = samplesOf(*b[k]), sv[k] = samplesOf(*s[k]), dv[k] = samplesOf(*d[k]);
        const std::vector<double> abv = samplesOf(*ab), asv = samplesOf(*as);
        for (size_t i = 0; i < abv.size(); ++i) {
            const Rgb bb{{bv[0][i], bv[1][i], bv[2][i]}}, ss{{sv[0][i], sv[1][i], sv[2][i]}};
            const Rgb mixed = reference(HslVariant::Color, bb, ss);
            const double alphaS = asv[i] * double(0.9f), alphaB = abv[i];
            const double ar = alphaB + alphaS - alphaB * alphaS;
            for (int k = 0; k < 3; ++k) {
                const double co = ss.c[k] * alphaS * (1 - alphaB) + bb.c[k] * alphaB * (1 - alphaS) +
                                  alphaB * alphaS * mixed.c[k];
                ASSERT_NEAR(dv[k][i], ar == 0 ? bb.c[k] : co / ar, 1e-4) << t << " " << i;
            }
        }
    }
}
