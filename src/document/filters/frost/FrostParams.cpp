#include "document/filters/frost/FrostParams.h"

namespace Orvex::Document::Filters {

const std::vector<FieldSpec<FrostParams>>& FrostParams::fields() {
    using R = FrostParams;
    static std::vector<FieldSpec<R>> table = [] {
        std::vector<FieldSpec<R>> t = {
            intField<R>("thickness", &R::thickness, "Thickness", fourCC("aFr1"), "Thickness", 0, 100, 40),
            intField<R>("fill", &R::fill, "Fill", fourCC("aFr2"), "Fill", 0, 100, 40),
            intField<R>("branching", &R::branching, "Branching", fourCC("aFr3"), "Branching", 0, 100, 25),
            intField<R>("freeze", &R::freeze, "Freeze", fourCC("aFr4"), "Freeze", 0, 100, 40),
            intField<R>("transparency", &R::transparency, "Transparency", fourCC("aFr5"), "Transparency", 0,
                        100, 10),
            intField<R>("shadow", &R::shadow, "Shadow", fourCC("aFr6"), "Shadow", 0, 100, 50),
            intField<R>("uniformity", &R::uniformity, "Uniformity", fourCC("aFr7"), "Uniformity", 0, 100, 50),
            colorField<R>("color", &R::color, "Color", fourCC("aFr8"), "Color", 0xFFE6E6FFu),
        };
        t[2].sliderMin = 1; // the panel starts branching at 1; runs accept 0
        return t;
    }();
    return table;
}

bool FrostParams::sameFieldKey(const FrostParams& o) const {
    return maskRevision == o.maskRevision && thickness == o.thickness;
}
bool FrostParams::sameCrystalKey(const FrostParams& o) const {
    return maskRevision == o.maskRevision && sameMembers(*this, o, {"thickness", "fill", "branching"});
}
bool FrostParams::sameDepositKey(const FrostParams& o) const {
    return sameMembers(*this, o, {"uniformity", "freeze", "transparency", "color"});
}

} // namespace Orvex::Document::Filters
