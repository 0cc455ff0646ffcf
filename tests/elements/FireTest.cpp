#include "ElementsTestSupport.h"

#include "document/filters/fire/FireFlames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>

using namespace Orvex::Document::Filters;
using namespace ElementsTest;

namespace {

FireParams smallFlames() {
    FireParams p = FireParams::defaults();
    p.flames = 60;
    p.width = 6;
    p.height = 40;
    return p;
}

FlameCanvas draw(const FireGeometry& g, const FireParams& p, const std::vector<uint8_t>& mask, int workers,
                 FlameOutcome* outcome = nullptr, int64_t* tongues = nullptr, bool vector = true) {
    FlameCanvas canvas;
    FlameCallbacks callbacks;
    callbacks.maxWorkers = workers;
    callbacks.allowVector = vector;
    callbacks.beginTongues = [&](int64_t n) {
        if (tongues) *tongues = n;
    };
    const FlameOutcome result = drawFlameCanvas(g, p, mask, canvas, callbacks);
    if (outcome) *outcome = result;
    return canvas;
}

} // namespace

TEST(FireGeometry, GridAndCanvasFollowTheImageSize) {
    const FireGeometry small = FireGeometry::forImage(400, 300);
    EXPECT_DOUBLE_EQ(small.scale, 1.0);
    EXPECT_EQ(small.gridWidth, 400);
    EXPECT_EQ(small.gridHeight, 300);
    EXPECT_EQ(small.canvasWidth, 400);
    EXPECT_EQ(small.canvasHeight, 300);

    const FireGeometry wide = FireGeometry::forImage(2000, 1000);
    EXPECT_DOUBLE_EQ(wide.scale, 4.0);
    EXPECT_EQ(wide.gridWidth, 500);
    EXPECT_EQ(wide.gridHeight, 250);
    EXPECT_DOUBLE_EQ(wide.canvasFactor, 2.0);
    EXPECT_EQ(wide.canvasWidth, 1000);
    EXPECT_EQ(wide.canvasHeight, 500);
    EXPECT_DOUBLE_EQ(wide.canvasToGrid, 2.0);

    // Between 500 and 1000 pixels the canvas is the grid.
    const FireGeometry mid = FireGeometry::forImage(750, 300);
    EXPECT_EQ(mid.gridWidth, 500);
    EXPECT_EQ(mid.canvasWidth, 500);
    EXPECT_DOUBLE_EQ(mid.canvasToGrid, 1.0);

    const FireGeometry line = FireGeometry::forImage(3000, 1);
    EXPECT_EQ(line.gridHeight, 1);
    EXPECT_EQ(line.canvasHeight, 1);
}

TEST(FireRamp, WhiteAtFullOrangeAtHalfBlackAtZero) {
    const FlameColor white = flameRamp(1.0f);
    EXPECT_NEAR(white.r, 1.0f, 1e-6f);
    EXPECT_NEAR(white.g, 1.0f, 1e-6f);
    EXPECT_NEAR(white.b, 1.0f, 1e-6f);
    const FlameColor orange = flameRamp(0.5f);
    EXPECT_NEAR(orange.r, 0.8125f, 1e-6f);
    EXPECT_NEAR(orange.g, 0.41f, 1e-6f);
    EXPECT_NEAR(orange.b, 0.0625f, 1e-6f);
    const FlameColor black = flameRamp(0.0f);
    EXPECT_EQ(black.r + black.g + black.b, 0.0f);
}

TEST(FireFlames, SameBytesForAnyWorkerCount) {
    const FireGeometry g = FireGeometry::forImage(320, 240);
    const auto mask = bandMask(320, 240, 180, 240);
    const FireParams p = smallFlames();
    const auto one = draw(g, p, mask, 1);
    EXPECT_TRUE(sameBytes(one, draw(g, p, mask, 2)));
    EXPECT_TRUE(sameBytes(one, draw(g, p, mask, 7)));
    // And the generator restarts for every drawing.
    EXPECT_TRUE(sameBytes(one, draw(g, p, mask, 0)));
}

TEST(FireFlames, VectorMergeGivesTheScalarBytes) {
    // Narrow and wide tongues, strong and weak sway, on a canvas smaller than the image (k > 1) and
    // on one the size of the grid; the selection leaves room above for the flames.
    struct Case {
        int flames, width, height, blur, distortion;
    };
    const Case cases[] = {
        {86, 17, 188, 13, 65}, {50, 8, 128, 5, 90}, {200, 50, 67, 50, 57}, {54, 1, 1, 40, 100}};
    for (const auto& size : {std::pair{1300, 900}, std::pair{480, 200}}) {
        const FireGeometry g = FireGeometry::forImage(size.first, size.second);
        const auto mask = bandMask(g.gridWidth, g.gridHeight, g.gridHeight / 2, g.gridHeight * 3 / 4);
        for (const Case& c : cases) {
            FireParams p = FireParams::defaults();
            p.flames = c.flames;
            p.width = c.width;
            p.height = c.height;
            p.horizontalBlur = c.blur;
            p.distortion = c.distortion;
            const auto vector = draw(g, p, mask, 2, nullptr, nullptr, true);
            const auto scalar = draw(g, p, mask, 2, nullptr, nullptr, false);
            EXPECT_TRUE(sameBytes(vector, scalar))
                << size.first << "x" << size.second << " flames " << c.flames << " width " << c.width
                << " distortion " << c.distortion;
            EXPECT_GT(*std::max_element(vector.begin(), vector.end()), 0.5f);
        }
    }
}

TEST(FireFlames, TongueCountFollowsSelectionAndDensity) {
    const FireGeometry g = FireGeometry::forImage(2000, 1000); // s = 4
    auto mask = bandMask(g.gridWidth, g.gridHeight, 200, 250); // 500 x 50 cells
    int64_t tongues = 0;
    FireParams p = smallFlames();
    p.flames = 100;
    draw(g, p, mask, 0, nullptr, &tongues);
    // Per selected grid cell, whatever the image's size: the tongues are sized in cells.
    EXPECT_EQ(tongues, int64_t(25000.0 * 100 * 0.00005)); // 125

    // A single selected cell still yields one tongue, rising above it.
    std::vector<uint8_t> dot(std::size_t(g.gridWidth) * g.gridHeight, 0);
    dot[std::size_t(200) * g.gridWidth + 250] = 255;
    FlameOutcome outcome{};
    const auto canvas = draw(g, p, dot, 0, &outcome, &tongues);
    EXPECT_EQ(outcome, FlameOutcome::Drawn);
    EXPECT_EQ(tongues, 1);
    double above = 0, below = 0;
    for (int y = 0; y < g.canvasHeight; ++y)
        for (int x = 0; x < g.canvasWidth; ++x)
            (y < 400 ? above : below) += canvas[std::size_t(y) * g.canvasWidth + x];
    EXPECT_GT(above, 0.0);
    EXPECT_GT(above, 4 * below);
}

TEST(FireFlames, FlamesStayWithinZeroToOneAndReachTheSelection) {
    const FireGeometry g = FireGeometry::forImage(400, 300);
    const auto mask = bandMask(400, 300, 250, 300);
    const auto canvas = draw(g, smallFlames(), mask, 0);
    float lo = 1, hi = 0;
    for (float v : canvas) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_GE(lo, 0.0f);
    EXPECT_LE(hi, 1.0f + 1e-6f);
    EXPECT_GT(hi, 0.9f);
    // The area over the selection burns; the sky far above it does not.
    double bandMean = 0, topMean = 0;
    for (int y = 250; y < 300; ++y)
        for (int x = 0; x < 400; ++x) bandMean += canvas[std::size_t(y) * 400 + x];
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 400; ++x) topMean += canvas[std::size_t(y) * 400 + x];
    EXPECT_GT(bandMean / (50 * 400), 0.05);
    EXPECT_LT(topMean / (50 * 400), 0.001);
}

TEST(FireFlames, EmptySelectionAndCancellation) {
    const FireGeometry g = FireGeometry::forImage(200, 100);
    FlameOutcome outcome{};
    draw(g, smallFlames(), std::vector<uint8_t>(200 * 100, 0), 0, &outcome);
    EXPECT_EQ(outcome, FlameOutcome::NothingSelected);

    FlameCanvas canvas;
    FlameCallbacks callbacks;
    callbacks.cancelled = [] { return true; };
    EXPECT_EQ(drawFlameCanvas(g, smallFlames(), bandMask(200, 100, 50, 100), canvas, callbacks),
              FlameOutcome::Cancelled);

    // Degenerate pictures draw without trouble.
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 300}, std::pair{700, 1}}) {
        const FireGeometry tiny = FireGeometry::forImage(w, h);
        draw(tiny, smallFlames(), std::vector<uint8_t>(std::size_t(tiny.gridWidth) * tiny.gridHeight, 255), 0,
             &outcome);
        EXPECT_EQ(outcome, FlameOutcome::Drawn) << w << "x" << h;
    }
}
