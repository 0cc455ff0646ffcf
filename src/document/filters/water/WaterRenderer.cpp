#include "document/filters/water/WaterRenderer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

namespace Orvex::Document::Filters {

using namespace DataStorage;

namespace {

template <class T> T fromWide(float v); // v in 0 ... 65535
template <> uint8_t fromWide<uint8_t>(float v) {
    return uint8_t(std::clamp(v * (255.0f / 65535.0f) + 0.5f, 0.0f, 255.0f));
}
template <> uint16_t fromWide<uint16_t>(float v) {
    return uint16_t(std::clamp(v + 0.5f, 0.0f, 65535.0f));
}
template <> float fromWide<float>(float v) {
    return v * (1.0f / 65535.0f);
}
template <class T> constexpr T opaque() {
    if constexpr (std::is_same_v<T, float>)
        return 1.0f;
    else
        return std::numeric_limits<T>::max();
}

// The picture at the working scale: the mean of each s x s block (the last blocks may be smaller).
WaterPicture pictureOnGrid(const PixelPlane& source, const WaterGrid& grid, int maxWorkers) {
    WaterPicture picture;
    picture.width = grid.width;
    picture.height = grid.height;
    picture.rgb.assign(std::size_t(grid.width) * grid.height * 3, 0);
    const PixelFormat rgb16 = PixelFormat::fromMask(MaskRGB, TypeU16);
    if (!grid.reduced()) {
        getData(source, RectI{0, 0, grid.width, grid.height}, picture.rgb.data(), unsigned(grid.width * 6),
                rgb16);
        return picture;
    }
    const int s = grid.scale, W = grid.imageWidth, H = grid.imageHeight;
    MT::parallelFor(
        0, uint32_t(grid.height),
        [&](uint32_t first, uint32_t last) {
            std::vector<uint16_t> strip(std::size_t(W) * s * 3);
            std::vector<uint32_t> sums(std::size_t(grid.width) * 3);
            for (uint32_t gy = first; gy < last; ++gy) {
                const int y0 = int(gy) * s, rows = std::min(s, H - y0);
                getData(source, RectI{0, y0, W, y0 + rows}, strip.data(), unsigned(W * 6), rgb16);
                std::fill(sums.begin(), sums.end(), 0u);
                for (int r = 0; r < rows; ++r)
                    for (int x = 0; x < W; ++x)
                        for (int c = 0; c < 3; ++c)
                            sums[std::size_t(x / s) * 3 + c] += strip[(std::size_t(r) * W + x) * 3 + c];
                for (int gx = 0; gx < grid.width; ++gx) {
                    const int count = std::min(s, W - gx * s) * rows;
                    for (int c = 0; c < 3; ++c)
                        picture.rgb[(std::size_t(gy) * grid.width + gx) * 3 + c] =
                            uint16_t((sums[std::size_t(gx) * 3 + c] + count / 2) / count);
                }
            }
        },
        4, uint32_t(std::max(0, maxWorkers)));
    return picture;
}

// Writes the surface into the result's rows below the picture's horizon row. `row(y)` gives the
// surface's (fractional) water row and `column(x)` its column for a picture pixel.
template <class T, class RowOf, class ColumnOf>
void writeSurface(PixelPlane& result, const WaterSurface& surface, int horizonRow, const RunContext& context,
                  RowOf rowOf, ColumnOf columnOf) {
    const int width = result.size().width, height = result.size().height;
    const int top = std::max(0, horizonRow + 1);
    const int rows = surface.height - surface.firstRow;
    if (top >= height || rows <= 0) return;
    const int sw = surface.width;
    forEachRgbaTile<T>(result, RectI{0, top, width, height}, context, [&](const RgbaTile<T>& tile) {
        for (int y = tile.area.top; y < tile.area.bottom; ++y) {
            T* out[3] = {tile.row(0, y), tile.row(1, y), tile.row(2, y)};
            T* alpha = tile.row(3, y);
            const float fy = std::clamp(rowOf(y), 0.0f, float(rows - 1));
            const int iy = int(fy), iy1 = std::min(iy + 1, rows - 1);
            const float wy = fy - float(iy);
            const uint16_t* r0 = &surface.under[std::size_t(iy) * sw * 3];
            const uint16_t* r1 = &surface.under[std::size_t(iy1) * sw * 3];
            for (int x = tile.area.left; x < tile.area.right; ++x) {
                const float fx = std::clamp(columnOf(x), 0.0f, float(sw - 1));
                const int ix = int(fx), ix1 = std::min(ix + 1, sw - 1);
                const float wx = fx - float(ix);
                for (int c = 0; c < 3; ++c) {
                    const float a = r0[ix * 3 + c] + wx * (float(r0[ix1 * 3 + c]) - r0[ix * 3 + c]);
                    const float b = r1[ix * 3 + c] + wx * (float(r1[ix1 * 3 + c]) - r1[ix * 3 + c]);
                    out[c][x] = fromWide<T>(a + wy * (b - a));
                }
                if (alpha) alpha[x] = opaque<T>();
            }
        }
        (void)width;
    });
}

} // namespace

RunOutcome WaterRenderer::process(WaterParams& lastRun, const PixelPlane& source, const MaskChannels&,
                                  PixelPlane& result, const RunContext& context) {
    const int32_t type = checkRgbaPlanes(source, result);
    lastRun.clampForRun();
    const int W = source.size().width, H = source.size().height;
    const bool live = context.mode == RunMode::Live;
    const WaterGrid grid = WaterGrid::forRun(W, H, live);
    m_lastGrid = grid;
    WaterHooks hooks;
    hooks.cancelled = [&context] { return context.cancelled(); };
    hooks.maxWorkers = context.maxWorkers;

    // Stage1: which samples are water, and where they lie on the water plane.
    context.beginPhase(0.1, 1);
    WaterMaps maps;
    buildWaterMaps(grid.width, grid.height, lastRun.horizonAngle, maps, hooks);
    context.advance();
    if (context.cancelled()) return RunOutcome::Cancelled;

    // Stage11: the wave field, unless the cache holds it for this geometry and grid.
    const bool cached = m_cacheValid && m_cacheKey.sameWaveKey(lastRun) && m_cacheWidth == grid.width &&
                        m_cacheHeight == grid.height;
    if (!cached) {
        context.beginPhase(0.3, 1);
        m_cacheValid = false;
        std::vector<float> field;
        if (!buildWaveField(maps, lastRun, field, hooks)) return RunOutcome::Cancelled;
        m_waveCache = std::move(field);
        m_cacheKey = lastRun;
        m_cacheWidth = grid.width;
        m_cacheHeight = grid.height;
        m_cacheValid = true;
        ++m_waveFields;
        context.advance();
    }

    // Stage2: the picture at the working scale and the slopes of the surface.
    context.beginPhase(0.1, 1);
    const WaterPicture picture = pictureOnGrid(source, grid, context.maxWorkers);
    WaterSurface surface;
    prepareSurface(maps, m_waveCache, picture, lastRun, surface, hooks);
    maps.across = {}; // the coordinate maps are not needed any more
    context.advance();
    if (context.cancelled()) return RunOutcome::Cancelled;

    struct Stage {
        void (*run)(const WaterMaps&, const WaterPicture&, const WaterParams&, WaterSurface&,
                    const WaterHooks&);
    };
    const Stage stages[] = {
        {&makeBottom},
        {&reflectScene},
        {[](const WaterMaps& m, const WaterPicture&, const WaterParams& p, WaterSurface& s,
            const WaterHooks& h) { mixSurface(m, p, s, h); }},
        {[](const WaterMaps& m, const WaterPicture&, const WaterParams& p, WaterSurface& s,
            const WaterHooks& h) { addGlare(m, p, s, h); }},
    };
    for (const Stage& stage : stages) {
        context.beginPhase(0.1, 1);
        stage.run(maps, picture, lastRun, surface, hooks);
        if (&stage == &stages[1]) surface.reflection = {}; // consumed by the mix
        context.advance();
        if (context.cancelled()) return RunOutcome::Cancelled;
    }

    // Stage6: the surface into the result, at full size directly, or brought back to full size.
    context.beginPhase(0.1, 1);
    copySourceToResult(source, result);
    context.advance();
    const int horizonRow = WaterParams::horizonRow(lastRun.horizonAngle, H);
    if (!grid.reduced()) {
        const int first = surface.firstRow;
        dispatchSampleType(type, [&](auto sample) {
            writeSurface<decltype(sample)>(
                result, surface, horizonRow, context, [first](int y) { return float(y - first); },
                [](int x) { return float(x); });
        });
    } else {
        context.beginPhase(0.1, 1); // rescale_dc: the water rows of the picture on the grid
        const double s = grid.scale;
        const int first = surface.firstRow;
        context.advance();
        context.beginPhase(0.3, 1); // rescale_pp: the surface itself
        dispatchSampleType(type, [&](auto sample) {
            writeSurface<decltype(sample)>(
                result, surface, horizonRow, context,
                [s, first](int y) { return float((y + 0.5) / s - 0.5 - first); },
                [s](int x) { return float((x + 0.5) / s - 0.5); });
        });
        context.advance();
    }
    return context.cancelled() ? RunOutcome::Cancelled : RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
