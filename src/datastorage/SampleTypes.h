#pragma once

#include <cstddef>
#include <cstdint>

namespace Orvex::DataStorage {

/// Sample type codes. A positive code n is an opaque element of n bytes, never converted.
enum SampleType : int32_t {
    TypeU8 = -1,  ///< unsigned 8-bit, 0 ... 255
    TypeU16 = -2, ///< unsigned 16-bit, 0 ... 65535
    TypeF32 = -3, ///< float, 0.0 ... 1.0
    TypeF64 = -4, ///< double, 0.0 ... 1.0
};

/// True for the four convertible sample types (-1 ... -4).
constexpr bool isSampleType(int32_t type) {
    return type <= -1 && type >= -4;
}

/// Bytes per element: 1, 2, 4, 8 for -1 ... -4, n for an opaque n > 0, and 0 for everything else
/// (0 and codes below -4 are not valid types).
constexpr uint32_t elementSizeOf(int32_t type) {
    return isSampleType(type) ? (1u << ~type) : type > 0 ? static_cast<uint32_t>(type) : 0u;
}

/// Whether samples of type `from` can be converted to `to`: any valid type to itself, and any pair
/// of the four sample types.
constexpr bool canConvert(int32_t from, int32_t to) {
    return (from == to && elementSizeOf(from) != 0) || (isSampleType(from) && isSampleType(to));
}

/// The C++ type of a sample type code, for typed element access.
template <int32_t Type> struct SampleOf;
template <> struct SampleOf<TypeU8> { using type = uint8_t; };
template <> struct SampleOf<TypeU16> { using type = uint16_t; };
template <> struct SampleOf<TypeF32> { using type = float; };
template <> struct SampleOf<TypeF64> { using type = double; };

/// The sample type code of a C++ sample type (`typeCodeOf<uint16_t>` is -2).
// Inline: the explicit specialisations are definitions, one per translation unit otherwise.
template <class T> inline constexpr int32_t typeCodeOf = 0;
template <> inline constexpr int32_t typeCodeOf<uint8_t> = TypeU8;
template <> inline constexpr int32_t typeCodeOf<uint16_t> = TypeU16;
template <> inline constexpr int32_t typeCodeOf<float> = TypeF32;
template <> inline constexpr int32_t typeCodeOf<double> = TypeF64;

/// Converts `count` contiguous samples. Integer to real scales by 1/255 or 1/65535 in the precision
/// of the result; u8 to u16 multiplies by 257; u16 to u8 is (x + 127) / 257; real to integer is
/// trunc(x * max + 0.5) clamped to the type's range (NaN gives 0). Equal types are copied (also
/// opaque ones). Returns false, touching nothing, for a pair that cannot be converted.
/// Source and destination must not overlap unless they are the same pointer with equal types.
bool convertSamples(const void* source, int32_t sourceType, void* destination, int32_t destinationType,
                    size_t count);

/// Converts one sample (for solid tiles and single elements); false when the pair cannot be converted.
bool convertSample(const void* source, int32_t sourceType, void* destination, int32_t destinationType);

/// Writes the maximum of a sample type (255, 65535, 1.0f, 1.0) to `destination`; false for opaque
/// or invalid types.
bool writeMaxValue(int32_t type, void* destination);

// Strided element moves (the interleaving steps of the plane operations). Strides are in bytes.

/// Copies `count` elements of `elementSize` bytes from contiguous `source` to `destination`
/// elements `destinationStride` bytes apart.
void scatterElements(const void* source, void* destination, size_t destinationStride, uint32_t elementSize,
                     size_t count);
/// Copies `count` elements `sourceStride` bytes apart into contiguous `destination`.
void gatherElements(const void* source, size_t sourceStride, void* destination, uint32_t elementSize,
                    size_t count);
/// Writes one element value into `count` elements `destinationStride` bytes apart.
void fillElements(const void* value, void* destination, size_t destinationStride, uint32_t elementSize,
                  size_t count);

/// Interleaves `components` (1 ... 4) contiguous rows of `elementSize` (1, 2, 4 or 8) bytes into
/// packed pixels of `components` elements. False (nothing done) for other shapes.
bool interleaveRows(const void* const* sources, int components, uint32_t elementSize, void* destination,
                    size_t count);
/// The inverse of `interleaveRows`.
bool deinterleaveRows(const void* source, int components, uint32_t elementSize, void* const* destinations,
                      size_t count);

} // namespace Orvex::DataStorage
