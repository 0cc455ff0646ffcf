#pragma once
#include "document/filters/RenderSupport.h"
#include "document/filters/rainbow/RainbowParams.h"

#include <memory>

namespace Orvex::Document::Filters {

// The circle through three points; radius -1 when there is none (collinear or coinciding points).
struct RainbowCircle {
    double radius = -1;
    double cx = 0, cy = 0;
    static RainbowCircle through(RainbowParams::Point a, RainbowParams::Point b, RainbowParams::Point c);
};

// One palette entry of the band: colour and coverage, 0 ... 1.
struct RainbowColour {
    float r = 0, g = 0, b = 0, a = 0;
};

// The band's colours across its width: 2n + 1 entries for the offsets -n ... n from the circle,
// violet inside to red outside (the other way round when reversed), coverage falling smoothly to 0 at
// both edges; blurred along the band unless white. `halfWidth` receives w.
std::vector<RainbowColour> rainbowPalette(const RainbowParams& p, int width, int height, double* halfWidth);

// Rainbow: a band along the arc through three points, painted tile by tile into a cached layer
// (RGBA in the working sample type) and composed over the photograph with the transparency, where
// the shield (the strokes mask) leaves the sky free. Only the transparency, the shield or the
// selection changed: the cached layer is composed again without repainting.
class RainbowRenderer : public TypedRenderer<RainbowParams, RainbowRenderer> {
public:
    RunOutcome process(RainbowParams& lastRun, const DataStorage::PixelPlane& source,
                       const MaskChannels& masks, DataStorage::PixelPlane& result, const RunContext& context);

    int paintings() const { return m_paintings; }
    RectI paintedRect() const { return m_painted; }

private:
    bool sameKey(const RainbowParams& p, SizeI size, int32_t type) const;

    // The layer: one block of 64 x 64 RGBA samples for every tile the band reached, by tile number.
    std::vector<std::unique_ptr<uint8_t[]>> m_blocks;
    RectI m_painted;
    RainbowParams m_key;
    bool m_keyValid = false;
    SizeI m_keySize{-1, -1};
    int32_t m_keyType = 0;
    int m_paintings = 0;

    Ref<DataStorage::DataChannel> m_shield; // null: nothing shielded
    int32_t m_shieldRevision = -1;
};

} // namespace Orvex::Document::Filters
