#pragma once
// The separable blend functions B(Cb, Cs) of the blend-mode members and the compositing template
// that applies them (`DataProcessing_combiner_fn`). Each function is written once over a lane type
// V (float for the scalar path, Lanes::Lanes4 for the vector path; see CombinerLanes.h), so the two
// paths compute the same operations in the same order.
//
// Compositing, per element on values normalised to 0 ... 1, with as = source alpha x opacity:
//   ar = ab + as - ab as;  ar = 0: the destination takes Cb;
//   co = Cs as (1 - ab) + Cb ab (1 - as) + ab as B(Cb, Cs);  destination = co / ar.
// plus_noclip instead takes co = min(1, Cb ab + Cs as).

#include "datastorage/BaseDataProcessing.h"
#include "datastorage/CombinerLanes.h"

#include <type_traits>

namespace Orvex::DataStorage {

namespace Blend {
using Lanes::select;
using Lanes::vmax;
using Lanes::vmin;
using Lanes::vsqrt;

template <class V> inline V clamp01(V v) {
    return vmin(vmax(v, V(0.0f)), V(1.0f));
}
} // namespace Blend

#define ORVEX_BLEND_FUNCTION(Name, body)                                                                     \
    struct Name {                                                                                            \
        template <class V> static V apply(V cb, V cs) {                                                      \
            using namespace Blend;                                                                           \
            body                                                                                             \
        }                                                                                                    \
    };

ORVEX_BLEND_FUNCTION(internalFuncNormal, (void)cb; return cs;)
ORVEX_BLEND_FUNCTION(internalFuncMultiply, return cb * cs;)
ORVEX_BLEND_FUNCTION(internalFuncScreen, return cb + cs - cb * cs;)
ORVEX_BLEND_FUNCTION(internalFuncOverlay, return select(cb <= V(0.5f), V(2.0f) * cs * cb,
                                                        V(1.0f) - V(2.0f) * (V(1.0f) - cs) * (V(1.0f) - cb));)
ORVEX_BLEND_FUNCTION(internalFuncHardLight,
                     return select(cs <= V(0.5f), V(2.0f) * cb * cs,
                                   V(1.0f) - V(2.0f) * (V(1.0f) - cb) * (V(1.0f) - cs));)
ORVEX_BLEND_FUNCTION(internalFuncSoftLight,
                     const V d = select(cb <= V(0.25f), ((V(16.0f) * cb - V(12.0f)) * cb + V(4.0f)) * cb,
                                        vsqrt(vmax(cb, V(0.0f))));
                     return select(cs <= V(0.5f), cb - (V(1.0f) - V(2.0f) * cs) * cb * (V(1.0f) - cb),
                                   cb + (V(2.0f) * cs - V(1.0f)) * (d - cb));)
ORVEX_BLEND_FUNCTION(internalFuncDarken, return vmin(cb, cs);)
ORVEX_BLEND_FUNCTION(internalFuncLighten, return vmax(cb, cs);)
ORVEX_BLEND_FUNCTION(internalFuncColorDodge, return select(cs < V(1.0f), vmin(V(1.0f), cb / (V(1.0f) - cs)),
                                                           select(cb > V(0.0f), V(1.0f), V(0.0f)));)
ORVEX_BLEND_FUNCTION(internalFuncColorBurn,
                     return select(cs > V(0.0f), V(1.0f) - vmin(V(1.0f), (V(1.0f) - cb) / cs),
                                   select(cb >= V(1.0f), V(1.0f), V(0.0f)));)
ORVEX_BLEND_FUNCTION(internalFuncDifference, return vmax(cb - cs, cs - cb);)
ORVEX_BLEND_FUNCTION(internalFuncExclusion, return cb + cs - V(2.0f) * cb * cs;)
ORVEX_BLEND_FUNCTION(internalFuncLinearBurn, return clamp01(cb + cs - V(1.0f));)
ORVEX_BLEND_FUNCTION(internalFuncPlus, return vmin(V(1.0f), cb + cs);)
ORVEX_BLEND_FUNCTION(internalFuncPlusAB, return clamp01(cb + cs - V(0.5f));)
ORVEX_BLEND_FUNCTION(internalFuncSubtract, return select(cs < cb, cb - cs, V(0.0f));)
ORVEX_BLEND_FUNCTION(internalFuncDivide, return select(cb >= cs, V(1.0f), cb / cs);)
ORVEX_BLEND_FUNCTION(internalFuncLinearLight, return clamp01(cb + V(2.0f) * cs - V(1.0f));)
ORVEX_BLEND_FUNCTION(internalFuncVividLight,
                     const V dodge = vmin(V(1.0f), cb / (V(1.0f) - V(2.0f) * (cs - V(0.5f))));
                     const V burn = vmax(V(0.0f), V(1.0f) - (V(1.0f) - cb) / (V(2.0f) * cs));
                     const V mixed = select(cs > V(0.5f), dodge, burn);
                     return clamp01(select(cs >= V(1.0f), V(1.0f), select(cs <= V(0.0f), V(0.0f), mixed)));)
ORVEX_BLEND_FUNCTION(internalFuncPinLight,
                     return clamp01(select(cs > V(0.5f), vmax(V(2.0f) * (cs - V(0.5f)), cb),
                                           vmin(V(2.0f) * cs, cb)));)
ORVEX_BLEND_FUNCTION(internalFuncHardMix, return select(cb > V(1.0f) - cs, V(1.0f), V(0.0f));)

#undef ORVEX_BLEND_FUNCTION

// plus_noclip: the premultiplied sum replaces the whole compositing rule.
struct internalFuncPlusNoClip {
    static constexpr bool premultipliedSum = true;
    template <class V> static V apply(V cb, V cs) { return cb + cs; }
};

template <class F, class = void> struct IsPremultipliedSum { static constexpr bool value = false; };
template <class F> struct IsPremultipliedSum<F, std::void_t<decltype(F::premultipliedSum)>> {
    static constexpr bool value = F::premultipliedSum;
};

// One element of the compositing rule; returns the normalised destination value.
template <class F, class V> inline V compositeElement(V cb, V ab, V cs, V as) {
    using namespace Blend;
    const V ar = ab + as - ab * as;
    V co;
    if constexpr (IsPremultipliedSum<F>::value)
        co = vmin(V(1.0f), cb * ab + cs * as);
    else if constexpr (std::is_same_v<F, internalFuncNormal>)
        co = cs * as + cb * ab * (V(1.0f) - as); // B = Cs turns the rule into source-over
    else
        co = cs * as * (V(1.0f) - ab) + cb * ab * (V(1.0f) - as) + ab * as * F::apply(cb, cs);
    return select(ar == V(0.0f), cb, co / ar);
}

// The blend-mode member template: destination, backdrop colour Cb, backdrop alpha (type of Cb),
// source colour Cs, source alpha; five sample types.
template <class F, int TD, int TB, int TBA, int TS, int TSA>
class DataProcessing_combiner_fn : public BaseDataProcessing {
public:
    int arity() const override { return 5; }
    int32_t argumentType(int index) const override {
        static constexpr int32_t types[5] = {TD, TB, TBA, TS, TSA};
        return index >= 0 && index < 5 ? types[index] : 0;
    }
    bool isNoOp() const override { return m_clampedOpacity == 0.0f; }
    int passThroughArgument() const override { return 1; }

    int check5(const void* const* solid) const override {
        if (m_clampedOpacity == 0.0f) return 1;
        if (solid[4] && Lanes::load1<TSA>(solid[4], 0) == 0.0f) return 1;
        return checkAllInputsSolid(solid, 5);
    }

    void process5(const CombinerBlock& b) const override {
        const float opacity = m_clampedOpacity;
        const bool vector = useVectorPath(b.width);
        for (int y = 0; y < b.height; ++y) {
            const size_t row = size_t(y) * TileSize;
            void* d = static_cast<typename Lanes::Sample<TD>::type*>(b.destination) + row;
            const void* cb = static_cast<const typename Lanes::Sample<TB>::type*>(b.arguments[0]) + row;
            const void* ab = static_cast<const typename Lanes::Sample<TBA>::type*>(b.arguments[1]) + row;
            const void* cs = static_cast<const typename Lanes::Sample<TS>::type*>(b.arguments[2]) + row;
            const void* as = static_cast<const typename Lanes::Sample<TSA>::type*>(b.arguments[3]) + row;
            int x = 0;
            if (vector) {
                const Lanes::Lanes4 o(opacity);
                for (; x < b.width; x += 4) {
                    const Lanes::Lanes4 v = compositeElement<F>(
                        Lanes::load4<TB>(cb, x), Lanes::load4<TBA>(ab, x), Lanes::load4<TS>(cs, x),
                        Lanes::Lanes4(Lanes::load4<TSA>(as, x) * o));
                    Lanes::store4<TD>(d, x, v);
                }
            }
            for (; x < b.width; ++x) {
                const float v =
                    compositeElement<F>(Lanes::load1<TB>(cb, x), Lanes::load1<TBA>(ab, x),
                                        Lanes::load1<TS>(cs, x), Lanes::load1<TSA>(as, x) * opacity);
                Lanes::store1<TD>(d, x, v);
            }
        }
    }
};

// Named members (one class template per blend function).
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_blend = DataProcessing_combiner_fn<internalFuncNormal, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_multiply = DataProcessing_combiner_fn<internalFuncMultiply, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_screen = DataProcessing_combiner_fn<internalFuncScreen, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_overlay = DataProcessing_combiner_fn<internalFuncOverlay, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_hard_light = DataProcessing_combiner_fn<internalFuncHardLight, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_soft_light = DataProcessing_combiner_fn<internalFuncSoftLight, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_darken = DataProcessing_combiner_fn<internalFuncDarken, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_lighten = DataProcessing_combiner_fn<internalFuncLighten, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_color_dodge = DataProcessing_combiner_fn<internalFuncColorDodge, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_color_burn = DataProcessing_combiner_fn<internalFuncColorBurn, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_difference = DataProcessing_combiner_fn<internalFuncDifference, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_exclusion = DataProcessing_combiner_fn<internalFuncExclusion, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_linear_burn = DataProcessing_combiner_fn<internalFuncLinearBurn, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_plus = DataProcessing_combiner_fn<internalFuncPlus, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_plus_ab = DataProcessing_combiner_fn<internalFuncPlusAB, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_plus_noclip = DataProcessing_combiner_fn<internalFuncPlusNoClip, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_subtract = DataProcessing_combiner_fn<internalFuncSubtract, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_divide = DataProcessing_combiner_fn<internalFuncDivide, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_linear_light = DataProcessing_combiner_fn<internalFuncLinearLight, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_vivid_light = DataProcessing_combiner_fn<internalFuncVividLight, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_pin_light = DataProcessing_combiner_fn<internalFuncPinLight, TD, TB, TBA, TS, TSA>;
template <int TD, int TB, int TBA, int TS, int TSA>
using DataProcessing_hard_mix = DataProcessing_combiner_fn<internalFuncHardMix, TD, TB, TBA, TS, TSA>;

} // namespace Orvex::DataStorage
