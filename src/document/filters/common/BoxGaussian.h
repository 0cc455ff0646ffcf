#pragma once
// Gaussian blur approximated by three passes of a box mixture per axis, over plain float buffers.
//
// For a standard deviation s along one axis and n passes: x = 12 s^2 / n + 1, L = floor(sqrt(x))
// raised to the next even number, a = ((L + 1)^2 - x) / ((L + 1)^2 - (L - 1)^2); one pass replaces
// each sample by a * box(L - 1) + (1 - a) * box(L + 1), box(m) being the mean of the m samples
// centred on it. Each pass then has exactly the variance s^2 / n. Samples beyond the border repeat
// the border sample. Running sums make the cost independent of s.

#include <cstddef>

namespace Orvex::Document::Filters::Common {

struct BoxMixture {
    int width = 2;       // L, even and at least 2: the boxes are L - 1 and L + 1 samples wide
    double weight = 1.0; // a, the share of the narrower box

    // False when the axis is left unfiltered (|sigma| <= 1e-6, NaN or infinite sigma, passes < 1).
    // Sigmas beyond 1e5 are treated as 1e5 (wider than any image, so the result is the same).
    static bool forSigma(double sigma, int passes, BoxMixture& mixture);
    // Variance of one pass, (x - 1) / 12.
    double variance() const;
};

// Blurs src into dst (rows `srcStride` / `dstStride` floats apart; src == dst with equal strides
// is allowed), first along rows with sigmaX, then along columns with sigmaY, three passes each.
// With both axes unfiltered the input is copied unchanged. Runs on worker threads.
void boxGaussianBlur(const float* src, std::ptrdiff_t srcStride, float* dst, std::ptrdiff_t dstStride,
                     int width, int height, double sigmaX, double sigmaY);

// In place over a tightly packed width x height buffer.
inline void boxGaussianBlur(float* data, int width, int height, double sigmaX, double sigmaY) {
    boxGaussianBlur(data, width, data, width, width, height, sigmaX, sigmaY);
}

// One pass of one mixture along one line of n samples, `inStep` / `outStep` floats apart.
// `in` and `out` must not overlap.
void boxMixturePass(const float* in, std::ptrdiff_t inStep, float* out, std::ptrdiff_t outStep, int n,
                    const BoxMixture& mixture);

} // namespace Orvex::Document::Filters::Common
