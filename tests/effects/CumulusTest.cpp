// The clouds renderer: the noise field, edge cases, cache behaviour, determinism, statistics.
#include "RenderTestSupport.h"
#include "document/filters/common/Noise.h"
#include "document/filters/cumulus/CumulusRenderer.h"

#include <gtest/gtest.h>

using namespace Orvex::Document::Filters;
using namespace TestSupport;

namespace {

using CloudRun = RenderRun;

CloudRun render(CumulusRenderer& renderer, CumulusParams p, int w, int h, int32_t type, const RectI& selected,
                int workers = 0, bool alpha = false) {
    const Ref<DataChannel> mask = makeMask(w, h, selected);
    MaskChannels masks;
    masks.mask = mask.get();
    CloudRun run = renderOn(renderer, p, makePlane(w, h, type, alpha), masks, workers);
    run.mask = mask;
    return run;
}

// A sky in the upper part of the image, as the demo uses.
const RectI sky{0, 0, 400, 160};

} // namespace

TEST(Cumulus, GridHasFourHundredCellsOnTheLongerSide) {
    auto g = CloudGrid::forImage(4000, 3000);
    EXPECT_EQ(g.width, 400);
    EXPECT_EQ(g.height, 300);
    EXPECT_DOUBLE_EQ(g.scale, 10.0);
    g = CloudGrid::forImage(300, 1001);
    EXPECT_EQ(g.height, 400);
    EXPECT_EQ(g.width, 120); // round(300 / 2.5025) = round(119.88)
}

TEST(Cumulus, NoiseFieldReproducesTheOctaveSum) {
    const CloudGrid grid = CloudGrid::forImage(200, 100);
    std::vector<float> a, b;
    RunContext context;
    ASSERT_TRUE(CumulusRenderer::buildNoise(50, grid, a, context));
    context.maxWorkers = 1;
    ASSERT_TRUE(CumulusRenderer::buildNoise(50, grid, b, context));
    EXPECT_EQ(a, b);
    EXPECT_FLOAT_EQ(*std::max_element(a.begin(), a.end()), 1.0f);
    // The cubic kernel's negative lobes allow slightly negative values.
    EXPECT_GT(*std::min_element(a.begin(), a.end()), -0.2f);
    // Two cells recomputed from the definition, relative to each other (normalisation cancels).
    auto raw = [](int y, int x) {
        double v = 0, ws = 0;
        for (int o = 0; o < 5; ++o) {
            const double c = std::pow(0.4, o), w = std::pow(0.7, o);
            v += w * Orvex::Document::Filters::Common::cubicValueNoise(2.5 * y / c / 50, x / c / 50, 29);
            ws += w;
        }
        return v / ws;
    };
    const size_t i1 = size_t(17) * grid.width + 31, i2 = size_t(60) * grid.width + 150;
    EXPECT_FLOAT_EQ(a[i1] / a[i2], float(raw(17, 31) / raw(60, 150)));
    // A different size gives a different field.
    ASSERT_TRUE(CumulusRenderer::buildNoise(20, grid, b, context));
    EXPECT_NE(a, b);
}

TEST(Cumulus, TransparencyHundredAndEmptySelectionLeaveTheImage) {
    for (int32_t type : {TypeU8, TypeU16, TypeF32}) {
        CumulusRenderer renderer;
        CumulusParams p = CumulusParams::defaults();
        p.transparency = 100;
        auto run = render(renderer, p, 400, 300, type, sky);
        EXPECT_EQ(planeBytes(*run.result), planeBytes(*run.source)) << type;
        auto none = render(renderer, CumulusParams::defaults(), 400, 300, type, RectI{});
        EXPECT_EQ(planeBytes(*none.result), planeBytes(*none.source)) << type;
    }
}

TEST(Cumulus, IdenticalBytesWhateverTheWorkerCount) {
    CumulusParams p = CumulusParams::defaults();
    p.layers = 8;
    std::vector<uint8_t> reference;
    for (int workers : {1, 2, 7}) {
        CumulusRenderer renderer;
        auto run = render(renderer, p, 421, 317, TypeU16, RectI{13, 5, 400, 190}, workers, true);
        const auto bytes = planeBytes(*run.result);
        if (reference.empty())
            reference = bytes;
        else
            EXPECT_EQ(bytes, reference) << workers << " workers";
    }
}

TEST(Cumulus, NoiseIsCachedPerSizeAndSelection) {
    CumulusRenderer renderer;
    CumulusParams p = CumulusParams::defaults();
    auto white = render(renderer, p, 400, 300, TypeU8, sky);
    EXPECT_EQ(renderer.noiseBuilds(), 1);
    p.color = 0xFFFF8040u;
    p.layers = 7;
    p.transparency = 20;
    auto tinted = render(renderer, p, 400, 300, TypeU8, sky);
    EXPECT_EQ(renderer.noiseBuilds(), 1);
    p.noiseSize = 30;
    render(renderer, p, 400, 300, TypeU8, sky);
    EXPECT_EQ(renderer.noiseBuilds(), 2);
    p.maskRevision = 5;
    render(renderer, p, 400, 300, TypeU8, sky);
    EXPECT_EQ(renderer.noiseBuilds(), 3);
}

TEST(Cumulus, ColourChangesTintNotShape) {
    CumulusRenderer renderer;
    CumulusParams p = CumulusParams::defaults();
    auto white = render(renderer, p, 400, 300, TypeF32, sky);
    p.color = 0xFFFF6020u;
    auto orange = render(renderer, p, 400, 300, TypeF32, sky);
    const auto src = planeFloats(*white.source), a = planeFloats(*white.result),
               b = planeFloats(*orange.result);
    int changedA = 0, sameWhere = 0, warmer = 0;
    for (size_t i = 0; i < src.size(); i += 4) {
        const bool ca = a[i] != src[i] || a[i + 2] != src[i + 2];
        const bool cb = b[i] != src[i] || b[i + 2] != src[i + 2];
        changedA += ca;
        sameWhere += ca == cb;
        warmer += cb && (b[i] - b[i + 2]) > (a[i] - a[i + 2]) + 1e-4f;
    }
    EXPECT_GT(changedA, 1000);
    EXPECT_EQ(sameWhere, int(src.size() / 4)) << "the clouds cover the same pixels";
    EXPECT_GT(warmer, changedA / 2);
}

TEST(Cumulus, CloudsStayInTheSelectionAndBrightenTheSky) {
    CumulusRenderer renderer;
    auto run = render(renderer, CumulusParams::defaults(), 400, 300, TypeU8, sky);
    const auto before = planeFloats(*run.source), after = planeFloats(*run.result);
    long inside = 0, changedInside = 0, changedOutside = 0;
    double gain = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x) {
            const size_t i = (size_t(y) * 400 + x) * 4;
            const bool changed =
                after[i] != before[i] || after[i + 1] != before[i + 1] || after[i + 2] != before[i + 2];
            if (y < 160) {
                ++inside;
                changedInside += changed;
                gain += after[i] + after[i + 1] + after[i + 2] - before[i] - before[i + 1] - before[i + 2];
            } else if (y >= 162) { // a grid cell of rounding at the border
                changedOutside += changed;
            }
        }
    EXPECT_EQ(changedOutside, 0);
    EXPECT_GT(double(changedInside) / inside, 0.05);
    EXPECT_GT(gain / inside, 0.01) << "white clouds brighten the sky";
}

TEST(Cumulus, CancelledNoiseForcesTheNextRun) {
    CumulusRenderer renderer;
    CumulusParams p = CumulusParams::defaults();
    auto source = makePlane(200, 100, TypeU8);
    auto result = emptyLike(*source);
    auto mask = makeMask(200, 100, RectI{0, 0, 200, 50});
    std::atomic<bool> cancel{true};
    RunContext context;
    context.cancelFlag = &cancel;
    MaskChannels masks;
    masks.mask = mask.get();
    EXPECT_EQ(renderer.process(p, *source, masks, *result, context), RunOutcome::Cancelled);
    EXPECT_EQ(p.layers, -1);
    EXPECT_EQ(renderer.noiseBuilds(), 0);
    EXPECT_EQ(planeBytes(*result), planeBytes(*source));
}
