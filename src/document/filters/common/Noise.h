#pragma once
// Deterministic noise: the lattice value-noise hash with its 5 x 5 cubic interpolation, and the
// classic three-dimensional gradient noise with its two-octave sum. Pure functions of their
// arguments (the gradient tables are built once, thread-safely), so any thread may call them.

#include <cmath>
#include <cstdint>

namespace Orvex::Document::Filters::Common {

// Lattice value in 0 ... 1 (below 1), 32-bit signed arithmetic with wrap-around:
// A = (i * 21176320 | orConstant) * i * 32412; B = (j * 21176320 + 23) * (j * 32412);
// u = (B rem 31) + (A rem 13) (remainders keep the dividend's sign); h = ((B + A) * u) & 0x7FFFFFFC;
// value = (h mod 432435136) / 432435136. The clouds use orConstant 29, the water ripples 23.
double valueNoiseHash(std::int32_t i, std::int32_t j, std::int32_t orConstant = 29);

// The cubic interpolation kernel: 1.5 t^3 - 2.5 t^2 + 1 for |t| < 1, -0.5 |t|^3 + 2.5 t^2 - 4 |t| + 2
// for 1 <= |t| < 2, 0 beyond. Inline: the pixel loops of the effects evaluate it many times a sample.
inline double cubicKernel(double t) {
    t = std::fabs(t);
    if (t < 1.0) return (1.5 * t - 2.5) * t * t + 1.0;
    if (t < 2.0) return ((-0.5 * t + 2.5) * t - 4.0) * t + 2.0;
    return 0.0;
}

// Value noise at (row, col): the sum over the 5 x 5 lattice points i = round(row) - 2 ... + 2,
// j = round(col) - 2 ... + 2 (rounding half away from zero) of hash(i, j) K(|i - row|) K(|j - col|).
double cubicValueNoise(double row, double col, std::int32_t orConstant = 29);

// Three-dimensional gradient noise over a 256-entry permutation and unit gradients drawn from the
// linear congruential generator started at 0 (see Random.h). noise() is about -1 ... 1, 0 at
// lattice points.
class cGradientNoise3 {
public:
    // The one shared instance (seed 0), built on first use.
    static const cGradientNoise3& instance();

    float noise(float x, float y, float z) const;
    // Two octaves: noise(x, y, z) + noise(5x, 5y, 5z) / 2.
    float twoOctaves(float x, float y, float z) const {
        return noise(x, y, z) + noise(5.0f * x, 5.0f * y, 5.0f * z) / 2.0f;
    }

private:
    cGradientNoise3();
    int m_perm[512];
    float m_gradient[256][3];
};

} // namespace Orvex::Document::Filters::Common
