#include "document/filters/aurora/AuroraParams.h"

namespace Orvex::Document::Filters {

const std::vector<FieldSpec<AuroraParams>>& AuroraParams::fields() {
    using R = AuroraParams;
    static const std::vector<FieldSpec<R>> table = {
        intField<R>("red", &R::red, "FractRed", fourCC("aAu1"), "Red", 0, 100, 16),
        intField<R>("green", &R::green, "FractGreen", fourCC("aAu2"), "Green", 0, 100, 56),
        intField<R>("blue", &R::blue, "FractBlue", fourCC("aAu3"), "Blue", 0, 100, 28),
        boolField<R>("colorInversion", &R::colorInversion, "ColorInv", fourCC("aAuG"), "Inversion", false),
        intField<R>("colorMix", &R::colorMix, "ColorMix", fourCC("aAu4"), "Color Mix", 0, 100, 40),
        intField<R>("glow", &R::glow, "Glow", fourCC("aAu5"), "Glow", 0, 100, 30),
        intField<R>("brightness", &R::brightness, "Bright", fourCC("aAu6"), "Brightness", 0, 100, 10),
        intField<R>("rate", &R::rate, "Rate", fourCC("aAu7"), "Rate", 1, 100, 10),
        intField<R>("glowSigmaX", &R::glowSigmaX, "SigmaXGlow", fourCC("aAu8"), "Glow Sigma X", 0, 100, 24),
        intField<R>("sigmaX", &R::sigmaX, "SigmaX", fourCC("aAuA"), "Sigma X", 0, 100, 45),
        intField<R>("sigmaY", &R::sigmaY, "SigmaY", fourCC("aAuB"), "Sigma Y", 0, 100, 40),
        intField<R>("length", &R::length, "Len", fourCC("aAuC"), "Length", 1, 100, 50),
        intField<R>("geometry", &R::geometry, "Geom", fourCC("aAuD"), "Geometry", 0, 100, 0),
        intField<R>("opacity", &R::opacity, "Deg", fourCC("aAuE"), "Opacity", 1, 100, 50),
        intField<R>("blendMode", &R::blendMode, "BlendMode", fourCC("aAuF"), "Blend Mode", 1, 10, 1),
    };
    return table;
}

void AuroraParams::validate() {
    red = std::clamp(red, 0, 100);
    green = std::clamp(green, 0, 100);
    if (green + 2 * red != 100) green = std::min(green, 100 - red);
    blue = 100 - red - green;
}

} // namespace Orvex::Document::Filters
