#pragma once
#include "document/filters/EffectParams.h"

namespace Orvex::Document::Filters {

// Rainbow: a coloured (or white) bow through three placed points.
struct RainbowParams : ParamsBase<RainbowParams> {
    struct Point {
        double x = 0, y = 0;
        bool operator==(const Point& o) const { return x == o.x && y == o.y; }
    };
    Point pt0, pt1, pt2; // ends of the arc and a point between them; not in settings or presets
    int32_t bowWidth = 100;
    bool reverse = false;
    bool white = false;
    int32_t frequency = 15;
    int32_t noiseLevel = 40;
    int32_t colorizing = 10;
    int32_t transparency = 65;

    static const std::vector<FieldSpec<RainbowParams>>& fields();
    bool extrasEqual(const RainbowParams& o) const { return pt0 == o.pt0 && pt1 == o.pt1 && pt2 == o.pt2; }
    // The default placement: a half circle of radius 0.375 x min(W, H) centred low in the image.
    void placeDefault(int width, int height);
};

} // namespace Orvex::Document::Filters
