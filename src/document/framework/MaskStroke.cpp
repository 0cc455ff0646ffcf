#include "document/framework/MaskStroke.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Orvex::Document::Filters {

using DataStorage::DataChannel;
using DataStorage::TileReadOnly;
using DataStorage::TileReadWrite;
using DataStorage::TileSize;
using ::Orvex::Detail::RectI;

namespace {

// Dabs larger than this many pixels are spread over the jobs pool, one tile per job.
constexpr int64_t ParallelDabArea = 256 * 256;

RectI united(const RectI& a, const RectI& b) {
    if (a.isEmpty()) return b;
    if (b.isEmpty()) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

// Clips the segment to `box` (Liang-Barsky); false when nothing of it lies inside.
bool clipSegment(double& x0, double& y0, double& x1, double& y1, double left, double top, double right,
                 double bottom) {
    const double dx = x1 - x0, dy = y1 - y0;
    double t0 = 0, t1 = 1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 - left, right - x0, y0 - top, bottom - y0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1) return false;
    }
    const double nx0 = x0 + t0 * dx, ny0 = y0 + t0 * dy;
    x1 = x0 + t1 * dx;
    y1 = y0 + t1 * dy;
    x0 = nx0;
    y0 = ny0;
    return true;
}

} // namespace

MaskStroke::MaskStroke(Ref<DataChannel> target, int value, double radius, bool hardLabels)
    : m_target(std::move(target)), m_value(std::clamp(value, 0, 255)), m_hard(hardLabels) {
    if (!m_target || m_target->type() != DataStorage::TypeU8)
        throw std::invalid_argument("MaskStroke needs an 8-bit mask channel");
    m_radius = std::isfinite(radius) ? std::max(0.5, radius) : 0.5;
    m_feather = std::max(1.0, m_radius / 5);
    // A quarter of the radius keeps the scallops of the edge below radius / 128; with coverage
    // taken as a maximum, denser dabs only cost time.
    m_spacing = std::max(0.5, m_radius / 4);
    // The fall-off as a table over the squared distance across the band: no square root per pixel.
    // 1024 steps over the band are finer than the 255 levels of the result.
    const double outer = m_radius + m_feather / 2;
    const double inner = std::max(0.0, m_radius - m_feather / 2);
    m_falloffStart = inner * inner;
    const double span = outer * outer - m_falloffStart;
    m_falloffScale = FalloffSteps / span;
    for (int i = 0; i < FalloffSteps; ++i) {
        const double d = std::sqrt(m_falloffStart + (i + 0.5) / m_falloffScale);
        const double t = std::clamp((outer - d) / m_feather, 0.0, 1.0);
        m_falloff[i] = uint8_t(std::lround(255 * t * t * (3 - 2 * t)));
    }
    m_before = m_target->clone();
    m_coverage = makeRef<DataChannel>(m_target->size(), int32_t(DataStorage::TypeU8));
}

void MaskStroke::stamp(double cx, double cy) {
    if (!std::isfinite(cx) || !std::isfinite(cy)) return;
    const double outer = m_radius + m_feather / 2;
    // Far outside: the rectangle would overflow int before clipping.
    const auto size = m_target->size();
    if (cx + outer < 0 || cy + outer < 0 || cx - outer > size.width || cy - outer > size.height) return;
    const RectI rect = RectI{int(std::floor(cx - outer)), int(std::floor(cy - outer)),
                             int(std::ceil(cx + outer)) + 1, int(std::ceil(cy + outer)) + 1}
                           .intersected(m_target->bounds());
    if (rect.isEmpty()) return;
    auto body = [&](uint32_t tileNum, const RectI& area) { stampTile(tileNum, area, cx, cy); };
    if (int64_t(rect.width()) * rect.height() > ParallelDabArea)
        DataStorage::parallelForTiles(size, rect, body);
    else
        DataStorage::forEachTile(size, rect, body);
    m_dirty = united(m_dirty, rect);
}

void MaskStroke::stampTile(uint32_t tileNum, const RectI& area, double cx, double cy) {
    if (area.isEmpty()) return;
    const double outer = m_radius + m_feather / 2;
    const double inner = m_radius - m_feather / 2;
    const double outer2 = outer * outer;
    const double inner2 = inner > 0 ? inner * inner : -1.0;
    const double hard2 = m_radius * m_radius;
    const uint8_t value = uint8_t(m_value);

    TileReadWrite target(*m_target);
    TileReadWrite coverage(*m_coverage);
    TileReadOnly before(*m_before);
    target.switchTo(tileNum);
    coverage.switchTo(tileNum);
    before.switchTo(tileNum);
    if (!target.isValid() || !coverage.isValid() || !before.isValid()) return;
    const int x0 = area.left & ~(TileSize - 1);
    const int y0 = area.top & ~(TileSize - 1);

    for (int y = area.top; y < area.bottom; ++y) {
        const double dy = y + 0.5 - cy;
        const double dy2 = dy * dy;
        if (dy2 >= outer2) continue;
        // The row's span of the dab, then its solid core (full coverage).
        const double halfOuter = std::sqrt(outer2 - dy2);
        const int first = std::max(area.left, int(std::floor(cx - halfOuter - 0.5)));
        const int last = std::min(area.right, int(std::ceil(cx + halfOuter - 0.5)) + 1);
        if (first >= last) continue;
        int coreFirst = last, coreLast = last;
        if (!m_hard && dy2 < inner2) {
            const double halfInner = std::sqrt(inner2 - dy2);
            coreFirst = std::max(first, int(std::ceil(cx - halfInner - 0.5)));
            coreLast = std::min(last, int(std::floor(cx + halfInner - 0.5)) + 1);
            if (coreFirst >= coreLast) coreFirst = coreLast = last;
        }
        // Row pointers indexed by x - x0.
        uint8_t* out = target.row(y - y0);
        uint8_t* cov = coverage.row(y - y0);
        const uint8_t* old = before.isSolid() ? nullptr : before.row(y - y0);
        const uint8_t solidOld = before.isSolid() ? *before.solidValue() : 0;

        auto ring = [&](int from, int to) {
            for (int x = from; x < to; ++x) {
                const int i = x - x0;
                const double dx = x + 0.5 - cx;
                const double d2 = dx * dx + dy2;
                if (m_hard) {
                    if (d2 <= hard2) {
                        out[i] = value;
                        cov[i] = 255;
                    }
                    continue;
                }
                if (d2 >= outer2) continue;
                const int step = int((d2 - m_falloffStart) * m_falloffScale);
                const int c = step < 0 ? 255 : m_falloff[std::min(step, FalloffSteps - 1)];
                if (c <= cov[i]) continue;
                cov[i] = uint8_t(c);
                const int o = old ? old[i] : solidOld;
                out[i] = uint8_t((o * (255 - c) + m_value * c + 127) / 255);
            }
        };
        ring(first, coreFirst);
        if (coreFirst < coreLast) {
            std::memset(out + (coreFirst - x0), value, size_t(coreLast - coreFirst));
            std::memset(cov + (coreFirst - x0), 255, size_t(coreLast - coreFirst));
        }
        ring(coreLast, last);
    }
}

void MaskStroke::stampSegment(double x0, double y0, double x1, double y1) {
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return;
    const double length = std::hypot(x1 - x0, y1 - y0);
    if (length <= 0) return;
    // Only the part near the channel can paint; a point thrown far away must not cost a dab per
    // spacing all the way out.
    const double margin = m_radius + m_feather + m_spacing;
    double cx0 = x0, cy0 = y0, cx1 = x1, cy1 = y1;
    const auto size = m_target->size();
    if (!clipSegment(cx0, cy0, cx1, cy1, -margin, -margin, size.width + margin, size.height + margin)) {
        m_carry = std::fmod(m_carry + length, m_spacing);
        return;
    }
    const double ux = (x1 - x0) / length, uy = (y1 - y0) / length;
    const double from = std::hypot(cx0 - x0, cy0 - y0);
    const double to = std::hypot(cx1 - x0, cy1 - y0);
    // Positions along the segment where dabs fall: spacing - carry, then every spacing.
    double position = m_spacing - m_carry;
    if (position < from) position += std::ceil((from - position) / m_spacing) * m_spacing;
    for (; position <= to; position += m_spacing) stamp(x0 + ux * position, y0 + uy * position);
    // The carry is the distance from the last dab (possibly outside the clipped part) to the end.
    const double walked = m_carry + length;
    m_carry = std::fmod(walked, m_spacing);
}

RectI MaskStroke::takeDirty() {
    const RectI dirty = m_dirty;
    m_dirty = {};
    return dirty;
}

} // namespace Orvex::Document::Filters
