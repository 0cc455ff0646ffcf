#include "document/filters/cumulus/CumulusParams.h"

namespace Orvex::Document::Filters {

const std::vector<FieldSpec<CumulusParams>>& CumulusParams::fields() {
    using R = CumulusParams;
    static const std::vector<FieldSpec<R>> table = {
        intField<R>("layers", &R::layers, "Layer", fourCC("aCu1"), "Cloudiness", 1, 20, 5),
        intField<R>("edge", &R::edge, "Edge", fourCC("aCu2"), "Boundary", 0, 30, 15),
        intField<R>("smoothness", &R::smoothness, "Smoothness", fourCC("aCu3"), "Smoothness", 0, 50, 7),
        intField<R>("relief", &R::relief, "Relief", fourCC("aCu4"), "Contrast", 1, 100, 40),
        intField<R>("transparency", &R::transparency, "Transparency", fourCC("aCu5"), "Transparency", 0, 100,
                    50),
        intField<R>("noiseSize", &R::noiseSize, "SizeNoise", fourCC("aCu6"), "Size", 1, 100, 50),
        colorField<R>("color", &R::color, "Color", fourCC("aCu7"), "Color", 0xFFFFFFFFu),
    };
    return table;
}

bool CumulusParams::sameNoiseKey(const CumulusParams& o) const {
    return maskRevision == o.maskRevision && noiseSize == o.noiseSize;
}

} // namespace Orvex::Document::Filters
