#pragma once
#include "document/filters/RenderSupport.h"
#include "document/filters/common/HugePageAllocator.h"
#include "document/filters/lightning/LightningParams.h"

namespace Orvex::Document::Filters {

// The strikes of one run before they are painted: soft coverage of the bolts and the blurred sum of
// the same stamps (the glow), both over the working area (the bounding box of the lines' end points
// cut to the image), and the rectangle that holds anything at all.
struct LightningStrikes {
    RectI area;    // image coordinates of the buffers' (0, 0) ... (width, height)
    RectI touched; // everything stamped or reached by the glow, inside `area`
    Common::UninitializedHugePageVector<float> bolt; // coverage 0 ... 1, area.width() floats a row
    Common::UninitializedHugePageVector<float> glow; // 0 ... (unbounded sum; clipped to 1 when painted)
    int64_t stamps = 0;                              // discs stamped, for tests and benchmarks
};

// Lightning: a seeded random walk per line from its upper end to its lower end, smoothed into a
// curve and stamped as thinning, fading discs; random branches sprout from the walk (and from each
// other); the glow is the blurred sum of the stamps. The walks are serial (one generator per line
// drives the walk and its branches); the stamps they leave are rasterised in bands of rows on the
// jobs pool, in drawing order within each band, and the blur and the painting run there too. The strikes are
// cached under every field that shapes them, so a change of colour or blending only repaints.
class LightningRenderer : public TypedRenderer<LightningParams, LightningRenderer> {
public:
    RunOutcome process(LightningParams& lastRun, const DataStorage::PixelPlane& source,
                       const MaskChannels& masks, DataStorage::PixelPlane& result, const RunContext& context);

    // The strikes of a record on an image of `size`; false when cancelled. The record must be
    // clamped.
    static bool buildStrikes(const LightningParams& p, SizeI size, LightningStrikes& strikes,
                             const RunContext& context);

    const LightningStrikes& strikesCache() const { return m_strikes; }
    int strikeBuilds() const { return m_builds; }

private:
    bool sameStrikeKey(const LightningParams& p, SizeI size) const;

    LightningStrikes m_strikes;
    LightningParams m_key;
    SizeI m_keySize{-1, -1};
    bool m_keyValid = false;
    int m_builds = 0;
};

} // namespace Orvex::Document::Filters
