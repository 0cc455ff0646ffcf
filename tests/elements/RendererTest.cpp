// The fire, frost and water renderers on planes: worker counts, sample types, caches, bad input.
#include "../effects/RenderTestSupport.h"
#include "ElementsTestSupport.h"

#include "document/filters/fire/FireRenderer.h"
#include "document/filters/frost/FrostRenderer.h"
#include "document/filters/water/WaterRenderer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

using namespace Orvex::Document::Filters;
using namespace TestSupport;

namespace {

template <class Renderer, class Params>
RenderRun render(Renderer& renderer, Params params, int w, int h, int32_t type, const RectI& selected,
                 int workers = 0, RunMode mode = RunMode::Normal, const std::atomic<bool>* cancel = nullptr) {
    const Ref<DataChannel> mask = makeMask(w, h, selected);
    MaskChannels masks;
    masks.mask = mask.get();
    RenderRun run = renderOn(renderer, params, makePlane(w, h, type, true), masks, workers, cancel, mode);
    run.mask = mask;
    return run;
}

// Mean of (red - blue) over the pixels the effect changed, and how many it changed.
std::pair<double, int> changedRedMinusBlue(const RenderRun& run) {
    const auto a = planeFloats(*run.source), b = planeFloats(*run.result);
    double sum = 0;
    int changed = 0;
    for (std::size_t i = 0; i < a.size(); i += 4)
        if (std::fabs(a[i] - b[i]) + std::fabs(a[i + 2] - b[i + 2]) > 0.05f) {
            sum += b[i] - b[i + 2];
            ++changed;
        }
    return {changed ? sum / changed : 0.0, changed};
}

FireParams quickFire() {
    FireParams p = FireParams::defaults();
    p.flames = 80;
    p.width = 5;
    p.height = 30;
    return p;
}

FrostParams quickFrost() {
    return FrostParams::defaults();
}

} // namespace

// ---- Fire -------------------------------------------------------------------------------------

TEST(FireRenderer, IdenticalBytesWhateverTheWorkerCount) {
    std::vector<uint8_t> reference;
    for (int workers : {1, 2, 7}) {
        FireRenderer renderer;
        const RenderRun run =
            render(renderer, quickFire(), 333, 222, TypeU8, RectI{37, 150, 301, 222}, workers);
        const auto bytes = planeBytes(*run.result);
        if (reference.empty()) reference = bytes;
        EXPECT_EQ(bytes, reference) << workers << " workers";
    }
}

TEST(FireRenderer, SelectionsEmptyOnePixelAndWhole) {
    FireRenderer renderer;
    const RenderRun none = render(renderer, quickFire(), 120, 90, TypeU8, RectI{});
    EXPECT_EQ(planeBytes(*none.result), planeBytes(*none.source));
    EXPECT_EQ(renderer.drawingCount(), 0);
    FireParams p = quickFire();
    p.maskRevision = 1; // every selection change bumps the revision
    const RenderRun dot = render(renderer, p, 120, 90, TypeU8, RectI{60, 80, 61, 81});
    EXPECT_GT(changedRedMinusBlue(dot).second, 20);
    p.maskRevision = 2;
    const RenderRun all = render(renderer, p, 120, 90, TypeU8, RectI{0, 0, 120, 90});
    EXPECT_GT(changedRedMinusBlue(all).second, 120 * 90 / 4);
    EXPECT_EQ(renderer.drawingCount(), 2);
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 200}, std::pair{600, 1}}) {
        FireRenderer thin;
        EXPECT_EQ(render(thin, quickFire(), w, h, TypeU8, RectI{0, 0, w, h}).outcome, RunOutcome::Done);
    }
}

TEST(FireRenderer, HueTurnsOrangeFlamesBlueAndOnlyRecomposes) {
    FireRenderer renderer;
    FireParams p = quickFire();
    const RectI ground{0, 100, 200, 150};
    const auto orange = changedRedMinusBlue(render(renderer, p, 200, 150, TypeU8, ground));
    EXPECT_GT(orange.first, 0.15);
    p.hue = 180;
    p.transparency = 30;
    const auto blue = changedRedMinusBlue(render(renderer, p, 200, 150, TypeU8, ground));
    EXPECT_LT(blue.first, -0.1);
    EXPECT_EQ(renderer.drawingCount(), 1) << "hue and transparency reuse the flame canvas";
    p.maskRevision = 1;
    render(renderer, p, 200, 150, TypeU8, ground);
    EXPECT_EQ(renderer.drawingCount(), 2) << "a new selection redraws";
}

TEST(FireRenderer, SampleTypesAgreeAndCancellationRedraws) {
    std::vector<float> reference;
    for (int32_t type : {TypeU8, TypeU16, TypeF32}) {
        FireRenderer renderer;
        const auto values =
            planeFloats(*render(renderer, quickFire(), 160, 120, type, RectI{0, 80, 160, 120}).result);
        if (reference.empty()) reference = values;
        double worst = 0;
        for (std::size_t i = 0; i < values.size(); ++i)
            worst = std::max(worst, double(std::fabs(values[i] - reference[i])));
        EXPECT_LT(worst, 2.5 / 255.0) << type;
    }
    FireRenderer renderer;
    std::atomic<bool> cancel{true};
    EXPECT_EQ(
        render(renderer, quickFire(), 160, 120, TypeU8, RectI{0, 80, 160, 120}, 0, RunMode::Normal, &cancel)
            .outcome,
        RunOutcome::Cancelled);
    EXPECT_EQ(renderer.drawingCount(), 0);
    render(renderer, quickFire(), 160, 120, TypeU8, RectI{0, 80, 160, 120});
    EXPECT_EQ(renderer.drawingCount(), 1);
}

// ---- Frost ------------------------------------------------------------------------------------

TEST(FrostRenderer, IdenticalBytesWhateverTheWorkerCount) {
    std::vector<uint8_t> reference;
    for (int workers : {1, 2, 7}) {
        setFrostCrustState(1);
        FrostRenderer renderer;
        const auto bytes = planeBytes(
            *render(renderer, quickFrost(), 250, 170, TypeU8, RectI{30, 20, 180, 120}, workers).result);
        if (reference.empty()) reference = bytes;
        EXPECT_EQ(bytes, reference) << workers << " workers";
    }
}

TEST(FrostRenderer, EachStageRunsOnlyWhenItsKeyChanges) {
    setFrostCrustState(1);
    FrostRenderer r;
    FrostParams p = quickFrost();
    const RectI sel{20, 20, 140, 100};
    auto counts = [&] {
        const auto c = r.counts();
        return std::vector<int>{c.field, c.crystals, c.deposit, c.shading};
    };
    render(r, p, 160, 120, TypeU8, sel);
    EXPECT_EQ(counts(), (std::vector<int>{1, 1, 1, 1}));
    p.shadow = 90;
    render(r, p, 160, 120, TypeU8, sel);
    EXPECT_EQ(counts(), (std::vector<int>{1, 1, 1, 2}));
    p.color = 0xFF3366CCu;
    render(r, p, 160, 120, TypeU8, sel);
    EXPECT_EQ(counts(), (std::vector<int>{1, 1, 2, 3}));
    p.fill = 70;
    render(r, p, 160, 120, TypeU8, sel);
    EXPECT_EQ(counts(), (std::vector<int>{1, 2, 3, 4}));
    p.thickness = 60;
    render(r, p, 160, 120, TypeU8, sel);
    EXPECT_EQ(counts(), (std::vector<int>{2, 3, 4, 5}));
    p.maskRevision = 3;
    render(r, p, 160, 120, TypeU8, sel);
    EXPECT_EQ(counts(), (std::vector<int>{3, 4, 5, 6}));
}

TEST(FrostRenderer, TheCrustGeneratorContinuesBetweenRuns) {
    setFrostCrustState(1);
    FrostRenderer first, second, again;
    const RectI sel{10, 10, 110, 80};
    const auto a = planeBytes(*render(first, quickFrost(), 120, 90, TypeU8, sel).result);
    const auto b = planeBytes(*render(second, quickFrost(), 120, 90, TypeU8, sel).result);
    EXPECT_NE(a, b) << "the second process-wide seeding continues where the first growth ended";
    setFrostCrustState(1);
    EXPECT_EQ(planeBytes(*render(again, quickFrost(), 120, 90, TypeU8, sel).result), a);
}

TEST(FrostRenderer, BadSelectionsAndSampleTypes) {
    FrostRenderer r;
    const RenderRun none = render(r, quickFrost(), 100, 80, TypeU8, RectI{});
    EXPECT_EQ(planeBytes(*none.result), planeBytes(*none.source));
    for (int32_t type : {TypeU8, TypeU16, TypeF32}) {
        FrostRenderer each;
        const RenderRun dot = render(each, quickFrost(), 100, 80, type, RectI{50, 40, 51, 41});
        EXPECT_EQ(dot.outcome, RunOutcome::Done);
        FrostParams next = quickFrost();
        next.maskRevision = 1;
        const RenderRun all = render(each, next, 100, 80, type, RectI{0, 0, 100, 80});
        const auto before = planeFloats(*all.source), after = planeFloats(*all.result);
        int changed = 0;
        for (std::size_t i = 0; i < before.size(); i += 4) changed += std::fabs(before[i] - after[i]) > 0.02f;
        EXPECT_GT(changed, 100 * 80 / 20) << type;
    }
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 150}, std::pair{150, 1}}) {
        FrostRenderer thin;
        EXPECT_EQ(render(thin, quickFrost(), w, h, TypeU8, RectI{0, 0, w, h}).outcome, RunOutcome::Done);
    }
}

// ---- Water ------------------------------------------------------------------------------------

namespace {
WaterParams waterAt(int row, int height) {
    WaterParams p = WaterParams::defaults();
    p.horizonAngle = float(WaterParams::horizonAngleForRow(row, height));
    return p;
}
} // namespace

TEST(WaterRenderer, IdenticalBytesWhateverTheWorkerCountAndSkyUntouched) {
    std::vector<uint8_t> reference;
    for (int workers : {1, 2, 7}) {
        WaterRenderer renderer;
        const RenderRun run = render(renderer, waterAt(90, 200), 300, 200, TypeU8, RectI{}, workers);
        const auto bytes = planeBytes(*run.result);
        if (reference.empty()) reference = bytes;
        EXPECT_EQ(bytes, reference) << workers << " workers";
    }
    WaterRenderer renderer;
    const RenderRun run = render(renderer, waterAt(90, 200), 300, 200, TypeU8, RectI{});
    const auto src = planeBytes(*run.source), out = planeBytes(*run.result);
    const std::size_t skyBytes = std::size_t(300) * 91 * 4;
    EXPECT_TRUE(std::equal(src.begin(), src.begin() + skyBytes, out.begin()));
    EXPECT_FALSE(std::equal(src.begin() + skyBytes, src.end(), out.begin() + skyBytes));
}

TEST(WaterRenderer, OnlyGeometryChangesRecomputeTheWaveField) {
    WaterRenderer renderer;
    WaterParams p = waterAt(60, 120);
    render(renderer, p, 160, 120, TypeU8, RectI{}, 0, RunMode::Live);
    p.waterColor = 0xFF102030u;
    p.depth = 90;
    p.glareBrightness = 10;
    p.glareHorizontalShift = 40;
    render(renderer, p, 160, 120, TypeU8, RectI{}, 0, RunMode::Live);
    EXPECT_EQ(renderer.waveFieldCount(), 1);
    p.microwaves = 80;
    render(renderer, p, 160, 120, TypeU8, RectI{}, 0, RunMode::Live);
    EXPECT_EQ(renderer.waveFieldCount(), 2);
    p.horizonAngle = float(WaterParams::horizonAngleForRow(70, 120));
    render(renderer, p, 160, 120, TypeU8, RectI{}, 0, RunMode::Live);
    EXPECT_EQ(renderer.waveFieldCount(), 3);
}

// The wave field and the light traced by Stage3 are kept between runs; whatever the order of the
// changes, a run must give the bytes of a fresh renderer with the same record and picture.
TEST(WaterRenderer, RunsAfterChangesMatchAFreshRenderer) {
    const int w = 200, h = 150;
    Ref<PixelPlane> picture = makePlane(w, h, TypeU8, true);
    // The same picture with one changed pixel in the scene that the water reflects.
    Ref<PixelPlane> touched = makePlane(w, h, TypeU8, true);
    const uint8_t white[4] = {255, 255, 255, 255};
    setData(*touched, RectI{100, 40, 101, 41}, white, 0, PixelFormat::fromMask(MaskRGBA, TypeU8));
    auto run = [](WaterRenderer& renderer, WaterParams p, const PixelPlane& source, RunMode mode) {
        Ref<PixelPlane> result = emptyLike(source);
        RunContext context;
        context.mode = mode;
        EXPECT_EQ(renderer.process(p, source, MaskChannels{}, *result, context), RunOutcome::Done);
        return planeBytes(*result);
    };
    for (RunMode mode : {RunMode::Normal, RunMode::Live}) {
        WaterRenderer kept;
        WaterParams p = waterAt(60, h);
        run(kept, p, *picture, mode);
        struct Step {
            const char* what;
            std::function<void(WaterParams&)> change;
            bool touchedPicture;
        };
        const Step steps[] = {
            {"water colour", [](WaterParams& q) { q.waterColor = 0xFF204060u; }, false},
            {"depth", [](WaterParams& q) { q.depth = 5; }, false},
            {"glare colour", [](WaterParams& q) { q.glareColor = 0xFFFF8040u; }, false},
            {"glare across", [](WaterParams& q) { q.glareHorizontalShift = 60; }, false},
            {"glare height", [](WaterParams& q) { q.glareVerticalShift = 85; }, false},
            {"glare brightness", [](WaterParams& q) { q.glareBrightness = 40; }, false},
            {"picture", [](WaterParams&) {}, true},
            {"waves", [](WaterParams& q) { q.height = 60; }, true},
            {"picture again", [](WaterParams&) {}, false},
        };
        for (const Step& step : steps) {
            step.change(p);
            const PixelPlane& source = step.touchedPicture ? *touched : *picture;
            WaterRenderer fresh;
            EXPECT_EQ(run(kept, p, source, mode), run(fresh, p, source, mode))
                << step.what << (mode == RunMode::Live ? " (live)" : "");
        }
        EXPECT_EQ(kept.waveFieldCount(), 2);
    }
}

TEST(WaterRenderer, HorizonOnTheBottomRowOrOutsideTheImage) {
    WaterRenderer renderer;
    const RenderRun bottom = render(renderer, waterAt(119, 120), 160, 120, TypeU8, RectI{});
    EXPECT_EQ(planeBytes(*bottom.result), planeBytes(*bottom.source));
    WaterParams above = WaterParams::defaults();
    above.horizonAngle = 5; // far above the picture: all of it is water
    const RenderRun all = render(renderer, above, 160, 120, TypeU8, RectI{});
    const auto src = planeBytes(*all.source), out = planeBytes(*all.result);
    EXPECT_NE(std::vector<uint8_t>(src.begin(), src.begin() + 160 * 4),
              std::vector<uint8_t>(out.begin(), out.begin() + 160 * 4));
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 100}, std::pair{100, 1}, std::pair{3, 3}})
        EXPECT_EQ(render(renderer, waterAt(h / 2, h), w, h, TypeU8, RectI{}).outcome, RunOutcome::Done);
}

TEST(WaterRenderer, LiveRunsAreRescaledAndMatchTheFullRunBroadly) {
    WaterRenderer live, full;
    const WaterParams p = waterAt(700, 1600);
    const RenderRun a = render(live, p, 2000, 1600, TypeU16, RectI{}, 0, RunMode::Live);
    EXPECT_EQ(live.lastGrid().scale, 2);
    EXPECT_EQ(live.lastGrid().width, 1000);
    const RenderRun b = render(full, p, 2000, 1600, TypeU16, RectI{}, 0, RunMode::Normal);
    EXPECT_EQ(full.lastGrid().scale, 1);
    const auto va = planeFloats(*a.result), vb = planeFloats(*b.result);
    double meanA = 0, meanB = 0;
    for (std::size_t i = std::size_t(2000) * 701 * 4; i < va.size(); ++i) {
        meanA += va[i];
        meanB += vb[i];
    }
    EXPECT_NEAR(meanA / va.size(), meanB / vb.size(), 0.01);
    // The row under the horizon continues the scene without a seam.
    const std::size_t above = std::size_t(699) * 2000 * 4, below = std::size_t(701) * 2000 * 4;
    double step = 0;
    for (int x = 0; x < 2000 * 4; ++x) step += std::fabs(vb[above + x] - vb[below + x]);
    EXPECT_LT(step / (2000 * 4), 0.05);
}
