#include "document/filters/fire/FireFlames.h"

#include "document/filters/common/BoxGaussian.h"
#include "document/filters/common/Random.h"
#include "document/filters/common/RecursiveGaussian.h"
#include "mt/JobsPool.h"

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORVEX_FIRE_X86 1
#endif

namespace Orvex::Document::Filters {

using Common::cLcgRandom;

FireGeometry FireGeometry::forImage(int width, int height) {
    FireGeometry g;
    g.imageWidth = std::max(0, width);
    g.imageHeight = std::max(0, height);
    const double s = std::max(g.imageWidth, g.imageHeight) / 500.0;
    if (s > 1.0) {
        g.scale = s;
        g.gridWidth = std::max(1, int(std::round(g.imageWidth / s)));
        g.gridHeight = std::max(1, int(std::round(g.imageHeight / s)));
    } else {
        g.scale = 1.0;
        g.gridWidth = g.imageWidth;
        g.gridHeight = g.imageHeight;
    }
    g.canvasFactor = std::min(g.scale, 2.0);
    g.canvasWidth = std::max(1, int(std::round(g.imageWidth / g.canvasFactor)));
    g.canvasHeight = std::max(1, int(std::round(g.imageHeight / g.canvasFactor)));
    g.canvasToGrid = g.scale / g.canvasFactor;
    return g;
}

int64_t fireTongueCount(int64_t selectedCells, int flames, const FireGeometry& g) {
    // Tongue sizes, sway and blurs are measured in grid cells, and the grid keeps its size for
    // every image above 500 pixels; so the look stays the same only when the number of tongues per
    // grid cell does too. Counting the selected cells as image pixels (times s squared) would put
    // twelve times as many tongues into the same grid at 12 megapixels as at one, and fill the
    // selection with a flat sheet of flame.
    const double s = std::min(g.scale, 1.0);
    return std::max<int64_t>(1, int64_t(double(selectedCells) * flames * s * 0.00005 * s));
}

namespace {

// The composition ignores flame values below this, so the parts of a tongue that stay below it
// everywhere (the far tails of its blur) need not be merged into the canvas: a sample whose four
// neighbours are all below it is below it too.
constexpr float kVisible = 0.0001f;

inline double unit(int r) {
    return r / 32767.0;
}

// Everything the serial preparation decides about one tongue; the parallel passes fill in the rest.
struct Tongue {
    int rootX = 0, rootY = 0;
    double halfWidth = 0, halfHeight = 0;
    int c0 = 0, c1 = 0, r0 = 0, r1 = 0; // the tongue's own cells, inclusive
    uint32_t fillState = 0;             // generator state before the per-cell draws
    double sigmaX = 0, sigmaY = 0;
    int bx0 = 0, by0 = 0, bx1 = 0, by1 = 0; // the blurred box, right and bottom exclusive
    double sway = 0, stretch = 0;           // dx and dy
    // Filled by the tongue pass.
    std::size_t bufferOffset = 0; // the box with a one-cell border of zeros, (bw + 2) x (bh + 2)
    // The greatest value of each of those bh + 2 rows, two zeros, then the greatest of each three
    // consecutive rows (bh + 2 values): 2 (bh + 2) + 2 floats.
    std::size_t peakOffset = 0;
    float rootNx = 0, rootNy = 0;
    int hx0 = 0, hy0 = 0, hx1 = 0, hy1 = 0; // cells of the box at or above kVisible, grown by one
    int ax0 = 0, ay0 = 0, ax1 = 0, ay1 = 0; // canvas pixels touched, right and bottom exclusive
};

// The box grown for the blur, clipped to the grid and made at least four cells wide and high
// where the grid allows it.
void growBox(int lo, int hi, int grow, int size, int& outLo, int& outHi) {
    int left = std::max(0, lo - grow);
    int right = std::min(size, hi + 1 + grow); // exclusive
    const int minimum = std::min(4, size);
    if (right - left < minimum) {
        if (right < minimum) {
            left = 0;
            right = minimum;
        } else {
            left = right - minimum;
        }
    }
    outLo = left;
    outHi = right;
}

struct Field {
    std::vector<float> data;
    int width = 0, height = 0;
    float at(int x, int y) const { return data[std::size_t(y) * width + x]; }
};

// The least and greatest value of a field per square block of cells: a block whose values cannot
// move any of its cells into a tongue's box is skipped whole by the tongue's scan.
constexpr int kBlock = 8;
struct BlockBounds {
    std::vector<float> lo, hi;
    int columns = 0, rows = 0;

    void build(const Field& f) {
        columns = (f.width + kBlock - 1) / kBlock;
        rows = (f.height + kBlock - 1) / kBlock;
        lo.assign(std::size_t(columns) * rows, 0.0f);
        hi.assign(lo.size(), 0.0f);
        for (int br = 0; br < rows; ++br)
            for (int bc = 0; bc < columns; ++bc) {
                const int x0 = bc * kBlock, x1 = std::min(f.width, x0 + kBlock);
                const int y0 = br * kBlock, y1 = std::min(f.height, y0 + kBlock);
                float l = f.at(x0, y0), h = l;
                for (int y = y0; y < y1; ++y)
                    for (int x = x0; x < x1; ++x) {
                        l = std::min(l, f.at(x, y));
                        h = std::max(h, f.at(x, y));
                    }
                lo[std::size_t(br) * columns + bc] = l;
                hi[std::size_t(br) * columns + bc] = h;
            }
    }
};

// The truncated displaced coordinate of a cell, (value - root) * shift + position, exactly as the
// scan computes it. Every step is monotonic in the value and in the position, so the coordinates
// of the least and greatest values at the block's first and last positions bound those of every
// cell of a block.
inline int displacedCell(float value, float root, double shift, int position) {
    return int((value - root) * shift + position);
}
inline void displacedRange(float lo, float hi, float root, double shift, int first, int last, int& outLo,
                           int& outHi) {
    if (shift >= 0) {
        outLo = displacedCell(lo, root, shift, first);
        outHi = displacedCell(hi, root, shift, last);
    } else {
        outLo = displacedCell(hi, root, shift, first);
        outHi = displacedCell(lo, root, shift, last);
    }
}

// Fills, blurs and sharpens one tongue into its box buffer and finds the canvas pixels it reaches.
void prepareTongue(Tongue& t, float* box, float* rowPeaks, const FireGeometry& g, const Field& nx,
                   const Field& ny, const BlockBounds& nxBlocks, const BlockBounds& nyBlocks, float nxRange,
                   float nyRange) {
    const int bw = t.bx1 - t.bx0, bh = t.by1 - t.by0;
    const int pw = bw + 2;
    std::fill(box, box + std::size_t(pw) * (bh + 2), 0.0f);
    auto cell = [&](int col, int row) -> float& {
        return box[std::size_t(row - t.by0 + 1) * pw + (col - t.bx0 + 1)];
    };

    cLcgRandom random(t.fillState);
    const double rowScale = 1.0 / (1.4 * t.halfHeight);
    const double colScale = 1.0 / (8.5 * t.halfWidth);
    for (int col = t.c0; col <= t.c1; ++col)
        for (int row = t.r0; row <= t.r1; ++row)
            cell(col, row) = float(0.5 * unit(random.next()) + (row - t.rootY) * rowScale + 1.0 -
                                   std::abs(col - t.rootX) * colScale);
    for (int col = t.c0; col <= t.c1; ++col) cell(col, t.r0) /= 5.0f;

    float* origin = &cell(t.bx0, t.by0);
    thread_local std::vector<double> scratch;
    Common::recursiveGaussianBlurSerial(origin, pw, bw, bh, t.sigmaX, t.sigmaY, scratch);

    float lo = origin[0], hi = origin[0];
    for (int row = 0; row < bh; ++row) {
        const float* line = origin + std::size_t(row) * pw;
        for (int col = 0; col < bw; ++col) {
            lo = std::min(lo, line[col]);
            hi = std::max(hi, line[col]);
        }
    }
    if (hi > lo) {
        const float inv = 1.0f / (hi - lo);
        for (int row = 0; row < bh; ++row) {
            float* line = origin + std::size_t(row) * pw;
            for (int col = 0; col < bw; ++col) {
                const float v = (line[col] - lo) * inv;
                const float v2 = v * v;
                line[col] = v2 * v2;
            }
        }
    }

    const int ph = bh + 2;
    rowPeaks[0] = rowPeaks[ph - 1] = rowPeaks[ph] = rowPeaks[ph + 1] = 0.0f;
    for (int row = 0; row < bh; ++row) {
        const float* line = origin + std::size_t(row) * pw;
        rowPeaks[row + 1] = *std::max_element(line, line + bw);
    }
    float* spanPeaks = rowPeaks + ph + 2;
    for (int row = 0; row < ph; ++row)
        spanPeaks[row] = std::max({rowPeaks[row], rowPeaks[row + 1], rowPeaks[row + 2]});

    int hotLeft = t.bx1, hotRight = t.bx0 - 1, hotTop = t.by1, hotBottom = t.by0 - 1;
    for (int row = 0; row < bh; ++row) {
        const float* line = origin + std::size_t(row) * pw;
        for (int col = 0; col < bw; ++col)
            if (line[col] >= kVisible) {
                hotLeft = std::min(hotLeft, t.bx0 + col);
                hotRight = std::max(hotRight, t.bx0 + col);
                hotTop = std::min(hotTop, t.by0 + row);
                hotBottom = std::max(hotBottom, t.by0 + row);
            }
    }
    t.rootNx = nx.at(t.rootX, t.rootY);
    t.rootNy = ny.at(t.rootX, t.rootY);
    if (hotRight < hotLeft) { // nothing visible
        t.ax0 = t.ax1 = t.ay0 = t.ay1 = 0;
        return;
    }
    t.hx0 = hotLeft - 1;
    t.hx1 = hotRight + 2;
    t.hy0 = hotTop - 1;
    t.hy1 = hotBottom + 2;

    // The grid cells whose displaced position falls into the box. The displacement of a cell is
    // (Nx(p) - Nx(root)) dx, at most the field's range times |dx|, so cells further out cannot
    // qualify and the scan is limited to them.
    const int growX = int(std::fabs(2.0 * t.sway)) + 1, growY = int(t.stretch) + 1;
    const int reachX = int(std::ceil(nxRange * std::fabs(t.sway))) + 2;
    const int reachY = int(std::ceil(nyRange * t.stretch)) + 2;
    const int sx0 = std::max({0, t.bx0 - growX, t.bx0 - reachX});
    const int sx1 = std::min({g.gridWidth - 1, t.bx1 - 1 + growX, t.bx1 - 1 + reachX});
    const int sy0 = std::max({0, t.by0 - growY, t.by0 - reachY});
    const int sy1 = std::min({g.gridHeight - 1, t.by1 - 1 + growY, t.by1 - 1 + reachY});
    int left = t.rootX, right = t.rootX, top = t.rootY, bottom = t.rootY;
    for (int br = sy0 / kBlock; br <= sy1 / kBlock; ++br) {
        const int row0 = std::max(sy0, br * kBlock), row1 = std::min(sy1, br * kBlock + kBlock - 1);
        for (int bc = sx0 / kBlock; bc <= sx1 / kBlock; ++bc) {
            const int col0 = std::max(sx0, bc * kBlock), col1 = std::min(sx1, bc * kBlock + kBlock - 1);
            // A block inside the rectangle found so far cannot grow it.
            if (col0 >= left && col1 <= right && row0 >= top && row1 <= bottom) continue;
            const std::size_t b = std::size_t(br) * nxBlocks.columns + bc;
            int ixLo, ixHi, iyLo, iyHi;
            displacedRange(nxBlocks.lo[b], nxBlocks.hi[b], t.rootNx, t.sway, col0, col1, ixLo, ixHi);
            if (ixHi < t.hx0 || ixLo >= t.hx1) continue;
            displacedRange(nyBlocks.lo[b], nyBlocks.hi[b], t.rootNy, t.stretch, row0, row1, iyLo, iyHi);
            if (iyHi < t.hy0 || iyLo >= t.hy1) continue;
            for (int row = row0; row <= row1; ++row) {
                const float* nxRow = &nx.data[std::size_t(row) * nx.width];
                const float* nyRow = &ny.data[std::size_t(row) * ny.width];
                for (int col = col0; col <= col1; ++col) {
                    const int ix = displacedCell(nxRow[col], t.rootNx, t.sway, col);
                    const int iy = displacedCell(nyRow[col], t.rootNy, t.stretch, row);
                    if (ix >= t.hx0 && ix < t.hx1 && iy >= t.hy0 && iy < t.hy1) {
                        left = std::min(left, col);
                        right = std::max(right, col);
                        top = std::min(top, row);
                        bottom = std::max(bottom, row);
                    }
                }
            }
        }
    }
    const double k = g.canvasToGrid;
    t.ax0 = std::max(0, int(std::round((left - 1) * k)));
    t.ay0 = std::max(0, int(std::round((top - 1) * k)));
    t.ax1 = std::min(g.canvasWidth, int(std::round((right + 1) * k)) + 1);
    t.ay1 = std::min(g.canvasHeight, int(std::round((bottom + 1) * k)) + 1);
}

// The noise fields sampled at every canvas pixel, with their least and greatest values per run of
// kRun pixels of a row: a run whose values cannot bring any of its pixels into a tongue's box is
// skipped whole.
constexpr int kRun = 8;
struct CanvasFields {
    int width = 0, height = 0, runs = 0; // runs per row
    int runStride = 0;                   // runs rounded up to whole vectors of runs
    // Written whole, row by row, by the parallel pass that samples the noise fields.
    Common::UninitializedHugePageVector<float> nx, ny;
    std::vector<float> columnGrid, rowGrid;
    // Per run of each row: the least and greatest nx and ny; per run: the grid column of its first
    // and last pixel.
    Common::UninitializedHugePageVector<float> runNxLo, runNxHi, runNyLo, runNyHi;
    std::vector<float> runColumnLo, runColumnHi;
    // The least canvas value of each run, kept up to date by the vector path: a run whose pixels
    // are all at least as bright as anything a tongue can give there is passed over.
    Common::UninitializedHugePageVector<float> runMin;

    void allocate(int w, int h) {
        width = w;
        height = h;
        runs = (w + kRun - 1) / kRun;
        runStride = (runs + kRun - 1) / kRun * kRun;
        nx.resize(std::size_t(w) * h);
        ny.resize(nx.size());
        // A vector of runs may start at any run of a row, so every array ends with a vector's worth
        // of padding.
        for (auto* v : {&runNxLo, &runNxHi, &runNyLo, &runNyHi, &runMin}) {
            v->resize(std::size_t(runStride) * h + kRun);
            std::fill(v->end() - kRun, v->end(), 0.0f);
        }
        runColumnLo.assign(runStride + kRun, 0.0f);
        runColumnHi.assign(runStride + kRun, 0.0f);
        for (int r = 0; r < runs; ++r) {
            runColumnLo[r] = columnGrid[std::size_t(r) * kRun];
            runColumnHi[r] = columnGrid[std::min(w, (r + 1) * kRun) - 1];
        }
    }

    void buildRunBounds(int row) {
        const float* nxRow = &nx[std::size_t(row) * width];
        const float* nyRow = &ny[std::size_t(row) * width];
        const std::size_t at = std::size_t(row) * runStride;
        for (int r = 0; r < runs; ++r) {
            const int x0 = r * kRun, x1 = std::min(width, x0 + kRun);
            float a = nxRow[x0], b = a, c = nyRow[x0], d = c;
            for (int x = x0 + 1; x < x1; ++x) {
                a = std::min(a, nxRow[x]);
                b = std::max(b, nxRow[x]);
                c = std::min(c, nyRow[x]);
                d = std::max(d, nyRow[x]);
            }
            runNxLo[at + r] = a;
            runNxHi[at + r] = b;
            runNyLo[at + r] = c;
            runNyHi[at + r] = d;
        }
        for (int r = runs; r < runStride; ++r)
            runNxLo[at + r] = runNxHi[at + r] = runNyLo[at + r] = runNyHi[at + r] = 0.0f;
        std::fill(runMin.begin() + std::ptrdiff_t(at), runMin.begin() + std::ptrdiff_t(at + runStride), 0.0f);
    }
};

// One tongue's constants for merging it into the canvas.
struct TongueRaster {
    const float* box;
    const float* rowPeaks;
    const float* spanPeaks; // rowPeaks of three rows from each
    int pw;
    float rootNx, rootNy, dx, dy;
    float offX, offY;
    float lowX, lowY, limitX, limitY; // samples outside stay below the visible threshold
    float maxX, maxY;
};

// The merge of one canvas pixel: the tongue sampled bilinearly at the pixel's displaced position,
// kept when it is brighter than what the canvas holds.
inline void mergePixel(const TongueRaster& t, float nx, float ny, float gx, float gy, float& out) {
    const float sx = std::clamp((nx - t.rootNx) * t.dx + gx, 0.0f, t.maxX) - t.offX;
    const float sy = std::clamp((ny - t.rootNy) * t.dy + gy, 0.0f, t.maxY) - t.offY;
    // Outside the padded box the tongue buffer is zero.
    if (!(sx >= t.lowX && sy >= t.lowY && sx < t.limitX && sy < t.limitY)) return;
    const int ix = int(sx), iy = int(sy);
    const float fx = sx - float(ix), fy = sy - float(iy);
    const float* p = t.box + std::size_t(iy) * t.pw + ix;
    const float top = p[0] + fx * (p[1] - p[0]);
    const float bottom = p[t.pw] + fx * (p[t.pw + 1] - p[t.pw]);
    const float v = top + fy * (bottom - top);
    if (v > out) out = v;
}

#ifdef ORVEX_FIRE_X86
__attribute__((target("avx2"))) inline int smallestLane(__m256i v) {
    v = _mm256_min_epi32(v, _mm256_permute2x128_si256(v, v, 1));
    v = _mm256_min_epi32(v, _mm256_shuffle_epi32(v, 0x4E));
    v = _mm256_min_epi32(v, _mm256_shuffle_epi32(v, 0xB1));
    return _mm256_cvtsi256_si32(v);
}

// The displaced sample position, clamped to the grid and relative to the padded box.
__attribute__((target("avx2"), always_inline)) inline __m256
displacedPosition(__m256 value, __m256 root, __m256 shift, __m256 grid, __m256 limit, __m256 offset) {
    return _mm256_sub_ps(
        _mm256_min_ps(_mm256_max_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(value, root), shift), grid),
                                    _mm256_setzero_ps()),
                      limit),
        offset);
}

// The same merge for kRun consecutive pixels, with the same operations in the same order (no fused
// multiply-add), so that it gives the same bytes as mergePixel.
__attribute__((target("avx2"), always_inline)) inline void mergeRunAvx2(const TongueRaster& t,
                                                                        const float* nx, const float* ny,
                                                                        const float* gx, float gy, float* out,
                                                                        float* runMin) {
    const __m256 zero = _mm256_setzero_ps();
    const __m256 sx = displacedPosition(_mm256_loadu_ps(nx), _mm256_set1_ps(t.rootNx), _mm256_set1_ps(t.dx),
                                        _mm256_loadu_ps(gx), _mm256_set1_ps(t.maxX), _mm256_set1_ps(t.offX));
    const __m256 sy = displacedPosition(_mm256_loadu_ps(ny), _mm256_set1_ps(t.rootNy), _mm256_set1_ps(t.dy),
                                        _mm256_set1_ps(gy), _mm256_set1_ps(t.maxY), _mm256_set1_ps(t.offY));
    const __m256 inside =
        _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(sx, _mm256_set1_ps(t.lowX), _CMP_GE_OQ),
                                    _mm256_cmp_ps(sy, _mm256_set1_ps(t.lowY), _CMP_GE_OQ)),
                      _mm256_and_ps(_mm256_cmp_ps(sx, _mm256_set1_ps(t.limitX), _CMP_LT_OQ),
                                    _mm256_cmp_ps(sy, _mm256_set1_ps(t.limitY), _CMP_LT_OQ)));
    if (_mm256_movemask_ps(inside) == 0) return;
    const __m256i ix = _mm256_cvttps_epi32(sx), iy = _mm256_cvttps_epi32(sy);
    const __m256 fx = _mm256_sub_ps(sx, _mm256_cvtepi32_ps(ix));
    const __m256 fy = _mm256_sub_ps(sy, _mm256_cvtepi32_ps(iy));
    __m256 p00, p01, p10, p11;
    // Neighbouring pixels mostly sample the same few cells: when all of them fall into two
    // neighbouring rows of the box and within eight cells, loads and lane permutations replace the
    // gathers. (The loads may reach a few cells past the box; the buffer of boxes is padded for them.)
    // Lanes outside the box take part in none of this: they sample the first cell and are not stored.
    int firstColumn, firstRow;
    __m256i columns = ix, rows = iy;
    const int insideLanes = _mm256_movemask_ps(inside);
    if (insideLanes == 0xFF) {
        firstColumn = std::min(_mm256_extract_epi32(ix, 0), _mm256_extract_epi32(ix, 7));
        firstRow = std::min(_mm256_extract_epi32(iy, 0), _mm256_extract_epi32(iy, 7));
    } else {
        const __m256i insideBits = _mm256_castps_si256(inside);
        const __m256i none = _mm256_set1_epi32(std::numeric_limits<int>::max());
        firstColumn = smallestLane(_mm256_blendv_epi8(none, ix, insideBits));
        firstRow = smallestLane(_mm256_blendv_epi8(none, iy, insideBits));
        columns = _mm256_blendv_epi8(_mm256_set1_epi32(firstColumn), ix, insideBits);
        rows = _mm256_blendv_epi8(_mm256_set1_epi32(firstRow), iy, insideBits);
    }
    const __m256i lane = _mm256_sub_epi32(columns, _mm256_set1_epi32(firstColumn));
    const __m256i rowLane = _mm256_sub_epi32(rows, _mm256_set1_epi32(firstRow));
    const __m256i outside =
        _mm256_or_si256(_mm256_or_si256(_mm256_cmpgt_epi32(lane, _mm256_set1_epi32(kRun - 1)),
                                        _mm256_cmpgt_epi32(_mm256_setzero_si256(), lane)),
                        _mm256_or_si256(_mm256_cmpgt_epi32(rowLane, _mm256_set1_epi32(1)),
                                        _mm256_cmpgt_epi32(_mm256_setzero_si256(), rowLane)));
    if (_mm256_testz_si256(outside, outside)) {
        // Most tongues land where brighter ones already are: when no sample of the box rows in
        // reach can beat any pixel of the run, nothing changes. The bound allows for the rounding
        // of the interpolation (a few units in the last place of values up to 1).
        const bool twoRows = !_mm256_testz_si256(rowLane, rowLane);
        float peak = std::max(t.rowPeaks[firstRow], t.rowPeaks[firstRow + 1]);
        if (twoRows) peak = std::max(peak, t.rowPeaks[firstRow + 2]);
        const __m256 beaten = _mm256_cmp_ps(_mm256_loadu_ps(out), _mm256_set1_ps(peak + 1e-6f), _CMP_GE_OQ);
        if ((_mm256_movemask_ps(beaten) | ~insideLanes) == -1) return;
        const float* p = t.box + std::size_t(firstRow) * t.pw + firstColumn;
        const __m256 r0a = _mm256_permutevar8x32_ps(_mm256_loadu_ps(p), lane);
        const __m256 r0b = _mm256_permutevar8x32_ps(_mm256_loadu_ps(p + 1), lane);
        const __m256 r1a = _mm256_permutevar8x32_ps(_mm256_loadu_ps(p + t.pw), lane);
        const __m256 r1b = _mm256_permutevar8x32_ps(_mm256_loadu_ps(p + t.pw + 1), lane);
        if (!twoRows) {
            p00 = r0a;
            p01 = r0b;
            p10 = r1a;
            p11 = r1b;
        } else {
            // The lanes one row further down take their upper samples from the second row and
            // their lower ones from the third.
            const __m256 lower = _mm256_castsi256_ps(_mm256_cmpeq_epi32(rowLane, _mm256_set1_epi32(1)));
            const __m256 r2a = _mm256_permutevar8x32_ps(_mm256_loadu_ps(p + 2 * t.pw), lane);
            const __m256 r2b = _mm256_permutevar8x32_ps(_mm256_loadu_ps(p + 2 * t.pw + 1), lane);
            p00 = _mm256_blendv_ps(r0a, r1a, lower);
            p01 = _mm256_blendv_ps(r0b, r1b, lower);
            p10 = _mm256_blendv_ps(r1a, r2a, lower);
            p11 = _mm256_blendv_ps(r1b, r2b, lower);
        }
    } else {
        const __m256i pw = _mm256_set1_epi32(t.pw);
        const __m256i index = _mm256_add_epi32(_mm256_mullo_epi32(iy, pw), ix);
        const __m256i one = _mm256_set1_epi32(1);
        // Lanes outside the box read nothing (masked gathers) and are not stored.
        p00 = _mm256_mask_i32gather_ps(zero, t.box, index, inside, 4);
        p01 = _mm256_mask_i32gather_ps(zero, t.box, _mm256_add_epi32(index, one), inside, 4);
        const __m256i below = _mm256_add_epi32(index, pw);
        p10 = _mm256_mask_i32gather_ps(zero, t.box, below, inside, 4);
        p11 = _mm256_mask_i32gather_ps(zero, t.box, _mm256_add_epi32(below, one), inside, 4);
    }
    const __m256 top = _mm256_add_ps(p00, _mm256_mul_ps(fx, _mm256_sub_ps(p01, p00)));
    const __m256 bottom = _mm256_add_ps(p10, _mm256_mul_ps(fx, _mm256_sub_ps(p11, p10)));
    const __m256 v = _mm256_add_ps(top, _mm256_mul_ps(fy, _mm256_sub_ps(bottom, top)));
    const __m256 current = _mm256_loadu_ps(out);
    const __m256 brighter = _mm256_and_ps(inside, _mm256_cmp_ps(v, current, _CMP_GT_OQ));
    if (_mm256_movemask_ps(brighter) == 0) return;
    const __m256 merged = _mm256_blendv_ps(current, v, brighter);
    _mm256_storeu_ps(out, merged);
    __m256 least = _mm256_min_ps(merged, _mm256_permute2f128_ps(merged, merged, 1));
    least = _mm256_min_ps(least, _mm256_shuffle_ps(least, least, 0x4E));
    least = _mm256_min_ps(least, _mm256_shuffle_ps(least, least, 0xB1));
    *runMin = _mm256_cvtss_f32(least);
}

// Merges one canvas row of a tongue, pixels [x0, x1): eight runs are tested at a time against the
// box (with the bounds of whole runs, which contain those of the partial runs at the ends), and the
// runs that may reach it are merged.
__attribute__((target("avx2"))) void mergeRowAvx2(const TongueRaster& t, CanvasFields& fields, int cy, int x0,
                                                  int x1, float* out) {
    const std::size_t rowStart = std::size_t(cy) * fields.width;
    const std::size_t boundsStart = std::size_t(cy) * fields.runStride;
    const float* nxRow = &fields.nx[rowStart];
    const float* nyRow = &fields.ny[rowStart];
    const float* columnGrid = fields.columnGrid.data();
    const float gy = fields.rowGrid[cy];
    const bool ascending = t.dx >= 0;
    const float* nxLoRow = &(ascending ? fields.runNxLo : fields.runNxHi)[boundsStart];
    const float* nxHiRow = &(ascending ? fields.runNxHi : fields.runNxLo)[boundsStart];
    const float* nyLoRow = &fields.runNyLo[boundsStart];
    const float* nyHiRow = &fields.runNyHi[boundsStart];
    float* runMinRow = &fields.runMin[boundsStart];
    const __m256 rootNx = _mm256_set1_ps(t.rootNx), rootNy = _mm256_set1_ps(t.rootNy);
    const __m256 dx = _mm256_set1_ps(t.dx), dy = _mm256_set1_ps(t.dy), rowGrid = _mm256_set1_ps(gy);
    const __m256 maxX = _mm256_set1_ps(t.maxX), maxY = _mm256_set1_ps(t.maxY);
    const __m256 offX = _mm256_set1_ps(t.offX), offY = _mm256_set1_ps(t.offY);
    const __m256 lowX = _mm256_set1_ps(t.lowX), lowY = _mm256_set1_ps(t.lowY);
    const __m256 limitX = _mm256_set1_ps(t.limitX), limitY = _mm256_set1_ps(t.limitY);
    const int firstRun = x0 / kRun, lastRun = (x1 - 1) / kRun;
    for (int group = firstRun; group <= lastRun; group += kRun) {
        const __m256 sxLo = displacedPosition(_mm256_loadu_ps(nxLoRow + group), rootNx, dx,
                                              _mm256_loadu_ps(&fields.runColumnLo[group]), maxX, offX);
        const __m256 sxHi = displacedPosition(_mm256_loadu_ps(nxHiRow + group), rootNx, dx,
                                              _mm256_loadu_ps(&fields.runColumnHi[group]), maxX, offX);
        const __m256 syLo =
            displacedPosition(_mm256_loadu_ps(nyLoRow + group), rootNy, dy, rowGrid, maxY, offY);
        const __m256 syHi =
            displacedPosition(_mm256_loadu_ps(nyHiRow + group), rootNy, dy, rowGrid, maxY, offY);
        const __m256 reach = _mm256_and_ps(
            _mm256_and_ps(_mm256_cmp_ps(sxHi, lowX, _CMP_GE_OQ), _mm256_cmp_ps(sxLo, limitX, _CMP_LT_OQ)),
            _mm256_and_ps(_mm256_cmp_ps(syHi, lowY, _CMP_GE_OQ), _mm256_cmp_ps(syLo, limitY, _CMP_LT_OQ)));
        // The rows of the box that the run's pixels can sample; when they are three at most, their
        // peak bounds what the run can receive (with room for the rounding of the interpolation).
        const __m256i rowLo = _mm256_cvttps_epi32(_mm256_max_ps(syLo, lowY));
        const __m256i rowHi = _mm256_cvttps_epi32(_mm256_min_ps(syHi, limitY));
        const __m256 narrow =
            _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(2), _mm256_sub_epi32(rowHi, rowLo)));
        const __m256 peaks = _mm256_mask_i32gather_ps(_mm256_set1_ps(2.0f), t.spanPeaks, rowLo,
                                                      _mm256_and_ps(reach, narrow), 4);
        const __m256 open = _mm256_cmp_ps(_mm256_loadu_ps(runMinRow + group),
                                          _mm256_add_ps(peaks, _mm256_set1_ps(1e-6f)), _CMP_LT_OQ);
        unsigned candidates = unsigned(_mm256_movemask_ps(_mm256_and_ps(reach, open)));
        if (lastRun - group < kRun - 1) candidates &= (1u << (lastRun - group + 1)) - 1u;
        while (candidates) {
            const int run = group + __builtin_ctz(candidates);
            candidates &= candidates - 1;
            const int a = std::max(x0, run * kRun), b = std::min(x1, run * kRun + kRun);
            if (b - a == kRun) {
                mergeRunAvx2(t, nxRow + a, nyRow + a, columnGrid + a, gy, out + a, runMinRow + run);
            } else {
                for (int cx = a; cx < b; ++cx)
                    mergePixel(t, nxRow[cx], nyRow[cx], columnGrid[cx], gy, out[cx]);
                const int end = std::min(fields.width, run * kRun + kRun);
                runMinRow[run] = *std::min_element(out + run * kRun, out + end);
            }
        }
    }
}

bool processorHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

// Merges the tongues of a batch into canvas rows [rowBegin, rowEnd) by taking the maximum.
void rasterBand(const std::vector<Tongue>& tongues, const float* boxes, const float* rowPeaks,
                const FireGeometry& g, CanvasFields& fields, FlameCanvas& canvas, int rowBegin, int rowEnd,
                bool vector) {
    const int cw = g.canvasWidth;
#ifdef ORVEX_FIRE_X86
    vector = vector && processorHasAvx2();
#else
    vector = false;
#endif
    TongueRaster r;
    r.maxX = float(g.gridWidth) - 1.01f;
    r.maxY = float(g.gridHeight) - 1.01f;
    for (const Tongue& t : tongues) {
        const int y0 = std::max(rowBegin, t.ay0), y1 = std::min(rowEnd, t.ay1);
        if (y0 >= y1 || t.ax0 >= t.ax1) continue;
        r.box = boxes + t.bufferOffset;
        r.rowPeaks = rowPeaks + t.peakOffset;
        r.spanPeaks = r.rowPeaks + (t.by1 - t.by0 + 2) + 2;
        r.pw = t.bx1 - t.bx0 + 2;
        r.rootNx = t.rootNx;
        r.rootNy = t.rootNy;
        r.dx = float(t.sway);
        r.dy = float(t.stretch);
        r.offX = float(t.bx0) - 1.0f;
        r.offY = float(t.by0) - 1.0f;
        // Samples outside the visible part (grown by one cell) of the padded box stay below kVisible.
        r.lowX = float(t.hx0) - r.offX;
        r.lowY = float(t.hy0) - r.offY;
        r.limitX = float(t.hx1 - 1) - r.offX;
        r.limitY = float(t.hy1 - 1) - r.offY;
#ifdef ORVEX_FIRE_X86
        if (vector) {
            for (int cy = y0; cy < y1; ++cy)
                mergeRowAvx2(r, fields, cy, t.ax0, t.ax1, &canvas[std::size_t(cy) * cw]);
            continue;
        }
#endif
        const int firstRun = t.ax0 / kRun, lastRun = (t.ax1 - 1) / kRun;
        for (int cy = y0; cy < y1; ++cy) {
            const std::size_t rowStart = std::size_t(cy) * cw;
            const std::size_t boundsStart = std::size_t(cy) * fields.runStride;
            const float gy = fields.rowGrid[cy];
            float* out = &canvas[rowStart];
            const float* nxRow = &fields.nx[rowStart];
            const float* nyRow = &fields.ny[rowStart];
            for (int run = firstRun; run <= lastRun; ++run) {
                const int x0 = std::max(t.ax0, run * kRun), x1 = std::min(t.ax1, run * kRun + kRun);
                // The displaced position is monotonic in the noise value and the grid position
                // (rounding included), so the run's extremes bound every pixel of it.
                const float lo = fields.runNxLo[boundsStart + run], hi = fields.runNxHi[boundsStart + run];
                const float nxLo = r.dx >= 0 ? lo : hi, nxHi = r.dx >= 0 ? hi : lo;
                const float sxLo =
                    std::clamp((nxLo - r.rootNx) * r.dx + fields.columnGrid[x0], 0.0f, r.maxX) - r.offX;
                const float sxHi =
                    std::clamp((nxHi - r.rootNx) * r.dx + fields.columnGrid[x1 - 1], 0.0f, r.maxX) - r.offX;
                if (sxHi < r.lowX || sxLo >= r.limitX) continue;
                const float syLo =
                    std::clamp((fields.runNyLo[boundsStart + run] - r.rootNy) * r.dy + gy, 0.0f, r.maxY) -
                    r.offY;
                const float syHi =
                    std::clamp((fields.runNyHi[boundsStart + run] - r.rootNy) * r.dy + gy, 0.0f, r.maxY) -
                    r.offY;
                if (syHi < r.lowY || syLo >= r.limitY) continue;
                for (int cx = x0; cx < x1; ++cx)
                    mergePixel(r, nxRow[cx], nyRow[cx], fields.columnGrid[cx], gy, out[cx]);
            }
        }
    }
}

} // namespace

FlameOutcome drawFlameCanvas(const FireGeometry& g, const FireParams& params,
                             const std::vector<uint8_t>& gridMask, FlameCanvas& canvas,
                             const FlameCallbacks& callbacks) {
    const int gw = g.gridWidth, gh = g.gridHeight;
    if (gw <= 0 || gh <= 0 || gridMask.size() < std::size_t(gw) * gh) return FlameOutcome::NothingSelected;
    auto cancelled = [&] { return callbacks.cancelled && callbacks.cancelled(); };
    const uint32_t workers = uint32_t(std::max(0, callbacks.maxWorkers));

    // The generator starts at 0 for every drawing and runs on through the noise and the tongues.
    cLcgRandom random(0);

    // Noise fields: horizontal sway and vertical stretch, two draws per cell in row-major order.
    Field nx, ny;
    nx.width = ny.width = gw;
    nx.height = ny.height = gh;
    nx.data.resize(std::size_t(gw) * gh);
    ny.data.resize(std::size_t(gw) * gh);
    const double swayScale = std::min(1.0, params.distortion / 30.0);
    int64_t selected = 0;
    for (std::size_t i = 0; i < nx.data.size(); ++i) {
        nx.data[i] = float((2.0 * random.next() / 32767.0 - 1.0) * swayScale);
        ny.data[i] = float(unit(random.next()));
        selected += gridMask[i] != 0;
    }
    if (selected == 0) return FlameOutcome::NothingSelected;

    const int64_t tongueCount = fireTongueCount(selected, params.flames, g);
    if (callbacks.beginTongues) callbacks.beginTongues(tongueCount);

    Common::boxGaussianBlur(nx.data.data(), gw, gh, 20.0 - params.distortion / 7.0,
                            20.0 - params.distortion / 7.0);
    Common::boxGaussianBlur(ny.data.data(), gw, gh, 10.0, 10.0);
    const auto [nxLo, nxHi] = std::minmax_element(nx.data.begin(), nx.data.end());
    const auto [nyLo, nyHi] = std::minmax_element(ny.data.begin(), ny.data.end());
    const float nxRange = *nxHi - *nxLo, nyRange = *nyHi - *nyLo;

    // The canvas, and the noise fields sampled at every canvas pixel once (they do not depend on the
    // tongue).
    const int cw = g.canvasWidth, ch = g.canvasHeight;
    const double k = g.canvasToGrid;
    canvas.clear();
    canvas.resize(std::size_t(cw) * ch); // rows cleared by the sampling pass below
    CanvasFields fields;
    fields.columnGrid.resize(cw);
    fields.rowGrid.resize(ch);
    for (int cx = 0; cx < cw; ++cx) fields.columnGrid[cx] = std::min(float(cx / k), float(gw) - 1.01f);
    for (int cy = 0; cy < ch; ++cy) fields.rowGrid[cy] = std::min(float(cy / k), float(gh) - 1.01f);
    fields.allocate(cw, ch);
    MT::parallelFor(
        0, uint32_t(ch),
        [&](uint32_t first, uint32_t last) {
            for (uint32_t cy = first; cy < last; ++cy) {
                const float gy = std::max(0.0f, fields.rowGrid[cy]);
                const int iy = int(gy);
                const int iy1 = std::min(iy + 1, gh - 1);
                const float fy = gy - float(iy);
                for (int cx = 0; cx < cw; ++cx) {
                    const float gx = std::max(0.0f, fields.columnGrid[cx]);
                    const int ix = int(gx);
                    const int ix1 = std::min(ix + 1, gw - 1);
                    const float fx = gx - float(ix);
                    auto lerp2 = [&](const Field& f) {
                        const float a = f.at(ix, iy) + fx * (f.at(ix1, iy) - f.at(ix, iy));
                        const float b = f.at(ix, iy1) + fx * (f.at(ix1, iy1) - f.at(ix, iy1));
                        return a + fy * (b - a);
                    };
                    fields.nx[std::size_t(cy) * cw + cx] = lerp2(nx);
                    fields.ny[std::size_t(cy) * cw + cx] = lerp2(ny);
                }
                fields.buildRunBounds(int(cy));
                std::fill_n(canvas.begin() + std::ptrdiff_t(cy) * cw, cw, 0.0f);
            }
        },
        16, workers);
    BlockBounds nxBlocks, nyBlocks;
    nxBlocks.build(nx);
    nyBlocks.build(ny);

    // Tongues go in batches: the serial part draws each tongue's random numbers in order, the
    // tongue pass fills and blurs the boxes of the batch in parallel, the band pass merges them.
    constexpr std::size_t kBatchCells = std::size_t(1) << 22;
    std::vector<Tongue> batch;
    std::vector<float> boxes, rowPeaks;
    int64_t done = 0;
    while (done < tongueCount) {
        batch.clear();
        std::size_t cells = 0, peaks = 0;
        while (done + int64_t(batch.size()) < tongueCount && (cells < kBatchCells || batch.empty())) {
            Tongue t;
            // The root: draws until a selected cell is hit. A selection the generator cannot reach
            // (never seen in practice) ends the search at the first selected cell after the last
            // position tried, so the loop always ends.
            const int64_t attempts = int64_t(gw) * gh * 64 + 1000000;
            int x = 0, y = 0;
            bool found = false;
            for (int64_t a = 0; a < attempts; ++a) {
                x = random.next() % gw;
                y = random.next() % gh;
                if (gridMask[std::size_t(y) * gw + x]) {
                    found = true;
                    break;
                }
            }
            if (!found) {
                std::size_t i = std::size_t(y) * gw + x;
                while (!gridMask[i]) i = (i + 1) % gridMask.size();
                x = int(i % gw);
                y = int(i / gw);
            }
            t.rootX = x;
            t.rootY = y;
            t.halfWidth = (0.6 * unit(random.next()) + 0.4) * params.width;
            t.halfHeight = (0.6 * unit(random.next()) + 0.4) * params.height;
            t.c0 = std::max(0, int(x - t.halfWidth));
            t.c1 = std::min(gw - 1, int(x + t.halfWidth));
            t.r0 = std::max(0, int(y - t.halfHeight));
            t.r1 = std::min(gh - 1, y);
            t.fillState = random.state();
            random.skip(uint64_t(t.c1 - t.c0 + 1) * uint64_t(t.r1 - t.r0 + 1));
            t.sigmaX = (1.75 * unit(random.next()) + 0.25) * (params.horizontalBlur / 20.0 + 0.2);
            t.sigmaY = (1.75 * unit(random.next()) + 0.25) * 4.5;
            growBox(t.c0, t.c1, int(std::round(3.0 * t.sigmaX)), gw, t.bx0, t.bx1);
            growBox(t.r0, t.r1, int(std::round(3.0 * t.sigmaY)), gh, t.by0, t.by1);
            t.sway = (2.0 * random.next() / 32767.0 - 1.0) * 500.0;
            t.stretch = unit(random.next()) * 250.0;
            t.bufferOffset = cells;
            cells += std::size_t(t.bx1 - t.bx0 + 2) * (t.by1 - t.by0 + 2);
            t.peakOffset = peaks;
            peaks += 2 * std::size_t(t.by1 - t.by0 + 2) + 2;
            batch.push_back(t);
        }
        boxes.resize(std::max(boxes.size(), cells + kRun * 2)); // padded for the vector loads
        rowPeaks.resize(std::max(rowPeaks.size(), peaks));

        MT::parallelFor(
            0, uint32_t(batch.size()),
            [&](uint32_t first, uint32_t last) {
                for (uint32_t i = first; i < last; ++i)
                    prepareTongue(batch[i], boxes.data() + batch[i].bufferOffset,
                                  rowPeaks.data() + batch[i].peakOffset, g, nx, ny, nxBlocks, nyBlocks,
                                  nxRange, nyRange);
            },
            1, workers);
        if (cancelled()) return FlameOutcome::Cancelled;

        // Bands are dealt out round-robin so that every worker gets its share of the flames, which
        // gather where the selection is.
        constexpr int kBandRows = 8;
        const uint32_t bands = uint32_t((ch + kBandRows - 1) / kBandRows);
        const uint32_t lanes = std::min<uint32_t>(bands, 64);
        MT::parallelFor(
            0, lanes,
            [&](uint32_t first, uint32_t last) {
                for (uint32_t lane = first; lane < last; ++lane)
                    for (uint32_t band = lane; band < bands; band += lanes)
                        rasterBand(batch, boxes.data(), rowPeaks.data(), g, fields, canvas,
                                   int(band) * kBandRows, std::min(ch, int(band + 1) * kBandRows),
                                   callbacks.allowVector);
            },
            1, workers);
        done += int64_t(batch.size());
        if (callbacks.advance) callbacks.advance(int64_t(batch.size()));
        if (cancelled()) return FlameOutcome::Cancelled;
    }
    return FlameOutcome::Drawn;
}

} // namespace Orvex::Document::Filters
