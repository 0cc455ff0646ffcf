#include "document/filters/nightsky/NightSkyRenderer.h"

#include "document/filters/Composite.h"
#include "document/filters/common/Bilinear.h"
#include "document/filters/common/Random.h"
#include "mt/JobsPool.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace Orvex::Document::Filters {

using namespace DataStorage;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kFaint = 0.00001f; // alphas below this leave a pixel as it is
constexpr int kBandRows = 32;      // rows per job of the zone and deformation passes
constexpr int kStampRows = 8;      // rows per job of the blob stamping, whose band stays in the cache

struct Rgb {
    float r = 0, g = 0, b = 0;
};

// An element colour: its own unless transparent, then the base colour.
Rgb colourOf(uint32_t argb, uint32_t base) {
    const uint32_t c = (argb >> 24) == 0 ? base : argb;
    return {float((c >> 16) & 0xFF) / 255.0f, float((c >> 8) & 0xFF) / 255.0f, float(c & 0xFF) / 255.0f};
}

// Red, green and blue each moved by a signed draw times the deviation (three draws, always).
Rgb deviated(Rgb c, double v, Common::cLcgRandom& random) {
    c.r = float(std::clamp(c.r + random.nextSigned() * v, 0.0, 1.0));
    c.g = float(std::clamp(c.g + random.nextSigned() * v, 0.0, 1.0));
    c.b = float(std::clamp(c.b + random.nextSigned() * v, 0.0, 1.0));
    return c;
}

uint64_t mixHash(uint64_t h, uint64_t v) {
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    return h;
}

// One nebula blob: a star disc of radius `radius` around (x, y), pixel box inside the work area.
struct Blob {
    float x, y, radius, strength;
    Rgb colour;
    int x0, y0, x1, y1;
};

// One row of a disc's "over" into an interleaved premultiplied layer (red, green, blue, alpha per
// pixel); n pixels, the first at dx0 from the centre. The vector version does the very operations of
// the scalar one, lane by lane (no fused multiply-adds), so both give the same bytes.
struct DiscRow {
    float dx0, dy2, inverseR2, sigma, cr, cg, cb;

    inline float alpha(int i) const {
        const float dx = dx0 + float(i);
        const float t = (dx * dx + dy2) * inverseR2;
        const float a = std::min((1.0f - t) * sigma, 1.0f);
        return a >= kFaint ? a : 0.0f;
    }
    inline void pixel(float* rgba, int i) const {
        const float a = alpha(i), keep = 1.0f - a;
        float* p = rgba + 4 * i;
        p[0] = cr * a + p[0] * keep;
        p[1] = cg * a + p[1] * keep;
        p[2] = cb * a + p[2] * keep;
        p[3] = 1.0f * a + p[3] * keep;
    }
};

void discRowScalar(float* rgba, int n, const DiscRow& d) {
    for (int i = 0; i < n; ++i) d.pixel(rgba, i);
}

__attribute__((target("avx2"))) void discRowAvx2(float* rgba, int n, const DiscRow& d) {
    const __m256 lanes = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256 dx0 = _mm256_set1_ps(d.dx0), dy2 = _mm256_set1_ps(d.dy2);
    const __m256 inverse = _mm256_set1_ps(d.inverseR2), sigma = _mm256_set1_ps(d.sigma);
    const __m256 one = _mm256_set1_ps(1.0f), faint = _mm256_set1_ps(kFaint);
    const __m256 colour = _mm256_setr_ps(d.cr, d.cg, d.cb, 1.0f, d.cr, d.cg, d.cb, 1.0f);
    // Each pair of pixels takes its two alphas spread over their four samples.
    const __m256i pairs[4] = {
        _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1), _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3),
        _mm256_setr_epi32(4, 4, 4, 4, 5, 5, 5, 5), _mm256_setr_epi32(6, 6, 6, 6, 7, 7, 7, 7)};
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 dx = _mm256_add_ps(dx0, _mm256_add_ps(_mm256_set1_ps(float(i)), lanes));
        const __m256 t = _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(dx, dx), dy2), inverse);
        __m256 a = _mm256_min_ps(_mm256_mul_ps(_mm256_sub_ps(one, t), sigma), one);
        a = _mm256_and_ps(a, _mm256_cmp_ps(a, faint, _CMP_GE_OQ));
        for (int k = 0; k < 4; ++k) {
            const __m256 ak = _mm256_permutevar8x32_ps(a, pairs[k]);
            const __m256 keep = _mm256_sub_ps(one, ak);
            float* p = rgba + 4 * (i + 2 * k);
            _mm256_storeu_ps(
                p, _mm256_add_ps(_mm256_mul_ps(colour, ak), _mm256_mul_ps(_mm256_loadu_ps(p), keep)));
        }
    }
    for (; i < n; ++i) d.pixel(rgba, i);
}

using DiscRowKernel = void (*)(float*, int, const DiscRow&);
DiscRowKernel discRowKernel() {
    static const DiscRowKernel kernel = __builtin_cpu_supports("avx2") ? discRowAvx2 : discRowScalar;
    return kernel;
}

// The same "over" into an alpha-only layer, for nebulas whose blobs all have one colour: the colour
// is then that colour wherever anything is drawn, and only the alpha needs keeping.
void discAlphaRowScalar(float* alpha, int n, const DiscRow& d) {
    for (int i = 0; i < n; ++i) {
        const float a = d.alpha(i);
        alpha[i] = 1.0f * a + alpha[i] * (1.0f - a);
    }
}

__attribute__((target("avx2"))) void discAlphaRowAvx2(float* alpha, int n, const DiscRow& d) {
    const __m256 lanes = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256 dx0 = _mm256_set1_ps(d.dx0), dy2 = _mm256_set1_ps(d.dy2);
    const __m256 inverse = _mm256_set1_ps(d.inverseR2), sigma = _mm256_set1_ps(d.sigma);
    const __m256 one = _mm256_set1_ps(1.0f), faint = _mm256_set1_ps(kFaint);
    // The last few pixels of the row go through the same steps with masked loads and stores.
    const __m256i laneIndex = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (int i = 0; i < n; i += 8) {
        const __m256 dx = _mm256_add_ps(dx0, _mm256_add_ps(_mm256_set1_ps(float(i)), lanes));
        const __m256 t = _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(dx, dx), dy2), inverse);
        __m256 a = _mm256_min_ps(_mm256_mul_ps(_mm256_sub_ps(one, t), sigma), one);
        a = _mm256_and_ps(a, _mm256_cmp_ps(a, faint, _CMP_GE_OQ));
        const __m256 keep = _mm256_sub_ps(one, a);
        if (i + 8 <= n) {
            _mm256_storeu_ps(alpha + i, _mm256_add_ps(a, _mm256_mul_ps(_mm256_loadu_ps(alpha + i), keep)));
        } else {
            const __m256i inside = _mm256_cmpgt_epi32(_mm256_set1_epi32(n - i), laneIndex);
            const __m256 old = _mm256_maskload_ps(alpha + i, inside);
            _mm256_maskstore_ps(alpha + i, inside, _mm256_add_ps(a, _mm256_mul_ps(old, keep)));
        }
    }
}

DiscRowKernel discAlphaRowKernel() {
    static const DiscRowKernel kernel = __builtin_cpu_supports("avx2") ? discAlphaRowAvx2 : discAlphaRowScalar;
    return kernel;
}

// Cubic Lagrange weights for nodes -1, 0, 1, 2 at t in [0, 1).
inline void lagrange(double t, double w[4]) {
    w[0] = -t * (t - 1) * (t - 2) / 6;
    w[1] = (t + 1) * (t - 1) * (t - 2) / 2;
    w[2] = -(t + 1) * t * (t - 2) / 2;
    w[3] = (t + 1) * t * (t - 1) / 6;
}

// The deform grid position of an image column or row: index of node 0 and the fraction beyond it.
inline void gridPosition(int pixel, int size, int& node, double& t) {
    const double cell = (size - 1) / 9.0;
    const double g = cell > 0 ? pixel / cell + 1.0 : 1.0;
    node = std::clamp(int(std::floor(g)), 1, 10);
    t = std::clamp(g - node, 0.0, 1.0);
}

// The deform grid's weights for each column of the work area, kept by weight so that a row's
// displacements are four products a column.
struct ColumnWeights {
    std::vector<int> node;   // grid node 0 of the column; it never decreases along the row
    std::vector<double> w[4];
};

// The displacement of columns [from, to) of one row: the row's combined grid values (13 each) with
// each column's cubic weights, summed in the weights' order.
void rowDisplacementScalar(const double* gx, const double* gy, const ColumnWeights& c, int from, int to,
                           double* dx, double* dy) {
    for (int i = from; i < to; ++i) {
        const int n = c.node[size_t(i)] - 1;
        double x = 0, y = 0;
        for (int k = 0; k < 4; ++k) {
            x += c.w[k][size_t(i)] * gx[n + k];
            y += c.w[k][size_t(i)] * gy[n + k];
        }
        dx[i - from] = x, dy[i - from] = y;
    }
}

// Four columns at a time over each run of columns that share a grid node; the very operations of
// the scalar version (no fused multiply-adds), so both give the same bits.
__attribute__((target("avx2"))) void rowDisplacementAvx2(const double* gx, const double* gy, const ColumnWeights& c,
                                                         int from, int to, double* dx, double* dy) {
    int i = from;
    while (i < to) {
        const int node = c.node[size_t(i)];
        int end = i;
        while (end < to && c.node[size_t(end)] == node) ++end;
        const int n = node - 1;
        for (; i + 4 <= end; i += 4) {
            __m256d x = _mm256_setzero_pd(), y = _mm256_setzero_pd();
            for (int k = 0; k < 4; ++k) {
                const __m256d w = _mm256_loadu_pd(c.w[k].data() + i);
                x = _mm256_add_pd(x, _mm256_mul_pd(w, _mm256_set1_pd(gx[n + k])));
                y = _mm256_add_pd(y, _mm256_mul_pd(w, _mm256_set1_pd(gy[n + k])));
            }
            _mm256_storeu_pd(dx + (i - from), x);
            _mm256_storeu_pd(dy + (i - from), y);
        }
        rowDisplacementScalar(gx, gy, c, i, end, dx + (i - from), dy + (i - from));
        i = end;
    }
}

using RowDisplacement = void (*)(const double*, const double*, const ColumnWeights&, int, int, double*, double*);
RowDisplacement rowDisplacementKernel() {
    static const RowDisplacement kernel =
        __builtin_cpu_supports("avx2") ? rowDisplacementAvx2 : rowDisplacementScalar;
    return kernel;
}

// The alpha of a layer of width x height pixels, `stride` floats a pixel (1 for an alpha-only layer,
// 4 for interleaved colour and alpha, `data` then pointing at the first alpha), sampled bilinearly
// at displaced positions.
struct AlphaLayer {
    const float* data;
    int width, height;
    int stride = 1;
};

// n samples of one row: pixel i at (column0 + i + dx[i], row + dy[i]), the position clamped to
// 0 ... size - 1.01; pixels not `shown` are 0.
void sampleAlphaRowScalar(const AlphaLayer& layer, int column0, int row, const double* dx, const double* dy,
                          const uint8_t* shown, float* out, int n) {
    for (int i = 0; i < n; ++i) {
        if (!shown[i]) {
            out[i] = 0.0f;
            continue;
        }
        const float sx = Common::clampSamplePosition(float(column0 + i + dx[i]), layer.width);
        const float sy = Common::clampSamplePosition(float(row + dy[i]), layer.height);
        const int ix = int(sx), iy = int(sy);
        const float fx = sx - float(ix), fy = sy - float(iy);
        const int ix1 = std::min(ix + 1, layer.width - 1);
        const size_t k = size_t(layer.stride);
        const float* r0 = layer.data + size_t(iy) * size_t(layer.width) * k;
        const float* r1 = layer.data + size_t(std::min(iy + 1, layer.height - 1)) * size_t(layer.width) * k;
        const float a0 = r0[k * size_t(ix)], a1 = r0[k * size_t(ix1)], b0 = r1[k * size_t(ix)], b1 = r1[k * size_t(ix1)];
        const float top = a0 + fx * (a1 - a0), bottom = b0 + fx * (b1 - b0);
        out[i] = top + fy * (bottom - top);
    }
}

// Eight samples at a time with gathers: the scalar operations lane by lane. Indices are 32-bit, so
// layers of 2^31 pixels and more take the scalar path.
__attribute__((target("avx2"))) void sampleAlphaRowAvx2(const AlphaLayer& layer, int column0, int row,
                                                        const double* dx, const double* dy, const uint8_t* shown,
                                                        float* out, int n) {
    const __m256 zero = _mm256_setzero_ps();
    const __m256 upperX = _mm256_set1_ps(std::max(0.0f, float(layer.width) - 1.01f));
    const __m256 upperY = _mm256_set1_ps(std::max(0.0f, float(layer.height) - 1.01f));
    const __m256i lastX = _mm256_set1_epi32(layer.width - 1), lastY = _mm256_set1_epi32(layer.height - 1);
    const __m256i width = _mm256_set1_epi32(layer.width), oneI = _mm256_set1_epi32(1);
    const __m256i stride = _mm256_set1_epi32(layer.stride);
    const __m256d rowD = _mm256_set1_pd(double(row));
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i shown8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(shown + i));
        const __m256 visible =
            _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_cvtepu8_epi32(shown8), _mm256_setzero_si256()));
        if (_mm256_movemask_ps(visible) == 0) {
            _mm256_storeu_ps(out + i, zero);
            continue;
        }
        const __m128i c0 = _mm_add_epi32(_mm_set1_epi32(column0 + i), _mm_setr_epi32(0, 1, 2, 3));
        const __m128i c1 = _mm_add_epi32(c0, _mm_set1_epi32(4));
        const __m128 x0 = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtepi32_pd(c0), _mm256_loadu_pd(dx + i)));
        const __m128 x1 = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtepi32_pd(c1), _mm256_loadu_pd(dx + i + 4)));
        const __m128 y0 = _mm256_cvtpd_ps(_mm256_add_pd(rowD, _mm256_loadu_pd(dy + i)));
        const __m128 y1 = _mm256_cvtpd_ps(_mm256_add_pd(rowD, _mm256_loadu_pd(dy + i + 4)));
        __m256 sx = _mm256_insertf128_ps(_mm256_castps128_ps256(x0), x1, 1);
        __m256 sy = _mm256_insertf128_ps(_mm256_castps128_ps256(y0), y1, 1);
        sx = _mm256_and_ps(_mm256_min_ps(sx, upperX), _mm256_cmp_ps(sx, zero, _CMP_GT_OQ));
        sy = _mm256_and_ps(_mm256_min_ps(sy, upperY), _mm256_cmp_ps(sy, zero, _CMP_GT_OQ));
        const __m256i ix = _mm256_cvttps_epi32(sx), iy = _mm256_cvttps_epi32(sy);
        const __m256 fx = _mm256_sub_ps(sx, _mm256_cvtepi32_ps(ix)), fy = _mm256_sub_ps(sy, _mm256_cvtepi32_ps(iy));
        const __m256i ix1 = _mm256_min_epi32(_mm256_add_epi32(ix, oneI), lastX);
        const __m256i r0 = _mm256_mullo_epi32(iy, width);
        const __m256i r1 = _mm256_mullo_epi32(_mm256_min_epi32(_mm256_add_epi32(iy, oneI), lastY), width);
        const __m256 a0 = _mm256_i32gather_ps(layer.data, _mm256_mullo_epi32(_mm256_add_epi32(r0, ix), stride), 4);
        const __m256 a1 = _mm256_i32gather_ps(layer.data, _mm256_mullo_epi32(_mm256_add_epi32(r0, ix1), stride), 4);
        const __m256 b0 = _mm256_i32gather_ps(layer.data, _mm256_mullo_epi32(_mm256_add_epi32(r1, ix), stride), 4);
        const __m256 b1 = _mm256_i32gather_ps(layer.data, _mm256_mullo_epi32(_mm256_add_epi32(r1, ix1), stride), 4);
        const __m256 top = _mm256_add_ps(a0, _mm256_mul_ps(fx, _mm256_sub_ps(a1, a0)));
        const __m256 bottom = _mm256_add_ps(b0, _mm256_mul_ps(fx, _mm256_sub_ps(b1, b0)));
        const __m256 v = _mm256_add_ps(top, _mm256_mul_ps(fy, _mm256_sub_ps(bottom, top)));
        _mm256_storeu_ps(out + i, _mm256_and_ps(v, visible));
    }
    sampleAlphaRowScalar(layer, column0 + i, row, dx + i, dy + i, shown + i, out + i, n - i);
}

using AlphaRowSampler = void (*)(const AlphaLayer&, int, int, const double*, const double*, const uint8_t*, float*,
                                 int);
AlphaRowSampler alphaRowSampler(const AlphaLayer& layer) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    const uint64_t floats = uint64_t(layer.width) * uint64_t(layer.height) * uint64_t(layer.stride);
    return avx2 && floats < (uint64_t(1) << 31) ? sampleAlphaRowAvx2 : sampleAlphaRowScalar;
}

// Rejection sampling of zone positions; a budget keeps zones that the draws cannot reach (a
// zone beyond the 32768 columns that `r mod w` can address) from stalling the run.
struct Budget {
    int64_t left;
    explicit Budget(int64_t count, int64_t boxPixels, int64_t zonePixels)
        : left(64 * count * std::max<int64_t>(1, boxPixels / std::max<int64_t>(1, zonePixels)) + 100000) {}
    bool spend() { return --left >= 0; }
};

// Disc i of a streak: its centre, radius and strength (the profile times sigma); not valid past the
// end. Generation and painting both take their discs from here, so they agree to the bit.
struct StreakDisc {
    bool valid = false;
    float x = 0, y = 0, radius = 0, strength = 0;
    double exactRadius = 0; // the pixel box is found with it, before rounding to float
    int left() const { return int(std::ceil(x - 0.5 - exactRadius)); }
    int top() const { return int(std::ceil(y - 0.5 - exactRadius)); }
    int right() const { return int(std::floor(x - 0.5 + exactRadius)) + 1; }
    int bottom() const { return int(std::floor(y - 0.5 + exactRadius)) + 1; }
};
// The profile times sigma at parameter t.
inline float streakStrength(const SkyStamp& s, double t) {
    const double fade = 1 - 0.9 * t;
    const double q = s.profile == 1 ? 0.5 + 2.2 * t - 2.5 * t * t : fade * fade * fade;
    return float(q * s.sigma);
}

// `withStrength` false leaves the strength out, for the passes that need only where a disc lies.
inline StreakDisc streakDisc(const SkyStamp& s, int64_t i, bool withStrength = true) {
    StreakDisc d;
    const double t = double(i) * s.step;
    if (!(t <= 1.0)) return d;
    d.valid = true;
    d.x = float((1 - t) * s.sx + t * s.ex), d.y = float((1 - t) * s.sy + t * s.ey);
    d.exactRadius = (1 - 0.3 * t) * s.exactWidth;
    d.radius = float(d.exactRadius);
    if (withStrength) d.strength = streakStrength(s, t);
    return d;
}

// Collects the stamps of the elements in drawing order and grows the layer rectangle with each.
class StampList {
public:
    StampList(std::vector<SkyStamp>& stamps, RectI& rect, SizeI size)
        : m_stamps(stamps), m_rect(rect), m_size(size) {}

    void disc(double x, double y, double radius, double sigma, Rgb c) {
        if (!(radius > 0) || !(sigma > 0)) return;
        SkyStamp s;
        s.x = float(x), s.y = float(y), s.reach = float(radius), s.width = float(radius);
        s.r = c.r, s.g = c.g, s.b = c.b;
        if (radius < 1.0) {
            // Too small to be sure of a pixel centre: the disc's alpha mass over its four nearest
            // pixels, so that tiny stars neither vanish nor snap to the pixel grid.
            s.kind = SkyStamp::Splat;
            s.strength = float(sigma * kPi * radius * radius / 2);
            const double fx = std::floor(x - 0.5), fy = std::floor(y - 0.5);
            push(s, fx, fy, fx + 2, fy + 2);
            return;
        }
        s.kind = SkyStamp::Disc;
        s.strength = float(sigma);
        push(s, std::ceil(x - 0.5 - radius), std::ceil(y - 0.5 - radius), std::floor(x - 0.5 + radius) + 1,
             std::floor(y - 0.5 + radius) + 1);
    }

    // A streak of kind 0 (fading from its start) or 1 (swelling, then fading) from p0 to p1, kept as
    // one stamp; its discs are laid out here only to find the pixels they touch.
    void streak(int kind, double x0, double y0, double x1, double y1, double width, double sigma, Rgb c) {
        const double length = std::hypot(x1 - x0, y1 - y0);
        if (!(length >= 1.0) || !(width > 0) || !(sigma > 0) || !std::isfinite(length)) return;
        SkyStamp s;
        s.kind = SkyStamp::Streak;
        s.profile = uint8_t(kind);
        s.x = float(x0), s.y = float(y0);
        s.sx = x0, s.sy = y0, s.ex = x1, s.ey = y1;
        s.width = float(width), s.strength = float(sigma), s.sigma = sigma, s.exactWidth = width;
        s.r = c.r, s.g = c.g, s.b = c.b;
        s.step = 0.7 / length;
        double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
        for (int64_t i = 0;; ++i) {
            const StreakDisc d = streakDisc(s, i, false);
            if (!d.valid) break;
            s.discs = i + 1;
            // Discs wholly outside the picture touch nothing and leave the rectangle as it is.
            const double l = std::max(0.0, std::ceil(d.x - 0.5 - d.exactRadius));
            const double t = std::max(0.0, std::ceil(d.y - 0.5 - d.exactRadius));
            const double r = std::min(double(m_size.width), std::floor(d.x - 0.5 + d.exactRadius) + 1);
            const double b = std::min(double(m_size.height), std::floor(d.y - 0.5 + d.exactRadius) + 1);
            if (l >= r || t >= b) continue;
            left = std::min(left, l), top = std::min(top, t), right = std::max(right, r),
            bottom = std::max(bottom, b);
        }
        if (left < right) push(s, left, top, right, bottom);
    }

private:
    void push(SkyStamp& s, double left, double top, double right, double bottom) {
        s.x0 = int(std::clamp(left, 0.0, double(m_size.width)));
        s.y0 = int(std::clamp(top, 0.0, double(m_size.height)));
        s.x1 = int(std::clamp(right, 0.0, double(m_size.width)));
        s.y1 = int(std::clamp(bottom, 0.0, double(m_size.height)));
        if (s.x0 >= s.x1 || s.y0 >= s.y1) return;
        m_rect = RectI{std::min(m_rect.left, s.x0), std::min(m_rect.top, s.y0), std::max(m_rect.right, s.x1),
                       std::max(m_rect.bottom, s.y1)};
        m_stamps.push_back(s);
    }

    std::vector<SkyStamp>& m_stamps;
    RectI& m_rect;
    SizeI m_size;
};

// One stamp's "over" into a premultiplied tile buffer covering `area` (64 floats a row).
void applyStamp(const SkyStamp& s, const RectI& area, float* planes[4]) {
    const int x0 = std::max(s.x0, area.left), x1 = std::min(s.x1, area.right);
    const int y0 = std::max(s.y0, area.top), y1 = std::min(s.y1, area.bottom);
    if (x0 >= x1 || y0 >= y1) return;
    auto over = [&](int x, int y, float a) {
        if (!(a >= kFaint)) return;
        a = std::min(a, 1.0f);
        const size_t i = size_t(y - area.top) * TileSize + size_t(x - area.left);
        const float keep = 1.0f - a;
        planes[0][i] = s.r * a + planes[0][i] * keep;
        planes[1][i] = s.g * a + planes[1][i] * keep;
        planes[2][i] = s.b * a + planes[2][i] * keep;
        planes[3][i] = a + planes[3][i] * keep;
    };
    if (s.kind == SkyStamp::Splat) {
        const float fx0 = std::floor(s.x - 0.5f), fy0 = std::floor(s.y - 0.5f);
        const float fx = s.x - 0.5f - fx0, fy = s.y - 0.5f - fy0;
        const int ix = int(fx0), iy = int(fy0);
        const float w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
        for (int k = 0; k < 4; ++k) {
            const int x = ix + (k & 1), y = iy + (k >> 1);
            if (x >= x0 && x < x1 && y >= y0 && y < y1) over(x, y, s.strength * w[k]);
        }
        return;
    }
    if (s.kind == SkyStamp::Streak) {
        // Only the discs whose centre can reach this tile: the part of the streak's line inside the
        // tile grown by the widest disc, as a range of disc numbers.
        const double grow = double(s.width) + 1.0;
        const double bx0 = area.left - grow, bx1 = area.right + grow, by0 = area.top - grow,
                     by1 = area.bottom + grow;
        double t0 = 0, t1 = 1;
        const double dx = s.ex - s.sx, dy = s.ey - s.sy;
        auto clip = [&](double p, double q) { // p t <= q
            if (p == 0) return q >= 0;
            const double r = q / p;
            if (p < 0)
                t0 = std::max(t0, r);
            else
                t1 = std::min(t1, r);
            return t0 <= t1;
        };
        if (!clip(-dx, s.sx - bx0) || !clip(dx, bx1 - s.sx) || !clip(-dy, s.sy - by0) ||
            !clip(dy, by1 - s.sy))
            return;
        const int64_t first = std::max<int64_t>(0, int64_t(std::floor(t0 / s.step)) - 1);
        const int64_t last = std::min<int64_t>(s.discs - 1, int64_t(std::ceil(t1 / s.step)) + 1);
        for (int64_t i = first; i <= last; ++i) {
            const StreakDisc d = streakDisc(s, i, false);
            if (!d.valid) break;
            const int dx0 = std::max(x0, d.left()), dx1 = std::min(x1, d.right());
            const int dy0 = std::max(y0, d.top()), dy1 = std::min(y1, d.bottom());
            if (dx0 >= dx1 || dy0 >= dy1) continue;
            const float strength = streakStrength(s, double(i) * s.step);
            const float reach2 = d.radius * d.radius;
            if (std::sqrt(reach2) <= s.width - 0.5f) {
                // No pixel of this disc lies in the streak's antialiased edge (the discs shrink from
                // the full width): one alpha for all of them, and no distances needed.
                if (!(strength >= kFaint)) continue;
                for (int y = dy0; y < dy1; ++y) {
                    const float ddy = float(y) + 0.5f - d.y;
                    for (int x = dx0; x < dx1; ++x) {
                        const float ddx = float(x) + 0.5f - d.x;
                        if (ddx * ddx + ddy * ddy <= reach2) over(x, y, strength);
                    }
                }
                continue;
            }
            for (int y = dy0; y < dy1; ++y) {
                const float ddy = float(y) + 0.5f - d.y;
                for (int x = dx0; x < dx1; ++x) {
                    const float ddx = float(x) + 0.5f - d.x;
                    const float d2 = ddx * ddx + ddy * ddy;
                    if (d2 > reach2) continue;
                    const float dist = std::sqrt(d2);
                    over(x, y, (dist > s.width - 0.5f ? 2.0f * (s.width - dist) : 1.0f) * strength);
                }
            }
        }
        return;
    }
    const float reach2 = s.reach * s.reach;
    const float inverseR2 = 1.0f / reach2;
    for (int y = y0; y < y1; ++y) {
        const float dy = float(y) + 0.5f - s.y;
        const float dy2 = dy * dy;
        for (int x = x0; x < x1; ++x) {
            const float dx = float(x) + 0.5f - s.x;
            const float d2 = dx * dx + dy2;
            if (d2 > reach2) continue;
            over(x, y, std::min(1.0f, (1.0f - d2 * inverseR2) * s.strength));
        }
    }
}

// One pixel of the composition: the tile layer's premultiplied sample i (colour divided out) over
// the photograph's, at the zone weight.
template <class T>
inline void composeLayerPixel(const float* const planes[4], size_t i, uint8_t weight, T& red, T& green, T& blue,
                              T* alpha) {
    const float a = planes[3][i];
    if (!(a >= kFaint) || !weight) return;
    const float inverse = 1.0f / a;
    composeOver<T>(red, green, blue, alpha, std::min(1.0f, planes[0][i] * inverse),
                   std::min(1.0f, planes[1][i] * inverse), std::min(1.0f, planes[2][i] * inverse),
                   std::min(1.0f, a) * float(weight) * (1.0f / 255.0f));
}

// n pixels of a row, the first at layer index `from`; `alpha` may be null.
template <class T>
void composeLayerRowScalar(const float* const planes[4], size_t from, const uint8_t* weight, T* red, T* green,
                           T* blue, T* alpha, int n) {
    for (int x = 0; x < n; ++x)
        composeLayerPixel<T>(planes, from + size_t(x), weight[x], red[x], green[x], blue[x],
                             alpha ? alpha + x : nullptr);
}

// Eight bytes as floats.
__attribute__((target("avx2"))) inline __m256 widenBytes(const uint8_t* p) {
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}

// Eight int32 lanes (0 ... 255) to eight bytes, taken where `keep` is set and left as they were
// elsewhere.
__attribute__((target("avx2"))) inline void storeBytes(uint8_t* p, __m256i v, __m256i keep) {
    const __m128i v16 = _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    const __m128i k16 = _mm_packs_epi32(_mm256_castsi256_si128(keep), _mm256_extracti128_si256(keep, 1));
    const __m128i v8 = _mm_packus_epi16(v16, v16), k8 = _mm_packs_epi16(k16, k16);
    const __m128i old = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_blendv_epi8(old, v8, k8));
}

// One colour channel of eight pixels: co = cs as + cb keep, then 255 when co >= ar, else
// trunc(co / ar x 255 + 0.5).
__attribute__((target("avx2"))) inline void composeBytes(uint8_t* p, __m256 source, __m256 as, __m256 keep,
                                                         __m256 ar, __m256i mask) {
    const __m256 unit = _mm256_set1_ps(1.0f / 255.0f), full = _mm256_set1_ps(255.0f), half = _mm256_set1_ps(0.5f);
    const __m256 co = _mm256_add_ps(_mm256_mul_ps(source, as), _mm256_mul_ps(_mm256_mul_ps(widenBytes(p), unit), keep));
    const __m256 level = _mm256_add_ps(_mm256_mul_ps(_mm256_div_ps(co, ar), full), half);
    const __m256 v = _mm256_blendv_ps(level, full, _mm256_cmp_ps(co, ar, _CMP_GE_OQ));
    storeBytes(p, _mm256_cvttps_epi32(v), mask);
}

// Eight 8-bit pixels at a time: the scalar formulas lane by lane (no fused multiply-adds), each
// pixel the scalar code leaves alone kept as it was, so both give the same bytes.
__attribute__((target("avx2"))) void composeLayerRowU8Avx2(const float* const planes[4], size_t from,
                                                           const uint8_t* weight, uint8_t* red, uint8_t* green,
                                                           uint8_t* blue, uint8_t* alpha, int n) {
    const __m256 one = _mm256_set1_ps(1.0f), zero = _mm256_setzero_ps(), faint = _mm256_set1_ps(kFaint);
    const __m256 unit = _mm256_set1_ps(1.0f / 255.0f), full = _mm256_set1_ps(255.0f), half = _mm256_set1_ps(0.5f);
    const __m256 negligible = _mm256_set1_ps(SampleMath<uint8_t>::negligible);
    int x = 0;
    for (; x + 8 <= n; x += 8) {
        const size_t i = from + size_t(x);
        const __m256 a = _mm256_loadu_ps(planes[3] + i);
        const __m256 w = widenBytes(weight + x);
        __m256 live = _mm256_and_ps(_mm256_cmp_ps(a, faint, _CMP_GE_OQ), _mm256_cmp_ps(w, zero, _CMP_NEQ_OQ));
        if (_mm256_movemask_ps(live) == 0) continue;
        const __m256 inverse = _mm256_div_ps(one, a);
        const __m256 sr = _mm256_min_ps(_mm256_mul_ps(_mm256_loadu_ps(planes[0] + i), inverse), one);
        const __m256 sg = _mm256_min_ps(_mm256_mul_ps(_mm256_loadu_ps(planes[1] + i), inverse), one);
        const __m256 sb = _mm256_min_ps(_mm256_mul_ps(_mm256_loadu_ps(planes[2] + i), inverse), one);
        const __m256 as = _mm256_mul_ps(_mm256_mul_ps(_mm256_min_ps(a, one), w), unit);
        live = _mm256_and_ps(live, _mm256_cmp_ps(as, zero, _CMP_GT_OQ));
        __m256 ab = one, opaque = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
        if (alpha) {
            const __m256 raw = widenBytes(alpha + x);
            ab = _mm256_mul_ps(raw, unit);
            opaque = _mm256_cmp_ps(raw, full, _CMP_EQ_OQ);
        }
        live = _mm256_andnot_ps(_mm256_and_ps(_mm256_cmp_ps(as, negligible, _CMP_LT_OQ), opaque), live);
        const __m256 ar = _mm256_sub_ps(_mm256_add_ps(ab, as), _mm256_mul_ps(ab, as));
        live = _mm256_and_ps(live, _mm256_cmp_ps(ar, zero, _CMP_GT_OQ));
        if (_mm256_movemask_ps(live) == 0) continue;
        const __m256 keep = _mm256_mul_ps(ab, _mm256_sub_ps(one, as));
        const __m256i mask = _mm256_castps_si256(live);
        composeBytes(red + x, sr, as, keep, ar, mask);
        composeBytes(green + x, sg, as, keep, ar, mask);
        composeBytes(blue + x, sb, as, keep, ar, mask);
        if (alpha) {
            const __m256 clamped = _mm256_min_ps(_mm256_max_ps(ar, zero), one);
            storeBytes(alpha + x, _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(clamped, full), half)), mask);
        }
    }
    composeLayerRowScalar<uint8_t>(planes, from + size_t(x), weight + x, red + x, green + x, blue + x,
                                   alpha ? alpha + x : nullptr, n - x);
}

template <class T>
void composeLayerRow(const float* const planes[4], size_t from, const uint8_t* weight, T* red, T* green, T* blue,
                     T* alpha, int n) {
    if constexpr (std::is_same_v<T, uint8_t>) {
        static const bool avx2 = __builtin_cpu_supports("avx2");
        if (avx2) return composeLayerRowU8Avx2(planes, from, weight, red, green, blue, alpha, n);
    }
    composeLayerRowScalar<T>(planes, from, weight, red, green, blue, alpha, n);
}

} // namespace

SkyZones SkyZones::from(const MaskChannels& masks, SizeI size, int maxWorkers) {
    SkyZones z;
    auto usable = [&](const DataChannel* c) { return c && !c->isEmpty() && c->size() == size; };
    const bool twoZones = usable(masks.duoMask);
    const DataChannel* channel = twoZones ? masks.duoMask : usable(masks.mask) ? masks.mask : nullptr;
    if (!channel) return z;
    z.box = maskBounds(channel, maxWorkers);
    if (z.box.isEmpty()) return z;
    const int w = z.box.width(), h = z.box.height();
    // Both buffers are filled band by band below, so they start uninitialised.
    z.labels.resize(size_t(w) * size_t(h));
    z.weights.resize(z.labels.size());
    // Rows in bands on the jobs pool; each band's counts and hash are merged in band order.
    const int bands = (h + kBandRows - 1) / kBandRows;
    std::vector<int64_t> zone(static_cast<size_t>(bands)), nebula(static_cast<size_t>(bands));
    std::vector<uint64_t> hashes(static_cast<size_t>(bands));
    MT::parallelFor(
        0, uint32_t(bands),
        [&](uint32_t first, uint32_t last) {
            for (uint32_t b = first; b < last; ++b) {
                const size_t from = size_t(b) * kBandRows * size_t(w);
                const size_t to = std::min(z.labels.size(), from + size_t(kBandRows) * size_t(w));
                const int top = z.box.top + int(b) * kBandRows;
                getData(*channel, RectI{z.box.left, top, z.box.right, std::min(z.box.bottom, top + kBandRows)},
                        z.labels.data() + from, unsigned(w));
                // Branch-free per mode, so that the compiler can take many pixels at a time.
                uint8_t* labels = z.labels.data();
                uint8_t* weights = z.weights.data();
                uint64_t nz = 0, nn = 0;
                if (twoZones)
                    for (size_t i = from; i < to; ++i) {
                        const uint8_t v = labels[i];
                        const uint8_t on = v != 0, nebula = v == 2;
                        labels[i] = uint8_t(on + nebula);
                        weights[i] = uint8_t(0 - on);
                        nz += on, nn += nebula;
                    }
                else
                    for (size_t i = from; i < to; ++i) {
                        const uint8_t v = labels[i];
                        const uint8_t on = v != 0;
                        weights[i] = v;
                        labels[i] = uint8_t(on << 1);
                        nz += on;
                    }
                if (!twoZones) nn = nz;
                // The band's labels and weights hashed eight bytes at a time (FNV-1a over words).
                uint64_t hash = 0xCBF29CE484222325ull;
                for (const Common::UninitializedHugePageVector<uint8_t>* bytes : {&z.labels, &z.weights}) {
                    size_t i = from;
                    for (; i + 8 <= to; i += 8) {
                        uint64_t word;
                        std::memcpy(&word, bytes->data() + i, 8);
                        hash = (hash ^ word) * 0x100000001B3ull;
                    }
                    for (; i < to; ++i) hash = (hash ^ (*bytes)[i]) * 0x100000001B3ull;
                }
                zone[b] = int64_t(nz), nebula[b] = int64_t(nn), hashes[b] = hash;
            }
        },
        1, maxWorkers > 0 ? uint32_t(maxWorkers) : 0u);
    uint64_t hash = mixHash(0, uint64_t(z.box.left) << 32 | uint32_t(z.box.top));
    hash = mixHash(hash, uint64_t(z.box.right) << 32 | uint32_t(z.box.bottom));
    for (int b = 0; b < bands; ++b) {
        z.zonePixels += zone[size_t(b)];
        z.nebulaPixels += nebula[size_t(b)];
        hash = mixHash(hash, hashes[size_t(b)]);
    }
    z.hash = hash;
    return z;
}

bool NightSkyRenderer::buildNebula(const NightSkyParams& p, const SkyZones& zones, SizeI size,
                                   const RunContext& context, double share) {
    m_nebulaValid = false;
    Common::UninitializedHugePageVector<float>().swap(m_nebula);
    m_nebulaArea = {};
    m_nebulaRect = zones.box;
    m_counts.nebulas = 0;
    const RectI Z = zones.box;
    const int w = Z.width(), h = Z.height();
    const int64_t count =
        int64_t(std::floor(double(zones.nebulaPixels) * (p.nebulaAmount / 100.0 * 50.0) / 10000.0));
    const double spread = p.nebulaSpread / 100.0 * 1000.0;
    const double deform = p.nebulaDeform / 100.0 * 1000.0;
    const double bright = p.nebulaBright / 100.0 * 0.3;
    const double deviation = p.nebulaColorDev / 100.0;
    const Rgb colour = colourOf(p.nebulaColor, p.baseColor);
    if (!p.useNebulas || count <= 0) {
        context.beginPhase(share, 0);
        return true;
    }

    // The blobs, drawn serially from the nebula generator.
    Common::cLcgRandom random(uint32_t(p.nebulaSeed + 11));
    std::vector<Blob> blobs;
    blobs.reserve(size_t(std::min<int64_t>(count, 1 << 22)));
    Budget budget(count, int64_t(w) * h, zones.nebulaPixels);
    // The work area: every pixel a blob reaches, and every pixel the deformation can pull one to.
    const int margin = int(std::ceil(spread + 2 + 1.5625 * deform)) + 4;
    const RectI area = grown(Z, margin, size);
    for (int64_t i = 0; i < count; ++i) {
        int x = 0, y = 0;
        bool placed = false;
        while (budget.spend()) {
            x = Z.left + random.next() % w;
            y = Z.top + random.next() % h;
            if (zones.labels[size_t(y - Z.top) * size_t(w) + size_t(x - Z.left)] == 2) {
                placed = true;
                break;
            }
        }
        if (!placed) break;
        const double radius = random.nextUnit() * spread + 2;
        const double strength = (0.5 + 0.5 * random.nextUnit()) * bright * (1 - radius / (10 + spread));
        const Rgb c = deviated(colour, deviation, random);
        Blob blob{float(x + 0.5), float(y + 0.5), float(radius), float(strength), c, 0, 0, 0, 0};
        blob.x0 = std::max(area.left, int(std::ceil(x - radius)));
        blob.x1 = std::min(area.right, int(std::floor(x + radius)) + 1);
        blob.y0 = std::max(area.top, int(std::ceil(y - radius)));
        blob.y1 = std::min(area.bottom, int(std::floor(y + radius)) + 1);
        if (blob.x0 < blob.x1 && blob.y0 < blob.y1 && strength > 0) blobs.push_back(blob);
        if ((i & 1023) == 0 && context.cancelled()) return false;
    }
    m_counts.nebulas = int64_t(blobs.size());
    const int aw = area.width(), ah = area.height();
    context.beginPhase(share, blobs.empty() ? 0 : 2 * int64_t(ah));
    if (blobs.empty()) return true;

    // Stamped in bands of rows, each band applying the blobs that reach it in drawing order. Without
    // colour deviation every blob has the nebula's colour, and the layer is its alpha alone.
    const bool uniform = deviation == 0;
    const size_t comps = uniform ? 1 : 4;
    const size_t pixels = size_t(aw) * size_t(ah);
    Common::UninitializedHugePageVector<float> blobLayer;
    blobLayer.resize(comps * pixels);
    const int bands = (ah + kStampRows - 1) / kStampRows;
    std::vector<std::vector<uint32_t>> perBand(static_cast<size_t>(bands));
    for (size_t i = 0; i < blobs.size(); ++i)
        for (int b = (blobs[i].y0 - area.top) / kStampRows; b <= (blobs[i].y1 - 1 - area.top) / kStampRows;
             ++b)
            perBand[size_t(b)].push_back(uint32_t(i));
    const uint32_t workers = context.maxWorkers > 0 ? uint32_t(context.maxWorkers) : 0u;
    const DiscRowKernel kernel = uniform ? discAlphaRowKernel() : discRowKernel();
    MT::parallelFor(
        0, uint32_t(bands),
        [&](uint32_t first, uint32_t last) {
            for (uint32_t b = first; b < last; ++b) {
                const int top = area.top + int(b) * kStampRows,
                          bottom = std::min(area.bottom, top + kStampRows);
                const size_t start = size_t(top - area.top) * size_t(aw);
                std::fill_n(blobLayer.data() + comps * start, comps * size_t(bottom - top) * size_t(aw), 0.0f);
                if (context.cancelled()) continue;
                for (uint32_t index : perBand[b]) {
                    const Blob& blob = blobs[index];
                    const float r2 = blob.radius * blob.radius, inverse = 1.0f / r2;
                    for (int y = std::max(top, blob.y0); y < std::min(bottom, blob.y1); ++y) {
                        const float dy = float(y) + 0.5f - blob.y, dy2 = dy * dy;
                        if (dy2 > r2) continue;
                        const float half = std::sqrt(r2 - dy2);
                        const int xa = std::max(blob.x0, int(std::ceil(blob.x - 0.5f - half)));
                        const int xb = std::min(blob.x1, int(std::floor(blob.x - 0.5f + half)) + 1);
                        if (xa >= xb) continue;
                        const size_t at = size_t(y - area.top) * size_t(aw) + size_t(xa - area.left);
                        const DiscRow row{float(xa) + 0.5f - blob.x,
                                          dy2,
                                          inverse,
                                          blob.strength,
                                          blob.colour.r,
                                          blob.colour.g,
                                          blob.colour.b};
                        kernel(blobLayer.data() + comps * at, xb - xa, row);
                    }
                }
                context.advance(bottom - top);
            }
        },
        1, workers);
    if (context.cancelled()) return false;

    // Deformation by a smooth field: two 13 x 13 grids of displacements, cubic Lagrange between the
    // nodes, bilinear resampling of the premultiplied planes (the generator runs on). Only the
    // zones' box is ever shown, so only it is kept; the layer rectangle's growth beyond it (its
    // rows decide the dimming and the star sizes) is found from the deformed alpha alone.
    double gridX[13][13] = {}, gridY[13][13] = {};
    if (deform > 0)
        for (int j = 0; j < 13; ++j)
            for (int i = 0; i < 13; ++i) {
                gridX[j][i] = random.nextSigned() * deform;
                gridY[j][i] = random.nextSigned() * deform;
            }
    ColumnWeights columns;
    columns.node.resize(size_t(aw));
    for (auto& w : columns.w) w.resize(size_t(aw));
    for (int i = 0; i < aw; ++i) {
        double t, w[4];
        gridPosition(area.left + i, size.width, columns.node[size_t(i)], t);
        lagrange(t, w);
        for (int k = 0; k < 4; ++k) columns.w[k][size_t(i)] = w[k];
    }
    const RowDisplacement displacement = rowDisplacementKernel();
    // The grids combined down one image row, then the displacement of each column of that row.
    struct RowField {
        double x[13], y[13];
    };
    auto rowField = [&](int y) {
        RowField f;
        int node;
        double t, wy[4];
        gridPosition(y, size.height, node, t);
        lagrange(t, wy);
        for (int i = 0; i < 13; ++i) {
            f.x[i] = f.y[i] = 0;
            for (int k = 0; k < 4; ++k) {
                f.x[i] += wy[k] * gridX[node - 1 + k][i];
                f.y[i] += wy[k] * gridY[node - 1 + k][i];
            }
        }
        return f;
    };
    // The bilinear sample position of area column i in row y (work-area coordinates; beyond the area
    // everything is empty, so the image's clamping is the area's).
    struct Tap {
        size_t r0, r1;
        int ix, ix1;
        float fx, fy;
    };
    auto tap = [&](double dx, double dy, int i, int y) {
        const float sx = Common::clampSamplePosition(float(i + dx), aw);
        const float sy = Common::clampSamplePosition(float(y - area.top + dy), ah);
        Tap tp;
        tp.ix = int(sx);
        const int iy = int(sy);
        tp.fx = sx - float(tp.ix), tp.fy = sy - float(iy);
        tp.ix1 = std::min(tp.ix + 1, aw - 1);
        tp.r0 = size_t(iy) * size_t(aw);
        tp.r1 = size_t(std::min(iy + 1, ah - 1)) * size_t(aw);
        return tp;
    };
    // One sample of the interleaved layer: the four components of a pixel are one vector, so a
    // bilinear tap is four loads and three blends (the scalar formula's operations, lane by lane).
    auto sampleAll = [&](const Tap& t, float* out) {
        const float* base = blobLayer.data();
        const __m128 fx = _mm_set1_ps(t.fx), fy = _mm_set1_ps(t.fy);
        const __m128 a0 = _mm_loadu_ps(base + 4 * (t.r0 + size_t(t.ix))),
                     a1 = _mm_loadu_ps(base + 4 * (t.r0 + size_t(t.ix1)));
        const __m128 b0 = _mm_loadu_ps(base + 4 * (t.r1 + size_t(t.ix))),
                     b1 = _mm_loadu_ps(base + 4 * (t.r1 + size_t(t.ix1)));
        const __m128 top = _mm_add_ps(a0, _mm_mul_ps(fx, _mm_sub_ps(a1, a0)));
        const __m128 bottom = _mm_add_ps(b0, _mm_mul_ps(fx, _mm_sub_ps(b1, b0)));
        _mm_storeu_ps(out, _mm_add_ps(top, _mm_mul_ps(fy, _mm_sub_ps(bottom, top))));
    };

    const int zw = Z.width(), zh = Z.height();
    m_nebula.resize(comps * size_t(zw) * size_t(zh));
    const int zoneBands = (zh + kBandRows - 1) / kBandRows;
    const AlphaLayer alphaLayer{blobLayer.data() + (comps - 1), aw, ah, int(comps)};
    const AlphaRowSampler sampler = alphaRowSampler(alphaLayer);
    MT::parallelFor(
        0, uint32_t(zoneBands),
        [&](uint32_t first, uint32_t last) {
            std::vector<double> dxs(static_cast<size_t>(zw)), dys(static_cast<size_t>(zw));
            const int offset = Z.left - area.left;
            for (uint32_t b = first; b < last; ++b) {
                const int top = Z.top + int(b) * kBandRows, bottom = std::min(Z.bottom, top + kBandRows);
                for (int y = top; y < bottom; ++y) {
                    const RowField f = rowField(y);
                    displacement(f.x, f.y, columns, offset, offset + zw, dxs.data(), dys.data());
                    const size_t row = size_t(y - Z.top) * size_t(zw);
                    float* out = m_nebula.data() + comps * row;
                    // Pixels outside the zones are never shown: they stay empty.
                    const uint8_t* shown = zones.weights.data() + row;
                    if (uniform)
                        sampler(alphaLayer, offset, y - area.top, dxs.data(), dys.data(), shown, out, zw);
                    else
                        for (int i = 0; i < zw; ++i) {
                            if (!shown[i])
                                std::fill_n(out + 4 * i, 4, 0.0f);
                            else
                                sampleAll(tap(dxs[size_t(i)], dys[size_t(i)], offset + i, y), out + 4 * i);
                        }
                }
                context.advance(int64_t(bottom - top) * ah / std::max(1, zh));
            }
        },
        1, workers);
    if (context.cancelled()) {
        Common::UninitializedHugePageVector<float>().swap(m_nebula);
        return false;
    }
    // Rows above and below the box, searched from the area's edges towards it.
    // Every such row is tested on the jobs pool; the outermost lit one on each side counts.
    std::vector<int> outside;
    for (int y = area.top; y < Z.top; ++y) outside.push_back(y);
    for (int y = Z.bottom; y < area.bottom; ++y) outside.push_back(y);
    std::vector<uint8_t> lit(outside.size(), 0);
    MT::parallelFor(
        0, uint32_t(outside.size()),
        [&](uint32_t first, uint32_t last) {
            std::vector<double> dxs(static_cast<size_t>(aw)), dys(static_cast<size_t>(aw));
            std::vector<float> alpha(static_cast<size_t>(aw));
            const std::vector<uint8_t> everywhere(static_cast<size_t>(aw), 1);
            for (uint32_t k = first; k < last; ++k) {
                const int y = outside[k];
                const RowField f = rowField(y);
                displacement(f.x, f.y, columns, 0, aw, dxs.data(), dys.data());
                sampler(alphaLayer, 0, y - area.top, dxs.data(), dys.data(), everywhere.data(), alpha.data(), aw);
                lit[k] = std::any_of(alpha.begin(), alpha.end(), [](float a) { return a >= kFaint; });
            }
        },
        4, workers);
    RectI rect = Z;
    for (size_t k = 0; k < outside.size(); ++k)
        if (lit[k]) {
            if (outside[k] < Z.top)
                rect.top = std::min(rect.top, outside[k]);
            else
                rect.bottom = std::max(rect.bottom, outside[k] + 1);
        }
    m_nebulaArea = Z;
    m_nebulaRect = rect;
    m_nebulaUniform = uniform;
    m_nebulaColour[0] = colour.r, m_nebulaColour[1] = colour.g, m_nebulaColour[2] = colour.b;
    return true;
}

bool NightSkyRenderer::buildElements(const NightSkyParams& p, const SkyZones& zones, SizeI size,
                                     const RunContext& context) {
    m_stamps.clear();
    m_counts.stars = m_counts.starRays = m_counts.shootingStars = m_counts.meteors = m_counts.streakDiscs = 0;
    RectI rect = m_nebulaRect;
    StampList out(m_stamps, rect, size);
    const RectI Z = zones.box;
    const int w = Z.width(), h = Z.height();
    const double D = p.baseDimming / 100.0;
    const int64_t nz = zones.zonePixels;
    auto isZone = [&](double x, double y) {
        const int ix = int(x), iy = int(y);
        if (ix < Z.left || ix >= Z.right || iy < Z.top || iy >= Z.bottom) return false;
        return zones.labels[size_t(iy - Z.top) * size_t(w) + size_t(ix - Z.left)] != 0;
    };
    // A real position inside a zone, two draws per try; false when the budget ran out.
    auto place = [&](Common::cLcgRandom& random, Budget& budget, double& x, double& y) {
        while (budget.spend()) {
            x = random.nextUnit() * (w - 1) + Z.left;
            y = random.nextUnit() * (h - 1) + Z.top;
            if (isZone(x, y)) return true;
        }
        return false;
    };
    // The dimming's scale at a row: 1 - 0.5 D f^2, f the row's fraction down the layer rectangle.
    auto dimmed = [&](double y) {
        const double f = rect.height() > 0 ? (std::floor(y) - rect.top) / double(rect.height()) : 0.0;
        return 1.0 - 0.5 * D * f * f;
    };
    auto sum3 = [](Common::cLcgRandom& random) {
        const double a = random.nextSigned(), b = random.nextSigned(), c = random.nextSigned();
        return std::fabs(a + b + c) / 3;
    };

    if (p.useStars) {
        Common::cLcgRandom random(uint32_t(p.starSeed + 21)), rays(uint32_t(p.starSeed + 121));
        const int64_t count = int64_t(std::floor(double(nz) * p.starDensity / 10000.0));
        const double v = p.starColorDev / 100.0, S = p.starSize / 100.0 * 15.0;
        const double threshold = p.starRayRadius / 100.0 * S;
        const Rgb colour = colourOf(p.starColor, p.baseColor);
        Budget budget(count, int64_t(w) * h, nz);
        for (int64_t i = 0; i < count; ++i) {
            double x, y;
            if (!place(random, budget, x, y)) break;
            const double k = dimmed(y);
            const double radius = (sum3(random) + 0.2) * S * k;
            const double sigma = (0.2 + 0.8 * random.nextUnit()) * k;
            const Rgb c = deviated(colour, v, random);
            out.disc(x, y, radius, sigma, c);
            ++m_counts.stars;
            if (p.starUseRays && radius > threshold) {
                const double phi = rays.nextSigned() * 2 * kPi;
                const int n = int((rays.step() >> 15) & 6u) + 2;
                for (int r = 0; r < n; ++r) {
                    const double length = (0.6 + 0.4 * rays.nextUnit()) * (radius + 0.2) * 12;
                    const double angle = phi + 2 * kPi * r / n;
                    out.streak(0, x, y, x + length * std::cos(angle), y - length * std::sin(angle),
                               0.35 * radius, 0.2 * sigma, c);
                    ++m_counts.starRays;
                }
            }
            if ((i & 255) == 0 && context.cancelled()) return false;
        }
    }
    if (p.useShoots) {
        Common::cLcgRandom random(uint32_t(p.shootSeed + 31));
        const int64_t count = int64_t(std::floor(double(nz) * (p.shootDensity / 100.0 * 5.0) / 10000.0));
        const double v = p.shootColorDev / 100.0, S = p.shootSize / 100.0 + 2.0;
        const double E = (p.shootElongate / 100.0 + 1.0) * 150.0;
        const double alpha = (90.0 - p.shootAngle) * kPi / 180.0;
        const Rgb colour = colourOf(p.shootColor, p.baseColor);
        Budget budget(count, int64_t(w) * h, nz);
        for (int64_t i = 0; i < count; ++i) {
            double x, y;
            if (!place(random, budget, x, y)) break;
            const double k = dimmed(y);
            const double width = (sum3(random) + 0.4) * S * k;
            const double sigma = 0.6 + 0.4 * random.nextSigned();
            const double length = (0.8 + 0.2 * random.nextSigned()) * E * width * k;
            const Rgb c = deviated(colour, v, random);
            out.streak(1, x, y, x + length * std::cos(alpha), y - length * std::sin(alpha), width,
                       0.2 * sigma, c);
            ++m_counts.shootingStars;
            if (context.cancelled()) return false;
        }
    }
    if (p.useMeteors) {
        Common::cLcgRandom random(uint32_t(p.meteorSeed + 41));
        const int64_t count = int64_t(std::floor(double(nz) * 2.0 * p.meteorDensity / 100.0 / 10000.0));
        const double v = p.meteorColorDev / 100.0, S = p.meteorSize / 100.0 * 10.0;
        const double E = (p.meteorElongate / 100.0 + 1.0) * 120.0;
        const double alpha = (90.0 - p.meteorAngle) * kPi / 180.0;
        const Rgb colour = colourOf(p.meteorColor, p.baseColor);
        Budget budget(count, int64_t(w) * h, nz);
        for (int64_t i = 0; i < count; ++i) {
            double x, y;
            if (!place(random, budget, x, y)) break;
            const double k = dimmed(y);
            const double radius = (sum3(random) + 1.5) * S * k;
            const double sigma = (0.8 + 0.2 * random.nextSigned()) * 1.5;
            const double tail = random.nextSigned();
            const Rgb c = deviated(colour, v, random);
            out.disc(x, y, radius, sigma, c);
            const int n = int((random.step() >> 15) & 30u) + 12;
            const double phi = random.nextSigned() * 2 * kPi;
            for (int r = 0; r < n; ++r) {
                const double length = (0.2 + 0.8 * random.nextUnit()) * (radius + 0.2) * 20;
                const double angle = phi + 2 * kPi * r / n;
                out.streak(0, x, y, x + length * std::cos(angle), y - length * std::sin(angle), 0.3 * radius,
                           0.08 * sigma, c);
            }
            const double length = (0.8 + 0.2 * tail) * E * radius * k;
            out.streak(0, x, y, x + length * std::cos(alpha), y - length * std::sin(alpha), 0.57 * radius,
                       0.1 * sigma, c);
            ++m_counts.meteors;
            if (context.cancelled()) return false;
        }
    }
    m_counts.stamps = int64_t(m_stamps.size());
    for (const SkyStamp& s : m_stamps) m_counts.streakDiscs += s.kind == SkyStamp::Streak ? s.discs : 0;
    m_layerRect = rect;
    return true;
}

RunOutcome NightSkyRenderer::process(NightSkyParams& p, const PixelPlane& source, const MaskChannels& masks,
                                     PixelPlane& result, const RunContext& context) {
    p.clampForRun();
    const int32_t type = checkRgbaPlanes(source, result);
    const SizeI size = source.size();
    copySourceToResult(source, result);

    context.beginPhase(0.05, 1);
    const SkyZones zones = SkyZones::from(masks, size, context.maxWorkers);
    context.advance();
    if (zones.box.isEmpty() || zones.zonePixels == 0) return RunOutcome::Done;

    const bool nebulaHit = m_nebulaValid && m_nebulaSize == size && m_nebulaZones == zones.hash &&
                           m_nebulaKey.useNebulas == p.useNebulas && m_nebulaKey.sameNebulaKey(p);
    const bool elementHit = nebulaHit && m_elementsValid && m_elementSize == size &&
                            m_elementZones == zones.hash && tableEqual(m_elementKey, p);
    const double nebulaShare = nebulaHit ? 0.0 : 0.6, elementShare = elementHit ? 0.0 : 0.1;
    const double total = nebulaShare + elementShare + 0.25;

    if (!nebulaHit) {
        m_elementsValid = false;
        if (!buildNebula(p, zones, size, context, 0.95 * nebulaShare / total)) return RunOutcome::Cancelled;
        m_nebulaValid = true;
        m_nebulaKey = p;
        m_nebulaZones = zones.hash;
        m_nebulaSize = size;
        ++m_nebulaBuilds;
    }
    if (!elementHit) {
        context.beginPhase(0.95 * elementShare / total, 1);
        if (!buildElements(p, zones, size, context)) {
            m_elementsValid = false;
            return RunOutcome::Cancelled;
        }
        m_elementsValid = true;
        m_elementKey = p;
        m_elementZones = zones.hash;
        m_elementSize = size;
        ++m_elementBuilds;
        context.advance();
    }

    // Composition over the zones' box: each tile starts from the dimmed nebula, takes its stamps in
    // drawing order and is laid over the photograph with the zones' weights.
    const RectI Z = zones.box;
    const TileSpan span = tileSpan(size, Z);
    std::vector<std::vector<uint32_t>> perTile(span.count());
    auto addToTiles = [&](uint32_t index, double left, double top, double right, double bottom) {
        const int x0 = int(std::clamp(left, double(Z.left), double(Z.right)));
        const int x1 = int(std::clamp(right, double(Z.left), double(Z.right)));
        const int y0 = int(std::clamp(top, double(Z.top), double(Z.bottom)));
        const int y1 = int(std::clamp(bottom, double(Z.top), double(Z.bottom)));
        if (x0 >= x1 || y0 >= y1) return;
        for (int ty = y0 / int(TileSize); ty <= (y1 - 1) / int(TileSize); ++ty)
            for (int tx = x0 / int(TileSize); tx <= (x1 - 1) / int(TileSize); ++tx) {
                auto& list =
                    perTile[size_t(ty - int(span.firstY)) * span.countX + size_t(tx - int(span.firstX))];
                if (list.empty() || list.back() != index) list.push_back(index);
            }
    };
    for (size_t i = 0; i < m_stamps.size(); ++i) {
        const SkyStamp& s = m_stamps[i];
        if (s.kind != SkyStamp::Streak) {
            addToTiles(uint32_t(i), s.x0, s.y0, s.x1, s.y1);
            continue;
        }
        // A long streak goes only to the tiles along it: every 16th disc with room for the 15 after
        // it, whose centres lie within 16 x 0.7 pixels.
        constexpr int64_t kStride = 16;
        const double room = double(s.width) + kStride * 0.7 + 2.0;
        for (int64_t k = 0; k < s.discs; k += kStride) {
            const StreakDisc d = streakDisc(s, k, false);
            addToTiles(uint32_t(i), d.x - room, d.y - room, d.x + room, d.y + room);
        }
    }
    const bool nebula = p.useNebulas && !m_nebula.empty();
    const RectI nebulaArea = m_nebulaArea, dimRect = m_nebulaRect;
    const double D = p.baseDimming / 100.0;
    context.beginPhase(0.95 * 0.25 / total, int64_t(span.count()));

    dispatchSampleType(type, [&](auto sample) {
        using T = decltype(sample);
        forEachRgbaTile<T>(result, Z, context, [&](const RgbaTile<T>& tile) {
            const RectI& area = tile.area;
            const uint32_t tx = uint32_t(tile.x0) / TileSize - span.firstX,
                           ty = uint32_t(tile.y0) / TileSize - span.firstY;
            const std::vector<uint32_t>& stamps = perTile[size_t(ty) * span.countX + tx];
            const RectI fromNebula = nebula ? area.intersected(nebulaArea) : RectI{};
            if (stamps.empty() && fromNebula.isEmpty()) {
                context.advance();
                return;
            }
            // The tile's layer, premultiplied, 64 floats a row from the area's top-left pixel.
            std::array<float, TileSize * TileSize * 4> buffer;
            float* planes[4] = {buffer.data(), buffer.data() + TileSize * TileSize,
                                buffer.data() + 2 * TileSize * TileSize,
                                buffer.data() + 3 * TileSize * TileSize};
            for (float* plane : planes) std::fill_n(plane, TileSize * TileSize, 0.0f);
            for (int y = fromNebula.top; y < fromNebula.bottom; ++y) {
                float dim = 1.0f;
                if (D > 0 && y >= dimRect.top && y < dimRect.bottom) {
                    const double f = double(y - dimRect.top) / double(dimRect.height());
                    dim = float(1.0 - 0.7 * D * f * f);
                }
                const size_t from = size_t(y - nebulaArea.top) * size_t(nebulaArea.width()) +
                                    size_t(fromNebula.left - nebulaArea.left);
                const size_t to = size_t(y - area.top) * TileSize + size_t(fromNebula.left - area.left);
                if (m_nebulaUniform) {
                    const float* src = m_nebula.data() + from;
                    float* __restrict r = planes[0] + to;
                    float* __restrict g = planes[1] + to;
                    float* __restrict b = planes[2] + to;
                    float* __restrict al = planes[3] + to;
                    const float cr = m_nebulaColour[0], cg = m_nebulaColour[1], cb = m_nebulaColour[2];
                    for (int i = 0; i < fromNebula.width(); ++i) {
                        const float a = src[i] * dim;
                        r[i] = cr * a, g[i] = cg * a, b[i] = cb * a, al[i] = a;
                    }
                    continue;
                }
                const float* src = m_nebula.data() + 4 * from;
                for (int i = 0; i < fromNebula.width(); ++i)
                    for (int c = 0; c < 4; ++c) planes[c][to + size_t(i)] = src[4 * i + c] * dim;
            }
            for (uint32_t index : stamps) applyStamp(m_stamps[index], area, planes);
            for (int y = area.top; y < area.bottom; ++y) {
                T* red = tile.row(0, y);
                T* green = tile.row(1, y);
                T* blue = tile.row(2, y);
                T* alpha = tile.row(3, y);
                const uint8_t* weight =
                    zones.weights.data() + size_t(y - Z.top) * size_t(Z.width()) - size_t(Z.left);
                const int x0 = area.left;
                composeLayerRow<T>(planes, size_t(y - area.top) * TileSize, weight + x0, red + x0, green + x0,
                                   blue + x0, alpha ? alpha + x0 : nullptr, area.width());
            }
            context.advance();
        });
    });
    if (context.cancelled()) return RunOutcome::Cancelled;
    return RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
