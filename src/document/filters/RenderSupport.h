#pragma once
// Plumbing shared by the renderers: checking the planes, copying the source into the result,
// reading masks, and walking the result's RGBA tiles in parallel with direct row access.

#include "document/filters/EffectRenderer.h"

#include "datastorage/DataChannel.h"
#include "datastorage/PixelPlane.h"
#include "mt/JobsPool.h"

#include <stdexcept>
#include <vector>

namespace Orvex::Document::Filters {

using ::Orvex::Detail::RectI;
using ::Orvex::Detail::SizeI;

// Throws std::invalid_argument unless both planes have one size and red, green and blue channels of
// one sample type (8-bit, 16-bit or float); alpha, when present, has that type too. Returns it.
int32_t checkRgbaPlanes(const DataStorage::PixelPlane& source, const DataStorage::PixelPlane& result);

// Every channel of the source into the result (shared tiles where possible).
void copySourceToResult(const DataStorage::PixelPlane& source, DataStorage::PixelPlane& result);

// The bounding rectangle of the non-zero samples of an 8-bit mask; empty for a null mask.
RectI maskBounds(const DataStorage::DataChannel* mask, int maxWorkers = 0);

// The mask's samples over `rect` (row-major, rect.width() bytes a row); zeros for a null mask.
std::vector<uint8_t> maskBytes(const DataStorage::DataChannel* mask, const RectI& rect);
// The whole mask brought to a gridWidth x gridHeight grid by area averaging (row-major bytes): a
// cell is selected when enough of the selection falls into it to survive the rounding. A grid of
// the mask's own size is a plain copy.
std::vector<uint8_t> maskBytesOnGrid(const DataStorage::DataChannel& mask, int gridWidth, int gridHeight);

RectI grown(const RectI& rect, int by, SizeI clipTo);

// Row access to one tile of the result's red, green, blue and alpha channels (alpha may be null).
template <class T> struct RgbaTile {
    RectI area; // the part of the walked rectangle inside this tile (image coordinates)
    int x0 = 0; // the tile's top-left pixel
    int y0 = 0;
    DataStorage::TileReadWrite* cursors[4] = {};
    T* row(int component, int y) const {
        return cursors[component] ? cursors[component]->template row<T>(y - y0) - x0 : nullptr;
    }
};

// Runs fn(tile) for every tile of `rect` on the jobs pool (at most maxWorkers, 0 = all), each job
// holding write cursors on its own tile of the result's colour and alpha channels. Tiles are
// skipped once `context` is cancelled. `fn` must write only inside tile.area.
template <class T, class Fn>
void forEachRgbaTile(DataStorage::PixelPlane& result, const RectI& rect, const RunContext& context, Fn&& fn) {
    using namespace DataStorage;
    Ref<DataChannel> channels[4] = {result.writableChannel(ChannelRed), result.writableChannel(ChannelGreen),
                                    result.writableChannel(ChannelBlue),
                                    result.hasChannel(ChannelAlpha) ? result.writableChannel(ChannelAlpha)
                                                                    : Ref<DataChannel>()};
    const uint32_t maxThreads = context.maxWorkers > 0 ? uint32_t(context.maxWorkers) : 0u;
    parallelForTiles(
        result.size(), rect,
        [&](uint32_t tileNum, const RectI& area) {
            if (context.cancelled() || area.isEmpty()) return;
            TileReadWrite c0(*channels[0]), c1(*channels[1]), c2(*channels[2]);
            std::unique_ptr<TileReadWrite> c3;
            if (channels[3]) c3 = std::make_unique<TileReadWrite>(*channels[3]);
            RgbaTile<T> tile;
            tile.area = area;
            tile.x0 = int(tileNum % result.tilesX()) * int(TileSize);
            tile.y0 = int(tileNum / result.tilesX()) * int(TileSize);
            c0.switchTo(tileNum), c1.switchTo(tileNum), c2.switchTo(tileNum);
            tile.cursors[0] = &c0, tile.cursors[1] = &c1, tile.cursors[2] = &c2;
            if (c3) {
                c3->switchTo(tileNum);
                tile.cursors[3] = c3.get();
            }
            fn(tile);
        },
        maxThreads);
}

// Calls fn.template operator()<T>() for the sample type code (-1, -2, -3).
template <class Fn> decltype(auto) dispatchSampleType(int32_t type, Fn&& fn) {
    switch (type) {
    case DataStorage::TypeU8:
        return fn(uint8_t{});
    case DataStorage::TypeU16:
        return fn(uint16_t{});
    case DataStorage::TypeF32:
        return fn(float{});
    default:
        throw std::invalid_argument("Unsupported sample type of the working planes");
    }
}

} // namespace Orvex::Document::Filters
