#include "document/filters/water/WaterSurface.h"

#include "document/filters/common/BoxGaussian.h"
#include "document/filters/common/Noise.h"
#include "document/filters/common/Random.h"
#include "mt/JobsPool.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace Orvex::Document::Filters {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kEyeHeight = 401.0; // the viewer's height over the water plane
constexpr double kMinDenominator = 0.0005;
constexpr int32_t kRippleHash = 23;

// How strongly the slopes of the wave field bend the light.
constexpr double kSlopeGain = 0.8;
// Refraction shift of the bottom, in picture rows per unit of slope and row below the horizon.
constexpr double kRefraction = 0.12;
// Reflectance of the water seen from straight above; it rises to 1 at grazing view.
constexpr double kBaseReflectance = 0.3;

// Runs fn(i) for i = 0 ... count - 1 on the jobs pool, each worker taking the next index as it
// becomes free: the cost of a row or tile varies a lot across the water (ripples near the horizon,
// scattered reflections near the viewer), and equal shares would leave a worker idle. Every item is
// a pure function of its inputs, so the split does not show in the results.
template <class Fn> void forItems(uint32_t count, const WaterHooks& hooks, Fn&& fn) {
    if (count == 0) return;
    std::atomic<uint32_t> next{0};
    MT::parallelFor(
        0, std::min<uint32_t>(count, 64),
        [&](uint32_t, uint32_t) {
            for (uint32_t i = next.fetch_add(1, std::memory_order_relaxed); i < count && !hooks.isCancelled();
                 i = next.fetch_add(1, std::memory_order_relaxed))
                fn(i);
        },
        1, uint32_t(std::max(0, hooks.maxWorkers)));
}

template <class Fn> void forRows(int first, int last, const WaterHooks& hooks, Fn&& fn) {
    if (last <= first) return;
    forItems(uint32_t(last - first), hooks, [&](uint32_t i) { fn(first + int(i)); });
}

// The surface stages walk the water in tiles of a few rows by a few hundred columns: the picture
// samples that neighbouring surface samples reach (a reflection wanders far up and down the scene
// with the waves) then stay in the cache, which a walk along whole rows of a large picture defeats.
// fn(waterRow, x0, x1, slopeX, slopeY) handles columns x0 ... x1 - 1 of one row, the slopes of
// those columns given from index 0.
constexpr int kTileRows = 16, kTileColumns = 256;
template <class Fn>
void forSurfaceTiles(const WaterMaps& maps, const WaterSurface& s, const WaterHooks& hooks, Fn&& fn) {
    const int rows = maps.waterRows(), width = maps.width;
    if (rows <= 0 || width <= 0) return;
    const uint32_t across = uint32_t((width + kTileColumns - 1) / kTileColumns);
    const uint32_t down = uint32_t((rows + kTileRows - 1) / kTileRows);
    forItems(across * down, hooks, [&](uint32_t tile) {
        float slopeX[kTileColumns], slopeY[kTileColumns];
        const int r0 = int(tile / across) * kTileRows, x0 = int(tile % across) * kTileColumns;
        const int r1 = std::min(rows, r0 + kTileRows), x1 = std::min(width, x0 + kTileColumns);
        for (int r = r0; r < r1; ++r) {
            slopesOfRow(maps, s, r, x0, x1, slopeX, slopeY);
            fn(r, x0, x1, static_cast<const float*>(slopeX), static_cast<const float*>(slopeY));
        }
    });
}

struct RowGeometry {
    double s = 0, cosA = 1, sinA = 0;
    RowGeometry(int height, double angleDegrees) {
        s = height > 2 ? 2.0 / (height - 2) : 0.0;
        const double a = angleDegrees * kPi / 180.0;
        cosA = std::cos(a);
        sinA = std::sin(a);
    }
    double t(int height, int y) const { return s * ((height - 1) - y); }
    double denominator(int height, int y) const { return cosA - t(height, y) * sinA; }
};

inline float toUnit(uint16_t v) {
    return v * (1.0f / 65535.0f);
}
inline uint16_t fromUnit(float v) {
    return uint16_t(std::clamp(v, 0.0f, 1.0f) * 65535.0f + 0.5f);
}

// Bilinear RGB sample of the picture at (x, y), both clamped into [0, width - 1] x [rowLo, rowHi].
inline void samplePicture(const WaterPicture& p, float x, float y, float rowLo, float rowHi, float out[3]) {
    x = std::clamp(x, 0.0f, float(p.width - 1));
    y = std::clamp(y, rowLo, rowHi);
    const int ix = int(x), iy = int(y);
    const int ix1 = std::min(ix + 1, p.width - 1), iy1 = std::min(iy + 1, p.height - 1);
    const float fx = x - ix, fy = y - iy;
    const uint16_t* r0 = &p.rgb[(std::size_t(iy) * p.width) * 3];
    const uint16_t* r1 = &p.rgb[(std::size_t(iy1) * p.width) * 3];
    for (int c = 0; c < 3; ++c) {
        const float top = r0[ix * 3 + c] + fx * (float(r0[ix1 * 3 + c]) - r0[ix * 3 + c]);
        const float bottom = r1[ix * 3 + c] + fx * (float(r1[ix1 * 3 + c]) - r1[ix * 3 + c]);
        out[c] = (top + fy * (bottom - top)) * (1.0f / 65535.0f);
    }
}

struct Vec3 {
    double x, y, z;
};
inline Vec3 normalized(Vec3 v) {
    const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return n > 0 ? Vec3{v.x / n, v.y / n, v.z / n} : Vec3{0, 0, 1};
}
inline double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// The reflection is drawn as seen by a level camera whose horizon is the horizon line: a flat
// surface then mirrors the picture exactly about that line, and a tilted one shifts the mirror
// image by twice its tilt. The view ray of sample (x, y), camera axes x right, y forward, z up:
inline Vec3 viewRay(const WaterSurface& s, int x, int y) {
    const double horizonLine = s.horizonRow + 0.5;
    return normalized({x - s.width * 0.5, s.focal, -(y - horizonLine)});
}
inline Vec3 surfaceNormal(float slopeX, float slopeY) {
    return normalized({-kSlopeGain * slopeX, -kSlopeGain * slopeY, 1.0});
}
inline Vec3 reflect(const Vec3& v, const Vec3& n) {
    const double k = 2.0 * dot(v, n);
    return {v.x - k * n.x, v.y - k * n.y, v.z - k * n.z};
}
inline float fresnel(const Vec3& view, const Vec3& normal) {
    const double c = std::clamp(-dot(view, normal), 0.0, 1.0);
    const double m = 1.0 - c;
    return float(kBaseReflectance + (1.0 - kBaseReflectance) * m * m * m);
}

void colourOf(uint32_t argb, float out[3]) {
    out[0] = ((argb >> 16) & 0xFF) / 255.0f;
    out[1] = ((argb >> 8) & 0xFF) / 255.0f;
    out[2] = (argb & 0xFF) / 255.0f;
}

// The glare: the sun's light mirrored by the waves. The vertical shift lowers the sun from high in
// the sky (0) to the horizon (90), the horizontal shift swings it from the left (0) through
// straight ahead (90) to the right (180). Two lobes around the sun's mirror direction: a small one
// that lights single wave facets (sparkles) and a soft one, taller than wide, that draws the path
// of light towards the viewer.
class Glare {
public:
    explicit Glare(const WaterParams& p) {
        m_on = p.glareBrightness > 0;
        colourOf(p.glareColor, m_colour);
        const double elevation = (90.0 - p.glareVerticalShift) * 0.5 * kPi / 180.0;
        const double azimuth = (p.glareHorizontalShift - 90.0) * 0.5 * kPi / 180.0;
        m_sun = {std::cos(elevation) * std::sin(azimuth), std::cos(elevation) * std::cos(azimuth),
                 std::sin(elevation)};
        m_strength = p.glareBrightness / 99.0f;
        m_reach = std::cos(4.0 * kPathTall);
        m_sunAzimuth = std::atan2(m_sun.x, m_sun.y);
        m_sunElevation = std::asin(m_sun.z);
        m_sunXY = std::sqrt(m_sun.x * m_sun.x + m_sun.y * m_sun.y);
        // Lobes whose exponents both exceed this add less than the smallest glare that is
        // applied (1e-4, with room for rounding): (3 + 0.45) e^-x strength < 1e-4.
        m_skipExponent = m_on ? std::log(3.45 * m_strength / 1e-4) + 0.05 : 0.0;
    }

    // The glare's share of the light for a view ray and surface normal (unit vectors), their mirror
    // ray (unit up to rounding, not normalized yet) and the Fresnel factor; 0 for none.
    float amount(const Vec3& mirroredRay, float fresnelFactor) const {
        // Rays clearly out of reach are passed over before the normalization; the exact test
        // follows for the others.
        if (!m_on || dot(mirroredRay, m_sun) < m_reach - 1e-9) return 0.0f;
        const Vec3 mirrored = normalized(mirroredRay);
        const double c = dot(mirrored, m_sun);
        if (c < m_reach) return 0.0f;
        const double angle2 = 2.0 * (1.0 - c); // squared angle between mirror ray and sun
        // Most rays in reach still miss both lobes by far. The sines of the azimuth and elevation
        // differences are lower bounds of the angles, so these exponents bound the lobes from
        // above without the arc functions; rays whose glare would stay below what is added at all
        // are passed over.
        if (angle2 / (2.0 * kSparkle * kSparkle) > m_skipExponent) {
            const double mxy = std::sqrt(mirrored.x * mirrored.x + mirrored.y * mirrored.y);
            const double sinAz =
                mxy > 0.0 ? (mirrored.x * m_sun.y - mirrored.y * m_sun.x) / (mxy * m_sunXY) : 0.0;
            const double dElMin = std::fabs(mirrored.z - m_sun.z);
            if (sinAz * sinAz / (2.0 * kPathWide * kPathWide) +
                    dElMin * dElMin / (2.0 * kPathTall * kPathTall) >
                m_skipExponent)
                return 0.0f;
        }
        const double dAz = std::atan2(mirrored.x, mirrored.y) - m_sunAzimuth;
        const double dEl = std::asin(std::clamp(mirrored.z, -1.0, 1.0)) - m_sunElevation;
        const double lobe = 3.0 * std::exp(-angle2 / (2.0 * kSparkle * kSparkle)) +
                            0.45 * std::exp(-dAz * dAz / (2.0 * kPathWide * kPathWide) -
                                            dEl * dEl / (2.0 * kPathTall * kPathTall));
        const float amount = m_strength * fresnelFactor * float(lobe);
        return amount <= 1e-4f ? 0.0f : amount;
    }
    const float* colour() const { return m_colour; }

private:
    static constexpr double kSparkle = 0.8 * kPi / 180.0, kPathWide = 2.0 * kPi / 180.0,
                            kPathTall = 6.0 * kPi / 180.0;
    bool m_on = false;
    float m_colour[3] = {};
    Vec3 m_sun{0, 0, 1};
    float m_strength = 0;
    double m_reach = 1, m_sunAzimuth = 0, m_sunElevation = 0, m_sunXY = 0, m_skipExponent = 0;
};

} // namespace

int WaterGrid::liveScale(int imageWidth, int imageHeight) {
    const double s = std::round(std::sqrt(double(imageWidth) * double(imageHeight) / 1000000.0));
    return std::max(1, int(s));
}

WaterGrid WaterGrid::forRun(int imageWidth, int imageHeight, bool live) {
    WaterGrid g;
    g.imageWidth = imageWidth;
    g.imageHeight = imageHeight;
    g.scale = live ? liveScale(imageWidth, imageHeight) : 1;
    g.width = (imageWidth + g.scale - 1) / g.scale;
    g.height = (imageHeight + g.scale - 1) / g.scale;
    return g;
}

std::vector<Wave> drawWaveSet(const WaterParams& p) {
    Common::cLcgRandom random(101);
    std::vector<Wave> waves;
    const int height = std::max(1, p.height), length = std::max(1, p.length);
    for (int i = 0; i < p.density; ++i) {
        Wave w;
        w.amplitude = ((random.next() % height) + height) / 10.0;
        w.directionDegrees = (random.next() % (p.dispersal + 1)) + p.direction - p.dispersal / 2;
        w.wavelength = length + 2 * (random.next() % length);
        w.phase = ((random.next() % 26) / 100.0) * 2.0 * kPi;
        waves.push_back(w);
    }
    return waves;
}

void buildWaterMaps(int width, int height, double angle, WaterMaps& maps, const WaterHooks& hooks) {
    maps.width = width;
    maps.height = height;
    maps.horizonRow = WaterParams::horizonRow(angle, height);
    // Every sample of the map is written below, the rows in parallel.
    maps.water.resize(std::size_t(std::max(0, width)) * std::max(0, height));
    maps.firstRow = height;
    maps.depth.clear();
    maps.denominator.clear();
    maps.acrossScale = 0;
    if (width <= 0 || height <= 2) {
        std::fill(maps.water.begin(), maps.water.end(), uint8_t(0));
        return;
    }
    const RowGeometry g(height, angle);
    for (int y = std::max(0, maps.horizonRow + 1); y < height; ++y)
        if (g.denominator(height, y) > kMinDenominator) {
            maps.firstRow = y;
            break;
        }
    const int rows = maps.waterRows();
    maps.acrossScale = kEyeHeight * g.s;
    maps.depth.resize(std::size_t(rows));
    maps.denominator.resize(std::size_t(rows));
    for (int r = 0; r < rows; ++r) {
        const int y = maps.firstRow + r;
        const double t = g.t(height, y), d = g.denominator(height, y);
        maps.depth[std::size_t(r)] = float(kEyeHeight * (t * g.cosA + g.sinA) / d);
        maps.denominator[std::size_t(r)] = d;
    }
    forRows(0, height, hooks, [&](int y) {
        std::fill_n(&maps.water[std::size_t(y) * width], width, uint8_t(y >= maps.firstRow ? 255 : 0));
    });
}

namespace {

// std::round for |v| < 2^31 without the library call: v - trunc(v) is exact.
inline int32_t roundHalfAway(double v) {
    const int32_t t = int32_t(v);
    const double rest = v - double(t);
    return t + (rest >= 0.5 ? 1 : 0) - (rest <= -0.5 ? 1 : 0);
}

// Common::cubicKernel with both pieces evaluated and one selected, which the compiler turns into
// selections instead of branches that the sample positions make unpredictable; the same values.
inline double kernelWithoutBranches(double t) {
    t = std::fabs(t);
    const double inner = (1.5 * t - 2.5) * t * t + 1.0;
    const double outer = ((-0.5 * t + 2.5) * t - 4.0) * t + 2.0;
    return t < 1.0 ? inner : (t < 2.0 ? outer : 0.0);
}

// Adds N waves, each A sin^5 of a phase advanced by rotation (s, c) by (cs, sn) per sample, to
// sum[start ... end - 1], wave by wave in order at every sample.
template <int N>
void advanceWavesN(int start, int end, double* s, double* c, const double* cs, const double* sn,
                   const double* amplitude, double* sum) {
    for (int x = start; x < end; ++x) {
        double total = sum[x];
        for (int k = 0; k < N; ++k) {
            const double s2 = s[k] * s[k];
            total += amplitude[k] * s2 * s2 * s[k];
            const double ns = s[k] * cs[k] + c[k] * sn[k];
            c[k] = c[k] * cs[k] - s[k] * sn[k];
            s[k] = ns;
        }
        sum[x] = total;
    }
}

void advanceWaves(std::size_t n, int start, int end, double* s, double* c, const double* cs, const double* sn,
                  const double* amplitude, double* sum) {
    switch (n) {
    case 1:
        advanceWavesN<1>(start, end, s, c, cs, sn, amplitude, sum);
        break;
    case 2:
        advanceWavesN<2>(start, end, s, c, cs, sn, amplitude, sum);
        break;
    case 3:
        advanceWavesN<3>(start, end, s, c, cs, sn, amplitude, sum);
        break;
    default:
        advanceWavesN<4>(start, end, s, c, cs, sn, amplitude, sum);
        break;
    }
}

} // namespace

bool buildWaveField(const WaterMaps& maps, const WaterParams& p, WaveField& field, const WaterHooks& hooks) {
    const int width = maps.width, rows = maps.waterRows();
    field.resize(std::size_t(std::max(0, rows)) * std::max(0, width));
    if (rows <= 0 || width <= 0) return !hooks.isCancelled();
    const std::vector<Wave> waves = drawWaveSet(p);
    struct WaveTerm {
        double ax, ay, amplitude, phase;
    };
    std::vector<WaveTerm> terms;
    for (const Wave& w : waves) {
        const double theta = w.directionDegrees * kPi / 180.0;
        terms.push_back(
            {std::cos(theta) / w.wavelength, std::sin(theta) / w.wavelength, w.amplitude, w.phase});
    }
    const double rippleWeight = p.microwaves / 10.0;
    const double length = std::max(1, p.length);

    forRows(maps.firstRow, maps.height, hooks, [&](int y) {
        const int r = y - maps.firstRow;
        const std::size_t offset = std::size_t(r) * width;
        thread_local std::vector<float> acrossRow;
        acrossRow.resize(std::size_t(width));
        float* across = acrossRow.data();
        for (int x = 0; x < width; ++x) across[x] = maps.acrossAt(x, r);
        const float* depth = &maps.depth[std::size_t(r)]; // the same along the row
        const uint8_t* water = &maps.water[std::size_t(y) * width];
        float* out = &field[offset];
        thread_local std::vector<double> sum;
        sum.assign(std::size_t(width), 0.0);

        // The waves: along a row the phase of each wave grows linearly with x, so the sine is
        // advanced by rotation and re-anchored every 64 samples.
        const double x0 = across[0],
                     dx = width > 1 ? double(across[width - 1] - across[0]) / (width - 1) : 0.0;
        // Up to four waves advance side by side, so that their rotations overlap instead of each
        // waiting on its own previous step; every sample still adds the waves in their order.
        for (std::size_t first = 0; first < terms.size(); first += 4) {
            const std::size_t n = std::min<std::size_t>(4, terms.size() - first);
            double cs[4] = {1, 1, 1, 1}, sn[4] = {}, amplitude[4] = {};
            for (std::size_t k = 0; k < n; ++k) {
                const double step = terms[first + k].ax * dx;
                cs[k] = std::cos(step);
                sn[k] = std::sin(step);
                amplitude[k] = terms[first + k].amplitude;
            }
            for (int start = 0; start < width; start += 64) {
                double s[4] = {}, c[4] = {1, 1, 1, 1};
                for (std::size_t k = 0; k < n; ++k) {
                    const WaveTerm& w = terms[first + k];
                    const double phase = w.ax * (x0 + dx * start) + w.ay * depth[0] + w.phase;
                    s[k] = std::sin(phase);
                    c[k] = std::cos(phase);
                }
                const int end = std::min(width, start + 64);
                advanceWaves(n, start, end, s, c, cs, sn, amplitude, sum.data());
            }
        }

        // The ripples: three octaves of value noise. The lattice rows depend on the row only, so
        // their weighted sums are formed once per lattice column, unless the lattice is finer than
        // the grid (close to the horizon), where the noise is evaluated per sample.
        if (rippleWeight > 0.0) {
            thread_local std::vector<double> columns;
            for (int octave = 0; octave < 3; ++octave) {
                const double scale = double(1 << octave) / length;
                const double f1 = depth[0] * scale;
                const double fLo = (x0)*scale, fHi = (x0 + dx * (width - 1)) * scale;
                if (!(std::fabs(f1) < 1e9) || !(std::fabs(fLo) < 1e9) || !(std::fabs(fHi) < 1e9)) continue;
                const int32_t jLo = int32_t(std::round(std::min(fLo, fHi))) - 2;
                const int32_t jHi = int32_t(std::round(std::max(fLo, fHi))) + 2;
                const int64_t count = int64_t(jHi) - jLo + 1;
                if (count <= int64_t(4) * width + 16) {
                    const int32_t i0 = int32_t(std::round(f1));
                    double rowWeight[5];
                    for (int a = 0; a < 5; ++a) rowWeight[a] = Common::cubicKernel(double(i0 - 2 + a) - f1);
                    columns.assign(std::size_t(count), 0.0);
                    for (int64_t j = 0; j < count; ++j) {
                        double v = 0.0;
                        for (int a = 0; a < 5; ++a)
                            if (rowWeight[a] != 0.0)
                                v += rowWeight[a] *
                                     Common::valueNoiseHash(i0 - 2 + a, int32_t(jLo + j), kRippleHash);
                        columns[std::size_t(j)] = v;
                    }
                    for (int x = 0; x < width; ++x) {
                        const double f2 = double(across[x]) * scale;
                        const int32_t j0 = roundHalfAway(f2);
                        double v = 0.0;
                        for (int b = 0; b < 5; ++b) {
                            const int32_t j = j0 - 2 + b;
                            v += columns[std::size_t(j - jLo)] * kernelWithoutBranches(double(j) - f2);
                        }
                        sum[x] += rippleWeight * v / 3.0;
                    }
                } else {
                    for (int x = 0; x < width; ++x)
                        sum[x] += rippleWeight *
                                  Common::cubicValueNoise(f1, double(across[x]) * scale, kRippleHash) / 3.0;
                }
            }
        }
        for (int x = 0; x < width; ++x) out[x] = water[x] > 254 ? float(sum[x]) : 0.0f;
    });
    return !hooks.isCancelled();
}

void prepareSurface(const WaterMaps& maps, const WaveField& field, const WaterParams& p,
                    const WaterPicture& picture, WaterSurface& s) {
    const int width = maps.width, rows = maps.waterRows();
    s.width = width;
    s.height = maps.height;
    s.firstRow = maps.firstRow;
    s.horizonRow = maps.horizonRow;
    s.focal = 0.75 * std::max(maps.width, maps.height);
    s.field = field.data();
    if (rows <= 0 || width <= 0) return;

    // Slopes on the water plane come from differences of the field. Far away one grid step spans
    // more water than the finest waves and ripples: there the differences only alias, so the slopes
    // fade out as a step grows past half the finest detail.
    const double finest = std::max(1.0, p.length / (p.microwaves > 0 ? 4.0 : 1.0));
    s.fadeX.resize(std::size_t(rows));
    s.fadeY.resize(std::size_t(rows));
    s.depthSpan.resize(std::size_t(rows));
    for (int r = 0; r < rows; ++r) {
        const int up = std::max(0, r - 1), down = std::min(rows - 1, r + 1);
        const double dDepth = double(maps.depth[std::size_t(up)]) - maps.depth[std::size_t(down)];
        const double stepY = std::fabs(dDepth) / std::max(1, down - up);
        const double stepX = width > 1 ? std::fabs(double(maps.acrossAt(1, r)) - maps.acrossAt(0, r)) : 0.0;
        s.fadeY[std::size_t(r)] = std::exp(-std::pow(stepY / (0.5 * finest), 2.0));
        s.fadeX[std::size_t(r)] = std::exp(-std::pow(stepX / (0.5 * finest), 2.0));
        s.depthSpan[std::size_t(r)] = dDepth;
    }

    // The sky beyond the top edge: the top rows of the picture, averaged and blurred widely.
    s.skyTop.assign(std::size_t(width) * 3, 0.0f);
    const int band = std::max(1, std::min(std::max(1, maps.horizonRow), picture.height / 20 + 1));
    std::vector<float> channel(width);
    for (int c = 0; c < 3; ++c) {
        for (int x = 0; x < width; ++x) {
            double sum = 0.0;
            for (int y = 0; y < band; ++y) sum += picture.rgb[(std::size_t(y) * picture.width + x) * 3 + c];
            channel[x] = float(sum / band / 65535.0);
        }
        Common::boxGaussianBlur(channel.data(), width, 1, width / 8.0, 0.0);
        for (int x = 0; x < width; ++x) s.skyTop[std::size_t(x) * 3 + c] = channel[x];
    }
    // The brightness of the scene above the horizon lights the body of the water.
    const int sceneRows = std::clamp(maps.horizonRow + 1, 0, picture.height);
    double light = 0.0;
    int64_t count = 0;
    for (int y = 0; y < sceneRows; y += 4)
        for (int x = 0; x < picture.width; x += 4, ++count) {
            const uint16_t* px = &picture.rgb[(std::size_t(y) * picture.width + x) * 3];
            light += (0.2126 * px[0] + 0.7152 * px[1] + 0.0722 * px[2]) / 65535.0;
        }
    s.ambient = count ? float(std::clamp(light / count * 1.2, 0.05, 1.0)) : 0.5f;
}

void slopesOfRow(const WaterMaps& maps, const WaterSurface& s, int r, int x0, int x1, float* slopeX,
                 float* slopeY) {
    const int width = maps.width, rows = maps.waterRows();
    // X of columns x0 - 1 ... x1 (those inside the grid) at index x - x0 + 1.
    thread_local std::vector<float> acrossRow;
    acrossRow.resize(std::size_t(x1 - x0 + 2));
    for (int x = std::max(0, x0 - 1); x <= std::min(width - 1, x1); ++x)
        acrossRow[std::size_t(x - x0 + 1)] = maps.acrossAt(x, r);
    const float* across = acrossRow.data() - (x0 - 1);
    const int up = std::max(0, r - 1), down = std::min(rows - 1, r + 1);
    const double fadeX = s.fadeX[std::size_t(r)], fadeY = s.fadeY[std::size_t(r)];
    const double dDepth = s.depthSpan[std::size_t(r)];
    const float* here = s.field + std::size_t(r) * width;
    const float* above = s.field + std::size_t(up) * width;
    const float* below = s.field + std::size_t(down) * width;
    for (int x = x0; x < x1; ++x) {
        const int l = std::max(0, x - 1), rr = std::min(width - 1, x + 1);
        const double dX = double(across[rr]) - across[l];
        slopeX[x - x0] = dX != 0.0 ? float(fadeX * (here[rr] - here[l]) / dX) : 0.0f;
        slopeY[x - x0] = dDepth != 0.0 ? float(fadeY * (above[x] - below[x]) / dDepth) : 0.0f;
    }
}

void makeBottom(const WaterMaps& maps, const WaterPicture& picture, const WaterParams& p, WaterSurface& s,
                const WaterHooks& hooks) {
    const int width = maps.width, rows = maps.waterRows();
    s.under.resize(std::size_t(std::max(0, rows)) * std::max(0, width) * 3);
    if (rows <= 0) return;
    float water[3];
    colourOf(p.waterColor, water);
    const float depth = p.depth / 100.0f;
    float body[3], tint[3];
    for (int c = 0; c < 3; ++c) {
        body[c] = water[c] * s.ambient * 0.8f;
        tint[c] = 1.0f + (water[c] - 1.0f) * 0.5f * (0.3f + depth);
    }
    const float horizonLine = float(s.horizonRow) + 0.5f;
    const float firstRow = float(maps.firstRow);
    forSurfaceTiles(maps, s, hooks, [&](int r, int x0, int x1, const float* slopeX, const float* slopeY) {
        const int y = maps.firstRow + r;
        const float below = float(y) - horizonLine;
        for (int x = x0; x < x1; ++x) {
            const std::size_t i = std::size_t(r) * width + x;
            const Vec3 view = viewRay(s, x, y);
            // Light through shallow water bends with the slope, more so close to the viewer.
            const float shift = float(kRefraction * kSlopeGain) * below;
            float bottom[3];
            samplePicture(picture, float(x) - slopeX[x - x0] * shift, float(y) + slopeY[x - x0] * shift,
                          firstRow, float(picture.height - 1), bottom);
            // The longer the path through the water, the more of the water's own colour is seen.
            const float path = 1.0f / float(std::max(0.02, -view.z));
            const float opacity = depth >= 1.0f ? 1.0f : 1.0f - std::pow(1.0f - depth, path);
            uint16_t* out = &s.under[i * 3];
            for (int c = 0; c < 3; ++c)
                out[c] = fromUnit(bottom[c] * tint[c] * (1.0f - opacity) + body[c] * opacity);
        }
    });
}

void reflectScene(const WaterMaps& maps, const WaterPicture& picture, const WaterParams& p, WaterSurface& s,
                  const WaterHooks& hooks) {
    const int width = maps.width, rows = maps.waterRows();
    if (rows <= 0) return;
    float water[3];
    colourOf(p.waterColor, water);
    // Reflections on water lose a little light and take a trace of the water's colour.
    float reflectTint[3];
    for (int c = 0; c < 3; ++c) reflectTint[c] = 0.92f * (0.85f + 0.15f * water[c]);
    const Glare glare(p);
    const std::size_t n = std::size_t(rows) * width;
    // The light from above, per sample: the reflected scene held at the surface's precision, the
    // Fresnel factor and the glare's share; the same for every colour and depth of the water.
    auto mix = [&](std::size_t i, const uint16_t* mirrored, float f, float g) {
        uint16_t* under = &s.under[i * 3];
        for (int c = 0; c < 3; ++c)
            under[c] = fromUnit(toUnit(under[c]) * (1.0f - f) + toUnit(mirrored[c]) * reflectTint[c] * f);
        if (g > 0.0f)
            for (int c = 0; c < 3; ++c) under[c] = fromUnit(toUnit(under[c]) + glare.colour()[c] * g);
    };
    if (s.lightStored && s.mirroredLight.size() == n * 3 && s.fresnelFactor.size() == n &&
        s.glareAmount.size() == n) {
        forRows(0, rows, hooks, [&](int r) {
            for (std::size_t i = std::size_t(r) * width, end = i + width; i < end; ++i)
                mix(i, &s.mirroredLight[i * 3], s.fresnelFactor[i], s.glareAmount[i]);
        });
        return;
    }
    s.lightStored = false;
    s.mirroredLight.resize(n * 3);
    s.fresnelFactor.resize(n);
    s.glareAmount.resize(n);
    const float horizonLine = float(s.horizonRow) + 0.5f;
    const float sceneBottom = float(std::clamp(s.horizonRow, 0, picture.height - 1));
    const float skyFade = 1.0f / std::max(1.0f, 0.3f * float(picture.height));
    forSurfaceTiles(maps, s, hooks, [&](int r, int x0, int x1, const float* slopeX, const float* slopeY) {
        const int y = maps.firstRow + r;
        // Near the viewer the waves send neighbouring reflection rays to scattered places of the
        // scene. The geometry of a row segment is worked out first, with the picture rows it will
        // read requested from memory, and the picture is sampled afterwards, so that those reads
        // overlap instead of each one stalling the arithmetic.
        float sxs[kTileColumns], sys[kTileColumns];
        const std::size_t row = std::size_t(r) * width;
        for (int x = x0; x < x1; ++x) {
            const Vec3 view = viewRay(s, x, y);
            const Vec3 normal = surfaceNormal(slopeX[x - x0], slopeY[x - x0]);
            const Vec3 mirrored = reflect(view, normal);
            const double forward = std::max(1e-3, mirrored.y);
            const double up = std::max(0.0, mirrored.z);
            const float sx = float(s.width * 0.5 + s.focal * mirrored.x / forward);
            const float sy = float(horizonLine - s.focal * up / forward);
            sxs[x - x0] = sx;
            sys[x - x0] = sy;
            const float f = fresnel(view, normal);
            s.fresnelFactor[row + x] = f;
            s.glareAmount[row + x] = glare.amount(mirrored, f);
            const int px = int(std::clamp(sx, 0.0f, float(picture.width - 1)));
            const int py = int(std::clamp(sy, 0.0f, sceneBottom));
            const uint16_t* at = &picture.rgb[(std::size_t(py) * picture.width + px) * 3];
            __builtin_prefetch(at);
            __builtin_prefetch(at + std::size_t(picture.width) * 3);
        }
        for (int x = x0; x < x1; ++x) {
            const float sx = sxs[x - x0], sy = sys[x - x0];
            float colour[3];
            samplePicture(picture, sx, sy, 0.0f, sceneBottom, colour);
            if (sy < 0.0f) {
                // Above the picture: fade into the colour of the sky at the top edge.
                const float k = std::min(1.0f, -sy * skyFade);
                const int column = std::clamp(int(sx), 0, width - 1);
                for (int c = 0; c < 3; ++c)
                    colour[c] += (s.skyTop[std::size_t(column) * 3 + c] - colour[c]) * k;
            }
            uint16_t* mirrored = &s.mirroredLight[(row + x) * 3];
            for (int c = 0; c < 3; ++c) mirrored[c] = fromUnit(colour[c]);
            mix(row + x, mirrored, s.fresnelFactor[row + x], s.glareAmount[row + x]);
        }
    });
    s.lightStored = !hooks.isCancelled();
}

} // namespace Orvex::Document::Filters
