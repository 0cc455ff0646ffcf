// Per-sample kernels: type conversion and interleaving. Compiled with the full vectoriser; on x86-64
// each kernel also gets an AVX2 clone picked at load time from the processor's features.
#include "datastorage/SampleTypes.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) &&      \
    !defined(__SANITIZE_ADDRESS__)
#define ORVEX_KERNEL __attribute__((target_clones("avx2", "default"))) __attribute__((noinline))
#else
#define ORVEX_KERNEL
#endif

namespace Orvex::DataStorage {

namespace {

// Real to integer: scale, round half up by truncation, clamp (NaN falls to 0 because every
// comparison with it is false).
template <class Real> inline Real clampScaled(Real x, Real maxValue) {
    Real v = x * maxValue + Real(0.5);
    v = v > Real(0) ? v : Real(0); // NaN fails the comparison and becomes 0
    v = v < maxValue ? v : maxValue;
    return v;
}

#define ORVEX_CONVERT(name, From, To, expression)                                                            \
    ORVEX_KERNEL void name(const From* __restrict source, To* __restrict destination, size_t count) {        \
        for (size_t i = 0; i < count; ++i) {                                                                 \
            const From x = source[i];                                                                        \
            destination[i] = (expression);                                                                   \
        }                                                                                                    \
    }

ORVEX_CONVERT(u8ToU16, uint8_t, uint16_t, static_cast<uint16_t>(x * 257u))
ORVEX_CONVERT(u8ToF32, uint8_t, float, static_cast<float>(x) * (1.0f / 255.0f))
ORVEX_CONVERT(u8ToF64, uint8_t, double, static_cast<double>(x) * (1.0 / 255.0))
ORVEX_CONVERT(u16ToU8, uint16_t, uint8_t, static_cast<uint8_t>((static_cast<uint32_t>(x) + 127u) / 257u))
ORVEX_CONVERT(u16ToF32, uint16_t, float, static_cast<float>(x) * (1.0f / 65535.0f))
ORVEX_CONVERT(u16ToF64, uint16_t, double, static_cast<double>(x) * (1.0 / 65535.0))
ORVEX_CONVERT(f32ToU8, float, uint8_t, static_cast<uint8_t>(static_cast<int32_t>(clampScaled(x, 255.0f))))
ORVEX_CONVERT(f32ToU16, float, uint16_t,
              static_cast<uint16_t>(static_cast<int32_t>(clampScaled(x, 65535.0f))))
ORVEX_CONVERT(f32ToF64, float, double, static_cast<double>(x))
ORVEX_CONVERT(f64ToU8, double, uint8_t, static_cast<uint8_t>(static_cast<int32_t>(clampScaled(x, 255.0))))
ORVEX_CONVERT(f64ToU16, double, uint16_t,
              static_cast<uint16_t>(static_cast<int32_t>(clampScaled(x, 65535.0))))
ORVEX_CONVERT(f64ToF32, double, float, static_cast<float>(x))

#undef ORVEX_CONVERT

using ConvertFunction = void (*)(const void*, void*, size_t);

template <class From, class To, void (*Kernel)(const From*, To*, size_t)>
void erased(const void* source, void* destination, size_t count) {
    Kernel(static_cast<const From*>(source), static_cast<To*>(destination), count);
}

// Indexed by [~from][~to] for the four sample types; the diagonal is a plain copy.
const ConvertFunction conversionTable[4][4] = {
    {nullptr, erased<uint8_t, uint16_t, u8ToU16>, erased<uint8_t, float, u8ToF32>,
     erased<uint8_t, double, u8ToF64>},
    {erased<uint16_t, uint8_t, u16ToU8>, nullptr, erased<uint16_t, float, u16ToF32>,
     erased<uint16_t, double, u16ToF64>},
    {erased<float, uint8_t, f32ToU8>, erased<float, uint16_t, f32ToU16>, nullptr,
     erased<float, double, f32ToF64>},
    {erased<double, uint8_t, f64ToU8>, erased<double, uint16_t, f64ToU16>, erased<double, float, f64ToF32>,
     nullptr},
};

template <class T>
ORVEX_KERNEL void scatterTyped(const T* __restrict source, unsigned char* __restrict destination,
                               size_t stride, size_t count) {
    for (size_t i = 0; i < count; ++i) std::memcpy(destination + i * stride, source + i, sizeof(T));
}

template <class T>
ORVEX_KERNEL void gatherTyped(const unsigned char* __restrict source, size_t stride,
                              T* __restrict destination, size_t count) {
    for (size_t i = 0; i < count; ++i) std::memcpy(destination + i, source + i * stride, sizeof(T));
}

// Four 8-bit or 16-bit components are packed into one wider word per pixel: shifts and ors that
// the vectoriser turns into unpack instructions.
ORVEX_KERNEL void interleave4x8(const uint8_t* __restrict a, const uint8_t* __restrict b,
                                const uint8_t* __restrict c, const uint8_t* __restrict d,
                                unsigned char* __restrict out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t p = uint32_t(a[i]) | uint32_t(b[i]) << 8 | uint32_t(c[i]) << 16 | uint32_t(d[i]) << 24;
        std::memcpy(out + 4 * i, &p, 4);
    }
}
ORVEX_KERNEL void deinterleave4x8(const unsigned char* __restrict in, uint8_t* __restrict a,
                                  uint8_t* __restrict b, uint8_t* __restrict c, uint8_t* __restrict d,
                                  size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint32_t p;
        std::memcpy(&p, in + 4 * i, 4);
        a[i] = uint8_t(p);
        b[i] = uint8_t(p >> 8);
        c[i] = uint8_t(p >> 16);
        d[i] = uint8_t(p >> 24);
    }
}
ORVEX_KERNEL void interleave4x16(const uint16_t* __restrict a, const uint16_t* __restrict b,
                                 const uint16_t* __restrict c, const uint16_t* __restrict d,
                                 unsigned char* __restrict out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint64_t p =
            uint64_t(a[i]) | uint64_t(b[i]) << 16 | uint64_t(c[i]) << 32 | uint64_t(d[i]) << 48;
        std::memcpy(out + 8 * i, &p, 8);
    }
}
ORVEX_KERNEL void deinterleave4x16(const unsigned char* __restrict in, uint16_t* __restrict a,
                                   uint16_t* __restrict b, uint16_t* __restrict c, uint16_t* __restrict d,
                                   size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint64_t p;
        std::memcpy(&p, in + 8 * i, 8);
        a[i] = uint16_t(p);
        b[i] = uint16_t(p >> 16);
        c[i] = uint16_t(p >> 32);
        d[i] = uint16_t(p >> 48);
    }
}

// Channel rows are aligned tile memory; the interleaved side is a caller's buffer of any alignment,
// hence the byte copies (which compile to plain loads and stores).
template <class T, int N>
ORVEX_KERNEL void interleaveTyped(const void* const* sources, unsigned char* __restrict out, size_t count) {
    for (int c = 0; c < N; ++c) {
        const T* __restrict s = static_cast<const T*>(sources[c]);
        for (size_t i = 0; i < count; ++i) std::memcpy(out + (i * N + c) * sizeof(T), s + i, sizeof(T));
    }
}
template <class T, int N>
ORVEX_KERNEL void deinterleaveTyped(const unsigned char* __restrict in, void* const* destinations,
                                    size_t count) {
    for (int c = 0; c < N; ++c) {
        T* __restrict d = static_cast<T*>(destinations[c]);
        for (size_t i = 0; i < count; ++i) std::memcpy(d + i, in + (i * N + c) * sizeof(T), sizeof(T));
    }
}

template <class T>
bool interleaveBySize(const void* const* sources, int components, void* out, size_t count) {
    auto* o = static_cast<unsigned char*>(out);
    const void* const* s = sources;
    switch (components) {
    case 1:
        std::memcpy(o, s[0], count * sizeof(T));
        return true;
    case 2:
        interleaveTyped<T, 2>(s, o, count);
        return true;
    case 3:
        interleaveTyped<T, 3>(s, o, count);
        return true;
    case 4:
        interleaveTyped<T, 4>(s, o, count);
        return true;
    default:
        return false;
    }
}
template <class T>
bool deinterleaveBySize(const void* in, int components, void* const* destinations, size_t count) {
    const auto* i = static_cast<const unsigned char*>(in);
    void* const* d = destinations;
    switch (components) {
    case 1:
        std::memcpy(d[0], i, count * sizeof(T));
        return true;
    case 2:
        deinterleaveTyped<T, 2>(i, d, count);
        return true;
    case 3:
        deinterleaveTyped<T, 3>(i, d, count);
        return true;
    case 4:
        deinterleaveTyped<T, 4>(i, d, count);
        return true;
    default:
        return false;
    }
}

} // namespace

bool convertSamples(const void* source, int32_t sourceType, void* destination, int32_t destinationType,
                    size_t count) {
    if (!canConvert(sourceType, destinationType)) return false;
    if (count == 0) return true;
    if (sourceType == destinationType) {
        if (source != destination) std::memmove(destination, source, count * elementSizeOf(sourceType));
        return true;
    }
    conversionTable[~sourceType][~destinationType](source, destination, count);
    return true;
}

bool convertSample(const void* source, int32_t sourceType, void* destination, int32_t destinationType) {
    if (!canConvert(sourceType, destinationType)) return false;
    alignas(8) unsigned char in[8];
    alignas(8) unsigned char out[8];
    if (sourceType == destinationType) {
        std::memmove(destination, source, elementSizeOf(sourceType));
        return true;
    }
    std::memcpy(in, source, elementSizeOf(sourceType));
    conversionTable[~sourceType][~destinationType](in, out, 1);
    std::memcpy(destination, out, elementSizeOf(destinationType));
    return true;
}

bool writeMaxValue(int32_t type, void* destination) {
    switch (type) {
    case TypeU8:
        *static_cast<uint8_t*>(destination) = 255;
        return true;
    case TypeU16: {
        const uint16_t v = 65535;
        std::memcpy(destination, &v, sizeof v);
        return true;
    }
    case TypeF32: {
        const float v = 1.0f;
        std::memcpy(destination, &v, sizeof v);
        return true;
    }
    case TypeF64: {
        const double v = 1.0;
        std::memcpy(destination, &v, sizeof v);
        return true;
    }
    default:
        return false;
    }
}

void scatterElements(const void* source, void* destination, size_t stride, uint32_t elementSize,
                     size_t count) {
    auto* out = static_cast<unsigned char*>(destination);
    switch (elementSize) {
    case 1:
        scatterTyped(static_cast<const uint8_t*>(source), out, stride, count);
        return;
    case 2:
        scatterTyped(static_cast<const uint16_t*>(source), out, stride, count);
        return;
    case 4:
        scatterTyped(static_cast<const uint32_t*>(source), out, stride, count);
        return;
    case 8:
        scatterTyped(static_cast<const uint64_t*>(source), out, stride, count);
        return;
    default: {
        const auto* in = static_cast<const unsigned char*>(source);
        for (size_t i = 0; i < count; ++i) std::memcpy(out + i * stride, in + i * elementSize, elementSize);
    }
    }
}

void gatherElements(const void* source, size_t stride, void* destination, uint32_t elementSize,
                    size_t count) {
    const auto* in = static_cast<const unsigned char*>(source);
    switch (elementSize) {
    case 1:
        gatherTyped(in, stride, static_cast<uint8_t*>(destination), count);
        return;
    case 2:
        gatherTyped(in, stride, static_cast<uint16_t*>(destination), count);
        return;
    case 4:
        gatherTyped(in, stride, static_cast<uint32_t*>(destination), count);
        return;
    case 8:
        gatherTyped(in, stride, static_cast<uint64_t*>(destination), count);
        return;
    default: {
        auto* out = static_cast<unsigned char*>(destination);
        for (size_t i = 0; i < count; ++i) std::memcpy(out + i * elementSize, in + i * stride, elementSize);
    }
    }
}

void fillElements(const void* value, void* destination, size_t stride, uint32_t elementSize, size_t count) {
    auto* out = static_cast<unsigned char*>(destination);
    if (elementSize == 1 && stride == 1) {
        std::memset(out, *static_cast<const unsigned char*>(value), count);
        return;
    }
    for (size_t i = 0; i < count; ++i) std::memcpy(out + i * stride, value, elementSize);
}

bool interleaveRows(const void* const* sources, int components, uint32_t elementSize, void* destination,
                    size_t count) {
    if (components == 4 && elementSize == 1) {
        interleave4x8(static_cast<const uint8_t*>(sources[0]), static_cast<const uint8_t*>(sources[1]),
                      static_cast<const uint8_t*>(sources[2]), static_cast<const uint8_t*>(sources[3]),
                      static_cast<unsigned char*>(destination), count);
        return true;
    }
    if (components == 4 && elementSize == 2) {
        interleave4x16(static_cast<const uint16_t*>(sources[0]), static_cast<const uint16_t*>(sources[1]),
                       static_cast<const uint16_t*>(sources[2]), static_cast<const uint16_t*>(sources[3]),
                       static_cast<unsigned char*>(destination), count);
        return true;
    }
    switch (elementSize) {
    case 1:
        return interleaveBySize<uint8_t>(sources, components, destination, count);
    case 2:
        return interleaveBySize<uint16_t>(sources, components, destination, count);
    case 4:
        return interleaveBySize<uint32_t>(sources, components, destination, count);
    case 8:
        return interleaveBySize<uint64_t>(sources, components, destination, count);
    default:
        return false;
    }
}

bool deinterleaveRows(const void* source, int components, uint32_t elementSize, void* const* destinations,
                      size_t count) {
    if (components == 4 && elementSize == 1) {
        deinterleave4x8(static_cast<const unsigned char*>(source), static_cast<uint8_t*>(destinations[0]),
                        static_cast<uint8_t*>(destinations[1]), static_cast<uint8_t*>(destinations[2]),
                        static_cast<uint8_t*>(destinations[3]), count);
        return true;
    }
    if (components == 4 && elementSize == 2) {
        deinterleave4x16(static_cast<const unsigned char*>(source), static_cast<uint16_t*>(destinations[0]),
                         static_cast<uint16_t*>(destinations[1]), static_cast<uint16_t*>(destinations[2]),
                         static_cast<uint16_t*>(destinations[3]), count);
        return true;
    }
    switch (elementSize) {
    case 1:
        return deinterleaveBySize<uint8_t>(source, components, destinations, count);
    case 2:
        return deinterleaveBySize<uint16_t>(source, components, destinations, count);
    case 4:
        return deinterleaveBySize<uint32_t>(source, components, destinations, count);
    case 8:
        return deinterleaveBySize<uint64_t>(source, components, destinations, count);
    default:
        return false;
    }
}

} // namespace Orvex::DataStorage
