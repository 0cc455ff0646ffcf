#include "document/filters/frost/FrostCrystals.h"

#include "document/filters/common/Random.h"
#include "document/filters/common/RecursiveGaussian.h"
#include "mt/JobsPool.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

namespace Orvex::Document::Filters {

namespace {

constexpr int kTile = 64;

std::atomic<uint32_t> g_crustState{1};

// The shift register visits every non-zero 20-bit state once per period. Walking it by position
// instead of by state lets the growth jump straight to the pixels where a walker may start and
// know in advance where every walker goes.
constexpr uint32_t kPeriod = 0xFFFFF;

struct CrustTables {
    std::vector<uint32_t> stateAt;    // the state at each position, position 0 being state 1
    std::vector<uint32_t> positionOf; // the inverse
    std::vector<uint8_t> directionAt; // the direction of a walker step taken from a position

    CrustTables() : stateAt(kPeriod), positionOf(kPeriod + 1, 0), directionAt(kPeriod) {
        Common::cShiftRegister20 crust(1);
        for (uint32_t p = 0; p < kPeriod; ++p) {
            stateAt[p] = crust.state();
            positionOf[crust.state()] = p;
            crust.next();
        }
        for (uint32_t p = 0; p < kPeriod; ++p) {
            const uint32_t s1 = stateAt[(p + 1) % kPeriod], s2 = stateAt[(p + 2) % kPeriod],
                           s3 = stateAt[(p + 3) % kPeriod];
            directionAt[p] = uint8_t((s1 + s2 + s3 + 5) & 7u);
        }
    }
    static const CrustTables& instance() {
        static const CrustTables tables;
        return tables;
    }
};

inline uint32_t advance(uint32_t position, uint64_t steps) {
    return uint32_t((position + steps) % kPeriod);
}

// Walker directions: 0 right, 1 left, 2 down, 3 up, 4 right and up, 5 left and down, 6 right and
// down, 7 left and up.
constexpr int kStepX[8] = {1, -1, 0, 0, 1, -1, 1, -1};
constexpr int kStepY[8] = {0, 0, 1, -1, -1, 1, 1, -1};

// Pixel index in tile order (tiles row-major, pixels of a tile row-major) to coordinates.
struct TileOrder {
    int width, height;
    void toXY(int64_t index, int& x, int& y) const {
        const int64_t bandPixels = int64_t(width) * kTile;
        const int band = int(index / bandPixels);
        const int64_t inBand = index - band * bandPixels;
        const int bandHeight = std::min(kTile, height - band * kTile);
        const int64_t tilePixels = int64_t(kTile) * bandHeight;
        const int tile = int(inBand / tilePixels);
        const int inTile = int(inBand - tile * tilePixels);
        const int tileWidth = std::min(kTile, width - tile * kTile);
        y = band * kTile + inTile / tileWidth;
        x = tile * kTile + inTile % tileWidth;
    }
};

// Which 8 x 8 blocks hold a crystal, with per-row prefix counts so that "is there any crystal in
// this rectangle" costs two reads per block row.
class CrystalBlocks {
public:
    CrystalBlocks(const std::vector<uint8_t>& crystals, int width, int height)
        : m_columns((width + 7) / 8), m_rows((height + 7) / 8), m_count(std::size_t(m_columns) * m_rows, 0),
          m_prefix(std::size_t(m_columns + 1) * m_rows, 0) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (crystals[std::size_t(y) * width + x]) ++m_count[std::size_t(y / 8) * m_columns + x / 8];
        for (int by = 0; by < m_rows; ++by) {
            int32_t* prefix = &m_prefix[std::size_t(by) * (m_columns + 1)];
            for (int bx = 0; bx < m_columns; ++bx)
                prefix[bx + 1] = prefix[bx] + (m_count[std::size_t(by) * m_columns + bx] ? 1 : 0);
        }
    }
    void add(int x, int y) {
        const int bx = x / 8, by = y / 8;
        if (m_count[std::size_t(by) * m_columns + bx]++ == 0) {
            int32_t* prefix = &m_prefix[std::size_t(by) * (m_columns + 1)];
            for (int i = bx + 1; i <= m_columns; ++i) ++prefix[i];
        }
    }
    // Inclusive pixel rectangle, inside the image.
    bool any(int x0, int y0, int x1, int y1) const {
        const int bx0 = x0 / 8, bx1 = x1 / 8 + 1;
        for (int by = y0 / 8; by <= y1 / 8; ++by) {
            const int32_t* prefix = &m_prefix[std::size_t(by) * (m_columns + 1)];
            if (prefix[bx1] != prefix[bx0]) return true;
        }
        return false;
    }

private:
    int m_columns, m_rows;
    std::vector<uint16_t> m_count;
    std::vector<int32_t> m_prefix;
};

// Where a stretch of walker steps goes, relative to where it starts: the box of every pixel it
// tries to enter and where it ends, assuming no step is skipped at the image border.
struct Reach {
    int16_t minX = 0, maxX = 0, minY = 0, maxY = 0, endX = 0, endY = 0;
};

constexpr int kSegment = 64;

// The walks of every candidate start position: the whole walk and its 64-step segments.
struct WalkBook {
    std::vector<uint32_t> starts;    // candidate positions, ascending
    std::vector<uint32_t> nextStart; // for each position, the index of the first candidate at or after it
    int steps = 1;
    int segments = 1;
    std::vector<Reach> whole;   // per candidate
    std::vector<Reach> segment; // per candidate, `segments` each

    WalkBook(uint32_t threshold, int walkSteps) : steps(walkSteps) {
        const CrustTables& tables = CrustTables::instance();
        for (uint32_t p = 0; p < kPeriod; ++p)
            if (tables.stateAt[p] - 1 < threshold) starts.push_back(p);
        nextStart.resize(kPeriod + 1);
        uint32_t index = uint32_t(starts.size());
        for (uint32_t p = kPeriod + 1; p-- > 0;) {
            if (index > 0 && starts[index - 1] >= p) --index;
            nextStart[p] = index;
        }
        segments = (steps + kSegment - 1) / kSegment;
        whole.resize(starts.size());
        segment.resize(starts.size() * std::size_t(segments));
        for (std::size_t c = 0; c < starts.size(); ++c) {
            uint32_t p = starts[c];
            int x = 0, y = 0;
            Reach all;
            for (int s = 0; s < segments; ++s) {
                const int n = std::min(kSegment, steps - s * kSegment);
                const int sx = x, sy = y;
                Reach r;
                for (int i = 0; i < n; ++i) {
                    const int d = tables.directionAt[p];
                    p += 3;
                    if (p >= kPeriod) p -= kPeriod;
                    const int tx = x + kStepX[d], ty = y + kStepY[d];
                    r.minX = int16_t(std::min<int>(r.minX, tx - sx));
                    r.maxX = int16_t(std::max<int>(r.maxX, tx - sx));
                    r.minY = int16_t(std::min<int>(r.minY, ty - sy));
                    r.maxY = int16_t(std::max<int>(r.maxY, ty - sy));
                    all.minX = int16_t(std::min<int>(all.minX, tx));
                    all.maxX = int16_t(std::max<int>(all.maxX, tx));
                    all.minY = int16_t(std::min<int>(all.minY, ty));
                    all.maxY = int16_t(std::max<int>(all.maxY, ty));
                    x = tx;
                    y = ty;
                }
                r.endX = int16_t(x - sx);
                r.endY = int16_t(y - sy);
                segment[c * segments + s] = r;
            }
            all.endX = int16_t(x);
            all.endY = int16_t(y);
            whole[c] = all;
        }
    }
};

} // namespace

uint32_t frostCrustState() {
    return g_crustState.load();
}
void setFrostCrustState(uint32_t state) {
    state &= 0xFFFFFu;
    g_crustState.store(state ? state : 1u);
}

FrostGrid FrostGrid::forImage(int width, int height) {
    FrostGrid g;
    g.imageWidth = g.width = std::max(0, width);
    g.imageHeight = g.height = std::max(0, height);
    const double s = std::max(g.imageWidth, g.imageHeight) / double(kLongerSide);
    if (s > 1.0) {
        g.scale = s;
        g.width = std::max(1, int(std::round(g.imageWidth / s)));
        g.height = std::max(1, int(std::round(g.imageHeight / s)));
    }
    return g;
}

void enlargeFrostMap(const FrostGrid& g, const std::vector<uint8_t>& cells, std::vector<uint8_t>& image,
                     int maxWorkers) {
    const int gw = g.width, gh = g.height, w = g.imageWidth, h = g.imageHeight;
    image.resize(std::size_t(w) * h);
    // Grid position of each image column, once: the full rectangles map onto each other.
    std::vector<int> x0(static_cast<std::size_t>(w)), x1(static_cast<std::size_t>(w));
    std::vector<float> wx(static_cast<std::size_t>(w));
    const double kx = double(gw) / w, ky = double(gh) / h;
    for (int x = 0; x < w; ++x) {
        const double gx = std::clamp((x + 0.5) * kx - 0.5, 0.0, double(gw - 1));
        x0[x] = int(gx);
        x1[x] = std::min(x0[x] + 1, gw - 1);
        wx[x] = float(gx - x0[x]);
    }
    MT::parallelFor(
        0, uint32_t(h),
        [&](uint32_t first, uint32_t last) {
            for (uint32_t y = first; y < last; ++y) {
                const double gy = std::clamp((y + 0.5) * ky - 0.5, 0.0, double(gh - 1));
                const int y0 = int(gy), y1 = std::min(y0 + 1, gh - 1);
                const float wy = float(gy - y0);
                const uint8_t* c0 = &cells[std::size_t(y0) * gw];
                const uint8_t* c1 = &cells[std::size_t(y1) * gw];
                uint8_t* out = &image[std::size_t(y) * w];
                for (int x = 0; x < w; ++x) {
                    const int a = x0[x], b = x1[x];
                    const float u = wx[x];
                    const float top = float(c0[a] != 0) + u * (float(c0[b] != 0) - float(c0[a] != 0));
                    const float bottom = float(c1[a] != 0) + u * (float(c1[b] != 0) - float(c1[a] != 0));
                    out[x] = top + wy * (bottom - top) >= 0.5f ? 255 : 0;
                }
            }
        },
        16, uint32_t(std::max(0, maxWorkers)));
}

FrostRect selectionBounds(const uint8_t* selection, int width, int height) {
    int left = width, right = -1, top = height, bottom = -1;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = selection + std::size_t(y) * width;
        int first = -1, last = -1;
        for (int x = 0; x < width; ++x)
            if (row[x]) {
                first = x;
                break;
            }
        if (first < 0) continue;
        for (int x = width - 1; x >= first; --x)
            if (row[x]) {
                last = x;
                break;
            }
        left = std::min(left, first);
        right = std::max(right, last);
        top = std::min(top, y);
        bottom = y;
    }
    if (right < 0) return {};
    return {left, top, right + 1, bottom + 1};
}

FrostRect tileCover(const FrostRect& bounds, int width, int height) {
    if (bounds.isEmpty()) return {};
    const FrostRect cover{bounds.left / kTile * kTile, bounds.top / kTile * kTile,
                          (bounds.right + kTile - 1) / kTile * kTile,
                          (bounds.bottom + kTile - 1) / kTile * kTile};
    return cover.intersected({0, 0, width, height});
}

bool buildFrostField(const uint8_t* selection, int width, int height, const FrostRect& bounds, int thickness,
                     std::vector<float>& field, const FrostHooks& hooks) {
    double sigma = std::min(13.0, thickness * 13.0 / 100.0);
    if (sigma < 1.5) sigma = 1.5;
    const int radius = int(std::round(3.0 * sigma));
    field.assign(std::size_t(width) * height, 0.0f);
    if (bounds.isEmpty()) return true;
    const FrostRect region =
        FrostRect{bounds.left - radius, bounds.top - radius, bounds.right + radius, bounds.bottom + radius}
            .intersected({0, 0, width, height});
    for (int y = bounds.top; y < bounds.bottom; ++y)
        for (int x = bounds.left; x < bounds.right; ++x)
            field[std::size_t(y) * width + x] = selection[std::size_t(y) * width + x] / 255.0f;

    hooks.beginPhase(0.1, 1);
    float* origin = field.data() + std::size_t(region.top) * width + region.left;
    Common::recursiveGaussianBlur(origin, width, region.width(), region.height(), sigma, sigma);
    hooks.advance();
    if (hooks.isCancelled()) return false;

    hooks.beginPhase(0.1, 1);
    float peak = 0.0f;
    for (int y = region.top; y < region.bottom; ++y) {
        const float* row = &field[std::size_t(y) * width];
        for (int x = region.left; x < region.right; ++x) peak = std::max(peak, row[x]);
    }
    const float infinity = std::numeric_limits<float>::infinity();
    const uint32_t workers = uint32_t(std::max(0, hooks.maxWorkers));
    MT::parallelFor(
        uint32_t(bounds.top), uint32_t(bounds.bottom),
        [&](uint32_t first, uint32_t last) {
            for (uint32_t y = first; y < last; ++y) {
                float* row = &field[std::size_t(y) * width];
                for (int x = bounds.left; x < bounds.right; ++x) {
                    const float ratio = peak > 0.0f ? row[x] / peak : 0.0f;
                    row[x] = ratio > 0.0f ? -std::log(ratio) : infinity;
                }
            }
        },
        16, workers);
    hooks.advance();
    return !hooks.isCancelled();
}

void seedFrostCrystals(const uint8_t* selection, int width, int height, int fill,
                       std::vector<uint8_t>& crystals) {
    crystals.assign(selection, selection + std::size_t(width) * height);
    const CrustTables& tables = CrustTables::instance();
    const uint32_t threshold = uint32_t(std::max(0, 1048000 - 2000 * fill));
    uint32_t position = tables.positionOf[frostCrustState()];
    for (int ty = 0; ty < height; ty += kTile)
        for (int tx = 0; tx < width; tx += kTile) {
            const int y1 = std::min(height, ty + kTile), x1 = std::min(width, tx + kTile);
            for (int y = ty; y < y1; ++y) {
                uint8_t* row = &crystals[std::size_t(y) * width];
                for (int x = tx; x < x1; ++x) {
                    if (!row[x]) continue;
                    if (++position == kPeriod) position = 0;
                    if (tables.stateAt[position] - 1 < threshold) row[x] = 0;
                }
            }
        }
    setFrostCrustState(tables.stateAt[position]);
}

bool growFrostCrystals(const std::vector<float>& field, int width, int height, int thickness, int branching,
                       std::vector<uint8_t>& crystals, const FrostHooks& hooks) {
    const CrustTables& tables = CrustTables::instance();
    uint32_t position = tables.positionOf[101];
    const int64_t pixels = int64_t(width) * height;
    const uint32_t startThreshold = uint32_t(std::max(0, thickness * 200));
    const int walkSteps = std::max(1, branching * 100);
    const WalkBook book(startThreshold, walkSteps);
    const TileOrder order{width, height};
    CrystalBlocks blocks(crystals, width, height);
    const std::size_t starts = book.starts.size();

    // One walker from (x, y), starting from candidate `c`; returns the position after it.
    auto walk = [&](int x, int y, std::size_t c) -> uint32_t {
        const Reach& all = book.whole[c];
        if (x + all.minX >= 0 && x + all.maxX < width && y + all.minY >= 0 && y + all.maxY < height &&
            !blocks.any(x + all.minX, y + all.minY, x + all.maxX, y + all.maxY))
            return advance(book.starts[c], uint64_t(3) * walkSteps);
        uint32_t p = book.starts[c];
        const Reach* segments = &book.segment[c * book.segments];
        for (int s = 0; s < book.segments; ++s) {
            const int n = std::min(kSegment, walkSteps - s * kSegment);
            const Reach& r = segments[s];
            if (x + r.minX >= 0 && x + r.maxX < width && y + r.minY >= 0 && y + r.maxY < height &&
                !blocks.any(x + r.minX, y + r.minY, x + r.maxX, y + r.maxY)) {
                x += r.endX;
                y += r.endY;
                p = advance(p, uint64_t(3) * n);
                continue;
            }
            for (int i = 0; i < n; ++i) {
                const int d = tables.directionAt[p];
                p += 3;
                if (p >= kPeriod) p -= kPeriod;
                const int tx = x + kStepX[d], ty = y + kStepY[d];
                if (tx < 0 || ty < 0 || tx >= width || ty >= height) continue;
                if (crystals[std::size_t(ty) * width + tx]) {
                    crystals[std::size_t(y) * width + x] = 255;
                    blocks.add(x, y);
                    return p;
                }
                x = tx;
                y = ty;
            }
        }
        return p;
    };

    double threshold = 7.5;
    for (int round = 0; round < 100; ++round) {
        if (starts == 0) {
            position = advance(position, uint64_t(pixels));
        } else {
            int64_t index = 0; // the next pixel in tile order
            while (true) {
                // The pixel at `index` advances to position + 1; the first one at or after it whose
                // position is a walker start:
                uint32_t next = position + 1 == kPeriod ? 0 : position + 1;
                uint32_t c = book.nextStart[next];
                uint64_t target = c < starts ? book.starts[c] : uint64_t(book.starts[0]) + kPeriod;
                if (c >= starts) c = 0;
                const int64_t at = index + int64_t(target - next);
                if (at >= pixels) {
                    position = advance(position, uint64_t(pixels - index));
                    break;
                }
                position = book.starts[c];
                int x, y;
                order.toXY(at, x, y);
                const std::size_t i = std::size_t(y) * width + x;
                if (field[i] <= threshold && !crystals[i]) position = walk(x, y, c);
                index = at + 1;
            }
        }
        hooks.advance();
        if (hooks.isCancelled()) {
            setFrostCrustState(tables.stateAt[position]);
            return false;
        }
        threshold += 0.2;
    }
    setFrostCrustState(tables.stateAt[position]);
    return true;
}

FrostDepositSettings FrostDepositSettings::from(int uniformity, int freeze, int transparency, uint32_t argb) {
    FrostDepositSettings s;
    const int u = 100 - uniformity;
    s.jitterRange = 3 * u / 2;
    s.jitterOffset = 9 * u / 4;
    s.red = int((argb >> 16) & 0xFF);
    s.green = int((argb >> 8) & 0xFF);
    s.blue = int(argb & 0xFF);
    s.sizeDivisor = 100.0 - freeze;
    s.fadeK = 0.5 * (100 - transparency);
    s.fadeBase = 0.9 - (100 - transparency) / 111.12;
    return s;
}

double FrostDepositSettings::keep(float d) const {
    const double t = double(d) + 0.0001;
    const double a = std::pow(0.1 * std::exp(-fadeK / t) + fadeBase, 0.2);
    if (!(a >= 0.0)) return a != a ? 1.0 : 0.0; // NaN deposits nothing
    return std::min(1.0, a);
}

namespace {

template <class T> struct Samples;
template <> struct Samples<uint8_t> {
    static constexpr double max = 255.0;
    static uint8_t store(double v) { return uint8_t(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); }
    static uint8_t shade(uint8_t c, int f) { return uint8_t(int(c) * f / 255); }
};
template <> struct Samples<uint16_t> {
    static constexpr double max = 65535.0;
    static uint16_t store(double v) { return uint16_t(std::clamp(std::floor(v + 0.5), 0.0, 65535.0)); }
    static uint16_t shade(uint16_t c, int f) { return uint16_t(int64_t(c) * f / 255); }
};
template <> struct Samples<float> {
    static constexpr double max = 1.0;
    static float store(double v) { return float(v); }
    static float shade(float c, int f) { return c * float(f) / 255.0f; }
};

} // namespace

template <class T>
bool depositFrost(T* rgba, std::ptrdiff_t stride, const FrostRect& area, int width, int height,
                  const FrostRect& bounds, const std::vector<float>& field,
                  const std::vector<uint8_t>& crystals, std::vector<uint8_t>& coverage,
                  const FrostDepositSettings& s, const FrostHooks& hooks) {
    using S = Samples<T>;
    const FrostRect cover = tileCover(bounds, width, height);
    Common::cLcgRandom random(102);
    const int range = s.jitterRange + 1;
    const double toSample = S::max / 255.0;
    for (int ty = cover.top; ty < cover.bottom; ty += kTile) {
        for (int tx = cover.left; tx < cover.right; tx += kTile) {
            const int y1 = std::min(cover.bottom, ty + kTile), x1 = std::min(cover.right, tx + kTile);
            for (int y = ty; y < y1; ++y) {
                for (int x = tx; x < x1; ++x) {
                    const std::size_t i = std::size_t(y) * width + x;
                    if (!crystals[i]) continue;
                    const double t = double(field[i]) + 0.0001;
                    const double a = s.keep(field[i]);
                    if (a >= 0.99999) continue;
                    const int r1 = random.next(), r2 = random.next(), r3 = random.next();
                    const int j = r1 % range + r2 % range + r3 % range - s.jitterOffset;
                    const double splat[3] = {std::clamp(s.red - j, 0, 255) * toSample,
                                             std::clamp(s.green - j, 0, 255) * toSample,
                                             std::clamp(s.blue - j, 0, 255) * toSample};
                    const double q = (random.next() % 101) / s.sizeDivisor;
                    const int k = t > 20.0 * q ? 0 : (t > 0.75 * q ? 1 : 2);
                    const int sy0 = std::max(0, y - k / 2), sy1 = std::min(height - 1, y + (k + 1) / 2);
                    const int sx0 = std::max(0, x - k / 2), sx1 = std::min(width - 1, x + (k + 1) / 2);
                    const double opacity = 1.0 - a;
                    for (int py = sy0; py <= sy1; ++py) {
                        T* row = rgba + std::ptrdiff_t(py - area.top) * stride;
                        for (int px = sx0; px <= sx1; ++px) {
                            T* p = row + std::ptrdiff_t(px - area.left) * 4;
                            const double alpha = double(p[3]) / S::max;
                            const double alphaOut = alpha + opacity * (1.0 - alpha);
                            for (int c = 0; c < 3; ++c)
                                p[c] = S::store((opacity * splat[c] + double(p[c]) * alpha * a) / alphaOut);
                            p[3] = S::store(alphaOut * S::max);
                            coverage[std::size_t(py) * width + px] = 1;
                        }
                    }
                }
            }
            if (hooks.isCancelled()) return false;
        }
    }
    return true;
}

template <class T>
void shadeFrost(T* rgba, std::ptrdiff_t stride, const FrostRect& area, int width, const FrostRect& region,
                const std::vector<uint8_t>& coverage, int shadow) {
    using S = Samples<T>;
    const int f = (100 - shadow) * 255 / 100;
    if (f == 255 || region.isEmpty()) return;
    MT::parallelFor(
        uint32_t(std::max(1, region.top)), uint32_t(std::max(1, region.bottom)),
        [&](uint32_t first, uint32_t last) {
            for (uint32_t y = first; y < last; ++y) {
                const uint8_t* here = &coverage[std::size_t(y) * width];
                const uint8_t* above = here - width;
                T* row = rgba + std::ptrdiff_t(y - area.top) * stride;
                for (int x = std::max(1, region.left); x < region.right; ++x) {
                    if (!here[x] || above[x - 1]) continue;
                    T* p = row + std::ptrdiff_t(x - area.left) * 4;
                    for (int c = 0; c < 3; ++c) p[c] = S::shade(p[c], f);
                }
            }
        },
        16);
}

#define ELEMORAMA_FROST_INSTANTIATE(T)                                                                       \
    template bool depositFrost<T>(T*, std::ptrdiff_t, const FrostRect&, int, int, const FrostRect&,          \
                                  const std::vector<float>&, const std::vector<uint8_t>&,                    \
                                  std::vector<uint8_t>&, const FrostDepositSettings&, const FrostHooks&);    \
    template void shadeFrost<T>(T*, std::ptrdiff_t, const FrostRect&, int, const FrostRect&,                 \
                                const std::vector<uint8_t>&, int);
ELEMORAMA_FROST_INSTANTIATE(uint8_t)
ELEMORAMA_FROST_INSTANTIATE(uint16_t)
ELEMORAMA_FROST_INSTANTIATE(float)
#undef ELEMORAMA_FROST_INSTANTIATE

} // namespace Orvex::Document::Filters
