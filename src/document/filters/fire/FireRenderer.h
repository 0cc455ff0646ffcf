#pragma once
#include "document/filters/RenderSupport.h"
#include "document/filters/fire/FireFlames.h"

namespace Orvex::Document::Filters {

// Fire: tongues of flame rising from the selection, merged into a flame canvas at reduced
// resolution, coloured by a black-body-like ramp (optionally turned in hue) and laid over the
// picture. The canvas is cached under every parameter but transparency and hue, so changing those
// only re-composes.
//
// The cache holds the canvas itself; the composition scales it up to the picture on the fly (one
// bilinear sample per pixel, mapping the full rectangles onto each other), which gives the same
// values as an up-scaled copy without holding one of the picture's size.
class FireRenderer : public TypedRenderer<FireParams, FireRenderer> {
public:
    RunOutcome process(FireParams& lastRun, const DataStorage::PixelPlane& source, const MaskChannels& masks,
                       DataStorage::PixelPlane& result, const RunContext& context);

    // The selection (image size, row-major bytes) brought to the simulation grid.
    static std::vector<uint8_t> selectionOnGrid(const DataStorage::DataChannel& mask,
                                                const FireGeometry& geometry);

    const FlameCanvas& flameCanvas() const { return m_canvas; }
    const FireGeometry& geometry() const { return m_geometry; }
    int drawingCount() const { return m_drawings; }

private:
    FlameCanvas m_canvas;
    FireGeometry m_geometry;
    bool m_cacheValid = false;
    FireParams m_cacheKey;
    int m_drawings = 0;
};

} // namespace Orvex::Document::Filters
