#include "datastorage/PixelPlane.h"

#include "mt/JobsPool.h"

#include <algorithm>
#include <mutex>
#include <optional>

namespace Orvex::DataStorage {

namespace {
uint32_t tilesFor(int length) {
    return length > 0 ? (uint32_t(length) + TileSize - 1) >> TileShift : 0;
}
SizeI validSize(SizeI size) {
    return size.isEmpty() ? SizeI{} : size;
}
} // namespace

PixelPlane::PixelPlane(uint32_t mask, int32_t type, SizeI size, Ref<SharedObject> companion)
    : m_size(validSize(size)), m_tilesX(tilesFor(m_size.width)), m_tilesY(tilesFor(m_size.height)),
      m_companion(std::move(companion)) {
    for (int32_t id = 0; id <= MaxChannelId; ++id)
        if (mask & (1u << id)) addChannel(id, type);
}

PixelPlane::PixelPlane(const PixelFormat& format, SizeI size, Ref<SharedObject> companion)
    : m_size(validSize(size)), m_tilesX(tilesFor(m_size.width)), m_tilesY(tilesFor(m_size.height)),
      m_companion(std::move(companion)) {
    for (int c = 0; c < format.count(); ++c)
        if (format.identifier(c) != ChannelSkip) addChannel(format.identifier(c), format.type(c));
}

PixelPlane::~PixelPlane() {
    for (auto& slot : m_slots)
        if (slot) slot->m_planeHolders.fetch_sub(1, std::memory_order_acq_rel);
}

Ref<PixelPlane> PixelPlane::clone() const {
    Ref<PixelPlane> copy = makeRef<PixelPlane>(0u, TypeU8, m_size, m_companion);
    std::lock_guard<SpinLock> lock(m_lock);
    copy->m_attachment = m_attachment;
    for (int32_t id = 0; id <= MaxChannelId; ++id)
        if (m_slots[id]) copy->putSlot(id, m_slots[id]->clone());
    return copy;
}

uint32_t PixelPlane::channelCount() const {
    std::lock_guard<SpinLock> lock(m_lock);
    return uint32_t(std::count_if(m_slots.begin(), m_slots.end(), [](const auto& s) { return bool(s); }));
}

int32_t PixelPlane::commonType() const {
    std::lock_guard<SpinLock> lock(m_lock);
    int32_t type = 0;
    bool first = true;
    for (const auto& slot : m_slots) {
        if (!slot) continue;
        if (first) {
            type = slot->type();
            first = false;
        } else if (slot->type() != type) {
            return 0;
        }
    }
    return type;
}

uint32_t PixelPlane::channelMask() const {
    std::lock_guard<SpinLock> lock(m_lock);
    uint32_t mask = 0;
    for (int32_t id = 0; id <= MaxChannelId; ++id)
        if (m_slots[id]) mask |= 1u << id;
    return mask;
}

Ref<SharedObject> PixelPlane::attachment() const {
    std::lock_guard<SpinLock> lock(m_lock);
    return m_attachment;
}

void PixelPlane::setAttachment(Ref<SharedObject> attachment) {
    std::lock_guard<SpinLock> lock(m_lock);
    m_attachment.swap(attachment);
}

Ref<DataChannel> PixelPlane::channel(int32_t id) const {
    if (id < 0 || id > MaxChannelId) return {};
    std::lock_guard<SpinLock> lock(m_lock);
    return m_slots[id];
}

void PixelPlane::putSlot(int32_t id, Ref<DataChannel> channel) {
    if (channel) channel->m_planeHolders.fetch_add(1, std::memory_order_acq_rel);
    if (m_slots[id]) m_slots[id]->m_planeHolders.fetch_sub(1, std::memory_order_acq_rel);
    m_slots[id] = std::move(channel);
}

Ref<DataChannel> PixelPlane::detach(int32_t id) {
    Ref<DataChannel>& slot = m_slots[id];
    if (slot && slot->planeHolders() > 1) putSlot(id, slot->clone());
    return slot;
}

Ref<DataChannel> PixelPlane::writableChannel(int32_t id) {
    if (id < 0 || id > MaxChannelId) return {};
    std::lock_guard<SpinLock> lock(m_lock);
    return detach(id);
}

bool PixelPlane::addChannel(int32_t id, int32_t type) {
    if (id < 0 || id > MaxChannelId || elementSizeOf(type) == 0) return false;
    Ref<DataChannel> present = channel(id);
    if (present && present->type() == type) return true;
    if (present && !canConvert(present->type(), type)) return false;
    // Built outside the spin lock: a converted copy walks every tile.
    Ref<DataChannel> fresh =
        present ? makeRef<DataChannel>(*present, type) : makeRef<DataChannel>(m_size, type);
    std::lock_guard<SpinLock> lock(m_lock);
    putSlot(id, std::move(fresh));
    return true;
}

bool PixelPlane::setChannel(int32_t id, Ref<DataChannel> channel) {
    if (id < 0 || id > MaxChannelId) return false;
    if (channel && channel->size() != m_size) return false;
    std::lock_guard<SpinLock> lock(m_lock);
    putSlot(id, std::move(channel));
    return true;
}

bool PixelPlane::removeChannel(int32_t id) {
    if (id < 0 || id > MaxChannelId) return false;
    std::lock_guard<SpinLock> lock(m_lock);
    if (!m_slots[id]) return false;
    putSlot(id, {});
    return true;
}

// ---- interleaved buffers -----------------------------------------------------------------------------

namespace {

// One component of a transfer, resolved once before the parallel loop.
struct ComponentPlan {
    enum Action { Copy, Convert, FillMax, Skip };
    Action action = Skip;
    const DataChannel* channel = nullptr;
    int32_t channelType = 0;
    int32_t formatType = 0;
    uint32_t offset = 0;
    uint32_t size = 0; // element size in the buffer
    alignas(8) unsigned char maxValue[8] = {};
};

struct TransferPlan {
    ComponentPlan components[PixelFormat::MaxComponents];
    int count = 0;
    // Every component has a channel (copied or converted), all buffer elements have one size and
    // are packed without gaps, and there are at most 4: rows then go through the (de)interleaving
    // kernels in one pass, converted components through a small row buffer.
    bool interleaved = false;
    std::vector<Ref<DataChannel>> holds; // keeps the channels alive during the transfer
};

TransferPlan planTransfer(const PixelFormat& format,
                          const std::array<Ref<DataChannel>, MaxChannelId + 1>& slots, bool reading) {
    TransferPlan plan;
    plan.count = format.count();
    bool interleaved = format.count() >= 1 && format.count() <= 4;
    for (int c = 0; c < format.count(); ++c) {
        ComponentPlan& p = plan.components[c];
        const int32_t id = format.identifier(c);
        p.formatType = format.type(c);
        p.offset = format.offset(c);
        p.size = elementSizeOf(p.formatType);
        const DataChannel* channel = (id != ChannelSkip) ? slots[id].get() : nullptr;
        if (channel && (reading || format.indexOf(id) == c) && canConvert(channel->type(), p.formatType)) {
            p.channel = channel;
            p.channelType = channel->type();
            p.action = channel->type() == p.formatType ? ComponentPlan::Copy : ComponentPlan::Convert;
            plan.holds.push_back(slots[id]);
        } else if (reading && !channel && id == ChannelAlpha && writeMaxValue(p.formatType, p.maxValue)) {
            p.action = ComponentPlan::FillMax;
        }
        interleaved = interleaved &&
                      (p.action == ComponentPlan::Copy || p.action == ComponentPlan::Convert) &&
                      p.size == plan.components[0].size && p.offset == uint32_t(c) * p.size;
    }
    plan.interleaved =
        interleaved && format.pixelSize() == uint32_t(format.count()) * plan.components[0].size;
    return plan;
}

// Cursors of one job: for each component with a channel, one per tile column of the span.
template <class Cursor> class BandCursors {
public:
    BandCursors(const TransferPlan& plan, uint32_t columns)
        : m_columns(columns), m_cursors(new std::optional<Cursor>[size_t(plan.count) * columns]) {
        for (int c = 0; c < plan.count; ++c)
            if (const DataChannel* channel = plan.components[c].channel)
                for (uint32_t x = 0; x < columns; ++x) {
                    if constexpr (std::is_same_v<Cursor, TileReadWrite>)
                        m_cursors[size_t(c) * columns + x].emplace(const_cast<DataChannel&>(*channel));
                    else
                        m_cursors[size_t(c) * columns + x].emplace(*channel);
                }
    }
    Cursor& at(int component, uint32_t column) { return *m_cursors[size_t(component) * m_columns + column]; }
    bool has(int component, uint32_t column) const {
        return m_cursors[size_t(component) * m_columns + column].has_value();
    }

private:
    uint32_t m_columns;
    std::unique_ptr<std::optional<Cursor>[]> m_cursors;
};

constexpr uint32_t BlockStreams = 8; // tiles walked side by side (all components together)

// Walks `area` band by band (a band is one row of tiles; bands are the parallel jobs). Within a band
// the tiles of every component stay locked and rows are walked in image order, so the buffer is
// read or written front to back. `perSegment(cursors, column, x0, x1, y)` moves one row segment.
template <class Cursor, class PerSegment>
void forBands(const PixelPlane& plane, const RectI& area, const TransferPlan& plan, PerSegment perSegment) {
    const TileSpan span = tileSpan(plane.size(), area);
    const uint32_t blockColumns = std::max<uint32_t>(1, BlockStreams / uint32_t(std::max(plan.count, 1)));
    MT::parallelFor(0, span.countY, [&](uint32_t firstBand, uint32_t lastBand) {
        BandCursors<Cursor> cursors(plan, span.countX);
        for (uint32_t band = firstBand; band < lastBand; ++band) {
            RectI bandArea;
            for (uint32_t column = 0; column < span.countX; ++column) {
                const uint32_t tileNum = span.tileNum(band * span.countX + column);
                const RectI part = tileArea(plane.size(), tileNum, area);
                bandArea = part;
                for (int c = 0; c < plan.count; ++c) {
                    if (!cursors.has(c, column)) continue;
                    if constexpr (std::is_same_v<Cursor, TileReadWrite>) {
                        const bool wholeTile = part == tileArea(plane.size(), tileNum, plane.bounds());
                        cursors.at(c, column).switchTo(tileNum, wholeTile ? TileReadWrite::Overwrite
                                                                          : TileReadWrite::Preserve);
                    } else {
                        cursors.at(c, column).switchTo(tileNum);
                    }
                }
            }
            // Blocks of a few tiles keep the number of sample streams read or written at once small
            // enough for the hardware prefetcher, while buffer rows are still moved in long runs.
            for (uint32_t blockStart = 0; blockStart < span.countX; blockStart += blockColumns) {
                const uint32_t blockEnd = std::min(span.countX, blockStart + blockColumns);
                for (int y = bandArea.top; y < bandArea.bottom; ++y)
                    for (uint32_t column = blockStart; column < blockEnd; ++column) {
                        const int tileLeft = int(span.firstX + column) * TileSize;
                        perSegment(cursors, column, std::max(area.left, tileLeft),
                                   std::min(area.right, tileLeft + TileSize), y);
                    }
            }
        }
    });
}

} // namespace

template <>
void tGetData<PixelPlane>(const PixelPlane& plane, const RectI& rect, void* buffer, unsigned int stride,
                          const PixelFormat& format) {
    const RectI area = rect.intersected(plane.bounds());
    if (!buffer || area.isEmpty() || format.count() == 0) return;
    std::array<Ref<DataChannel>, MaxChannelId + 1> slots;
    for (int32_t id = 0; id <= MaxChannelId; ++id) slots[id] = plane.channel(id);
    const TransferPlan plan = planTransfer(format, slots, true);
    const size_t pixelSize = format.pixelSize();
    const size_t rowStride = stride ? stride : size_t(rect.width()) * pixelSize;
    auto* out = static_cast<unsigned char*>(buffer);

    forBands<TileReadOnly>(plane, area, plan, [&](auto& cursors, uint32_t column, int x0, int x1, int y) {
        const size_t width = size_t(x1 - x0);
        unsigned char* pixel = out + size_t(y - rect.top) * rowStride + size_t(x0 - rect.left) * pixelSize;
        alignas(64) unsigned char converted[PixelFormat::MaxComponents][TileSize * 8];
        if (plan.interleaved) {
            const void* rows[4];
            for (int c = 0; c < plan.count; ++c) {
                const ComponentPlan& p = plan.components[c];
                const unsigned char* tileRow = cursors.at(c, column).element(x0, y);
                if (p.action == ComponentPlan::Copy) {
                    rows[c] = tileRow;
                } else {
                    convertSamples(tileRow, p.channelType, converted[c], p.formatType, width);
                    rows[c] = converted[c];
                }
            }
            interleaveRows(rows, plan.count, plan.components[0].size, pixel, width);
            return;
        }
        for (int c = 0; c < plan.count; ++c) {
            const ComponentPlan& p = plan.components[c];
            unsigned char* target = pixel + p.offset;
            switch (p.action) {
            case ComponentPlan::Copy:
                scatterElements(cursors.at(c, column).element(x0, y), target, pixelSize, p.size, width);
                break;
            case ComponentPlan::Convert:
                convertSamples(cursors.at(c, column).element(x0, y), p.channelType, converted[0],
                               p.formatType, width);
                scatterElements(converted[0], target, pixelSize, p.size, width);
                break;
            case ComponentPlan::FillMax:
                fillElements(p.maxValue, target, pixelSize, p.size, width);
                break;
            case ComponentPlan::Skip:
                break;
            }
        }
    });
}

template <>
void tSetData<PixelPlane>(PixelPlane& plane, const RectI& rect, const void* buffer, unsigned int stride,
                          const PixelFormat& format) {
    const RectI area = rect.intersected(plane.bounds());
    if (!buffer || area.isEmpty() || format.count() == 0) return;
    std::array<Ref<DataChannel>, MaxChannelId + 1> slots;
    for (int c = 0; c < format.count(); ++c) {
        const int32_t id = format.identifier(c);
        if (id != ChannelSkip && !slots[id]) slots[id] = plane.writableChannel(id);
    }
    const TransferPlan plan = planTransfer(format, slots, false);
    const size_t pixelSize = format.pixelSize();
    const size_t rowStride = stride ? stride : size_t(rect.width()) * pixelSize;
    const auto* in = static_cast<const unsigned char*>(buffer);

    // A whole tile is overwritten without copying its old samples first; that is sound because
    // every component with a channel writes every element of its segment.
    forBands<TileReadWrite>(plane, area, plan, [&](auto& cursors, uint32_t column, int x0, int x1, int y) {
        const size_t width = size_t(x1 - x0);
        const unsigned char* pixel =
            in + size_t(y - rect.top) * rowStride + size_t(x0 - rect.left) * pixelSize;
        alignas(64) unsigned char gathered[PixelFormat::MaxComponents][TileSize * 8];
        if (plan.interleaved) {
            void* rows[4];
            for (int c = 0; c < plan.count; ++c)
                rows[c] = plan.components[c].action == ComponentPlan::Copy
                              ? cursors.at(c, column).element(x0, y)
                              : gathered[c];
            deinterleaveRows(pixel, plan.count, plan.components[0].size, rows, width);
            for (int c = 0; c < plan.count; ++c) {
                const ComponentPlan& p = plan.components[c];
                if (p.action == ComponentPlan::Convert)
                    convertSamples(gathered[c], p.formatType, cursors.at(c, column).element(x0, y),
                                   p.channelType, width);
            }
            return;
        }
        for (int c = 0; c < plan.count; ++c) {
            const ComponentPlan& p = plan.components[c];
            const unsigned char* source = pixel + p.offset;
            switch (p.action) {
            case ComponentPlan::Copy:
                gatherElements(source, pixelSize, cursors.at(c, column).element(x0, y), p.size, width);
                break;
            case ComponentPlan::Convert:
                gatherElements(source, pixelSize, gathered[0], p.size, width);
                convertSamples(gathered[0], p.formatType, cursors.at(c, column).element(x0, y), p.channelType,
                               width);
                break;
            case ComponentPlan::FillMax:
            case ComponentPlan::Skip:
                break;
            }
        }
    });
}

// ---- plane to plane ------------------------------------------------------------------------------------

bool copyPlane(PixelPlane& destination, const PixelPlane& source, uint32_t mask, const RectI* rects,
               size_t count, PointI offset) {
    if (&destination == &source && offset == PointI{}) return false;
    mask &= (1u << (MaxChannelId + 1)) - 1;
    const bool whole = count == 1 && rects && rects[0].contains(source.bounds()) && offset == PointI{} &&
                       source.size() == destination.size();
    if (whole && source.commonType() != 0 && source.commonType() == destination.commonType() &&
        source.companion() == destination.companion() &&
        bool(source.attachment()) == bool(destination.attachment()) && source.channelMask() == mask &&
        destination.channelMask() == mask && &destination != &source) {
        for (int32_t id = 0; id <= MaxChannelId; ++id) {
            if (!(mask & (1u << id))) continue;
            Ref<DataChannel> shared = source.channel(id);
            std::lock_guard<SpinLock> lock(destination.m_lock);
            destination.putSlot(id, std::move(shared));
        }
        return true;
    }
    for (int32_t id = 0; id <= MaxChannelId; ++id) {
        if (!(mask & (1u << id))) continue;
        Ref<DataChannel> from = source.channel(id);
        if (!from || !destination.hasChannel(id)) continue;
        Ref<DataChannel> to = destination.writableChannel(id);
        copyChannel(*to, *from, rects, count, offset);
    }
    return false;
}

} // namespace Orvex::DataStorage
