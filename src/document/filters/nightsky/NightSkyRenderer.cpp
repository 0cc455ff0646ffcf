#include "document/filters/nightsky/NightSkyRenderer.h"

#include "document/filters/Composite.h"
#include "document/filters/common/Bilinear.h"
#include "document/filters/common/Random.h"
#include "mt/JobsPool.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace Orvex::Document::Filters {

using namespace DataStorage;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kFaint = 0.00001f; // alphas below this leave a pixel as it is
constexpr int kBandRows = 32;      // rows per job of the zone and deformation passes
constexpr int kStampRows = 8;      // rows per job of the blob stamping, whose band stays in the cache

struct Rgb {
    float r = 0, g = 0, b = 0;
};

// An element colour: its own unless transparent, then the base colour.
Rgb colourOf(uint32_t argb, uint32_t base) {
    const uint32_t c = (argb >> 24) == 0 ? base : argb;
    return {float((c >> 16) & 0xFF) / 255.0f, float((c >> 8) & 0xFF) / 255.0f, float(c & 0xFF) / 255.0f};
}

// Red, green and blue each moved by a signed draw times the deviation (three draws, always).
Rgb deviated(Rgb c, double v, Common::cLcgRandom& random) {
    c.r = float(std::clamp(c.r + random.nextSigned() * v, 0.0, 1.0));
    c.g = float(std::clamp(c.g + random.nextSigned() * v, 0.0, 1.0));
    c.b = float(std::clamp(c.b + random.nextSigned() * v, 0.0, 1.0));
    return c;
}

uint64_t mixHash(uint64_t h, uint64_t v) {
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    return h;
}

// One nebula blob: a star disc of radius `radius` around (x, y), pixel box inside the work area.
struct Blob {
    float x, y, radius, strength;
    Rgb colour;
    int x0, y0, x1, y1;
};

// One row of a disc's "over" into an interleaved premultiplied layer (red, green, blue, alpha per
// pixel); n pixels, the first at dx0 from the centre. The vector version does the very operations of
// the scalar one, lane by lane (no fused multiply-adds), so both give the same bytes.
struct DiscRow {
    float dx0, dy2, inverseR2, sigma, cr, cg, cb;

    inline float alpha(int i) const {
        const float dx = dx0 + float(i);
        const float t = (dx * dx + dy2) * inverseR2;
        const float a = std::min((1.0f - t) * sigma, 1.0f);
        return a >= kFaint ? a : 0.0f;
    }
    inline void pixel(float* rgba, int i) const {
        const float a = alpha(i), keep = 1.0f - a;
        float* p = rgba + 4 * i;
        p[0] = cr * a + p[0] * keep;
        p[1] = cg * a + p[1] * keep;
        p[2] = cb * a + p[2] * keep;
        p[3] = 1.0f * a + p[3] * keep;
    }
};

void discRowScalar(float* rgba, int n, const DiscRow& d) {
    for (int i = 0; i < n; ++i) d.pixel(rgba, i);
}

__attribute__((target("avx2"))) void discRowAvx2(float* rgba, int n, const DiscRow& d) {
    const __m256 lanes = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256 dx0 = _mm256_set1_ps(d.dx0), dy2 = _mm256_set1_ps(d.dy2);
    const __m256 inverse = _mm256_set1_ps(d.inverseR2), sigma = _mm256_set1_ps(d.sigma);
    const __m256 one = _mm256_set1_ps(1.0f), faint = _mm256_set1_ps(kFaint);
    const __m256 colour = _mm256_setr_ps(d.cr, d.cg, d.cb, 1.0f, d.cr, d.cg, d.cb, 1.0f);
    // Each pair of pixels takes its two alphas spread over their four samples.
    const __m256i pairs[4] = {
        _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1), _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3),
        _mm256_setr_epi32(4, 4, 4, 4, 5, 5, 5, 5), _mm256_setr_epi32(6, 6, 6, 6, 7, 7, 7, 7)};
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 dx = _mm256_add_ps(dx0, _mm256_add_ps(_mm256_set1_ps(float(i)), lanes));
        const __m256 t = _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(dx, dx), dy2), inverse);
        __m256 a = _mm256_min_ps(_mm256_mul_ps(_mm256_sub_ps(one, t), sigma), one);
        a = _mm256_and_ps(a, _mm256_cmp_ps(a, faint, _CMP_GE_OQ));
        for (int k = 0; k < 4; ++k) {
            const __m256 ak = _mm256_permutevar8x32_ps(a, pairs[k]);
            const __m256 keep = _mm256_sub_ps(one, ak);
            float* p = rgba + 4 * (i + 2 * k);
            _mm256_storeu_ps(
                p, _mm256_add_ps(_mm256_mul_ps(colour, ak), _mm256_mul_ps(_mm256_loadu_ps(p), keep)));
        }
    }
    for (; i < n; ++i) d.pixel(rgba, i);
}

using DiscRowKernel = void (*)(float*, int, const DiscRow&);
DiscRowKernel discRowKernel() {
    static const DiscRowKernel kernel = __builtin_cpu_supports("avx2") ? discRowAvx2 : discRowScalar;
    return kernel;
}

// Cubic Lagrange weights for nodes -1, 0, 1, 2 at t in [0, 1).
inline void lagrange(double t, double w[4]) {
    w[0] = -t * (t - 1) * (t - 2) / 6;
    w[1] = (t + 1) * (t - 1) * (t - 2) / 2;
    w[2] = -(t + 1) * t * (t - 2) / 2;
    w[3] = (t + 1) * t * (t - 1) / 6;
}

// The deform grid position of an image column or row: index of node 0 and the fraction beyond it.
inline void gridPosition(int pixel, int size, int& node, double& t) {
    const double cell = (size - 1) / 9.0;
    const double g = cell > 0 ? pixel / cell + 1.0 : 1.0;
    node = std::clamp(int(std::floor(g)), 1, 10);
    t = std::clamp(g - node, 0.0, 1.0);
}

// Rejection sampling of zone positions; a budget keeps zones that the draws cannot reach (a
// zone beyond the 32768 columns that `r mod w` can address) from stalling the run.
struct Budget {
    int64_t left;
    explicit Budget(int64_t count, int64_t boxPixels, int64_t zonePixels)
        : left(64 * count * std::max<int64_t>(1, boxPixels / std::max<int64_t>(1, zonePixels)) + 100000) {}
    bool spend() { return --left >= 0; }
};

// Disc i of a streak: its centre, radius and strength (the profile times sigma); not valid past the
// end. Generation and painting both take their discs from here, so they agree to the bit.
struct StreakDisc {
    bool valid = false;
    float x = 0, y = 0, radius = 0, strength = 0;
    double exactRadius = 0; // the pixel box is found with it, before rounding to float
    int left() const { return int(std::ceil(x - 0.5 - exactRadius)); }
    int top() const { return int(std::ceil(y - 0.5 - exactRadius)); }
    int right() const { return int(std::floor(x - 0.5 + exactRadius)) + 1; }
    int bottom() const { return int(std::floor(y - 0.5 + exactRadius)) + 1; }
};
// The profile times sigma at parameter t.
inline float streakStrength(const SkyStamp& s, double t) {
    const double q = s.profile == 1 ? 0.5 + 2.2 * t - 2.5 * t * t : std::pow(1 - 0.9 * t, 3.0);
    return float(q * s.sigma);
}

// `withStrength` false leaves the strength out, for the passes that need only where a disc lies.
inline StreakDisc streakDisc(const SkyStamp& s, int64_t i, bool withStrength = true) {
    StreakDisc d;
    const double t = double(i) * s.step;
    if (!(t <= 1.0)) return d;
    d.valid = true;
    d.x = float((1 - t) * s.sx + t * s.ex), d.y = float((1 - t) * s.sy + t * s.ey);
    d.exactRadius = (1 - 0.3 * t) * s.exactWidth;
    d.radius = float(d.exactRadius);
    if (withStrength) d.strength = streakStrength(s, t);
    return d;
}

// Collects the stamps of the elements in drawing order and grows the layer rectangle with each.
class StampList {
public:
    StampList(std::vector<SkyStamp>& stamps, RectI& rect, SizeI size)
        : m_stamps(stamps), m_rect(rect), m_size(size) {}

    void disc(double x, double y, double radius, double sigma, Rgb c) {
        if (!(radius > 0) || !(sigma > 0)) return;
        SkyStamp s;
        s.x = float(x), s.y = float(y), s.reach = float(radius), s.width = float(radius);
        s.r = c.r, s.g = c.g, s.b = c.b;
        if (radius < 1.0) {
            // Too small to be sure of a pixel centre: the disc's alpha mass over its four nearest
            // pixels, so that tiny stars neither vanish nor snap to the pixel grid.
            s.kind = SkyStamp::Splat;
            s.strength = float(sigma * kPi * radius * radius / 2);
            const double fx = std::floor(x - 0.5), fy = std::floor(y - 0.5);
            push(s, fx, fy, fx + 2, fy + 2);
            return;
        }
        s.kind = SkyStamp::Disc;
        s.strength = float(sigma);
        push(s, std::ceil(x - 0.5 - radius), std::ceil(y - 0.5 - radius), std::floor(x - 0.5 + radius) + 1,
             std::floor(y - 0.5 + radius) + 1);
    }

    // A streak of kind 0 (fading from its start) or 1 (swelling, then fading) from p0 to p1, kept as
    // one stamp; its discs are laid out here only to find the pixels they touch.
    void streak(int kind, double x0, double y0, double x1, double y1, double width, double sigma, Rgb c) {
        const double length = std::hypot(x1 - x0, y1 - y0);
        if (!(length >= 1.0) || !(width > 0) || !(sigma > 0) || !std::isfinite(length)) return;
        SkyStamp s;
        s.kind = SkyStamp::Streak;
        s.profile = uint8_t(kind);
        s.x = float(x0), s.y = float(y0);
        s.sx = x0, s.sy = y0, s.ex = x1, s.ey = y1;
        s.width = float(width), s.strength = float(sigma), s.sigma = sigma, s.exactWidth = width;
        s.r = c.r, s.g = c.g, s.b = c.b;
        s.step = 0.7 / length;
        double left = 1e300, top = 1e300, right = -1e300, bottom = -1e300;
        for (int64_t i = 0;; ++i) {
            const StreakDisc d = streakDisc(s, i, false);
            if (!d.valid) break;
            s.discs = i + 1;
            // Discs wholly outside the picture touch nothing and leave the rectangle as it is.
            const double l = std::max(0.0, std::ceil(d.x - 0.5 - d.exactRadius));
            const double t = std::max(0.0, std::ceil(d.y - 0.5 - d.exactRadius));
            const double r = std::min(double(m_size.width), std::floor(d.x - 0.5 + d.exactRadius) + 1);
            const double b = std::min(double(m_size.height), std::floor(d.y - 0.5 + d.exactRadius) + 1);
            if (l >= r || t >= b) continue;
            left = std::min(left, l), top = std::min(top, t), right = std::max(right, r),
            bottom = std::max(bottom, b);
        }
        if (left < right) push(s, left, top, right, bottom);
    }

private:
    void push(SkyStamp& s, double left, double top, double right, double bottom) {
        s.x0 = int(std::clamp(left, 0.0, double(m_size.width)));
        s.y0 = int(std::clamp(top, 0.0, double(m_size.height)));
        s.x1 = int(std::clamp(right, 0.0, double(m_size.width)));
        s.y1 = int(std::clamp(bottom, 0.0, double(m_size.height)));
        if (s.x0 >= s.x1 || s.y0 >= s.y1) return;
        m_rect = RectI{std::min(m_rect.left, s.x0), std::min(m_rect.top, s.y0), std::max(m_rect.right, s.x1),
                       std::max(m_rect.bottom, s.y1)};
        m_stamps.push_back(s);
    }

    std::vector<SkyStamp>& m_stamps;
    RectI& m_rect;
    SizeI m_size;
};

// One stamp's "over" into a premultiplied tile buffer covering `area` (64 floats a row).
void applyStamp(const SkyStamp& s, const RectI& area, float* planes[4]) {
    const int x0 = std::max(s.x0, area.left), x1 = std::min(s.x1, area.right);
    const int y0 = std::max(s.y0, area.top), y1 = std::min(s.y1, area.bottom);
    if (x0 >= x1 || y0 >= y1) return;
    auto over = [&](int x, int y, float a) {
        if (!(a >= kFaint)) return;
        a = std::min(a, 1.0f);
        const size_t i = size_t(y - area.top) * TileSize + size_t(x - area.left);
        const float keep = 1.0f - a;
        planes[0][i] = s.r * a + planes[0][i] * keep;
        planes[1][i] = s.g * a + planes[1][i] * keep;
        planes[2][i] = s.b * a + planes[2][i] * keep;
        planes[3][i] = a + planes[3][i] * keep;
    };
    if (s.kind == SkyStamp::Splat) {
        const float fx0 = std::floor(s.x - 0.5f), fy0 = std::floor(s.y - 0.5f);
        const float fx = s.x - 0.5f - fx0, fy = s.y - 0.5f - fy0;
        const int ix = int(fx0), iy = int(fy0);
        const float w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
        for (int k = 0; k < 4; ++k) {
            const int x = ix + (k & 1), y = iy + (k >> 1);
            if (x >= x0 && x < x1 && y >= y0 && y < y1) over(x, y, s.strength * w[k]);
        }
        return;
    }
    if (s.kind == SkyStamp::Streak) {
        // Only the discs whose centre can reach this tile: the part of the streak's line inside the
        // tile grown by the widest disc, as a range of disc numbers.
        const double grow = double(s.width) + 1.0;
        const double bx0 = area.left - grow, bx1 = area.right + grow, by0 = area.top - grow,
                     by1 = area.bottom + grow;
        double t0 = 0, t1 = 1;
        const double dx = s.ex - s.sx, dy = s.ey - s.sy;
        auto clip = [&](double p, double q) { // p t <= q
            if (p == 0) return q >= 0;
            const double r = q / p;
            if (p < 0)
                t0 = std::max(t0, r);
            else
                t1 = std::min(t1, r);
            return t0 <= t1;
        };
        if (!clip(-dx, s.sx - bx0) || !clip(dx, bx1 - s.sx) || !clip(-dy, s.sy - by0) ||
            !clip(dy, by1 - s.sy))
            return;
        const int64_t first = std::max<int64_t>(0, int64_t(std::floor(t0 / s.step)) - 1);
        const int64_t last = std::min<int64_t>(s.discs - 1, int64_t(std::ceil(t1 / s.step)) + 1);
        for (int64_t i = first; i <= last; ++i) {
            const StreakDisc d = streakDisc(s, i, false);
            if (!d.valid) break;
            const int dx0 = std::max(x0, d.left()), dx1 = std::min(x1, d.right());
            const int dy0 = std::max(y0, d.top()), dy1 = std::min(y1, d.bottom());
            if (dx0 >= dx1 || dy0 >= dy1) continue;
            const float strength = streakStrength(s, double(i) * s.step);
            const float reach2 = d.radius * d.radius;
            for (int y = dy0; y < dy1; ++y) {
                const float ddy = float(y) + 0.5f - d.y;
                for (int x = dx0; x < dx1; ++x) {
                    const float ddx = float(x) + 0.5f - d.x;
                    const float d2 = ddx * ddx + ddy * ddy;
                    if (d2 > reach2) continue;
                    const float dist = std::sqrt(d2);
                    over(x, y, (dist > s.width - 0.5f ? 2.0f * (s.width - dist) : 1.0f) * strength);
                }
            }
        }
        return;
    }
    const float reach2 = s.reach * s.reach;
    const float inverseR2 = 1.0f / reach2;
    for (int y = y0; y < y1; ++y) {
        const float dy = float(y) + 0.5f - s.y;
        const float dy2 = dy * dy;
        for (int x = x0; x < x1; ++x) {
            const float dx = float(x) + 0.5f - s.x;
            const float d2 = dx * dx + dy2;
            if (d2 > reach2) continue;
            over(x, y, std::min(1.0f, (1.0f - d2 * inverseR2) * s.strength));
        }
    }
}

} // namespace

SkyZones SkyZones::from(const MaskChannels& masks, SizeI size, int maxWorkers) {
    SkyZones z;
    auto usable = [&](const DataChannel* c) { return c && !c->isEmpty() && c->size() == size; };
    const bool twoZones = usable(masks.duoMask);
    const DataChannel* channel = twoZones ? masks.duoMask : usable(masks.mask) ? masks.mask : nullptr;
    if (!channel) return z;
    z.box = maskBounds(channel, maxWorkers);
    if (z.box.isEmpty()) return z;
    z.labels = maskBytes(channel, z.box);
    z.weights.resize(z.labels.size());
    const int w = z.box.width(), h = z.box.height();
    // Rows in bands on the jobs pool; each band's counts and hash are merged in band order.
    const int bands = (h + kBandRows - 1) / kBandRows;
    std::vector<int64_t> zone(static_cast<size_t>(bands)), nebula(static_cast<size_t>(bands));
    std::vector<uint64_t> hashes(static_cast<size_t>(bands));
    MT::parallelFor(
        0, uint32_t(bands),
        [&](uint32_t first, uint32_t last) {
            for (uint32_t b = first; b < last; ++b) {
                const size_t from = size_t(b) * kBandRows * size_t(w);
                const size_t to = std::min(z.labels.size(), from + size_t(kBandRows) * size_t(w));
                int64_t nz = 0, nn = 0;
                uint64_t hash = 0xCBF29CE484222325ull;
                for (size_t i = from; i < to; ++i) {
                    const uint8_t v = z.labels[i];
                    uint8_t label = 0, weight = 0;
                    if (v) {
                        label = twoZones ? (v == 2 ? 2 : 1) : 2;
                        weight = twoZones ? 255 : v;
                    }
                    z.labels[i] = label;
                    z.weights[i] = weight;
                    nz += label != 0;
                    nn += label == 2;
                    hash = (hash ^ (uint64_t(label) << 8 | weight)) * 0x100000001B3ull;
                }
                zone[b] = nz, nebula[b] = nn, hashes[b] = hash;
            }
        },
        1, maxWorkers > 0 ? uint32_t(maxWorkers) : 0u);
    uint64_t hash = mixHash(0, uint64_t(z.box.left) << 32 | uint32_t(z.box.top));
    hash = mixHash(hash, uint64_t(z.box.right) << 32 | uint32_t(z.box.bottom));
    for (int b = 0; b < bands; ++b) {
        z.zonePixels += zone[size_t(b)];
        z.nebulaPixels += nebula[size_t(b)];
        hash = mixHash(hash, hashes[size_t(b)]);
    }
    z.hash = hash;
    return z;
}

bool NightSkyRenderer::buildNebula(const NightSkyParams& p, const SkyZones& zones, SizeI size,
                                   const RunContext& context, double share) {
    m_nebulaValid = false;
    Common::UninitializedHugePageVector<float>().swap(m_nebula);
    m_nebulaArea = {};
    m_nebulaRect = zones.box;
    m_counts.nebulas = 0;
    const RectI Z = zones.box;
    const int w = Z.width(), h = Z.height();
    const int64_t count =
        int64_t(std::floor(double(zones.nebulaPixels) * (p.nebulaAmount / 100.0 * 50.0) / 10000.0));
    const double spread = p.nebulaSpread / 100.0 * 1000.0;
    const double deform = p.nebulaDeform / 100.0 * 1000.0;
    const double bright = p.nebulaBright / 100.0 * 0.3;
    const double deviation = p.nebulaColorDev / 100.0;
    const Rgb colour = colourOf(p.nebulaColor, p.baseColor);
    if (!p.useNebulas || count <= 0) {
        context.beginPhase(share, 0);
        return true;
    }

    // The blobs, drawn serially from the nebula generator.
    Common::cLcgRandom random(uint32_t(p.nebulaSeed + 11));
    std::vector<Blob> blobs;
    blobs.reserve(size_t(std::min<int64_t>(count, 1 << 22)));
    Budget budget(count, int64_t(w) * h, zones.nebulaPixels);
    // The work area: every pixel a blob reaches, and every pixel the deformation can pull one to.
    const int margin = int(std::ceil(spread + 2 + 1.5625 * deform)) + 4;
    const RectI area = grown(Z, margin, size);
    for (int64_t i = 0; i < count; ++i) {
        int x = 0, y = 0;
        bool placed = false;
        while (budget.spend()) {
            x = Z.left + random.next() % w;
            y = Z.top + random.next() % h;
            if (zones.labels[size_t(y - Z.top) * size_t(w) + size_t(x - Z.left)] == 2) {
                placed = true;
                break;
            }
        }
        if (!placed) break;
        const double radius = random.nextUnit() * spread + 2;
        const double strength = (0.5 + 0.5 * random.nextUnit()) * bright * (1 - radius / (10 + spread));
        const Rgb c = deviated(colour, deviation, random);
        Blob blob{float(x + 0.5), float(y + 0.5), float(radius), float(strength), c, 0, 0, 0, 0};
        blob.x0 = std::max(area.left, int(std::ceil(x - radius)));
        blob.x1 = std::min(area.right, int(std::floor(x + radius)) + 1);
        blob.y0 = std::max(area.top, int(std::ceil(y - radius)));
        blob.y1 = std::min(area.bottom, int(std::floor(y + radius)) + 1);
        if (blob.x0 < blob.x1 && blob.y0 < blob.y1 && strength > 0) blobs.push_back(blob);
        if ((i & 1023) == 0 && context.cancelled()) return false;
    }
    m_counts.nebulas = int64_t(blobs.size());
    const int aw = area.width(), ah = area.height();
    context.beginPhase(share, blobs.empty() ? 0 : 2 * int64_t(ah));
    if (blobs.empty()) return true;

    // Stamped in bands of rows, each band applying the blobs that reach it in drawing order.
    const size_t pixels = size_t(aw) * size_t(ah);
    Common::UninitializedHugePageVector<float> blobLayer;
    blobLayer.resize(4 * pixels);
    const int bands = (ah + kStampRows - 1) / kStampRows;
    std::vector<std::vector<uint32_t>> perBand(static_cast<size_t>(bands));
    for (size_t i = 0; i < blobs.size(); ++i)
        for (int b = (blobs[i].y0 - area.top) / kStampRows; b <= (blobs[i].y1 - 1 - area.top) / kStampRows;
             ++b)
            perBand[size_t(b)].push_back(uint32_t(i));
    const uint32_t workers = context.maxWorkers > 0 ? uint32_t(context.maxWorkers) : 0u;
    const DiscRowKernel kernel = discRowKernel();
    MT::parallelFor(
        0, uint32_t(bands),
        [&](uint32_t first, uint32_t last) {
            for (uint32_t b = first; b < last; ++b) {
                const int top = area.top + int(b) * kStampRows,
                          bottom = std::min(area.bottom, top + kStampRows);
                const size_t start = size_t(top - area.top) * size_t(aw);
                std::fill_n(blobLayer.data() + 4 * start, 4 * size_t(bottom - top) * size_t(aw), 0.0f);
                if (context.cancelled()) continue;
                for (uint32_t index : perBand[b]) {
                    const Blob& blob = blobs[index];
                    const float r2 = blob.radius * blob.radius, inverse = 1.0f / r2;
                    for (int y = std::max(top, blob.y0); y < std::min(bottom, blob.y1); ++y) {
                        const float dy = float(y) + 0.5f - blob.y, dy2 = dy * dy;
                        if (dy2 > r2) continue;
                        const float half = std::sqrt(r2 - dy2);
                        const int xa = std::max(blob.x0, int(std::ceil(blob.x - 0.5f - half)));
                        const int xb = std::min(blob.x1, int(std::floor(blob.x - 0.5f + half)) + 1);
                        if (xa >= xb) continue;
                        const size_t at = size_t(y - area.top) * size_t(aw) + size_t(xa - area.left);
                        const DiscRow row{float(xa) + 0.5f - blob.x,
                                          dy2,
                                          inverse,
                                          blob.strength,
                                          blob.colour.r,
                                          blob.colour.g,
                                          blob.colour.b};
                        kernel(blobLayer.data() + 4 * at, xb - xa, row);
                    }
                }
                context.advance(bottom - top);
            }
        },
        1, workers);
    if (context.cancelled()) return false;

    // Deformation by a smooth field: two 13 x 13 grids of displacements, cubic Lagrange between the
    // nodes, bilinear resampling of the premultiplied planes (the generator runs on). Only the
    // zones' box is ever shown, so only it is kept; the layer rectangle's growth beyond it (its
    // rows decide the dimming and the star sizes) is found from the deformed alpha alone.
    double gridX[13][13] = {}, gridY[13][13] = {};
    if (deform > 0)
        for (int j = 0; j < 13; ++j)
            for (int i = 0; i < 13; ++i) {
                gridX[j][i] = random.nextSigned() * deform;
                gridY[j][i] = random.nextSigned() * deform;
            }
    std::vector<int> columnNode(static_cast<size_t>(aw));
    std::vector<std::array<double, 4>> columnWeights(static_cast<size_t>(aw));
    for (int i = 0; i < aw; ++i) {
        double t;
        gridPosition(area.left + i, size.width, columnNode[size_t(i)], t);
        lagrange(t, columnWeights[size_t(i)].data());
    }
    // The grids combined down one image row, then the displacement of each column of that row.
    struct RowField {
        double x[13], y[13];
    };
    auto rowField = [&](int y) {
        RowField f;
        int node;
        double t, wy[4];
        gridPosition(y, size.height, node, t);
        lagrange(t, wy);
        for (int i = 0; i < 13; ++i) {
            f.x[i] = f.y[i] = 0;
            for (int k = 0; k < 4; ++k) {
                f.x[i] += wy[k] * gridX[node - 1 + k][i];
                f.y[i] += wy[k] * gridY[node - 1 + k][i];
            }
        }
        return f;
    };
    // The bilinear sample position of area column i in row y (work-area coordinates; beyond the area
    // everything is empty, so the image's clamping is the area's).
    struct Tap {
        size_t r0, r1;
        int ix, ix1;
        float fx, fy;
    };
    auto tap = [&](const RowField& f, int i, int y) {
        const int n = columnNode[size_t(i)];
        const double* wx = columnWeights[size_t(i)].data();
        double dx = 0, dy = 0;
        for (int k = 0; k < 4; ++k) {
            dx += wx[k] * f.x[n - 1 + k];
            dy += wx[k] * f.y[n - 1 + k];
        }
        const float sx = Common::clampSamplePosition(float(i + dx), aw);
        const float sy = Common::clampSamplePosition(float(y - area.top + dy), ah);
        Tap tp;
        tp.ix = int(sx);
        const int iy = int(sy);
        tp.fx = sx - float(tp.ix), tp.fy = sy - float(iy);
        tp.ix1 = std::min(tp.ix + 1, aw - 1);
        tp.r0 = size_t(iy) * size_t(aw);
        tp.r1 = size_t(std::min(iy + 1, ah - 1)) * size_t(aw);
        return tp;
    };
    // One sample of the interleaved layer: the four components of a pixel are one vector, so a
    // bilinear tap is four loads and three blends (the scalar formula's operations, lane by lane).
    auto sampleAll = [&](const Tap& t, float* out) {
        const float* base = blobLayer.data();
        const __m128 fx = _mm_set1_ps(t.fx), fy = _mm_set1_ps(t.fy);
        const __m128 a0 = _mm_loadu_ps(base + 4 * (t.r0 + size_t(t.ix))),
                     a1 = _mm_loadu_ps(base + 4 * (t.r0 + size_t(t.ix1)));
        const __m128 b0 = _mm_loadu_ps(base + 4 * (t.r1 + size_t(t.ix))),
                     b1 = _mm_loadu_ps(base + 4 * (t.r1 + size_t(t.ix1)));
        const __m128 top = _mm_add_ps(a0, _mm_mul_ps(fx, _mm_sub_ps(a1, a0)));
        const __m128 bottom = _mm_add_ps(b0, _mm_mul_ps(fx, _mm_sub_ps(b1, b0)));
        _mm_storeu_ps(out, _mm_add_ps(top, _mm_mul_ps(fy, _mm_sub_ps(bottom, top))));
    };
    auto sampleAlpha = [&](const Tap& t) {
        const float* base = blobLayer.data() + 3;
        const float a0 = base[4 * (t.r0 + size_t(t.ix))], a1 = base[4 * (t.r0 + size_t(t.ix1))];
        const float b0 = base[4 * (t.r1 + size_t(t.ix))], b1 = base[4 * (t.r1 + size_t(t.ix1))];
        const float top = a0 + t.fx * (a1 - a0), bottom = b0 + t.fx * (b1 - b0);
        return top + t.fy * (bottom - top);
    };

    const int zw = Z.width(), zh = Z.height();
    m_nebula.resize(4 * size_t(zw) * size_t(zh));
    const int zoneBands = (zh + kBandRows - 1) / kBandRows;
    MT::parallelFor(
        0, uint32_t(zoneBands),
        [&](uint32_t first, uint32_t last) {
            for (uint32_t b = first; b < last; ++b) {
                const int top = Z.top + int(b) * kBandRows, bottom = std::min(Z.bottom, top + kBandRows);
                for (int y = top; y < bottom; ++y) {
                    const RowField f = rowField(y);
                    const size_t row = size_t(y - Z.top) * size_t(zw);
                    float* out = m_nebula.data() + 4 * row;
                    // Pixels outside the zones are never shown: they stay empty.
                    const uint8_t* shown = zones.weights.data() + row;
                    for (int i = 0; i < zw; ++i) {
                        if (!shown[i])
                            std::fill_n(out + 4 * i, 4, 0.0f);
                        else
                            sampleAll(tap(f, Z.left + i - area.left, y), out + 4 * i);
                    }
                }
                context.advance(int64_t(bottom - top) * ah / std::max(1, zh));
            }
        },
        1, workers);
    if (context.cancelled()) {
        Common::UninitializedHugePageVector<float>().swap(m_nebula);
        return false;
    }
    // Rows above and below the box, searched from the area's edges towards it.
    auto lit = [&](int y) {
        const RowField f = rowField(y);
        for (int i = 0; i < aw; ++i)
            if (sampleAlpha(tap(f, i, y)) >= kFaint) return true;
        return false;
    };
    RectI rect = Z;
    for (int y = area.top; y < Z.top; ++y)
        if (lit(y)) {
            rect.top = y;
            break;
        }
    for (int y = area.bottom - 1; y >= Z.bottom; --y)
        if (lit(y)) {
            rect.bottom = y + 1;
            break;
        }
    m_nebulaArea = Z;
    m_nebulaRect = rect;
    return true;
}

bool NightSkyRenderer::buildElements(const NightSkyParams& p, const SkyZones& zones, SizeI size,
                                     const RunContext& context) {
    m_stamps.clear();
    m_counts.stars = m_counts.starRays = m_counts.shootingStars = m_counts.meteors = m_counts.streakDiscs = 0;
    RectI rect = m_nebulaRect;
    StampList out(m_stamps, rect, size);
    const RectI Z = zones.box;
    const int w = Z.width(), h = Z.height();
    const double D = p.baseDimming / 100.0;
    const int64_t nz = zones.zonePixels;
    auto isZone = [&](double x, double y) {
        const int ix = int(x), iy = int(y);
        if (ix < Z.left || ix >= Z.right || iy < Z.top || iy >= Z.bottom) return false;
        return zones.labels[size_t(iy - Z.top) * size_t(w) + size_t(ix - Z.left)] != 0;
    };
    // A real position inside a zone, two draws per try; false when the budget ran out.
    auto place = [&](Common::cLcgRandom& random, Budget& budget, double& x, double& y) {
        while (budget.spend()) {
            x = random.nextUnit() * (w - 1) + Z.left;
            y = random.nextUnit() * (h - 1) + Z.top;
            if (isZone(x, y)) return true;
        }
        return false;
    };
    // The dimming's scale at a row: 1 - 0.5 D f^2, f the row's fraction down the layer rectangle.
    auto dimmed = [&](double y) {
        const double f = rect.height() > 0 ? (std::floor(y) - rect.top) / double(rect.height()) : 0.0;
        return 1.0 - 0.5 * D * f * f;
    };
    auto sum3 = [](Common::cLcgRandom& random) {
        const double a = random.nextSigned(), b = random.nextSigned(), c = random.nextSigned();
        return std::fabs(a + b + c) / 3;
    };

    if (p.useStars) {
        Common::cLcgRandom random(uint32_t(p.starSeed + 21)), rays(uint32_t(p.starSeed + 121));
        const int64_t count = int64_t(std::floor(double(nz) * p.starDensity / 10000.0));
        const double v = p.starColorDev / 100.0, S = p.starSize / 100.0 * 15.0;
        const double threshold = p.starRayRadius / 100.0 * S;
        const Rgb colour = colourOf(p.starColor, p.baseColor);
        Budget budget(count, int64_t(w) * h, nz);
        for (int64_t i = 0; i < count; ++i) {
            double x, y;
            if (!place(random, budget, x, y)) break;
            const double k = dimmed(y);
            const double radius = (sum3(random) + 0.2) * S * k;
            const double sigma = (0.2 + 0.8 * random.nextUnit()) * k;
            const Rgb c = deviated(colour, v, random);
            out.disc(x, y, radius, sigma, c);
            ++m_counts.stars;
            if (p.starUseRays && radius > threshold) {
                const double phi = rays.nextSigned() * 2 * kPi;
                const int n = int((rays.step() >> 15) & 6u) + 2;
                for (int r = 0; r < n; ++r) {
                    const double length = (0.6 + 0.4 * rays.nextUnit()) * (radius + 0.2) * 12;
                    const double angle = phi + 2 * kPi * r / n;
                    out.streak(0, x, y, x + length * std::cos(angle), y - length * std::sin(angle),
                               0.35 * radius, 0.2 * sigma, c);
                    ++m_counts.starRays;
                }
            }
            if ((i & 255) == 0 && context.cancelled()) return false;
        }
    }
    if (p.useShoots) {
        Common::cLcgRandom random(uint32_t(p.shootSeed + 31));
        const int64_t count = int64_t(std::floor(double(nz) * (p.shootDensity / 100.0 * 5.0) / 10000.0));
        const double v = p.shootColorDev / 100.0, S = p.shootSize / 100.0 + 2.0;
        const double E = (p.shootElongate / 100.0 + 1.0) * 150.0;
        const double alpha = (90.0 - p.shootAngle) * kPi / 180.0;
        const Rgb colour = colourOf(p.shootColor, p.baseColor);
        Budget budget(count, int64_t(w) * h, nz);
        for (int64_t i = 0; i < count; ++i) {
            double x, y;
            if (!place(random, budget, x, y)) break;
            const double k = dimmed(y);
            const double width = (sum3(random) + 0.4) * S * k;
            const double sigma = 0.6 + 0.4 * random.nextSigned();
            const double length = (0.8 + 0.2 * random.nextSigned()) * E * width * k;
            const Rgb c = deviated(colour, v, random);
            out.streak(1, x, y, x + length * std::cos(alpha), y - length * std::sin(alpha), width,
                       0.2 * sigma, c);
            ++m_counts.shootingStars;
            if (context.cancelled()) return false;
        }
    }
    if (p.useMeteors) {
        Common::cLcgRandom random(uint32_t(p.meteorSeed + 41));
        const int64_t count = int64_t(std::floor(double(nz) * 2.0 * p.meteorDensity / 100.0 / 10000.0));
        const double v = p.meteorColorDev / 100.0, S = p.meteorSize / 100.0 * 10.0;
        const double E = (p.meteorElongate / 100.0 + 1.0) * 120.0;
        const double alpha = (90.0 - p.meteorAngle) * kPi / 180.0;
        const Rgb colour = colourOf(p.meteorColor, p.baseColor);
        Budget budget(count, int64_t(w) * h, nz);
        for (int64_t i = 0; i < count; ++i) {
            double x, y;
            if (!place(random, budget, x, y)) break;
            const double k = dimmed(y);
            const double radius = (sum3(random) + 1.5) * S * k;
            const double sigma = (0.8 + 0.2 * random.nextSigned()) * 1.5;
            const double tail = random.nextSigned();
            const Rgb c = deviated(colour, v, random);
            out.disc(x, y, radius, sigma, c);
            const int n = int((random.step() >> 15) & 30u) + 12;
            const double phi = random.nextSigned() * 2 * kPi;
            for (int r = 0; r < n; ++r) {
                const double length = (0.2 + 0.8 * random.nextUnit()) * (radius + 0.2) * 20;
                const double angle = phi + 2 * kPi * r / n;
                out.streak(0, x, y, x + length * std::cos(angle), y - length * std::sin(angle), 0.3 * radius,
                           0.08 * sigma, c);
            }
            const double length = (0.8 + 0.2 * tail) * E * radius * k;
            out.streak(0, x, y, x + length * std::cos(alpha), y - length * std::sin(alpha), 0.57 * radius,
                       0.1 * sigma, c);
            ++m_counts.meteors;
            if (context.cancelled()) return false;
        }
    }
    m_counts.stamps = int64_t(m_stamps.size());
    for (const SkyStamp& s : m_stamps) m_counts.streakDiscs += s.kind == SkyStamp::Streak ? s.discs : 0;
    m_layerRect = rect;
    return true;
}

RunOutcome NightSkyRenderer::process(NightSkyParams& p, const PixelPlane& source, const MaskChannels& masks,
                                     PixelPlane& result, const RunContext& context) {
    p.clampForRun();
    const int32_t type = checkRgbaPlanes(source, result);
    const SizeI size = source.size();
    copySourceToResult(source, result);

    context.beginPhase(0.05, 1);
    const SkyZones zones = SkyZones::from(masks, size, context.maxWorkers);
    context.advance();
    if (zones.box.isEmpty() || zones.zonePixels == 0) return RunOutcome::Done;

    const bool nebulaHit = m_nebulaValid && m_nebulaSize == size && m_nebulaZones == zones.hash &&
                           m_nebulaKey.useNebulas == p.useNebulas && m_nebulaKey.sameNebulaKey(p);
    const bool elementHit = nebulaHit && m_elementsValid && m_elementSize == size &&
                            m_elementZones == zones.hash && tableEqual(m_elementKey, p);
    const double nebulaShare = nebulaHit ? 0.0 : 0.6, elementShare = elementHit ? 0.0 : 0.1;
    const double total = nebulaShare + elementShare + 0.25;

    if (!nebulaHit) {
        m_elementsValid = false;
        if (!buildNebula(p, zones, size, context, 0.95 * nebulaShare / total)) return RunOutcome::Cancelled;
        m_nebulaValid = true;
        m_nebulaKey = p;
        m_nebulaZones = zones.hash;
        m_nebulaSize = size;
        ++m_nebulaBuilds;
    }
    if (!elementHit) {
        context.beginPhase(0.95 * elementShare / total, 1);
        if (!buildElements(p, zones, size, context)) {
            m_elementsValid = false;
            return RunOutcome::Cancelled;
        }
        m_elementsValid = true;
        m_elementKey = p;
        m_elementZones = zones.hash;
        m_elementSize = size;
        ++m_elementBuilds;
        context.advance();
    }

    // Composition over the zones' box: each tile starts from the dimmed nebula, takes its stamps in
    // drawing order and is laid over the photograph with the zones' weights.
    const RectI Z = zones.box;
    const TileSpan span = tileSpan(size, Z);
    std::vector<std::vector<uint32_t>> perTile(span.count());
    auto addToTiles = [&](uint32_t index, double left, double top, double right, double bottom) {
        const int x0 = int(std::clamp(left, double(Z.left), double(Z.right)));
        const int x1 = int(std::clamp(right, double(Z.left), double(Z.right)));
        const int y0 = int(std::clamp(top, double(Z.top), double(Z.bottom)));
        const int y1 = int(std::clamp(bottom, double(Z.top), double(Z.bottom)));
        if (x0 >= x1 || y0 >= y1) return;
        for (int ty = y0 / int(TileSize); ty <= (y1 - 1) / int(TileSize); ++ty)
            for (int tx = x0 / int(TileSize); tx <= (x1 - 1) / int(TileSize); ++tx) {
                auto& list =
                    perTile[size_t(ty - int(span.firstY)) * span.countX + size_t(tx - int(span.firstX))];
                if (list.empty() || list.back() != index) list.push_back(index);
            }
    };
    for (size_t i = 0; i < m_stamps.size(); ++i) {
        const SkyStamp& s = m_stamps[i];
        if (s.kind != SkyStamp::Streak) {
            addToTiles(uint32_t(i), s.x0, s.y0, s.x1, s.y1);
            continue;
        }
        // A long streak goes only to the tiles along it: every 16th disc with room for the 15 after
        // it, whose centres lie within 16 x 0.7 pixels.
        constexpr int64_t kStride = 16;
        const double room = double(s.width) + kStride * 0.7 + 2.0;
        for (int64_t k = 0; k < s.discs; k += kStride) {
            const StreakDisc d = streakDisc(s, k, false);
            addToTiles(uint32_t(i), d.x - room, d.y - room, d.x + room, d.y + room);
        }
    }
    const bool nebula = p.useNebulas && !m_nebula.empty();
    const RectI nebulaArea = m_nebulaArea, dimRect = m_nebulaRect;
    const double D = p.baseDimming / 100.0;
    context.beginPhase(0.95 * 0.25 / total, int64_t(span.count()));

    dispatchSampleType(type, [&](auto sample) {
        using T = decltype(sample);
        forEachRgbaTile<T>(result, Z, context, [&](const RgbaTile<T>& tile) {
            const RectI& area = tile.area;
            const uint32_t tx = uint32_t(tile.x0) / TileSize - span.firstX,
                           ty = uint32_t(tile.y0) / TileSize - span.firstY;
            const std::vector<uint32_t>& stamps = perTile[size_t(ty) * span.countX + tx];
            const RectI fromNebula = nebula ? area.intersected(nebulaArea) : RectI{};
            if (stamps.empty() && fromNebula.isEmpty()) {
                context.advance();
                return;
            }
            // The tile's layer, premultiplied, 64 floats a row from the area's top-left pixel.
            std::array<float, TileSize * TileSize * 4> buffer;
            float* planes[4] = {buffer.data(), buffer.data() + TileSize * TileSize,
                                buffer.data() + 2 * TileSize * TileSize,
                                buffer.data() + 3 * TileSize * TileSize};
            for (float* plane : planes) std::fill_n(plane, TileSize * TileSize, 0.0f);
            for (int y = fromNebula.top; y < fromNebula.bottom; ++y) {
                float dim = 1.0f;
                if (D > 0 && y >= dimRect.top && y < dimRect.bottom) {
                    const double f = double(y - dimRect.top) / double(dimRect.height());
                    dim = float(1.0 - 0.7 * D * f * f);
                }
                const size_t from = size_t(y - nebulaArea.top) * size_t(nebulaArea.width()) +
                                    size_t(fromNebula.left - nebulaArea.left);
                const size_t to = size_t(y - area.top) * TileSize + size_t(fromNebula.left - area.left);
                const float* src = m_nebula.data() + 4 * from;
                for (int i = 0; i < fromNebula.width(); ++i)
                    for (int c = 0; c < 4; ++c) planes[c][to + size_t(i)] = src[4 * i + c] * dim;
            }
            for (uint32_t index : stamps) applyStamp(m_stamps[index], area, planes);
            for (int y = area.top; y < area.bottom; ++y) {
                T* red = tile.row(0, y);
                T* green = tile.row(1, y);
                T* blue = tile.row(2, y);
                T* alpha = tile.row(3, y);
                const uint8_t* weight =
                    zones.weights.data() + size_t(y - Z.top) * size_t(Z.width()) - size_t(Z.left);
                const size_t row = size_t(y - area.top) * TileSize - size_t(area.left);
                for (int x = area.left; x < area.right; ++x) {
                    const float a = planes[3][row + size_t(x)];
                    if (!(a >= kFaint) || !weight[x]) continue;
                    const float inverse = 1.0f / a;
                    composeOver<T>(red[x], green[x], blue[x], alpha ? alpha + x : nullptr,
                                   std::min(1.0f, planes[0][row + size_t(x)] * inverse),
                                   std::min(1.0f, planes[1][row + size_t(x)] * inverse),
                                   std::min(1.0f, planes[2][row + size_t(x)] * inverse),
                                   std::min(1.0f, a) * float(weight[x]) * (1.0f / 255.0f));
                }
            }
            context.advance();
        });
    });
    if (context.cancelled()) return RunOutcome::Cancelled;
    return RunOutcome::Done;
}

} // namespace Orvex::Document::Filters
