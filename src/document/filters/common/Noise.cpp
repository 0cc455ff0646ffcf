#include "document/filters/common/Noise.h"

#include "document/filters/common/Random.h"

#include <cmath>
#include <utility>

namespace Orvex::Document::Filters::Common {

double valueNoiseHash(std::int32_t i, std::int32_t j, std::int32_t orConstant) {
    // Unsigned arithmetic gives the wrap-around of the signed definition without undefined
    // behaviour; the results are reinterpreted as signed where the sign matters.
    const std::uint32_t ui = std::uint32_t(i), uj = std::uint32_t(j);
    const std::int32_t a = std::int32_t(((ui * 21176320u) | std::uint32_t(orConstant)) * ui * 32412u);
    const std::int32_t b = std::int32_t((uj * 21176320u + 23u) * (uj * 32412u));
    const std::int32_t u = (b % 31) + (a % 13);
    const std::uint32_t h = ((std::uint32_t(b) + std::uint32_t(a)) * std::uint32_t(u)) & 2147483644u;
    return double(h % 432435136u) / 432435136.0;
}

double cubicValueNoise(double row, double col, std::int32_t orConstant) {
    if (!(std::fabs(row) < 1e9) || !(std::fabs(col) < 1e9)) return 0.0;
    const std::int32_t ri = std::int32_t(std::round(row)), ci = std::int32_t(std::round(col));
    double rowWeight[5], colWeight[5];
    for (int k = 0; k < 5; ++k) {
        rowWeight[k] = cubicKernel(double(ri - 2 + k) - row);
        colWeight[k] = cubicKernel(double(ci - 2 + k) - col);
    }
    double sum = 0.0;
    for (int a = 0; a < 5; ++a) {
        if (rowWeight[a] == 0.0) continue;
        for (int b = 0; b < 5; ++b)
            sum += valueNoiseHash(ri - 2 + a, ci - 2 + b, orConstant) * rowWeight[a] * colWeight[b];
    }
    return sum;
}

cGradientNoise3::cGradientNoise3() {
    cLcgRandom random(0);
    for (int i = 0; i < 256; ++i) {
        m_perm[i] = i;
        float g[3];
        for (float& v : g) v = float(random.next() % 513 - 256);
        float length = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
        if (length == 0.0f) length = 1.0f;
        for (int k = 0; k < 3; ++k) m_gradient[i][k] = g[k] / length;
    }
    for (int i = 0; i < 256; ++i) {
        const int j = int((random.step() >> 16) & 255u);
        std::swap(m_perm[i], m_perm[j]);
    }
    for (int i = 0; i < 256; ++i) m_perm[256 + i] = m_perm[i];
}

const cGradientNoise3& cGradientNoise3::instance() {
    static const cGradientNoise3 shared;
    return shared;
}

float cGradientNoise3::noise(float x, float y, float z) const {
    // Coordinates far outside the int range (or NaN) have no meaningful lattice cell.
    auto bad = [](float v) { return !(std::fabs(v) < 1e9f); };
    if (bad(x) || bad(y) || bad(z)) return 0.0f;
    struct Axis {
        int b0, b1;
        float r0, r1;
    };
    auto axis = [](float v) {
        const float t = std::trunc(v);
        const int b0 = int(t) & 255;
        return Axis{b0, (b0 + 1) & 255, v - t, v - t - 1.0f};
    };
    const Axis ax = axis(x), ay = axis(y), az = axis(z);
    const int i = m_perm[ax.b0], j = m_perm[ax.b1];
    const int b00 = m_perm[i + ay.b0], b10 = m_perm[j + ay.b0];
    const int b01 = m_perm[i + ay.b1], b11 = m_perm[j + ay.b1];
    auto s = [](float t) { return t * t * (3.0f - 2.0f * t); };
    const float sx = s(ax.r0), sy = s(ay.r0), sz = s(az.r0);
    auto lerp = [](float t, float a, float b) { return a + t * (b - a); };
    auto at = [&](int index, float rx, float ry, float rz) {
        const float* g = m_gradient[m_perm[index]];
        return rx * g[0] + ry * g[1] + rz * g[2];
    };
    auto plane = [&](int bz, float rz) {
        const float a = lerp(sx, at(b00 + bz, ax.r0, ay.r0, rz), at(b10 + bz, ax.r1, ay.r0, rz));
        const float b = lerp(sx, at(b01 + bz, ax.r0, ay.r1, rz), at(b11 + bz, ax.r1, ay.r1, rz));
        return lerp(sy, a, b);
    };
    return lerp(sz, plane(az.b0, az.r0), plane(az.b1, az.r1));
}

} // namespace Orvex::Document::Filters::Common
