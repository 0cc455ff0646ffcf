#include "document/filters/aurora/AuroraRenderer.h"

#include "document/filters/LayerComposition.h"
#include "document/filters/common/Bilinear.h"
#include "document/filters/common/BoxGaussian.h"
#include "document/filters/common/ColorSpaces.h"
#include "document/filters/common/Random.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <mutex>

namespace Orvex::Document::Filters {

using namespace DataStorage;

BlendFunction auroraBlendFunction(int blendMode) {
    switch (blendMode) {
    case 2:
        return BlendFunction::Multiply;
    case 3:
        return BlendFunction::Screen;
    case 4:
        return BlendFunction::Overlay;
    case 5:
        return BlendFunction::Lighten;
    case 6:
        return BlendFunction::SoftLight;
    case 7:
        return BlendFunction::HardLight;
    case 8:
        return BlendFunction::ColorDodge;
    case 9:
        return BlendFunction::Plus; // "Linear Dodge"
    case 10:
        return BlendFunction::PlusNoClip; // "Plus": the premultiplied sum
    default:
        return BlendFunction::Normal;
    }
}

namespace {

// Columns painted (and later normalised, lit) by one work item.
constexpr int kBandColumns = 16;
// More cells than this in the field of rays (a picture hundreds of times wider than high at the
// lowest rate) would take gigabytes; such a run fails with a message instead.
constexpr int64_t kMaxFieldCells = int64_t(1) << 26;

// Runs fn(i) for i = 0 ... count - 1, each worker taking the next index when it becomes free: a
// band of columns under a dense bundle of lines costs far more than one beside it. Every item writes
// only its own columns, so the split does not show in the results.
template <class Fn> void forEachItem(uint32_t count, int maxWorkers, Fn&& fn) {
    if (count == 0) return;
    std::atomic<uint32_t> next{0};
    MT::parallelFor(
        0, std::min<uint32_t>(count, 64),
        [&](uint32_t, uint32_t) {
            for (uint32_t i = next.fetch_add(1, std::memory_order_relaxed); i < count;
                 i = next.fetch_add(1, std::memory_order_relaxed))
                fn(i);
        },
        1, maxWorkers > 0 ? uint32_t(maxWorkers) : 0u);
}

// The bands of kBandColumns columns over a box; fn(x0, x1) for each, then cancel is polled.
template <class Fn> bool forEachBand(const RectI& box, const RunContext& context, Fn&& fn) {
    const uint32_t bands = uint32_t((box.width() + kBandColumns - 1) / kBandColumns);
    forEachItem(bands, context.maxWorkers, [&](uint32_t b) {
        if (context.cancelled()) return;
        const int x0 = box.left + int(b) * kBandColumns;
        fn(x0, std::min(box.right, x0 + kBandColumns));
        context.advance();
    });
    return !context.cancelled();
}

// The visited points of a segment: x(i) = x1 + (i (x2 - x1)) / n, likewise y, for i = 0 ... n - 1
// with n = max(|x2 - x1|, |y2 - y1|), the division truncating towards zero. Both coordinates are
// monotonic in i, so the points inside any band of columns or rows are one run of indices.
struct SegmentPoints {
    int64_t x1 = 0, y1 = 0, dx = 0, dy = 0, n = 0;
    explicit SegmentPoints(const Segment& s)
        : x1(s.x1), y1(s.y1), dx(int64_t(s.x2) - s.x1), dy(int64_t(s.y2) - s.y1),
          n(std::max(std::abs(dx), std::abs(dy))) {}
    // i and the differences reach 2^32 each: their product needs more than 64 bits.
    int64_t x(int64_t i) const { return x1 + int64_t((__int128(i) * dx) / n); }
    int64_t y(int64_t i) const { return y1 + int64_t((__int128(i) * dy) / n); }
};

// The indices of [lo, hi) whose value f(i) lies in [lower, upper), for f monotonic in i (rising
// when `rising`), found by bisection.
template <class F>
std::pair<int64_t, int64_t> indicesWithin(int64_t lo, int64_t hi, F&& f, bool rising, int64_t lower,
                                          int64_t upper) {
    auto first = [&](auto&& holds) {
        int64_t a = lo, b = hi;
        while (a < b) {
            const int64_t mid = a + (b - a) / 2;
            if (holds(mid))
                b = mid;
            else
                a = mid + 1;
        }
        return a;
    };
    if (rising)
        return {first([&](int64_t i) { return f(i) >= lower; }),
                first([&](int64_t i) { return f(i) >= upper; })};
    return {first([&](int64_t i) { return f(i) < upper; }), first([&](int64_t i) { return f(i) < lower; })};
}

// The points of one segment that can paint (inside the image's columns, and not so low or high
// that their curtain misses every row), with the generator's state before their first draw.
struct CurtainRun {
    SegmentPoints points;
    int64_t first = 0, last = 0;
    uint32_t state = 0;
    int64_t xMin = 0, xMax = 0, yMin = 0, yMax = 0;
};

struct CurtainShape {
    double lengthPixels = 0; // Lh
    double offset = 0;       // d
    double fraction[3] = {}; // R', G', B'
    float bellScale = 0;     // q / m^2: t = -bellScale (p - c)^2
    bool inverted = false;
};

// The piecewise approximation of e^t for t <= 0 that shapes the colour bands.
inline float bell(float t) {
    if (t > -1.0f) return 1.0f + 0.9664f * t + 0.3536f * t * t;
    if (t > -2.4938f) return 0.6464f + 0.2592f * t;
    return 0.0f;
}

// Paints the curtain of one point into its column (pointers at the box's top row) and returns the
// number of pixels painted.
int64_t paintCurtain(const CurtainShape& s, int64_t y, double h, double u2, int boxTop, int imageHeight,
                     float* red, float* green, float* blue, float* coverage) {
    const double top = std::max(0.0, std::round(double(y) - h));
    if (top > double(y)) return 0;
    const int itop = int(top), iy = int(y);
    // Rows k = 0 ... iy - itop: profile row p = itop + k, mirrored row v = iy - k; the destination is
    // p, or v when inverted, and must lie above the image's bottom.
    int kFirst = 0, kLast = iy - itop;
    if (s.inverted)
        kFirst = std::max(kFirst, iy - (imageHeight - 1));
    else
        kLast = std::min(kLast, imageHeight - 1 - itop);
    if (kFirst > kLast) return 0;

    const double R = s.fraction[0], G = s.fraction[1], B = s.fraction[2];
    const float cr = float(double(y) - R / 2 * h), cg = float(double(y) - (R + G / 2) * h),
                cb = float(double(y) - (R + G + B / 2) * h);
    const float d = float(s.offset), q = s.bellScale;
    const float fr = float(R), fg = float(G), fb = float(B);
    const float inverseH = float(1.0 / h), brightness = float(0.5 + 0.5 * u2);
    const int span = iy - itop;
    int64_t painted = 0;
    for (int k = kFirst; k <= kLast; ++k) {
        const float p = float(itop + k);
        auto at = [&](float c) {
            const float e = p - c;
            return bell(-q * e * e);
        };
        const float wb = at(cb) * fb;
        const float wg1 = at(cg + 4 * d) * fg, wg2 = at(cg - 4 * d) * fg;
        const float wr1 = at(cr - d) * fr, wr2 = at(cr + d) * fr;
        const float sum = wb + wg1 + wg2 + wr1 + wr2;
        if (!(sum > 0.0f)) continue;
        const float f = std::min(1.0f, (1.0f - float(span - k) * inverseH) * brightness);
        if (!(f > 0.0f)) continue;
        const float inverseSum = 1.0f / sum;
        const float r = (0.13089919f * wb + 0.15731649f * wg1 + wr1 + wr2) * inverseSum;
        const float g = (0.8660887f * wg1 + wg2) * inverseSum;
        const float b = 0.87919605f * wb * inverseSum;
        const size_t i = size_t((s.inverted ? iy - k : itop + k) - boxTop);
        const float a = coverage[i];
        const float mix = 1.0f / (a + f);
        red[i] = (red[i] * a + r * f) * mix;
        green[i] = (green[i] * a + g * f) * mix;
        blue[i] = (blue[i] * a + b * f) * mix;
        coverage[i] = a + (1.0f - a) * f;
        ++painted;
    }
    return painted;
}

// How far the three passes of the box-mixture blur reach along an axis, plus one sample.
int blurReach(double sigma) {
    Common::BoxMixture mixture;
    if (!Common::BoxMixture::forSigma(sigma, 3, mixture)) return 0;
    return 3 * (mixture.width / 2) + 1;
}

// One of the two resampling passes of the warp: the source position of a destination pixel.
struct WarpPass {
    double g = 0;
    double centreRow = 0, centreColumn = 0;
    double row[3] = {}, column[3] = {}; // coefficients of (dy^e, dx dy, dx^e)
    int exponent = 2;

    // The source positions of rows [r0, r1) of column c, limited to the picture as Bilinear.h
    // limits them: row = r + g (row0 dy^e + row1 dx dy + row2 dx^e), column likewise.
    void positions(int c, int r0, int r1, SizeI size, float* rows, float* columns) const {
        const bool full = r1 - r0 == kRun;
        if (exponent == 2)
            full ? positionsOf<2, kRun>(c, r0, r1, size, rows, columns)
                 : positionsOf<2, 0>(c, r0, r1, size, rows, columns);
        else
            full ? positionsOf<1, kRun>(c, r0, r1, size, rows, columns)
                 : positionsOf<1, 0>(c, r0, r1, size, rows, columns);
    }

    // Rows of a column whose positions are computed at once.
    static constexpr int kRun = 256;

private:
    // Single precision is ample (a few ten-thousandths of a pixel at the largest displacements)
    // and lets the loop run on vector lanes (a full run's length is known at compile time).
    template <int E, int Fixed>
    void positionsOf(int c, int r0, int r1, SizeI size, float* __restrict rows,
                     float* __restrict columns) const {
        const double dx = c - centreColumn, ex = E == 2 ? dx * dx : dx;
        const float rowA = float(g * row[0]), rowB = float(g * row[1] * dx), rowC = float(g * row[2] * ex);
        const float colA = float(g * column[0]), colB = float(g * column[1] * dx),
                    colC = float(double(c) + g * column[2] * ex);
        const float rowLimit = std::max(0.0f, float(size.height) - 1.01f);
        const float columnLimit = std::max(0.0f, float(size.width) - 1.01f);
        const float centre = float(centreRow);
        const int n = Fixed > 0 ? Fixed : r1 - r0;
        const float first = float(r0);
        for (int i = 0; i < n; ++i) {
            const float r = first + float(i), dy = r - centre, ey = E == 2 ? dy * dy : dy;
            const float sr = r + (rowA * ey + rowB * dy + rowC);
            const float sc = colA * ey + colB * dy + colC;
            // Negative and NaN positions go to 0.
            rows[i] = sr > 0.0f ? std::min(sr, rowLimit) : 0.0f;
            columns[i] = sc > 0.0f ? std::min(sc, columnLimit) : 0.0f;
        }
    }
};

constexpr int kWarpRun = WarpPass::kRun;

// Bilinear sampling of N box planes at a position already limited to the picture (Bilinear.h's
// rule), the weights and offsets found once for all of them; samples outside the box are 0.
template <int N>
inline void sampleBoxed(const float* const (&planes)[N], const RectI& box, size_t stride, int width,
                        int height, float x, float y, float (&out)[N]) {
    const int ix = int(x), iy = int(y);
    const float fx = x - float(ix), fy = y - float(iy);
    if (ix >= box.left && ix + 1 < box.right && iy >= box.top && iy + 1 < box.bottom) {
        const size_t at = size_t(ix - box.left) * stride + size_t(iy - box.top);
        for (int k = 0; k < N; ++k) {
            const float* p = planes[k] + at;
            const float topRow = p[0] + fx * (p[stride] - p[0]);
            const float bottomRow = p[1] + fx * (p[stride + 1] - p[1]);
            out[k] = topRow + fy * (bottomRow - topRow);
        }
        return;
    }
    const int ix1 = std::min(ix + 1, width - 1), iy1 = std::min(iy + 1, height - 1);
    if (ix1 < box.left || ix >= box.right || iy1 < box.top || iy >= box.bottom) {
        for (float& v : out) v = 0.0f;
        return;
    }
    auto inside = [&](int tx, int ty) {
        return tx >= box.left && tx < box.right && ty >= box.top && ty < box.bottom;
    };
    auto offset = [&](int tx, int ty) { return size_t(tx - box.left) * stride + size_t(ty - box.top); };
    for (int k = 0; k < N; ++k) {
        auto tap = [&](int tx, int ty) { return inside(tx, ty) ? planes[k][offset(tx, ty)] : 0.0f; };
        const float t0 = tap(ix, iy), t1 = tap(ix1, iy), b0 = tap(ix, iy1), b1 = tap(ix1, iy1);
        const float topRow = t0 + fx * (t1 - t0);
        const float bottomRow = b0 + fx * (b1 - b0);
        out[k] = topRow + fy * (bottomRow - topRow);
    }
}

// The destination pixels whose sample can reach the box: their bounding rectangle.
RectI warpedBox(const WarpPass& pass, const RectI& box, SizeI size, const RunContext& context) {
    std::mutex merge;
    RectI bounds{size.width, size.height, 0, 0};
    forEachBand(RectI::fromSize(size), context, [&](int x0, int x1) {
        RectI local{size.width, size.height, 0, 0};
        float rows[kWarpRun], columns[kWarpRun];
        for (int c = x0; c < x1; ++c)
            for (int r0 = 0; r0 < size.height; r0 += kWarpRun) {
                const int r1 = std::min(size.height, r0 + kWarpRun);
                pass.positions(c, r0, r1, size, rows, columns);
                for (int r = r0; r < r1; ++r) {
                    const int ix = int(columns[r - r0]), iy = int(rows[r - r0]);
                    if (ix + 1 < box.left || ix >= box.right || iy + 1 < box.top || iy >= box.bottom)
                        continue;
                    local.left = std::min(local.left, c), local.right = std::max(local.right, c + 1);
                    local.top = std::min(local.top, r), local.bottom = std::max(local.bottom, r + 1);
                }
            }
        if (local.isEmpty()) return;
        std::lock_guard<std::mutex> lock(merge);
        bounds.left = std::min(bounds.left, local.left), bounds.right = std::max(bounds.right, local.right);
        bounds.top = std::min(bounds.top, local.top), bounds.bottom = std::max(bounds.bottom, local.bottom);
    });
    return bounds.isEmpty() ? RectI{} : bounds;
}

// Resamples N planes `from` (over `fromBox`) into `to` (over `toBox`, every sample written), with
// one position per pixel for all of them.
template <int N>
bool resample(const WarpPass& pass, const float* const (&from)[N], const RectI& fromBox,
              float* const (&to)[N], const RectI& toBox, SizeI size, const RunContext& context) {
    const size_t fromStride = size_t(fromBox.height()), toStride = size_t(toBox.height());
    return forEachBand(toBox, context, [&](int x0, int x1) {
        float rows[kWarpRun], columns[kWarpRun];
        for (int c = x0; c < x1; ++c) {
            const size_t column = size_t(c - toBox.left) * toStride - size_t(toBox.top);
            for (int r0 = toBox.top; r0 < toBox.bottom; r0 += kWarpRun) {
                const int r1 = std::min(toBox.bottom, r0 + kWarpRun);
                pass.positions(c, r0, r1, size, rows, columns);
                const int n = r1 - r0;
                // A run whose every footprint lies inside the box needs no test per sample.
                float lowX = columns[0], highX = columns[0], lowY = rows[0], highY = rows[0];
                for (int i = 1; i < n; ++i) {
                    lowX = std::min(lowX, columns[i]), highX = std::max(highX, columns[i]);
                    lowY = std::min(lowY, rows[i]), highY = std::max(highY, rows[i]);
                }
                if (int(lowX) >= fromBox.left && int(highX) + 1 < fromBox.right && int(lowY) >= fromBox.top &&
                    int(highY) + 1 < fromBox.bottom) {
                    const float* origin[N];
                    for (int k = 0; k < N; ++k)
                        origin[k] = from[k] - size_t(fromBox.left) * fromStride - size_t(fromBox.top);
                    for (int i = 0; i < n; ++i) {
                        const int ix = int(columns[i]), iy = int(rows[i]);
                        const float fx = columns[i] - float(ix), fy = rows[i] - float(iy);
                        const size_t at = size_t(ix) * fromStride + size_t(iy);
                        for (int k = 0; k < N; ++k) {
                            const float* p = origin[k] + at;
                            const float topRow = p[0] + fx * (p[fromStride] - p[0]);
                            const float bottomRow = p[1] + fx * (p[fromStride + 1] - p[1]);
                            to[k][column + size_t(r0 + i)] = topRow + fy * (bottomRow - topRow);
                        }
                    }
                    continue;
                }
                for (int r = r0; r < r1; ++r) {
                    float values[N];
                    sampleBoxed(from, fromBox, fromStride, size.width, size.height, columns[r - r0],
                                rows[r - r0], values);
                    for (int k = 0; k < N; ++k) to[k][column + size_t(r)] = values[k];
                }
            }
        }
    });
}

// Progress within the painting: each stage's weight, normalised by their sum, of `share`.
struct PaintProgress {
    const RunContext& context;
    double share = 0;
    double total = 0;
    void begin(double weight, int64_t steps) const { context.beginPhase(share * weight / total, steps); }
};

} // namespace

bool AuroraRenderer::sameKey(const AuroraParams& p, SizeI size) const {
    if (!m_keyValid || m_keySize != size || m_layerRect.isEmpty()) return false;
    AuroraParams probe = p;
    probe.opacity = 100;
    probe.blendMode = 0;
    probe.maskRevision = m_key.maskRevision; // the selection only limits the composition
    return probe.unchangedFrom(m_key);
}

AuroraRenderer::Painted AuroraRenderer::paint(const AuroraParams& p, SizeI size, const RunContext& context) {
    const int W = size.width, H = size.height;
    const double m = std::min(W, H) / 2000.0;
    const bool soft = p.sigmaX > 0 || p.sigmaY > 0;
    const bool warp = p.geometry > 0;
    PaintProgress progress{context, 0.8, 1.0 + (soft ? 0.5 : 0.0) + (warp ? 1.0 : 0.0) + 0.2};

    // The field of rays first: it is small, and a picture too odd for it fails before any work.
    const double rho = p.rate * m;
    const double sigmaGlow = p.glowSigmaX / 100.0 * 15.0;
    const int margin = int(std::round(2.0 * sigmaGlow));
    const double cellsX = std::max(10.0, std::round(W / rho)), cellsY = std::max(10.0, std::round(H / rho));
    if ((margin + cellsX) * (cellsY + 40) > double(kMaxFieldCells))
        throw std::invalid_argument("The picture is too narrow for the aurora's rays at this rate");
    const int cx = int(cellsX), cy = int(cellsY);
    const int fieldWidth = margin + cx, fieldHeight = cy + 40;

    // Curtains. Which points paint, and the generator's state before each segment's first such point.
    CurtainShape shape;
    shape.lengthPixels = p.length / 100.0 * H;
    shape.offset = 0.02 * shape.lengthPixels;
    const double sum = std::max(1, p.red + p.green + p.blue);
    shape.fraction[0] = p.red / sum, shape.fraction[1] = p.green / sum, shape.fraction[2] = p.blue / sum;
    shape.bellScale = float(std::pow(10.0, -(4.0 + 2.0 * p.colorMix / 100.0)) / (m * m));
    shape.inverted = p.colorInversion;
    // A point lower than this has a curtain wholly below the picture.
    const int64_t rowLimit = int64_t(H) + int64_t(std::ceil(shape.lengthPixels)) + 1;

    std::vector<CurtainRun> runs;
    Common::cLcgRandom random(101);
    int64_t left = INT64_MAX, right = INT64_MIN, top = INT64_MAX, bottom = INT64_MIN;
    for (const Segment& s : p.lines) {
        if (s.x1 == s.x2 && s.y1 == s.y2) continue;
        CurtainRun run{SegmentPoints(s)};
        const SegmentPoints& pts = run.points;
        const auto [inFirst, inLast] = indicesWithin(
            0, pts.n, [&](int64_t i) { return pts.x(i); }, pts.dx >= 0, 0, W);
        const auto [first, last] = indicesWithin(
            inFirst, inLast, [&](int64_t i) { return pts.y(i); }, pts.dy >= 0, 0, rowLimit);
        if (first < last) {
            Common::cLcgRandom at = random;
            at.skip(uint64_t(2 * (first - inFirst)));
            run.first = first, run.last = last, run.state = at.state();
            run.xMin = std::min(pts.x(first), pts.x(last - 1)),
            run.xMax = std::max(pts.x(first), pts.x(last - 1));
            run.yMin = std::min(pts.y(first), pts.y(last - 1)),
            run.yMax = std::max(pts.y(first), pts.y(last - 1));
            left = std::min(left, run.xMin), right = std::max(right, run.xMax + 1);
            top = std::min(top, run.yMin), bottom = std::max(bottom, run.yMax + 1);
            runs.push_back(run);
        }
        // Every point inside the picture's columns draws twice, painting or not.
        random.skip(uint64_t(2 * (inLast - inFirst)));
    }
    if (runs.empty()) return Painted::Nothing;

    // The box: the columns of the points, the rows their curtains may reach, grown by the blur.
    const double sigmaX = p.sigmaX * m, sigmaY = 2.0 * p.sigmaY * m;
    const int reachX = soft ? blurReach(sigmaX) : 0, reachY = soft ? blurReach(sigmaY) : 0;
    const int64_t highest = std::max<int64_t>(0, int64_t(std::floor(double(top) - shape.lengthPixels)) - 1);
    RectI box{int(std::max<int64_t>(0, left - reachX)), int(std::max<int64_t>(0, highest - reachY)),
              int(std::min<int64_t>(W, right + reachX)), int(std::min<int64_t>(H, bottom + reachY))};
    if (box.isEmpty()) return Painted::Nothing;
    AuroraPlanes& planes = m_planes;
    planes.box = box;
    const size_t pixels = size_t(box.width()) * planes.stride();
    for (auto* plane : {&planes.red, &planes.green, &planes.blue, &planes.coverage}) {
        plane->clear();
        plane->resize(pixels); // zeroed band by band below, by the worker that paints the band
    }

    // Each band of columns takes the points that fall into it, segment by segment in list order,
    // with the draws a serial walk would give them; then its coverage becomes the mark (1 where
    // anything was painted), the weight that the soft edges blur along with the colours.
    std::atomic<int64_t> paintedTotal{0};
    const size_t stride = planes.stride();
    progress.begin(1.0, (box.width() + kBandColumns - 1) / kBandColumns);
    if (!forEachBand(box, context, [&](int x0, int x1) {
            const size_t begin = size_t(x0 - box.left) * stride, count = size_t(x1 - x0) * stride;
            for (auto* plane : {&planes.red, &planes.green, &planes.blue, &planes.coverage})
                std::fill_n(plane->data() + begin, count, 0.0f);
            int64_t painted = 0;
            for (const CurtainRun& run : runs) {
                if (run.xMax < x0 || run.xMin >= x1) continue;
                const SegmentPoints& pts = run.points;
                const auto [first, last] = indicesWithin(
                    run.first, run.last, [&](int64_t i) { return pts.x(i); }, pts.dx >= 0, x0, x1);
                Common::cLcgRandom draws(run.state);
                draws.skip(uint64_t(2 * (first - run.first)));
                for (int64_t i = first; i < last; ++i) {
                    const double u1 = draws.nextUnit();
                    const double u2 = draws.nextUnit();
                    const double h = (0.3 + 0.7 * u1) * shape.lengthPixels;
                    const size_t column = planes.at(int(pts.x(i)), box.top);
                    painted += paintCurtain(shape, pts.y(i), h, u2, box.top, H, planes.red.data() + column,
                                            planes.green.data() + column, planes.blue.data() + column,
                                            planes.coverage.data() + column);
                }
            }
            float* mark = planes.coverage.data() + begin;
            for (size_t i = 0; i < count; ++i) mark[i] = mark[i] > 0.0f ? 1.0f : 0.0f;
            paintedTotal += painted;
        }))
        return Painted::Cancelled;
    m_paintedPixels = paintedTotal.load();
    if (m_paintedPixels == 0) return Painted::Nothing;

    // Soft edges: colours and mark blurred alike (the planes are stored by column, so the image's
    // rows are the blur's columns).
    if (soft) {
        progress.begin(0.5, 4);
        for (auto* plane : {&planes.red, &planes.green, &planes.blue, &planes.coverage}) {
            Common::boxGaussianBlur(plane->data(), int(stride), box.width(), sigmaY, sigmaX);
            context.advance();
            if (context.cancelled()) return Painted::Cancelled;
        }
    }
    // Normalise: the colours divided by the blurred mark, which becomes the layer's alpha.
    const RunContext quiet{context.cancelFlag, nullptr, context.mode, context.maxWorkers};
    forEachBand(box, quiet, [&](int x0, int x1) {
        const size_t begin = size_t(x0 - box.left) * stride, count = size_t(x1 - x0) * stride;
        float* r = planes.red.data() + begin;
        float* g = planes.green.data() + begin;
        float* b = planes.blue.data() + begin;
        const float* w = planes.coverage.data() + begin;
        for (size_t i = 0; i < count; ++i) {
            if (!(w[i] > 0.00001f)) continue;
            const float inverse = 1.0f / w[i];
            r[i] = std::clamp(r[i] * inverse, 0.0f, 1.0f);
            g[i] = std::clamp(g[i] * inverse, 0.0f, 1.0f);
            b[i] = std::clamp(b[i] * inverse, 0.0f, 1.0f);
        }
    });
    if (context.cancelled()) return Painted::Cancelled;

    // Warp: two resampling passes through fixed polynomials about fixed centres.
    if (warp) {
        WarpPass first, second;
        first.g = second.g = p.geometry * 2.5 / 100.0 / 10000.0;
        first.centreRow = 28615 % H, first.centreColumn = 30923 % W;
        first.row[0] = 0.16623437, first.row[1] = -0.24527729, first.row[2] = 0.95702994;
        first.column[0] = -0.48881495, first.column[1] = 0.38633382, first.column[2] = -0.97735524;
        second.centreRow = 14934 % H, second.centreColumn = 23146 % W, second.exponent = 1;
        second.row[0] = 0.027741313, second.row[1] = 0.89727473, second.row[2] = 0.9893795;
        second.column[0] = 0.43650627, second.column[1] = 0.59312725, second.column[2] = 0.43217266;
        const RectI middle = warpedBox(first, box, size, quiet);
        const RectI last = middle.isEmpty() ? RectI{} : warpedBox(second, middle, size, quiet);
        if (context.cancelled()) return Painted::Cancelled;
        if (last.isEmpty()) return Painted::Nothing;
        auto bands = [](const RectI& r) { return int64_t((r.width() + kBandColumns - 1) / kBandColumns); };
        progress.begin(1.0, 2 * (bands(middle) + bands(last)));
        // Two planes at a time: they share the positions, and the intermediate planes of two
        // cost less memory than those of four. The intermediate planes go when the warp is done, so
        // that they never sit beside the layer.
        const size_t middlePixels = size_t(middle.width()) * size_t(middle.height());
        Common::UninitializedHugePageVector<float> spare(2 * middlePixels);
        float* const spares[2] = {spare.data(), spare.data() + middlePixels};
        using Plane = Common::UninitializedHugePageVector<float>;
        for (const auto& pair : {std::array<Plane*, 2>{&planes.red, &planes.green},
                                 std::array<Plane*, 2>{&planes.blue, &planes.coverage}}) {
            const float* const sources[2] = {pair[0]->data(), pair[1]->data()};
            if (!resample<2>(first, sources, box, spares, middle, size, context)) return Painted::Cancelled;
            for (Plane* plane : pair) {
                plane->clear();
                plane->resize(size_t(last.width()) * size_t(last.height()));
            }
            float* const targets[2] = {pair[0]->data(), pair[1]->data()};
            const float* const middles[2] = {spares[0], spares[1]};
            if (!resample<2>(second, middles, middle, targets, last, size, context))
                return Painted::Cancelled;
        }
        planes.box = box = last;
    }

    // The field of rays: random values, blurred far more along the curtains than across them.
    std::vector<float> field(size_t(fieldWidth) * size_t(fieldHeight));
    {
        progress.begin(0.2 * 0.1, 1);
        Common::cLcgRandom fieldRandom(103);
        const double spread = p.glow / 100.0 * 40.0, base = p.brightness / 100.0 + 1.0;
        for (float& v : field) v = float((2.0 * fieldRandom.nextUnit() - 1.0) * spread + base);
        context.advance();
        progress.begin(0.2 * 0.7, 1);
        Common::boxGaussianBlur(field.data(), fieldWidth, fieldHeight, sigmaGlow, 20.0);
        context.advance();
        if (context.cancelled()) return Painted::Cancelled;
    }

    // Lightness: each pixel with any coverage has its L* scaled by the field's factor there.
    const Common::cLightnessScaler& scaler = Common::cLightnessScaler::instance();
    std::mutex merge;
    RectI bounds{W, H, 0, 0};
    // The field's row position of every row of the box, the same in every column.
    std::vector<float> fieldRows(static_cast<size_t>(box.height()));
    for (int i = 0; i < box.height(); ++i)
        fieldRows[size_t(i)] =
            Common::clampSamplePosition(float(double(box.top + i) * cy / H + 40.0), fieldHeight);
    progress.begin(0.2 * 0.2, (box.width() + kBandColumns - 1) / kBandColumns);
    if (!forEachBand(box, context, [&](int x0, int x1) {
            std::vector<float> columnField(static_cast<size_t>(fieldHeight));
            RectI local{W, H, 0, 0};
            for (int c = x0; c < x1; ++c) {
                // The field's column at this image column, interpolated once for all its rows.
                const float fc = Common::clampSamplePosition(float(double(c) * cx / W + margin), fieldWidth);
                const int ix = int(fc), ix1 = std::min(ix + 1, fieldWidth - 1);
                const float fx = fc - float(ix);
                for (int fr = 0; fr < fieldHeight; ++fr) {
                    const float* row = field.data() + size_t(fr) * size_t(fieldWidth);
                    columnField[size_t(fr)] = row[ix] + fx * (row[ix1] - row[ix]);
                }
                const size_t base = planes.at(c, box.top);
                float* r = planes.red.data() + base;
                float* g = planes.green.data() + base;
                float* b = planes.blue.data() + base;
                const float* w = planes.coverage.data() + base;
                int firstRow = -1, lastRow = -1;
                for (int i = 0; i < box.height(); ++i) {
                    if (w[i] == 0.0f) continue;
                    const int row = box.top + i;
                    const float fr = fieldRows[size_t(i)];
                    const int iy = int(fr), iy1 = std::min(iy + 1, fieldHeight - 1);
                    const float upper = columnField[size_t(iy)], lower = columnField[size_t(iy1)];
                    float k = upper + (fr - float(iy)) * (lower - upper);
                    if (k < 1.0f) k = (3.0f - k) / (4.0f - 2.0f * k);
                    scaler.scale(r[i], g[i], b[i], k);
                    if (firstRow < 0) firstRow = row;
                    lastRow = row;
                }
                if (firstRow < 0) continue;
                local.left = std::min(local.left, c), local.right = std::max(local.right, c + 1);
                local.top = std::min(local.top, firstRow), local.bottom = std::max(local.bottom, lastRow + 1);
            }
            if (local.isEmpty()) return;
            std::lock_guard<std::mutex> lock(merge);
            bounds.left = std::min(bounds.left, local.left),
            bounds.right = std::max(bounds.right, local.right);
            bounds.top = std::min(bounds.top, local.top),
            bounds.bottom = std::max(bounds.bottom, local.bottom);
        }))
        return Painted::Cancelled;
    m_layerRect = bounds.isEmpty() ? RectI{} : bounds;
    return m_layerRect.isEmpty() ? Painted::Nothing : Painted::Something;
}

RunOutcome AuroraRenderer::process(AuroraParams& p, const PixelPlane& source, const MaskChannels& masks,
                                   PixelPlane& result, const RunContext& context) {
    p.clampForRun();
    checkRgbaPlanes(source, result);
    copySourceToResult(source, result);
    const SizeI size = source.size();
    if (p.lines.empty() || size.isEmpty()) return RunOutcome::Done;

    const bool repaint = !sameKey(p, size);
    if (repaint) {
        const RectI keptRect = m_layerRect;
        const Painted painted = paint(p, size, context);
        if (painted == Painted::Cancelled) {
            m_layerRect = keptRect; // the cached layer and its key stay as they were
            p.opacity = -1;         // the next run paints
            return RunOutcome::Cancelled;
        }
        if (painted == Painted::Nothing) {
            m_keyValid = false;
            m_layer = Ref<PixelPlane>();
            m_layerRect = {};
            return RunOutcome::Done;
        }

        // The layer: 16-bit samples of every tile that meets the rectangle (zeros outside it). A
        // layer of the same size is written over, its tiles' memory reused; the tiles that only
        // the previous rectangle reached go back to zero.
        m_keyValid = false;
        const bool reused = m_layer && m_layer->size() == size;
        Ref<PixelPlane> layer = reused ? m_layer : Ref<PixelPlane>(new PixelPlane(MaskRGBA, TypeU16, size));
        m_layer = Ref<PixelPlane>();
        const RectI rect = m_layerRect;
        const AuroraPlanes& planes = m_planes;
        context.beginPhase(0.1, int64_t(tileSpan(size, rect).count()));
        Ref<DataChannel> channels[4] = {
            layer->writableChannel(ChannelRed), layer->writableChannel(ChannelGreen),
            layer->writableChannel(ChannelBlue), layer->writableChannel(ChannelAlpha)};
        if (reused && !keptRect.isEmpty()) {
            const uint16_t zero = 0;
            forEachTile(size, keptRect, [&](uint32_t tileNum, const RectI&) {
                const RectI whole = channels[0]->tileRect(tileNum);
                if (!whole.intersected(rect).isEmpty()) return;
                for (const Ref<DataChannel>& channel : channels) channel->fill(whole, &zero);
            });
        }
        const float* buffers[4] = {planes.red.data(), planes.green.data(), planes.blue.data(),
                                   planes.coverage.data()};
        parallelForTiles(
            size, rect,
            [&](uint32_t tileNum, const RectI&) {
                if (context.cancelled()) return;
                const RectI whole = channels[0]->tileRect(tileNum);
                const RectI inside = whole.intersected(rect);
                for (int c = 0; c < 4; ++c) {
                    TileReadWrite cursor(*channels[c]);
                    cursor.switchTo(tileNum, TileReadWrite::Overwrite);
                    uint16_t* samples = cursor.row<uint16_t>(0);
                    if (inside != whole) std::fill_n(samples, size_t(TileSize) * TileSize, uint16_t(0));
                    // Down the planes' columns (contiguous), across the tile's rows.
                    for (int x = inside.left; x < inside.right; ++x) {
                        const float* column = buffers[c] + planes.at(x, inside.top);
                        uint16_t* out =
                            samples + size_t(inside.top - whole.top) * TileSize + size_t(x - whole.left);
                        for (int y = 0; y < inside.height(); ++y) {
                            const float v = std::clamp(column[y], 0.0f, 1.0f);
                            out[size_t(y) * TileSize] = uint16_t(int(v * 65535.0f + 0.5f));
                        }
                    }
                }
                context.advance();
            },
            context.maxWorkers > 0 ? uint32_t(context.maxWorkers) : 0u);
        if (context.cancelled()) {
            m_layerRect = {};
            p.opacity = -1;
            return RunOutcome::Cancelled;
        }
        m_layer = layer;
        m_key = p;
        m_key.opacity = 100;
        m_key.blendMode = 0;
        m_keySize = size;
        m_keyValid = true;
        ++m_paintings;
    }

    // Compose; a selection with anything selected limits where the curtains show.
    context.beginPhase(repaint ? 0.1 : 1.0, 1);
    const DataChannel* selection = nullptr;
    if (masks.mask && !maskBounds(masks.mask, context.maxWorkers).isEmpty()) selection = masks.mask;
    composeLayer(result, *m_layer, m_layerRect, auroraBlendFunction(p.blendMode), float(p.opacity / 100.0),
                 selection);
    context.advance();
    if (context.cancelled()) {
        p.opacity = -1;
        return RunOutcome::Cancelled;
    }
    return RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
