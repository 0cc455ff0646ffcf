#include "document/filters/fire/FireFlames.h"

#include "document/filters/common/BoxGaussian.h"
#include "document/filters/common/Random.h"
#include "document/filters/common/RecursiveGaussian.h"
#include "mt/JobsPool.h"

#include <algorithm>
#include <cmath>

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

namespace {

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
    float rootNx = 0, rootNy = 0;
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

// Fills, blurs and sharpens one tongue into its box buffer and finds the canvas pixels it reaches.
void prepareTongue(Tongue& t, float* box, const FireGeometry& g, const Field& nx, const Field& ny,
                   float nxRange, float nyRange) {
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

    Common::YoungVanVliet cx, cy;
    float* origin = &cell(t.bx0, t.by0);
    if (Common::YoungVanVliet::forSigma(t.sigmaX, cx))
        for (int row = 0; row < bh; ++row)
            Common::recursiveGaussianLine(origin + std::size_t(row) * pw, 1, bw, cx);
    if (Common::YoungVanVliet::forSigma(t.sigmaY, cy))
        for (int col = 0; col < bw; ++col) Common::recursiveGaussianLine(origin + col, pw, bh, cy);

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

    // The grid cells whose displaced position falls into the box. The displacement of a cell is
    // (Nx(p) - Nx(root)) dx, at most the field's range times |dx|, so cells further out cannot
    // qualify and the scan is limited to them.
    t.rootNx = nx.at(t.rootX, t.rootY);
    t.rootNy = ny.at(t.rootX, t.rootY);
    const int growX = int(std::fabs(2.0 * t.sway)) + 1, growY = int(t.stretch) + 1;
    const int reachX = int(std::ceil(nxRange * std::fabs(t.sway))) + 2;
    const int reachY = int(std::ceil(nyRange * t.stretch)) + 2;
    const int sx0 = std::max({0, t.bx0 - growX, t.bx0 - reachX});
    const int sx1 = std::min({g.gridWidth - 1, t.bx1 - 1 + growX, t.bx1 - 1 + reachX});
    const int sy0 = std::max({0, t.by0 - growY, t.by0 - reachY});
    const int sy1 = std::min({g.gridHeight - 1, t.by1 - 1 + growY, t.by1 - 1 + reachY});
    int left = t.rootX, right = t.rootX, top = t.rootY, bottom = t.rootY;
    for (int row = sy0; row <= sy1; ++row) {
        const float* nxRow = &nx.data[std::size_t(row) * nx.width];
        const float* nyRow = &ny.data[std::size_t(row) * ny.width];
        for (int col = sx0; col <= sx1; ++col) {
            const int ix = int((nxRow[col] - t.rootNx) * t.sway + col);
            const int iy = int((nyRow[col] - t.rootNy) * t.stretch + row);
            if (ix >= t.bx0 && ix < t.bx1 && iy >= t.by0 && iy < t.by1) {
                left = std::min(left, col);
                right = std::max(right, col);
                top = std::min(top, row);
                bottom = std::max(bottom, row);
            }
        }
    }
    const double k = g.canvasToGrid;
    t.ax0 = std::max(0, int(std::round((left - 1) * k)));
    t.ay0 = std::max(0, int(std::round((top - 1) * k)));
    t.ax1 = std::min(g.canvasWidth, int(std::round((right + 1) * k)) + 1);
    t.ay1 = std::min(g.canvasHeight, int(std::round((bottom + 1) * k)) + 1);
}

// Merges the tongues of a batch into canvas rows [rowBegin, rowEnd) by taking the maximum.
void rasterBand(const std::vector<Tongue>& tongues, std::size_t first, std::size_t last, const float* boxes,
                const FireGeometry& g, const std::vector<float>& canvasNx, const std::vector<float>& canvasNy,
                const std::vector<float>& columnGrid, const std::vector<float>& rowGrid,
                std::vector<float>& canvas, int rowBegin, int rowEnd) {
    const int cw = g.canvasWidth;
    const float maxX = float(g.gridWidth) - 1.01f, maxY = float(g.gridHeight) - 1.01f;
    for (std::size_t i = first; i < last; ++i) {
        const Tongue& t = tongues[i];
        const int y0 = std::max(rowBegin, t.ay0), y1 = std::min(rowEnd, t.ay1);
        if (y0 >= y1 || t.ax0 >= t.ax1) continue;
        const float* box = boxes + t.bufferOffset;
        const int pw = t.bx1 - t.bx0 + 2, ph = t.by1 - t.by0 + 2;
        const float dx = float(t.sway), dy = float(t.stretch);
        const float offX = float(t.bx0) - 1.0f, offY = float(t.by0) - 1.0f;
        const float limitX = float(pw - 1), limitY = float(ph - 1);
        for (int cy = y0; cy < y1; ++cy) {
            const std::size_t rowStart = std::size_t(cy) * cw;
            const float gy = rowGrid[cy];
            float* out = &canvas[rowStart];
            const float* nxRow = &canvasNx[rowStart];
            const float* nyRow = &canvasNy[rowStart];
            for (int cx = t.ax0; cx < t.ax1; ++cx) {
                const float sx = std::clamp((nxRow[cx] - t.rootNx) * dx + columnGrid[cx], 0.0f, maxX) - offX;
                const float sy = std::clamp((nyRow[cx] - t.rootNy) * dy + gy, 0.0f, maxY) - offY;
                // Outside the padded box the tongue buffer is zero.
                if (!(sx >= 0.0f && sy >= 0.0f && sx < limitX && sy < limitY)) continue;
                const int ix = int(sx), iy = int(sy);
                const float fx = sx - float(ix), fy = sy - float(iy);
                const float* p = box + std::size_t(iy) * pw + ix;
                const float top = p[0] + fx * (p[1] - p[0]);
                const float bottom = p[pw] + fx * (p[pw + 1] - p[pw]);
                const float v = top + fy * (bottom - top);
                if (v > out[cx]) out[cx] = v;
            }
        }
    }
}

} // namespace

FlameOutcome drawFlameCanvas(const FireGeometry& g, const FireParams& params,
                             const std::vector<uint8_t>& gridMask, std::vector<float>& canvas,
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

    const double s = g.scale;
    const int64_t tongueCount =
        std::max<int64_t>(1, int64_t(double(selected) * params.flames * s * 0.00005 * s));
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
    canvas.assign(std::size_t(cw) * ch, 0.0f);
    std::vector<float> columnGrid(cw), rowGrid(ch);
    for (int cx = 0; cx < cw; ++cx) columnGrid[cx] = std::min(float(cx / k), float(gw) - 1.01f);
    for (int cy = 0; cy < ch; ++cy) rowGrid[cy] = std::min(float(cy / k), float(gh) - 1.01f);
    std::vector<float> canvasNx(canvas.size()), canvasNy(canvas.size());
    MT::parallelFor(
        0, uint32_t(ch),
        [&](uint32_t first, uint32_t last) {
            for (uint32_t cy = first; cy < last; ++cy) {
                const float gy = std::max(0.0f, rowGrid[cy]);
                const int iy = int(gy);
                const int iy1 = std::min(iy + 1, gh - 1);
                const float fy = gy - float(iy);
                for (int cx = 0; cx < cw; ++cx) {
                    const float gx = std::max(0.0f, columnGrid[cx]);
                    const int ix = int(gx);
                    const int ix1 = std::min(ix + 1, gw - 1);
                    const float fx = gx - float(ix);
                    auto lerp2 = [&](const Field& f) {
                        const float a = f.at(ix, iy) + fx * (f.at(ix1, iy) - f.at(ix, iy));
                        const float b = f.at(ix, iy1) + fx * (f.at(ix1, iy1) - f.at(ix, iy1));
                        return a + fy * (b - a);
                    };
                    canvasNx[std::size_t(cy) * cw + cx] = lerp2(nx);
                    canvasNy[std::size_t(cy) * cw + cx] = lerp2(ny);
                }
            }
        },
        16, workers);

    // Tongues go in batches: the serial part draws each tongue's random numbers in order, the
    // tongue pass fills and blurs the boxes of the batch in parallel, the band pass merges them.
    constexpr std::size_t kBatchCells = std::size_t(1) << 22;
    std::vector<Tongue> batch;
    std::vector<float> boxes;
    int64_t done = 0;
    while (done < tongueCount) {
        batch.clear();
        std::size_t cells = 0;
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
            for (int64_t n = int64_t(t.c1 - t.c0 + 1) * (t.r1 - t.r0 + 1); n > 0; --n) random.step();
            t.sigmaX = (1.75 * unit(random.next()) + 0.25) * (params.horizontalBlur / 20.0 + 0.2);
            t.sigmaY = (1.75 * unit(random.next()) + 0.25) * 4.5;
            growBox(t.c0, t.c1, int(std::round(3.0 * t.sigmaX)), gw, t.bx0, t.bx1);
            growBox(t.r0, t.r1, int(std::round(3.0 * t.sigmaY)), gh, t.by0, t.by1);
            t.sway = (2.0 * random.next() / 32767.0 - 1.0) * 500.0;
            t.stretch = unit(random.next()) * 250.0;
            t.bufferOffset = cells;
            cells += std::size_t(t.bx1 - t.bx0 + 2) * (t.by1 - t.by0 + 2);
            batch.push_back(t);
        }
        boxes.resize(std::max(boxes.size(), cells));

        MT::parallelFor(
            0, uint32_t(batch.size()),
            [&](uint32_t first, uint32_t last) {
                for (uint32_t i = first; i < last; ++i)
                    prepareTongue(batch[i], boxes.data() + batch[i].bufferOffset, g, nx, ny, nxRange,
                                  nyRange);
            },
            1, workers);
        if (cancelled()) return FlameOutcome::Cancelled;

        constexpr int kBandRows = 8;
        const uint32_t bands = uint32_t((ch + kBandRows - 1) / kBandRows);
        MT::parallelFor(
            0, bands,
            [&](uint32_t first, uint32_t last) {
                rasterBand(batch, 0, batch.size(), boxes.data(), g, canvasNx, canvasNy, columnGrid, rowGrid,
                           canvas, int(first) * kBandRows, std::min(ch, int(last) * kBandRows));
            },
            1, workers);
        done += int64_t(batch.size());
        if (callbacks.advance) callbacks.advance(int64_t(batch.size()));
        if (cancelled()) return FlameOutcome::Cancelled;
    }
    return FlameOutcome::Drawn;
}

} // namespace Orvex::Document::Filters
