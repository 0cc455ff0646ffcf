#include "document/filters/lightning/LightningRenderer.h"

#include "document/filters/Composite.h"
#include "document/filters/common/BoxGaussian.h"
#include "document/filters/common/Random.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace Orvex::Document::Filters {

using namespace DataStorage;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Vec {
    double x = 0, y = 0;
};
inline Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y};
}
inline Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y};
}
inline Vec operator*(double k, Vec a) {
    return {k * a.x, k * a.y};
}

// The points of a walk, as later branches read them: position and strength.
struct Samples {
    std::vector<double> x, y, strength;
    size_t capacity = 0;
    void reset(size_t n) {
        capacity = n;
        x.assign(n, 0.0);
        y.assign(n, 0.0);
        strength.assign(n, 1.0);
    }
};

// One soft disc: centre, radius, strength, glow factor and its pixel box inside the working area.
struct Stamp {
    double x, y, radius, strength, glow;
    int x0, y0, x1, y1;
};

// Collects the stamps of the walks in drawing order; the discs are rasterised afterwards, band by
// band on the jobs pool, each band applying the stamps that reach it in that same order, so that
// every pixel sees the very operations of a serial pass.
class Stamper {
public:
    explicit Stamper(LightningStrikes& s) : m_s(s) {}

    void stamp(Vec p, double radius, double strength, double glowFactor) {
        if (!(radius > 0) || !(strength > 0) || !std::isfinite(p.x) || !std::isfinite(p.y)) return;
        const RectI& area = m_s.area;
        const double reach = std::floor(radius + 1.0);
        // Far outside the area: nothing to do (and no integer overflow below).
        if (p.x + reach < area.left || p.x - reach > area.right || p.y + reach < area.top ||
            p.y - reach > area.bottom)
            return;
        Stamp st{p.x, p.y, radius, strength, glowFactor, 0, 0, 0, 0};
        st.x0 = std::max(area.left, int(std::floor(p.x) - reach));
        st.x1 = std::min(area.right, int(std::floor(p.x + 1.0) + reach));
        st.y0 = std::max(area.top, int(std::floor(p.y) - reach));
        st.y1 = std::min(area.bottom, int(std::floor(p.y + 1.0) + reach));
        if (st.x0 >= st.x1 || st.y0 >= st.y1) return;
        m_stamps.push_back(st);
        RectI& t = m_s.touched;
        if (t.isEmpty()) {
            t = RectI{st.x0, st.y0, st.x1, st.y1};
        } else {
            t.left = std::min(t.left, st.x0), t.top = std::min(t.top, st.y0);
            t.right = std::max(t.right, st.x1), t.bottom = std::max(t.bottom, st.y1);
        }
    }

    // Zeroes the buffers and applies every stamp; each band of rows is first touched by its worker.
    void rasterise(int maxWorkers) {
        const RectI area = m_s.area;
        const int width = area.width();
        const int bands = (area.height() + kBandRows - 1) / kBandRows;
        std::vector<std::vector<uint32_t>> perBand(static_cast<size_t>(bands));
        for (size_t i = 0; i < m_stamps.size(); ++i) {
            const Stamp& st = m_stamps[i];
            for (int b = (st.y0 - area.top) / kBandRows; b <= (st.y1 - 1 - area.top) / kBandRows; ++b)
                perBand[size_t(b)].push_back(uint32_t(i));
        }
        const bool glows = !m_s.glow.empty();
        MT::parallelFor(
            0, uint32_t(bands),
            [&](uint32_t first, uint32_t last) {
                for (uint32_t b = first; b < last; ++b) {
                    const int top = area.top + int(b) * kBandRows;
                    const int bottom = std::min(area.bottom, top + kBandRows);
                    const size_t rowsStart = size_t(top - area.top) * size_t(width);
                    const size_t count = size_t(bottom - top) * size_t(width);
                    std::fill_n(m_s.bolt.data() + rowsStart, count, 0.0f);
                    if (glows) std::fill_n(m_s.glow.data() + rowsStart, count, 0.0f);
                    for (uint32_t index : perBand[b]) {
                        const Stamp& st = m_stamps[index];
                        const double r2 = st.radius * st.radius, inverse = 1.0 / st.radius;
                        const float glowFactor = float(st.glow);
                        for (int y = std::max(top, st.y0); y < std::min(bottom, st.y1); ++y) {
                            const double dy = y + 0.5 - st.y;
                            const double dy2 = dy * dy;
                            if (dy2 > r2) continue;
                            const size_t row = size_t(y - area.top) * size_t(width) - size_t(area.left);
                            float* bolt = m_s.bolt.data() + row;
                            float* glow = glows ? m_s.glow.data() + row : nullptr;
                            for (int x = st.x0; x < st.x1; ++x) {
                                const double dx = x + 0.5 - st.x;
                                const double d2 = dx * dx + dy2;
                                if (d2 > r2) continue;
                                const float c = float((1.0 - std::sqrt(d2) * inverse) * st.strength);
                                bolt[x] += (1.0f - bolt[x]) * c;
                                if (glow) glow[x] += c * glowFactor;
                            }
                        }
                    }
                }
            },
            1, maxWorkers > 0 ? uint32_t(maxWorkers) : 0u);
        m_s.stamps = int64_t(m_stamps.size());
    }

private:
    static constexpr int kBandRows = 16;
    LightningStrikes& m_s;
    std::vector<Stamp> m_stamps;
};

// Clips the segment a-b to the box [xmin, xmax] x [ymin, ymax]; false when nothing is left.
bool clipToBox(Vec& a, Vec& b, double xmin, double ymin, double xmax, double ymax) {
    auto inside = [&](Vec p) { return p.x >= xmin && p.x <= xmax && p.y >= ymin && p.y <= ymax; };
    const bool aIn = inside(a), bIn = inside(b);
    if (aIn && bIn) return true;
    // Bounded intersections with the four edges, as parameters along a-b.
    double found[4];
    Vec points[4];
    int count = 0;
    auto add = [&](double t) {
        if (!(t >= 0.0 && t <= 1.0)) return;
        const Vec p = a + t * (b - a);
        if (!(p.x >= xmin - 1e-9 && p.x <= xmax + 1e-9 && p.y >= ymin - 1e-9 && p.y <= ymax + 1e-9)) return;
        for (int i = 0; i < count; ++i)
            if (std::hypot(points[i].x - p.x, points[i].y - p.y) < 1e-12) return;
        if (count < 4) found[count] = t, points[count] = p, ++count;
    };
    const Vec d = b - a;
    if (d.x != 0) add((xmin - a.x) / d.x), add((xmax - a.x) / d.x);
    if (d.y != 0) add((ymin - a.y) / d.y), add((ymax - a.y) / d.y);
    if (count == 0) return false;
    if (count == 1 || aIn || bIn) {
        // One end stays; the intersection nearest the outside end replaces it.
        int best = 0;
        for (int i = 1; i < count; ++i)
            if (aIn ? found[i] > found[best] : found[i] < found[best]) best = i;
        if (!aIn && !bIn) return false; // touches a corner only
        (aIn ? b : a) = points[best];
    } else {
        int first = 0, last = 0;
        for (int i = 1; i < count; ++i) {
            if (found[i] < found[first]) first = i;
            if (found[i] > found[last]) last = i;
        }
        a = points[first];
        b = points[last];
    }
    return std::hypot(b.x - a.x, b.y - a.y) > 0;
}

// The remainder of a draw, as an index or step.
inline int mod(Common::cLcgRandom& random, int divisor) {
    return random.next() % divisor;
}

// Emits one piece of curve between nodes: the cubic from the smoothed point `q` to A (9/10 of the way
// to `next`'s side) and the straight run from A to Q' (9/10 of the way to `next`). The main walk
// samples each piece from 0 while below 1 minus half a step; branches from half a step up to 1 plus
// half a step. `sink` returns false to end the walk.
template <class Sink>
bool emitPiece(Vec node, Vec next, Vec q, double length, Vec unit, bool fromHalfStep, Sink&& sink) {
    const Vec a = 0.9 * node + 0.1 * next;
    const Vec toNode = node - q;
    const double d = std::hypot(toNode.x, toNode.y);
    const double dt = 1.0 / (0.1 * length + d);
    const Vec c1 = d < 0.00001 ? q : q + (0.67 / d) * toNode;
    const Vec c2 = a - 0.67 * unit;
    const double tEnd = fromHalfStep ? 1.0 + dt / 2 : 1.0 - dt / 2;
    for (double t = fromHalfStep ? dt / 2 : 0.0; t <= tEnd; t += dt) {
        const double u = 1.0 - t;
        const Vec p = (u * u * u) * q + (3 * t * u * u) * c1 + (3 * t * t * u) * c2 + (t * t * t) * a;
        if (!sink(p)) return false;
    }
    const Vec qNext = 0.1 * node + 0.9 * next;
    const double ds = 1.25 / length;
    const double sEnd = fromHalfStep ? 1.0 + ds / 2 : 1.0 - ds / 2;
    for (double s = fromHalfStep ? ds / 2 : 0.0; s <= sEnd; s += ds)
        if (!sink((1.0 - s) * a + s * qNext)) return false;
    return true;
}

} // namespace

bool LightningRenderer::buildStrikes(const LightningParams& p, SizeI size, LightningStrikes& strikes,
                                     const RunContext& context) {
    strikes.touched = {};
    strikes.stamps = 0;
    // The working area: the end points' bounding box (each a 1 x 1 pixel) cut to the image, in 64 bits
    // so that end points at the limits of int cannot overflow.
    int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
    for (const Segment& s : p.lines) {
        if (s.x1 == s.x2 && s.y1 == s.y2) continue;
        left = std::min<int64_t>(left, std::min(s.x1, s.x2));
        top = std::min<int64_t>(top, std::min(s.y1, s.y2));
        right = std::max<int64_t>(right, int64_t(std::max(s.x1, s.x2)) + 1);
        bottom = std::max<int64_t>(bottom, int64_t(std::max(s.y1, s.y2)) + 1);
    }
    strikes.area = {};
    if (left < right && top < bottom) {
        const RectI box{
            int(std::clamp<int64_t>(left, 0, size.width)), int(std::clamp<int64_t>(top, 0, size.height)),
            int(std::clamp<int64_t>(right, 0, size.width)), int(std::clamp<int64_t>(bottom, 0, size.height))};
        if (!box.isEmpty()) strikes.area = box;
    }
    strikes.bolt.clear();
    strikes.glow.clear();
    if (strikes.area.isEmpty()) return true;
    const RectI area = strikes.area;
    const size_t pixels = size_t(area.width()) * size_t(area.height());
    // Left uninitialised here: the rasterising bands zero their own rows.
    strikes.bolt.resize(pixels);
    strikes.glow.resize(p.halo > 0 ? pixels : 0);
    if (p.halo <= 0) strikes.glow.shrink_to_fit();

    const double s = p.size / 20.0;
    const double h = p.halo * 1000.0 / 10200.0;
    const int walkSmoothing = (100 - p.curvature) / 5 + 1;
    const int branchSmoothing = (300 - 3 * p.branchCurvature) / 10 + 1;
    const double decay = (101 - p.attenuation) / 2000.0;
    Samples samples;
    samples.reset(size_t(std::floor(16.0 * std::hypot(double(area.width()), double(area.height())))));
    Stamper stamper(strikes);
    Common::cLcgRandom random;
    const double xmin = area.left, ymin = area.top, xmax = area.right - 1, ymax = area.bottom - 1;
    auto inArea = [&](Vec v) {
        return v.x >= area.left && v.x < area.right && v.y >= area.top && v.y < area.bottom;
    };

    for (const Segment& seg : p.lines) {
        if (seg.x1 == seg.x2 && seg.y1 == seg.y2) {
            context.advance(2);
            continue;
        }
        Vec e1{double(seg.x1), double(seg.y1)}, e2{double(seg.x2), double(seg.y2)};
        if (!clipToBox(e1, e2, xmin, ymin, xmax, ymax)) {
            context.advance(2);
            continue;
        }
        const double l1 = (std::fabs(e2.x - e1.x) + std::fabs(e2.y - e1.y)) / 1500.0;
        if (!(l1 > 0)) {
            context.advance(2);
            continue;
        }
        const double w0 = std::sqrt(l1) * s;
        const double g = h / l1;
        const double theta = std::atan2(e2.y - e1.y, e2.x - e1.x);
        // Remainders keep the dividend's sign; 64-bit sums so that coordinates far outside the
        // image cannot overflow before the remainder.
        const int sy = int((int64_t(seg.y1) + seg.y2) % 10000), sx = int((int64_t(seg.x1) + seg.x2) % 10000);
        random.seed(uint32_t(sy * sx) + uint32_t(p.randomSeed));

        // The main walk, from the upper end to the lower.
        const Vec start = e2.y < e1.y ? e2 : e1;
        const Vec target = e2.y < e1.y ? e1 : e2;
        Vec node = start, q = start;
        double width = w0, strength = 1.0;
        size_t count = 0;
        bool full = false;
        // Every step emits at least one sample, so the capacity bounds a walk that never passes its
        // target.
        while (!full) {
            width = 0.98 * width + 0.015 * w0;
            strength = 0.98 * strength + 0.012;
            const double phi = std::atan2(target.y - node.y, target.x - node.x);
            const double length = 8.0 + 6.0 * mod(random, 33) / 32.0;
            double deviation = 0;
            for (int k = 0; k < walkSmoothing; ++k) deviation += (mod(random, 65) / 32.0 - 1.0) * kPi / 2;
            deviation /= walkSmoothing;
            const Vec unit{std::cos(phi + deviation), std::sin(phi + deviation)};
            const Vec next = node + length * unit;
            emitPiece(node, next, q, length, unit, false, [&](Vec pt) {
                samples.x[count] = pt.x, samples.y[count] = pt.y, samples.strength[count] = strength;
                ++count;
                stamper.stamp(pt, width, strength, g);
                if (count >= samples.capacity) full = true;
                return !full;
            });
            q = 0.1 * node + 0.9 * next;
            node = next;
            const Vec back = start - target, ahead = next - target;
            if (back.x * ahead.x + back.y * ahead.y <= 0) break;
        }
        context.advance();
        if (context.cancelled()) return false;

        // Branches sprout from random samples of the walk and of earlier branches.
        const int64_t n = int64_t(count);
        if (n > 0 && n * p.branching >= 2400) {
            const double qStep = std::sqrt(1500.0 / double(n)) * decay;
            const int64_t branches = n * p.branching / 1200;
            for (int64_t i = 1; i < branches; ++i) {
                const size_t j = size_t(random.next() % n);
                double b = (mod(random, 33) / 48.0 + 0.25) * samples.strength[j];
                Vec bnode{samples.x[j], samples.y[j]};
                Vec bq = bnode;
                const double radius = (0.5 * double(i) + 1.0) * w0 / double(i + 1);
                double offset = (mod(random, 33) - 16) / 128.0;
                offset += std::sin(double(i) * kPi / 4 + kPi / 8) * kPi / 3;
                size_t index = j;
                bool ended = false;
                while (!ended) {
                    b -= (mod(random, 49) + 32) * qStep / 80.0;
                    if (b < 0) break;
                    const double length = 5.0 + 3.0 * mod(random, 33) / 32.0;
                    double deviation = 0;
                    for (int k = 0; k < branchSmoothing; ++k)
                        deviation += (mod(random, 65) / 32.0 - 1.0) * kPi;
                    deviation /= branchSmoothing;
                    const double dir = theta + offset + deviation;
                    const Vec unit{std::cos(dir), std::sin(dir)};
                    const Vec next = bnode + length * unit;
                    if (!inArea(next)) break;
                    emitPiece(bnode, next, bq, length, unit, true, [&](Vec pt) {
                        stamper.stamp(pt, radius, b, g);
                        if (random.next() % 3 == 0) {
                            ++index;
                            if (index >= samples.capacity) {
                                ended = true;
                                return false;
                            }
                            samples.x[index] = pt.x, samples.y[index] = pt.y, samples.strength[index] = b;
                        }
                        return true;
                    });
                    bq = 0.1 * bnode + 0.9 * next;
                    bnode = next;
                }
            }
        }
        context.advance();
        if (context.cancelled()) return false;
    }

    stamper.rasterise(context.maxWorkers);

    // The glow: the stamps' sum blurred where anything was stamped, with room for the blur's reach.
    if (p.halo > 0 && !strikes.touched.isEmpty()) {
        const double sigma = p.sigma + 1.0;
        const RectI blurred = grown(strikes.touched, int(std::lround(3.0 * sigma)), size).intersected(area);
        float* origin = strikes.glow.data() + size_t(blurred.top - area.top) * size_t(area.width()) +
                        size_t(blurred.left - area.left);
        Common::boxGaussianBlur(origin, area.width(), origin, area.width(), blurred.width(), blurred.height(),
                                sigma, sigma);
        strikes.touched = blurred;
    }
    return true;
}

bool LightningRenderer::sameStrikeKey(const LightningParams& p, SizeI size) const {
    const LightningParams& k = m_key;
    return m_keyValid && m_keySize == size && k.lines == p.lines && k.size == p.size &&
           k.branching == p.branching && k.sigma == p.sigma && k.halo == p.halo &&
           k.curvature == p.curvature && k.branchCurvature == p.branchCurvature &&
           k.attenuation == p.attenuation && k.randomSeed == p.randomSeed;
}

RunOutcome LightningRenderer::process(LightningParams& p, const PixelPlane& source, const MaskChannels& masks,
                                      PixelPlane& result, const RunContext& context) {
    p.clampForRun();
    const int32_t type = checkRgbaPlanes(source, result);
    copySourceToResult(source, result);
    if (p.lines.empty()) return RunOutcome::Done;

    const SizeI size = source.size();
    const bool rebuild = !sameStrikeKey(p, size);
    if (rebuild) {
        m_keyValid = false;
        context.beginPhase(0.7, int64_t(p.lines.size()) * 2);
        if (!buildStrikes(p, size, m_strikes, context)) {
            m_strikes = {};
            return RunOutcome::Cancelled;
        }
        m_key = p;
        m_keySize = size;
        m_keyValid = true;
        ++m_builds;
    }
    const LightningStrikes& strikes = m_strikes;
    const RectI paint = strikes.touched;
    context.beginPhase(rebuild ? 0.3 : 1.0, int64_t(tileSpan(size, paint).count()));
    if (paint.isEmpty()) return RunOutcome::Done;

    // A selection, when the caller gives one with anything selected, limits where the strikes show.
    std::vector<uint8_t> selection;
    if (masks.mask && !maskBounds(masks.mask, context.maxWorkers).isEmpty())
        selection = maskBytes(masks.mask, paint);

    auto unitColour = [](uint32_t argb, float rgba[4]) {
        rgba[0] = float((argb >> 16) & 0xFF) / 255.0f;
        rgba[1] = float((argb >> 8) & 0xFF) / 255.0f;
        rgba[2] = float(argb & 0xFF) / 255.0f;
        rgba[3] = float(argb >> 24) / 255.0f;
    };
    float strike[4], glowColour[4];
    unitColour(p.color, strike);
    unitColour((p.glowColor >> 24) == 0 ? p.color : p.glowColor, glowColour);
    const bool hasGlow = !strikes.glow.empty();
    const int stride = strikes.area.width();

    dispatchSampleType(type, [&](auto sample) {
        using T = decltype(sample);
        forEachRgbaTile<T>(result, paint, context, [&](const RgbaTile<T>& tile) {
            for (int y = tile.area.top; y < tile.area.bottom; ++y) {
                T* r = tile.row(0, y);
                T* g = tile.row(1, y);
                T* b = tile.row(2, y);
                T* a = tile.row(3, y);
                const size_t offset =
                    size_t(y - strikes.area.top) * size_t(stride) - size_t(strikes.area.left);
                const float* bolt = strikes.bolt.data() + offset;
                const float* glow = hasGlow ? strikes.glow.data() + offset : nullptr;
                const uint8_t* selected =
                    selection.empty() ? nullptr
                                      : selection.data() + size_t(y - paint.top) * size_t(paint.width()) -
                                            size_t(paint.left);
                for (int x = tile.area.left; x < tile.area.right; ++x) {
                    const float weight = selected ? float(selected[x]) * (1.0f / 255.0f) : 1.0f;
                    if (glow) {
                        const float as = std::min(1.0f, glow[x]) * glowColour[3] * weight;
                        if (p.glowType)
                            composeOver<T>(r[x], g[x], b[x], a ? a + x : nullptr, glowColour[0],
                                           glowColour[1], glowColour[2], as);
                        else
                            composePlus<T>(r[x], g[x], b[x], a ? a + x : nullptr, glowColour[0],
                                           glowColour[1], glowColour[2], as);
                    }
                    const float as = bolt[x] * strike[3] * weight;
                    if (p.strikeType)
                        composeOver<T>(r[x], g[x], b[x], a ? a + x : nullptr, strike[0], strike[1], strike[2],
                                       as);
                    else
                        composePlus<T>(r[x], g[x], b[x], a ? a + x : nullptr, strike[0], strike[1], strike[2],
                                       as);
                }
            }
            context.advance();
        });
    });
    if (context.cancelled()) return RunOutcome::Cancelled;
    return RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
