#include "datastorage/DataChannel.h"

#include "datastorage/Logging.h"
#include "datastorage/TileBand.h"
#include "mt/JobsPool.h"

#include <algorithm>
#include <stdexcept>

namespace Orvex::DataStorage {

namespace {

constexpr uint64_t MaxTileCount = 0x7FFFFFFFu;

uint32_t tilesFor(int length) {
    return length > 0 ? (uint32_t(length) + TileSize - 1) >> TileShift : 0;
}

// Floor division by 64 for any int (rectangles may start left of or above the channel).
int tileFloor(int v) {
    return v >> TileShift;
}
int tileCeil(int v) {
    return (v + TileSize - 1) >> TileShift;
}

} // namespace

// ---- channel -------------------------------------------------------------------------------------

DataChannel::DataChannel() = default;

DataChannel::DataChannel(SizeI size, int32_t type) : m_type(type), m_elementSize(elementSizeOf(type)) {
    if (m_elementSize == 0) throw std::runtime_error("DataChannel with element size = 0");
    m_size = SizeI{std::max(size.width, 0), std::max(size.height, 0)};
    if (m_size.isEmpty()) m_size = SizeI{};
    m_tilesX = tilesFor(m_size.width);
    m_tilesY = tilesFor(m_size.height);
    // Tile numbers are 32-bit; a table beyond that (about 2^43 pixels) cannot be addressed.
    if (uint64_t(m_tilesX) * m_tilesY > MaxTileCount) throw std::length_error("DataChannel size too large");
    const uint32_t count = m_tilesX * m_tilesY;
    if (count) {
        TileRecord* zero = SolidTilePool::instance().acquire(m_elementSize, nullptr, count);
        m_tiles.assign(count, zero);
    }
}

DataChannel::DataChannel(const DataChannel& source, int32_t type)
    : m_type(type), m_elementSize(elementSizeOf(type)), m_size(source.m_size), m_tilesX(source.m_tilesX),
      m_tilesY(source.m_tilesY) {
    if (m_elementSize == 0) throw std::runtime_error("DataChannel with element size = 0");
    if (!canConvert(source.m_type, type))
        throw std::runtime_error("DataChannel conversion between incompatible types");
    const uint32_t count = tileCount();
    m_tiles.resize(count);
    if (type == source.m_type) {
        for (uint32_t n = 0; n < count; ++n) m_tiles[n] = source.shareSlot(n);
        return;
    }
    MT::parallelFor(0, count, [&](uint32_t first, uint32_t last) {
        TileReadOnly reader(source);
        for (uint32_t n = first; n < last; ++n) {
            reader.switchTo(n);
            if (reader.isSolid()) {
                alignas(8) unsigned char value[8];
                convertSample(reader.solidValue(), source.m_type, value, type);
                m_tiles[n] = SolidTilePool::instance().acquire(m_elementSize, value);
            } else {
                TileRecord* tile = TileRecord::create(m_elementSize);
                convertSamples(reader.data(), source.m_type, tile->data(), type, TileElements);
                m_tiles[n] = tile;
            }
        }
    });
}

DataChannel::~DataChannel() {
    for (TileRecord* tile : m_tiles) tile->dropShare();
}

Ref<DataChannel> DataChannel::clone() const {
    Ref<DataChannel> copy = makeRef<DataChannel>();
    copy->m_type = m_type;
    copy->m_elementSize = m_elementSize;
    copy->m_size = m_size;
    copy->m_tilesX = m_tilesX;
    copy->m_tilesY = m_tilesY;
    copy->m_tiles.resize(m_tiles.size());
    for (uint32_t n = 0; n < m_tiles.size(); ++n) copy->m_tiles[n] = shareSlot(n);
    return copy;
}

RectI DataChannel::tileRect(uint32_t tileNum) const {
    if (tileNum >= tileCount()) return {};
    const int x = int(tileNum % m_tilesX) * TileSize;
    const int y = int(tileNum / m_tilesX) * TileSize;
    return RectI{x, y, std::min(x + TileSize, m_size.width), std::min(y + TileSize, m_size.height)};
}

bool DataChannel::isEdgeTile(uint32_t tileNum) const {
    return ((m_size.width & (TileSize - 1)) && tileNum % m_tilesX == m_tilesX - 1) ||
           ((m_size.height & (TileSize - 1)) && tileNum / m_tilesX == m_tilesY - 1);
}

const TileRecord* DataChannel::tileAt(uint32_t tileNum) const {
    if (tileNum >= tileCount()) return nullptr;
    std::lock_guard<SpinLock> lock(m_lock);
    return m_tiles[tileNum];
}

uint32_t DataChannel::pooledTileCount() const {
    std::lock_guard<SpinLock> lock(m_lock);
    return uint32_t(
        std::count_if(m_tiles.begin(), m_tiles.end(), [](const TileRecord* t) { return t->isPooled(); }));
}

TileRecord* DataChannel::shareSlot(uint32_t tileNum) const {
    std::lock_guard<SpinLock> lock(m_lock);
    TileRecord* tile = m_tiles[tileNum];
    tile->addShares(1);
    return tile;
}

void DataChannel::replaceSlot(uint32_t tileNum, TileRecord* tile) {
    TileRecord* previous;
    {
        std::lock_guard<SpinLock> lock(m_lock);
        previous = swapSlot(tileNum, tile);
    }
    previous->dropShare();
}

bool DataChannel::readElement(int x, int y, void* element) const {
    if (!bounds().contains(x, y)) {
        std::memset(element, 0, m_elementSize);
        return false;
    }
    TileReadOnly reader(*this);
    reader.switchToElement(x, y);
    std::memcpy(element, reader.element(x, y), m_elementSize);
    return true;
}

bool DataChannel::writeElement(int x, int y, const void* element) {
    if (!bounds().contains(x, y)) return false;
    TileReadWrite writer(*this);
    writer.switchToElement(x, y);
    std::memcpy(writer.element(x, y), element, m_elementSize);
    return true;
}

void DataChannel::fill(const RectI& rect, const void* element) {
    const RectI area = rect.intersected(bounds());
    if (area.isEmpty()) return;
    parallelForTiles(m_size, area, [&](uint32_t tileNum, const RectI& part) {
        if (part == tileRect(tileNum)) {
            if (TileRecord* solid = SolidTilePool::instance().acquire(m_elementSize, element)) {
                replaceSlot(tileNum, solid);
                return;
            }
        }
        TileReadWrite writer(*this);
        writer.switchTo(tileNum,
                        part == tileRect(tileNum) ? TileReadWrite::Overwrite : TileReadWrite::Preserve);
        for (int y = part.top; y < part.bottom; ++y)
            fillElements(element, writer.element(part.left, y), m_elementSize, m_elementSize,
                         size_t(part.width()));
    });
}

// ---- cursors -------------------------------------------------------------------------------------

bool TileReadOnly::switchTo(uint32_t tileNum) {
    if (m_tile && int64_t(tileNum) == m_tileNum) return true;
    const int32_t previousNum = m_tileNum;
    release();
    const DataChannel& channel = *m_channel;
    if (tileNum >= channel.m_tiles.size()) {
        qCDebug(lcDataStorage,
                "DataChannel::TileReadOnly::switchTo() -- tNum_ = %d, tileNum = %d, size = %ld\n",
                previousNum, int(tileNum), long(channel.m_tiles.size()));
        return false;
    }
    TileRecord* dropped = nullptr;
    {
        std::lock_guard<SpinLock> lock(channel.m_lock);
        TileRecord* tile = channel.m_tiles[tileNum];
        tile->verifyIfPossiblySolid();
        if (tile->state() == TileState::Solid && !tile->isPooled()) {
            if (TileRecord* pooled =
                    SolidTilePool::instance().acquire(channel.m_elementSize, tile->solidValue())) {
                // The tile table may change under a const channel: sharing the pool's tile is
                // invisible to readers (same samples) and only saves memory.
                dropped = const_cast<DataChannel&>(channel).swapSlot(tileNum, pooled);
                tile = pooled;
            }
        }
        tile->lockRead();
        m_tile = tile;
    }
    if (dropped) dropped->dropShare();
    m_tileNum = int32_t(tileNum);
    m_data = m_tile->data();
    return true;
}

bool TileReadOnly::switchToElement(int x, int y) {
    if (!m_channel->bounds().contains(x, y)) {
        release();
        return false;
    }
    return switchTo(m_channel->tileIndexAt(x, y));
}

void TileReadOnly::release() {
    if (m_tile) m_tile->unlockRead();
    m_tile = nullptr;
    m_data = nullptr;
    m_tileNum = -1;
}

bool TileReadWrite::switchTo(uint32_t tileNum, Mode mode) {
    if (m_tile && int64_t(tileNum) == m_tileNum) return true;
    const int32_t previousNum = m_tileNum;
    release();
    DataChannel& channel = *m_channel;
    if (tileNum >= channel.m_tiles.size()) {
        qCDebug(lcDataStorage,
                "DataChannel::TileReadWrite::switchTo() -- tNum_ = %d, tileNum = %d, size = %ld\n",
                previousNum, int(tileNum), long(channel.m_tiles.size()));
        return false;
    }
    TileRecord* tile;
    {
        std::lock_guard<SpinLock> lock(channel.m_lock);
        tile = channel.m_tiles[tileNum];
        tile->lockWrite();
    }
    if (tile->shareCount() >= 2 || tile->isPooled()) {
        // Copy on write, outside the spin lock so that writers of other tiles are not held up; our
        // write lock keeps the old tile alive meanwhile.
        TileRecord* fresh;
        if (mode == Overwrite) {
            fresh = TileRecord::create(channel.m_elementSize);
        } else {
            fresh = TileRecord::createCopy(*tile);
        }
        fresh->lockWrite();
        TileRecord* previous;
        {
            std::lock_guard<SpinLock> lock(channel.m_lock);
            previous = channel.swapSlot(tileNum, fresh);
        }
        previous->dropShare();
        tile->unlockWrite();
        tile = fresh;
    }
    tile->setState(TileState::Ordinary);
    m_tile = tile;
    m_tileNum = int32_t(tileNum);
    m_data = tile->data();
    return true;
}

bool TileReadWrite::switchToElement(int x, int y, Mode mode) {
    if (!m_channel->bounds().contains(x, y)) {
        release();
        return false;
    }
    return switchTo(m_channel->tileIndexAt(x, y), mode);
}

void TileReadWrite::release() {
    if (!m_tile) return;
    TileRecord* tile = m_tile;
    DataChannel& channel = *m_channel;
    const uint32_t tileNum = uint32_t(m_tileNum);
    m_tile = nullptr;
    m_data = nullptr;
    m_tileNum = -1;
    if (tile->writeLocks() == 1 && channel.m_elementSize <= 8) {
        if (channel.isEdgeTile(tileNum)) {
            // Edge tiles are checked exactly over their part inside the channel: the rest of the
            // allocation holds nothing meaningful.
            const RectI area = channel.tileRect(tileNum);
            if (tile->isUniform(area.width(), area.height())) {
                if (TileRecord* pooled =
                        SolidTilePool::instance().acquire(channel.m_elementSize, tile->data())) {
                    TileRecord* previous;
                    {
                        std::lock_guard<SpinLock> lock(channel.m_lock);
                        previous = channel.swapSlot(tileNum, pooled);
                    }
                    previous->dropShare();
                }
            }
        } else if (tile->looksUniform()) {
            tile->setState(TileState::PossiblySolid);
        }
    }
    tile->unlockWrite();
}

// ---- tile spans ------------------------------------------------------------------------------------

TileSpan tileSpan(SizeI size, const RectI& rect) {
    const RectI area = rect.intersected(RectI::fromSize(size));
    if (area.isEmpty()) return {};
    TileSpan span;
    span.tilesX = tilesFor(size.width);
    span.firstX = uint32_t(tileFloor(area.left));
    span.firstY = uint32_t(tileFloor(area.top));
    span.countX = std::max<uint32_t>(uint32_t(tileCeil(area.right)) - span.firstX, 1);
    span.countY = std::max<uint32_t>(uint32_t(tileCeil(area.bottom)) - span.firstY, 1);
    return span;
}

RectI tileArea(SizeI size, uint32_t tileNum, const RectI& rect) {
    const uint32_t tilesX = tilesFor(size.width);
    if (tilesX == 0) return {};
    const int x = int(tileNum % tilesX) * TileSize;
    const int y = int(tileNum / tilesX) * TileSize;
    return RectI{x, y, x + TileSize, y + TileSize}.intersected(rect).intersected(RectI::fromSize(size));
}

// ---- rectangles between a channel and a buffer -----------------------------------------------------

namespace {

// Moves the clipped rectangle band by band (a band is one row of tiles, one band per job, at most 3
// workers). Within a band every tile's cursor is held at once and the rows are walked in image
// order, so the buffer is read or written front to back instead of 64 rows apart per tile.
// `copyRow(tileRow, bufferOffset, bytes)` moves one row segment.
template <class Cursor, class ChannelRef, class CopyRow>
void channelRectTransfer(ChannelRef& channel, const RectI& rect, size_t stride, CopyRow copyRow) {
    const RectI area = rect.intersected(channel.bounds());
    if (area.isEmpty()) return;
    const uint32_t es = channel.elementSize();
    const TileSpan span = tileSpan(channel.size(), area);
    MT::parallelFor(
        0, span.countY,
        [&](uint32_t firstBand, uint32_t lastBand) {
            TileBand<Cursor, ChannelRef> band(channel, span.countX);
            for (uint32_t b = firstBand; b < lastBand; ++b) {
                RectI bandArea;
                for (uint32_t column = 0; column < span.countX; ++column) {
                    const uint32_t n = span.tileNum(b * span.countX + column);
                    const RectI part = tileArea(channel.size(), n, area);
                    if constexpr (std::is_same_v<Cursor, TileReadWrite>)
                        band[column].switchTo(n, part == channel.tileRect(n) ? TileReadWrite::Overwrite
                                                                             : TileReadWrite::Preserve);
                    else
                        band[column].switchTo(n);
                    bandArea = part; // every part of a band spans the same rows
                }
                for (int y = bandArea.top; y < bandArea.bottom; ++y) {
                    const size_t rowOffset = size_t(y - rect.top) * stride;
                    for (uint32_t column = 0; column < span.countX; ++column) {
                        const int tileLeft = int(span.firstX + column) * TileSize;
                        const int x0 = std::max(area.left, tileLeft);
                        const int x1 = std::min(area.right, tileLeft + TileSize);
                        copyRow(band[column].element(x0, y), rowOffset + size_t(x0 - rect.left) * es,
                                size_t(x1 - x0) * es);
                    }
                }
            }
        },
        1, 3);
}

} // namespace

void setData(DataChannel& channel, const RectI& rect, const void* buffer, unsigned int stride) {
    if (!buffer || rect.isEmpty()) return;
    const size_t rowStride = stride ? stride : size_t(rect.width()) * channel.elementSize();
    const auto* in = static_cast<const unsigned char*>(buffer);
    channelRectTransfer<TileReadWrite>(channel, rect, rowStride,
                                       [in](unsigned char* tileRow, size_t offset, size_t bytes) {
                                           std::memcpy(tileRow, in + offset, bytes);
                                       });
}

void getData(const DataChannel& channel, const RectI& rect, void* buffer, unsigned int stride) {
    if (!buffer || rect.isEmpty()) return;
    const size_t rowStride = stride ? stride : size_t(rect.width()) * channel.elementSize();
    auto* out = static_cast<unsigned char*>(buffer);
    channelRectTransfer<TileReadOnly>(channel, rect, rowStride,
                                      [out](const unsigned char* tileRow, size_t offset, size_t bytes) {
                                          std::memcpy(out + offset, tileRow, bytes);
                                      });
}

// ---- channel to channel -----------------------------------------------------------------------------

bool copyChannel(DataChannel& destination, const DataChannel& sourceChannel, const RectI* rects, size_t count,
                 PointI offset) {
    if (!canConvert(sourceChannel.type(), destination.type())) return false;
    if (!rects || count == 0 || destination.isEmpty() || sourceChannel.isEmpty()) return true;
    // Copying a channel onto itself reads from a snapshot (a shared copy of the tile table), so
    // overlapping areas see the samples as they were before the copy.
    Ref<DataChannel> snapshot;
    if (&destination == &sourceChannel) snapshot = sourceChannel.clone();
    const DataChannel& source = snapshot ? *snapshot : sourceChannel;

    const int32_t fromType = source.type();
    const int32_t toType = destination.type();
    const uint32_t fromSize = source.elementSize();
    const uint32_t toSize = destination.elementSize();
    const bool tileAligned = (offset.x & (TileSize - 1)) == 0 && (offset.y & (TileSize - 1)) == 0;

    for (size_t r = 0; r < count; ++r) {
        // Destination area: the rectangle clipped to the source, shifted, clipped to the destination.
        const RectI target = rects[r]
                                 .intersected(source.bounds())
                                 .translated(offset.x, offset.y)
                                 .intersected(destination.bounds());
        if (target.isEmpty()) continue;
        parallelForTiles(destination.size(), target, [&](uint32_t tileNum, const RectI& part) {
            const RectI sourcePart = part.translated(-offset.x, -offset.y);
            const bool wholeTile = part == destination.tileRect(tileNum);
            if (wholeTile && tileAligned) {
                const uint32_t sourceTile = source.tileIndexAt(sourcePart.left, sourcePart.top);
                if (fromType == toType) {
                    destination.replaceSlot(tileNum, source.shareSlot(sourceTile));
                    return;
                }
                // A solid source tile of another type becomes the pool tile of its converted value.
                TileReadOnly probe(source);
                probe.switchTo(sourceTile);
                if (probe.isSolid() && fromSize <= 8) {
                    alignas(8) unsigned char value[8];
                    convertSample(probe.solidValue(), fromType, value, toType);
                    if (TileRecord* pooled = SolidTilePool::instance().acquire(toSize, value)) {
                        destination.replaceSlot(tileNum, pooled);
                        return;
                    }
                }
            }
            // Row by row with conversion; a solid source tile is written as its converted value.
            TileReadWrite writer(destination);
            writer.switchTo(tileNum, wholeTile ? TileReadWrite::Overwrite : TileReadWrite::Preserve);
            TileReadOnly reader(source);
            alignas(64) unsigned char converted[TileSize * 8];
            for (int sy = sourcePart.top; sy < sourcePart.bottom;) {
                const int rowEnd = std::min(sourcePart.bottom, (sy | (TileSize - 1)) + 1);
                for (int sx = sourcePart.left; sx < sourcePart.right;) {
                    const int colEnd = std::min(sourcePart.right, (sx | (TileSize - 1)) + 1);
                    reader.switchToElement(sx, sy);
                    const size_t n = size_t(colEnd - sx);
                    if (reader.isSolid() && fromSize <= 8) {
                        alignas(8) unsigned char value[8];
                        convertSample(reader.solidValue(), fromType, value, toType);
                        for (int y = sy; y < rowEnd; ++y)
                            fillElements(value, writer.element(sx + offset.x, y + offset.y), toSize, toSize,
                                         n);
                    } else {
                        for (int y = sy; y < rowEnd; ++y) {
                            if (fromType == toType) {
                                std::memcpy(writer.element(sx + offset.x, y + offset.y),
                                            reader.element(sx, y), n * toSize);
                            } else {
                                convertSamples(reader.element(sx, y), fromType, converted, toType, n);
                                std::memcpy(writer.element(sx + offset.x, y + offset.y), converted,
                                            n * toSize);
                            }
                        }
                    }
                    sx = colEnd;
                }
                sy = rowEnd;
            }
        });
    }
    return true;
}

} // namespace Orvex::DataStorage
