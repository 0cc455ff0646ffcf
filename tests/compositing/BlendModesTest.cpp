#include "CombinerTestUtil.h"

#include "datastorage/BlendModes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace CombinerTest;

namespace {

// ---- the reference, written from the definitions in double precision ---------------------------

double referenceB(BlendFunction f, double cb, double cs) {
    auto clamp01 = [](double v) { return std::min(1.0, std::max(0.0, v)); };
    switch (f) {
    case BlendFunction::Normal:
        return cs;
    case BlendFunction::Multiply:
        return cb * cs;
    case BlendFunction::Screen:
        return cb + cs - cb * cs;
    case BlendFunction::Overlay:
        return cb <= 0.5 ? 2 * cs * cb : 1 - 2 * (1 - cs) * (1 - cb);
    case BlendFunction::HardLight:
        return cs <= 0.5 ? 2 * cb * cs : 1 - 2 * (1 - cb) * (1 - cs);
    case BlendFunction::SoftLight: {
        const double d = cb <= 0.25 ? ((16 * cb - 12) * cb + 4) * cb : std::sqrt(cb);
        return cs <= 0.5 ? cb - (1 - 2 * cs) * cb * (1 - cb) : cb + (2 * cs - 1) * (d - cb);
    }
    case BlendFunction::Darken:
        return std::min(cb, cs);
    case BlendFunction::Lighten:
        return std::max(cb, cs);
    case BlendFunction::ColorDodge:
        return cs < 1 ? std::min(1.0, cb / (1 - cs)) : (cb > 0 ? 1 : 0);
    case BlendFunction::ColorBurn:
        return cs > 0 ? 1 - std::min(1.0, (1 - cb) / cs) : (cb == 1 ? 1 : 0);
    case BlendFunction::Difference:
        return std::fabs(cb - cs);
    case BlendFunction::Exclusion:
        return cb + cs - 2 * cb * cs;
    case BlendFunction::LinearBurn:
        return clamp01(cb + cs - 1);
    case BlendFunction::Plus:
        return std::min(1.0, cb + cs);
    case BlendFunction::PlusAB:
        return clamp01(cb + cs - 0.5);
    case BlendFunction::Subtract:
        return cs < cb ? cb - cs : 0;
    case BlendFunction::Divide:
        return cb >= cs ? 1 : cb / cs;
    case BlendFunction::LinearLight:
        return clamp01(cb + 2 * cs - 1);
    case BlendFunction::VividLight: {
        double v;
        if (cs >= 1)
            v = 1;
        else if (cs <= 0)
            v = 0;
        else if (cs > 0.5)
            v = std::min(1.0, cb / (1 - 2 * (cs - 0.5)));
        else
            v = std::max(0.0, 1 - (1 - cb) / (2 * cs));
        return clamp01(v);
    }
    case BlendFunction::PinLight:
        return clamp01(cs > 0.5 ? std::max(2 * (cs - 0.5), cb) : std::min(2 * cs, cb));
    case BlendFunction::HardMix:
        return cb > 1 - cs ? 1 : 0;
    case BlendFunction::PlusNoClip:
        return 0; // not used: the premultiplied sum below
    }
    return 0;
}

// Normalised destination value of one element.
double referenceComposite(BlendFunction f, double cb, double ab, double cs, double as, double opacity) {
    as *= opacity;
    const double ar = ab + as - ab * as;
    if (ar == 0) return cb;
    double co;
    if (f == BlendFunction::PlusNoClip)
        co = std::min(1.0, cb * ab + cs * as);
    else
        co = cs * as * (1 - ab) + cb * ab * (1 - as) + ab * as * referenceB(f, cb, cs);
    return co / ar;
}

const BlendFunction kAllFunctions[] = {
    BlendFunction::Normal,      BlendFunction::Darken,     BlendFunction::Multiply,
    BlendFunction::ColorBurn,   BlendFunction::LinearBurn, BlendFunction::Lighten,
    BlendFunction::Screen,      BlendFunction::ColorDodge, BlendFunction::Plus,
    BlendFunction::Overlay,     BlendFunction::SoftLight,  BlendFunction::HardLight,
    BlendFunction::LinearLight, BlendFunction::VividLight, BlendFunction::PinLight,
    BlendFunction::HardMix,     BlendFunction::Difference, BlendFunction::Exclusion,
    BlendFunction::Subtract,    BlendFunction::Divide,     BlendFunction::PlusAB,
    BlendFunction::PlusNoClip,
};
const int32_t kTypes[] = {-1, -2, -3};

// Whether `actual` (raw units of `type`) matches the reference near (cb, cs): the kernels compute in
// single precision, so a point right on a step of a blend function may fall to either side of it.
bool matches(BlendFunction f, int32_t type, double actual, double cb, double ab, double cs, double as,
             double opacity) {
    const double tolerance = type == -3 ? 2e-5 : 1.0;
    const double eps = 1e-6;
    const double probes[5][2] = {{cb, cs}, {cb + eps, cs}, {cb - eps, cs}, {cb, cs + eps}, {cb, cs - eps}};
    for (const auto& p : probes) {
        const double expected = storedOf(type, referenceComposite(f, p[0], ab, p[1], as, opacity));
        if (std::fabs(actual - expected) <=
            tolerance * (type == -3 ? std::max(1.0, std::fabs(expected)) : 1.0))
            return true;
    }
    return false;
}

struct BlendInputs {
    Ref<DataChannel> cb, ab, cs, as;
};

// 114 x 70: blocks 64 wide (vector path) and 50 wide (scalar path); rows 64 and 6 high. The tiles
// of the first tile column carry the special cases: tile (0, 0) source alpha solid 0 (skipped),
// tile (0, 1) every input solid (one value for the tile), the rest random with boundary values.
BlendInputs makeInputs(int32_t tb, int32_t ts, int32_t tsa, uint32_t seed) {
    const int w = 114, h = 70;
    BlendInputs in{makeRef<DataChannel>(w, h, tb), makeRef<DataChannel>(w, h, tb),
                   makeRef<DataChannel>(w, h, ts), makeRef<DataChannel>(w, h, tsa)};
    Filler filler(seed);
    for (DataChannel* c : {in.cb.get(), in.ab.get(), in.cs.get(), in.as.get()})
        filler.fillRandom(*c, 0, 0, w, h);
    filler.fillSolid(*in.as, RectI{0, 0, 64, 64}, 0.0);
    filler.fillSolid(*in.cb, RectI{0, 64, 64, 70}, 0.25);
    filler.fillSolid(*in.ab, RectI{0, 64, 64, 70}, 0.5);
    filler.fillSolid(*in.cs, RectI{0, 64, 64, 70}, 0.75);
    filler.fillSolid(*in.as, RectI{0, 64, 64, 70}, 1.0);
    // Backdrop transparent over part of the second tile column.
    filler.fillSolid(*in.ab, RectI{64, 0, 114, 10}, 0.0);
    return in;
}

int countMismatches(BlendFunction f, const DataChannel& dst, const BlendInputs& in, double opacity, int limit,
                    std::string& first) {
    const std::vector<double> cbs = samplesOf(*in.cb), abs = samplesOf(*in.ab), css = samplesOf(*in.cs),
                              ass = samplesOf(*in.as), out = samplesOf(dst);
    const double scale = maxOf(dst.type());
    int bad = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double actual = out[i] * scale;
        if (matches(f, dst.type(), actual, cbs[i], abs[i], css[i], ass[i], opacity)) continue;
        if (bad == 0)
            first = "at " + std::to_string(i % dst.width()) + "," + std::to_string(i / dst.width()) +
                    " cb=" + std::to_string(cbs[i]) + " ab=" + std::to_string(abs[i]) +
                    " cs=" + std::to_string(css[i]) + " as=" + std::to_string(ass[i]) + " got " +
                    std::to_string(actual) + " expected " +
                    std::to_string(
                        storedOf(dst.type(), referenceComposite(f, cbs[i], abs[i], css[i], ass[i], opacity)));
        if (++bad >= limit) break;
    }
    return bad;
}

} // namespace

TEST(BlendMembers, EveryFunctionAndTypeCombinationMatchesTheReference) {
    uint32_t seed = 1;
    for (BlendFunction f : kAllFunctions)
        for (int32_t td : kTypes)
            for (int32_t tb : kTypes)
                for (int32_t ts : kTypes)
                    for (int32_t tsa : kTypes) {
                        SCOPED_TRACE(::testing::Message() << "function " << int(f) << " types " << td << " "
                                                          << tb << " " << ts << " " << tsa);
                        const BlendInputs in = makeInputs(tb, ts, tsa, seed++);
                        Ref<BaseDataProcessing> member = createBlendMember(f, td, tb, ts, tsa);
                        ASSERT_TRUE(member);
                        EXPECT_EQ(member->arity(), 5);
                        EXPECT_EQ(member->argumentType(0), td);
                        EXPECT_EQ(member->argumentType(2), tb);
                        EXPECT_EQ(member->argumentType(4), tsa);
                        EXPECT_EQ(member->argumentType(5), 0);
                        const double opacity = (seed % 3 == 0) ? 0.6 : 1.0;
                        member->setOpacity(float(opacity));
                        auto dst = makeRef<DataChannel>(in.cb->width(), in.cb->height(), td);
                        apply(*member, *dst, *in.cb, *in.ab, *in.cs, *in.as);
                        std::string first;
                        EXPECT_EQ(countMismatches(f, *dst, in, float(opacity), 5, first), 0) << first;
                    }
}

TEST(BlendMembers, InPlaceOnTheBackdropEqualsAFreshDestination) {
    for (int32_t t : kTypes) {
        const BlendInputs in = makeInputs(t, t, t, 77);
        Ref<BaseDataProcessing> member = createBlendMember(BlendFunction::Overlay, t, t, t, t);
        auto fresh = makeRef<DataChannel>(in.cb->width(), in.cb->height(), t);
        apply(*member, *fresh, *in.cb, *in.ab, *in.cs, *in.as);
        apply(*member, *in.cb, *in.cb, *in.ab, *in.cs, *in.as);
        EXPECT_EQ(samplesOf(*fresh), samplesOf(*in.cb)) << t;
    }
}

TEST(BlendMembers, VectorAndScalarPathsAreIdentical) {
    ASSERT_TRUE(vectorKernelsAvailable());
    for (BlendFunction f : kAllFunctions)
        for (int32_t t : kTypes) {
            const BlendInputs in = makeInputs(t, t, -1, 5 + int(f));
            Ref<BaseDataProcessing> member = createBlendMember(f, t, t, t, -1);
            member->setOpacity(0.8f);
            auto vector = makeRef<DataChannel>(in.cb->width(), in.cb->height(), t);
            auto scalar = makeRef<DataChannel>(in.cb->width(), in.cb->height(), t);
            apply(*member, *vector, *in.cb, *in.ab, *in.cs, *in.as);
            setVectorKernelsEnabled(false);
            EXPECT_FALSE(useVectorPath(64));
            apply(*member, *scalar, *in.cb, *in.ab, *in.cs, *in.as);
            setVectorKernelsEnabled(true);
            std::vector<unsigned char> a(size_t(vector->width()) * vector->height() * vector->elementSize()),
                b(a.size());
            getData(*vector, vector->bounds(), a.data(), 0);
            getData(*scalar, scalar->bounds(), b.data(), 0);
            EXPECT_EQ(a, b) << int(f) << " " << t;
        }
}

TEST(BlendMembers, KernelPathChoiceByBlockWidth) {
    EXPECT_TRUE(useVectorPath(48));
    EXPECT_TRUE(useVectorPath(16));
    EXPECT_FALSE(useVectorPath(50));
    EXPECT_FALSE(useVectorPath(8));
    EXPECT_FALSE(useVectorPath(0));
    // A rectangle 48 wide and one 50 wide give the same values as the reference.
    const BlendInputs in = makeInputs(-1, -1, -1, 99);
    Ref<BaseDataProcessing> member = createBlendMember(BlendFunction::SoftLight, -1, -1, -1, -1);
    for (RectI r : {RectI{64, 3, 112, 40}, RectI{64, 3, 114, 40}}) {
        auto dst = makeRef<DataChannel>(in.cb->width(), in.cb->height(), -1);
        applyIn(*member, r, *dst, *in.cb, *in.ab, *in.cs, *in.as);
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                ASSERT_TRUE(matches(BlendFunction::SoftLight, -1, rawAt(*dst, x, y), sampleAt(*in.cb, x, y),
                                    sampleAt(*in.ab, x, y), sampleAt(*in.cs, x, y), sampleAt(*in.as, x, y),
                                    1.0));
        EXPECT_EQ(dst->value<uint8_t>(r.left - 1, r.top), 0); // outside the rectangle untouched
        EXPECT_EQ(dst->value<uint8_t>(r.left, r.top - 1), 0);
    }
}

TEST(BlendMembers, DefinedEdgeCases) {
    auto channel = [](int32_t t, double v) {
        auto c = makeRef<DataChannel>(64, 1, t);
        Filler(1).fillSolid(*c, c->bounds(), v);
        return c;
    };
    // Overlay of opaque mid-grey leaves an opaque backdrop unchanged on both sides of one half.
    for (int v : {0, 40, 127, 128, 200, 255}) {
        auto cb = makeRef<DataChannel>(64, 1, -1);
        const uint8_t value = uint8_t(v);
        cb->fill(&value);
        auto opaque = channel(-1, 1.0), grey = channel(-1, 128.0 / 255.0), dst = channel(-1, 0.0);
        Ref<BaseDataProcessing> overlay = createBlendMode(BlendModeCode::Overlay, -1, -1, -1, -1);
        apply(*overlay, *dst, *cb, *opaque, *grey, *opaque);
        EXPECT_NEAR(dst->value<uint8_t>(5, 0), v, 1) << v;
    }
    // Exactly one half: the float overlay of Cs = 0.5 gives Cb, and 0.5 rounds half up to 128.
    {
        auto cb = channel(-3, 0.5), opaque = channel(-3, 1.0), half = channel(-3, 0.5);
        auto dst = channel(-1, 0.0);
        apply(*createBlendMode(BlendModeCode::Overlay, -1, -3, -3, -3), *dst, *cb, *opaque, *half, *opaque);
        EXPECT_EQ(dst->value<uint8_t>(0, 0), 128);
    }
    // A transparent backdrop yields the source colour; a transparent source the backdrop.
    for (int code : {2, 11, 21, 30, 43}) {
        auto cb = channel(-2, 0.3), cs = channel(-2, 0.8), zero = channel(-2, 0.0), one = channel(-2, 1.0);
        auto dst = channel(-2, 0.0);
        Ref<BaseDataProcessing> m = createBlendMode(code, -2, -2, -2, -2);
        apply(*m, *dst, *cb, *zero, *cs, *one);
        EXPECT_EQ(dst->value<uint16_t>(3, 0), uint16_t(std::lround(0.8 * 65535))) << code;
        apply(*m, *dst, *cb, *one, *cs, *zero);
        EXPECT_EQ(dst->value<uint16_t>(3, 0), uint16_t(std::lround(0.3 * 65535))) << code;
    }
}

TEST(BlendMembers, SkippedAndSolidTilesCostNoSampleMemory) {
    const int w = 256, h = 256;
    auto cb = makeRef<DataChannel>(w, h, -1), ab = makeRef<DataChannel>(w, h, -1);
    auto cs = makeRef<DataChannel>(w, h, -1), as = makeRef<DataChannel>(w, h, -1);
    Filler f(3);
    f.fillSolid(*cb, cb->bounds(), 0.2);
    f.fillSolid(*ab, ab->bounds(), 1.0);
    f.fillSolid(*cs, cs->bounds(), 0.9);
    f.fillSolid(*as, RectI{0, 0, 128, 256}, 0.5); // left half solid half-transparent, right half 0
    Ref<BaseDataProcessing> m = createBlendMode(BlendModeCode::Screen, -1, -1, -1, -1);
    apply(*m, *cb, *cb, *ab, *cs, *as);
    EXPECT_EQ(cb->pooledTileCount(), cb->tileCount()); // every tile solid and pooled
    const double expected = storedOf(
        -1, referenceComposite(BlendFunction::Screen, 51 / 255.0, 1.0, 230 / 255.0, 128 / 255.0, 1.0));
    EXPECT_EQ(cb->value<uint8_t>(10, 10), expected);
    EXPECT_EQ(cb->value<uint8_t>(200, 10), 51); // skipped: source alpha 0
    EXPECT_EQ(cb->tileAt(cb->tileIndexAt(10, 10)), cb->tileAt(cb->tileIndexAt(100, 200)));

    // Opacity 0 is a no-op (and copies the backdrop into another destination).
    m->setOpacity(0.0f);
    EXPECT_TRUE(m->isNoOp());
    auto other = makeRef<DataChannel>(w, h, -1);
    apply(*m, *other, *cb, *ab, *cs, *as);
    EXPECT_EQ(other->value<uint8_t>(10, 10), expected);
    m->setOpacity(-3.0f);
    EXPECT_EQ(m->clampedOpacity(), 0.0f);
    EXPECT_EQ(m->opacity(), -3.0f);
    m->setOpacity(7.0f);
    EXPECT_EQ(m->clampedOpacity(), 1.0f);
}

TEST(BlendMembers, BadInputDoesNothingOrAborts) {
    auto a = makeRef<DataChannel>(70, 70, -1), b = makeRef<DataChannel>(70, 71, -1);
    Filler(4).fillRandom(*a, 0, 0, 70, 70);
    Ref<BaseDataProcessing> m = createBlendMode(BlendModeCode::Normal, -1, -1, -1, -1);
    auto dst = makeRef<DataChannel>(70, 70, -1);
    apply(*m, *dst, *a, *a, *b, *a); // sizes differ: nothing happens
    EXPECT_EQ(dst->pooledTileCount(), dst->tileCount());
    applyIn(*m, RectI{10, 10, 10, 50}, *dst, *a, *a, *a, *a); // empty rectangle
    applyIn(*m, RectI{50, 50, 20, 20}, *dst, *a, *a, *a, *a); // inverted
    EXPECT_EQ(dst->pooledTileCount(), dst->tileCount());
    EXPECT_FALSE(createBlendMember(BlendFunction::Normal, -4, -1, -1, -1));
    EXPECT_FALSE(createBlendMember(BlendFunction::Normal, -1, 3, -1, -1));
    EXPECT_FALSE(createBlendMode(BlendModeCode::Dissolve, -1, -1, -1, -1));
    EXPECT_FALSE(createBlendMode(4, -1, -1, -1, -1));
}

TEST(BlendMembersDeathTest, MismatchedChannelTypeAborts) {
    auto a = makeRef<DataChannel>(8, 8, -1), f = makeRef<DataChannel>(8, 8, -3);
    Ref<BaseDataProcessing> m = createBlendMode(BlendModeCode::Multiply, -1, -1, -1, -1);
    EXPECT_DEATH(apply(*m, *a, *a, *a, *f, *a),
                 "Different type of argument3 \\( DataChannel: -3, Function: -1 \\)");
    EXPECT_DEATH(apply(*m, *f, *a, *a, *a, *a),
                 "Different type of argument0 \\( DataChannel: -3, Function: -1 \\)");
}

TEST(BlendModes, NamesCodesAndHints) {
    EXPECT_EQ(blendModeCodes().size(), 30u);
    EXPECT_EQ(blendModeName(2), "Normal");
    EXPECT_EQ(blendModeName(23), "Linear Dodge");
    EXPECT_EQ(blendModeHintKey(23), "LinearDodge_HINT");
    EXPECT_EQ(blendModeName(54), "Luminosity");
    EXPECT_EQ(blendModeHintKey(1), "PassThrough_HINT");
    EXPECT_EQ(blendModeName(62), "Height");
    EXPECT_TRUE(blendModeName(4).isEmpty());
    EXPECT_TRUE(blendModeHintKey(0).isEmpty());
    BlendFunction f;
    ASSERT_TRUE(blendFunctionOfMode(23, f));
    EXPECT_EQ(f, BlendFunction::Plus);
    EXPECT_FALSE(blendFunctionOfMode(14, f));
    EXPECT_FALSE(blendFunctionOfMode(51, f));
    HslVariant v;
    ASSERT_TRUE(hslVariantOfMode(53, v));
    EXPECT_EQ(v, HslVariant::Color);
    EXPECT_FALSE(hslVariantOfMode(50, v));
    for (int code : blendModeCodes()) {
        EXPECT_FALSE(blendModeName(code).isEmpty()) << code;
        EXPECT_TRUE(blendModeHintKey(code).endsWith("_HINT")) << code;
    }
}
