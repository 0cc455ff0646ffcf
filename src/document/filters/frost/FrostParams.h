#pragma once
#include "document/filters/EffectParams.h"

namespace Orvex::Document::Filters {

// Frost: ice crystals growing over the selection.
struct FrostParams : ParamsBase<FrostParams> {
    int32_t thickness = 40;
    int32_t fill = 40;
    int32_t branching = 25; // 1-100 on the panel, 0-100 in a run
    int32_t freeze = 40;
    int32_t transparency = 10;
    int32_t shadow = 50;
    int32_t uniformity = 50;
    uint32_t color = 0xFFE6E6FFu;

    static const std::vector<FieldSpec<FrostParams>>& fields();
    bool sameFieldKey(const FrostParams& other) const;   // the field: thickness
    bool sameCrystalKey(const FrostParams& other) const; // the crystal map: thickness, fill, branching
    bool
    sameDepositKey(const FrostParams& other) const; // the deposit: uniformity, freeze, transparency, colour
};

} // namespace Orvex::Document::Filters
