#pragma once
#include "document/filters/RenderSupport.h"
#include "document/filters/frost/FrostCrystals.h"
#include "document/filters/frost/FrostParams.h"

namespace Orvex::Document::Filters {

// Frost: a crust of ice crystals grown over the selection, deposited in the frost colour and shaded
// on its lower-right side. Three caches, each with its own key, let a run repeat only what its
// parameters changed: the field (thickness, selection), the crystals (also fill and branching) and
// the deposit (uniformity, freeze, transparency, colour); shading runs every time.
//
// The deposit cache holds the deposited picture over the tiles that cover the selection's bounding
// rectangle (grown by the one pixel a splat may reach beyond them); elsewhere the result is the
// source.
class FrostRenderer : public TypedRenderer<FrostParams, FrostRenderer> {
public:
    RunOutcome process(FrostParams& lastRun, const DataStorage::PixelPlane& source, const MaskChannels& masks,
                       DataStorage::PixelPlane& result, const RunContext& context);

    // How many times each stage ran, for tests and diagnostics.
    struct Counts {
        int field = 0, crystals = 0, deposit = 0, shading = 0;
    };
    const Counts& counts() const { return m_counts; }
    // The crystal and coverage maps at the image's size (scaled up from the grid on large images);
    // the field at the image's size on small images only.
    const std::vector<uint8_t>& crystalMap() const { return m_crystals; }
    const std::vector<uint8_t>& coverageMap() const { return m_coverage; }
    const std::vector<float>& field() const { return m_field; }

private:
    // The deposit just built is valid for `key` over `area` in samples of `type`.
    void keepDeposit(const FrostParams& key, const FrostRect& area, int32_t type);
    // Large images: the deposit and the shading on the grid, laid over the picture scaled up.
    RunOutcome depositAndShadeOnGrid(const FrostParams& lastRun, const FrostGrid& grid, bool grown,
                                     const DataStorage::PixelPlane& source, DataStorage::PixelPlane& result,
                                     const RunContext& context, const FrostHooks& hooks);

    int m_width = 0, m_height = 0;
    std::vector<float> m_gridField; // the crust on the grid, when that is smaller than the image
    std::vector<uint8_t> m_gridCrystals;
    std::vector<uint8_t> m_gridCoverage;
    std::vector<float> m_layer; // the deposit on the grid: interleaved colour (0 ... 1) and coverage
    FrostRect m_gridBounds;     // the selection's bounds on the grid
    std::vector<float> m_field;
    std::vector<uint8_t> m_crystals;
    std::vector<uint8_t> m_coverage;
    std::vector<uint8_t> m_deposit; // interleaved RGBA of the source's sample type over m_depositArea
    FrostRect m_depositArea;
    int32_t m_depositType = 0;
    bool m_fieldValid = false, m_crystalsValid = false, m_depositValid = false;
    FrostParams m_fieldKey, m_crystalKey, m_depositKey;
    Counts m_counts;
};

} // namespace Orvex::Document::Filters
