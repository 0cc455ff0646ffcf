#pragma once
#include "document/filters/EffectParams.h"

namespace Orvex::Document::Filters {

// Lightning: branching strikes along lines drawn with the trunk tools.
struct LightningParams : ParamsBase<LightningParams> {
    std::vector<Segment> lines;
    int32_t size = 60;
    int32_t branching = 40;
    int32_t sigma = 18;
    int32_t halo = 14;
    int32_t curvature = 85;
    int32_t branchCurvature = 66;
    int32_t attenuation = 70;
    uint32_t color = 0xFFFFFFFFu;
    bool strikeType = true;
    bool glowType = true;
    uint32_t glowColor = 0; // alpha 0: the glow takes the strike colour
    int32_t randomSeed = 0;

    static const std::vector<FieldSpec<LightningParams>>& fields();
    bool extrasEqual(const LightningParams& o) const { return lines == o.lines; }
    void resetExtras() { lines.clear(); }
};

} // namespace Orvex::Document::Filters
