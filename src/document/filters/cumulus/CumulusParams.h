#pragma once
#include "document/filters/EffectParams.h"

namespace Orvex::Document::Filters {

// Cumulus clouds painted into the selected sky, layer after layer.
struct CumulusParams : ParamsBase<CumulusParams> {
    int32_t layers = 5; // cloudiness
    int32_t edge = 15;  // boundary softness
    int32_t smoothness = 7;
    int32_t relief = 40;       // contrast
    int32_t transparency = 50; // percent
    int32_t noiseSize = 50;
    uint32_t color = 0xFFFFFFFFu; // ARGB

    static const std::vector<FieldSpec<CumulusParams>>& fields();
    // The noise grid depends only on the noise size and the selection.
    bool sameNoiseKey(const CumulusParams& other) const;
};

} // namespace Orvex::Document::Filters
