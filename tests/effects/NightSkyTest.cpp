// The night-sky renderer: determinism, where the sky may appear, how many elements the densities give,
// the two caches, and bad zones.
#include "RenderTestSupport.h"
#include "document/filters/nightsky/NightSkyRenderer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

using namespace Orvex::Document::Filters;
using namespace TestSupport;

namespace {

using SkyRun = RenderRun;

// Renders with `zones` as the two-zone mask (or, with `plain`, as a plain selection).
SkyRun render(NightSkyRenderer& renderer, NightSkyParams p, const DataChannel* zones, int w, int h,
              int32_t type = TypeU8, int workers = 0, bool plain = false,
              const std::atomic<bool>* cancel = nullptr) {
    MaskChannels masks;
    (plain ? masks.mask : masks.duoMask) = zones;
    return renderOn(renderer, p, makePlane(w, h, type, true, 0.9f), masks, workers, cancel);
}

// Star zones (1) over `stars`, nebula zones (2) over `nebulas` (painted last).
Ref<DataChannel> zoneMask(int w, int h, const RectI& stars, const RectI& nebulas = {}) {
    Ref<DataChannel> mask = makeMask(w, h, stars, 1);
    const uint8_t two = 2;
    if (!nebulas.isEmpty()) mask->fill(nebulas, &two);
    return mask;
}

NightSkyParams everything() {
    NightSkyParams p = NightSkyParams::defaults();
    p.useShoots = p.useMeteors = p.starUseRays = true;
    p.starColorDev = 30;
    p.nebulaColor = 0xFF6040C0u;
    p.nebulaColorDev = 20;
    return p;
}

bool pixelChanged(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t pixel, size_t bytes) {
    for (size_t i = pixel * bytes; i < (pixel + 1) * bytes; ++i)
        if (a[i] != b[i]) return true;
    return false;
}

// The sky alone (no stars) over a transparent w x h float picture whose every pixel is a nebula
// zone: the result is the layer itself, red, green, blue and alpha interleaved.
std::vector<float> skyOverTransparent(NightSkyRenderer& renderer, NightSkyParams p, int w, int h) {
    p.useStars = false;
    const auto zones = zoneMask(w, h, RectI{0, 0, w, h}, RectI{0, 0, w, h});
    auto source = makePlane(w, h, TypeF32, true, 0.0f);
    auto result = emptyLike(*source);
    MaskChannels masks;
    masks.duoMask = zones.get();
    EXPECT_EQ(renderer.process(p, *source, masks, *result, RunContext{}), RunOutcome::Done);
    return planeFloats(*result);
}

} // namespace

TEST(NightSky, SameBytesForOneTwoAndSevenWorkersOffTheTileGrid) {
    const auto zones = zoneMask(333, 222, RectI{5, 3, 301, 150}, RectI{37, 11, 250, 120});
    // Nebulas with and without colour deviation (kept in colour, or as alpha alone).
    for (const int deviation : {20, 0})
    for (int32_t type : {TypeU8, TypeU16, TypeF32}) {
        std::vector<uint8_t> reference;
        NightSkyParams p = everything();
        p.nebulaColorDev = deviation;
        for (int workers : {1, 2, 7}) {
            NightSkyRenderer renderer;
            const auto run = render(renderer, p, zones.get(), 333, 222, type, workers);
            ASSERT_EQ(run.outcome, RunOutcome::Done);
            EXPECT_GT(renderer.counts().nebulas, 0);
            EXPECT_GT(renderer.counts().meteors, 0);
            const auto bytes = planeBytes(*run.result);
            if (reference.empty())
                reference = bytes;
            else
                EXPECT_EQ(bytes, reference) << workers << " workers, type " << type << ", deviation " << deviation;
        }
        EXPECT_NE(reference, planeBytes(*makePlane(333, 222, type, true, 0.9f)));
    }
}

TEST(NightSky, NothingIsDrawnOutsideTheZones) {
    // Two separate zones, one of them a thin strip; meteors' tails and nebulas reach far beyond them.
    const int w = 300, h = 200;
    Ref<DataChannel> zones = zoneMask(w, h, RectI{20, 10, 140, 90}, RectI{60, 20, 120, 80});
    const uint8_t one = 1;
    zones->fill(RectI{200, 150, 290, 158}, &one);
    NightSkyRenderer renderer;
    NightSkyParams p = everything();
    p.meteorDensity = 100;
    const auto run = render(renderer, p, zones.get(), w, h, TypeU16);
    const auto before = planeBytes(*run.source), after = planeBytes(*run.result);
    std::vector<uint8_t> labels(size_t(w) * h);
    getData(*zones, zones->bounds(), labels.data(), unsigned(w));
    int changedInside = 0;
    for (size_t i = 0; i < labels.size(); ++i) {
        const bool changed = pixelChanged(before, after, i, 8);
        if (!labels[i]) {
            ASSERT_FALSE(changed) << "pixel " << i % w << "," << i / w;
        }
        changedInside += changed;
    }
    EXPECT_GT(changedInside, 4000);
    // The stamps do reach outside the zones: the clipping, not luck, keeps the rest unchanged.
    bool beyond = false;
    for (const SkyStamp& s : renderer.stamps()) beyond |= s.x1 > 140 && s.y1 < 100;
    EXPECT_TRUE(beyond);
}

TEST(NightSky, CountsFollowTheDensities) {
    const int w = 400, h = 300;
    const auto zones = zoneMask(w, h, RectI{0, 0, 400, 200}, RectI{0, 0, 200, 200}); // 80000 zone pixels
    for (int density : {1, 20, 100}) {
        NightSkyParams p = everything();
        p.starDensity = density, p.shootDensity = density, p.meteorDensity = density;
        NightSkyRenderer renderer;
        render(renderer, p, zones.get(), w, h);
        SCOPED_TRACE(density);
        EXPECT_EQ(renderer.counts().stars, 80000 * density / 10000);
        EXPECT_EQ(renderer.counts().shootingStars,
                  int64_t(std::floor(80000 * (density / 100.0 * 5) / 10000)));
        EXPECT_EQ(renderer.counts().meteors, int64_t(std::floor(80000 * 2.0 * density / 100 / 10000)));
        EXPECT_EQ(renderer.counts().nebulas, int64_t(std::floor(40000 * (24 / 100.0 * 50) / 10000)));
    }

    // Stars spread evenly over their zone and the sky brightens with the density.
    auto starCentres = [&](int density, std::vector<int>& quarters) {
        NightSkyParams p = NightSkyParams::defaults();
        p.useNebulas = false, p.starDensity = density;
        NightSkyRenderer renderer;
        const auto run = render(renderer, p, zones.get(), w, h, TypeF32);
        quarters.assign(4, 0);
        for (const SkyStamp& s : renderer.stamps()) ++quarters[size_t((s.x >= 200) + 2 * (s.y >= 100))];
        const auto before = planeFloats(*run.source), after = planeFloats(*run.result);
        double gain = 0;
        for (size_t i = 0; i < before.size(); i += 4) gain += after[i] - before[i];
        return gain;
    };
    std::vector<int> quarters;
    const double sparse = starCentres(25, quarters);
    const double dense = starCentres(100, quarters);
    for (int q : quarters) {
        EXPECT_GT(q, 200 * 0.8) << "200 of the 800 stars expected in each quarter";
        EXPECT_LT(q, 200 * 1.2);
    }
    EXPECT_GT(dense / sparse, 3.0);
    EXPECT_LT(dense / sparse, 5.0);
}

TEST(NightSky, ZoneKindsAndTheirSkies) {
    const int w = 200, h = 160;
    NightSkyParams p = NightSkyParams::defaults();
    // Nebulas on, but only star zones painted: no nebula, stars still.
    const auto starsOnly = zoneMask(w, h, RectI{0, 0, 200, 100});
    NightSkyRenderer a;
    const auto run = render(a, p, starsOnly.get(), w, h);
    EXPECT_EQ(a.counts().nebulas, 0);
    EXPECT_GT(a.counts().stars, 0);
    EXPECT_NE(planeBytes(*run.result), planeBytes(*run.source));

    // A plain selection stands for zones of both kinds, its soft values weighing the sky.
    const auto selection = makeMask(w, h, RectI{0, 0, 200, 100}, 255);
    NightSkyRenderer b;
    render(b, p, selection.get(), w, h, TypeU8, 0, true);
    EXPECT_GT(b.counts().nebulas, 0);
    const auto half = makeMask(w, h, RectI{0, 0, 200, 100}, 128);
    NightSkyRenderer c;
    const auto faint = render(c, p, half.get(), w, h, TypeF32, 0, true);
    NightSkyRenderer d;
    const auto full = render(d, p, selection.get(), w, h, TypeF32, 0, true);
    const auto src = planeFloats(*faint.source), weak = planeFloats(*faint.result),
               strong = planeFloats(*full.result);
    double weakGain = 0, strongGain = 0;
    for (size_t i = 0; i < src.size(); i += 4) weakGain += weak[i] - src[i], strongGain += strong[i] - src[i];
    EXPECT_NEAR(weakGain / strongGain, 128.0 / 255.0, 0.02);

    // A transparent element colour is the base colour.
    NightSkyParams transparent = everything(), explicitColour = everything();
    transparent.baseColor = explicitColour.baseColor = 0xFFFFD080u;
    transparent.starColor = transparent.meteorColor = 0;
    explicitColour.starColor = explicitColour.meteorColor = 0xFFFFD080u;
    const auto both = zoneMask(w, h, RectI{0, 0, 200, 100}, RectI{50, 0, 150, 80});
    NightSkyRenderer e, f;
    EXPECT_EQ(planeBytes(*render(e, transparent, both.get(), w, h).result),
              planeBytes(*render(f, explicitColour, both.get(), w, h).result));
}

TEST(NightSky, SeedsMoveOnlyTheirElementsAndTheNebulaIsCached) {
    const int w = 240, h = 180;
    const auto zones = zoneMask(w, h, RectI{0, 0, 240, 120}, RectI{30, 0, 200, 100});
    NightSkyRenderer renderer;
    NightSkyParams p = everything();
    const auto first = render(renderer, p, zones.get(), w, h);
    EXPECT_EQ(renderer.nebulaBuilds(), 1);
    EXPECT_EQ(renderer.elementBuilds(), 1);
    const auto again = render(renderer, p, zones.get(), w, h);
    EXPECT_EQ(renderer.elementBuilds(), 1) << "nothing changed: only composed";
    EXPECT_EQ(planeBytes(*again.result), planeBytes(*first.result));

    p.starSeed = 77;
    const auto reseeded = render(renderer, p, zones.get(), w, h);
    EXPECT_EQ(renderer.nebulaBuilds(), 1);
    EXPECT_EQ(renderer.elementBuilds(), 2);
    EXPECT_NE(planeBytes(*reseeded.result), planeBytes(*first.result));
    // The cached nebula gives what a fresh renderer paints.
    NightSkyRenderer fresh;
    EXPECT_EQ(planeBytes(*render(fresh, p, zones.get(), w, h).result), planeBytes(*reseeded.result));

    // With the stars off, the star seed changes nothing.
    NightSkyParams dark = p;
    dark.useStars = false;
    NightSkyParams darkOther = dark;
    darkOther.starSeed = 5;
    NightSkyRenderer g, k;
    EXPECT_EQ(planeBytes(*render(g, dark, zones.get(), w, h).result),
              planeBytes(*render(k, darkOther, zones.get(), w, h).result));

    p.nebulaSeed = 3;
    render(renderer, p, zones.get(), w, h);
    EXPECT_EQ(renderer.nebulaBuilds(), 2);
    // Other zones under the same record rebuild everything, even with an unchanged mask revision.
    const auto moved = zoneMask(w, h, RectI{0, 0, 240, 120}, RectI{40, 0, 200, 100});
    render(renderer, p, moved.get(), w, h);
    EXPECT_EQ(renderer.nebulaBuilds(), 3);
}

TEST(NightSky, DimmingShrinksStarsTowardsTheBottom) {
    const int w = 300, h = 400;
    const auto zones = zoneMask(w, h, RectI{0, 0, 300, 400});
    NightSkyParams p = NightSkyParams::defaults();
    p.useNebulas = false, p.baseDimming = 100, p.starDensity = 100;
    NightSkyRenderer renderer;
    render(renderer, p, zones.get(), w, h);
    const double S = p.starSize / 100.0 * 15;
    double topLargest = 0, bottomLargest = 0;
    for (const SkyStamp& s : renderer.stamps()) {
        if (s.y < 40) topLargest = std::max(topLargest, double(s.reach));
        if (s.y >= 380) bottomLargest = std::max(bottomLargest, double(s.reach));
    }
    // The largest draw is 1.2 S at the top; at the bottom the scale is down to about 0.5.
    EXPECT_GT(topLargest, 0.8 * S);
    EXPECT_LT(bottomLargest, 0.55 * 1.2 * S);
    EXPECT_GT(bottomLargest, 0.3 * S);
}

TEST(NightSky, RaysOnlyOnStarsAboveTheThreshold) {
    const int w = 300, h = 200;
    const auto zones = zoneMask(w, h, RectI{0, 0, 300, 200});
    NightSkyParams p = NightSkyParams::defaults();
    p.useNebulas = false, p.starUseRays = true, p.baseDimming = 0, p.starDensity = 50;
    p.starRayRadius = 20; // every star's radius exceeds 0.2 S
    NightSkyRenderer renderer;
    render(renderer, p, zones.get(), w, h);
    const int64_t stars = renderer.counts().stars;
    EXPECT_GE(renderer.counts().starRays, 2 * stars);
    EXPECT_LE(renderer.counts().starRays, 8 * stars);
    // At 100 only stars whose size draw exceeds the whole size unit, |a + b + c| / 3 > 0.8: rare.
    p.starRayRadius = 100;
    NightSkyRenderer rare;
    render(rare, p, zones.get(), w, h);
    EXPECT_LT(rare.counts().starRays, renderer.counts().starRays / 20);
}

TEST(NightSky, BadZonesGiveACorrectResult) {
    const int w = 160, h = 120;
    // No zones, empty zones, zones of another size: the source unchanged.
    for (const Ref<DataChannel>& zones :
         {Ref<DataChannel>(), makeMask(w, h, RectI{}), makeMask(w + 10, h, RectI{0, 0, 100, 100}, 1)}) {
        NightSkyRenderer renderer;
        const auto run = render(renderer, everything(), zones.get(), w, h);
        EXPECT_EQ(run.outcome, RunOutcome::Done);
        EXPECT_EQ(planeBytes(*run.result), planeBytes(*run.source));
    }
    // A single zone pixel, the densest settings and the widest nebulas finish.
    NightSkyParams p = everything();
    p.starDensity = p.shootDensity = p.meteorDensity = 100;
    p.nebulaSpread = p.nebulaAmount = p.nebulaDeform = 100;
    for (const RectI& zone : {RectI{80, 60, 81, 61}, RectI{0, 0, w, h}}) {
        NightSkyRenderer renderer;
        const auto zones = zoneMask(w, h, zone, zone);
        EXPECT_EQ(render(renderer, p, zones.get(), w, h).outcome, RunOutcome::Done);
    }
}

TEST(NightSky, CancelledRunsRebuildNextTime) {
    const auto zones = zoneMask(120, 90, RectI{0, 0, 120, 60}, RectI{0, 0, 60, 60});
    std::atomic<bool> cancel{true};
    NightSkyRenderer renderer;
    EXPECT_EQ(render(renderer, everything(), zones.get(), 120, 90, TypeU8, 0, false, &cancel).outcome,
              RunOutcome::Cancelled);
    EXPECT_EQ(render(renderer, everything(), zones.get(), 120, 90).outcome, RunOutcome::Done);
    NightSkyRenderer fresh;
    EXPECT_EQ(planeBytes(*render(renderer, everything(), zones.get(), 120, 90).result),
              planeBytes(*render(fresh, everything(), zones.get(), 120, 90).result));
}

TEST(NightSky, ProgressRunsToTheEnd) {
    const auto zones = zoneMask(200, 150, RectI{0, 0, 200, 100}, RectI{0, 0, 120, 90});
    for (bool warm : {false, true}) {
        NightSkyRenderer renderer;
        NightSkyParams p = everything();
        if (warm) {
            render(renderer, p, zones.get(), 200, 150);
            p.starSeed = 9; // the nebula is reused
        }
        auto source = makePlane(200, 150, TypeU8);
        auto result = emptyLike(*source);
        MaskChannels masks;
        masks.duoMask = zones.get();
        PhaseProgress progress;
        RunContext context;
        context.progress = &progress;
        ASSERT_EQ(renderer.process(p, *source, masks, *result, context), RunOutcome::Done);
        EXPECT_GT(progress.fraction(), 0.9) << warm;
        EXPECT_LE(progress.fraction(), 1.0);
    }
}

TEST(NightSky, DimmingFadesTheNebulaToThirtyPercentAtTheBottom) {
    const int w = 160, h = 200;
    auto layerAlpha = [&](int dimming) {
        NightSkyParams p = NightSkyParams::defaults();
        p.baseDimming = dimming;
        NightSkyRenderer renderer;
        const std::vector<float> rgba = skyOverTransparent(renderer, p, w, h);
        EXPECT_EQ(renderer.nebulaRect(), (RectI{0, 0, w, h}));
        std::vector<float> alpha;
        for (size_t i = 3; i < rgba.size(); i += 4) alpha.push_back(rgba[i]);
        return alpha;
    };
    const auto plain = layerAlpha(0), dimmed = layerAlpha(100);
    for (int y : {0, h / 2, h - 1}) {
        const double f = double(y) / h, expected = 1 - 0.7 * f * f;
        for (int x = 0; x < w; x += 7) {
            const size_t i = size_t(y) * w + size_t(x);
            if (plain[i] < 0.05f) continue;
            EXPECT_NEAR(dimmed[i] / plain[i], expected, 1e-4) << x << "," << y;
        }
    }
}

TEST(NightSky, NebulaColourHoldsEverywhereWithoutDeviationAndVariesWithIt) {
    const int w = 200, h = 150;
    auto spread = [&](int deviation) {
        NightSkyParams p = NightSkyParams::defaults();
        p.nebulaColor = 0xFF4080C0u, p.nebulaColorDev = deviation, p.baseDimming = 80;
        NightSkyRenderer renderer;
        const std::vector<float> rgba = skyOverTransparent(renderer, p, w, h);
        EXPECT_GT(renderer.counts().nebulas, 0);
        const float colour[3] = {0x40 / 255.0f, 0x80 / 255.0f, 0xC0 / 255.0f};
        double largest = 0;
        int shown = 0;
        for (size_t i = 0; i < rgba.size(); i += 4) {
            if (rgba[i + 3] < 0.001f) continue;
            ++shown;
            for (int c = 0; c < 3; ++c) largest = std::max(largest, std::fabs(double(rgba[i + c]) - colour[c]));
        }
        EXPECT_GT(shown, w * h / 2) << deviation;
        return largest;
    };
    EXPECT_LT(spread(0), 1e-4);
    EXPECT_GT(spread(30), 0.05);
}

TEST(NightSky, TheNebulaRectangleReachesBeyondTheZonesAlikeWithAndWithoutColourDeviation) {
    // The colour draws never change a blob's place, size or strength, so both layer kinds (alpha
    // alone, or colour and alpha) find the same rows lit above and below the zones.
    const int w = 240, h = 300;
    const auto zones = zoneMask(w, h, RectI{20, 120, 220, 180}, RectI{20, 120, 220, 180});
    RectI rects[2];
    for (int k = 0; k < 2; ++k) {
        NightSkyParams p = NightSkyParams::defaults();
        p.useStars = false, p.nebulaColorDev = k == 0 ? 0 : 30;
        NightSkyRenderer renderer;
        ASSERT_EQ(render(renderer, p, zones.get(), w, h).outcome, RunOutcome::Done);
        rects[k] = renderer.nebulaRect();
    }
    EXPECT_EQ(rects[0], rects[1]);
    EXPECT_LT(rects[0].top, 120);
    EXPECT_GT(rects[0].bottom, 180);
}

TEST(NightSky, LongStreaksAreOneStampEach) {
    // The longest meteors: thousands of discs each, kept as one stamp per streak, and the same
    // sky whichever tiles their discs fall in.
    const int w = 500, h = 300;
    const auto zones = zoneMask(w, h, RectI{0, 0, w, h});
    NightSkyParams p = NightSkyParams::defaults();
    p.useNebulas = p.useStars = false;
    p.useMeteors = true, p.meteorSize = 100, p.meteorDensity = 100, p.meteorElongate = 100;
    NightSkyRenderer renderer;
    const auto run = render(renderer, p, zones.get(), w, h, TypeU8, 1);
    const SkyCounts& c = renderer.counts();
    EXPECT_EQ(c.meteors, 30);
    EXPECT_LE(c.stamps, c.meteors * (1 + 42 + 1));
    EXPECT_GT(c.streakDiscs, 100 * c.stamps);
    NightSkyRenderer seven;
    EXPECT_EQ(planeBytes(*render(seven, p, zones.get(), w, h, TypeU8, 7).result), planeBytes(*run.result));
}
