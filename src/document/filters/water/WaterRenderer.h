#pragma once
#include "document/filters/RenderSupport.h"
#include "document/filters/water/WaterSurface.h"

namespace Orvex::Document::Filters {

// Water: a wavy water surface below the horizon, reflecting the scene above it, showing the
// picture below the horizon through water that grows opaque with depth, and lit by a glare.
//
// Stages, in order, with their share of the progress: "Stage1" (0.1) water map and perspective;
// "Stage11" (0.3) the wave field; "Stage2" (0.1) the picture at the working scale and the slope
// tables; "MakeBottom" (0.1) the view into the water; "Stage3" (0.1) the reflection, mixed in by
// the Fresnel factor, and the glare; "Stage4" (0.1) the picture into the result; "Stage5" and
// "Stage6" (0.1 each) the surface written over the far and the near half of the water at full
// size; live runs of large pictures instead bring the surface back to full size in "rescale_dc"
// (0.1) and "rescale_pp" (0.3). The wave field is cached under the geometry fields and the working
// grid's size, so depth, glare and colour changes skip "Stage11"; the slopes are differences of the
// cached field, taken row by row where a stage needs them. Stage3 also keeps the light it traced
// (reflection, Fresnel factor, glare share per sample): a run that changes only the depth or the
// colours of the same picture mixes it in again instead of tracing the rays anew.
//
// Memory: besides the source and result planes a run holds the picture on the grid (RGB, 16-bit),
// the wave field (float), the surface (RGB, 16-bit, water rows), the stored light (RGB 16-bit and
// two floats, water rows) and the water map (8-bit);
// they are kept between runs, so that repeated runs of one size allocate nothing.
class WaterRenderer : public TypedRenderer<WaterParams, WaterRenderer> {
public:
    RunOutcome process(WaterParams& lastRun, const DataStorage::PixelPlane& source, const MaskChannels& masks,
                       DataStorage::PixelPlane& result, const RunContext& context);

    int waveFieldCount() const { return m_waveFields; } // completed "Stage11" runs
    const WaterGrid& lastGrid() const { return m_lastGrid; }

private:
    bool m_cacheValid = false;
    WaterParams m_cacheKey;
    int m_cacheWidth = 0, m_cacheHeight = 0;
    WaveField m_waveCache;
    // The record and picture fingerprint that Stage3's stored light (in m_surface) was traced for.
    bool m_lightValid = false;
    WaterParams m_lightKey;
    uint64_t m_lightFingerprint = 0;
    WaterMaps m_maps;
    WaterPicture m_picture;
    WaterSurface m_surface;
    int m_waveFields = 0;
    WaterGrid m_lastGrid;
};

} // namespace Orvex::Document::Filters
