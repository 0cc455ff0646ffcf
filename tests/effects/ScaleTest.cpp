// Every built effect, with its defaults, on the same picture and selection at 400 x 300 and at
// 1600 x 1200: once the large render is box-averaged down to the small size, the effect layer
// (result minus source) is as strong and lies where it lay. A renderer that forgot the image's size
// somewhere (a count per pixel where the shapes are per frame, or the other way round) shows up as
// a layer several times too strong or too weak.
#include "RenderTestSupport.h"
#include "document/filters/EffectRegistry.h"
#include "document/filters/rainbow/RainbowParams.h"
#include "document/filters/sun/SunParams.h"

#include <gtest/gtest.h>

using namespace Orvex::Document::Filters;
using namespace TestSupport;

namespace {

struct Layer {
    double strength = 0; // mean |result - source| over the three colour channels and the frame
    double upper = 0;    // the share of that strength in the upper half of the frame
};

// The effect layer of one render with the effect's defaults, box-averaged by `factor`.
Layer renderLayer(int id, int w, int h, int factor) {
    auto params = EffectRegistry::createParams(id);
    auto renderer = EffectRegistry::createRenderer(id);
    auto source = makePlane(w, h, TypeU8, true);
    auto result = emptyLike(*source);
    // The sky of a landscape: the upper half, cut off before the edges.
    auto mask = makeMask(w, h, RectI{w / 20, h / 20, w - w / 20, h / 2});
    MaskChannels masks;
    masks.mask = masks.duoMask = mask.get();
    RunContext context;
    auto lastRun = params->clone();
    // What the user places goes where a new document puts it, in the frame's proportions: the
    // sun at (m/8, m/8) with radius m/40 (m the shorter side), a stroke down the middle of the sky.
    if (auto* sun = dynamic_cast<TypedParams<SunParams>*>(lastRun.get())) {
        const int m = std::min(w, h);
        sun->record.centerX = m / 8;
        sun->record.centerY = m / 8;
        sun->record.radius = m / 40.0;
    }
    if (auto* rainbow = dynamic_cast<TypedParams<RainbowParams>*>(lastRun.get()))
        rainbow->record.placeDefault(w, h);
    if (auto* lines = lastRun->segments()) *lines = {Segment{w / 2, h / 2, w / 2 + w / 10, h / 10}};
    EXPECT_EQ(renderer->processAny(*lastRun, *source, masks, *result, context), RunOutcome::Done);
    const auto before = planeFloats(*source), after = planeFloats(*result);
    const int sw = w / factor, sh = h / factor;
    std::vector<double> delta(std::size_t(sw) * sh * 3, 0.0);
    for (int y = 0; y < sh * factor; ++y)
        for (int x = 0; x < sw * factor; ++x)
            for (int c = 0; c < 3; ++c) {
                const std::size_t i = (std::size_t(y) * w + x) * 4 + c;
                delta[(std::size_t(y / factor) * sw + x / factor) * 3 + c] += after[i] - before[i];
            }
    Layer layer;
    double upper = 0;
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x)
            for (int c = 0; c < 3; ++c) {
                const double d = std::fabs(delta[(std::size_t(y) * sw + x) * 3 + c]) / (factor * factor);
                layer.strength += d;
                if (y < sh / 2) upper += d;
            }
    layer.upper = layer.strength > 0 ? upper / layer.strength : 0;
    layer.strength /= double(sw) * sh * 3;
    return layer;
}

} // namespace

TEST(EffectScale, EveryEffectLaysTheSameLayerAtFourTimesTheSize) {
    int compared = 0;
    for (const EffectInfo& e : EffectRegistry::all()) {
        if (!EffectRegistry::createParams(e.id) || !EffectRegistry::createRenderer(e.id)) continue;
        SCOPED_TRACE(e.shortName);
        // Frost grows its crust pixel by pixel up to 1000 pixels and on a grid above; its own test
        // compares two sizes on that grid.
        if (e.id == EffectId::Frost) continue;
        const Layer small = renderLayer(e.id, 400, 300, 1);
        if (small.strength < 1e-4) continue; // needs lines or points the defaults do not give
        const Layer large = renderLayer(e.id, 1600, 1200, 4);
        // The sun's glow fades over a fixed 200 pixels and its disc is smoothed by a sigma in
        // pixels; the lightning bolt's width grows with the square root of the stroke's length
        // and its steps and glow are in pixels. Both are drawn at those pixel sizes at any image
        // size, so their layers are relatively weaker on a larger frame.
        if (e.id == EffectId::Sun) continue;
        if (e.id != EffectId::Lightning) {
            // A quarter either way: random effects draw other elements at the other size, and
            // thin structures lose a little to the averaging; a scale fault is a factor of several.
            EXPECT_NEAR(large.strength / small.strength, 1.0, 0.25);
        }
        EXPECT_NEAR(large.upper, small.upper, 0.1);
        ++compared;
    }
    EXPECT_GE(compared, 4);
}
