#include "document/filters/rain/RainRenderer.h"

#include "document/filters/Composite.h"
#include "document/filters/common/BoxGaussian.h"
#include "document/filters/common/Random.h"

#include <cmath>
#include <limits>

namespace Orvex::Document::Filters {

using namespace DataStorage;

namespace {

constexpr int BandRows = 64;

// Writes one streak into the rows [rowBegin, rowEnd) of the field (whose origin is `origin`).
void paintStreak(const RainStreak& s, int rowBegin, int rowEnd, float* field, int fieldWidth,
                 const RectI& origin) {
    const float dC = s.bx - s.ax, dR = s.by - s.ay;
    const int top = std::max(s.top, rowBegin), bottom = std::min(s.bottom, rowEnd - 1);
    for (int r = top; r <= bottom; ++r) {
        float* out = field + size_t(r - origin.top) * size_t(fieldWidth) - origin.left;
        const float pr = float(r);
        // The streak is a capsule (a convex set), so each row meets it in one run of columns: the
        // run of the infinite band around the line, widened by the end caps. Only that run (plus a
        // pixel of slack for rounding) is tested; pixels outside it are farther than w anyway.
        float lo = std::numeric_limits<float>::infinity(), hi = -lo;
        if (std::fabs(dR) > 1e-6f) {
            const float xl = s.ax + (pr - s.ay) * dC / dR;
            const float half = s.radius * s.length / std::fabs(dR);
            lo = xl - half, hi = xl + half;
        } else if (s.length > 0 && std::fabs((pr - s.ay) * dC) / s.length <= s.radius) {
            lo = -hi, hi = -lo;
        }
        if (std::fabs(pr - s.ay) <= s.radius)
            lo = std::min(lo, s.ax - s.radius), hi = std::max(hi, s.ax + s.radius);
        if (std::fabs(pr - s.by) <= s.radius)
            lo = std::min(lo, s.bx - s.radius), hi = std::max(hi, s.bx + s.radius);
        if (!(lo <= hi)) continue;
        const int first = int(std::max(float(s.left), std::floor(lo) - 1.0f));
        const int last = int(std::min(float(s.right), std::ceil(hi) + 1.0f));
        for (int c = first; c <= last; ++c) {
            const float pc = float(c);
            const float t1 = (pc - s.ax) * dC + (pr - s.ay) * dR;
            const float t2 = (pc - s.bx) * dC + (pr - s.by) * dR;
            float d;
            if (t1 > 0 && t2 < 0)
                d = std::fabs((pc - s.ax) * dR - (pr - s.ay) * dC) / s.length;
            else if (t1 <= 0)
                d = std::hypot(pc - s.ax, pr - s.ay);
            else
                d = std::hypot(pc - s.bx, pr - s.by);
            if (d <= s.radius) out[c] = 1.0f - d / s.radius; // later drops overwrite earlier ones
        }
    }
}

} // namespace

int RainRenderer::dropCount(const RainParams& p, int W, int H) {
    return int(float(p.density) * float(double(W) * double(H)) / 1000.0f);
}

bool RainRenderer::layoutStreaks(const RainParams& p, int W, int H, const RectI& region,
                                 const std::vector<uint8_t>& selection, std::vector<RainStreak>& streaks,
                                 const RunContext& context) {
    streaks.clear();
    const int drops = dropCount(p, W, H);
    Common::cLcgRandom random(101);
    const float lengthFactor = float(p.length) / 100.0f;
    const float dispersionFactor = float(p.dispersion) / 100.0f;
    const float baseAngle = float(p.angle - 90);
    const float scale = p.scale;
    const float head = 5.0f * scale;
    streaks.reserve(size_t(std::max(0, drops)) / 2 + 16);
    for (int i = 0; i < drops; ++i) {
        if ((i & 1023) == 1023) {
            if (context.cancelled()) return false;
            context.advance(1024);
        }
        const float f = float((random.next() % 101) * 100 / 100 + 20);
        const int x = random.next() % W;
        const int y = random.next() % H;
        if (!region.contains(x, y) ||
            !selection[size_t(y - region.top) * size_t(region.width()) + size_t(x - region.left)])
            continue;
        const int thickness =
            random.next() % 11 + random.next() % 11 + random.next() % 11 + random.next() % 11 + 1;
        const float w = ((float(thickness) * scale) / 10.0f * 20.0f) / f;
        const float L = ((head - w) * float(random.next() % 101 + 100) * lengthFactor * 20.0f) / f;
        const float h = L * 0.5f;
        const float a1 = float(random.next() % 201 - 100) * dispersionFactor + baseAngle;
        const float a2 = float(random.next() % 201 - 100) * dispersionFactor + baseAngle + a1;
        const float theta = float(double(a2) * 0.5 * M_PI / 180.0);
        const float sn = std::sin(theta), cs = std::cos(theta);
        RainStreak s;
        s.ax = float(x) - sn * h, s.ay = float(y) - cs * h;
        s.bx = float(x) + sn * h, s.by = float(y) + cs * h;
        s.radius = w, s.length = L;
        s.top = int(std::max(0.0f, std::min(s.ay, s.by) - w));
        s.bottom = int(std::min(float(H - 1), std::max(s.ay, s.by) + w + 1));
        s.left = int(std::max(0.0f, std::min(s.ax, s.bx) - w));
        s.right = int(std::min(float(W - 1), std::max(s.ax, s.bx) + w + 1));
        streaks.push_back(s);
    }
    context.advance(drops & 1023);
    return !context.cancelled();
}

bool RainRenderer::drawStreaks(const RainParams& p, int W, int H, const RectI& region,
                               const std::vector<uint8_t>& selection, StreakField& field,
                               const RunContext& context) {
    // The drawing phase counts one step per drop for the serial layout and three per drop, spread
    // over the bands, for the painting, which is the larger part of the work.
    const int64_t drops = dropCount(p, W, H);
    context.beginPhase(0.8, 4 * std::max<int64_t>(drops, 1));
    std::vector<RainStreak> streaks;
    if (!layoutStreaks(p, W, H, region, selection, streaks, context)) return false;
    // The blur spreads the streaks by three box radii; the field covers that much beyond the region.
    const int blurReach = 6;
    field.rect = grown(region, blurReach, SizeI{W, H});
    const int fw = field.rect.width(), fh = field.rect.height();
    field.values.clear();
    field.values.resize(size_t(fw) * size_t(fh)); // each band clears its own rows
    // The margin keeps every box inside the region; clip anyway so that rounding never writes outside.
    for (RainStreak& s : streaks) {
        s.top = std::max(s.top, field.rect.top), s.bottom = std::min(s.bottom, field.rect.bottom - 1);
        s.left = std::max(s.left, field.rect.left), s.right = std::min(s.right, field.rect.right - 1);
    }

    // Per-band pass: each band of rows replays, in drop order, the streaks that touch it, so later
    // drops overwrite earlier ones exactly as a serial drawing would, whatever the worker count.
    const int bands = (fh + BandRows - 1) / BandRows;
    std::vector<std::vector<uint32_t>> bandStreaks(size_t(std::max(bands, 0)));
    for (uint32_t i = 0; i < streaks.size(); ++i) {
        if (streaks[i].top > streaks[i].bottom || streaks[i].left > streaks[i].right) continue;
        const int b0 = (streaks[i].top - field.rect.top) / BandRows;
        const int b1 = (streaks[i].bottom - field.rect.top) / BandRows;
        for (int b = b0; b <= b1; ++b) bandStreaks[size_t(b)].push_back(i);
    }
    MT::parallelFor(
        0, uint32_t(bands),
        [&](uint32_t first, uint32_t last) {
            for (uint32_t b = first; b < last; ++b) {
                if (context.cancelled()) return;
                const int rowBegin = field.rect.top + int(b) * BandRows;
                const int rowEnd = std::min(field.rect.bottom, rowBegin + BandRows);
                std::fill(field.values.begin() + std::ptrdiff_t(rowBegin - field.rect.top) * fw,
                          field.values.begin() + std::ptrdiff_t(rowEnd - field.rect.top) * fw, 0.0f);
                // Long streaks at high density make bands slow; a cancel is noticed within 256 streaks.
                const std::vector<uint32_t>& list = bandStreaks[b];
                for (size_t k = 0; k < list.size(); ++k) {
                    if ((k & 255) == 255 && context.cancelled()) return;
                    paintStreak(streaks[list[k]], rowBegin, rowEnd, field.values.data(), fw, field.rect);
                }
                context.advance(3 * drops * (b + 1) / bands - 3 * drops * b / bands);
            }
        },
        1, context.maxWorkers > 0 ? uint32_t(context.maxWorkers) : 0u);
    if (context.cancelled()) return false;

    context.beginPhase(0.1, 1);
    Common::boxGaussianBlur(field.values.data(), fw, fh, 2.0, 2.0);
    context.advance();
    return !context.cancelled();
}

RunOutcome RainRenderer::process(RainParams& p, const PixelPlane& source, const MaskChannels& masks,
                                 PixelPlane& result, const RunContext& context) {
    p.clampForRun();
    const int32_t type = checkRgbaPlanes(source, result);
    copySourceToResult(source, result);
    const RectI selection = maskBounds(masks.mask, context.maxWorkers);
    if (selection.isEmpty()) return RunOutcome::Done;

    const int W = source.width(), H = source.height();
    const int margin = int(std::trunc((p.length * 5 + 4.1) * p.scale + 1)) + 6;
    const RectI region = grown(selection, margin, SizeI{W, H});

    double compositionShare = 1.0;
    if (!m_cacheKey.sameStreakKey(p)) {
        StreakField field;
        const bool drawn = drawStreaks(p, W, H, region, maskBytes(masks.mask, region), field, context);
        if (!drawn) {
            p.density = -1; // neither ParamsUnchanged nor the cache key matches on the next run
            return RunOutcome::Cancelled;
        }
        m_streakCache = std::move(field);
        m_cacheKey = p;
        ++m_drawings;
        compositionShare = 0.1;
    }

    // Composition: the streak field is the weight of a white overlay at opacity k.
    const float k = float(100 - p.transparency) / 100.0f;
    const RectI area = region.intersected(m_streakCache.rect);
    context.beginPhase(compositionShare, std::max<int64_t>(1, int64_t(area.height())));
    const StreakField& field = m_streakCache;
    dispatchSampleType(type, [&](auto sample) {
        using T = decltype(sample);
        forEachRgbaTile<T>(result, area, context, [&](const RgbaTile<T>& tile) {
            for (int y = tile.area.top; y < tile.area.bottom; ++y) {
                T* r = tile.row(0, y);
                T* g = tile.row(1, y);
                T* b = tile.row(2, y);
                T* a = tile.row(3, y);
                const float* weight = field.values.data() +
                                      size_t(y - field.rect.top) * size_t(field.rect.width()) -
                                      field.rect.left;
                for (int x = tile.area.left; x < tile.area.right; ++x)
                    composeOver<T>(r[x], g[x], b[x], a ? a + x : nullptr, 1.0f, 1.0f, 1.0f,
                                   std::clamp(weight[x], 0.0f, 1.0f) * k);
            }
            if (tile.area.left == area.left) context.advance(tile.area.height());
        });
    });
    if (context.cancelled()) {
        p.transparency = -1; // the streak cache stays valid; the next run composes again
        return RunOutcome::Cancelled;
    }
    return RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
