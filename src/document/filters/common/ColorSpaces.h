#pragma once
// Colour conversions of the effects: sRGB <-> CIE L*a*b* (D65 white) with the lightness scaling of
// the glow effects, and RGB <-> HSL for hue rotation. Components are 0 ... 1 (hue too, as a
// fraction of the circle). Pure functions.

namespace Orvex::Document::Filters::Common {

struct LabColor {
    double L = 0.0, a = 0.0, b = 0.0;
};

// sRGB (0 ... 1) to L*a*b*: linearise (c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055)^2.4),
// X = (0.4124 R + 0.3576 G + 0.1805 B) / 0.95047, Y = 0.2126 R + 0.7152 G + 0.0722 B,
// Z = (0.0193 R + 0.1192 G + 0.9505 B) / 1.08883, f(t) = t > 0.008856 ? cbrt(t) : 7.787 t + 16/116,
// L = 116 fy - 16, a = 500 (fx - fy), b = 200 (fy - fz).
LabColor srgbToLab(double r, double g, double b);
// The inverse; the result is not clamped (colours outside the sRGB gamut leave 0 ... 1). The matrix
// back to RGB is the exact inverse of the forward one (3.2406, -1.5372, -0.4986; -0.9689, 1.8758,
// 0.0415; 0.0557, -0.2040, 1.0570 to four places), so a round trip returns its input.
void labToSrgb(const LabColor& lab, double& r, double& g, double& b);

// Multiplies the L*a*b* lightness of an sRGB colour by k, keeping a* and b*, and clamps the
// result to 0 ... 1. Non-finite input gives 0.
void scaleLightness(float& r, float& g, float& b, double k);

// scaleLightness for pixel loops: the same steps in single precision, with the sRGB curves and the
// L*a*b* cube root read from tables (linear interpolation; the steep ends are indexed by the square
// root), within 2e-5 of scaleLightness for colours in 0 ... 1. No allocation, no locks: build once,
// then share between threads.
class cLightnessScaler {
public:
    cLightnessScaler();
    static const cLightnessScaler& instance();
    // Colours in 0 ... 1 (others are clamped first); any finite k.
    void scale(float& r, float& g, float& b, float k) const;

private:
    static constexpr int kSteps = 4096;
    float m_linear[kSteps + 2];   // sRGB curve, by c
    float m_cubeRoot[kSteps + 2]; // the L*a*b* f(t), by sqrt(t) up to 1.0625
    float m_encode[kSteps + 2];   // inverse sRGB curve, by sqrt(v)
    float m_fromXyz[3][3];
};

struct HslColor {
    float h = 0.0f, s = 0.0f, l = 0.0f;
};

// l = (max + min) / 2; when max - min > 0.00001: s = d / (max + min) for l < 0.5, else
// d / (2 - max - min); h from the largest component, / 6, plus 1 when negative. Grey gives h = s = 0.
HslColor rgbToHsl(float r, float g, float b);
void hslToRgb(const HslColor& hsl, float& r, float& g, float& b);
// Adds `shift` (a fraction of the circle, any sign) to the hue, wrapping into 0 ... 1.
void shiftHue(float& r, float& g, float& b, float shift);

} // namespace Orvex::Document::Filters::Common
