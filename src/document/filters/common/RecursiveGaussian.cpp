#include "document/filters/common/RecursiveGaussian.h"

#include "document/filters/common/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace Orvex::Document::Filters::Common {

namespace {

constexpr double kMaxSigma = 1e5;
constexpr int kColumnStrip = 32;

// The causal pass along x[0 .. n) into w (w may alias x); `at` maps a position to its index so the
// same code runs forward and backward.
template <class Line> void causalPass(Line& line, int n, const YoungVanVliet& c) {
    if (n <= 0) return;
    const double x0 = line(0);
    // w0 = x0 is already in place.
    if (n > 1) line(1) = c.B0 * line(1) + (1.0 - c.B0) * x0;
    if (n > 2) line(2) = c.B0 * line(2) + (c.b2 + c.b3) * x0 + c.b1 * line(1);
    for (int k = 3; k < n; ++k)
        line(k) = c.B0 * line(k) + c.b1 * line(k - 1) + c.b2 * line(k - 2) + c.b3 * line(k - 3);
}

void filterLine(double* buf, int n, const YoungVanVliet& c) {
    auto forward = [buf](int k) -> double& { return buf[k]; };
    causalPass(forward, n, c);
    auto backward = [buf, n](int k) -> double& { return buf[n - 1 - k]; };
    causalPass(backward, n, c);
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// The AVX2 clone runs four columns per instruction; without fused multiply-add it computes the same
// bytes as the default one.
#define ORVEX_STRIP_KERNEL __attribute__((target_clones("avx2", "default"))) __attribute__((noinline))
#else
#define ORVEX_STRIP_KERNEL
#endif

// Forward and backward passes down a strip of `cols` columns held row-major, advancing whole strip
// rows at a time so that the recursion of neighbouring columns runs side by side.
ORVEX_STRIP_KERNEL void filterStrip(double* s, int cols, int n, const YoungVanVliet& c) {
    auto row = [&](int k) { return s + std::ptrdiff_t(k) * cols; };
    for (int pass = 0; pass < 2; ++pass) {
        auto at = [&](int k) { return pass == 0 ? row(k) : row(n - 1 - k); };
        const double* x0 = at(0);
        if (n > 1) {
            double* r1 = at(1);
            for (int i = 0; i < cols; ++i) r1[i] = c.B0 * r1[i] + (1.0 - c.B0) * x0[i];
        }
        if (n > 2) {
            double* r2 = at(2);
            const double* r1 = at(1);
            for (int i = 0; i < cols; ++i) r2[i] = c.B0 * r2[i] + (c.b2 + c.b3) * x0[i] + c.b1 * r1[i];
        }
        for (int k = 3; k < n; ++k) {
            double* r = at(k);
            const double *p1 = at(k - 1), *p2 = at(k - 2), *p3 = at(k - 3);
            for (int i = 0; i < cols; ++i) r[i] = c.B0 * r[i] + c.b1 * p1[i] + c.b2 * p2[i] + c.b3 * p3[i];
        }
    }
}

} // namespace

bool YoungVanVliet::forSigma(double sigma, YoungVanVliet& c) {
    c = YoungVanVliet{};
    if (!std::isfinite(sigma) || sigma <= 0.0) return false;
    const double s = std::min(sigma, kMaxSigma);
    double q;
    if (s >= 2.5)
        q = 0.98711 * s - 0.96330;
    else if (s >= 0.5)
        q = 3.97156 - 4.14554 * std::sqrt(1.0 - 0.26891 * s);
    else
        q = 0.229541 * s;
    const double q2 = q * q, q3 = q2 * q;
    const double b0 = 1.57825 + 2.44413 * q + 1.4281 * q2 + 0.422205 * q3;
    c.b1 = (2.44413 * q + 2.85619 * q2 + 1.26661 * q3) / b0;
    c.b2 = -(1.4281 * q2 + 1.26661 * q3) / b0;
    c.b3 = 0.422205 * q3 / b0;
    c.B0 = 1.0 - c.b1 - c.b2 - c.b3;
    return true;
}

void recursiveGaussianLine(float* line, std::ptrdiff_t step, int n, const YoungVanVliet& c) {
    if (n <= 0 || !line) return;
    std::vector<double> buf(n);
    for (int k = 0; k < n; ++k) buf[k] = line[k * step];
    filterLine(buf.data(), n, c);
    for (int k = 0; k < n; ++k) line[k * step] = float(buf[k]);
}

namespace {

// Rows y0 ... y0 + rows (at most kColumnStrip), transposed into a strip so that the recursions of
// neighbouring rows run side by side instead of waiting on each other's latency.
void filterRowGroup(float* data, std::ptrdiff_t stride, int width, int y0, int rows, const YoungVanVliet& c,
                    double* strip) {
    for (int r = 0; r < rows; ++r) {
        const float* line = data + (y0 + r) * stride;
        for (int x = 0; x < width; ++x) strip[std::size_t(x) * rows + r] = line[x];
    }
    filterStrip(strip, rows, width, c);
    for (int r = 0; r < rows; ++r) {
        float* line = data + (y0 + r) * stride;
        for (int x = 0; x < width; ++x) line[x] = float(strip[std::size_t(x) * rows + r]);
    }
}

// Columns x0 ... x0 + cols (at most kColumnStrip).
void filterColumnStrip(float* data, std::ptrdiff_t stride, int height, int x0, int cols,
                       const YoungVanVliet& c, double* strip) {
    for (int y = 0; y < height; ++y)
        std::copy(data + y * stride + x0, data + y * stride + x0 + cols, strip + std::size_t(y) * cols);
    filterStrip(strip, cols, height, c);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < cols; ++i) data[y * stride + x0 + i] = float(strip[std::size_t(y) * cols + i]);
}

} // namespace

void recursiveGaussianBlur(float* data, std::ptrdiff_t stride, int width, int height, double sigmaX,
                           double sigmaY) {
    if (width <= 0 || height <= 0 || !data) return;
    YoungVanVliet cx, cy;
    if (YoungVanVliet::forSigma(sigmaX, cx)) {
        const int groups = (height + kColumnStrip - 1) / kColumnStrip;
        forEachChunk(groups, 1, [&](int begin, int end) {
            std::vector<double> strip(std::size_t(width) * kColumnStrip);
            for (int g = begin; g < end; ++g) {
                const int y0 = g * kColumnStrip;
                filterRowGroup(data, stride, width, y0, std::min(kColumnStrip, height - y0), cx,
                               strip.data());
            }
        });
    }
    if (YoungVanVliet::forSigma(sigmaY, cy)) {
        const int strips = (width + kColumnStrip - 1) / kColumnStrip;
        forEachChunk(strips, 1, [&](int begin, int end) {
            std::vector<double> strip(std::size_t(height) * kColumnStrip);
            for (int s = begin; s < end; ++s) {
                const int x0 = s * kColumnStrip;
                filterColumnStrip(data, stride, height, x0, std::min(kColumnStrip, width - x0), cy,
                                  strip.data());
            }
        });
    }
}

void recursiveGaussianBlurSerial(float* data, std::ptrdiff_t stride, int width, int height, double sigmaX,
                                 double sigmaY, std::vector<double>& scratch) {
    if (width <= 0 || height <= 0 || !data) return;
    scratch.resize(std::max(scratch.size(), std::size_t(std::max(width, height)) * kColumnStrip));
    YoungVanVliet cx, cy;
    if (YoungVanVliet::forSigma(sigmaX, cx))
        for (int y0 = 0; y0 < height; y0 += kColumnStrip)
            filterRowGroup(data, stride, width, y0, std::min(kColumnStrip, height - y0), cx, scratch.data());
    if (YoungVanVliet::forSigma(sigmaY, cy))
        for (int x0 = 0; x0 < width; x0 += kColumnStrip)
            filterColumnStrip(data, stride, height, x0, std::min(kColumnStrip, width - x0), cy,
                              scratch.data());
}

} // namespace Orvex::Document::Filters::Common
