#include "datastorage/RescaleSumming.h"

#include "mt/JobsPool.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Orvex::DataStorage {

CoverageTable coverageTable(int sourceSize, int destinationSize) {
    CoverageTable table;
    if (sourceSize <= 0 || destinationSize <= 0) return table;
    const float s = float(destinationSize) / float(sourceSize);
    table.scale = s;
    table.target.resize(size_t(sourceSize));
    table.weight.resize(size_t(sourceSize));
    // Plain loops: the compiler vectorises the weight computation.
    for (int x = 0; x < sourceSize; ++x) {
        const float position = float(x) * s;
        const int t = int(std::floor(position));
        table.target[size_t(x)] = t;
        table.weight[size_t(x)] = std::min(1.0f, (float(t + 1) - position) / s);
    }
    return table;
}

namespace {

// The single value of a uniform channel, or false.
bool uniformValue(const DataChannel& channel, unsigned char* value) {
    const uint32_t size = channel.elementSize();
    bool haveValue = false;
    TileReadOnly reader(channel);
    for (uint32_t tile = 0; tile < channel.tileCount(); ++tile) {
        if (!reader.switchTo(tile)) return false;
        if (reader.isSolid()) {
            if (!haveValue) std::memcpy(value, reader.solidValue(), size), haveValue = true;
            if (std::memcmp(value, reader.solidValue(), size) != 0) return false;
            continue;
        }
        const RectI part = channel.tileRect(tile);
        if (!haveValue) std::memcpy(value, reader.element(part.left, part.top), size), haveValue = true;
        for (int y = part.top; y < part.bottom; ++y) {
            const unsigned char* row = reader.element(part.left, y);
            for (int x = 0; x < part.width(); ++x)
                if (std::memcmp(row + size_t(x) * size, value, size) != 0) return false;
        }
    }
    return haveValue;
}

template <class T> T storeSum(float v) {
    if constexpr (std::is_same_v<T, float>) {
        return v;
    } else {
        constexpr float maximum = std::is_same_v<T, uint8_t> ? 255.0f : 65535.0f;
        const float r = std::round(v); // half away from zero
        return T(r <= 0.0f ? 0.0f : r >= maximum ? maximum : r);
    }
}

template <class T>
void rescaleTyped(const DataChannel& source, DataChannel& destination, const RescaleProgressHooks& hooks) {
    const int sw = source.width(), sh = source.height();
    const int dw = destination.width(), dh = destination.height();
    const CoverageTable tx = coverageTable(sw, dw), ty = coverageTable(sh, dh);
    const float norm = tx.scale * ty.scale;
    const float ratioX = float(sw) / float(dw), ratioY = float(sh) / float(dh);

    const RectI all = destination.bounds();
    const TileSpan span = tileSpan(destination.size(), all);
    if (hooks.setTotal) hooks.setTotal(hooks.context, int(span.count()));
    const uint32_t maxThreads = &source == &destination ? 1u : 0u;

    MT::parallelFor(
        0, span.count(),
        [&](uint32_t first, uint32_t last) {
            std::vector<float> accumulator(static_cast<size_t>(TileElements));
            TileReadOnly reader(source);
            TileReadWrite writer(destination);
            for (uint32_t k = first; k < last; ++k) {
                const uint32_t tileNum = span.tileNum(k);
                const RectI part = destination.tileRect(tileNum);
                std::fill(accumulator.begin(), accumulator.end(), 0.0f);
                // Source area mapping into the tile, one pixel wider on each side, clipped.
                const RectI from =
                    RectI{int(std::floor(part.left * ratioX)) - 1, int(std::floor(part.top * ratioY)) - 1,
                          int(std::ceil(part.right * ratioX)) + 1, int(std::ceil(part.bottom * ratioY)) + 1}
                        .intersected(source.bounds());
                auto add = [&](int dx, int dy, float v) {
                    if (dx >= part.left && dx < part.right && dy >= part.top && dy < part.bottom)
                        accumulator[size_t(dy - part.top) * TileSize + size_t(dx - part.left)] += v;
                };
                forEachTile(source.size(), from, [&](uint32_t sourceTile, const RectI& area) {
                    if (!reader.switchTo(sourceTile)) return;
                    for (int y = area.top; y < area.bottom; ++y) {
                        const int ry = ty.target[size_t(y)];
                        const float wy = ty.weight[size_t(y)];
                        const T* row = reinterpret_cast<const T*>(reader.element(area.left, y));
                        for (int x = area.left; x < area.right; ++x) {
                            const float v = float(row[x - area.left]);
                            const int rx = tx.target[size_t(x)];
                            const float wx = tx.weight[size_t(x)];
                            add(rx, ry, v * wx * wy);
                            if (wx < 1.0f) add(rx + 1, ry, v * (1.0f - wx) * wy);
                            if (wy < 1.0f) {
                                add(rx, ry + 1, v * wx * (1.0f - wy));
                                if (wx < 1.0f) add(rx + 1, ry + 1, v * (1.0f - wx) * (1.0f - wy));
                            }
                        }
                    }
                });
                if (writer.switchTo(tileNum, TileReadWrite::Overwrite)) {
                    for (int y = part.top; y < part.bottom; ++y) {
                        T* out = reinterpret_cast<T*>(writer.element(part.left, y));
                        const float* acc = accumulator.data() + size_t(y - part.top) * TileSize;
                        for (int x = 0; x < part.width(); ++x) out[x] = storeSum<T>(acc[x] * norm);
                    }
                    writer.release();
                }
                if (hooks.step) hooks.step(hooks.context);
            }
        },
        1, maxThreads);
}

} // namespace

bool rescaleSummingChannel(const DataChannel& source, DataChannel& destination,
                           const RescaleProgressHooks& hooks) {
    if (source.type() != destination.type()) return false;
    if (source.isEmpty() || destination.isEmpty()) return false;
    const int32_t type = source.type();
    if (type != -1 && type != -2 && type != -3) return false;
    alignas(8) unsigned char value[8] = {};
    if (uniformValue(source, value)) {
        if (hooks.setTotal) hooks.setTotal(hooks.context, 0);
        destination.fill(value);
        return true;
    }
    switch (type) {
    case -1:
        rescaleTyped<uint8_t>(source, destination, hooks);
        break;
    case -2:
        rescaleTyped<uint16_t>(source, destination, hooks);
        break;
    default:
        rescaleTyped<float>(source, destination, hooks);
        break;
    }
    return true;
}

} // namespace Orvex::DataStorage
