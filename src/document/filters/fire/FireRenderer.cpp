#include "document/filters/fire/FireRenderer.h"

#include "document/filters/Composite.h"
#include "document/filters/common/ColorSpaces.h"

#include <algorithm>
#include <cmath>

namespace Orvex::Document::Filters {

using namespace DataStorage;

std::vector<uint8_t> FireRenderer::selectionOnGrid(const DataChannel& mask, const FireGeometry& g) {
    return maskBytesOnGrid(mask, g.gridWidth, g.gridHeight);
}

namespace {

template <class T>
void composeFire(PixelPlane& result, const FlameCanvas& canvas, const FireGeometry& g, const FireParams& p,
                 const RunContext& context) {
    const float hue = p.hue / 360.0f;
    const float opacity = 1.0f - p.transparency / 100.0f;
    const int cw = g.canvasWidth, ch = g.canvasHeight;
    // Canvas position of a picture pixel: the full rectangles map onto each other.
    const double kx = double(cw) / g.imageWidth, ky = double(ch) / g.imageHeight;
    auto canvasX = [&](int x) { return std::clamp(float((x + 0.5) * kx - 0.5), 0.0f, float(cw - 1)); };
    auto canvasY = [&](int y) { return std::clamp(float((y + 0.5) * ky - 0.5), 0.0f, float(ch - 1)); };
    forEachRgbaTile<T>(result, result.bounds(), context, [&](const RgbaTile<T>& tile) {
        const RectI& a = tile.area;
        // Skip tiles the flames do not reach.
        const int cx0 = int(canvasX(a.left)), cx1 = std::min(cw - 1, int(canvasX(a.right - 1)) + 1);
        const int cy0 = int(canvasY(a.top)), cy1 = std::min(ch - 1, int(canvasY(a.bottom - 1)) + 1);
        float peak = 0.0f;
        for (int cy = cy0; cy <= cy1; ++cy)
            for (int cx = cx0; cx <= cx1; ++cx) peak = std::max(peak, canvas[std::size_t(cy) * cw + cx]);
        if (peak < 0.0001f) return;
        for (int y = a.top; y < a.bottom; ++y) {
            T* red = tile.row(0, y);
            T* green = tile.row(1, y);
            T* blue = tile.row(2, y);
            T* alpha = tile.row(3, y);
            const float fy = canvasY(y);
            const int iy = int(fy), iy1 = std::min(iy + 1, ch - 1);
            const float wy = fy - float(iy);
            const float* r0 = &canvas[std::size_t(iy) * cw];
            const float* r1 = &canvas[std::size_t(iy1) * cw];
            for (int x = a.left; x < a.right; ++x) {
                const float fx = canvasX(x);
                const int ix = int(fx), ix1 = std::min(ix + 1, cw - 1);
                const float wx = fx - float(ix);
                const float top = r0[ix] + wx * (r0[ix1] - r0[ix]);
                const float bottom = r1[ix] + wx * (r1[ix1] - r1[ix]);
                const float v = std::clamp(top + wy * (bottom - top), 0.0f, 1.0f);
                if (v < 0.0001f) continue;
                FlameColor c = flameRamp(v);
                if (hue != 0.0f) Common::shiftHue(c.r, c.g, c.b, hue);
                composeOver<T>(red[x], green[x], blue[x], alpha ? &alpha[x] : nullptr, c.r, c.g, c.b,
                               opacity * v);
            }
        }
        context.advance();
    });
}

} // namespace

RunOutcome FireRenderer::process(FireParams& lastRun, const PixelPlane& source, const MaskChannels& masks,
                                 PixelPlane& result, const RunContext& context) {
    const int32_t type = checkRgbaPlanes(source, result);
    lastRun.clampForRun();
    const RectI bounds = maskBounds(masks.mask, context.maxWorkers);
    if (bounds.isEmpty()) {
        copySourceToResult(source, result);
        return RunOutcome::Done;
    }
    const FireGeometry geometry = FireGeometry::forImage(source.size().width, source.size().height);
    const bool cached = m_cacheValid && m_cacheKey.sameFlameKey(lastRun) &&
                        m_geometry.imageWidth == geometry.imageWidth &&
                        m_geometry.imageHeight == geometry.imageHeight;
    double composeShare = 1.0;
    if (!cached) {
        m_cacheValid = false;
        context.beginPhase(0.9, 1);
        const std::vector<uint8_t> gridMask = selectionOnGrid(*masks.mask, geometry);
        FlameCallbacks callbacks;
        callbacks.cancelled = [&] { return context.cancelled(); };
        callbacks.beginTongues = [&](int64_t steps) { context.beginPhase(0.9, steps); };
        callbacks.advance = [&](int64_t steps) { context.advance(steps); };
        callbacks.maxWorkers = context.maxWorkers;
        FlameCanvas canvas;
        const FlameOutcome outcome = drawFlameCanvas(geometry, lastRun, gridMask, canvas, callbacks);
        if (outcome == FlameOutcome::Cancelled) return RunOutcome::Cancelled;
        if (outcome == FlameOutcome::NothingSelected) {
            copySourceToResult(source, result);
            return RunOutcome::Done;
        }
        m_canvas = std::move(canvas);
        m_geometry = geometry;
        m_cacheKey = lastRun;
        m_cacheValid = true;
        ++m_drawings;
        composeShare = 0.1;
    }

    copySourceToResult(source, result);
    const TileSpan span = tileSpan(result.size(), result.bounds());
    context.beginPhase(composeShare, span.count());
    dispatchSampleType(type, [&](auto sample) {
        composeFire<decltype(sample)>(result, m_canvas, m_geometry, lastRun, context);
    });
    if (context.cancelled()) {
        lastRun.transparency = -1; // the next run composes again
        return RunOutcome::Cancelled;
    }
    return RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
