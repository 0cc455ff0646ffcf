#pragma once
#include "document/filters/EffectParams.h"

namespace Orvex::Document::Filters {

// Fire: tongues of flame rising from the selection.
struct FireParams : ParamsBase<FireParams> {
    int32_t flames = 50;
    int32_t width = 15;
    int32_t height = 125;
    int32_t horizontalBlur = 20;
    int32_t distortion = 70;
    int32_t transparency = 0; // percent, 0-60
    int32_t hue = 0;          // degrees; -179..180 when read, -180..180 at the start of a run

    static const std::vector<FieldSpec<FireParams>>& fields();
    // The start of a run accepts -180 as well.
    void clampForRun();
    // The flame canvas depends on everything but transparency and hue.
    bool sameFlameKey(const FireParams& other) const;
};

} // namespace Orvex::Document::Filters
