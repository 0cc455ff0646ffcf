// The rain renderer: edge cases, cache behaviour, determinism across worker counts, statistics.
#include "RenderTestSupport.h"
#include "document/filters/rain/RainRenderer.h"

#include <gtest/gtest.h>

using namespace Orvex::Document::Filters;
using namespace TestSupport;

namespace {

using RainRun = RenderRun;

RainRun render(RainRenderer& renderer, RainParams params, int w, int h, int32_t type, const RectI& selected,
               int workers = 0, bool alpha = false, float alphaValue = 1.0f) {
    const Ref<DataChannel> mask = makeMask(w, h, selected);
    MaskChannels masks;
    masks.mask = mask.get();
    RainRun run = renderOn(renderer, params, makePlane(w, h, type, alpha, alphaValue), masks, workers);
    run.mask = mask;
    return run;
}

} // namespace

TEST(Rain, NoDropsOrNoSelectionLeaveTheSourceInEverySampleType) {
    for (int32_t type : {TypeU8, TypeU16, TypeF32}) {
        RainRenderer renderer;
        RainParams p;
        p.density = 0;
        auto run = render(renderer, p, 150, 90, type, RectI{0, 0, 150, 45});
        EXPECT_EQ(planeBytes(*run.result), planeBytes(*run.source)) << type;
        RainRenderer fresh;
        auto empty = render(fresh, RainParams::defaults(), 150, 90, type, RectI{});
        EXPECT_EQ(planeBytes(*empty.result), planeBytes(*empty.source)) << type;
        EXPECT_EQ(fresh.drawingCount(), 0) << "an empty selection draws nothing";
    }
}

TEST(Rain, IdenticalBytesWhateverTheWorkerCount) {
    RainParams p = RainParams::defaults();
    p.density = 12;
    p.length = 30;
    // A selection off the tile grid and streaks that cross tile and band borders.
    const RectI selected{37, 11, 301, 170};
    std::vector<uint8_t> reference;
    for (int workers : {1, 2, 7}) {
        RainRenderer renderer;
        auto run = render(renderer, p, 333, 222, TypeU8, selected, workers);
        const auto bytes = planeBytes(*run.result);
        if (reference.empty())
            reference = bytes;
        else
            EXPECT_EQ(bytes, reference) << workers << " workers";
    }
    EXPECT_NE(reference, planeBytes(*makePlane(333, 222, TypeU8)));
}

TEST(Rain, TransparencyOnlyReusesTheStreakCache) {
    RainRenderer renderer;
    RainParams p = RainParams::defaults();
    const RectI selected{0, 0, 200, 80};
    auto first = render(renderer, p, 200, 150, TypeU16, selected);
    EXPECT_EQ(renderer.drawingCount(), 1);
    p.transparency = 10;
    auto lighter = render(renderer, p, 200, 150, TypeU16, selected);
    EXPECT_EQ(renderer.drawingCount(), 1) << "a transparency change only re-composes";
    EXPECT_NE(planeBytes(*lighter.result), planeBytes(*first.result));
    p.transparency = 50;
    auto back = render(renderer, p, 200, 150, TypeU16, selected);
    EXPECT_EQ(planeBytes(*back.result), planeBytes(*first.result));
    p.scale = 1.004f;
    render(renderer, p, 200, 150, TypeU16, selected);
    EXPECT_EQ(renderer.drawingCount(), 1) << "1.004 equals 1.00 after x100 rounding";
    p.scale = 1.01f;
    render(renderer, p, 200, 150, TypeU16, selected);
    EXPECT_EQ(renderer.drawingCount(), 2);
    p.maskRevision = 1;
    render(renderer, p, 200, 150, TypeU16, selected);
    EXPECT_EQ(renderer.drawingCount(), 3) << "a selection change redraws";
}

TEST(Rain, StreakGeometryFollowsLengthAngleAndDispersion) {
    const int w = 400, h = 300;
    const RectI region{0, 0, w, h};
    const std::vector<uint8_t> all(size_t(w) * size_t(h), 1);
    RunContext context;
    std::vector<RainStreak> streaks;

    RainParams dots = RainParams::defaults();
    dots.length = 0;
    ASSERT_TRUE(RainRenderer::layoutStreaks(dots, w, h, region, all, streaks, context));
    ASSERT_EQ(streaks.size(), size_t(600)); // trunc(5 x 120000 / 1000), every drop selected
    for (const auto& s : streaks) {
        EXPECT_EQ(s.length, 0.f);
        EXPECT_EQ(s.ax, s.bx);
        EXPECT_EQ(s.ay, s.by);
    }

    RainParams vertical = RainParams::defaults();
    vertical.angle = 90;
    vertical.dispersion = 0;
    ASSERT_TRUE(RainRenderer::layoutStreaks(vertical, w, h, region, all, streaks, context));
    for (const auto& s : streaks) {
        EXPECT_EQ(s.ax, s.bx);
        EXPECT_GT(s.by - s.ay, 0.f);
    }

    RainParams horizontal = vertical;
    horizontal.angle = 0;
    ASSERT_TRUE(RainRenderer::layoutStreaks(horizontal, w, h, region, all, streaks, context));
    for (const auto& s : streaks) EXPECT_NEAR(s.ay, s.by, 1e-3f * std::max(1.f, s.length));

    // Rendered: with vertical streaks every drop's weight is symmetric about its column.
    StreakField field;
    vertical.density = 1;
    ASSERT_TRUE(RainRenderer::drawStreaks(vertical, w, h, region, all, field, context));
    double asymmetry = 0, total = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 1; x + 1 < w; ++x) {
            total += field.at(x, y);
            asymmetry += std::fabs(field.at(x - 1, y) - field.at(x + 1, y)) * (field.at(x, y) > 0.5f);
        }
    EXPECT_GT(total, 0);
    EXPECT_LT(asymmetry, 0.02 * total);
}

TEST(Rain, TransparentPixelsUnderAStreakGainAlpha) {
    RainRenderer renderer;
    RainParams p = RainParams::defaults();
    p.transparency = 0;
    auto run = render(renderer, p, 160, 120, TypeU8, RectI{0, 0, 160, 120}, 0, true, 0.0f);
    const auto after = planeFloats(*run.result);
    int gained = 0;
    for (size_t i = 0; i < after.size(); i += 4) {
        if (after[i + 3] > 0) {
            ++gained;
            // Over nothing the streak is pure white, whatever the hidden colour was.
            EXPECT_NEAR(after[i], 1.0f, 1e-6f);
        }
    }
    EXPECT_GT(gained, 100);
}

TEST(Rain, ChangesStayInTheGrownSelectionAndLightenIt) {
    RainRenderer renderer;
    RainParams p = RainParams::defaults();
    const int w = 400, h = 300;
    const RectI selected{0, 0, w, 120};
    auto run = render(renderer, p, w, h, TypeU8, selected);
    const auto before = planeFloats(*run.source), after = planeFloats(*run.result);
    const int margin = int((p.length * 5 + 4.1) * p.scale + 1) + 6;
    long inside = 0, changedInside = 0, changedFar = 0, streakInside = 0;
    double gain = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = (size_t(y) * w + x) * 4;
            const bool changed = after[i] != before[i] || after[i + 1] != before[i + 1];
            if (y < 120) {
                ++inside;
                changedInside += changed;
                streakInside += after[i] - before[i] > 0.1f;
                gain += after[i] + after[i + 1] + after[i + 2] - before[i] - before[i + 1] - before[i + 2];
                EXPECT_GE(after[i], before[i]) << "rain only lightens";
            } else if (y >= 120 + margin) {
                changedFar += changed;
            }
        }
    EXPECT_EQ(changedFar, 0);
    // The blurred streaks brush most selected pixels faintly and a minority clearly.
    EXPECT_GT(double(changedInside) / inside, 0.3);
    EXPECT_GT(double(streakInside) / inside, 0.02);
    EXPECT_LT(double(streakInside) / inside, 0.4);
    EXPECT_GT(gain / inside, 0.005);
    EXPECT_LT(gain / inside, 0.5);
}

TEST(Rain, CancellationLeavesTheSourceAndForcesARedraw) {
    RainRenderer renderer;
    RainParams p = RainParams::defaults();
    auto source = makePlane(120, 80, TypeU8);
    auto result = emptyLike(*source);
    auto mask = makeMask(120, 80, RectI{0, 0, 120, 80});
    std::atomic<bool> cancel{true};
    RunContext context;
    context.cancelFlag = &cancel;
    MaskChannels masks;
    masks.mask = mask.get();
    EXPECT_EQ(renderer.process(p, *source, masks, *result, context), RunOutcome::Cancelled);
    EXPECT_EQ(p.density, -1);
    EXPECT_EQ(planeBytes(*result), planeBytes(*source));
    EXPECT_EQ(renderer.drawingCount(), 0);
}
