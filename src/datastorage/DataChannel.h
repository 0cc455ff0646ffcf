#pragma once

#include "datastorage/RectT.h"
#include "datastorage/RefCounted.h"
#include "datastorage/SampleTypes.h"
#include "datastorage/Tile.h"
#include "mt/JobsPool.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

namespace Orvex::DataStorage {

using Detail::PointI;
using Detail::RectI;
using Detail::SizeI;

class PixelPlane;

/// One image component (a colour channel, alpha, a mask, or an opaque structure per element) as a
/// grid of 64 x 64 tiles shared copy-on-write. A new channel refers to the pool's zero tile in every
/// slot and allocates no sample memory. Build with `makeRef<DataChannel>(...)` and hold through
/// `Ref<DataChannel>`; tile memory is only reached through `TileReadOnly` / `TileReadWrite`.
class DataChannel : public SharedObject, public Tagged {
public:
    /// An empty 0 x 0 channel of type -1.
    DataChannel();
    /// All samples 0. A type of element size 0 throws std::runtime_error
    /// ("DataChannel with element size = 0"); negative sides count as 0; a size whose tile table
    /// would pass 2^31 entries throws std::length_error ("DataChannel size too large").
    DataChannel(SizeI size, int32_t type);
    DataChannel(int width, int height, int32_t type) : DataChannel(SizeI{width, height}, type) {}
    /// Same size, samples converted to `type`. Equal types (and solid tiles) share tiles; a pair that
    /// cannot be converted throws std::runtime_error ("DataChannel conversion between incompatible types").
    DataChannel(const DataChannel& source, int32_t type);
    ~DataChannel() override;
    DataChannel(const DataChannel&) = delete;
    DataChannel& operator=(const DataChannel&) = delete;

    /// A new channel sharing every tile of this one (costs one table of references).
    Ref<DataChannel> clone() const;

    int32_t type() const { return m_type; }
    uint32_t elementSize() const { return m_elementSize; }
    SizeI size() const { return m_size; }
    int width() const { return m_size.width; }
    int height() const { return m_size.height; }
    RectI bounds() const { return RectI::fromSize(m_size); }
    uint32_t tilesX() const { return m_tilesX; }
    uint32_t tilesY() const { return m_tilesY; }
    uint32_t tileCount() const { return m_tilesX * m_tilesY; }
    bool isEmpty() const { return m_size.isEmpty(); }

    /// Tile number of the tile holding element (x, y) (not range-checked).
    uint32_t tileIndexAt(int x, int y) const {
        return m_tilesX * uint32_t(y >> TileShift) + uint32_t(x >> TileShift);
    }
    /// The part of tile `tileNum` inside the channel, in channel coordinates (empty when out of range).
    RectI tileRect(uint32_t tileNum) const;

    /// The tile record in a slot, for identity checks and statistics (no hold is taken: do not keep
    /// the pointer across writes).
    const TileRecord* tileAt(uint32_t tileNum) const;
    /// Number of slots that currently refer to a pooled solid tile.
    uint32_t pooledTileCount() const;

    /// Element access through cursors (slow: for tests and single probes). Out of range reads give
    /// zeroes and return false; out of range writes do nothing.
    bool readElement(int x, int y, void* element) const;
    bool writeElement(int x, int y, const void* element);
    template <class T> T value(int x, int y) const {
        T v{};
        if (sizeof(T) == m_elementSize) readElement(x, y, &v);
        return v;
    }
    template <class T> void setValue(int x, int y, T v) {
        if (sizeof(T) == m_elementSize) writeElement(x, y, &v);
    }

    /// Sets every element of `rect` (clipped) to `element` (one element of this channel's type).
    /// Whole tiles become the pool's solid tile for the value without touching memory.
    void fill(const RectI& rect, const void* element);
    void fill(const void* element) { fill(bounds(), element); }

    /// How many planes hold this channel in a slot (a plane detaches a channel held by others
    /// before writing to it).
    uint32_t planeHolders() const { return m_planeHolders.load(std::memory_order_acquire); }

private:
    friend class TileReadOnly;
    friend class TileReadWrite;
    friend class PixelPlane;
    friend bool copyChannel(DataChannel&, const DataChannel&, const RectI*, size_t, PointI);

    /// Puts `tile` (whose share the caller hands over) into a slot and returns the previous tile,
    /// whose share the caller must drop (spin lock held by the caller).
    TileRecord* swapSlot(uint32_t tileNum, TileRecord* tile) {
        TileRecord* previous = m_tiles[tileNum];
        m_tiles[tileNum] = tile;
        return previous;
    }
    /// Replaces a slot, dropping the old tile's share (takes the spin lock).
    void replaceSlot(uint32_t tileNum, TileRecord* tile);
    /// A new share of the tile in a slot (takes the spin lock).
    TileRecord* shareSlot(uint32_t tileNum) const;
    bool isEdgeTile(uint32_t tileNum) const;

    int32_t m_type = TypeU8;
    uint32_t m_elementSize = 1;
    SizeI m_size;
    uint32_t m_tilesX = 0;
    uint32_t m_tilesY = 0;
    std::vector<TileRecord*> m_tiles;
    mutable SpinLock m_lock;
    std::atomic<uint32_t> m_planeHolders{0};
};

/// Read cursor: holds a read lock on the current tile until the next `switchTo` or its destruction,
/// so the tile's samples stay valid even when the channel's slot is replaced meanwhile. A cursor
/// must not outlive its channel.
/// A possibly-solid tile is verified on the way in and, when solid, replaced by the pool's tile.
class TileReadOnly {
public:
    explicit TileReadOnly(const DataChannel& channel)
        : m_channel(&channel), m_elementSize(channel.elementSize()) {}
    ~TileReadOnly() { release(); }
    TileReadOnly(const TileReadOnly&) = delete;
    TileReadOnly& operator=(const TileReadOnly&) = delete;

    /// Makes tile `tileNum` current; false (and an empty cursor) when it is outside the table.
    bool switchTo(uint32_t tileNum);
    /// Makes the tile holding channel element (x, y) current.
    bool switchToElement(int x, int y);
    void release();

    int32_t tileNum() const { return m_tileNum; }
    bool isValid() const { return m_tile != nullptr; }
    const unsigned char* data() const { return m_data; }
    /// The current tile is solid: every element equals `solidValue()`.
    bool isSolid() const { return m_tile && m_tile->state() == TileState::Solid; }
    const unsigned char* solidValue() const { return m_tile ? m_tile->solidValue() : nullptr; }
    const TileRecord* tile() const { return m_tile; }
    /// Row `rowInTile` (0 ... 63) of the current tile.
    template <class T = unsigned char> const T* row(int rowInTile) const {
        return reinterpret_cast<const T*>(m_data + size_t(rowInTile) * TileSize * m_elementSize);
    }
    /// Channel element (x, y), which must lie in the current tile.
    const unsigned char* element(int x, int y) const {
        return m_data + (size_t(y & (TileSize - 1)) * TileSize + size_t(x & (TileSize - 1))) * m_elementSize;
    }

private:
    const DataChannel* m_channel;
    uint32_t m_elementSize;
    TileRecord* m_tile = nullptr;
    const unsigned char* m_data = nullptr;
    int32_t m_tileNum = -1;
};

/// Write cursor: a private copy of a shared tile is made on the way in (copy on write); on the way
/// out a uniform tile collapses back to the pool's solid tile (edge tiles exactly, inner tiles
/// marked possibly solid for the next reader to verify). Two writers on one tile at once are not
/// supported: split work so that jobs write disjoint tiles.
class TileReadWrite {
public:
    /// `Preserve` keeps the tile's samples; `Overwrite` promises that the caller writes every element
    /// of the tile's part inside the channel, so a private copy need not copy the old samples.
    enum Mode { Preserve, Overwrite };

    explicit TileReadWrite(DataChannel& channel)
        : m_channel(&channel), m_elementSize(channel.elementSize()) {}
    ~TileReadWrite() { release(); }
    TileReadWrite(const TileReadWrite&) = delete;
    TileReadWrite& operator=(const TileReadWrite&) = delete;

    bool switchTo(uint32_t tileNum, Mode mode = Preserve);
    bool switchToElement(int x, int y, Mode mode = Preserve);
    void release();

    int32_t tileNum() const { return m_tileNum; }
    bool isValid() const { return m_tile != nullptr; }
    unsigned char* data() const { return m_data; }
    template <class T = unsigned char> T* row(int rowInTile) const {
        return reinterpret_cast<T*>(m_data + size_t(rowInTile) * TileSize * m_elementSize);
    }
    unsigned char* element(int x, int y) const {
        return m_data + (size_t(y & (TileSize - 1)) * TileSize + size_t(x & (TileSize - 1))) * m_elementSize;
    }

private:
    DataChannel* m_channel;
    uint32_t m_elementSize;
    TileRecord* m_tile = nullptr;
    unsigned char* m_data = nullptr;
    int32_t m_tileNum = -1;
};

/// Copies `rect` (clipped to the channel) from `buffer` into the channel. The buffer holds elements
/// of the channel's own type; its first byte is the rectangle's top-left element and its rows are
/// `stride` bytes apart (0: width x element size). Parallel over tiles, at most 3 workers.
void setData(DataChannel& channel, const RectI& rect, const void* buffer, unsigned int stride);
/// The reverse of `setData`.
void getData(const DataChannel& channel, const RectI& rect, void* buffer, unsigned int stride);

/// Copies each of `count` rectangles of `source` to the same place shifted by `offset` in
/// `destination`, clipped to both channels, converting types where they differ. Whole aligned tiles
/// of equal type are shared instead of copied; solid source tiles become pool tiles. Returns false
/// (nothing copied) when the types cannot be converted. Source and destination may be the same.
bool copyChannel(DataChannel& destination, const DataChannel& source, const RectI* rects, size_t count,
                 PointI offset = {});
inline bool copyChannel(DataChannel& destination, const DataChannel& source, const RectI& rect,
                        PointI offset = {}) {
    return copyChannel(destination, source, &rect, 1, offset);
}

/// Tile numbers covered by `rect` in a channel of `size`: the tile span of the (clipped) rectangle,
/// row by row. Helps effect code walk tiles: `forEachTile(size, rect, [&](uint32_t tileNum,
/// const RectI& area) {...})` gives each tile number and the part of `rect` inside it.
struct TileSpan {
    uint32_t firstX = 0, firstY = 0, countX = 0, countY = 0, tilesX = 0;
    uint32_t count() const { return countX * countY; }
    /// Tile number of the k-th tile of the span (row by row).
    uint32_t tileNum(uint32_t k) const { return (firstY + k / countX) * tilesX + firstX + k % countX; }
};
TileSpan tileSpan(SizeI size, const RectI& rect);
/// The part of `rect` inside tile `tileNum` of a channel of `size`.
RectI tileArea(SizeI size, uint32_t tileNum, const RectI& rect);

template <class F> void forEachTile(SizeI size, const RectI& rect, F&& function) {
    const TileSpan span = tileSpan(size, rect);
    for (uint32_t k = 0; k < span.count(); ++k) {
        const uint32_t n = span.tileNum(k);
        function(n, tileArea(size, n, rect));
    }
}

/// `forEachTile` spread over the jobs pool (one tile per index; at most `maxThreads`, 0: all). Jobs
/// get distinct tiles, so each may hold a write cursor on its own tile.
template <class F>
void parallelForTiles(SizeI size, const RectI& rect, F&& function, uint32_t maxThreads = 0) {
    const TileSpan span = tileSpan(size, rect);
    MT::parallelFor(
        0, span.count(),
        [&](uint32_t first, uint32_t last) {
            for (uint32_t k = first; k < last; ++k) {
                const uint32_t n = span.tileNum(k);
                function(n, tileArea(size, n, rect));
            }
        },
        1, maxThreads);
}

} // namespace Orvex::DataStorage
