#pragma once
// The combiners around compositing: products, inverse masks, interpolations, alpha compositing,
// dissolve and conditional copies. Template arguments are the sample types of the destination and
// then of each argument in order (-1, -2 or -3); `copy_if` takes its predicate first.
//
// With every type 8-bit the integer forms are exact:
//   mul         (a b 32897 + 4177919) >> 23                    = a b / 255 rounded
//   invert_mul  ((255 - a) b 32897 + 4177919) >> 23
//   mul3        ((a b c + 32258) 33818121) >> 41               = a b c / 65025 rounded
//   ipol3       (((255 - t) a + t b + 127) 16843010) >> 32     from a (t = 0) to b (t = 255)
// With every type 16-bit the same products and interpolations are rounded in 65535 units; any
// other combination computes on normalised floats and stores with the combiners' rounding.

#include "datastorage/BaseDataProcessing.h"
#include "datastorage/CombinerLanes.h"

#include <cstdint>
#include <utility>

namespace Orvex::DataStorage {

namespace Utility {

template <int T> using S = typename Lanes::Sample<T>::type;

template <int T> inline const S<T>* rowOf(const void* p, int y) {
    return static_cast<const S<T>*>(p) + size_t(y) * TileSize;
}
template <int T> inline S<T>* rowOf(void* p, int y) {
    return static_cast<S<T>*>(p) + size_t(y) * TileSize;
}

template <int... T> constexpr bool all8 = ((T == -1) && ...);
template <int... T> constexpr bool all16 = ((T == -2) && ...);

// The one row walk of the utility members: calls `element(d, x, y, a...)` for every element of the
// block, with d the destination row and a... the argument rows in argument order, so that a member
// states only its per-element formula.
template <int TD, int... TA> struct Rows {
    template <class Element> static void forEach(const CombinerBlock& k, Element&& element) {
        walk(k, element, std::make_index_sequence<sizeof...(TA)>{});
    }

private:
    template <class Element, std::size_t... I>
    static void walk(const CombinerBlock& k, Element& element, std::index_sequence<I...>) {
        for (int y = 0; y < k.height; ++y) {
            const auto row = [&](S<TD>* d, const S<TA>*... a) {
                for (int x = 0; x < k.width; ++x) element(d, x, y, a...);
            };
            row(rowOf<TD>(k.destination, y), rowOf<TA>(k.arguments[I], y)...);
        }
    }
};

} // namespace Utility

// Base of the utility members: types, arity and the all-inputs-solid check.
template <int... Types> class UtilityMember : public BaseDataProcessing {
public:
    static constexpr int kArity = int(sizeof...(Types));
    int arity() const override { return kArity; }
    int32_t argumentType(int index) const override {
        static constexpr int32_t types[] = {Types...};
        return index >= 0 && index < kArity ? types[index] : 0;
    }
};

// dst = a b
template <int TD, int TA, int TB> class DataProcessing_mul : public UtilityMember<TD, TA, TB> {
public:
    int check3(const void* const* solid) const override { return this->checkAllInputsSolid(solid, 3); }
    void process3(const CombinerBlock& k) const override {
        using namespace Utility;
        Rows<TD, TA, TB>::forEach(k, [](auto* d, int x, int, const auto* a, const auto* b) {
            if constexpr (all8<TD, TA, TB>)
                d[x] = std::uint8_t((std::uint32_t(a[x]) * b[x] * 32897u + 4177919u) >> 23);
            else if constexpr (all16<TD, TA, TB>)
                d[x] = std::uint16_t((std::uint64_t(a[x]) * b[x] + 32767u) / 65535u);
            else
                Lanes::store1<TD>(d, x, Lanes::load1<TA>(a, x) * Lanes::load1<TB>(b, x));
        });
    }
};

// dst = (1 - a) b: a mask inverted and multiplied
template <int TD, int TA, int TB> class DataProcessing_invert_mul : public UtilityMember<TD, TA, TB> {
public:
    int check3(const void* const* solid) const override { return this->checkAllInputsSolid(solid, 3); }
    void process3(const CombinerBlock& k) const override {
        using namespace Utility;
        Rows<TD, TA, TB>::forEach(k, [](auto* d, int x, int, const auto* a, const auto* b) {
            if constexpr (all8<TD, TA, TB>)
                d[x] = std::uint8_t(((255u - a[x]) * std::uint32_t(b[x]) * 32897u + 4177919u) >> 23);
            else if constexpr (all16<TD, TA, TB>)
                d[x] = std::uint16_t((std::uint64_t(65535u - a[x]) * b[x] + 32767u) / 65535u);
            else
                Lanes::store1<TD>(d, x, (1.0f - Lanes::load1<TA>(a, x)) * Lanes::load1<TB>(b, x));
        });
    }
};

// dst = a b c
template <int TD, int TA, int TB, int TC> class DataProcessing_mul3 : public UtilityMember<TD, TA, TB, TC> {
public:
    int check4(const void* const* solid) const override { return this->checkAllInputsSolid(solid, 4); }
    void process4(const CombinerBlock& k) const override {
        using namespace Utility;
        Rows<TD, TA, TB, TC>::forEach(k, [](auto* d, int x, int, const auto* a, const auto* b, const auto* c) {
            if constexpr (all8<TD, TA, TB, TC>) {
                const std::uint64_t p = std::uint64_t(a[x]) * b[x] * c[x];
                d[x] = std::uint8_t(((p + 32258u) * 33818121u) >> 41);
            } else if constexpr (all16<TD, TA, TB, TC>) {
                const std::uint64_t p = std::uint64_t(a[x]) * b[x] * c[x];
                d[x] = std::uint16_t((p + 2147418112u) / 4294836225u); // / 65535^2, rounded
            } else {
                Lanes::store1<TD>(d, x,
                                  Lanes::load1<TA>(a, x) * Lanes::load1<TB>(b, x) * Lanes::load1<TC>(c, x));
            }
        });
    }
};

// dst = a + t (b - a): linear interpolation from a (t = 0) to b (t = full)
template <int TD, int TA, int TB, int TT> class DataProcessing_ipol3 : public UtilityMember<TD, TA, TB, TT> {
public:
    int check4(const void* const* solid) const override { return this->checkAllInputsSolid(solid, 4); }
    void process4(const CombinerBlock& k) const override {
        using namespace Utility;
        Rows<TD, TA, TB, TT>::forEach(k, [](auto* d, int x, int, const auto* a, const auto* b, const auto* t) {
            if constexpr (all8<TD, TA, TB, TT>) {
                if (t[x] == 0) {
                    d[x] = a[x];
                    return;
                }
                const std::uint64_t sum = (255u - t[x]) * std::uint32_t(a[x]) + std::uint32_t(t[x]) * b[x] + 127u;
                d[x] = std::uint8_t((sum * 16843010u) >> 32);
            } else if constexpr (all16<TD, TA, TB, TT>) {
                const std::uint64_t sum =
                    std::uint64_t(65535u - t[x]) * a[x] + std::uint64_t(t[x]) * b[x] + 32767u;
                d[x] = std::uint16_t(sum / 65535u);
            } else {
                const float tv = Lanes::load1<TT>(t, x);
                Lanes::store1<TD>(d, x, (1.0f - tv) * Lanes::load1<TA>(a, x) + tv * Lanes::load1<TB>(b, x));
            }
        });
    }
};

// Alpha-aware interpolation of two colour and alpha pairs under an amount t:
// arguments (Ca, aa, Cb, ab, t); the destination colour is the interpolation of the premultiplied
// colours divided by the interpolated alpha (Ca where that alpha is 0). The matching alpha is
// ipol3 over the two alphas.
template <int TD, int TC, int TA, int TT>
class DataProcessing_ipol5 : public UtilityMember<TD, TC, TA, TC, TA, TT> {
public:
    int check6(const void* const* solid) const override { return this->checkAllInputsSolid(solid, 6); }
    void process6(const CombinerBlock& k) const override {
        using namespace Utility;
        Rows<TD, TC, TA, TC, TA, TT>::forEach(k, [](auto* d, int x, int, const auto* ca, const auto* aa,
                                                    const auto* cb, const auto* ab, const auto* t) {
            const float tv = Lanes::load1<TT>(t, x);
            const float wa = Lanes::load1<TA>(aa, x) * (1.0f - tv), wb = Lanes::load1<TA>(ab, x) * tv;
            const float alpha = wa + wb;
            const float colourA = Lanes::load1<TC>(ca, x);
            Lanes::store1<TD>(d, x,
                              alpha == 0.0f ? colourA : (colourA * wa + Lanes::load1<TC>(cb, x) * wb) / alpha);
        });
    }
};

// Alpha compositing: result alpha = ab + as o (1 - ab), arguments (ab, as).
template <int TD, int TB, int TS> class DataProcessing_alpha_blend : public UtilityMember<TD, TB, TS> {
public:
    bool isNoOp() const override { return this->m_clampedOpacity == 0.0f; }
    int passThroughArgument() const override { return 1; }
    int check3(const void* const* solid) const override {
        if (this->m_clampedOpacity == 0.0f) return 1;
        if (solid[2] && Lanes::load1<TS>(solid[2], 0) == 0.0f) return 1;
        return this->checkAllInputsSolid(solid, 3);
    }
    void process3(const CombinerBlock& k) const override {
        using namespace Utility;
        const float o = this->m_clampedOpacity;
        Rows<TD, TB, TS>::forEach(k, [o](auto* d, int x, int, const auto* ab, const auto* as) {
            const float b = Lanes::load1<TB>(ab, x);
            Lanes::store1<TD>(d, x, b + Lanes::load1<TS>(as, x) * o * (1.0f - b));
        });
    }
};

// Dissolve: each element becomes full or 0; it is full where the source value, scaled to 16 bits,
// exceeds a pseudo-random 16-bit value of the element's position and the seed (0 ... 65534), so the
// share of full elements follows the source value, 0 never and full always gives full.
std::uint32_t dissolveThreshold(int x, int y, std::uint32_t seed);

template <int TD, int TS> class DataProcessing_alpha_dissolve : public UtilityMember<TD, TS> {
public:
    void setSeed(std::uint32_t seed) { m_seed = seed; }
    std::uint32_t seed() const { return m_seed; }
    int check2(const void* const* solid) const override {
        if (!solid[1]) return 0;
        const float v = Lanes::load1<TS>(solid[1], 0);
        return v <= 0.0f || v >= 1.0f ? -1 : 0; // uniform 0 or full: position does not matter
    }
    void process2(const CombinerBlock& k) const override {
        using namespace Utility;
        const std::uint32_t seed = m_seed;
        Rows<TD, TS>::forEach(k, [&k, seed](auto* d, int x, int y, const auto* s) {
            std::uint32_t v16;
            if constexpr (TS == -1)
                v16 = s[x] * 257u;
            else if constexpr (TS == -2)
                v16 = s[x];
            else
                v16 = s[x] >= 1.0f ? 65535u : s[x] > 0.0f ? std::uint32_t(s[x] * 65535.0f + 0.5f) : 0u;
            const bool full = v16 > dissolveThreshold(k.x + x, k.y + y, seed);
            Lanes::store1<TD>(d, x, full ? 1.0f : 0.0f);
        });
    }

private:
    std::uint32_t m_seed = 0;
};

// Predicate of copy_if: the condition sample is not zero.
struct internalFuncNotZero {
    template <class T> static bool test(T v) { return v != T(0); }
};

// dst = a where Pred(c), else unchanged; arguments (a, c).
template <class Pred, int TD, int TA, int TC>
class DataProcessing_copy_if : public UtilityMember<TD, TA, TC> {
public:
    bool overwritesDestination() const override { return false; }
    int check3(const void* const* solid) const override {
        if (solid[2] && !Pred::test(*static_cast<const Utility::S<TC>*>(solid[2]))) return 1;
        return this->checkAllInputsSolid(solid, 3);
    }
    void process3(const CombinerBlock& k) const override {
        using namespace Utility;
        Rows<TD, TA, TC>::forEach(k, [](auto* d, int x, int, const auto* a, const auto* c) {
            if (!Pred::test(c[x])) return;
            if constexpr (TD == TA)
                d[x] = a[x];
            else
                Lanes::store1<TD>(d, x, Lanes::load1<TA>(a, x));
        });
    }
};

template <int TD, int TA, int TC>
class DataProcessing_copy_not_zero : public DataProcessing_copy_if<internalFuncNotZero, TD, TA, TC> {};

// ---- factories for run-time types (null for a type other than -1, -2, -3) --------------------

Ref<BaseDataProcessing> createMul(int32_t td, int32_t ta, int32_t tb);
Ref<BaseDataProcessing> createInvertMul(int32_t td, int32_t ta, int32_t tb);
Ref<BaseDataProcessing> createMul3(int32_t td, int32_t ta, int32_t tb, int32_t tc);
Ref<BaseDataProcessing> createIpol3(int32_t td, int32_t ta, int32_t tb, int32_t tt);
Ref<BaseDataProcessing> createIpol5(int32_t td, int32_t colourType, int32_t alphaType, int32_t tt);
Ref<BaseDataProcessing> createAlphaBlend(int32_t td, int32_t backdropAlphaType, int32_t sourceAlphaType);
Ref<BaseDataProcessing> createAlphaDissolve(int32_t td, int32_t ts, std::uint32_t seed = 0);
Ref<BaseDataProcessing> createCopyNotZero(int32_t td, int32_t ta, int32_t tc);

} // namespace Orvex::DataStorage
