#include "document/filters/rain/RainParams.h"

namespace Orvex::Document::Filters {

const std::vector<FieldSpec<RainParams>>& RainParams::fields() {
    using R = RainParams;
    static const std::vector<FieldSpec<R>> table = {
        intField<R>("density", &R::density, "Den", fourCC("aRn1"), "Density", 0, 20, 5),
        intField<R>("length", &R::length, "LineRain", fourCC("aRn2"), "Length", 0, 100, 12),
        realField<R>("scale", &R::scale, "SizeRain", fourCC("aRn3"), "Scale", 0.1, 10.0, 1.0),
        intField<R>("angle", &R::angle, "Angle", fourCC("aRn4"), "Angle", 0, 180, 100),
        intField<R>("dispersion", &R::dispersion, "Dev", fourCC("aRn5"), "Dispersion", 0, 90, 10),
        intField<R>("transparency", &R::transparency, "SigmaI", fourCC("aRn6"), "Transparency", 0, 100, 50),
    };
    return table;
}

bool RainParams::sameStreakKey(const RainParams& o) const {
    return maskRevision == o.maskRevision &&
           sameMembers(*this, o, {"density", "length", "scale", "angle", "dispersion"});
}

} // namespace Orvex::Document::Filters
