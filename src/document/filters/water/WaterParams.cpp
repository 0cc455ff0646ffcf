#include "document/filters/water/WaterParams.h"

#include <cmath>

namespace Orvex::Document::Filters {

const std::vector<FieldSpec<WaterParams>>& WaterParams::fields() {
    using R = WaterParams;
    static const std::vector<FieldSpec<R>> table = {
        realField<R>("horizonAngle", &R::horizonAngle, nullptr, 0, "Horizon", 0, 90, 45),
        intField<R>("density", &R::density, "NWave", fourCC("aWa1"), "Density", 0, 20, 10),
        intField<R>("height", &R::height, "Amplitude", fourCC("aWa2"), "Height", 1, 100, 20),
        intField<R>("length", &R::length, "WaveLength", fourCC("aWa3"), "Length", 1, 100, 70),
        intField<R>("direction", &R::direction, "Direction", fourCC("aWa4"), "Direction", 0, 180, 100),
        intField<R>("dispersal", &R::dispersal, "Dispersal", fourCC("aWa5"), "Dispersal", 0, 90, 60),
        intField<R>("depth", &R::depth, "Deep", fourCC("aWa6"), "Depth", 0, 100, 45),
        intField<R>("glareBrightness", &R::glareBrightness, "Gls", fourCC("aWa7"), "Brightness", 0, 99, 85),
        intField<R>("glareVerticalShift", &R::glareVerticalShift, "P0", fourCC("aWa8"), "Vertical Shift", 0,
                    90, 80),
        intField<R>("glareHorizontalShift", &R::glareHorizontalShift, "P1", fourCC("aWa9"),
                    "Horizontal Shift", 0, 180, 110),
        intField<R>("microwaves", &R::microwaves, "B", fourCC("aWaA"), "Microwaves", 0, 100, 35),
        colorField<R>("glareColor", &R::glareColor, "SunColor", fourCC("aWaB"), "Color", 0xFFFFFFDCu),
        colorField<R>("waterColor", &R::waterColor, "WaterColor", fourCC("aWaC"), "Color", 0xFF4DBAA1u),
    };
    return table;
}

bool WaterParams::sameWaveKey(const WaterParams& o) const {
    return sameMembers(
        *this, o, {"horizonAngle", "density", "height", "length", "direction", "dispersal", "microwaves"});
}

int WaterParams::horizonRow(double a, int h) {
    const double rad = a * M_PI / 180.0;
    const double s = std::sin(rad);
    // A horizon far above the picture (angles near 0) is kept a million rows up.
    if (!(s > 1e-9)) return -1000000;
    // The small allowance keeps rows that are whole numbers in exact arithmetic from dropping to
    // the row above through rounding (45 degrees must give the middle row, and a row must survive
    // the round trip through the angle stored as a float).
    const double row = (h - 1) - 0.5 * (h - 1) * std::cos(rad) / s + 1e-3;
    return int(std::trunc(std::max(row, -1000000.0)));
}

double WaterParams::horizonAngleForRow(int y, int h) {
    if (h <= 1) return 90.0;
    return (M_PI / 2 - std::atan(2.0 * (h - 1 - y) / (h - 1))) * 180.0 / M_PI;
}

} // namespace Orvex::Document::Filters
