#include "document/filters/rainbow/RainbowParams.h"

namespace Orvex::Document::Filters {

const std::vector<FieldSpec<RainbowParams>>& RainbowParams::fields() {
    using R = RainbowParams;
    // Bow width: min(value, 300) and 3 below 4, which is the clamp to 3-300.
    static const std::vector<FieldSpec<R>> table = {
        intField<R>("bowWidth", &R::bowWidth, "BowWidth", fourCC("aRw1"), "Bow width", 3, 300, 100),
        boolField<R>("reverse", &R::reverse, "IsReverse", fourCC("aRw3"), "Reverse Palette ", false),
        boolField<R>("white", &R::white, "IsWhite", fourCC("aRw4"), "White Rainbow", false),
        intField<R>("frequency", &R::frequency, "Frequency", fourCC("aRw5"), "Noise Frequency", 1, 200, 15),
        intField<R>("noiseLevel", &R::noiseLevel, "NoiseLevel", fourCC("aRw6"), "Noise Level", 0, 50, 40),
        intField<R>("colorizing", &R::colorizing, "NoiseColor", fourCC("aRw7"), "Colorizing", 0, 20, 10),
        intField<R>("transparency", &R::transparency, "Transparency", fourCC("aRw2"), "Transparency", 0, 100,
                    65),
    };
    return table;
}

void RainbowParams::placeDefault(int w, int h) {
    const double s = 0.75 * std::min(w, h);
    pt0 = {(w - s) / 2, (h - s / 2) / 2 + s / 2};
    pt1 = {w / 2.0, (h - s / 2) / 2};
    pt2 = {(w + s) / 2, (h - s / 2) / 2 + s / 2};
}

} // namespace Orvex::Document::Filters
