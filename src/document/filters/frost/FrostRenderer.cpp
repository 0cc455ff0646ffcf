#include "document/filters/frost/FrostRenderer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

namespace Orvex::Document::Filters {

using namespace DataStorage;

namespace {

FrostHooks hooksFor(const RunContext& context) {
    FrostHooks hooks;
    hooks.cancelled = [&context] { return context.cancelled(); };
    hooks.phase = [&context](double share, int64_t steps) { context.beginPhase(share, steps); };
    hooks.step = [&context] { context.advance(); };
    hooks.maxWorkers = context.maxWorkers;
    return hooks;
}

int sampleBytes(int32_t type) {
    return type == TypeU8 ? 1 : type == TypeU16 ? 2 : 4;
}

} // namespace

RunOutcome FrostRenderer::process(FrostParams& lastRun, const PixelPlane& source, const MaskChannels& masks,
                                  PixelPlane& result, const RunContext& context) {
    const int32_t type = checkRgbaPlanes(source, result);
    lastRun.clampForRun();
    const int width = source.size().width, height = source.size().height;
    const RectI bounds = maskBounds(masks.mask, context.maxWorkers);
    if (bounds.isEmpty()) {
        copySourceToResult(source, result);
        return RunOutcome::Done;
    }
    if (width != m_width || height != m_height) {
        m_fieldValid = m_crystalsValid = m_depositValid = false;
        m_width = width;
        m_height = height;
    }
    const FrostHooks hooks = hooksFor(context);
    // The crust grows on the grid; on a small image that is the image itself and the buffers the
    // deposit reads are the crust's own.
    const FrostGrid grid = FrostGrid::forImage(width, height);
    const bool onImage = grid.isImage();
    std::vector<float>& crustField = onImage ? m_field : m_gridField;
    std::vector<uint8_t>& crustCrystals = onImage ? m_crystals : m_gridCrystals;
    std::vector<uint8_t> selection;
    FrostRect crustBounds = bounds;
    auto needSelection = [&] {
        if (!selection.empty()) return;
        if (onImage) {
            selection = maskBytes(masks.mask, RectI{0, 0, width, height});
        } else {
            selection = maskBytesOnGrid(*masks.mask, grid.width, grid.height);
            m_gridBounds = selectionBounds(selection.data(), grid.width, grid.height);
            crustBounds = m_gridBounds;
        }
    };

    if (!m_fieldValid || !m_fieldKey.sameFieldKey(lastRun)) {
        m_fieldValid = m_crystalsValid = m_depositValid = false;
        needSelection();
        if (!buildFrostField(selection.data(), grid.width, grid.height, crustBounds, lastRun.thickness,
                             crustField, hooks))
            return RunOutcome::Cancelled;
        m_fieldKey = lastRun;
        m_fieldValid = true;
        ++m_counts.field;
    }

    bool grown = false;
    if (!m_crystalsValid || !m_crystalKey.sameCrystalKey(lastRun)) {
        m_crystalsValid = m_depositValid = false;
        needSelection();
        context.beginPhase(0.6, 100);
        seedFrostCrystals(selection.data(), grid.width, grid.height, lastRun.fill, crustCrystals);
        if (!growFrostCrystals(crustField, grid.width, grid.height, lastRun.thickness, lastRun.branching,
                               crustCrystals, hooks))
            return RunOutcome::Cancelled;
        if (!onImage) enlargeFrostMap(grid, m_gridCrystals, m_crystals, context.maxWorkers);
        m_crystalKey = lastRun;
        m_crystalsValid = true;
        grown = true;
        ++m_counts.crystals;
    }

    if (!onImage) return depositAndShadeOnGrid(lastRun, grid, grown, source, result, context, hooks);

    // The deposit covers the tiles over the selection's bounds and the pixel a splat reaches beyond.
    const FrostRect cover = tileCover(bounds, width, height);
    const FrostRect area =
        FrostRect{cover.left - 1, cover.top - 1, cover.right + 1, cover.bottom + 1}.intersected(
            {0, 0, width, height});
    const std::size_t stride = std::size_t(area.width()) * 4 * sampleBytes(type);
    const PixelFormat rgba = PixelFormat::fromMask(MaskRGBA, type);
    if (grown || !m_depositValid || !m_depositKey.sameDepositKey(lastRun) || m_depositType != type ||
        m_depositArea != area) {
        m_depositValid = false;
        context.beginPhase(0.1, 1);
        m_deposit.assign(stride * area.height(), 0);
        getData(source, area, m_deposit.data(), unsigned(stride), rgba);
        m_coverage = m_crystals;
        const FrostDepositSettings settings = FrostDepositSettings::from(lastRun.uniformity, lastRun.freeze,
                                                                         lastRun.transparency, lastRun.color);
        const bool done = dispatchSampleType(type, [&](auto sample) {
            using T = decltype(sample);
            return depositFrost<T>(reinterpret_cast<T*>(m_deposit.data()), std::ptrdiff_t(area.width()) * 4,
                                   area, width, height, bounds, m_field, m_crystals, m_coverage, settings,
                                   hooks);
        });
        if (!done) return RunOutcome::Cancelled;
        context.advance();
        keepDeposit(lastRun, area, type);
    }

    context.beginPhase(0.1, 1);
    copySourceToResult(source, result);
    std::vector<uint8_t> shaded = m_deposit;
    dispatchSampleType(type, [&](auto sample) {
        using T = decltype(sample);
        shadeFrost<T>(reinterpret_cast<T*>(shaded.data()), std::ptrdiff_t(area.width()) * 4, area, width,
                      cover, m_coverage, lastRun.shadow);
    });
    setData(result, area, shaded.data(), unsigned(stride), rgba);
    context.advance();
    ++m_counts.shading;
    return RunOutcome::Done;
}

namespace {

// Samples of type T as 0 ... 1 and back, rounded half away from zero for the integer types.
template <class T> struct Unit {
    static constexpr float max = std::is_same_v<T, float> ? 1.0f : float(std::numeric_limits<T>::max());
    static float in(T v) { return float(v) / max; }
    static T out(float v) {
        if constexpr (std::is_same_v<T, float>)
            return v;
        else
            return T(std::clamp(v, 0.0f, 1.0f) * max + 0.5f);
    }
};

// Where each image column and row falls on the grid (the full rectangles map onto each other).
struct GridSamples {
    std::vector<int> lo, hi;
    std::vector<float> weight;
    GridSamples(int first, int last, double cellsPerPixel, int cells) {
        const std::size_t n = static_cast<std::size_t>(std::max(0, last - first));
        lo.resize(n);
        hi.resize(n);
        weight.resize(n);
        for (int i = first; i < last; ++i) {
            const double g = std::clamp((i + 0.5) * cellsPerPixel - 0.5, 0.0, double(cells - 1));
            const std::size_t k = std::size_t(i - first);
            lo[k] = int(g);
            hi[k] = std::min(lo[k] + 1, cells - 1);
            weight[k] = float(g - lo[k]);
        }
    }
};

} // namespace

void FrostRenderer::keepDeposit(const FrostParams& key, const FrostRect& area, int32_t type) {
    m_depositKey = key;
    m_depositArea = area;
    m_depositType = type;
    m_depositValid = true;
    ++m_counts.deposit;
}

RunOutcome FrostRenderer::depositAndShadeOnGrid(const FrostParams& lastRun, const FrostGrid& grid, bool grown,
                                                const PixelPlane& source, PixelPlane& result,
                                                const RunContext& context, const FrostHooks& hooks) {
    const int gw = grid.width, gh = grid.height, w = grid.imageWidth, h = grid.imageHeight;
    const double kx = double(gw) / w, ky = double(gh) / h;
    const int32_t type = source.commonType();
    // The picture under the grid's tiles that cover the selection, and the pixel beyond them that
    // the interpolation reaches.
    const FrostRect cover = tileCover(m_gridBounds, gw, gh);
    const FrostRect area =
        FrostRect{int(std::floor((cover.left - 1) / kx)), int(std::floor((cover.top - 1) / ky)),
                  int(std::ceil((cover.right + 1) / kx)), int(std::ceil((cover.bottom + 1) / ky))}
            .intersected({0, 0, w, h});
    const GridSamples columns(area.left, area.right, kx, gw), rows(area.top, area.bottom, ky, gh);
    const std::ptrdiff_t rowSamples = std::ptrdiff_t(area.width()) * 4;
    const std::size_t stride = std::size_t(rowSamples) * sampleBytes(type);
    const PixelFormat rgba = PixelFormat::fromMask(MaskRGBA, type);
    const uint32_t workers = uint32_t(std::max(0, context.maxWorkers));

    if (grown || !m_depositValid || !m_depositKey.sameDepositKey(lastRun) || m_depositType != type ||
        m_depositArea != area) {
        // The splats composed over nothing: a layer of colour and coverage that gives, laid over
        // the picture, what depositing them on the picture one by one would (composing "over" is
        // associative). Laid over the picture scaled up (bilinear, colour weighted by coverage),
        // it is kept as the deposit, so that a change of shadow only shades again.
        m_depositValid = false;
        context.beginPhase(0.1, 1);
        m_layer.assign(std::size_t(gw) * gh * 4, 0.0f);
        m_gridCoverage = m_gridCrystals;
        const FrostDepositSettings settings = FrostDepositSettings::from(lastRun.uniformity, lastRun.freeze,
                                                                         lastRun.transparency, lastRun.color);
        if (!depositFrost<float>(m_layer.data(), std::ptrdiff_t(gw) * 4, {0, 0, gw, gh}, gw, gh, m_gridBounds,
                                 m_gridField, m_gridCrystals, m_gridCoverage, settings, hooks))
            return RunOutcome::Cancelled;
        enlargeFrostMap(grid, m_gridCoverage, m_coverage, context.maxWorkers);
        m_deposit.assign(stride * area.height(), 0);
        if (!area.isEmpty()) getData(source, area, m_deposit.data(), unsigned(stride), rgba);
        dispatchSampleType(type, [&](auto sample) {
            using T = decltype(sample);
            using U = Unit<T>;
            T* pixels = reinterpret_cast<T*>(m_deposit.data());
            MT::parallelFor(
                0, uint32_t(area.height()),
                [&](uint32_t first, uint32_t last) {
                    for (uint32_t r = first; r < last; ++r) {
                        const float wy = rows.weight[r];
                        const float* l0 = &m_layer[std::size_t(rows.lo[r]) * gw * 4];
                        const float* l1 = &m_layer[std::size_t(rows.hi[r]) * gw * 4];
                        T* p = pixels + std::ptrdiff_t(r) * rowSamples;
                        for (int i = 0; i < area.width(); ++i, p += 4) {
                            const int a = columns.lo[i] * 4, b = columns.hi[i] * 4;
                            const float u = columns.weight[i];
                            const float wts[4] = {(1 - u) * (1 - wy), u * (1 - wy), (1 - u) * wy, u * wy};
                            const float* corner[4] = {l0 + a, l0 + b, l1 + a, l1 + b};
                            float coverage = 0, premultiplied[3] = {0, 0, 0};
                            for (int k = 0; k < 4; ++k) {
                                const float c = wts[k] * corner[k][3];
                                coverage += c;
                                for (int ch = 0; ch < 3; ++ch) premultiplied[ch] += c * corner[k][ch];
                            }
                            if (coverage <= 0.0f) continue;
                            const float alpha = U::in(p[3]);
                            const float alphaOut = coverage + alpha * (1.0f - coverage);
                            for (int ch = 0; ch < 3; ++ch)
                                p[ch] =
                                    U::out((premultiplied[ch] + U::in(p[ch]) * alpha * (1.0f - coverage)) /
                                           alphaOut);
                            p[3] = U::out(alphaOut);
                        }
                    }
                },
                8, workers);
        });
        if (hooks.isCancelled()) return RunOutcome::Cancelled;
        context.advance();
        keepDeposit(lastRun, area, type);
    }

    // Shading on the grid: the factor by which each cell's colour is darkened, scaled up.
    context.beginPhase(0.1, 1);
    const float darkened = float(int((100 - lastRun.shadow) * 255 / 100)) / 255.0f;
    std::vector<float> shade(std::size_t(gw) * gh, 1.0f);
    for (int y = std::max(1, cover.top); y < cover.bottom; ++y)
        for (int x = std::max(1, cover.left); x < cover.right; ++x)
            if (m_gridCoverage[std::size_t(y) * gw + x] && !m_gridCoverage[std::size_t(y - 1) * gw + x - 1])
                shade[std::size_t(y) * gw + x] = darkened;
    copySourceToResult(source, result);
    if (area.isEmpty()) return RunOutcome::Done;
    std::vector<uint8_t> shaded = m_deposit;
    if (darkened < 1.0f)
        dispatchSampleType(type, [&](auto sample) {
            using T = decltype(sample);
            using U = Unit<T>;
            T* pixels = reinterpret_cast<T*>(shaded.data());
            MT::parallelFor(
                0, uint32_t(area.height()),
                [&](uint32_t first, uint32_t last) {
                    for (uint32_t r = first; r < last; ++r) {
                        const float wy = rows.weight[r];
                        const float* s0 = &shade[std::size_t(rows.lo[r]) * gw];
                        const float* s1 = &shade[std::size_t(rows.hi[r]) * gw];
                        T* p = pixels + std::ptrdiff_t(r) * rowSamples;
                        for (int i = 0; i < area.width(); ++i, p += 4) {
                            const int a = columns.lo[i], b = columns.hi[i];
                            const float u = columns.weight[i];
                            const float top = s0[a] + u * (s0[b] - s0[a]);
                            const float bottom = s1[a] + u * (s1[b] - s1[a]);
                            const float factor = top + wy * (bottom - top);
                            if (factor >= 1.0f) continue;
                            for (int ch = 0; ch < 3; ++ch) p[ch] = U::out(U::in(p[ch]) * factor);
                        }
                    }
                },
                8, workers);
        });
    setData(result, area, shaded.data(), unsigned(stride), rgba);
    context.advance();
    ++m_counts.shading;
    return RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
