#pragma once
#include "document/filters/EffectParams.h"

namespace Orvex::Document::Filters {

// Water with waves below a horizon. The horizon angle is set with the horizon tool; it travels in
// the record (and the document copy) but not in settings or presets.
struct WaterParams : ParamsBase<WaterParams> {
    float horizonAngle = 45.0f; // degrees, 0-90
    int32_t density = 10;
    int32_t height = 20;
    int32_t length = 70;
    int32_t direction = 100;
    int32_t dispersal = 60;
    int32_t depth = 45;
    int32_t glareBrightness = 85;
    int32_t glareVerticalShift = 80;
    int32_t glareHorizontalShift = 110;
    int32_t microwaves = 35;
    uint32_t glareColor = 0xFFFFFFDCu;
    uint32_t waterColor = 0xFF4DBAA1u;

    static const std::vector<FieldSpec<WaterParams>>& fields();
    // The wave field depends on the geometry fields, not on depth, glare or colours.
    bool sameWaveKey(const WaterParams& other) const;

    // The horizon row for an image height, and back (the horizon on the bottom row is 90 degrees,
    // the middle row 45).
    static int horizonRow(double angleDegrees, int imageHeight);
    static double horizonAngleForRow(int row, int imageHeight);
};

} // namespace Orvex::Document::Filters
