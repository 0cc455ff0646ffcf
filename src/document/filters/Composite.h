#pragma once
// Per-pixel source-over composition of an effect layer onto RGBA samples, fused over the three
// colour channels and alpha so that each pixel is read and written once.
//
// Colour: the "Normal" blend on values normalised to 0 ... 1 with the source alpha already
// multiplied by the opacity: ar = ab + as - ab as; co = cs as + cb ab (1 - as); the colour becomes
// co / ar (8-bit: 255 when co >= ar, else trunc(co / ar x 255 + 0.5); 16-bit alike; float co / ar).
// Alpha: ab + as (1 - ab). A pixel whose source alpha is 0 is left exactly as it was; so is an opaque
// integer pixel whose source alpha is so small that no sample could move (the colour moves by
// as (cs - cb) / ar, under a quarter of a level here), which skips the faint tails of soft layers.

#include <algorithm>
#include <cstdint>

namespace Orvex::Document::Filters {

template <class T> struct SampleMath;

template <> struct SampleMath<uint8_t> {
    static constexpr uint8_t opaque = 255;
    static constexpr float negligible = 0.25f / 255.0f;
    static float unit(uint8_t v) { return float(v) * (1.0f / 255.0f); }
    static uint8_t colour(float co, float ar) {
        return co >= ar ? 255 : uint8_t(int(co / ar * 255.0f + 0.5f));
    }
    static uint8_t fromUnit(float v) { return uint8_t(int(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f)); }
};

template <> struct SampleMath<uint16_t> {
    static constexpr uint16_t opaque = 65535;
    static constexpr float negligible = 0.25f / 65535.0f;
    static float unit(uint16_t v) { return float(v) * (1.0f / 65535.0f); }
    static uint16_t colour(float co, float ar) {
        return co >= ar ? 65535 : uint16_t(int(co / ar * 65535.0f + 0.5f));
    }
    static uint16_t fromUnit(float v) { return uint16_t(int(std::clamp(v, 0.0f, 1.0f) * 65535.0f + 0.5f)); }
};

template <> struct SampleMath<float> {
    static constexpr float opaque = 1.0f;
    static constexpr float negligible = 0.0f;
    static float unit(float v) { return v; }
    static float colour(float co, float ar) { return co / ar; }
    static float fromUnit(float v) { return v; }
};

// One pixel; `alpha` may be null (an opaque image without alpha channel). `as` is the source alpha
// times the opacity, in 0 ... 1.
template <class T>
inline void composeOver(T& red, T& green, T& blue, T* alpha, float sr, float sg, float sb, float as) {
    using M = SampleMath<T>;
    if (!(as > 0.0f)) return;
    if (as < M::negligible && (!alpha || *alpha == M::opaque)) return;
    const float ab = alpha ? M::unit(*alpha) : 1.0f;
    const float ar = ab + as - ab * as;
    if (!(ar > 0.0f)) return;
    const float keep = ab * (1.0f - as);
    red = M::colour(sr * as + M::unit(red) * keep, ar);
    green = M::colour(sg * as + M::unit(green) * keep, ar);
    blue = M::colour(sb * as + M::unit(blue) * keep, ar);
    if (alpha) *alpha = M::fromUnit(ar);
}

// One pixel of the additive composition: the premultiplied sum co = min(1, cb ab + cs as) over the
// union alpha ar = ab + as - ab as, the colour co / ar. On an opaque picture this is min(1, cb + cs as).
template <class T>
inline void composePlus(T& red, T& green, T& blue, T* alpha, float sr, float sg, float sb, float as) {
    using M = SampleMath<T>;
    if (!(as > 0.0f)) return;
    if (as < M::negligible && (!alpha || *alpha == M::opaque)) return;
    const float ab = alpha ? M::unit(*alpha) : 1.0f;
    const float ar = ab + as - ab * as;
    if (!(ar > 0.0f)) return;
    red = M::colour(std::min(1.0f, M::unit(red) * ab + sr * as), ar);
    green = M::colour(std::min(1.0f, M::unit(green) * ab + sg * as), ar);
    blue = M::colour(std::min(1.0f, M::unit(blue) * ab + sb * as), ar);
    if (alpha) *alpha = M::fromUnit(ar);
}

} // namespace Orvex::Document::Filters
