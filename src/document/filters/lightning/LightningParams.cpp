#include "document/filters/lightning/LightningParams.h"

namespace Orvex::Document::Filters {

const std::vector<FieldSpec<LightningParams>>& LightningParams::fields() {
    using R = LightningParams;
    static const std::vector<FieldSpec<R>> table = {
        intField<R>("size", &R::size, "Size", fourCC("aLi1"), "Thickness", 1, 100, 60),
        intField<R>("branching", &R::branching, "Branching", fourCC("aLi2"), "Branching", 1, 100, 40),
        intField<R>("sigma", &R::sigma, "Sigma", fourCC("aLi3"), "Dispersal", 0, 40, 18),
        intField<R>("halo", &R::halo, "Halo", fourCC("aLi4"), "Glow", 0, 40, 14),
        intField<R>("curvature", &R::curvature, "Curvature", fourCC("aLi5"), "Curvature", 0, 100, 85),
        intField<R>("branchCurvature", &R::branchCurvature, "BrCurvature", fourCC("aLi6"), "Branch Curvature",
                    0, 100, 66),
        intField<R>("attenuation", &R::attenuation, "Attenuation", fourCC("aLi7"), "Distribution", 1, 100,
                    70),
        colorField<R>("color", &R::color, "Color", fourCC("aLi8"), "Color", 0xFFFFFFFFu),
        boolField<R>("strikeType", &R::strikeType, "StrikeType", fourCC("aLi9"), "Blending", true),
        boolField<R>("glowType", &R::glowType, "GlowType", fourCC("aLiA"), "Glow Blending", true),
        colorField<R>("glowColor", &R::glowColor, "GlowColor", fourCC("aLiB"), "Glow Color", 0u),
        intField<R>("randomSeed", &R::randomSeed, "RandomSeed", fourCC("aLiC"), "Random Seed", 0, 9999, 0),
    };
    return table;
}

} // namespace Orvex::Document::Filters
