#include "document/filters/rainbow/RainbowRenderer.h"

#include "document/filters/Composite.h"
#include "document/filters/common/BoxGaussian.h"
#include "document/filters/common/Noise.h"

#include <cmath>
#include <mutex>

namespace Orvex::Document::Filters {

using namespace DataStorage;
using Point = RainbowParams::Point;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kEqual = 1e-9;

inline bool same(double a, double b) {
    return std::fabs(a - b) <= kEqual;
}

template <class T> inline T fromUnit(float v);
template <> inline uint8_t fromUnit<uint8_t>(float v) {
    return uint8_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
}
template <> inline uint16_t fromUnit<uint16_t>(float v) {
    return uint16_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 65535.0f));
}
template <> inline float fromUnit<float>(float v) {
    return v;
}

// The spectrum's colour at a wavelength in nanometres, each component raised to the power 0.8.
RainbowColour spectrum(float lambda) {
    float r = 0, g = 0, b = 0;
    if (lambda < 440.0f)
        r = (440.0f - lambda) / 60.0f, b = 1.0f;
    else if (lambda < 490.0f)
        g = (lambda - 440.0f) / 50.0f, b = 1.0f;
    else if (lambda < 510.0f)
        g = 1.0f, b = (510.0f - lambda) / 30.0f;
    else if (lambda < 580.0f)
        r = (lambda - 510.0f) / 70.0f, g = 1.0f;
    else if (lambda < 645.0f)
        r = 1.0f, g = (645.0f - lambda) / 65.0f;
    else
        r = 1.0f;
    return {std::pow(r, 0.8f), std::pow(g, 0.8f), std::pow(b, 0.8f), 0.0f};
}

} // namespace

RainbowCircle RainbowCircle::through(Point p1, Point p2, Point p3) {
    RainbowCircle circle;
    for (const Point* p : {&p1, &p2, &p3})
        if (!std::isfinite(p->x) || !std::isfinite(p->y)) return circle;
    auto coincide = [](Point a, Point b) { return same(a.x, b.x) && same(a.y, b.y); };
    if (coincide(p1, p2) || coincide(p2, p3) || coincide(p1, p3)) return circle;
    // An order whose chords a-b and b-c are not vertical and whose first chord is not horizontal;
    // a vertical chord followed by a horizontal one is a right angle at b, centred between a and c.
    const Point orders[6][3] = {{p1, p2, p3}, {p1, p3, p2}, {p2, p1, p3},
                                {p2, p3, p1}, {p3, p2, p1}, {p3, p1, p2}};
    for (const auto& o : orders) {
        const Point a = o[0], b = o[1], c = o[2];
        const bool firstVertical = same(a.x, b.x), secondVertical = same(b.x, c.x);
        if (firstVertical && same(b.y, c.y)) {
            circle.cx = (a.x + c.x) / 2;
            circle.cy = (a.y + c.y) / 2;
            circle.radius = std::hypot(p1.x - circle.cx, p1.y - circle.cy);
            return circle;
        }
        if (firstVertical || secondVertical || same(a.y, b.y)) continue;
        const double ma = (b.y - a.y) / (b.x - a.x), mb = (c.y - b.y) / (c.x - b.x);
        if (std::fabs(ma - mb) <= kEqual) return circle; // collinear
        const double cx = (ma * mb * (a.y - c.y) + mb * (a.x + b.x) - ma * (b.x + c.x)) / (2 * (mb - ma));
        const double cy = (a.y + b.y) / 2 - (cx - (a.x + b.x) / 2) / ma;
        if (!std::isfinite(cx) || !std::isfinite(cy)) return circle;
        circle.cx = cx, circle.cy = cy;
        circle.radius = std::hypot(p1.x - cx, p1.y - cy);
        return circle;
    }
    return circle; // every chord pair unusable: the points lie on one line
}

std::vector<RainbowColour> rainbowPalette(const RainbowParams& p, int width, int height, double* halfWidth) {
    const double w = double(int64_t(std::min(width, height)) * p.bowWidth) / 800.0 + 1.0;
    const int n = int(std::lround(w));
    if (halfWidth) *halfWidth = w;
    std::vector<RainbowColour> palette(size_t(2 * n + 1));
    for (int i = 0; i <= 2 * n; ++i) {
        const int d = i - n;
        const int dr = p.reverse ? -d : d;
        const float lambda = std::clamp(400.0f * float((w + dr) / (2 * w)) + 380.0f, 380.0f, 780.0f);
        RainbowColour c = spectrum(lambda);
        const double t = std::min(1.0, std::abs(d) / w);
        c.a = float(2 * t * t * t - 3 * t * t + 1);
        palette[size_t(i)] = c;
    }
    if (!p.white) {
        // Softens the spectrum's kinks along the band; the ends repeat.
        std::vector<float> channel(palette.size());
        for (float RainbowColour::*component :
             {&RainbowColour::r, &RainbowColour::g, &RainbowColour::b, &RainbowColour::a}) {
            for (size_t i = 0; i < palette.size(); ++i) channel[i] = palette[i].*component;
            Common::boxGaussianBlur(channel.data(), int(channel.size()), 1, 0.1 * w, 0.0);
            for (size_t i = 0; i < palette.size(); ++i) palette[i].*component = channel[i];
        }
    }
    return palette;
}

bool RainbowRenderer::sameKey(const RainbowParams& p, SizeI size, int32_t type) const {
    if (!m_keyValid || m_keySize != size || m_keyType != type) return false;
    const RainbowParams& k = m_key;
    auto near = [](const Point& a, const Point& b) {
        return std::fabs(a.x - b.x) <= 1e-12 && std::fabs(a.y - b.y) <= 1e-12;
    };
    if (!near(k.pt0, p.pt0) || !near(k.pt1, p.pt1) || !near(k.pt2, p.pt2)) return false;
    if (k.bowWidth != p.bowWidth || k.reverse != p.reverse || k.white != p.white) return false;
    return !p.white ||
           (k.frequency == p.frequency && k.noiseLevel == p.noiseLevel && k.colorizing == p.colorizing);
}

RunOutcome RainbowRenderer::process(RainbowParams& p, const PixelPlane& source, const MaskChannels& masks,
                                    PixelPlane& result, const RunContext& context) {
    p.clampForRun();
    const int32_t type = checkRgbaPlanes(source, result);
    const SizeI size = source.size();
    const int W = size.width, H = size.height;

    const bool repaint = !sameKey(p, size, type);
    const bool shieldGiven = masks.strokes && !masks.strokes->isEmpty() && masks.strokes->size() == size &&
                             !maskBounds(masks.strokes, context.maxWorkers).isEmpty();
    const bool reshield = shieldGiven && p.maskRevision != m_shieldRevision;
    const double total = (repaint ? 0.7 : 0.0) + (reshield ? 0.1 : 0.0) + 0.2;

    copySourceToResult(source, result);

    // The shield, remade only when the strokes' revision moved.
    if (!shieldGiven) {
        m_shield = Ref<DataChannel>();
    } else if (reshield || !m_shield) {
        context.beginPhase(0.1 / total, 1);
        Ref<DataChannel> shield(new DataChannel(size, TypeU8));
        if (masks.strokes->type() == TypeU8) {
            copyChannel(*shield, *masks.strokes, masks.strokes->bounds());
        } else {
            const DataChannel bytes(*masks.strokes, TypeU8);
            copyChannel(*shield, bytes, bytes.bounds());
        }
        if (context.cancelled()) {
            m_shieldRevision = -1;
            p.maskRevision = 0;
            return RunOutcome::Cancelled;
        }
        m_shield = shield;
        m_shieldRevision = p.maskRevision;
        context.advance();
    }

    auto fail = [&] {
        m_keyValid = false;
        m_blocks.clear();
        m_painted = {};
        p.bowWidth = -1; // the next run repaints
    };

    if (repaint) {
        const RainbowCircle circle = RainbowCircle::through(p.pt0, p.pt1, p.pt2);
        if (circle.radius <= 0 || circle.radius < 5) {
            fail();
            return RunOutcome::Done;
        }
        const double R = circle.radius, cx = circle.cx, cy = circle.cy;
        // The arc's span through pt1, counter-clockwise on the screen.
        auto angle = [&](Point q) { return std::atan2(-(q.y - cy), q.x - cx); };
        const double t2 = angle(p.pt2);
        double t0 = angle(p.pt0), t1 = angle(p.pt1);
        if (t0 < t2) t0 += 2 * kPi;
        if (t1 < t2) t1 += 2 * kPi;
        double start, end;
        if (t0 < t1)
            start = t0, end = t2 + 2 * kPi;
        else
            start = t2, end = t0;
        double w = 0;
        const std::vector<RainbowColour> palette = rainbowPalette(p, W, H, &w);
        const int n = int(palette.size() / 2);
        const double margin = w / R;
        const double gapFirst = end + margin, gapLast = start + 2 * kPi - margin;
        const double ri = std::max(0.0, R - w), ro = R + w;

        // The working rectangle around the circle, cut to the image. Coordinates far outside any
        // image are cut in doubles first, so that no integer overflows.
        const double cxT = std::trunc(cx), cyT = std::trunc(cy), reach = std::trunc(w) + std::trunc(R);
        auto cut = [](double v, int limit) { return int(std::clamp(v, 0.0, double(limit))); };
        const RectI rect{cut(cxT - reach, W), cut(cyT - reach, H), cut(cxT + reach + 1, W),
                         cut(cyT + reach + 1, H)};
        const int cX = int(std::clamp(cxT, -1e9, 1e9)), cY = int(std::clamp(cyT, -1e9, 1e9));
        context.beginPhase(0.7 / total, int64_t(rect.width()) * rect.height());

        const bool white = p.white;
        const float level = float(p.noiseLevel) / 255.0f;
        const float inverseFrequency = 1.0f / float(p.frequency);
        const float k = float(p.colorizing) / 100.0f;
        const Common::cGradientNoise3* noise =
            white && level > 0 ? &Common::cGradientNoise3::instance() : nullptr;
        const int e0x = int(std::trunc(p.pt0.x)), e0y = int(std::trunc(p.pt0.y));
        const int e2x = int(std::trunc(p.pt2.x)), e2y = int(std::trunc(p.pt2.y));
        const TileSpan span = tileSpan(size, rect);
        const bool mayReject = span.countX >= 4 && span.countY >= 4;
        auto inGap = [&](double theta) { return theta >= gapFirst && theta <= gapLast; };
        auto raised = [&](double theta) {
            while (theta < start) theta += 2 * kPi;
            return theta;
        };
        const uint32_t tilesX = (uint32_t(W) + TileSize - 1) / TileSize;
        const uint32_t tilesY = (uint32_t(H) + TileSize - 1) / TileSize;
        std::vector<std::unique_ptr<uint8_t[]>> blocks(size_t(tilesX) * tilesY);
        std::vector<RectI> paintedPerTile(blocks.size());

        dispatchSampleType(type, [&](auto sample) {
            using T = decltype(sample);
            const size_t blockBytes = size_t(TileSize) * TileSize * 4 * sizeof(T);
            parallelForTiles(
                size, rect,
                [&](uint32_t tileNum, const RectI& part) {
                    if (context.cancelled() || part.isEmpty()) return;
                    const int64_t partPixels = int64_t(part.width()) * part.height();
                    if (mayReject) {
                        const double xs[2] = {double(part.left), double(part.right)};
                        const double ys[2] = {double(part.top), double(part.bottom)};
                        bool inside = false, outside = false, allGap = true;
                        for (double x : xs)
                            for (double y : ys) {
                                const double dx = x - cx, dy = y - cy, d2 = dx * dx + dy * dy;
                                inside |= d2 < ro * ro;
                                outside |= d2 > ri * ri;
                                allGap &= inGap(raised(std::atan2(-dy, dx)));
                            }
                        if (!inside || !outside || allGap) {
                            context.advance(partPixels);
                            return;
                        }
                    }
                    const int x0 = int(tileNum % tilesX) * int(TileSize),
                              y0 = int(tileNum / tilesX) * int(TileSize);
                    T* block = nullptr;
                    RectI painted{part.right, part.bottom, part.left, part.top};
                    for (int y = part.top; y < part.bottom; ++y) {
                        const double dy = y - cy;
                        for (int x = part.left; x < part.right; ++x) {
                            const double dx = x - cx;
                            const double delta = std::sqrt(dx * dx + dy * dy) - R;
                            const double f = std::floor(delta);
                            const int i = int(f) + n;
                            if (!(delta > -n - 1.0 && delta < n + 1.0) || i < 0 || i > 2 * n) continue;
                            const float tau = float(delta - f);
                            const RainbowColour& c0 = palette[size_t(i)];
                            const RainbowColour& c1 = i == 2 * n ? c0 : palette[size_t(i) + 1];
                            const float a = i == 2 * n ? c0.a : (1 - tau) * c0.a + tau * c1.a;
                            if (!(a > 0)) continue;
                            const double theta = raised(std::atan2(-dy, dx));
                            float fade = 1.0f;
                            if (theta > end) {
                                if (inGap(theta)) continue;
                                const int64_t ax = x - e0x, ay = y - e0y, bx = x - e2x, by = y - e2y;
                                const int64_t e = std::min(ax * ax + ay * ay, bx * bx + by * by);
                                const double u = std::sqrt(double(e)) / w;
                                if (u >= 1) continue;
                                fade = float(2 * u * u * u - 3 * u * u + 1);
                            }
                            float r = c0.r, g = c0.g, b = c0.b;
                            if (i != 2 * n) {
                                r = (1 - tau) * c0.r + tau * c1.r;
                                g = (1 - tau) * c0.g + tau * c1.g;
                                b = (1 - tau) * c0.b + tau * c1.b;
                            }
                            float alpha = std::min(fade, a);
                            if (white) {
                                if (noise) {
                                    const float nx = float(std::abs(x - cX)) * inverseFrequency;
                                    const float ny = float(std::abs(y - cY)) * inverseFrequency;
                                    alpha = std::clamp(alpha - 0.5f * level +
                                                           level * noise->twoOctaves(nx, ny, 0.5f),
                                                       0.0f, 1.0f);
                                }
                                r = k * r + (1 - k), g = k * g + (1 - k), b = k * b + (1 - k);
                            }
                            if (!block) {
                                block = reinterpret_cast<T*>(new uint8_t[blockBytes]());
                                blocks[tileNum].reset(reinterpret_cast<uint8_t*>(block));
                            }
                            T* out = block + (size_t(y - y0) * TileSize + size_t(x - x0)) * 4;
                            out[0] = fromUnit<T>(r), out[1] = fromUnit<T>(g), out[2] = fromUnit<T>(b);
                            out[3] = fromUnit<T>(alpha);
                            painted.left = std::min(painted.left, x),
                            painted.right = std::max(painted.right, x + 1);
                            painted.top = std::min(painted.top, y),
                            painted.bottom = std::max(painted.bottom, y + 1);
                        }
                    }
                    if (block) paintedPerTile[tileNum] = painted;
                    context.advance(partPixels);
                },
                context.maxWorkers > 0 ? uint32_t(context.maxWorkers) : 0u);
        });
        if (context.cancelled()) {
            fail();
            return RunOutcome::Cancelled;
        }
        RectI painted;
        for (const RectI& r : paintedPerTile) {
            if (r.isEmpty()) continue;
            painted = painted.isEmpty()
                          ? r
                          : RectI{std::min(painted.left, r.left), std::min(painted.top, r.top),
                                  std::max(painted.right, r.right), std::max(painted.bottom, r.bottom)};
        }
        if (painted.isEmpty()) {
            fail();
            return RunOutcome::Done;
        }
        m_blocks = std::move(blocks);
        m_painted = painted;
        m_key = p;
        m_keySize = size;
        m_keyType = type;
        m_keyValid = true;
        ++m_paintings;
    }

    // Composition: the cached layer over the photograph, kept off the shield and, when the caller
    // hands in a selection with anything in it, off what is not selected.
    const RectI paint = m_painted;
    context.beginPhase(0.2 / total, int64_t(tileSpan(size, paint).count()));
    if (paint.isEmpty() || m_blocks.empty()) return RunOutcome::Done;
    const float opacity = 1.0f - float(p.transparency) / 100.0f;
    const DataChannel* selection =
        masks.mask && masks.mask->size() == size && !maskBounds(masks.mask, context.maxWorkers).isEmpty()
            ? masks.mask
            : nullptr;
    Ref<DataChannel> selectionBytes;
    if (selection && selection->type() != TypeU8) {
        selectionBytes = Ref<DataChannel>(new DataChannel(*selection, TypeU8));
        selection = selectionBytes.get();
    }
    const DataChannel* shield = m_shield.get();
    dispatchSampleType(type, [&](auto sample) {
        using T = decltype(sample);
        using M = SampleMath<T>;
        forEachRgbaTile<T>(result, paint, context, [&](const RgbaTile<T>& tile) {
            const uint32_t tileNum =
                uint32_t(tile.y0 / int(TileSize)) * result.tilesX() + uint32_t(tile.x0 / int(TileSize));
            const T* block = reinterpret_cast<const T*>(m_blocks[tileNum].get());
            if (!block) {
                context.advance();
                return;
            }
            // Masks read whole tiles; a solid tile is one value.
            std::unique_ptr<TileReadOnly> shieldCursor, selectionCursor;
            if (shield) {
                shieldCursor = std::make_unique<TileReadOnly>(*shield);
                shieldCursor->switchTo(tileNum);
            }
            if (selection) {
                selectionCursor = std::make_unique<TileReadOnly>(*selection);
                selectionCursor->switchTo(tileNum);
            }
            for (int y = tile.area.top; y < tile.area.bottom; ++y) {
                T* r = tile.row(0, y);
                T* g = tile.row(1, y);
                T* b = tile.row(2, y);
                T* a = tile.row(3, y);
                const T* layer = block + size_t(y - tile.y0) * TileSize * 4 - size_t(tile.x0) * 4;
                const uint8_t* shieldRow =
                    shield ? shieldCursor->row<uint8_t>(y - tile.y0) - tile.x0 : nullptr;
                const uint8_t* selectRow =
                    selection ? selectionCursor->row<uint8_t>(y - tile.y0) - tile.x0 : nullptr;
                for (int x = tile.area.left; x < tile.area.right; ++x) {
                    const T* s = layer + size_t(x) * 4;
                    float as = M::unit(s[3]) * opacity;
                    if (!(as > 0)) continue;
                    if (shieldRow) as *= float(255 - shieldRow[x]) * (1.0f / 255.0f);
                    if (selectRow) as *= float(selectRow[x]) * (1.0f / 255.0f);
                    composeOver<T>(r[x], g[x], b[x], a ? a + x : nullptr, M::unit(s[0]), M::unit(s[1]),
                                   M::unit(s[2]), as);
                }
            }
            context.advance();
        });
    });
    if (context.cancelled()) {
        p.transparency = -1; // the next run composes again
        return RunOutcome::Cancelled;
    }
    return RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
