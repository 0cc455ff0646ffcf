#pragma once
// Helpers of the combiner tests: channels filled with seeded random samples, typed access in
// normalised units, and the expected stored value of a normalised result.

#include "datastorage/DataChannel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace CombinerTest {

using namespace Orvex;
using namespace Orvex::DataStorage;

inline double maxOf(int32_t type) {
    return type == -1 ? 255.0 : type == -2 ? 65535.0 : 1.0;
}

// Normalised sample (0 ... 1) at (x, y).
inline double sampleAt(const DataChannel& c, int x, int y) {
    switch (c.type()) {
    case -1:
        return c.value<uint8_t>(x, y) / 255.0;
    case -2:
        return c.value<uint16_t>(x, y) / 65535.0;
    default:
        return c.value<float>(x, y);
    }
}

inline void setSample(DataChannel& c, int x, int y, double v) {
    switch (c.type()) {
    case -1:
        c.setValue<uint8_t>(x, y, uint8_t(std::lround(v * 255.0)));
        break;
    case -2:
        c.setValue<uint16_t>(x, y, uint16_t(std::lround(v * 65535.0)));
        break;
    default:
        c.setValue<float>(x, y, float(v));
        break;
    }
}

// The raw stored sample as a double in the type's own units (0 ... 255, 0 ... 65535, 0 ... 1).
inline double rawAt(const DataChannel& c, int x, int y) {
    return sampleAt(c, x, y) * maxOf(c.type());
}

// The stored value a normalised result v becomes: integers round half up (max from 1 upwards).
inline double storedOf(int32_t type, double v) {
    if (type == -3) return v;
    const double m = maxOf(type);
    if (v >= 1.0) return m;
    return std::floor(std::max(v * m + 0.5, 0.0));
}

// Every sample of a channel, normalised, row by row (one bulk read instead of per-element cursors).
inline std::vector<double> samplesOf(const DataChannel& c) {
    const size_t n = size_t(c.width()) * size_t(std::max(c.height(), 0));
    std::vector<unsigned char> raw(n * c.elementSize());
    getData(c, c.bounds(), raw.data(), 0);
    std::vector<double> out(n);
    for (size_t i = 0; i < n; ++i) {
        if (c.type() == -1)
            out[i] = raw[i] / 255.0;
        else if (c.type() == -2) {
            uint16_t v;
            std::memcpy(&v, &raw[2 * i], 2);
            out[i] = v / 65535.0;
        } else {
            float v;
            std::memcpy(&v, &raw[4 * i], 4);
            out[i] = v;
        }
    }
    return out;
}

// Random samples with a good share of boundary values (0, full, one half).
class Filler {
public:
    explicit Filler(uint32_t seed) : m_rng(seed) {}
    double next() {
        const int pick = int(m_rng() % 10);
        if (pick == 0) return 0.0;
        if (pick == 1) return 1.0;
        if (pick == 2) return 0.5;
        return std::uniform_real_distribution<double>(0.0, 1.0)(m_rng);
    }
    void fillRandom(DataChannel& c, int x0, int y0, int x1, int y1) {
        std::vector<unsigned char> row;
        for (int y = y0; y < y1; ++y) {
            row.assign(size_t(x1 - x0) * c.elementSize(), 0);
            for (int x = x0; x < x1; ++x) {
                const double v = next();
                unsigned char* p = row.data() + size_t(x - x0) * c.elementSize();
                if (c.type() == -1)
                    *p = uint8_t(std::lround(v * 255.0));
                else if (c.type() == -2) {
                    const uint16_t s = uint16_t(std::lround(v * 65535.0));
                    std::memcpy(p, &s, 2);
                } else {
                    const float f = float(v);
                    std::memcpy(p, &f, 4);
                }
            }
            setData(c, RectI{x0, y, x1, y + 1}, row.data(), 0);
        }
    }
    void fillSolid(DataChannel& c, const RectI& r, double v) {
        unsigned char e[8] = {};
        if (c.type() == -1)
            e[0] = uint8_t(std::lround(v * 255.0));
        else if (c.type() == -2) {
            const uint16_t s = uint16_t(std::lround(v * 65535.0));
            std::memcpy(e, &s, 2);
        } else {
            const float f = float(v);
            std::memcpy(e, &f, 4);
        }
        c.fill(r, e);
    }
    std::mt19937& rng() { return m_rng; }

private:
    std::mt19937 m_rng;
};

} // namespace CombinerTest
