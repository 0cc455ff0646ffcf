#include "document/filters/cumulus/CumulusRenderer.h"

#include "document/filters/Composite.h"
#include "document/filters/common/Bilinear.h"
#include "document/filters/common/Noise.h"
#include "document/filters/common/Random.h"
#include "document/filters/common/RecursiveGaussian.h"

#include <cmath>

namespace Orvex::Document::Filters {

using namespace DataStorage;

namespace {

inline int roundHalfAway(double v) {
    return int(std::lround(v));
}

// Mirrors a coordinate into 0 ... n - 1 so that noise read past the grid's edge continues smoothly.
inline int mirrored(int v, int n) {
    const int period = 2 * n - 1;
    if (period <= 1) return 0;
    v %= period;
    if (v < 0) v += period;
    return v >= n ? 2 * n - 2 - v : v;
}

struct Ellipse {
    int xc, yc, rx, ry, ox, oy;
};

} // namespace

CloudGrid CloudGrid::forImage(int w, int h) {
    CloudGrid g;
    g.scale = std::max(w, h) / 400.0;
    if (!(g.scale > 0)) return g;
    g.width = std::max(1, roundHalfAway(w / g.scale));
    g.height = std::max(1, roundHalfAway(h / g.scale));
    return g;
}

namespace {

// One octave's lattice positions and kernel weights along an axis: for each cell the rounded lattice
// index and the five weights K(|index - 2 + k - position|), as the cubic value noise defines them.
struct AxisWeights {
    std::vector<int32_t> centre;
    std::vector<double> weight; // 5 per cell
};

} // namespace

bool CumulusRenderer::buildNoise(int size, const CloudGrid& grid, std::vector<float>& noise,
                                 const RunContext& context) {
    noise.assign(size_t(grid.width) * size_t(grid.height), 0.0f);
    constexpr int Octaves = 5;
    double octaveWeight[Octaves], weightSum = 0;
    AxisWeights rows[Octaves], cols[Octaves];
    for (int o = 0; o < Octaves; ++o) {
        const double scale = std::pow(0.4, o);
        octaveWeight[o] = std::pow(0.7, o);
        weightSum += octaveWeight[o];
        // f1 = 2.5 y / c / size, f2 = x / c / size, computed as in the definition.
        rows[o].centre.resize(size_t(grid.height));
        rows[o].weight.resize(size_t(grid.height) * 5);
        cols[o].centre.resize(size_t(grid.width));
        cols[o].weight.resize(size_t(grid.width) * 5);
        for (int y = 0; y < grid.height; ++y) {
            const double pos = 2.5 * y / scale / size;
            const int32_t r = int32_t(std::round(pos));
            rows[o].centre[size_t(y)] = r;
            for (int k = 0; k < 5; ++k)
                rows[o].weight[size_t(y) * 5 + size_t(k)] = Common::cubicKernel(double(r - 2 + k) - pos);
        }
        for (int x = 0; x < grid.width; ++x) {
            const double pos = x / scale / size;
            const int32_t r = int32_t(std::round(pos));
            cols[o].centre[size_t(x)] = r;
            for (int k = 0; k < 5; ++k)
                cols[o].weight[size_t(x) * 5 + size_t(k)] = Common::cubicKernel(double(r - 2 + k) - pos);
        }
    }
    // Each row sums, per octave, hash x row weight x column weight over the 5 x 5 lattice points in
    // the same order as the value noise itself, with the lattice hashes of the row computed once.
    MT::parallelFor(
        0, uint32_t(grid.height),
        [&](uint32_t first, uint32_t last) {
            std::vector<double> hashes;
            std::vector<double> sums(size_t(grid.width));
            for (uint32_t y = first; y < last; ++y) {
                if (context.cancelled()) return;
                std::fill(sums.begin(), sums.end(), 0.0);
                for (int o = 0; o < Octaves; ++o) {
                    const int32_t ri = rows[o].centre[y];
                    const double* rw = &rows[o].weight[size_t(y) * 5];
                    const int32_t jFirst = cols[o].centre.front() - 2, jLast = cols[o].centre.back() + 2;
                    const size_t span = size_t(jLast - jFirst + 1);
                    const bool cached = span <= size_t(grid.width) * 5;
                    if (cached) {
                        hashes.resize(span * 5);
                        for (int a = 0; a < 5; ++a)
                            if (rw[a] != 0.0)
                                for (size_t j = 0; j < span; ++j)
                                    hashes[size_t(a) * span + j] =
                                        Common::valueNoiseHash(ri - 2 + a, jFirst + int32_t(j), 29);
                    }
                    for (int x = 0; x < grid.width; ++x) {
                        const int32_t ci = cols[o].centre[size_t(x)];
                        const double* cw = &cols[o].weight[size_t(x) * 5];
                        double sum = 0.0;
                        for (int a = 0; a < 5; ++a) {
                            if (rw[a] == 0.0) continue;
                            for (int b = 0; b < 5; ++b) {
                                const double h = cached
                                                     ? hashes[size_t(a) * span + size_t(ci - 2 + b - jFirst)]
                                                     : Common::valueNoiseHash(ri - 2 + a, ci - 2 + b, 29);
                                sum += h * rw[a] * cw[b];
                            }
                        }
                        sums[size_t(x)] += octaveWeight[o] * sum;
                    }
                }
                float* row = noise.data() + size_t(y) * size_t(grid.width);
                for (int x = 0; x < grid.width; ++x) row[x] = float(sums[size_t(x)] / weightSum);
                context.advance();
            }
        },
        4, context.maxWorkers > 0 ? uint32_t(context.maxWorkers) : 0u);
    if (context.cancelled()) return false;
    float largest = 0;
    for (float v : noise) largest = std::max(largest, v);
    if (largest > 0)
        for (float& v : noise) v /= largest;
    return true;
}

RunOutcome CumulusRenderer::process(CumulusParams& p, const PixelPlane& source, const MaskChannels& masks,
                                    PixelPlane& result, const RunContext& context) {
    p.clampForRun();
    const int32_t type = checkRgbaPlanes(source, result);
    copySourceToResult(source, result);
    const RectI selection = maskBounds(masks.mask, context.maxWorkers);
    if (selection.isEmpty()) return RunOutcome::Done;

    const int W = source.width(), H = source.height();
    const CloudGrid grid = CloudGrid::forImage(W, H);
    const int GW = grid.width, GH = grid.height;
    const double s = grid.scale;

    bool rebuilt = false;
    if (!m_noiseKey.sameNoiseKey(p) || m_noiseGrid.width != GW || m_noiseGrid.height != GH) {
        context.beginPhase(0.2, GH);
        std::vector<float> noise;
        if (!buildNoise(p.noiseSize, grid, noise, context)) {
            p.layers = -1; // forces the next run
            return RunOutcome::Cancelled;
        }
        m_noise = std::move(noise);
        m_noiseGrid = grid;
        m_noiseKey = p;
        ++m_noiseBuilds;
        rebuilt = true;
    }
    const std::vector<float>& noise = m_noise;
    auto noiseAt = [&](int gy, int gx) { return noise[size_t(gy) * size_t(GW) + size_t(gx)]; };

    // The selection on the grid: a cell is set when any pixel of its footprint is selected.
    std::vector<float> soft(size_t(GW) * size_t(GH), 0.0f);
    {
        const std::vector<uint8_t> bytes = maskBytes(masks.mask, selection);
        for (int y = selection.top; y < selection.bottom; ++y) {
            const uint8_t* row = bytes.data() + size_t(y - selection.top) * size_t(selection.width());
            const int gy = std::min(GH - 1, int(y / s));
            for (int x = selection.left; x < selection.right; ++x)
                if (row[x - selection.left])
                    soft[size_t(gy) * size_t(GW) + size_t(std::min(GW - 1, int(x / s)))] = 1.0f;
        }
    }
    int left = GW, top = GH, right = -1, bottom = -1;
    for (int y = 0; y < GH; ++y)
        for (int x = 0; x < GW; ++x)
            if (soft[size_t(y) * size_t(GW) + size_t(x)] != 0.0f) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
    if (right < 0) return RunOutcome::Done;
    const int bw = right - left + 1, bh = bottom - top + 1;
    Common::recursiveGaussianBlur(soft.data(), GW, GW, GH, p.edge, p.edge);
    const int radiusRange = std::max(3, int(std::trunc(std::sqrt(double(bw) * double(bh) * 18.0))));

    const double t = 1.0 - p.transparency / 100.0;
    const double rho = p.relief / 10.0 * t;
    const double base = t - 0.6 * rho;
    const double sigma0 = p.smoothness / 10.0;
    const double layerShare = (rebuilt ? 0.8 : 1.0) / p.layers;
    const float red = float((p.color >> 16) & 0xFF) / 255.0f;
    const float green = float((p.color >> 8) & 0xFF) / 255.0f;
    const float blue = float(p.color & 0xFF) / 255.0f;

    Common::cLcgRandom random(102);
    std::vector<float> layer(size_t(GW) * size_t(GH), 0.0f);
    for (int i = 0; i < p.layers; ++i) {
        context.beginPhase(layerShare, 5);
        Ellipse e;
        e.xc = left + roundHalfAway((random.next() % 129) * double(bw) / 128.0);
        e.yc = top + roundHalfAway((random.next() % 129) * double(bh) / 128.0);
        e.rx = random.next() % radiusRange + 25;
        e.ry = random.next() % radiusRange + 25;
        e.ox = random.next() % GW;
        e.oy = random.next() % GH;

        // The blob on the grid: cells inside the ellipse where the noise beats the vertical profile.
        int lx0 = GW, ly0 = GH, lx1 = -1, ly1 = -1;
        for (int y = top; y <= bottom; ++y) {
            float* out = layer.data() + size_t(y) * size_t(GW);
            const double dy = double(y - e.yc) / e.ry;
            const double g = (e.ry + (y - e.yc)) * 0.5 / e.ry;
            const int ny = mirrored(e.oy + y, GH);
            for (int x = left; x <= right; ++x) {
                out[x] = 0.0f;
                const double dx = double(x - e.xc) / e.rx;
                const double d = dx * dx + dy * dy;
                if (!(d < 1.0)) continue;
                const int nx = mirrored(e.ox + x, GW);
                const double n = noiseAt(ny, nx);
                const double n2 = noiseAt(GH - 1 - ny, GW - 1 - nx);
                const double m = soft[size_t(y) * size_t(GW) + size_t(x)];
                if (((n2 * 0.6 * g + 1.0) * 0.35) / (g + 1.0) < (m - 0.05) * (1.0 - std::sqrt(d)) * n * n) {
                    out[x] = float(n * rho + base);
                    lx0 = std::min(lx0, x), lx1 = std::max(lx1, x);
                    ly0 = std::min(ly0, y), ly1 = std::max(ly1, y);
                }
            }
        }
        context.advance();
        // Two more draws shade this layer; they are drawn whether or not the blob is empty.
        const float k1 = float((random.step() >> 16) & 0xFF) / 1792.0f;
        const float k2 = float((random.step() >> 16) & 0xFF) / 2048.0f;
        if (lx1 < 0) {
            context.advance(4);
            continue;
        }
        const double sigma = (double(i) / p.layers * 3.0 + 1.0) * sigma0;
        const int grow = int(std::trunc(3.0 * sigma + 1.0));
        lx0 = std::max(left, lx0 - grow), lx1 = std::min(right, lx1 + grow);
        ly0 = std::max(top, ly0 - grow), ly1 = std::min(bottom, ly1 + grow);
        const int boxW = lx1 - lx0 + 1, boxH = ly1 - ly0 + 1;
        float* box = layer.data() + size_t(ly0) * size_t(GW) + size_t(lx0);
        Common::recursiveGaussianBlur(box, GW, boxW, boxH, sigma, sigma);
        context.advance();

        const RectI pixels = RectI{roundHalfAway(lx0 * s), roundHalfAway(ly0 * s),
                                   roundHalfAway((lx1 + 1) * s), roundHalfAway((ly1 + 1) * s)}
                                 .intersected(RectI{0, 0, W, H});
        if (pixels.isEmpty()) {
            context.advance(3);
            continue;
        }
        // Per-column and per-row lookups of the image-resolution pass: the bilinear sample position in
        // the layer box (clamped as the shared sampler clamps) and the mirrored noise column.
        const float ratioX = float(boxW) / float(pixels.width());
        const float ratioY = float(boxH) / float(pixels.height());
        const float invS = float(1.0 / s);
        std::vector<int> column0(size_t(pixels.width())), column1(size_t(pixels.width())),
            noiseColumn(size_t(pixels.width()));
        std::vector<float> columnFraction(size_t(pixels.width()));
        for (int px = pixels.left; px < pixels.right; ++px) {
            const size_t c = size_t(px - pixels.left);
            const float gx =
                Common::clampSamplePosition((float(px - pixels.left) + 0.5f) * ratioX - 0.5f, boxW);
            column0[c] = int(gx);
            column1[c] = std::min(column0[c] + 1, boxW - 1);
            columnFraction[c] = gx - float(column0[c]);
            noiseColumn[c] = mirrored(int(px * invS) + e.ox, GW);
        }
        const bool opaque = !result.hasChannel(ChannelAlpha);
        dispatchSampleType(type, [&](auto sample) {
            using T = decltype(sample);
            // Per grid row of the box, the columns whose value could move a sample (see composeOver);
            // a pixel interpolates four cells, so it is skipped when all four lie outside the spans.
            const float significant = opaque ? SampleMath<T>::negligible : 0.0f;
            std::vector<int> spanFirst(size_t(boxH), boxW), spanLast(size_t(boxH), -1);
            for (int y = 0; y < boxH; ++y) {
                const float* row = box + size_t(y) * size_t(GW);
                int first = 0, last = boxW - 1;
                while (first < boxW && !(std::fabs(row[first]) > significant)) ++first;
                while (last >= first && !(std::fabs(row[last]) > significant)) --last;
                spanFirst[size_t(y)] = first, spanLast[size_t(y)] = last;
            }
            forEachRgbaTile<T>(result, pixels, context, [&](const RgbaTile<T>& tile) {
                for (int py = tile.area.top; py < tile.area.bottom; ++py) {
                    T* r = tile.row(0, py);
                    T* g = tile.row(1, py);
                    T* b = tile.row(2, py);
                    T* a = tile.row(3, py);
                    const float gy =
                        Common::clampSamplePosition((float(py - pixels.top) + 0.5f) * ratioY - 0.5f, boxH);
                    const int row0 = int(gy), row1 = std::min(row0 + 1, boxH - 1);
                    const float fy = gy - float(row0);
                    const float* upper = box + size_t(row0) * size_t(GW);
                    const float* lower = box + size_t(row1) * size_t(GW);
                    const int ny = mirrored(int(py * invS) + e.oy, GH);
                    const float v = float((py * invS - e.yc + e.ry) * 0.5 / e.ry) * k2;
                    const float* noiseRow = noise.data() + size_t(ny) * size_t(GW);
                    const int first = std::min(spanFirst[size_t(row0)], spanFirst[size_t(row1)]);
                    const int last = std::max(spanLast[size_t(row0)], spanLast[size_t(row1)]);
                    if (first > last) continue;
                    const int pxFirst =
                        std::max(tile.area.left,
                                 pixels.left + int(std::lower_bound(column1.begin(), column1.end(), first) -
                                                   column1.begin()));
                    const int pxEnd =
                        std::min(tile.area.right,
                                 pixels.left + int(std::upper_bound(column0.begin(), column0.end(), last) -
                                                   column0.begin()));
                    for (int px = pxFirst; px < pxEnd; ++px) {
                        const size_t c = size_t(px - pixels.left);
                        const int x0 = column0[c], x1 = column1[c];
                        const float fx = columnFraction[c];
                        const float top = upper[x0] + fx * (upper[x1] - upper[x0]);
                        const float bottom = lower[x0] + fx * (lower[x1] - lower[x0]);
                        const float cover = std::clamp(top + fy * (bottom - top), 0.0f, 1.0f);
                        if (!(cover > 0.0f)) continue;
                        const float shade = (noiseRow[noiseColumn[c]] - 0.55f) * k1 + v;
                        composeOver<T>(r[px], g[px], b[px], a ? a + px : nullptr,
                                       std::clamp(red - shade, 0.0f, 1.0f),
                                       std::clamp(green - shade, 0.0f, 1.0f),
                                       std::clamp(blue - shade, 0.0f, 1.0f), cover);
                    }
                }
            });
        });
        context.advance(3);
        if (context.cancelled()) return RunOutcome::Cancelled; // the layers drawn so far stay
    }
    return RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
