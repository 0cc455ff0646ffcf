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
    // Every component is a plain copy of a present channel, packed without gaps, all of one size:
    // rows are moved by the (de)interleaving kernels in one pass.
    bool packed = false;
    std::vector<Ref<DataChannel>> holds; // keeps the channels alive during the transfer
};

TransferPlan planTransfer(const PixelFormat& format,
                          const std::array<Ref<DataChannel>, MaxChannelId + 1>& slots, bool reading) {
    TransferPlan plan;
    plan.count = format.count();
    bool packed = format.count() >= 1 && format.count() <= 4;
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
        packed = packed && p.action == ComponentPlan::Copy && p.size == plan.components[0].size &&
                 p.offset == c * p.size;
    }
    plan.packed = packed && format.pixelSize() == uint32_t(format.count()) * plan.components[0].size;
    return plan;
}

// Walks the tile rows of `area` in parallel; `perTile(cursors, tileNum, part)` handles one tile with
// the job's cursors (one per component).
template <class Cursor, class PerTile>
void forTileRows(const PixelPlane& plane, const RectI& area, const TransferPlan& plan, PerTile perTile) {
    const TileSpan span = tileSpan(plane.size(), area);
    MT::parallelFor(0, span.countY, [&](uint32_t firstRow, uint32_t lastRow) {
        std::optional<Cursor> cursors[PixelFormat::MaxComponents];
        for (int c = 0; c < plan.count; ++c)
            if (plan.components[c].channel) {
                if constexpr (std::is_same_v<Cursor, TileReadWrite>)
                    cursors[c].emplace(const_cast<DataChannel&>(*plan.components[c].channel));
                else
                    cursors[c].emplace(*plan.components[c].channel);
            }
        for (uint32_t row = firstRow; row < lastRow; ++row)
            for (uint32_t column = 0; column < span.countX; ++column) {
                const uint32_t tileNum = span.tileNum(row * span.countX + column);
                perTile(cursors, tileNum, tileArea(plane.size(), tileNum, area));
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

    forTileRows<TileReadOnly>(plane, area, plan, [&](auto& cursors, uint32_t tileNum, const RectI& part) {
        const size_t width = size_t(part.width());
        const void* rows[PixelFormat::MaxComponents];
        for (int c = 0; c < plan.count; ++c)
            if (cursors[c]) cursors[c]->switchTo(tileNum);
        alignas(64) unsigned char converted[TileSize * 8];
        for (int y = part.top; y < part.bottom; ++y) {
            unsigned char* pixel =
                out + size_t(y - rect.top) * rowStride + size_t(part.left - rect.left) * pixelSize;
            if (plan.packed) {
                for (int c = 0; c < plan.count; ++c) rows[c] = cursors[c]->element(part.left, y);
                interleaveRows(rows, plan.count, plan.components[0].size, pixel, width);
                continue;
            }
            for (int c = 0; c < plan.count; ++c) {
                const ComponentPlan& p = plan.components[c];
                unsigned char* target = pixel + p.offset;
                switch (p.action) {
                case ComponentPlan::Copy:
                    scatterElements(cursors[c]->element(part.left, y), target, pixelSize, p.size, width);
                    break;
                case ComponentPlan::Convert:
                    convertSamples(cursors[c]->element(part.left, y), p.channelType, converted, p.formatType,
                                   width);
                    scatterElements(converted, target, pixelSize, p.size, width);
                    break;
                case ComponentPlan::FillMax:
                    fillElements(p.maxValue, target, pixelSize, p.size, width);
                    break;
                case ComponentPlan::Skip:
                    break;
                }
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

    forTileRows<TileReadWrite>(plane, area, plan, [&](auto& cursors, uint32_t tileNum, const RectI& part) {
        const size_t width = size_t(part.width());
        const bool wholeTile = part == tileArea(plane.size(), tileNum, plane.bounds());
        void* rows[PixelFormat::MaxComponents];
        for (int c = 0; c < plan.count; ++c)
            if (cursors[c])
                cursors[c]->switchTo(tileNum, wholeTile ? TileReadWrite::Overwrite : TileReadWrite::Preserve);
        alignas(64) unsigned char gathered[TileSize * 8];
        for (int y = part.top; y < part.bottom; ++y) {
            const unsigned char* pixel =
                in + size_t(y - rect.top) * rowStride + size_t(part.left - rect.left) * pixelSize;
            if (plan.packed) {
                for (int c = 0; c < plan.count; ++c) rows[c] = cursors[c]->element(part.left, y);
                deinterleaveRows(pixel, plan.count, plan.components[0].size, rows, width);
                continue;
            }
            for (int c = 0; c < plan.count; ++c) {
                const ComponentPlan& p = plan.components[c];
                const unsigned char* source = pixel + p.offset;
                switch (p.action) {
                case ComponentPlan::Copy:
                    gatherElements(source, pixelSize, cursors[c]->element(part.left, y), p.size, width);
                    break;
                case ComponentPlan::Convert:
                    gatherElements(source, pixelSize, gathered, p.size, width);
                    convertSamples(gathered, p.formatType, cursors[c]->element(part.left, y), p.channelType,
                                   width);
                    break;
                case ComponentPlan::FillMax:
                case ComponentPlan::Skip:
                    break;
                }
            }
        }
        // Cursors are released when the job ends or switches tile; a whole-tile overwrite must not
        // leave a component unwritten, which the plan guarantees (every active component writes).
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
