// The rainbow renderer: the circle, the palette, colour order across the band, caps, shield, cache
// and determinism.
#include "RenderTestSupport.h"
#include "document/filters/rainbow/RainbowRenderer.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>

using namespace Orvex::Document::Filters;
using namespace TestSupport;

namespace {

using RainbowRun = RenderRun;

RainbowRun render(RainbowRenderer& renderer, RainbowParams& p, Ref<PixelPlane> source, int workers = 0,
                  const DataChannel* shield = nullptr, const std::atomic<bool>* cancel = nullptr) {
    MaskChannels masks;
    masks.strokes = shield;
    return renderOn(renderer, p, std::move(source), masks, workers, cancel);
}

RainbowParams placed(int w, int h) {
    RainbowParams p = RainbowParams::defaults();
    p.placeDefault(w, h);
    p.transparency = 0;
    return p;
}

float hueDegrees(float r, float g, float b) {
    const float mx = std::max({r, g, b}), mn = std::min({r, g, b}), d = mx - mn;
    if (d <= 0) return -1;
    float h = mx == r ? std::fmod((g - b) / d, 6.0f) : mx == g ? (b - r) / d + 2 : (r - g) / d + 4;
    h *= 60;
    return h < 0 ? h + 360 : h;
}

} // namespace

TEST(RainbowCircle, ThroughThreePointsOrNone) {
    RainbowParams p;
    p.placeDefault(1000, 800);
    EXPECT_DOUBLE_EQ(p.pt0.x, 200);
    EXPECT_DOUBLE_EQ(p.pt0.y, 550);
    EXPECT_DOUBLE_EQ(p.pt1.x, 500);
    EXPECT_DOUBLE_EQ(p.pt1.y, 250);
    EXPECT_DOUBLE_EQ(p.pt2.x, 800);
    EXPECT_DOUBLE_EQ(p.pt2.y, 550);
    const RainbowCircle c = RainbowCircle::through(p.pt0, p.pt1, p.pt2);
    EXPECT_NEAR(c.radius, 300, 1e-9);
    EXPECT_NEAR(c.cx, 500, 1e-9);
    EXPECT_NEAR(c.cy, 550, 1e-9);
    // A right angle with a vertical and a horizontal chord, in every order.
    const RainbowParams::Point a{0, 0}, b{0, 10}, d{10, 10};
    for (const auto& order : {std::array{a, b, d}, std::array{b, a, d}, std::array{d, b, a}}) {
        const RainbowCircle r = RainbowCircle::through(order[0], order[1], order[2]);
        EXPECT_NEAR(r.cx, 5, 1e-9);
        EXPECT_NEAR(r.cy, 5, 1e-9);
        EXPECT_NEAR(r.radius, std::sqrt(50.0), 1e-9);
    }
    EXPECT_EQ(RainbowCircle::through({0, 0}, {5, 5}, {10, 10}).radius, -1) << "collinear";
    EXPECT_EQ(RainbowCircle::through({0, 3}, {5, 3}, {10, 3}).radius, -1) << "collinear, horizontal";
    EXPECT_EQ(RainbowCircle::through({4, 0}, {4, 5}, {4, 10}).radius, -1) << "collinear, vertical";
    EXPECT_EQ(RainbowCircle::through({1, 1}, {1, 1}, {7, 3}).radius, -1) << "coinciding";
    EXPECT_EQ(RainbowCircle::through({1, 1}, {1, 1}, {1, 1}).radius, -1);
    EXPECT_EQ(RainbowCircle::through({NAN, 1}, {1, 2}, {3, 1}).radius, -1);
}

TEST(RainbowPalette, VioletInsideRedOutsideFadingAtBothEdges) {
    RainbowParams p = RainbowParams::defaults();
    p.white = true; // unblurred, so the entries are the formula's
    double w = 0;
    const auto palette = rainbowPalette(p, 1000, 800, &w);
    EXPECT_DOUBLE_EQ(w, 101);
    ASSERT_EQ(palette.size(), size_t(203));
    EXPECT_FLOAT_EQ(palette.front().a, 0);
    EXPECT_FLOAT_EQ(palette.back().a, 0);
    EXPECT_FLOAT_EQ(palette[101].a, 1);
    // Violet (red and blue, no green) at the inner edge, green on the circle, red at the outer edge.
    EXPECT_FLOAT_EQ(palette.front().r, 1);
    EXPECT_FLOAT_EQ(palette.front().g, 0);
    EXPECT_FLOAT_EQ(palette.front().b, 1);
    EXPECT_FLOAT_EQ(palette[101].g, 1);
    EXPECT_FLOAT_EQ(palette.back().r, 1);
    EXPECT_FLOAT_EQ(palette.back().g, 0);
    EXPECT_FLOAT_EQ(palette.back().b, 0);
    p.reverse = true;
    const auto reversed = rainbowPalette(p, 1000, 800, nullptr);
    EXPECT_FLOAT_EQ(reversed.front().b, 0);
    EXPECT_FLOAT_EQ(reversed.front().r, 1);
    EXPECT_FLOAT_EQ(reversed.back().b, 1);
    // Blurred, it keeps its length and order and stays within 0 ... 1.
    p.white = false;
    p.reverse = false;
    const auto soft = rainbowPalette(p, 1000, 800, nullptr);
    ASSERT_EQ(soft.size(), palette.size());
    for (const auto& c : soft) ASSERT_TRUE(c.r >= 0 && c.r <= 1 && c.a >= 0 && c.a <= 1);
    EXPECT_GT(soft.front().b, soft.front().g);
    EXPECT_GT(soft.back().r, soft.back().b);
}

TEST(Rainbow, HuesRunFromVioletToRedAlongTheRadius) {
    const int W = 500, H = 400;
    for (bool reverse : {false, true}) {
        RainbowParams p = placed(W, H);
        p.reverse = reverse;
        RainbowRenderer renderer;
        const auto run = render(renderer, p, blackPlane(W, H, TypeU16));
        ASSERT_EQ(run.outcome, RunOutcome::Done);
        const RainbowCircle c = RainbowCircle::through(p.pt0, p.pt1, p.pt2);
        const double w = std::min(W, H) * p.bowWidth / 800.0 + 1;
        const auto rgba = planeFloats(*run.result);
        // Up the vertical radius through pt1, and along a slanted one: hue falls from blue towards red.
        for (double angle : {90.0, 135.0, 50.0}) {
            std::vector<float> hues;
            for (double f : {-0.55, -0.25, 0.0, 0.25, 0.55}) {
                const double radius = c.radius + f * w, t = angle * M_PI / 180;
                const int x = int(std::lround(c.cx + radius * std::cos(t)));
                const int y = int(std::lround(c.cy - radius * std::sin(t)));
                const float* px = &rgba[(size_t(y) * W + size_t(x)) * 4];
                hues.push_back(hueDegrees(px[0], px[1], px[2]));
            }
            if (reverse) std::reverse(hues.begin(), hues.end());
            for (size_t i = 1; i < hues.size(); ++i)
                EXPECT_LT(hues[i], hues[i - 1])
                    << "angle " << angle << " step " << i << " reverse " << reverse;
            EXPECT_GT(hues.front(), 180) << "blue to violet inside";
            EXPECT_LT(hues.back(), 40) << "orange to red outside";
        }
        // Nothing far inside or outside the band, nor below the ends' caps.
        const auto at = [&](int x, int y) { return rgba[(size_t(y) * W + size_t(x)) * 4 + 1]; };
        EXPECT_EQ(at(int(c.cx), int(c.cy - c.radius + w + 3)), 0.0f);
        EXPECT_EQ(at(int(c.cx), int(c.cy - c.radius - w - 3)), 0.0f);
        EXPECT_EQ(at(int(c.cx), H - 1), 0.0f) << "the gap below the centre";
    }
}

TEST(Rainbow, RoundCapsEndTheArc) {
    // A quarter arc: pt0 on the left, pt1 above-left, pt2 on top.
    const int W = 400, H = 400;
    RainbowParams p = RainbowParams::defaults();
    p.transparency = 0;
    p.white = true;
    p.noiseLevel = 0;
    p.colorizing = 20;
    const double R = 150, cx = 200, cy = 250;
    p.pt0 = {cx - R, cy};
    p.pt1 = {cx - R * std::cos(M_PI / 4), cy - R * std::sin(M_PI / 4)};
    p.pt2 = {cx, cy - R};
    RainbowRenderer renderer;
    const auto run = render(renderer, p, blackPlane(W, H, TypeF32));
    const auto rgba = planeFloats(*run.result);
    const double w = 400 * p.bowWidth / 800.0 + 1;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            if (rgba[(size_t(y) * W + size_t(x)) * 4 + 1] == 0) continue;
            // Lit pixels lie on the arc's side of both ends, or within w of an end point.
            const bool onArc = x <= cx + 1 && y <= cy + 1;
            const double nearEnd = std::min(std::hypot(x - int(p.pt0.x), y - int(p.pt0.y)),
                                            std::hypot(x - int(p.pt2.x), y - int(p.pt2.y)));
            ASSERT_TRUE(onArc || nearEnd < w) << x << "," << y;
        }
    // Past the ends, inside the cap, the bow fades: dimmer a little below pt0 than at pt0.
    const auto green = [&](int x, int y) { return rgba[(size_t(y) * W + size_t(x)) * 4 + 1]; };
    EXPECT_GT(green(int(cx - R), int(cy) - 2), green(int(cx - R), int(cy + w / 2)));
    EXPECT_GT(green(int(cx - R), int(cy + w / 2)), 0.0f);
}

TEST(Rainbow, WhiteBowWithoutNoiseIsWhiteAndColorizingKeepsSomeColour) {
    const int W = 300, H = 240;
    RainbowParams p = placed(W, H);
    p.white = true;
    p.noiseLevel = 0;
    p.colorizing = 0;
    RainbowRenderer renderer;
    auto rgba = planeFloats(*render(renderer, p, blackPlane(W, H, TypeF32)).result);
    int lit = 0;
    for (size_t i = 0; i < rgba.size(); i += 4)
        if (rgba[i + 3] > 0 && rgba[i] > 0) {
            ++lit;
            ASSERT_FLOAT_EQ(rgba[i], rgba[i + 1]);
            ASSERT_FLOAT_EQ(rgba[i + 1], rgba[i + 2]);
        }
    EXPECT_GT(lit, 1000);
    p.colorizing = 20;
    RainbowRenderer tinted;
    rgba = planeFloats(*render(tinted, p, blackPlane(W, H, TypeF32)).result);
    int coloured = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) coloured += std::fabs(rgba[i] - rgba[i + 2]) > 0.05f;
    EXPECT_GT(coloured, 100);
    // Noise breaks the coverage up: fewer pixels keep the band's full strength.
    p.noiseLevel = 50;
    p.frequency = 5;
    RainbowRenderer noisy;
    const auto broken = planeFloats(*render(noisy, p, blackPlane(W, H, TypeF32)).result);
    EXPECT_NE(broken, rgba);
}

TEST(Rainbow, SameBytesForOneTwoAndSevenWorkersOffTheTileGrid) {
    for (int32_t type : {TypeU8, TypeU16, TypeF32}) {
        for (bool white : {false, true}) {
            std::vector<uint8_t> reference;
            for (int workers : {1, 2, 7}) {
                RainbowParams p = RainbowParams::defaults();
                p.pt0 = {13.3, 250.7}, p.pt1 = {170.2, 41.9}, p.pt2 = {371.5, 199.1};
                p.white = white;
                RainbowRenderer renderer;
                const auto run = render(renderer, p, makePlane(397, 263, type, true, 0.9f), workers);
                const auto bytes = planeBytes(*run.result);
                if (reference.empty())
                    reference = bytes;
                else
                    EXPECT_EQ(bytes, reference) << workers << " workers, type " << type;
                if (workers == 1) { EXPECT_NE(bytes, planeBytes(*run.source)); }
            }
        }
    }
}

TEST(Rainbow, TransparencyShieldAndIdleNoiseSettingsOnlyRecompose) {
    const int W = 320, H = 240;
    RainbowParams p = placed(W, H);
    RainbowRenderer renderer;
    const auto source = makePlane(W, H, TypeU8);
    const auto first = render(renderer, p, source);
    EXPECT_EQ(renderer.paintings(), 1);
    p.transparency = 60;
    const auto lighter = render(renderer, p, source);
    EXPECT_EQ(renderer.paintings(), 1);
    EXPECT_NE(planeBytes(*lighter.result), planeBytes(*first.result));
    p.frequency = 77, p.noiseLevel = 3, p.colorizing = 1; // white is off: no effect
    render(renderer, p, source);
    EXPECT_EQ(renderer.paintings(), 1);
    // The shield keeps the photograph where it is painted.
    auto shield = makeMask(W, H, RectI{0, 0, W / 2, H});
    p.maskRevision = 1;
    const auto shielded = render(renderer, p, source, 0, shield.get());
    EXPECT_EQ(renderer.paintings(), 1);
    const auto before = planeBytes(*source), after = planeBytes(*shielded.result);
    bool rightChanged = false;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int c = 0; c < 4; ++c) {
                const size_t i = (size_t(y) * W + size_t(x)) * 4 + size_t(c);
                if (x < W / 2) { ASSERT_EQ(after[i], before[i]) << x << "," << y; }
                rightChanged |= after[i] != before[i];
            }
    EXPECT_TRUE(rightChanged);
    // The cached layer composes exactly what a fresh renderer paints.
    RainbowParams q = p;
    RainbowRenderer fresh;
    EXPECT_EQ(planeBytes(*render(fresh, q, source, 0, shield.get()).result), after);
    p.bowWidth = 50;
    render(renderer, p, source);
    EXPECT_EQ(renderer.paintings(), 2);
}

TEST(Rainbow, PointsWithoutABowLeaveThePictureAndForceARepaint) {
    const int W = 200, H = 150;
    const auto source = makePlane(W, H, TypeU8);
    using Pt = RainbowParams::Point;
    const std::vector<std::array<Pt, 3>> cases = {
        {Pt{10, 10}, Pt{50, 50}, Pt{90, 90}},                   // collinear
        {Pt{10, 10}, Pt{10, 10}, Pt{90, 20}},                   // coinciding
        {Pt{5, 5}, Pt{5, 5}, Pt{5, 5}},                         // one point
        {Pt{100, 75}, Pt{101, 76}, Pt{102, 75}},                // a radius under 5
        {Pt{-5000, -5000}, Pt{-4000, -6000}, Pt{-3000, -5000}}, // far outside: nothing painted
    };
    for (const auto& pts : cases) {
        RainbowParams p = RainbowParams::defaults();
        p.pt0 = pts[0], p.pt1 = pts[1], p.pt2 = pts[2];
        RainbowRenderer renderer;
        const auto run = render(renderer, p, source);
        EXPECT_EQ(run.outcome, RunOutcome::Done);
        EXPECT_EQ(planeBytes(*run.result), planeBytes(*source));
        EXPECT_EQ(p.bowWidth, -1) << "the next run repaints";
    }
    // Points outside the picture whose bow crosses it still paint the visible part.
    RainbowParams p = RainbowParams::defaults();
    p.pt0 = {-100, 140}, p.pt1 = {100, 20}, p.pt2 = {300, 140};
    RainbowRenderer renderer;
    EXPECT_NE(planeBytes(*render(renderer, p, source).result), planeBytes(*source));
    // Huge coordinates neither overflow nor hang.
    p.pt0 = {-1e15, 0}, p.pt1 = {0, -1e15}, p.pt2 = {1e15, 0};
    RainbowRenderer huge;
    EXPECT_EQ(render(huge, p, source).outcome, RunOutcome::Done);
}

TEST(Rainbow, CancelledPaintingRepaintsNextTime) {
    std::atomic<bool> cancel{true};
    RainbowParams p = placed(200, 150);
    RainbowRenderer renderer;
    const auto source = makePlane(200, 150, TypeU8);
    EXPECT_EQ(render(renderer, p, source, 0, nullptr, &cancel).outcome, RunOutcome::Cancelled);
    EXPECT_EQ(renderer.paintings(), 0);
    p = placed(200, 150);
    EXPECT_EQ(render(renderer, p, source).outcome, RunOutcome::Done);
    EXPECT_EQ(renderer.paintings(), 1);
}
