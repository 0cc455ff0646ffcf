#pragma once
#include "document/filters/EffectParams.h"

namespace Orvex::Document::Filters {

// Rain (and snow, sleet, drizzle): drops scattered over the selection, drawn as soft slanted streaks.
struct RainParams : ParamsBase<RainParams> {
    int32_t density = 5;
    int32_t length = 12;
    float scale = 1.0f;
    int32_t angle = 100;       // degrees; 90 is vertical
    int32_t dispersion = 10;   // degrees
    int32_t transparency = 50; // percent

    static const std::vector<FieldSpec<RainParams>>& fields();
    // The streak field depends on everything but the transparency.
    bool sameStreakKey(const RainParams& other) const;
};

} // namespace Orvex::Document::Filters
