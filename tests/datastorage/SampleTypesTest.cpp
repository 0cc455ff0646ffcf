#include "datastorage/SampleTypes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace Orvex::DataStorage;

namespace {
template <class From, class To> To convertOne(From value) {
    To out{};
    EXPECT_TRUE(convertSample(&value, typeCodeOf<From>, &out, typeCodeOf<To>));
    return out;
}
} // namespace

TEST(SampleTypes, SizesAndValidity) {
    EXPECT_EQ(elementSizeOf(TypeU8), 1u);
    EXPECT_EQ(elementSizeOf(TypeU16), 2u);
    EXPECT_EQ(elementSizeOf(TypeF32), 4u);
    EXPECT_EQ(elementSizeOf(TypeF64), 8u);
    EXPECT_EQ(elementSizeOf(12), 12u);
    EXPECT_EQ(elementSizeOf(0), 0u);
    EXPECT_EQ(elementSizeOf(-5), 0u);
    EXPECT_EQ(elementSizeOf(std::numeric_limits<int32_t>::min()), 0u);
    EXPECT_TRUE(canConvert(TypeU8, TypeF64));
    EXPECT_TRUE(canConvert(7, 7));
    EXPECT_FALSE(canConvert(2, TypeU16)); // an opaque 2-byte element is not a u16 sample
    EXPECT_FALSE(canConvert(TypeU8, 1));
    EXPECT_FALSE(canConvert(0, 0));
}

TEST(SampleConversion, IntegerBoundaries) {
    EXPECT_EQ((convertOne<uint8_t, uint16_t>(0)), 0);
    EXPECT_EQ((convertOne<uint8_t, uint16_t>(127)), 127 * 257);
    EXPECT_EQ((convertOne<uint8_t, uint16_t>(128)), 128 * 257);
    EXPECT_EQ((convertOne<uint8_t, uint16_t>(255)), 65535);
    EXPECT_EQ((convertOne<uint16_t, uint8_t>(65535)), 255);
    EXPECT_EQ((convertOne<uint16_t, uint8_t>(0)), 0);
    // (x + 127) / 257 rounds to nearest: 128 is still below half a step of 257.
    EXPECT_EQ((convertOne<uint16_t, uint8_t>(127)), 0);
    EXPECT_EQ((convertOne<uint16_t, uint8_t>(128)), 0);
    EXPECT_EQ((convertOne<uint16_t, uint8_t>(129)), 0);
    EXPECT_EQ((convertOne<uint16_t, uint8_t>(130)), 1);
    EXPECT_EQ((convertOne<uint16_t, uint8_t>(128 * 257)), 128);
    // Every u8 survives a trip through u16, float and double.
    for (int v = 0; v < 256; ++v) {
        const auto u8 = uint8_t(v);
        EXPECT_EQ((convertOne<uint16_t, uint8_t>(convertOne<uint8_t, uint16_t>(u8))), u8);
        EXPECT_EQ((convertOne<float, uint8_t>(convertOne<uint8_t, float>(u8))), u8);
        EXPECT_EQ((convertOne<double, uint8_t>(convertOne<uint8_t, double>(u8))), u8);
    }
    for (int v = 0; v < 65536; v += 7) {
        const auto u16 = uint16_t(v);
        EXPECT_EQ((convertOne<float, uint16_t>(convertOne<uint16_t, float>(u16))), u16);
    }
}

TEST(SampleConversion, RealsAtAndBeyondTheRange) {
    EXPECT_FLOAT_EQ((convertOne<uint8_t, float>(255)), 1.0f);
    EXPECT_DOUBLE_EQ((convertOne<uint16_t, double>(65535)), 1.0);
    EXPECT_EQ((convertOne<float, uint8_t>(0.5f)), 128); // trunc(127.5 + 0.5)
    EXPECT_EQ((convertOne<float, uint16_t>(1.0f)), 65535);
    // Out of range reals are clamped, NaN gives 0.
    EXPECT_EQ((convertOne<float, uint8_t>(1.5f)), 255);
    EXPECT_EQ((convertOne<float, uint8_t>(-0.5f)), 0);
    EXPECT_EQ((convertOne<double, uint16_t>(1e30)), 65535);
    EXPECT_EQ((convertOne<double, uint16_t>(-1e30)), 0);
    EXPECT_EQ((convertOne<float, uint8_t>(std::numeric_limits<float>::quiet_NaN())), 0);
    EXPECT_EQ((convertOne<float, uint16_t>(std::numeric_limits<float>::infinity())), 65535);
    EXPECT_DOUBLE_EQ((convertOne<float, double>(0.25f)), 0.25);
    EXPECT_FLOAT_EQ((convertOne<double, float>(0.75)), 0.75f);
}

TEST(SampleConversion, VectorLoopsMatchTheScalarFormulaWithTails) {
    // Lengths around vector widths check the scalar tails of the vectorised loops.
    for (size_t n : {1u, 3u, 7u, 8u, 15u, 16u, 17u, 31u, 33u, 64u, 4096u}) {
        std::vector<uint16_t> source(n);
        for (size_t i = 0; i < n; ++i) source[i] = uint16_t(i * 4099u + 17u);
        std::vector<uint8_t> bytes(n + 1, 0xAB);
        ASSERT_TRUE(convertSamples(source.data(), TypeU16, bytes.data(), TypeU8, n));
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(bytes[i], (source[i] + 127u) / 257u);
        EXPECT_EQ(bytes[n], 0xAB) << "wrote past the end";
        std::vector<float> reals(n);
        ASSERT_TRUE(convertSamples(source.data(), TypeU16, reals.data(), TypeF32, n));
        for (size_t i = 0; i < n; ++i) ASSERT_FLOAT_EQ(reals[i], source[i] * (1.0f / 65535.0f));
    }
}

TEST(SampleConversion, OpaqueTypesAreRefused) {
    uint32_t in = 0x01020304, out = 0;
    EXPECT_FALSE(convertSamples(&in, 4, &out, TypeF32, 1));
    EXPECT_FALSE(convertSamples(&in, TypeF32, &out, 4, 1));
    EXPECT_EQ(out, 0u);
    EXPECT_TRUE(convertSamples(&in, 4, &out, 4, 1)); // equal opaque types are copied
    EXPECT_EQ(out, in);
    EXPECT_FALSE(convertSamples(&in, 0, &out, 0, 1));
    EXPECT_FALSE(writeMaxValue(3, &out));
}

TEST(SampleConversion, InterleavingRoundTrips) {
    for (uint32_t size : {1u, 2u, 4u, 8u}) {
        for (int components = 1; components <= 4; ++components) {
            const size_t n = 37;
            std::vector<std::vector<unsigned char>> rows(components, std::vector<unsigned char>(n * size));
            const void* sources[4];
            void* targets[4];
            std::vector<std::vector<unsigned char>> back(components, std::vector<unsigned char>(n * size));
            for (int c = 0; c < components; ++c) {
                for (size_t i = 0; i < n * size; ++i) rows[c][i] = uint8_t(c * 31 + i * 7);
                sources[c] = rows[c].data();
                targets[c] = back[c].data();
            }
            std::vector<unsigned char> packed(n * size * components + 1);
            // Off by one byte: the interleaved side may have any alignment.
            ASSERT_TRUE(interleaveRows(sources, components, size, packed.data() + 1 - 1, n));
            for (size_t i = 0; i < n; ++i)
                for (int c = 0; c < components; ++c)
                    ASSERT_EQ(0, memcmp(&packed[(i * components + c) * size], &rows[c][i * size], size));
            ASSERT_TRUE(deinterleaveRows(packed.data(), components, size, targets, n));
            for (int c = 0; c < components; ++c) EXPECT_EQ(back[c], rows[c]);
        }
    }
    EXPECT_FALSE(interleaveRows(nullptr, 5, 1, nullptr, 0));
}
