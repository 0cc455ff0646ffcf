#pragma once
#include "document/filters/EffectParams.h"

namespace Orvex::Document::Filters {

// Aurora: glowing curtains along lines drawn with the trunk tools.
struct AuroraParams : ParamsBase<AuroraParams> {
    std::vector<Segment> lines; // direction lines, not stored in settings or presets
    int32_t red = 16;           // colour fractions; the three always sum to 100
    int32_t green = 56;
    int32_t blue = 28;
    bool colorInversion = false;
    int32_t colorMix = 40;
    int32_t glow = 30;
    int32_t brightness = 10;
    int32_t rate = 10;
    int32_t glowSigmaX = 24;
    int32_t sigmaX = 45;
    int32_t sigmaY = 40;
    int32_t length = 50;
    int32_t geometry = 0;
    int32_t opacity = 50;
    int32_t blendMode = 1;

    static const std::vector<FieldSpec<AuroraParams>>& fields();
    void validate(); // the colour fractions
    bool extrasEqual(const AuroraParams& o) const { return lines == o.lines; }
    void resetExtras() { lines.clear(); }
};

} // namespace Orvex::Document::Filters
