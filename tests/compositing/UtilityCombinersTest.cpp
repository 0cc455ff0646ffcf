#include "CombinerTestUtil.h"

#include "datastorage/UtilityCombiners.h"

#include <gtest/gtest.h>

#include <functional>

using namespace CombinerTest;

namespace {

const int32_t kTypes[] = {-1, -2, -3};
constexpr int kW = 100, kH = 67; // blocks 64 and 36 wide, 64 and 3 high

Ref<DataChannel> randomChannel(int32_t type, uint32_t seed, bool withSolidTile = true) {
    auto c = makeRef<DataChannel>(kW, kH, type);
    Filler f(seed);
    f.fillRandom(*c, 0, 0, kW, kH);
    if (withSolidTile) f.fillSolid(*c, RectI{0, 64, 64, 67}, 0.6); // every input solid there
    return c;
}

// Checks every element of `dst` against `expected(inputs...)` (normalised); integer destinations
// must match exactly when `exact`, else within one unit.
void expectChannel(const DataChannel& dst, const std::vector<const DataChannel*>& inputs,
                   const std::function<double(const std::vector<double>&)>& expected, bool exact) {
    std::vector<std::vector<double>> in;
    for (const DataChannel* c : inputs) in.push_back(samplesOf(*c));
    const std::vector<double> out = samplesOf(dst);
    const double m = maxOf(dst.type());
    int bad = 0;
    std::vector<double> args(inputs.size());
    for (size_t i = 0; i < out.size() && bad < 5; ++i) {
        for (size_t k = 0; k < in.size(); ++k) args[k] = in[k][i];
        const double want = storedOf(dst.type(), expected(args));
        const double tolerance = dst.type() == -3 ? 1e-5 : exact ? 0.0 : 1.0;
        if (std::fabs(out[i] * m - want) > tolerance) {
            ADD_FAILURE() << "element " << i << " got " << out[i] * m << " expected " << want;
            ++bad;
        }
    }
}

bool all(int32_t t, std::initializer_list<int32_t> types) {
    for (int32_t u : types)
        if (u != t) return false;
    return true;
}

} // namespace

TEST(UtilityMembers, ProductsInEveryTypeCombination) {
    uint32_t seed = 10;
    for (int32_t td : kTypes)
        for (int32_t ta : kTypes)
            for (int32_t tb : kTypes) {
                SCOPED_TRACE(::testing::Message() << td << " " << ta << " " << tb);
                auto a = randomChannel(ta, seed++), b = randomChannel(tb, seed++);
                // Integer-only combinations use exact rounding formulas; a b / max rounded half up
                // equals them, so they must match exactly.
                const bool exact = all(td, {ta, tb}) && td != -3;
                auto dst = makeRef<DataChannel>(kW, kH, td);
                Ref<BaseDataProcessing> mul = createMul(td, ta, tb);
                ASSERT_TRUE(mul);
                EXPECT_EQ(mul->arity(), 3);
                apply(*mul, *dst, *a, *b);
                expectChannel(
                    *dst, {a.get(), b.get()}, [](auto& v) { return v[0] * v[1]; }, exact);
                Ref<BaseDataProcessing> inv = createInvertMul(td, ta, tb);
                apply(*inv, *dst, *a, *b);
                expectChannel(
                    *dst, {a.get(), b.get()}, [](auto& v) { return (1 - v[0]) * v[1]; }, exact);
                for (int32_t tc : kTypes) {
                    auto c = randomChannel(tc, seed++);
                    const bool exact3 = all(td, {ta, tb, tc}) && td != -3;
                    // The 8-bit triple product adds 32258 / 65025 (just under one half) before its
                    // shift, so it may round a fraction just above one half down.
                    apply(*createMul3(td, ta, tb, tc), *dst, *a, *b, *c);
                    expectChannel(
                        *dst, {a.get(), b.get(), c.get()}, [](auto& v) { return v[0] * v[1] * v[2]; },
                        exact3 && td != -1);
                    apply(*createIpol3(td, ta, tb, tc), *dst, *a, *b, *c);
                    expectChannel(
                        *dst, {a.get(), b.get(), c.get()},
                        [](auto& v) { return (1 - v[2]) * v[0] + v[2] * v[1]; }, exact3);
                }
            }
}

TEST(UtilityMembers, EightBitFormulasAreRoundedProducts) {
    // The integer forms against plain rounding over the whole 8-bit square.
    auto a = makeRef<DataChannel>(256, 256, -1), b = makeRef<DataChannel>(256, 256, -1);
    std::vector<uint8_t> av(256 * 256), bv(256 * 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) av[y * 256 + x] = uint8_t(x), bv[y * 256 + x] = uint8_t(y);
    setData(*a, a->bounds(), av.data(), 0);
    setData(*b, b->bounds(), bv.data(), 0);
    auto dst = makeRef<DataChannel>(256, 256, -1);
    apply(*createMul(-1, -1, -1), *dst, *a, *b);
    for (int y = 0; y < 256; y += 3)
        for (int x = 0; x < 256; ++x) ASSERT_EQ(dst->value<uint8_t>(x, y), std::floor(x * y / 255.0 + 0.5));
    apply(*createIpol3(-1, -1, -1, -1), *dst, *a, *b, *a); // t = a
    for (int y = 0; y < 256; y += 5)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(dst->value<uint8_t>(x, y), std::floor(((255.0 - x) * x + double(x) * y) / 255.0 + 0.5));
}

TEST(UtilityMembers, AlphaBlendAndInterpolationOfPairs) {
    uint32_t seed = 500;
    for (int32_t td : kTypes)
        for (int32_t tb : kTypes)
            for (int32_t ts : kTypes) {
                auto ab = randomChannel(tb, seed++), as = randomChannel(ts, seed++);
                auto dst = makeRef<DataChannel>(kW, kH, td);
                Ref<BaseDataProcessing> m = createAlphaBlend(td, tb, ts);
                m->setOpacity(0.7f);
                apply(*m, *dst, *ab, *as);
                expectChannel(
                    *dst, {ab.get(), as.get()}, [](auto& v) { return v[0] + v[1] * 0.7f * (1 - v[0]); },
                    false);
            }
    for (int32_t td : kTypes)
        for (int32_t tc : kTypes)
            for (int32_t ta : kTypes)
                for (int32_t tt : kTypes) {
                    auto ca = randomChannel(tc, seed++), aa = randomChannel(ta, seed++);
                    auto cb = randomChannel(tc, seed++), abb = randomChannel(ta, seed++),
                         t = randomChannel(tt, seed++);
                    auto dst = makeRef<DataChannel>(kW, kH, td);
                    Ref<BaseDataProcessing> m = createIpol5(td, tc, ta, tt);
                    ASSERT_EQ(m->arity(), 6);
                    apply(*m, *dst, *ca, *aa, *cb, *abb, *t);
                    expectChannel(
                        *dst, {ca.get(), aa.get(), cb.get(), abb.get(), t.get()},
                        [](auto& v) {
                            const double wa = v[1] * (1 - v[4]), wb = v[3] * v[4];
                            return wa + wb == 0 ? v[0] : (v[0] * wa + v[2] * wb) / (wa + wb);
                        },
                        false);
                }
}

TEST(UtilityMembers, AlphaBlendSkipsTransparentSourceTiles) {
    auto ab = makeRef<DataChannel>(128, 64, -1), as = makeRef<DataChannel>(128, 64, -1);
    Filler f(8);
    f.fillRandom(*ab, 0, 0, 128, 64);
    Ref<BaseDataProcessing> m = createAlphaBlend(-1, -1, -1);
    auto copy = ab->clone();
    apply(*m, *ab, *ab, *as); // source alpha solid 0 everywhere: nothing changes, tiles stay shared
    for (uint32_t t = 0; t < ab->tileCount(); ++t) EXPECT_EQ(ab->tileAt(t), copy->tileAt(t));
}

TEST(UtilityMembers, ConditionalCopies) {
    for (int32_t td : kTypes)
        for (int32_t ta : kTypes)
            for (int32_t tc : kTypes) {
                auto a = randomChannel(ta, 900), c = randomChannel(tc, 901);
                Filler(5).fillSolid(*c, RectI{64, 0, 100, 64}, 0.0); // a skipped tile
                auto dst = randomChannel(td, 902, false);
                const std::vector<double> before = samplesOf(*dst), av = samplesOf(*a), cv = samplesOf(*c);
                apply(*createCopyNotZero(td, ta, tc), *dst, *a, *c);
                const std::vector<double> after = samplesOf(*dst);
                const double m = maxOf(td);
                for (size_t i = 0; i < after.size(); ++i) {
                    const double want = cv[i] != 0 ? storedOf(td, av[i]) : before[i] * m;
                    const double tolerance = td == -3 ? 1e-7 : td == ta ? 0.0 : 1.0; // conversions round
                    ASSERT_NEAR(after[i] * m, want, tolerance) << i;
                }
            }
    // The predicate form is the same member.
    DataProcessing_copy_if<internalFuncNotZero, -1, -1, -2> byPredicate;
    EXPECT_EQ(byPredicate.argumentType(2), -2);
    EXPECT_FALSE(byPredicate.overwritesDestination());
}

TEST(UtilityMembers, DissolveFollowsTheSourceValue) {
    const int w = 256, h = 256;
    for (int32_t ts : kTypes) {
        auto src = makeRef<DataChannel>(w, h, ts), dst = makeRef<DataChannel>(w, h, -1);
        Filler f(1);
        f.fillSolid(*src, RectI{0, 0, 128, 128}, 0.0);
        f.fillSolid(*src, RectI{128, 0, 256, 128}, 1.0);
        f.fillSolid(*src, RectI{0, 128, 128, 256}, 0.25);
        f.fillSolid(*src, RectI{128, 128, 256, 256}, 0.75);
        Ref<BaseDataProcessing> m = createAlphaDissolve(-1, ts, 1234);
        apply(*m, *dst, *src);
        auto share = [&](RectI r) {
            int full = 0;
            for (int y = r.top; y < r.bottom; ++y)
                for (int x = r.left; x < r.right; ++x) {
                    const uint8_t v = dst->value<uint8_t>(x, y);
                    EXPECT_TRUE(v == 0 || v == 255);
                    full += v == 255;
                }
            return double(full) / (r.width() * r.height());
        };
        EXPECT_EQ(share(RectI{0, 0, 128, 128}), 0.0);
        EXPECT_EQ(share(RectI{128, 0, 256, 128}), 1.0);
        EXPECT_NEAR(share(RectI{0, 128, 128, 256}), 0.25, 0.02);
        EXPECT_NEAR(share(RectI{128, 128, 256, 256}), 0.75, 0.02);
        // Deterministic for a seed, different for another.
        auto again = makeRef<DataChannel>(w, h, -1), other = makeRef<DataChannel>(w, h, -1);
        apply(*m, *again, *src);
        apply(*createAlphaDissolve(-1, ts, 99), *other, *src);
        EXPECT_EQ(samplesOf(*again), samplesOf(*dst));
        EXPECT_NE(samplesOf(*other), samplesOf(*dst));
    }
}

TEST(UtilityMembers, FactoriesRefuseOtherTypes) {
    EXPECT_FALSE(createMul(-4, -1, -1));
    EXPECT_FALSE(createMul3(-1, -1, 2, -1));
    EXPECT_FALSE(createIpol5(-1, -1, -1, 0));
    EXPECT_FALSE(createAlphaDissolve(-1, 5));
    DataProcessing_mul<-1, -2, -3> mul;
    EXPECT_EQ(mul.argumentType(0), -1);
    EXPECT_EQ(mul.argumentType(1), -2);
    EXPECT_EQ(mul.argumentType(2), -3);
    EXPECT_EQ(mul.argumentType(3), 0);
    EXPECT_EQ(mul.argumentType(-1), 0);
}
