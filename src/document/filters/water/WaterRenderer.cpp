#include "document/filters/water/WaterRenderer.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
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

// The mean of each s x s block of the source (the last blocks may be smaller) as 16-bit RGB, read
// as samples of type T whose 16-bit value is `toWide` times theirs.
template <class T>
void blockMeans(const PixelPlane& source, const WaterGrid& grid, int maxWorkers, uint32_t toWide,
                WaterPicture& picture) {
    const PixelFormat format = PixelFormat::fromMask(MaskRGB, std::is_same_v<T, uint8_t> ? TypeU8 : TypeU16);
    const int s = grid.scale, W = grid.imageWidth, H = grid.imageHeight;
    // Bands of grid rows are handed to whichever worker is free.
    constexpr uint32_t kBand = 8;
    const uint32_t bands = (uint32_t(grid.height) + kBand - 1) / kBand;
    std::atomic<uint32_t> nextBand{0};
    MT::parallelFor(
        0, std::min<uint32_t>(bands, 64),
        [&](uint32_t, uint32_t) {
            std::vector<T> strip(std::size_t(W) * s * 3);
            std::vector<uint32_t> sums(std::size_t(grid.width) * 3);
            for (uint32_t band = nextBand.fetch_add(1); band < bands; band = nextBand.fetch_add(1))
                for (uint32_t gy = band * kBand, last = std::min(uint32_t(grid.height), gy + kBand);
                     gy < last; ++gy) {
                    const int y0 = int(gy) * s, rows = std::min(s, H - y0);
                    getData(source, RectI{0, y0, W, y0 + rows}, strip.data(), unsigned(W * 3 * sizeof(T)),
                            format);
                    std::fill(sums.begin(), sums.end(), 0u);
                    for (int r = 0; r < rows; ++r) {
                        const T* line = &strip[std::size_t(r) * W * 3];
                        for (int gx = 0; gx < grid.width; ++gx) {
                            uint32_t* sum = &sums[std::size_t(gx) * 3];
                            for (int x = gx * s, end = std::min(W, x + s); x < end; ++x) {
                                sum[0] += line[x * 3];
                                sum[1] += line[x * 3 + 1];
                                sum[2] += line[x * 3 + 2];
                            }
                        }
                    }
                    for (int gx = 0; gx < grid.width; ++gx) {
                        const uint32_t count = uint32_t(std::min(s, W - gx * s) * rows);
                        for (int c = 0; c < 3; ++c)
                            picture.rgb[(std::size_t(gy) * grid.width + gx) * 3 + c] =
                                uint16_t((sums[std::size_t(gx) * 3 + c] * toWide + count / 2) / count);
                    }
                }
        },
        1, uint32_t(std::max(0, maxWorkers)));
}

// The picture at the working scale: the mean of each s x s block (the last blocks may be smaller).
void pictureOnGrid(const PixelPlane& source, const WaterGrid& grid, int maxWorkers, WaterPicture& picture) {
    picture.width = grid.width;
    picture.height = grid.height;
    picture.rgb.resize(std::size_t(grid.width) * grid.height * 3);
    const PixelFormat rgb16 = PixelFormat::fromMask(MaskRGB, TypeU16);
    if (!grid.reduced()) {
        // Bands of rows on the jobs pool: the conversion and the first touch of the buffer shared.
        constexpr int kBandRows = 32;
        const uint32_t bands = uint32_t((grid.height + kBandRows - 1) / kBandRows);
        MT::parallelFor(
            0, bands,
            [&](uint32_t first, uint32_t last) {
                for (uint32_t b = first; b < last; ++b) {
                    const int top = int(b) * kBandRows, bottom = std::min(grid.height, top + kBandRows);
                    getData(source, RectI{0, top, grid.width, bottom},
                            picture.rgb.data() + std::size_t(top) * grid.width * 3, unsigned(grid.width * 6),
                            rgb16);
                }
            },
            1, uint32_t(std::max(0, maxWorkers)));
        return;
    }
    // 8-bit pictures are summed in 8 bits: their 16-bit samples are v * 257 exactly, so the sums
    // scale by 257 and the means come out the same with half the bytes read.
    if (source.commonType() == TypeU8)
        blockMeans<uint8_t>(source, grid, maxWorkers, 257u, picture);
    else
        blockMeans<uint16_t>(source, grid, maxWorkers, 1u, picture);
}

// A fingerprint of the picture on the grid, so that the stored light is reused only for the very
// same picture: 64 fixed slices hashed in parallel, combined in order.
uint64_t pictureFingerprint(const WaterPicture& picture, int maxWorkers) {
    const std::size_t count = picture.rgb.size();
    constexpr uint32_t kSlices = 64;
    uint64_t slices[kSlices] = {};
    MT::parallelFor(
        0, kSlices,
        [&](uint32_t first, uint32_t last) {
            for (uint32_t k = first; k < last; ++k) {
                const std::size_t from = count * k / kSlices, to = count * (k + 1) / kSlices;
                const uint16_t* v = picture.rgb.data();
                uint64_t h = 0x9E3779B97F4A7C15ull ^ k, i = from;
                for (; i + 4 <= to; i += 4) {
                    uint64_t word;
                    std::memcpy(&word, v + i, sizeof word);
                    h = (h ^ word) * 0xFF51AFD7ED558CCDull;
                    h ^= h >> 29;
                }
                for (; i < to; ++i) h = (h ^ v[i]) * 0xC4CEB9FE1A85EC53ull;
                slices[k] = h;
            }
        },
        1, uint32_t(std::max(0, maxWorkers)));
    uint64_t h = uint64_t(picture.width) * 0x100000001B3ull + uint64_t(picture.height);
    for (uint64_t slice : slices) h = (h ^ slice) * 0x100000001B3ull + (h >> 31);
    return h;
}

// Writes the surface into the result's rows `top` ... `bottom` - 1 (below the picture's horizon
// row). At full size a picture row is a surface row; on a reduced grid the surface is scaled up
// bilinearly, the sample centres of picture pixel x and grid sample (x + 0.5) / s - 0.5 lining up.
template <class T>
void writeSurface(PixelPlane& result, const WaterSurface& surface, int top, int bottom, int scale,
                  const RunContext& context) {
    const int width = result.size().width;
    const int rows = surface.height - surface.firstRow;
    if (top >= bottom || rows <= 0) return;
    const int sw = surface.width, first = surface.firstRow;
    // The columns of the interpolation, the same for every row.
    const std::size_t columns = static_cast<std::size_t>(width);
    std::vector<int> column0(columns), column1(columns);
    std::vector<float> columnWeight(columns);
    for (int x = 0; x < width; ++x) {
        const float fx =
            std::clamp(scale > 1 ? float((x + 0.5) / scale - 0.5) : float(x), 0.0f, float(sw - 1));
        const int ix = int(fx);
        column0[std::size_t(x)] = ix * 3;
        column1[std::size_t(x)] = std::min(ix + 1, sw - 1) * 3;
        columnWeight[std::size_t(x)] = fx - float(ix);
    }
    forEachRgbaTile<T>(result, RectI{0, top, width, bottom}, context, [&](const RgbaTile<T>& tile) {
        // On a reduced grid s picture rows fall between the same two surface rows: each surface
        // row is interpolated along the tile's columns once and kept while rows use it.
        const int left = tile.area.left, span = tile.area.right - left;
        thread_local std::vector<float> along[2];
        int alongRow[2] = {-1, -1};
        auto interpolated = [&](int k, int surfaceRow) {
            along[k].resize(std::size_t(span) * 3);
            const uint16_t* r = &surface.under[std::size_t(surfaceRow) * sw * 3];
            float* a = along[k].data();
            for (int x = left; x < left + span; ++x) {
                const int i0 = column0[std::size_t(x)], i1 = column1[std::size_t(x)];
                const float wx = columnWeight[std::size_t(x)];
                for (int c = 0; c < 3; ++c)
                    a[(x - left) * 3 + c] = r[i0 + c] + wx * (float(r[i1 + c]) - r[i0 + c]);
            }
            alongRow[k] = surfaceRow;
        };
        for (int y = tile.area.top; y < tile.area.bottom; ++y) {
            T* out[3] = {tile.row(0, y), tile.row(1, y), tile.row(2, y)};
            T* alpha = tile.row(3, y);
            const float fy = std::clamp(scale > 1 ? float((y + 0.5) / scale - 0.5 - first) : float(y - first),
                                        0.0f, float(rows - 1));
            const int iy = int(fy), iy1 = std::min(iy + 1, rows - 1);
            const float wy = fy - float(iy);
            if (scale == 1) {
                // One surface sample per pixel: the interpolation weights are all 0.
                const uint16_t* r0 = &surface.under[std::size_t(iy) * sw * 3];
                for (int x = tile.area.left; x < tile.area.right; ++x)
                    for (int c = 0; c < 3; ++c) out[c][x] = fromWide<T>(float(r0[x * 3 + c]));
            } else {
                if (alongRow[0] != iy) {
                    if (alongRow[1] == iy) {
                        std::swap(along[0], along[1]);
                        std::swap(alongRow[0], alongRow[1]);
                    } else {
                        interpolated(0, iy);
                    }
                }
                if (alongRow[1] != iy1) interpolated(1, iy1);
                const float* a = along[0].data();
                const float* b = along[1].data();
                for (int x = 0; x < span; ++x)
                    for (int c = 0; c < 3; ++c) {
                        const float upper = a[x * 3 + c], lower = b[x * 3 + c];
                        out[c][left + x] = fromWide<T>(upper + wy * (lower - upper));
                    }
            }
            if (alpha)
                for (int x = tile.area.left; x < tile.area.right; ++x) alpha[x] = opaque<T>();
        }
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
    WaterMaps& maps = m_maps;
    buildWaterMaps(grid.width, grid.height, lastRun.horizonAngle, maps, hooks);
    context.advance();
    if (context.cancelled()) return RunOutcome::Cancelled;

    // Stage11: the wave field, unless the cache holds it for this geometry and grid.
    const bool cached = m_cacheValid && m_cacheKey.sameWaveKey(lastRun) && m_cacheWidth == grid.width &&
                        m_cacheHeight == grid.height;
    if (!cached) {
        context.beginPhase(0.3, 1);
        m_cacheValid = false;
        if (!buildWaveField(maps, lastRun, m_waveCache, hooks)) return RunOutcome::Cancelled;
        m_cacheKey = lastRun;
        m_cacheWidth = grid.width;
        m_cacheHeight = grid.height;
        m_cacheValid = true;
        ++m_waveFields;
        context.advance();
    }

    // Stage2: the picture at the working scale and the surface's geometry.
    context.beginPhase(0.1, 1);
    pictureOnGrid(source, grid, context.maxWorkers, m_picture);
    const WaterPicture& picture = m_picture;
    WaterSurface& surface = m_surface;
    prepareSurface(maps, m_waveCache, lastRun, picture, surface);
    // Stage3's stored light stays valid while the wave field, the picture and the glare's
    // brightness and position are those it was traced for.
    const uint64_t fingerprint = pictureFingerprint(picture, context.maxWorkers);
    const bool sameLight = cached && m_lightValid && fingerprint == m_lightFingerprint &&
                           lastRun.glareBrightness == m_lightKey.glareBrightness &&
                           lastRun.glareVerticalShift == m_lightKey.glareVerticalShift &&
                           lastRun.glareHorizontalShift == m_lightKey.glareHorizontalShift;
    surface.lightStored = surface.lightStored && sameLight;
    m_lightValid = false;
    context.advance();
    if (context.cancelled()) return RunOutcome::Cancelled;

    // MakeBottom: the view into the water; Stage3: the reflection, Fresnel mix and glare.
    for (auto stage : {&makeBottom, &reflectScene}) {
        context.beginPhase(0.1, 1);
        stage(maps, picture, lastRun, surface, hooks);
        context.advance();
        if (context.cancelled()) return RunOutcome::Cancelled;
    }
    m_lightValid = surface.lightStored;
    m_lightKey = lastRun;
    m_lightFingerprint = fingerprint;

    // Stage4: the picture into the result (its tiles are shared, not copied). Stage5 and Stage6:
    // the surface over the far and the near half of the water rows at full size; on a reduced grid
    // the rescale stages bring it back to full size instead.
    context.beginPhase(0.1, 1);
    copySourceToResult(source, result);
    context.advance();
    const int horizonRow = WaterParams::horizonRow(lastRun.horizonAngle, H);
    const int top = std::clamp(horizonRow + 1, 0, H), middle = top + (H - top) / 2;
    auto write = [&](int from, int to) {
        dispatchSampleType(type, [&](auto sample) {
            writeSurface<decltype(sample)>(result, surface, from, to, grid.scale, context);
        });
    };
    for (const auto& [from, to] : {std::pair{top, middle}, std::pair{middle, H}}) {
        context.beginPhase(0.1, 1);
        if (!grid.reduced()) write(from, to);
        context.advance();
    }
    if (grid.reduced()) {
        context.beginPhase(0.1, 1); // rescale_dc: the grid's rows and columns mapped onto the picture
        context.advance();
        context.beginPhase(0.3, 1); // rescale_pp: the surface itself
        write(top, H);
        context.advance();
    }
    return context.cancelled() ? RunOutcome::Cancelled : RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
