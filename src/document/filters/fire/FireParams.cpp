#include "document/filters/fire/FireParams.h"

#include <algorithm>

namespace Orvex::Document::Filters {

const std::vector<FieldSpec<FireParams>>& FireParams::fields() {
    using R = FireParams;
    static const std::vector<FieldSpec<R>> table = {
        intField<R>("flames", &R::flames, "Flames", fourCC("aFi1"), "Flames", 5, 200, 50),
        intField<R>("width", &R::width, "Wide", fourCC("aFi2"), "Wide", 1, 50, 15),
        intField<R>("height", &R::height, "Height", fourCC("aFi3"), "Height", 1, 250, 125),
        intField<R>("horizontalBlur", &R::horizontalBlur, "BlurX", fourCC("aFi4"), "BlurX", 5, 50, 20),
        intField<R>("distortion", &R::distortion, "ShiftX", fourCC("aFi5"), "Distortion", 1, 100, 70),
        intField<R>("transparency", &R::transparency, "Transparency", fourCC("aFi6"), "Transparency", 0, 60,
                    0),
        intField<R>("hue", &R::hue, "Color", fourCC("aFi7"), "Color", -179, 180, 0),
    };
    return table;
}

void FireParams::clampForRun() {
    const int32_t wholeCircleHue = std::clamp(hue, -180, 180);
    clampFields(*this);
    hue = wholeCircleHue;
}

bool FireParams::sameFlameKey(const FireParams& o) const {
    return maskRevision == o.maskRevision &&
           sameMembers(*this, o, {"flames", "width", "height", "horizontalBlur", "distortion"});
}

} // namespace Orvex::Document::Filters
