// The aurora renderer: determinism, where the curtains hang and how they are shaded, the layer
// cache, the blend modes, and bad lines.
#include "RenderTestSupport.h"
#include "document/filters/aurora/AuroraRenderer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>

using namespace Orvex::Document::Filters;
using namespace TestSupport;

namespace {

using AuroraRun = RenderRun;

AuroraRun render(AuroraRenderer& renderer, AuroraParams p, int w, int h, int32_t type = TypeU8,
                 int workers = 0, const std::atomic<bool>* cancel = nullptr, bool alpha = false,
                 const DataChannel* mask = nullptr) {
    MaskChannels masks;
    masks.mask = mask;
    return renderOn(renderer, p, makePlane(w, h, type, alpha, 0.7f), masks, workers, cancel);
}

AuroraParams withLines(std::vector<Segment> lines) {
    AuroraParams p = AuroraParams::defaults();
    p.lines = std::move(lines);
    return p;
}

// Hard-edged, unbent curtains with a flat field of rays: what the painting alone gives.
AuroraParams plain(std::vector<Segment> lines) {
    AuroraParams p = withLines(std::move(lines));
    p.sigmaX = p.sigmaY = 0;
    p.geometry = 0;
    p.glow = 0;
    return p;
}

// The cached layer as 16-bit RGBA.
struct Layer {
    int width = 0, height = 0;
    std::vector<uint16_t> rgba;
    const uint16_t* at(int x, int y) const { return &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4]; }
    uint16_t alpha(int x, int y) const { return at(x, y)[3]; }
};

Layer layerOf(const AuroraRenderer& renderer) {
    Layer l;
    const PixelPlane* plane = renderer.layer();
    if (!plane) return l;
    l.width = plane->width(), l.height = plane->height();
    l.rgba.resize(size_t(l.width) * size_t(l.height) * 4);
    getData(*plane, plane->bounds(), l.rgba.data(), 0, PixelFormat::fromMask(MaskRGBA, TypeU16));
    return l;
}

// Rows [first, last] of a column that the layer covers; first = -1 when none.
std::pair<int, int> coveredRows(const Layer& l, int x) {
    int first = -1, last = -1;
    for (int y = 0; y < l.height; ++y)
        if (l.alpha(x, y)) {
            if (first < 0) first = y;
            last = y;
        }
    return {first, last};
}

} // namespace

TEST(Aurora, SameBytesForOneTwoAndSevenWorkersOffTheTileGrid) {
    // Lines off the 64-pixel grid, one entering from outside; soft edges, warp and rays all on.
    AuroraParams p = withLines({{7, 150, 301, 131}, {-40, 170, 150, 200}, {200, 221, 330, 90}});
    p.geometry = 40;
    p.blendMode = 3;
    for (int32_t type : {TypeU8, TypeU16, TypeF32}) {
        std::vector<uint8_t> reference;
        for (int workers : {1, 2, 7}) {
            AuroraRenderer renderer;
            const auto run = render(renderer, p, 333, 222, type, workers, nullptr, type == TypeU16);
            ASSERT_EQ(run.outcome, RunOutcome::Done);
            const auto bytes = planeBytes(*run.result);
            if (reference.empty())
                reference = bytes;
            else
                EXPECT_EQ(bytes, reference) << workers << " workers, type " << type;
        }
        EXPECT_NE(reference, planeBytes(*makePlane(333, 222, type, type == TypeU16, 0.7f)))
            << "curtains drawn";
    }
}

TEST(Aurora, HardCurtainsHangAboveTheirLineWithFullAlpha) {
    const int W = 300, H = 200, base = 150;
    AuroraRenderer renderer;
    const auto run = render(renderer, plain({{20, base, 280, base}}), W, H);
    ASSERT_EQ(run.outcome, RunOutcome::Done);
    const Layer l = layerOf(renderer);
    ASSERT_EQ(l.width, W);
    const double lh = 0.5 * H; // the default length, 50 % of the height
    double heights = 0;
    int64_t covered = 0;
    for (int x = 0; x < W; ++x) {
        const auto [first, last] = coveredRows(l, x);
        if (x < 20 || x >= 280) {
            EXPECT_EQ(first, -1) << "column " << x << " lies beside the line";
            continue;
        }
        ASSERT_EQ(last, base) << "column " << x << " rests on the line";
        const int height = last - first;
        EXPECT_GE(height, int(0.3 * lh) - 1);
        EXPECT_LE(height, int(lh) + 1);
        heights += height;
        for (int y = first; y <= last; ++y) {
            ASSERT_EQ(l.alpha(x, y), 65535) << x << "," << y << ": no blur, so alpha is 1 where painted";
            covered++;
        }
    }
    // The heights are (0.3 + 0.7 u) Lh with u uniform: their mean is 0.65 Lh.
    EXPECT_NEAR(heights / 260 / lh, 0.65, 0.05);
    EXPECT_EQ(renderer.paintedPixels(), covered);

    // The bands: red at the base, green in the middle, blue at the top (default fractions 16/56/28;
    // the fade only weighs overlapping curtains against each other, the alpha is the mark).
    double sums[3][3] = {}; // [base, middle, top][red, green, blue]
    for (int x = 20; x < 280; ++x) {
        const auto [first, last] = coveredRows(l, x);
        const int span = last - first;
        for (int y = first; y <= last; ++y) {
            const double up = double(last - y) / span; // 0 at the base, 1 at the top
            const int part = up < 0.05 ? 0 : (up > 0.4 && up < 0.5) ? 1 : up > 0.95 ? 2 : -1;
            if (part < 0) continue;
            for (int c = 0; c < 3; ++c) sums[part][c] += l.at(x, y)[c];
        }
    }
    EXPECT_GT(sums[0][0], sums[0][1]);
    EXPECT_GT(sums[0][0], sums[0][2]);
    EXPECT_GT(sums[1][1], sums[1][0]);
    EXPECT_GT(sums[1][1], sums[1][2]);
    EXPECT_GT(sums[2][2], sums[2][0]);
    EXPECT_GT(sums[2][2], sums[2][1]);

    // The photograph changes only where the layer covers it.
    const auto before = planeFloats(*run.source), after = planeFloats(*run.result);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (!l.alpha(x, y)) {
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(before[(size_t(y) * W + x) * 4 + c], after[(size_t(y) * W + x) * 4 + c]);
            }
}

TEST(Aurora, SoftCurtainsKeepTheirLightAboveTheLine) {
    // The defaults: soft edges and rays. The blur reaches a little below the line; most light is above.
    const int W = 320, H = 240, base = 180;
    AuroraRenderer renderer;
    ASSERT_EQ(render(renderer, withLines({{10, base, 310, base - 20}}), W, H).outcome, RunOutcome::Done);
    const Layer l = layerOf(renderer);
    double above = 0, below = 0, farBelow = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double a = l.alpha(x, y);
            (y <= base ? above : below) += a;
            if (y > base + 30) farBelow += a;
        }
    EXPECT_GT(above, 5 * below);
    EXPECT_EQ(farBelow, 0.0) << "three sigmas of the soft edge below the line, nothing further";
    EXPECT_LE(renderer.layerRect().bottom, base + 31);
}

TEST(Aurora, InversionFlipsEveryCurtainBetweenItsTopAndItsBase) {
    const int W = 200, H = 160, base = 120;
    AuroraParams p = plain({{30, base, 170, base}});
    AuroraRenderer normal, inverted;
    render(normal, p, W, H);
    p.colorInversion = true;
    render(inverted, p, W, H);
    const Layer a = layerOf(normal), b = layerOf(inverted);
    int columns = 0;
    for (int x = 30; x < 170; ++x) {
        // Row p of the profile lands on row top + base - p; the topmost or the base row may go
        // unpainted where the fade is 0 there, so the mirror's axis is found from the rows covered.
        const auto [first, last] = coveredRows(a, x);
        const auto [firstB, lastB] = coveredRows(b, x);
        ASSERT_EQ(last, base);
        ASSERT_EQ(lastB - firstB, last - first) << "column " << x;
        const int axis = firstB + last;
        ASSERT_TRUE(axis == first + last || axis == first + last - 1) << "column " << x;
        for (int y = first; y <= last; ++y)
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(a.at(x, y)[c], b.at(x, axis - y)[c]) << x << "," << y << " component " << c;
        ++columns;
    }
    EXPECT_EQ(columns, 140);
}

TEST(Aurora, PointsOutsideThePictureAndEmptySegmentsDrawNothing) {
    const int W = 240, H = 160;
    // Level lines, so that the points over the picture are the same ones.
    const AuroraParams inside = plain({{0, 120, 200, 120}});
    const AuroraParams fromOutside = plain({{-50, 120, 200, 120}});
    AuroraRenderer a, b;
    EXPECT_EQ(planeBytes(*render(a, inside, W, H).result), planeBytes(*render(b, fromOutside, W, H).result))
        << "points left of the picture consume no draws";

    // A segment whose ends meet paints nothing and draws nothing.
    AuroraParams withEmpty = inside;
    withEmpty.lines.insert(withEmpty.lines.begin(), Segment{50, 50, 50, 50});
    AuroraRenderer c;
    EXPECT_EQ(planeBytes(*render(c, withEmpty, W, H).result), planeBytes(*render(a, inside, W, H).result));

    // A one-pixel segment paints exactly one column: its first point (the end is not visited).
    AuroraRenderer d;
    render(d, plain({{100, 120, 101, 120}}), W, H);
    const Layer l = layerOf(d);
    for (int x = 0; x < W; ++x) EXPECT_EQ(coveredRows(l, x).first >= 0, x == 100) << x;
}

TEST(Aurora, OpacityAndBlendModeOnlyCompose) {
    const int W = 200, H = 150;
    AuroraRenderer renderer;
    AuroraParams p = withLines({{10, 110, 190, 100}});
    p.opacity = 100;
    p.blendMode = 1;
    const auto shown = render(renderer, p, W, H, TypeF32);
    ASSERT_EQ(renderer.paintings(), 1);
    // Opacity 100 and "Normal": on an opaque picture the layer shows as painted.
    const Layer l = layerOf(renderer);
    const auto before = planeFloats(*shown.source), after = planeFloats(*shown.result);
    double worst = 0;
    int seen = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const uint16_t* px = l.at(x, y);
            const double a = px[3] / 65535.0;
            seen += px[3] > 0;
            for (int c = 0; c < 3; ++c) {
                const double expected = before[(size_t(y) * W + x) * 4 + c] * (1 - a) + px[c] / 65535.0 * a;
                worst = std::max(worst, std::fabs(expected - after[(size_t(y) * W + x) * 4 + c]));
            }
        }
    EXPECT_GT(seen, 1000);
    EXPECT_LT(worst, 1e-5);

    std::vector<std::vector<uint8_t>> results;
    for (int mode = 1; mode <= 10; ++mode) {
        p.blendMode = mode;
        p.opacity = mode * 9;
        results.push_back(planeBytes(*render(renderer, p, W, H).result));
    }
    EXPECT_EQ(renderer.paintings(), 1) << "opacity and blend mode reuse the layer";
    for (size_t i = 1; i < results.size(); ++i) EXPECT_NE(results[i], results[i - 1]);
    // The reused layer composes exactly what a fresh renderer paints and composes.
    AuroraRenderer fresh;
    EXPECT_EQ(planeBytes(*render(fresh, p, W, H).result), results.back());

    p.glow = 50;
    render(renderer, p, W, H);
    EXPECT_EQ(renderer.paintings(), 2);
    p.lines.push_back({20, 90, 60, 95});
    render(renderer, p, W, H);
    EXPECT_EQ(renderer.paintings(), 3) << "edited lines repaint";
    render(renderer, p, W + 1, H);
    EXPECT_EQ(renderer.paintings(), 4) << "another picture size repaints";
}

TEST(Aurora, LighteningModesNeverDarkenAndMultiplyNeverLightens) {
    AuroraParams p = withLines({{10, 110, 190, 100}});
    p.opacity = 100;
    for (int mode : {2, 3, 5, 9, 10}) {
        SCOPED_TRACE(mode);
        p.blendMode = mode;
        AuroraRenderer renderer;
        // On an opaque picture (over a transparent one the layer's own colour shows through).
        const auto run = render(renderer, p, 200, 150, TypeU16);
        const auto before = planeFloats(*run.source), after = planeFloats(*run.result);
        int changed = 0;
        for (size_t i = 0; i < before.size(); ++i) {
            if (i % 4 == 3) continue;
            changed += after[i] != before[i];
            if (mode == 2) {
                ASSERT_LE(after[i], before[i] + 1e-4f) << i;
            } else {
                ASSERT_GE(after[i], before[i] - 1e-4f) << i;
            }
        }
        EXPECT_GT(changed, 500);
    }
}

TEST(Aurora, TheSelectionLimitsWhereTheCurtainsShow) {
    const int W = 200, H = 150;
    AuroraParams p = withLines({{10, 110, 190, 100}});
    auto left = makeMask(W, H, RectI{0, 0, 100, H});
    AuroraRenderer renderer;
    const auto run = render(renderer, p, W, H, TypeU8, 0, nullptr, false, left.get());
    const auto before = planeBytes(*run.source), after = planeBytes(*run.result);
    int changedLeft = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (size_t(y) * W + x) * 4 + c;
                if (x >= 100) {
                    ASSERT_EQ(after[i], before[i]) << x << "," << y;
                } else {
                    changedLeft += after[i] != before[i];
                }
            }
    EXPECT_GT(changedLeft, 1000);
    // An empty selection, or a full one, shows the curtains everywhere.
    auto none = makeMask(W, H, RectI{}), all = makeMask(W, H, RectI{0, 0, W, H});
    AuroraRenderer free;
    const auto everywhere = planeBytes(*render(free, p, W, H).result);
    EXPECT_EQ(planeBytes(*render(renderer, p, W, H, TypeU8, 0, nullptr, false, none.get()).result),
              everywhere);
    EXPECT_EQ(planeBytes(*render(renderer, p, W, H, TypeU8, 0, nullptr, false, all.get()).result),
              everywhere);
    EXPECT_EQ(renderer.paintings(), 1);
}

TEST(Aurora, BadLinesGiveACorrectResultQuickly) {
    const int W = 160, H = 120;
    // Nothing to paint: no lines, only empty segments, lines beside, above or far below the picture.
    for (const auto& lines : std::vector<std::vector<Segment>>{{},
                                                               {{40, 40, 40, 40}},
                                                               {{-500, 60, -20, 70}},
                                                               {{170, 10, 900, 100}},
                                                               {{10, -300, 150, -10}},
                                                               {{10, 400, 150, 380}}}) {
        AuroraRenderer renderer;
        const auto run = render(renderer, withLines(lines), W, H);
        EXPECT_EQ(run.outcome, RunOutcome::Done);
        EXPECT_EQ(planeBytes(*run.result), planeBytes(*run.source));
        EXPECT_EQ(renderer.layer(), nullptr);
    }
    // Lines across the whole range of int: only their points over the picture cost anything.
    const auto start = std::chrono::steady_clock::now();
    AuroraRenderer huge;
    const auto run = render(huge,
                            withLines({{-2000000000, 100, 2000000000, 100},
                                       {50, -2147483647, 50, 2147483647},
                                       {2147483647, -2147483647, -2147483647, 2147483647}}),
                            W, H);
    EXPECT_EQ(run.outcome, RunOutcome::Done);
    EXPECT_NE(planeBytes(*run.result), planeBytes(*run.source));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20.0);

    // Ten thousand segments, some of them empty, finish.
    std::vector<Segment> many;
    for (int i = 0; i < 10000; ++i)
        many.push_back(i % 7 == 0 ? Segment{i % W, 3, i % W, 3}
                                  : Segment{(i * 37) % W, (i * 11) % H, (i * 53) % W, (i * 29) % H});
    AuroraRenderer busy;
    EXPECT_EQ(render(busy, withLines(many), W, H).outcome, RunOutcome::Done);

    // A picture so narrow that the field of rays would need gigabytes is refused with a message.
    AuroraParams narrow = withLines({{0, 1, 60000, 1}});
    narrow.rate = 1;
    AuroraRenderer refused;
    try {
        render(refused, narrow, 60000, 2);
        ADD_FAILURE() << "no error";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("too narrow"), std::string::npos);
    }
}

TEST(Aurora, CancelledRunsKeepTheLayerOfTheLastFinishedOne) {
    const int W = 160, H = 120;
    AuroraRenderer renderer;
    std::atomic<bool> cancel{true};
    AuroraParams p = withLines({{10, 100, 150, 90}});
    AuroraParams lastRun = p;
    auto source = makePlane(W, H, TypeU8), result = emptyLike(*source);
    RunContext cancelled;
    cancelled.cancelFlag = &cancel;
    EXPECT_EQ(renderer.process(lastRun, *source, MaskChannels{}, *result, cancelled), RunOutcome::Cancelled);
    EXPECT_EQ(renderer.paintings(), 0);
    EXPECT_FALSE(lastRun.unchangedFrom(p)) << "the last-run record says that it did not finish";

    const auto done = render(renderer, p, W, H);
    EXPECT_EQ(renderer.paintings(), 1);
    AuroraParams other = p;
    other.lines = {{20, 80, 140, 100}};
    EXPECT_EQ(renderer.process(other, *source, MaskChannels{}, *result, cancelled), RunOutcome::Cancelled);
    EXPECT_EQ(planeBytes(*render(renderer, p, W, H).result), planeBytes(*done.result));
    EXPECT_EQ(renderer.paintings(), 1) << "the cached layer survived the cancelled repaint";
}

namespace {
// Records every phase's share and step count and the steps actually advanced in it.
class PhaseLog : public RunProgress {
public:
    struct Phase {
        double share;
        int64_t steps;
        std::atomic<int64_t> done{0};
        Phase(double s, int64_t n) : share(s), steps(n) {}
    };
    std::vector<std::unique_ptr<Phase>> phases;
    void beginPhase(double share, int64_t steps) override {
        phases.push_back(std::make_unique<Phase>(share, steps));
    }
    void advance(int64_t steps) override {
        if (!phases.empty()) phases.back()->done += steps;
    }
};
} // namespace

TEST(Aurora, ProgressPhasesFillTheBarExactly) {
    AuroraParams p = withLines({{7, 150, 301, 131}, {-40, 170, 150, 200}});
    p.geometry = 30;
    for (bool soft : {true, false}) {
        AuroraParams q = p;
        if (!soft) q.sigmaX = q.sigmaY = 0;
        AuroraRenderer renderer;
        for (int run = 0; run < 2; ++run) {
            SCOPED_TRACE(run ? "composed again" : "painted");
            auto source = makePlane(333, 222, TypeU8), result = emptyLike(*source);
            PhaseLog log;
            RunContext context;
            context.progress = &log;
            AuroraParams lastRun = q;
            lastRun.opacity = run ? 80 : 50;
            ASSERT_EQ(renderer.process(lastRun, *source, MaskChannels{}, *result, context), RunOutcome::Done);
            double total = 0;
            for (const auto& phase : log.phases) {
                total += phase->share;
                EXPECT_EQ(phase->done.load(), phase->steps) << "share " << phase->share;
            }
            EXPECT_NEAR(total, 1.0, 1e-9);
            EXPECT_EQ(log.phases.size(), run ? 1u : soft ? 8u : 7u);
        }
    }
}

namespace {
// The curtains as a plain serial walk over every point of every segment, in double precision over
// the whole picture: the reference for the banded painting. Returns RGBA in 0 ... 1 per pixel.
std::vector<double> serialCurtains(const AuroraParams& p, int W, int H) {
    std::vector<double> rgba(size_t(W) * H * 4, 0.0);
    const double m = std::min(W, H) / 2000.0, lh = p.length / 100.0 * H, d = 0.02 * lh;
    const double R = p.red / 100.0, G = p.green / 100.0, B = p.blue / 100.0;
    const double q = std::pow(10.0, -(4.0 + 2.0 * p.colorMix / 100.0));
    auto g = [](double t) {
        return t > -1 ? 1 + 0.9664 * t + 0.3536 * t * t : t > -2.4938 ? 0.6464 + 0.2592 * t : 0.0;
    };
    uint32_t state = 101;
    auto draw = [&] {
        state = state * 214013u + 2531011u;
        return ((state >> 16) & 0x7FFF) / 32767.0;
    };
    for (const Segment& s : p.lines) {
        const int64_t dx = int64_t(s.x2) - s.x1, dy = int64_t(s.y2) - s.y1,
                      n = std::max(std::abs(dx), std::abs(dy));
        for (int64_t i = 0; i < n; ++i) {
            const int64_t x = s.x1 + i * dx / n, y = s.y1 + i * dy / n;
            if (x < 0 || x >= W) continue;
            const double h = (0.3 + 0.7 * draw()) * lh, u2 = draw();
            const double top = std::max(0.0, std::round(double(y) - h));
            if (top > double(y)) continue;
            const double cr = y - R / 2 * h, cg = y - (R + G / 2) * h, cb = y - (R + G + B / 2) * h;
            for (int64_t k = 0; k <= y - int64_t(top); ++k) {
                const int64_t row = int64_t(top) + k, v = y - k, dest = p.colorInversion ? v : row;
                if (dest < 0 || dest >= H) continue;
                auto at = [&](double c) { return g(-q * std::pow((row - c) / m, 2)); };
                const double wb = at(cb) * B, wg1 = at(cg + 4 * d) * G, wg2 = at(cg - 4 * d) * G,
                             wr1 = at(cr - d) * R, wr2 = at(cr + d) * R, sum = wb + wg1 + wg2 + wr1 + wr2;
                if (sum == 0) continue;
                const double f = std::clamp((1 - (v - top) / h) * (0.5 + 0.5 * u2), 0.0, 1.0);
                if (f <= 0) continue;
                const double colour[3] = {(0.13089919 * wb + 0.15731649 * wg1 + wr1 + wr2) / sum,
                                          (0.8660887 * wg1 + wg2) / sum, 0.87919605 * wb / sum};
                double* px = &rgba[(size_t(dest) * W + size_t(x)) * 4];
                const double a = px[3];
                for (int c = 0; c < 3; ++c) px[c] = (px[c] * a + colour[c] * f) / (a + f);
                px[3] = a + (1 - a) * f;
            }
        }
    }
    return rgba;
}
} // namespace

TEST(Aurora, TheBandedPaintingMatchesASerialWalk) {
    const int W = 180, H = 140;
    // Lines entering from the left, drawn right to left, crossing the picture from below to above,
    // lying below the picture (their points draw, but paint nothing), beside it, and empty.
    AuroraParams p = plain({{-30, 100, 150, 60},
                            {200, 40, 250, 45},
                            {170, 130, 20, 135},
                            {60, 300, 80, -40},
                            {10, 250, 170, 240},
                            {90, 90, 90, 90},
                            {5, 180, 175, 178},
                            {0, 139, 179, 139}});
    p.brightness = 0; // with glow 0 the field is 1 everywhere: the lightness stays
    for (bool inverted : {false, true}) {
        SCOPED_TRACE(inverted);
        p.colorInversion = inverted;
        AuroraRenderer renderer;
        render(renderer, p, W, H, TypeU8, 3);
        const Layer l = layerOf(renderer);
        const std::vector<double> expected = serialCurtains(p, W, H);
        int painted = 0, worst = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const double* e = &expected[(size_t(y) * W + size_t(x)) * 4];
                ASSERT_EQ(l.alpha(x, y), e[3] > 0 ? 65535 : 0) << x << "," << y;
                if (e[3] == 0) continue;
                ++painted;
                for (int c = 0; c < 3; ++c)
                    worst = std::max(worst, std::abs(int(l.at(x, y)[c]) - int(std::lround(e[c] * 65535))));
            }
        EXPECT_GT(painted, 5000);
        EXPECT_LE(worst, 4) << "16-bit levels";
    }
}

TEST(Aurora, ARepaintWritesOverTheLayerOfTheSameSize) {
    const int W = 260, H = 200;
    AuroraRenderer renderer, fresh;
    AuroraParams p = withLines({{10, 180, 250, 170}});
    render(renderer, p, W, H);
    const PixelPlane* first = renderer.layer();
    // Curtains elsewhere: the same layer object, nothing left of the old curtains.
    p.lines = {{150, 90, 250, 80}};
    p.length = 20;
    const auto again = render(renderer, p, W, H);
    EXPECT_EQ(renderer.layer(), first);
    EXPECT_EQ(renderer.paintings(), 2);
    EXPECT_EQ(planeBytes(*again.result), planeBytes(*render(fresh, p, W, H).result));
    const Layer l = layerOf(renderer);
    const RectI rect = renderer.layerRect();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            if (x < rect.left || x >= rect.right || y < rect.top || y >= rect.bottom) {
                ASSERT_EQ(l.alpha(x, y), 0) << x << "," << y;
            }
}
