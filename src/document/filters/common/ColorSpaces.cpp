#include "document/filters/common/ColorSpaces.h"

#include <algorithm>
#include <cmath>

namespace Orvex::Document::Filters::Common {

namespace {

constexpr double kWhiteX = 0.95047;
constexpr double kWhiteZ = 1.08883;
constexpr double kEpsilon = 0.008856;
constexpr double kKappa = 7.787;
constexpr double kOffset = 16.0 / 116.0;

constexpr double kToXyz[3][3] = {
    {0.4124, 0.3576, 0.1805}, {0.2126, 0.7152, 0.0722}, {0.0193, 0.1192, 0.9505}};

struct Matrix3 {
    double m[3][3];
};

Matrix3 inverseOf(const double (&a)[3][3]) {
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    Matrix3 r;
    r.m[0][0] = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det;
    r.m[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
    r.m[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
    r.m[1][0] = (a[1][2] * a[2][0] - a[1][0] * a[2][2]) / det;
    r.m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
    r.m[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
    r.m[2][0] = (a[1][0] * a[2][1] - a[1][1] * a[2][0]) / det;
    r.m[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
    r.m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
    return r;
}

const Matrix3& fromXyz() {
    static const Matrix3 inverse = inverseOf(kToXyz);
    return inverse;
}

double linearise(double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double gammaEncode(double v) {
    return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}
double labF(double t) {
    return t > kEpsilon ? std::cbrt(t) : kKappa * t + kOffset;
}
double labFInverse(double t) {
    const double t3 = t * t * t;
    return t3 > kEpsilon ? t3 : (t - kOffset) / kKappa;
}

struct LabF {
    double fx, fy, fz;
};

LabF toF(double r, double g, double b) {
    const double R = linearise(r), G = linearise(g), B = linearise(b);
    const double X = (kToXyz[0][0] * R + kToXyz[0][1] * G + kToXyz[0][2] * B) / kWhiteX;
    const double Y = kToXyz[1][0] * R + kToXyz[1][1] * G + kToXyz[1][2] * B;
    const double Z = (kToXyz[2][0] * R + kToXyz[2][1] * G + kToXyz[2][2] * B) / kWhiteZ;
    return {labF(X), labF(Y), labF(Z)};
}

void fromF(const LabF& f, double& r, double& g, double& b) {
    const double X = labFInverse(f.fx) * kWhiteX, Y = labFInverse(f.fy), Z = labFInverse(f.fz) * kWhiteZ;
    const auto& m = fromXyz().m;
    r = gammaEncode(m[0][0] * X + m[0][1] * Y + m[0][2] * Z);
    g = gammaEncode(m[1][0] * X + m[1][1] * Y + m[1][2] * Z);
    b = gammaEncode(m[2][0] * X + m[2][1] * Y + m[2][2] * Z);
}

} // namespace

LabColor srgbToLab(double r, double g, double b) {
    const LabF f = toF(r, g, b);
    return {116.0 * f.fy - 16.0, 500.0 * (f.fx - f.fy), 200.0 * (f.fy - f.fz)};
}

void labToSrgb(const LabColor& lab, double& r, double& g, double& b) {
    const double fy = (lab.L + 16.0) / 116.0;
    fromF({fy + lab.a / 500.0, fy, fy - lab.b / 200.0}, r, g, b);
}

void scaleLightness(float& r, float& g, float& b, double k) {
    const LabF f = toF(r, g, b);
    const double fy = (k * (116.0 * f.fy - 16.0) + 16.0) / 116.0;
    double R, G, B;
    fromF({fy + (f.fx - f.fy), fy, fy - (f.fy - f.fz)}, R, G, B);
    auto clamp01 = [](double v) { return std::isfinite(v) ? float(std::clamp(v, 0.0, 1.0)) : 0.0f; };
    r = clamp01(R);
    g = clamp01(G);
    b = clamp01(B);
}

namespace {
// The cube root's table reaches a little past 1: white's X and Z, scaled by the white point, lie
// just above it.
constexpr float kRootSpan = 1.0625f;

inline float lookUp(const float* table, float position) {
    const int i = int(position);
    const float t = position - float(i);
    return table[i] + t * (table[i + 1] - table[i]);
}
} // namespace

cLightnessScaler::cLightnessScaler() {
    for (int i = 0; i <= kSteps + 1; ++i) {
        const double u = std::min(1.0, double(i) / kSteps);
        m_linear[i] = float(linearise(u));
        const double root = double(i) / kSteps * kRootSpan;
        m_cubeRoot[i] = float(labF(root * root));
        m_encode[i] = float(gammaEncode(u * u));
    }
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m_fromXyz[r][c] = float(fromXyz().m[r][c]);
}

const cLightnessScaler& cLightnessScaler::instance() {
    static const cLightnessScaler scaler;
    return scaler;
}

void cLightnessScaler::scale(float& r, float& g, float& b, float k) const {
    constexpr float steps = float(kSteps);
    // Written so that NaN lands on 0 like a negative value.
    auto unit = [](float v) { return v > 0.0f ? std::min(v, 1.0f) : 0.0f; };
    auto linear = [&](float c) { return lookUp(m_linear, unit(c) * steps); };
    auto f = [&](float t) {
        return lookUp(m_cubeRoot, std::min(std::sqrt(t > 0.0f ? t : 0.0f) * (steps / kRootSpan), steps));
    };
    auto fInverse = [](float t) {
        const float t3 = t * t * t;
        return t3 > float(kEpsilon) ? t3 : (t - float(kOffset)) / float(kKappa);
    };
    auto encode = [&](float v) { return lookUp(m_encode, std::sqrt(unit(v)) * steps); };

    const float R = linear(r), G = linear(g), B = linear(b);
    const float fx = f((float(kToXyz[0][0]) * R + float(kToXyz[0][1]) * G + float(kToXyz[0][2]) * B) *
                       float(1.0 / kWhiteX));
    const float fy = f(float(kToXyz[1][0]) * R + float(kToXyz[1][1]) * G + float(kToXyz[1][2]) * B);
    const float fz = f((float(kToXyz[2][0]) * R + float(kToXyz[2][1]) * G + float(kToXyz[2][2]) * B) *
                       float(1.0 / kWhiteZ));
    // L' = k L with L = 116 fy - 16; a* and b* kept: the differences fx - fy and fy - fz stay.
    const float fy2 = k * fy + float(kOffset) * (1.0f - k);
    const float X = fInverse(fy2 + (fx - fy)) * float(kWhiteX);
    const float Y = fInverse(fy2);
    const float Z = fInverse(fy2 - (fy - fz)) * float(kWhiteZ);
    r = encode(m_fromXyz[0][0] * X + m_fromXyz[0][1] * Y + m_fromXyz[0][2] * Z);
    g = encode(m_fromXyz[1][0] * X + m_fromXyz[1][1] * Y + m_fromXyz[1][2] * Z);
    b = encode(m_fromXyz[2][0] * X + m_fromXyz[2][1] * Y + m_fromXyz[2][2] * Z);
}

HslColor rgbToHsl(float r, float g, float b) {
    const float mx = std::max({r, g, b}), mn = std::min({r, g, b});
    HslColor out;
    out.l = (mx + mn) / 2.0f;
    const float d = mx - mn;
    if (!(d > 0.00001f)) return out;
    out.s = out.l < 0.5f ? d / (mx + mn) : d / (2.0f - mx - mn);
    float h;
    if (mx == r)
        h = (g - b) / d;
    else if (mx == g)
        h = (b - r) / d + 2.0f;
    else
        h = (r - g) / d + 4.0f;
    h /= 6.0f;
    if (h < 0.0f) h += 1.0f;
    out.h = h;
    return out;
}

namespace {
float hueToChannel(float p, float q, float t) {
    if (t < 0.0f) t += 1.0f;
    if (t > 1.0f) t -= 1.0f;
    if (t < 1.0f / 6.0f) return p + (q - p) * 6.0f * t;
    if (t < 0.5f) return q;
    if (t < 2.0f / 3.0f) return p + (q - p) * (2.0f / 3.0f - t) * 6.0f;
    return p;
}
} // namespace

void hslToRgb(const HslColor& hsl, float& r, float& g, float& b) {
    if (hsl.s <= 0.0f) {
        r = g = b = hsl.l;
        return;
    }
    const float q = hsl.l < 0.5f ? hsl.l * (1.0f + hsl.s) : hsl.l + hsl.s - hsl.l * hsl.s;
    const float p = 2.0f * hsl.l - q;
    r = hueToChannel(p, q, hsl.h + 1.0f / 3.0f);
    g = hueToChannel(p, q, hsl.h);
    b = hueToChannel(p, q, hsl.h - 1.0f / 3.0f);
}

void shiftHue(float& r, float& g, float& b, float shift) {
    if (!std::isfinite(shift)) return;
    HslColor hsl = rgbToHsl(r, g, b);
    float h = hsl.h + shift;
    h -= std::floor(h);
    hsl.h = h;
    hslToRgb(hsl, r, g, b);
}

} // namespace Orvex::Document::Filters::Common
