#include "document/filters/sun/SunRenderer.h"

#include "document/filters/Composite.h"
#include "document/filters/common/BoxGaussian.h"
#include "document/filters/common/Random.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Orvex::Document::Filters {

using namespace DataStorage;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    float r = 0, g = 0, b = 0;
};

Rgb rgbOf(uint32_t argb) {
    return {float((argb >> 16) & 0xFF) / 255.0f, float((argb >> 8) & 0xFF) / 255.0f,
            float(argb & 0xFF) / 255.0f};
}

inline Rgb mix(const Rgb& a, const Rgb& b, float wa) {
    const float wb = 1.0f - wa;
    return {wa * a.r + wb * b.r, wa * a.g + wb * b.g, wa * a.b + wb * b.b};
}

inline int64_t roundHalfAway(double v) {
    return int64_t(v < 0 ? std::ceil(v - 0.5) : std::floor(v + 0.5));
}

int cut(double v, int limit) {
    return int(std::clamp(v, 0.0, double(limit)));
}

// What the glow, halo and rays need per pixel, prepared once per run.
struct Look {
    Rgb sun, glow, halo;
    bool haloOn = false;
    int r0 = 1;             // trunc(R)
    float inversePower = 1; // 1 / power
    double reach = 0;       // beyond R0 + reach the coverage is 0
};

// The glow colour at distance d for a disc value m: the disc blends the sun colour into the glow
// colour, and beyond the disc's edge the halo colour takes over with distance.
inline Rgb glowColour(const Look& look, float m, float d) {
    Rgb c = mix(look.sun, look.glow, m);
    if (look.haloOn && d >= float(look.r0)) {
        const float t = d / float(look.r0) - 1.0f;
        const float h = (t + 1.0f) / (6.0f * t * t + t + 1.0f);
        c = mix(c, look.halo, h);
    }
    return c;
}

// The glow's coverage at distance d, falling with (d - R0)^(1 / power); 0 or less leaves the pixel
// untouched.
inline float glowCoverage(const Look& look, float d) {
    if (d <= float(look.r0)) return 1.0f;
    const float b = std::pow(d - float(look.r0), look.inversePower);
    return 1.0f / (b / 200.0f + 1.0f) - 0.01f;
}

// The glow's coverage beyond R0 sampled every 1/16 pixel of distance out to where it ends, read with
// linear interpolation. The curve is smooth there (its exponent 1 / power is at least 1), so the
// reading stays within a small fraction of an 8-bit level of the formula, and a power per pixel was
// most of the run.
class CoverageTable {
public:
    static constexpr float kSteps = 16.0f;
    explicit CoverageTable(const Look& look) : m_r0(float(look.r0)) {
        const size_t entries = size_t(std::ceil(look.reach * kSteps)) + 2;
        m_values.resize(entries);
        for (size_t i = 0; i < entries; ++i) m_values[i] = glowCoverage(look, m_r0 + float(i) / kSteps);
    }
    float operator()(float d) const {
        if (d <= m_r0) return 1.0f;
        const float x = (d - m_r0) * kSteps;
        const size_t last = m_values.size() - 1;
        if (!(x < float(last))) return m_values[last];
        const size_t i = size_t(x);
        const float f = x - float(i);
        return m_values[i] + f * (m_values[i + 1] - m_values[i]);
    }

private:
    float m_r0;
    std::vector<float> m_values;
};

// What every ray shares: the radius it starts from, its profile across (exponent v, shoulder e0),
// its half width and its opacity.
struct RayShape {
    double radius = 1, v = 1, hw = 1, e0 = 1, opacity = 1, limit = 1;
    bool soft = false; // v >= 0.8: the profile's outer part is the quadratic shoulder
};

} // namespace

double SunRenderer::glowReach(double power) {
    // a = 1 / (b / 200 + 1) - 0.01 > 0 exactly when b < 19800, b = (d - R0)^(1 / power).
    return std::pow(19800.0, std::clamp(power, 0.3, 1.0)) + 2.0;
}

std::vector<SunRay> SunRenderer::layRays(const SunParams& p, SizeI size) {
    std::vector<SunRay> rays;
    if (!p.spikes) return rays;
    const int n = p.number;
    const double R = p.radius;
    const double hw = p.width / 100.0 * R;
    const double L = std::trunc(R / 10.0 * p.maxLength);
    const double cx = p.centerX, cy = p.centerY;
    Common::cLcgRandom random(99);
    const double sector = 2 * kPi / n;
    rays.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        double jitter = 0, f = 1;
        if (p.randomDirection && n >= 3) jitter = (2.0 * random.next() / 32767.0 - 1.0) * 0.4 * sector;
        if (n >= 3) f = random.next() / 32767.0 * 0.7 + 0.3;
        const double theta = double(p.angle) + i * sector + jitter;
        SunRay ray;
        ray.length = R + f * L;
        if (!(ray.length - R > 0)) continue; // every pixel would have 1 - t <= 0
        ray.ex = cx + ray.length * std::cos(theta);
        ray.ey = cy + ray.length * std::sin(theta);
        const double grow = 1.0 + 1.5 * hw;
        ray.x0 = cut(std::trunc(std::min(cx, ray.ex) - grow), size.width);
        ray.y0 = cut(std::trunc(std::min(cy, ray.ey) - grow), size.height);
        ray.x1 = cut(std::trunc(std::max(cx, ray.ex) + grow) + 1, size.width);
        ray.y1 = cut(std::trunc(std::max(cy, ray.ey) + grow) + 1, size.height);
        if (ray.x0 >= ray.x1 || ray.y0 >= ray.y1) continue;
        rays.push_back(ray);
    }
    return rays;
}

RunOutcome SunRenderer::process(SunParams& p, const PixelPlane& source, const MaskChannels&,
                                PixelPlane& result, const RunContext& context) {
    p.clampForRun();
    const int32_t type = checkRgbaPlanes(source, result);
    const SizeI size = source.size();
    const int W = size.width, H = size.height;
    p.clampToImage(W, H);
    copySourceToResult(source, result);
    if (W <= 0 || H <= 0) return RunOutcome::Done;

    const int cx = p.centerX, cy = p.centerY;
    const double R = p.radius;
    const int s = p.smoothColor;

    // The working rectangle around the disc, and the region the softened disc can reach.
    const RectI working{cut(std::trunc(cx - R), W), cut(std::trunc(cy - R), H),
                        cut(std::trunc(cx + R + 1), W), cut(std::trunc(cy + R + 1), H)};
    const RectI discRect = s > 0 ? grown(working, 3 * s, size) : working;

    // The disc, antialiased over one pixel at its edge (a hard disc below a radius of 2).
    context.beginPhase(0.1, 1);
    const int dw = discRect.width(), dh = discRect.height();
    m_disc.assign(size_t(std::max(0, dw)) * size_t(std::max(0, dh)), 0.0f);
    // Rows on the jobs pool: a disc as large as the picture is a picture's worth of square roots.
    MT::parallelFor(
        0, uint32_t(std::max(0, working.height())),
        [&](uint32_t first, uint32_t last) {
            for (int y = working.top + int(first); y < working.top + int(last); ++y)
                for (int x = working.left; x < working.right; ++x) {
                    const double dx = x - cx, dy = y - cy, d2 = dx * dx + dy * dy;
                    float m = 0;
                    if (R >= 2) {
                        const double d = std::sqrt(d2);
                        if (d < R + 0.5) m = d <= R - 0.5 ? 1.0f : float(R + 0.5 - d);
                    } else if (d2 < R * R) {
                        m = 1;
                    }
                    m_disc[size_t(y - discRect.top) * size_t(dw) + size_t(x - discRect.left)] = m;
                }
        },
        16, context.maxWorkers > 0 ? uint32_t(context.maxWorkers) : 0u);
    context.advance();
    if (context.cancelled()) return RunOutcome::Cancelled;

    // The soft edge: the disc blurred by the smooth-colour sigma.
    context.beginPhase(0.1, 1);
    if (s > 0 && !m_disc.empty()) Common::boxGaussianBlur(m_disc.data(), dw, dh, s, s);
    context.advance();
    if (context.cancelled()) return RunOutcome::Cancelled;
    auto discAt = [&](int x, int y) -> float {
        if (x < discRect.left || x >= discRect.right || y < discRect.top || y >= discRect.bottom) return 0.0f;
        return m_disc[size_t(y - discRect.top) * size_t(dw) + size_t(x - discRect.left)];
    };

    Look look;
    look.sun = rgbOf(p.sunColor);
    look.glow = rgbOf(p.glowColor);
    look.halo = rgbOf(p.haloColor);
    look.haloOn = p.halo;
    look.r0 = std::max(1, int(std::trunc(R)));
    look.inversePower = float(1.0 / p.power);
    look.reach = glowReach(p.power);
    const CoverageTable coverageAt(look);

    // The radial table: the glow colour per whole-pixel distance, which the rays lay over the glow.
    // Each entry takes the disc value found at that distance on the axes through the centre (the
    // softened disc is round, so any direction inside the image serves).
    const size_t entries = size_t(W) + size_t(H) + 1;
    m_radial.resize(3 * entries);
    for (size_t k = 0; k < entries; ++k) {
        const int64_t kk = int64_t(k);
        float m = 0;
        if (kk < int64_t(W) + H) {
            const int step = int(kk);
            m = std::max(
                {discAt(cx + step, cy), discAt(cx - step, cy), discAt(cx, cy + step), discAt(cx, cy - step)});
        }
        const Rgb c = glowColour(look, m, float(k));
        m_radial[3 * k] = c.r, m_radial[3 * k + 1] = c.g, m_radial[3 * k + 2] = c.b;
    }

    const std::vector<SunRay> rays = layRays(p, size);
    RayShape shape;
    shape.radius = R;
    shape.v = (101 - p.breadth) / 10.0;
    shape.hw = p.width / 100.0 * R;
    shape.e0 = std::pow(0.75, 1.0 / shape.v);
    shape.opacity = 1.0 - p.transparency / 100.0;
    shape.soft = shape.v >= 0.8;
    shape.limit = shape.soft ? 1.5 * shape.hw : shape.hw;

    // Glow, rays and composition, tile by tile.
    const TileSpan span = tileSpan(size, RectI::fromSize(size));
    context.beginPhase(0.8, int64_t(span.count()));
    const double glowRadius = look.r0 + look.reach;
    const double radius2 = R * R;

    dispatchSampleType(type, [&](auto sample) {
        using T = decltype(sample);
        forEachRgbaTile<T>(result, RectI::fromSize(size), context, [&](const RgbaTile<T>& tile) {
            const RectI& area = tile.area;
            // The tile's nearest point to the centre decides whether the glow can reach it.
            const double nx = std::clamp<double>(cx, area.left, area.right - 1) - cx;
            const double ny = std::clamp<double>(cy, area.top, area.bottom - 1) - cy;
            const bool glows = std::sqrt(nx * nx + ny * ny) < glowRadius;
            std::vector<const SunRay*> tileRays;
            for (const SunRay& ray : rays) {
                if (ray.x1 <= area.left || ray.x0 >= area.right || ray.y1 <= area.top ||
                    ray.y0 >= area.bottom)
                    continue;
                // The ray's band around its axis must reach the tile, not only its box.
                const double tx = (area.left + area.right - 1) / 2.0, ty = (area.top + area.bottom - 1) / 2.0;
                const double halfDiagonal = std::hypot(area.width(), area.height()) / 2.0;
                const double vx = ray.ex - cx, vy = ray.ey - cy;
                const double along =
                    std::clamp(((tx - cx) * vx + (ty - cy) * vy) / (ray.length * ray.length), 0.0, 1.0);
                const double px = cx + along * vx - tx, py = cy + along * vy - ty;
                if (std::sqrt(px * px + py * py) > halfDiagonal + shape.limit + 1.0) continue;
                tileRays.push_back(&ray);
            }
            const size_t rayCount = tileRays.size();
            if (!glows && rayCount == 0) {
                context.advance();
                return;
            }
            for (int y = area.top; y < area.bottom; ++y) {
                T* red = tile.row(0, y);
                T* green = tile.row(1, y);
                T* blue = tile.row(2, y);
                T* alpha = tile.row(3, y);
                const int64_t dy = int64_t(y) - cy;
                for (int x = area.left; x < area.right; ++x) {
                    const int64_t dx = int64_t(x) - cx;
                    const int64_t q = dx * dx + dy * dy;
                    const float d = float(std::sqrt(double(q)));
                    // The layer starts with the sun colour and no coverage.
                    Rgb c = look.sun;
                    float a = 0;
                    if (glows) {
                        const float coverage = coverageAt(d);
                        if (coverage > 0) {
                            c = glowColour(look, discAt(x, y), d);
                            a = coverage;
                        }
                    }
                    if (rayCount && double(q) >= radius2) {
                        const double dd = std::sqrt(double(q));
                        double lit = 0;
                        for (size_t i = 0; i < rayCount; ++i) {
                            const SunRay& ray = *tileRays[i];
                            if (x < ray.x0 || x >= ray.x1 || y < ray.y0 || y >= ray.y1) continue;
                            const double t = (dd - shape.radius) / (ray.length - shape.radius);
                            if (1.0 - t <= 0) continue;
                            const double vx = ray.ex - cx, vy = ray.ey - cy;
                            const double projection = double(dx) * vx + double(dy) * vy;
                            const double pd = projection > 0 && projection < ray.length * ray.length
                                                  ? std::fabs(double(dx) * vy - double(dy) * vx) / ray.length
                                                  : dd;
                            if (pd >= shape.limit) continue;
                            double profile;
                            if (shape.soft && pd > shape.e0 * shape.hw) {
                                const double u =
                                    (1.5 * shape.hw - pd) / (1.5 * shape.hw - shape.e0 * shape.hw);
                                profile = 1.0 - 0.25 * u * u;
                            } else {
                                profile = std::pow(pd / shape.hw, shape.v);
                            }
                            const double k = (1.0 - t) * (1.0 - profile) * shape.opacity;
                            lit += (1.0 - lit) * k;
                            if (lit >= 1.0) break;
                        }
                        if (lit > 0) {
                            const int64_t entry = std::min<int64_t>(roundHalfAway(dd), int64_t(entries) - 1);
                            const float* tc = &m_radial[3 * size_t(entry)];
                            const float sl = float(lit);
                            const float covered = (1.0f - sl) * a + sl;
                            const float keep = (1.0f - sl) * a;
                            c = {(sl * tc[0] + keep * c.r) / covered, (sl * tc[1] + keep * c.g) / covered,
                                 (sl * tc[2] + keep * c.b) / covered};
                            a = covered;
                        }
                    }
                    if (a > 0)
                        composeOver<T>(red[x], green[x], blue[x], alpha ? alpha + x : nullptr, c.r, c.g, c.b,
                                       std::min(a, 1.0f));
                }
            }
            context.advance();
        });
    });
    if (context.cancelled()) return RunOutcome::Cancelled;
    return RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
