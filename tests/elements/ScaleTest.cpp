// Fire and frost keep their look when the same picture comes at a larger size: a preset rendered at
// a small and at a large size gives, once the large render is brought down to the small one, the
// same statistics of the effect layer (how much of the frame it covers, how bright it is, where it
// sits, how fine its structure is), within the tolerance stated at each check.
#include "../effects/RenderTestSupport.h"

#include "document/filters/fire/FireRenderer.h"
#include "document/filters/frost/FrostRenderer.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace Orvex::Document::Filters;
using namespace TestSupport;

namespace {

// The same selection at any size: a band across the frame, given in fractions of it.
RectI bandAt(int w, int h, double left, double top, double right, double bottom) {
    return RectI{int(std::lround(left * w)), int(std::lround(top * h)), int(std::lround(right * w)),
                 int(std::lround(bottom * h))};
}

template <class Renderer, class Params>
void renderOnce(Renderer& renderer, Params params, int w, int h, const RectI& selected) {
    const auto source = makePlane(w, h, TypeU8, true);
    const auto result = emptyLike(*source);
    const auto mask = makeMask(w, h, selected);
    MaskChannels masks;
    masks.mask = mask.get();
    RunContext context;
    ASSERT_EQ(renderer.process(params, *source, masks, *result, context), RunOutcome::Done);
}

// ---- Fire -------------------------------------------------------------------------------------

struct FlameStats {
    double mean = 0;     // mean flame value over the frame
    double coverage = 0; // share of the frame where the flame is at least 0.25
    double centroid = 0; // flame-weighted mean row, as a share of the frame height
};

FlameStats flameStats(const FireRenderer& renderer) {
    const FireGeometry& g = renderer.geometry();
    const FlameCanvas& canvas = renderer.flameCanvas();
    FlameStats stats;
    double weightedRow = 0;
    for (int y = 0; y < g.canvasHeight; ++y)
        for (int x = 0; x < g.canvasWidth; ++x) {
            const double v = std::clamp(canvas[std::size_t(y) * g.canvasWidth + x], 0.0f, 1.0f);
            stats.mean += v;
            stats.coverage += v >= 0.25;
            weightedRow += v * (y + 0.5);
        }
    const double pixels = double(g.canvasWidth) * g.canvasHeight;
    stats.centroid = stats.mean > 0 ? weightedRow / stats.mean / g.canvasHeight : 0;
    stats.mean /= pixels;
    stats.coverage /= pixels;
    return stats;
}

FireParams campfire() {
    FireParams p = FireParams::defaults();
    p.flames = 20;
    p.width = 19;
    p.height = 202;
    p.horizontalBlur = 7;
    p.distortion = 65;
    p.hue = -3;
    return p;
}

FireParams wildfire() {
    FireParams p = FireParams::defaults();
    p.flames = 50;
    p.width = 9;
    p.height = 69;
    p.horizontalBlur = 5;
    p.distortion = 38;
    return p;
}

// The grid is 500 cells along the longer side from 500 pixels up, so 500 x 375 and 2000 x 1500 are
// simulated on the same grid; 12 megapixels would be too, only slower to test.
TEST(FireScale, FlamesCoverTheSameShareOfTheFrameAtFourTimesTheSize) {
    for (const FireParams& preset : {campfire(), wildfire()}) {
        SCOPED_TRACE(preset.flames);
        FlameStats stats[2];
        const int sizes[2][2] = {{500, 375}, {2000, 1500}};
        for (int i = 0; i < 2; ++i) {
            const int w = sizes[i][0], h = sizes[i][1];
            FireRenderer renderer;
            renderOnce(renderer, preset, w, h, bandAt(w, h, 0.1, 0.6, 0.9, 0.9));
            stats[i] = flameStats(renderer);
        }
        ASSERT_GT(stats[0].coverage, 0.02) << "the preset draws visible flames";
        // Within a tenth: the canvas of the large image is twice as fine, nothing else differs.
        EXPECT_NEAR(stats[1].coverage / stats[0].coverage, 1.0, 0.1);
        EXPECT_NEAR(stats[1].mean / stats[0].mean, 1.0, 0.1);
        // The tongues rise as high relative to the frame: the flame's centre of weight sits on the
        // same row within 2 % of the frame height.
        EXPECT_NEAR(stats[1].centroid, stats[0].centroid, 0.02);
    }
}

TEST(FireScale, TheTongueCountFollowsTheGridNotThePixels) {
    const FireGeometry small = FireGeometry::forImage(500, 333);
    const FireGeometry large = FireGeometry::forImage(4272, 2848);
    EXPECT_EQ(large.gridWidth, 500);
    EXPECT_EQ(large.gridHeight, 333);
    EXPECT_EQ(fireTongueCount(80000, 20, small), fireTongueCount(80000, 20, large));
    EXPECT_EQ(fireTongueCount(80000, 20, large), 80);
    // Below 500 pixels the grid is the image, so a cell is a pixel; one tongue at the least.
    EXPECT_EQ(fireTongueCount(38400, 20, FireGeometry::forImage(320, 240)), 38);
    EXPECT_EQ(fireTongueCount(1, 5, large), 1);
}

// ---- Frost ------------------------------------------------------------------------------------

struct CrustStats {
    double coverage = 0;        // share of the selection under the crust
    double crossingsPerRow = 0; // crust edges met along a row of the frame
};

// The crystal map brought down by `factor` (a cell is crystal when at least half its pixels are),
// then measured inside the selection band. The crystals, not the deposit: the splats are one to
// three pixels at every size and give the crust its fine grain on top of the crystals.
CrustStats crustStats(const FrostRenderer& renderer, int w, int h, int factor, const RectI& band) {
    const std::vector<uint8_t>& coverage = renderer.crystalMap();
    const int sw = w / factor, sh = h / factor;
    std::vector<uint8_t> small(std::size_t(sw) * sh);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            int covered = 0;
            for (int dy = 0; dy < factor; ++dy)
                for (int dx = 0; dx < factor; ++dx)
                    covered += coverage[std::size_t(y * factor + dy) * w + x * factor + dx] != 0;
            small[std::size_t(y) * sw + x] = 2 * covered >= factor * factor;
        }
    const RectI b{band.left / factor, band.top / factor, band.right / factor, band.bottom / factor};
    CrustStats stats;
    int64_t covered = 0, crossings = 0;
    for (int y = b.top; y < b.bottom; ++y)
        for (int x = b.left; x < b.right; ++x) {
            const uint8_t here = small[std::size_t(y) * sw + x];
            covered += here;
            if (x > b.left) crossings += here != small[std::size_t(y) * sw + x - 1];
        }
    stats.coverage = double(covered) / (double(b.width()) * b.height());
    stats.crossingsPerRow = double(crossings) / b.height();
    return stats;
}

FrostParams icePattern() {
    FrostParams p = FrostParams::defaults();
    p.thickness = 52;
    p.fill = 30;
    p.branching = 66;
    p.freeze = 33;
    p.transparency = 37;
    p.shadow = 19;
    p.uniformity = 42;
    return p;
}

FrostParams whiteFrost() {
    FrostParams p = FrostParams::defaults();
    p.fill = 1;
    p.branching = 3;
    p.shadow = 15;
    p.uniformity = 25;
    return p;
}

// The crust grows on 1000 cells along the longer side, so 1000 x 750 is grown pixel by pixel and
// 2000 x 1500 on the same grid, scaled up.
TEST(FrostScale, TheCrustHasCrystalsOfTheSameRelativeSizeAtTwiceTheSize) {
    for (const FrostParams& preset : {icePattern(), whiteFrost()}) {
        SCOPED_TRACE(preset.fill);
        CrustStats stats[2];
        const int sizes[2][2] = {{1000, 750}, {2000, 1500}};
        for (int i = 0; i < 2; ++i) {
            const int w = sizes[i][0], h = sizes[i][1];
            const RectI band = bandAt(w, h, 0.1, 0.15, 0.9, 0.35);
            FrostRenderer renderer;
            renderOnce(renderer, preset, w, h, band);
            stats[i] = crustStats(renderer, w, h, i + 1, band);
        }
        ASSERT_GT(stats[0].coverage, 0.01) << "the preset grows a visible crust";
        ASSERT_GT(stats[0].crossingsPerRow, 2.0);
        // The crust is random (the crust generator runs on between runs), so a fifth either way.
        EXPECT_NEAR(stats[1].coverage / stats[0].coverage, 1.0, 0.2);
        // As many crystal edges across the frame: twice as many would be the same crust in pixels,
        // that is crystals half the size relative to the frame.
        EXPECT_NEAR(stats[1].crossingsPerRow / stats[0].crossingsPerRow, 1.0, 0.2);
    }
}

TEST(FrostScale, TheGridKeepsSmallImagesAtTheirPixels) {
    const FrostGrid small = FrostGrid::forImage(1000, 667);
    EXPECT_TRUE(small.isImage());
    const FrostGrid large = FrostGrid::forImage(4272, 2848);
    EXPECT_FALSE(large.isImage());
    EXPECT_EQ(large.width, 1000);
    EXPECT_EQ(large.height, 667);
    const FrostGrid tall = FrostGrid::forImage(900, 3000);
    EXPECT_EQ(tall.height, 1000);
    EXPECT_EQ(tall.width, 300);
}

// Above 1000 pixels: the same bytes whatever the worker count, in every sample type, and pixels
// the crust does not reach keep the source's exact samples.
TEST(FrostScale, TheGridPathIsExactOutsideTheCrustAndIndependentOfWorkers) {
    const int w = 1050, h = 200;
    const RectI band{200, 30, 600, 110};
    for (int32_t type : {TypeU8, TypeU16, TypeF32}) {
        SCOPED_TRACE(type);
        std::vector<uint8_t> reference;
        for (int workers : {1, 7}) {
            setFrostCrustState(1);
            FrostRenderer renderer;
            const auto source = makePlane(w, h, type, true, 0.5f);
            const auto result = emptyLike(*source);
            const auto mask = makeMask(w, h, band);
            MaskChannels masks;
            masks.mask = mask.get();
            RunContext context;
            context.maxWorkers = workers;
            FrostParams params = icePattern();
            ASSERT_EQ(renderer.process(params, *source, masks, *result, context), RunOutcome::Done);
            const auto bytes = planeBytes(*result);
            if (reference.empty()) {
                reference = bytes;
                const auto before = planeBytes(*source);
                const std::size_t pixel = bytes.size() / (std::size_t(w) * h);
                int changedInside = 0;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const std::size_t at = (std::size_t(y) * w + x) * pixel;
                        const bool same = std::memcmp(&bytes[at], &before[at], pixel) == 0;
                        // The crust is laid over the 64-cell tiles of the grid that cover the
                        // selection (cells of 1.05 pixels here); beyond them nothing changes.
                        const int margin = 72;
                        if (x < band.left - margin || x >= band.right + margin || y >= band.bottom + margin) {
                            ASSERT_TRUE(same) << x << "," << y;
                        }
                        changedInside += !same && band.contains(x, y);
                    }
                EXPECT_GT(changedInside, band.width() * band.height() / 10);
            } else {
                EXPECT_EQ(bytes, reference) << workers << " workers";
            }
        }
    }
}

// Scaling up keeps a lone crystal cell a blob of about its own size where it was, and adds nothing
// elsewhere.
TEST(FrostScale, TheEnlargedMapKeepsItsCellsWhereTheyWere) {
    FrostGrid grid;
    grid.imageWidth = 40;
    grid.imageHeight = 40;
    grid.width = grid.height = 10;
    grid.scale = 4;
    std::vector<uint8_t> cells(100, 0);
    cells[5 * 10 + 5] = 7; // any non-zero value is set
    std::vector<uint8_t> image;
    enlargeFrostMap(grid, cells, image, 0);
    ASSERT_EQ(image.size(), 1600u);
    int set = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            if (image[std::size_t(y) * 40 + x]) {
                ++set;
                EXPECT_TRUE(x >= 18 && x < 26 && y >= 18 && y < 26) << x << "," << y;
            }
    EXPECT_GE(set, 9);
    EXPECT_LE(set, 25);
}

} // namespace
