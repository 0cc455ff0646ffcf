#include "document/filters/sun/SunParams.h"

namespace Orvex::Document::Filters {

const std::vector<FieldSpec<SunParams>>& SunParams::fields() {
    using R = SunParams;
    // Smooth colour min(v, 25) and 0 below 1, transparency min(v, 99) and 0 below 1: both are clamps.
    static const std::vector<FieldSpec<R>> table = {
        intField<R>("centerX", &R::centerX, nullptr, 0, "Center X", 0, 2147483647, 0),
        intField<R>("centerY", &R::centerY, nullptr, 0, "Center Y", 0, 2147483647, 0),
        realField<R>("radius", &R::radius, nullptr, 0, "Radius", 1, 100000, 1),
        realField<R>("angle", &R::angle, nullptr, 0, "Angle", -1e9, 1e9, 0),
        realField<R>("power", &R::power, "Power", fourCC("aSu1"), "Power", 0.3, 1.0, 0.7),
        intField<R>("smoothColor", &R::smoothColor, "SmoothColor", fourCC("aSu2"), "Smooth Color", 0, 25, 10),
        colorField<R>("sunColor", &R::sunColor, "SunColor", fourCC("aSu3"), "Sun Color", 0xFFFFFFFFu),
        colorField<R>("glowColor", &R::glowColor, "GlowColor", fourCC("aSu4"), "Glow Color", 0xFFFFFFC8u),
        boolField<R>("halo", &R::halo, "Halo", fourCC("aSu5"), "Additional Glow Color", true),
        colorField<R>("haloColor", &R::haloColor, "HaloColor", fourCC("aSu6"), "Halo Color", 0xFFFFFFC8u),
        boolField<R>("spikes", &R::spikes, "Spikes", fourCC("aSu7"), "Enable Rays", true),
        boolField<R>("randomDirection", &R::randomDirection, "RandomDir", fourCC("aSu8"), "Random direction",
                     false),
        intField<R>("number", &R::number, "Number", fourCC("aSu9"), "Number", 1, 100, 6),
        intField<R>("maxLength", &R::maxLength, "MaxLength", fourCC("aSuA"), "Max Length", 0, 200, 90),
        intField<R>("breadth", &R::breadth, "Breadth", fourCC("aSuB"), "Intensity", 1, 100, 76),
        intField<R>("width", &R::width, "Width", fourCC("aSuC"), "Width", 1, 100, 20),
        intField<R>("transparency", &R::transparency, "Transparency", fourCC("aSuD"), "Transparency", 0, 99,
                    77),
    };
    return table;
}

bool SunParams::unchangedFrom(const SunParams& o) const {
    for (const auto& f : fields()) {
        const std::string m = f.member;
        if (m == "haloColor" && !halo && !o.halo) continue;
        if ((m == "randomDirection" || m == "number" || m == "maxLength" || m == "breadth" || m == "width" ||
             m == "transparency") &&
            !spikes && !o.spikes)
            continue;
        if (!fieldEqual(*this, o, f)) return false;
    }
    return maskRevision == o.maskRevision;
}

void SunParams::clampToImage(int w, int h) {
    centerX = std::clamp(centerX, 0, std::max(0, w));
    centerY = std::clamp(centerY, 0, std::max(0, h));
}

void SunParams::placeDefault(int w, int h) {
    const int m = std::min(w, h);
    centerX = m / 8;
    centerY = m / 8;
    radius = float(m / 40.0);
}

} // namespace Orvex::Document::Filters
