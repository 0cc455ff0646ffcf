#pragma once
// Recursive Gaussian of Young and van Vliet over plain float buffers: a third-order causal filter
// run forward and then backward along each line, so the cost is independent of sigma.
//
// q = 0.98711 s - 0.96330 (s >= 2.5), 3.97156 - 4.14554 sqrt(1 - 0.26891 s) (0.5 <= s < 2.5),
// 0.229541 s (s < 0.5); b0 = 1.57825 + 2.44413 q + 1.4281 q^2 + 0.422205 q^3; b1 = (2.44413 q +
// 2.85619 q^2 + 1.26661 q^3) / b0; b2 = -(1.4281 q^2 + 1.26661 q^3) / b0; b3 = 0.422205 q^3 / b0;
// B0 = 1 - b1 - b2 - b3. Along x0 ... xn: w0 = x0, w1 = B0 x1 + (1 - B0) x0, w2 = B0 x2 +
// (b2 + b3) x0 + b1 w1, wk = B0 xk + b1 w(k-1) + b2 w(k-2) + b3 w(k-3); backward over w with the
// same start rule at the far end. Lines shorter than 4 samples see only the start rule.

#include <cstddef>
#include <vector>

namespace Orvex::Document::Filters::Common {

struct YoungVanVliet {
    double B0 = 1.0, b1 = 0.0, b2 = 0.0, b3 = 0.0;

    // False (and the identity coefficients) for sigma <= 0, NaN or infinity: the line is left as it
    // is. Sigmas beyond 1e5 are treated as 1e5.
    static bool forSigma(double sigma, YoungVanVliet& coefficients);
};

// Filters one line of n samples `step` floats apart, in place (double precision inside).
void recursiveGaussianLine(float* line, std::ptrdiff_t step, int n, const YoungVanVliet& c);

// Filters a width x height buffer (rows `stride` floats apart) in place: along rows with sigmaX,
// then along columns with sigmaY. An axis whose sigma is not positive and finite is left as is.
// Runs on worker threads.
void recursiveGaussianBlur(float* data, std::ptrdiff_t stride, int width, int height, double sigmaX,
                           double sigmaY);

// The same blur on the calling thread alone, with the caller's scratch memory (grown as needed):
// for many small areas blurred from inside parallel jobs.
void recursiveGaussianBlurSerial(float* data, std::ptrdiff_t stride, int width, int height, double sigmaX,
                                 double sigmaY, std::vector<double>& scratch);

} // namespace Orvex::Document::Filters::Common
