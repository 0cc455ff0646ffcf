#pragma once
#include "document/filters/RenderSupport.h"
#include "document/filters/common/HugePageAllocator.h"
#include "document/filters/nightsky/NightSkyParams.h"

#include <vector>

namespace Orvex::Document::Filters {

// The zones of a run: labels over their bounding box Z (0 none, 1 star zone, 2 star and nebula
// zone) and the weight with which the sky shows at each pixel (255 inside a painted zone; the
// selection's own soft value when a plain selection stands for the zones).
struct SkyZones {
    RectI box;                    // Z; empty when nothing is painted
    Common::UninitializedHugePageVector<uint8_t> labels;  // box.width() bytes a row
    Common::UninitializedHugePageVector<uint8_t> weights; // the same layout
    int64_t zonePixels = 0;       // n_z
    int64_t nebulaPixels = 0;     // n_n
    uint64_t hash = 0;            // of labels and weights, for the cache keys

    // From the two-zone mask (values 1 and 2; any other non-zero value is a star zone) or, without
    // one, from a plain selection, every selected pixel of which is a zone of both kinds.
    static SkyZones from(const MaskChannels& masks, SizeI size, int maxWorkers);
};

// One soft stamp of the sky in drawing order: a star disc, a star too small to cover a pixel centre
// (spread over its four nearest pixels), or a whole streak, whose discs follow each other 0.7 pixels
// apart from (sx, sy) to (ex, ey), shrinking and fading as they go.
struct SkyStamp {
    enum Kind : uint8_t { Disc, Streak, Splat };
    float x = 0, y = 0; // centre or start; pixel (i, j) has its centre at (i + 0.5, j + 0.5)
    float reach = 0;    // disc and splat: pixels whose centre lies within reach are touched
    float width = 0;    // streak: its full width (its edge antialiasing)
    float strength = 0; // disc and streak: sigma; splat: the disc's alpha mass
    float r = 0, g = 0, b = 0;
    Kind kind = Disc;
    uint8_t profile = 0;   // streak: 0 fading from its start, 1 swelling first
    double sx = 0, sy = 0; // streak: start and end as drawn
    double ex = 0, ey = 0;
    double step = 0;                    // streak: parameter step between discs
    double sigma = 0;                   // streak: its strength as drawn
    double exactWidth = 0;              // streak: its width as drawn (the discs shrink from it)
    int64_t discs = 0;                  // streak: how many discs
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0; // touched pixels, cut to the image; right and bottom exclusive
};

// How many elements of each kind the last build drew.
struct SkyCounts {
    int64_t nebulas = 0, stars = 0, starRays = 0, shootingStars = 0, meteors = 0, stamps = 0, streakDiscs = 0;
};

// Night sky: nebula clouds, stars with optional rays, shooting stars and meteors at seeded random
// places inside the painted zones, laid over the photograph where the zones are.
//
// The nebula layer (blobs stamped in bands of rows on the jobs pool, then deformed by a smooth
// random field) is the expensive part; it is cached under the nebula fields, the base colour and
// the zones. The other elements are drawn serially from their generators into a list of stamps
// (cached under the whole record and the zones), which the composition applies tile by tile over
// the dimmed nebula, in drawing order within each tile, before laying the tile over the photograph.
// Layers are premultiplied floats (the nebula's interleaved, so that its resampling reads each pixel
// whole); every stamp is the "over" of its colour at its alpha.
class NightSkyRenderer : public TypedRenderer<NightSkyParams, NightSkyRenderer> {
public:
    RunOutcome process(NightSkyParams& lastRun, const DataStorage::PixelPlane& source,
                       const MaskChannels& masks, DataStorage::PixelPlane& result, const RunContext& context);

    const SkyCounts& counts() const { return m_counts; }
    // The element stamps of the last build, in drawing order.
    const std::vector<SkyStamp>& stamps() const { return m_stamps; }
    int nebulaBuilds() const { return m_nebulaBuilds; }
    int elementBuilds() const { return m_elementBuilds; }
    // The layer rectangle after the nebulas and after every element.
    RectI nebulaRect() const { return m_nebulaRect; }
    RectI layerRect() const { return m_layerRect; }

private:
    // Each sets its own progress phase of `share` (nebula) or is counted by the caller (elements).
    bool buildNebula(const NightSkyParams& p, const SkyZones& zones, SizeI size, const RunContext& context,
                     double share);
    bool buildElements(const NightSkyParams& p, const SkyZones& zones, SizeI size, const RunContext& context);

    // The nebula cache over m_nebulaArea: premultiplied red, green, blue and alpha, interleaved; or,
    // when every blob has the one colour m_nebulaColour, the alpha alone.
    Common::UninitializedHugePageVector<float> m_nebula;
    bool m_nebulaUniform = false;
    float m_nebulaColour[3] = {0, 0, 0};
    RectI m_nebulaArea;
    RectI m_nebulaRect; // the layer rectangle after the nebulas (Z when there are none)
    bool m_nebulaValid = false;
    NightSkyParams m_nebulaKey;
    uint64_t m_nebulaZones = 0;
    SizeI m_nebulaSize{-1, -1};

    // The element cache.
    std::vector<SkyStamp> m_stamps;
    RectI m_layerRect;
    bool m_elementsValid = false;
    NightSkyParams m_elementKey;
    uint64_t m_elementZones = 0;
    SizeI m_elementSize{-1, -1};

    SkyCounts m_counts;
    int m_nebulaBuilds = 0;
    int m_elementBuilds = 0;
};

} // namespace Orvex::Document::Filters
