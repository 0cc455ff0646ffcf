// Throughput of the combiners, the resampler and the effects' blurs on 12-megapixel data.
// Prints `bench: <name> <value> <unit>` lines; data-movement figures also as a ratio to memcpy of
// the same bytes (read plus written) timed in the same run. Each figure is the best of a few runs.

#include "datastorage/BlendModes.h"
#include "datastorage/RescaleSumming.h"
#include "document/filters/common/BoxGaussian.h"
#include "document/filters/common/ChannelBlur.h"
#include "document/filters/common/RecursiveGaussian.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace Orvex;
using namespace Orvex::DataStorage;
namespace Common = Orvex::Document::Filters::Common;

namespace {

constexpr int kW = 4000, kH = 3000;
constexpr double kMP = double(kW) * kH / 1e6;

double bestSeconds(const std::function<void()>& run, int repeats = 4) {
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        run();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    return best;
}

void print(const std::string& name, double value, const char* unit) {
    std::printf("bench: %s %.3f %s\n", name.c_str(), value, unit);
    std::fflush(stdout);
}

double memcpySeconds(size_t bytes) {
    std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
    return bestSeconds([&] { std::memcpy(to.data(), from.data(), bytes); });
}

Ref<DataChannel> randomChannel(int32_t type, uint32_t seed) {
    auto c = makeRef<DataChannel>(kW, kH, type);
    std::mt19937 rng(seed);
    const size_t n = size_t(kW) * kH;
    if (type == -1) {
        std::vector<uint8_t> v(n);
        for (auto& x : v) x = uint8_t(rng());
        setData(*c, c->bounds(), v.data(), 0);
    } else if (type == -2) {
        std::vector<uint16_t> v(n);
        for (auto& x : v) x = uint16_t(rng());
        setData(*c, c->bounds(), v.data(), 0);
    } else {
        std::vector<float> v(n);
        for (auto& x : v) x = float(rng() % 100001) / 100000.0f;
        setData(*c, c->bounds(), v.data(), 0);
    }
    return c;
}

const char* typeName(int32_t t) {
    return t == -1 ? "u8" : t == -2 ? "u16" : "f32";
}

void benchBlends() {
    for (int32_t t : {-1, -2, -3}) {
        auto cb = randomChannel(t, 1), ab = randomChannel(t, 2), cs = randomChannel(t, 3),
             as = randomChannel(t, 4);
        const size_t bytes = size_t(kW) * kH * elementSizeOf(t) * 5; // four read, one written
        const double copy = memcpySeconds(bytes);
        for (int code : {BlendModeCode::Normal, BlendModeCode::Overlay}) {
            Ref<BaseDataProcessing> m = createBlendMode(code, t, t, t, t);
            const std::string name = std::string("blend_") +
                                     (code == BlendModeCode::Normal ? "normal_" : "overlay_") + typeName(t);
            const double vector = bestSeconds([&] { apply(*m, *cb, *cb, *ab, *cs, *as); });
            print(name, kMP / vector, "MP/s");
            print(name + "_vs_memcpy", vector / copy, "ratio");
            setVectorKernelsEnabled(false);
            const double scalar = bestSeconds([&] { apply(*m, *cb, *cb, *ab, *cs, *as); });
            setVectorKernelsEnabled(true);
            print(name + "_scalar", kMP / scalar, "MP/s");
            print(name + "_vector_speedup", scalar / vector, "ratio");
        }
    }
    // Tiles that need no kernel: a fully transparent source (skipped) and all-solid inputs.
    auto cb = makeRef<DataChannel>(kW, kH, -1), ab = makeRef<DataChannel>(kW, kH, -1);
    auto cs = makeRef<DataChannel>(kW, kH, -1), as = makeRef<DataChannel>(kW, kH, -1);
    const uint8_t full = 255, grey = 100;
    ab->fill(&full);
    cs->fill(&grey);
    Ref<BaseDataProcessing> normal = createBlendMode(BlendModeCode::Normal, -1, -1, -1, -1);
    const double copy = memcpySeconds(size_t(kW) * kH * 5);
    const double skipped = bestSeconds([&] { apply(*normal, *cb, *cb, *ab, *cs, *as); });
    print("blend_normal_u8_transparent_source", kMP / skipped, "MP/s");
    print("blend_normal_u8_transparent_source_vs_memcpy", skipped / copy, "ratio");
    const uint8_t half = 128;
    as->fill(&half);
    const double solid = bestSeconds([&] { apply(*normal, *cb, *cb, *ab, *cs, *as); });
    print("blend_normal_u8_solid_tiles", kMP / solid, "MP/s");
    print("blend_normal_u8_solid_tiles_vs_memcpy", solid / copy, "ratio");
}

void benchRescale() {
    auto src = randomChannel(-1, 9);
    auto dst = makeRef<DataChannel>(1155, 866, -1);
    const double seconds = bestSeconds([&] { rescaleSumming<unsigned char>(*src, *dst); });
    print("rescale_summing_12mp_to_1mp", kMP / seconds, "MP/s");
    const double copy = memcpySeconds(size_t(kW) * kH + 1155 * 866);
    print("rescale_summing_12mp_to_1mp_vs_memcpy", seconds / copy, "ratio");
}

void benchBlurs() {
    std::vector<float> image(size_t(kW) * kH);
    std::mt19937 rng(5);
    for (float& v : image) v = float(rng() % 1000) / 1000.0f;
    std::vector<float> work(image.size());
    auto channel = randomChannel(-3, 11);
    auto out = makeRef<DataChannel>(kW, kH, -3);
    for (double sigma : {2.0, 10.0, 50.0}) {
        const std::string s = std::to_string(int(sigma));
        const double box = bestSeconds(
            [&] { Common::boxGaussianBlur(image.data(), kW, work.data(), kW, kW, kH, sigma, sigma); }, 3);
        print("box_gaussian_f32_sigma" + s, kMP / box, "MP/s");
        print("box_gaussian_f32_sigma" + s + "_per_pass", 6 * kMP / box, "MP/s"); // 3 passes x 2 axes
        const double recursive = bestSeconds(
            [&] {
                std::memcpy(work.data(), image.data(), image.size() * sizeof(float));
                Common::recursiveGaussianBlur(work.data(), kW, kW, kH, sigma, sigma);
            },
            3);
        print("recursive_gaussian_f32_sigma" + s, kMP / recursive, "MP/s");
        print("recursive_gaussian_f32_sigma" + s + "_per_pass", 2 * kMP / recursive, "MP/s"); // rows, columns
        const double tiled = bestSeconds(
            [&] { Common::boxGaussianBlurChannel(*channel, *out, channel->bounds(), sigma, sigma); }, 3);
        print("box_gaussian_channel_f32_sigma" + s, kMP / tiled, "MP/s");
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "blend") benchBlends();
    if (only.empty() || only == "rescale") benchRescale();
    if (only.empty() || only == "blur") benchBlurs();
    return 0;
}
