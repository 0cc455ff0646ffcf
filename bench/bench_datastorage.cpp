// Data movement of the tiled image data (12-megapixel planes and channels) and the overhead of the
// jobs pool. Every data figure is also given as a ratio to memcpy of the same bytes in this run.
#include "datastorage/DataStorage.h"
#include "mt/JobsPool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

using namespace Orvex;
using namespace Orvex::DataStorage;

namespace {

constexpr int Width = 4000, Height = 3000; // 12 megapixels
constexpr double Megapixels = Width * double(Height) / 1e6;

// Best of `runs` timings in seconds (the first call warms caches and allocations up).
double bestOf(int runs, const std::function<void()>& work) {
    work();
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// memcpy of `bytes` between two touched buffers.
double memcpyTime(size_t bytes) {
    static std::vector<unsigned char> from, to;
    if (from.size() < bytes) {
        from.assign(bytes, 1);
        to.assign(bytes, 2);
    }
    return bestOf(5, [&] { std::memcpy(to.data(), from.data(), bytes); });
}

void report(const char* name, double seconds, size_t bytes, bool perPixel = true) {
    if (perPixel)
        std::printf("bench: %s %.1f MP/s\n", name, Megapixels / seconds);
    else
        std::printf("bench: %s %.1f MB/s\n", name, bytes / seconds / 1e6);
    std::printf("bench: %s_vs_memcpy %.2f ratio\n", name, seconds / memcpyTime(bytes));
}

std::vector<unsigned char> noise(size_t bytes) {
    std::vector<unsigned char> v(bytes);
    uint32_t state = 12345;
    for (auto& b : v) {
        state = state * 214013u + 2531011u;
        b = uint8_t(state >> 16);
    }
    return v;
}

void planeFigures() {
    const RectI all{0, 0, Width, Height};
    const PixelFormat rgba8 = PixelFormat::fromMask(MaskRGBA, TypeU8);
    const PixelFormat rgba16 = PixelFormat::fromMask(MaskRGBA, TypeU16);
    const size_t bytes8 = size_t(Width) * Height * 4, bytes16 = bytes8 * 2;
    const auto source8 = noise(bytes8);
    const auto source16 = noise(bytes16);
    std::vector<unsigned char> out8(bytes8), out16(bytes16);

    auto plane8 = makeRef<PixelPlane>(MaskRGBA, TypeU8, SizeI{Width, Height});
    auto plane16 = makeRef<PixelPlane>(MaskRGBA, TypeU16, SizeI{Width, Height});
    setData(*plane8, all, source8.data(), 0, rgba8);
    setData(*plane16, all, source16.data(), 0, rgba16);

    report("plane_set_rgba8", bestOf(5, [&] { setData(*plane8, all, source8.data(), 0, rgba8); }), bytes8);
    report("plane_get_rgba8", bestOf(5, [&] { getData(*plane8, all, out8.data(), 0, rgba8); }), bytes8);
    report("plane_set_rgba16", bestOf(5, [&] { setData(*plane16, all, source16.data(), 0, rgba16); }),
           bytes16);
    report("plane_get_rgba16", bestOf(5, [&] { getData(*plane16, all, out16.data(), 0, rgba16); }), bytes16);
    // Converting: the bytes compared are those of the larger (16-bit) side.
    report("plane_get_rgba8_as16", bestOf(5, [&] { getData(*plane8, all, out16.data(), 0, rgba16); }),
           bytes16);
    report("plane_set_rgba8_from16", bestOf(5, [&] { setData(*plane8, all, source16.data(), 0, rgba16); }),
           bytes16);
    report("plane_get_rgba16_as8", bestOf(5, [&] { getData(*plane16, all, out8.data(), 0, rgba8); }),
           bytes16);
    report("plane_set_rgba16_from8", bestOf(5, [&] { setData(*plane16, all, source8.data(), 0, rgba8); }),
           bytes16);
}

void conversionFigures() {
    const size_t n = size_t(Width) * Height;
    std::vector<uint8_t> u8(n);
    std::vector<uint16_t> u16(n);
    std::vector<float> f32(n);
    const auto seed = noise(n);
    std::memcpy(u8.data(), seed.data(), n);
    convertSamples(u8.data(), TypeU8, u16.data(), TypeU16, n);
    convertSamples(u8.data(), TypeU8, f32.data(), TypeF32, n);
    struct Case {
        const char* name;
        const void* from;
        int32_t fromType;
        void* to;
        int32_t toType;
    };
    const Case cases[] = {
        {"convert_u8_to_u16", u8.data(), TypeU8, u16.data(), TypeU16},
        {"convert_u16_to_u8", u16.data(), TypeU16, u8.data(), TypeU8},
        {"convert_u8_to_f32", u8.data(), TypeU8, f32.data(), TypeF32},
        {"convert_f32_to_u8", f32.data(), TypeF32, u8.data(), TypeU8},
        {"convert_u16_to_f32", u16.data(), TypeU16, f32.data(), TypeF32},
        {"convert_f32_to_u16", f32.data(), TypeF32, u16.data(), TypeU16},
    };
    for (const Case& c : cases) {
        const double t = bestOf(5, [&] { convertSamples(c.from, c.fromType, c.to, c.toType, n); });
        // Compared with memcpy of the larger side's bytes.
        const size_t bytes = n * std::max(elementSizeOf(c.fromType), elementSizeOf(c.toType));
        std::printf("bench: %s %.0f Msamples/s\n", c.name, n / t / 1e6);
        std::printf("bench: %s_vs_memcpy %.2f ratio\n", c.name, t / memcpyTime(bytes));
    }
}

void channelFigures() {
    const SizeI size{Width, Height};
    const size_t bytes = size_t(Width) * Height;
    const auto data = noise(bytes);
    auto source = makeRef<DataChannel>(size, TypeU8);
    setData(*source, source->bounds(), data.data(), 0);

    const double create = bestOf(5, [&] { makeRef<DataChannel>(size, TypeU8); });
    std::printf("bench: channel_new_12mp %.1f us\n", create * 1e6);

    auto target = makeRef<DataChannel>(size, TypeU8);
    report("channel_copy_shared", bestOf(5, [&] { copyChannel(*target, *source, source->bounds()); }), bytes);
    // Off the tile grid by one pixel: every sample is copied.
    report("channel_copy_unaligned",
           bestOf(5,
                  [&] {
                      copyChannel(*target, *source, source->bounds(), PointI{1, 1});
                  }),
           bytes);
    auto target16 = makeRef<DataChannel>(size, TypeU16);
    report("channel_copy_u8_to_u16", bestOf(5, [&] { copyChannel(*target16, *source, source->bounds()); }),
           bytes * 2);

    // The whole-plane fast path: channels taken by reference.
    auto planeA = makeRef<PixelPlane>(MaskRGBA, TypeU8, size);
    auto planeB = makeRef<PixelPlane>(MaskRGBA, TypeU8, size);
    const double planeCopy = bestOf(5, [&] { copyPlane(*planeB, *planeA, MaskRGBA, planeA->bounds()); });
    std::printf("bench: plane_copy_whole_12mp %.2f us\n", planeCopy * 1e6);
}

void poolFigures() {
    MT::JobsPool& pool = MT::JobsPool::instance();
    const double loop = bestOf(50, [&] {
        MT::parallelFor(
            0, 1000, [](uint32_t, uint32_t) {}, 1, 0);
    });
    std::printf("bench: parallel_for_1000_empty %.1f us\n", loop * 1e6);
    const double chunks = bestOf(50, [&] {
        const uint32_t group = pool.submitRange([](uint32_t, uint32_t) {}, 0, 1000, 1);
        pool.wait(group);
    });
    std::printf("bench: pool_1000_empty_chunks %.1f us\n", chunks * 1e6);
    std::printf("jobs pool workers: %d\n", pool.workerCount());
}

} // namespace

int main() {
    std::printf("12-megapixel image data (%d x %d), best of 5\n", Width, Height);
    planeFigures();
    conversionFigures();
    channelFigures();
    poolFigures();
    return 0;
}
