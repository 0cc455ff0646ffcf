#pragma once
// Lane types for the pixel combiners: the same formula source is instantiated once with `float`
// (the scalar path) and once with `Lanes4` (four floats in an SSE register, the vector path). Every
// operation maps one to one onto an IEEE single-precision operation, min and max keep the operand
// order of minps/maxps, and no fused multiply-add is generated, so both paths give identical bits.
// Only SSE2 instructions are used (the x86-64 baseline); `vectorKernelsAvailable` still asks cpuid
// once, so that a processor or emulator without it falls back to the scalar path.

#include <cstdint>
#include <cstring>

#include <emmintrin.h>

namespace Orvex::DataStorage::Lanes {

// ---- scalar lane -------------------------------------------------------------------------------

inline float vmin(float a, float b) {
    return a < b ? a : b;
}
inline float vmax(float a, float b) {
    return a > b ? a : b;
}
inline float select(bool mask, float a, float b) {
    return mask ? a : b;
}
inline float vsqrt(float a) {
    return __builtin_sqrtf(a);
}
inline float splat(float v, float) {
    return v;
}

// ---- four-lane vector --------------------------------------------------------------------------

struct Mask4 {
    __m128 m;
};
struct Lanes4 {
    __m128 v;
    Lanes4() = default;
    Lanes4(__m128 x) : v(x) {}
    // Broadcast a constant (so that formulas can write 1.0f, 0.5f, ...).
    Lanes4(float x) : v(_mm_set1_ps(x)) {}
};

inline Lanes4 operator+(Lanes4 a, Lanes4 b) {
    return _mm_add_ps(a.v, b.v);
}
inline Lanes4 operator-(Lanes4 a, Lanes4 b) {
    return _mm_sub_ps(a.v, b.v);
}
inline Lanes4 operator*(Lanes4 a, Lanes4 b) {
    return _mm_mul_ps(a.v, b.v);
}
inline Lanes4 operator/(Lanes4 a, Lanes4 b) {
    return _mm_div_ps(a.v, b.v);
}
inline Mask4 operator<(Lanes4 a, Lanes4 b) {
    return {_mm_cmplt_ps(a.v, b.v)};
}
inline Mask4 operator<=(Lanes4 a, Lanes4 b) {
    return {_mm_cmple_ps(a.v, b.v)};
}
inline Mask4 operator>(Lanes4 a, Lanes4 b) {
    return {_mm_cmpgt_ps(a.v, b.v)};
}
inline Mask4 operator>=(Lanes4 a, Lanes4 b) {
    return {_mm_cmpge_ps(a.v, b.v)};
}
inline Mask4 operator==(Lanes4 a, Lanes4 b) {
    return {_mm_cmpeq_ps(a.v, b.v)};
}
inline Lanes4 vmin(Lanes4 a, Lanes4 b) {
    return _mm_min_ps(a.v, b.v);
}
inline Lanes4 vmax(Lanes4 a, Lanes4 b) {
    return _mm_max_ps(a.v, b.v);
}
inline Lanes4 vsqrt(Lanes4 a) {
    return _mm_sqrt_ps(a.v);
}
inline Lanes4 select(Mask4 mask, Lanes4 a, Lanes4 b) {
    return _mm_or_ps(_mm_and_ps(mask.m, a.v), _mm_andnot_ps(mask.m, b.v));
}
inline Lanes4 splat(float v, Lanes4) {
    return Lanes4(v);
}

// ---- loading and storing samples ---------------------------------------------------------------
// Sample scales: 8-bit x (1 / 255), 16-bit x (1 / 65535), float as is. Stores round as the
// combiners define: v >= 1 gives the maximum, else trunc(max(v * max + 0.5, 0)).

template <int Type> struct Sample;
template <> struct Sample<-1> {
    using type = std::uint8_t;
    static constexpr float scale = 255.0f;
    static constexpr float inverse = 1.0f / 255.0f;
};
template <> struct Sample<-2> {
    using type = std::uint16_t;
    static constexpr float scale = 65535.0f;
    static constexpr float inverse = 1.0f / 65535.0f;
};
template <> struct Sample<-3> {
    using type = float;
    static constexpr float scale = 1.0f;
    static constexpr float inverse = 1.0f;
};

template <int Type> inline float load1(const void* p, int i) {
    const auto* s = static_cast<const typename Sample<Type>::type*>(p);
    if constexpr (Type == -3)
        return s[i];
    else
        return float(s[i]) * Sample<Type>::inverse;
}

template <int Type> inline void store1(void* p, int i, float v) {
    auto* d = static_cast<typename Sample<Type>::type*>(p);
    if constexpr (Type == -3) {
        d[i] = v;
    } else {
        const float scaled = vmax(v * Sample<Type>::scale + 0.5f, 0.0f);
        d[i] = v >= 1.0f ? typename Sample<Type>::type(Sample<Type>::scale)
                         : typename Sample<Type>::type(int(scaled));
    }
}

template <int Type> inline Lanes4 load4(const void* p, int i) {
    const auto* s = static_cast<const typename Sample<Type>::type*>(p) + i;
    if constexpr (Type == -3) {
        return _mm_loadu_ps(s);
    } else if constexpr (Type == -1) {
        std::int32_t bytes;
        std::memcpy(&bytes, s, 4);
        const __m128i zero = _mm_setzero_si128();
        const __m128i x = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero), zero);
        return _mm_mul_ps(_mm_cvtepi32_ps(x), _mm_set1_ps(Sample<-1>::inverse));
    } else {
        const __m128i x =
            _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s)), _mm_setzero_si128());
        return _mm_mul_ps(_mm_cvtepi32_ps(x), _mm_set1_ps(Sample<-2>::inverse));
    }
}

template <int Type> inline void store4(void* p, int i, Lanes4 v) {
    auto* d = static_cast<typename Sample<Type>::type*>(p) + i;
    if constexpr (Type == -3) {
        _mm_storeu_ps(d, v.v);
    } else {
        const Lanes4 scaled = vmax(v * Lanes4(Sample<Type>::scale) + Lanes4(0.5f), Lanes4(0.0f));
        const Lanes4 clamped = select(v >= Lanes4(1.0f), Lanes4(Sample<Type>::scale), scaled);
        const __m128i ints = _mm_cvttps_epi32(clamped.v); // 0 ... max, truncated like int(float)
        if constexpr (Type == -1) {
            const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(ints, ints), _mm_setzero_si128());
            const std::int32_t bytes = _mm_cvtsi128_si32(packed);
            std::memcpy(d, &bytes, 4);
        } else {
            // No unsigned 32-to-16 pack in SSE2: shift into the signed range, pack, shift back.
            const __m128i bias = _mm_set1_epi32(32768);
            const __m128i packed = _mm_packs_epi32(_mm_sub_epi32(ints, bias), _mm_setzero_si128());
            _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_add_epi16(packed, _mm_set1_epi16(-32768)));
        }
    }
}

} // namespace Orvex::DataStorage::Lanes
