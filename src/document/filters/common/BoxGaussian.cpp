#include "document/filters/common/BoxGaussian.h"

#include "document/filters/common/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace Orvex::Document::Filters::Common {

namespace {

constexpr int kPasses = 3;
constexpr double kMaxSigma = 1e5;
// Columns handled together by the vertical passes: wide enough for contiguous row reads, small
// enough that the strip and its accumulators stay in the cache.
constexpr int kColumnStrip = 32;

struct PassWeights {
    int radiusNarrow; // (L - 2) / 2
    int radiusWide;   // L / 2
    double weightNarrow;
    double weightWide;
};

PassWeights weightsOf(const BoxMixture& m) {
    return {(m.width - 2) / 2, m.width / 2, m.weight / (m.width - 1), (1.0 - m.weight) / (m.width + 1)};
}

// Sum of in[clamp(j)] for j in [-r, r]: the window centred on sample 0 with border repetition.
template <class Get> double initialWindow(Get get, int n, int r) {
    double sum = (r + 1) * double(get(0));
    const int inside = std::min(r, n - 1);
    for (int j = 1; j <= inside; ++j) sum += get(j);
    if (r > inside) sum += double(r - inside) * get(n - 1);
    return sum;
}

} // namespace

bool BoxMixture::forSigma(double sigma, int passes, BoxMixture& mixture) {
    if (passes < 1 || !std::isfinite(sigma) || std::fabs(sigma) <= 1e-6) return false;
    const double s = std::min(std::fabs(sigma), kMaxSigma);
    const double x = 12.0 * s * s / passes + 1.0;
    int width = static_cast<int>(std::floor(std::sqrt(x)));
    if (width % 2) ++width;
    width = std::max(width, 2);
    const double wide = double(width + 1) * (width + 1);
    const double narrow = double(width - 1) * (width - 1);
    mixture.width = width;
    mixture.weight = std::clamp((wide - x) / (wide - narrow), 0.0, 1.0);
    return true;
}

double BoxMixture::variance() const {
    const double wide = double(width + 1) * (width + 1);
    const double narrow = double(width - 1) * (width - 1);
    return (weight * narrow + (1.0 - weight) * wide - 1.0) / 12.0;
}

void boxMixturePass(const float* in, std::ptrdiff_t inStep, float* out, std::ptrdiff_t outStep, int n,
                    const BoxMixture& mixture) {
    if (n <= 0) return;
    const PassWeights pw = weightsOf(mixture);
    auto get = [&](int j) { return in[std::ptrdiff_t(j) * inStep]; };
    double narrow = initialWindow(get, n, pw.radiusNarrow);
    double wide = initialWindow(get, n, pw.radiusWide);
    const int last = n - 1;
    for (int i = 0;; ++i) {
        out[std::ptrdiff_t(i) * outStep] = float(pw.weightNarrow * narrow + pw.weightWide * wide);
        if (i == last) break;
        narrow +=
            double(get(std::min(i + 1 + pw.radiusNarrow, last))) - get(std::max(i - pw.radiusNarrow, 0));
        wide += double(get(std::min(i + 1 + pw.radiusWide, last))) - get(std::max(i - pw.radiusWide, 0));
    }
}

namespace {

// One pass down the columns [x0, x0 + cols) of a strip held row-major with `cols` floats per row;
// the running sums advance across the whole strip row at a time, so every read is contiguous. A
// full strip's width is known at compile time, so that the loops across it run on vector lanes
// (each column's sums take the same steps either way).
template <int FixedCols>
void columnPassOf(const float* in, float* out, int columns, int n, const PassWeights& pw, double* narrow,
                  double* wide) {
    const int cols = FixedCols > 0 ? FixedCols : columns;
    auto row = [&](int j) { return in + std::ptrdiff_t(j) * cols; };
    for (int c = 0; c < cols; ++c) {
        auto get = [&](int j) { return row(j)[c]; };
        narrow[c] = initialWindow(get, n, pw.radiusNarrow);
        wide[c] = initialWindow(get, n, pw.radiusWide);
    }
    double* __restrict sumN = narrow;
    double* __restrict sumW = wide;
    const double weightN = pw.weightNarrow, weightW = pw.weightWide;
    const int last = n - 1;
    for (int i = 0;; ++i) {
        float* __restrict o = out + std::ptrdiff_t(i) * cols;
        for (int c = 0; c < cols; ++c) o[c] = float(weightN * sumN[c] + weightW * sumW[c]);
        if (i == last) break;
        const float* __restrict addN = row(std::min(i + 1 + pw.radiusNarrow, last));
        const float* __restrict subN = row(std::max(i - pw.radiusNarrow, 0));
        const float* __restrict addW = row(std::min(i + 1 + pw.radiusWide, last));
        const float* __restrict subW = row(std::max(i - pw.radiusWide, 0));
        for (int c = 0; c < cols; ++c) sumN[c] += double(addN[c]) - double(subN[c]);
        for (int c = 0; c < cols; ++c) sumW[c] += double(addW[c]) - double(subW[c]);
    }
}

void columnPass(const float* in, float* out, int cols, int n, const PassWeights& pw, double* narrow,
                double* wide) {
    if (cols == kColumnStrip)
        columnPassOf<kColumnStrip>(in, out, cols, n, pw, narrow, wide);
    else
        columnPassOf<0>(in, out, cols, n, pw, narrow, wide);
}

// Rows are blurred a group at a time, transposed into a strip, so that the running sums of
// neighbouring rows advance side by side (the same code as the columns).
void blurRows(const float* src, std::ptrdiff_t srcStride, float* dst, std::ptrdiff_t dstStride, int width,
              int height, const BoxMixture& m) {
    const PassWeights pw = weightsOf(m);
    const int groups = (height + kColumnStrip - 1) / kColumnStrip;
    forEachChunk(groups, 1, [&](int begin, int end) {
        std::vector<float> a(std::size_t(width) * kColumnStrip), b(a.size());
        std::vector<double> narrow(kColumnStrip), wide(kColumnStrip);
        for (int g = begin; g < end; ++g) {
            const int y0 = g * kColumnStrip;
            const int rows = std::min(kColumnStrip, height - y0);
            for (int r = 0; r < rows; ++r) {
                const float* line = src + (y0 + r) * srcStride;
                for (int x = 0; x < width; ++x) a[std::size_t(x) * rows + r] = line[x];
            }
            columnPass(a.data(), b.data(), rows, width, pw, narrow.data(), wide.data());
            columnPass(b.data(), a.data(), rows, width, pw, narrow.data(), wide.data());
            columnPass(a.data(), b.data(), rows, width, pw, narrow.data(), wide.data());
            for (int r = 0; r < rows; ++r) {
                float* line = dst + (y0 + r) * dstStride;
                for (int x = 0; x < width; ++x) line[x] = b[std::size_t(x) * rows + r];
            }
        }
    });
}

void blurColumns(const float* src, std::ptrdiff_t srcStride, float* dst, std::ptrdiff_t dstStride, int width,
                 int height, const BoxMixture& m) {
    const PassWeights pw = weightsOf(m);
    const int strips = (width + kColumnStrip - 1) / kColumnStrip;
    forEachChunk(strips, 1, [&](int begin, int end) {
        std::vector<float> a(std::size_t(height) * kColumnStrip), b(a.size());
        std::vector<double> narrow(kColumnStrip), wide(kColumnStrip);
        for (int s = begin; s < end; ++s) {
            const int x0 = s * kColumnStrip;
            const int cols = std::min(kColumnStrip, width - x0);
            for (int y = 0; y < height; ++y)
                std::memcpy(a.data() + std::size_t(y) * cols, src + y * srcStride + x0, cols * sizeof(float));
            columnPass(a.data(), b.data(), cols, height, pw, narrow.data(), wide.data());
            columnPass(b.data(), a.data(), cols, height, pw, narrow.data(), wide.data());
            columnPass(a.data(), b.data(), cols, height, pw, narrow.data(), wide.data());
            for (int y = 0; y < height; ++y)
                std::memcpy(dst + y * dstStride + x0, b.data() + std::size_t(y) * cols, cols * sizeof(float));
        }
    });
}

} // namespace

void boxGaussianBlur(const float* src, std::ptrdiff_t srcStride, float* dst, std::ptrdiff_t dstStride,
                     int width, int height, double sigmaX, double sigmaY) {
    if (width <= 0 || height <= 0 || !src || !dst) return;
    BoxMixture mx, my;
    const bool doX = BoxMixture::forSigma(sigmaX, kPasses, mx);
    const bool doY = BoxMixture::forSigma(sigmaY, kPasses, my);
    if (doX) {
        blurRows(src, srcStride, dst, dstStride, width, height, mx);
    } else if (src != dst) {
        for (int y = 0; y < height; ++y)
            std::memmove(dst + y * dstStride, src + y * srcStride, width * sizeof(float));
    }
    if (doY) blurColumns(dst, dstStride, dst, dstStride, width, height, my);
}

} // namespace Orvex::Document::Filters::Common
