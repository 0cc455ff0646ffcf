#pragma once

#include "datastorage/DataChannel.h"
#include "datastorage/PixelFormat.h"

#include <array>

namespace Orvex::DataStorage {

/// Up to 31 channels of one size under channel identifiers 0 ... 30. A plane shares its channels by
/// reference (the whole-plane copy fast path hands the very channel objects over); before a plane
/// writes into a channel that another plane also holds, it swaps in a private clone (which shares
/// the tiles, so this costs one table of references), so writes through a plane never show through
/// another plane. Code that writes a channel with its own cursors asks for `writableChannel(id)`.
class PixelPlane : public SharedObject, public Tagged {
public:
    PixelPlane() = default;
    /// One channel of `type` for every identifier in `mask` (bits above 30 ignored).
    PixelPlane(uint32_t mask, int32_t type, SizeI size, Ref<SharedObject> companion = {});
    /// One channel per component with a non-zero identifier, of that component's type.
    PixelPlane(const PixelFormat& format, SizeI size, Ref<SharedObject> companion = {});
    ~PixelPlane() override;
    PixelPlane(const PixelPlane&) = delete;
    PixelPlane& operator=(const PixelPlane&) = delete;

    /// A new plane of private channels that share every tile with this one.
    Ref<PixelPlane> clone() const;

    SizeI size() const { return m_size; }
    int width() const { return m_size.width; }
    int height() const { return m_size.height; }
    RectI bounds() const { return RectI::fromSize(m_size); }
    uint32_t tilesX() const { return m_tilesX; }
    uint32_t tilesY() const { return m_tilesY; }
    uint32_t channelCount() const;
    /// The type of all channels, 0 when they differ or there are none.
    int32_t commonType() const;
    /// Mask of the identifiers that hold a channel.
    uint32_t channelMask() const;

    /// The reference handed in at construction (kept for the plane's life; compared by the copy fast
    /// path), and a second optional shared reference (its presence is compared by the fast path).
    const Ref<SharedObject>& companion() const { return m_companion; }
    Ref<SharedObject> attachment() const;
    void setAttachment(Ref<SharedObject> attachment);

    bool hasChannel(int32_t id) const { return bool(channel(id)); }
    /// The channel under `id` (null when absent or `id` is outside 0 ... 30).
    Ref<DataChannel> channel(int32_t id) const;
    /// The channel under `id`, first swapped for a private clone when another plane holds it too.
    Ref<DataChannel> writableChannel(int32_t id);

    /// Creates a channel of `type` in an empty slot; converts the one present when its type differs;
    /// does nothing when it is of that type. False for an invalid identifier or type.
    bool addChannel(int32_t id, int32_t type);
    /// Puts `channel` (of the plane's size) into slot `id`; false when the size or id does not fit.
    bool setChannel(int32_t id, Ref<DataChannel> channel);
    bool removeChannel(int32_t id);

private:
    friend bool copyPlane(PixelPlane&, const PixelPlane&, uint32_t, const RectI*, size_t, PointI);
    void putSlot(int32_t id, Ref<DataChannel> channel); // plane lock held
    Ref<DataChannel> detach(int32_t id);                // plane lock held

    SizeI m_size;
    uint32_t m_tilesX = 0;
    uint32_t m_tilesY = 0;
    Ref<SharedObject> m_companion;
    Ref<SharedObject> m_attachment;
    std::array<Ref<DataChannel>, MaxChannelId + 1> m_slots;
    mutable SpinLock m_lock;
};

/// Moves `rect` (clipped to the plane) between the plane's channels and an interleaved buffer laid
/// out by `format`, converting each component between its channel's type and the format's. The
/// buffer's first byte is the rectangle's top-left pixel; rows are `stride` bytes apart (0: width x
/// pixel size). Reading: a component whose channel is missing gets the maximum of its type when it
/// is alpha (13), else its bytes are left alone. Writing: components without a channel, repeated
/// identifiers and unconvertible pairs are skipped. Parallel over tile rows.
template <class T>
void tGetData(const T& image, const RectI& rect, void* buffer, unsigned int stride,
              const PixelFormat& format);
template <class T>
void tSetData(T& image, const RectI& rect, const void* buffer, unsigned int stride,
              const PixelFormat& format);

template <>
void tGetData<PixelPlane>(const PixelPlane& plane, const RectI& rect, void* buffer, unsigned int stride,
                          const PixelFormat& format);
template <>
void tSetData<PixelPlane>(PixelPlane& plane, const RectI& rect, const void* buffer, unsigned int stride,
                          const PixelFormat& format);

inline void getData(const PixelPlane& plane, const RectI& rect, void* buffer, unsigned int stride,
                    const PixelFormat& format) {
    tGetData<PixelPlane>(plane, rect, buffer, stride, format);
}
inline void setData(PixelPlane& plane, const RectI& rect, const void* buffer, unsigned int stride,
                    const PixelFormat& format) {
    tSetData<PixelPlane>(plane, rect, buffer, stride, format);
}

/// Copies the channels named by `mask` (those present in both planes) of each rectangle, shifted by
/// `offset`, from `source` to `destination`. Fast path: one rectangle covering the whole plane, no
/// offset, equal sizes, equal non-zero common types, the same companion, the same presence of an
/// attachment and exactly the channels of `mask` in both: the destination takes the source's
/// channels by reference. Returns true when the fast path was taken.
bool copyPlane(PixelPlane& destination, const PixelPlane& source, uint32_t mask, const RectI* rects,
               size_t count, PointI offset = {});
inline bool copyPlane(PixelPlane& destination, const PixelPlane& source, uint32_t mask, const RectI& rect,
                      PointI offset = {}) {
    return copyPlane(destination, source, mask, &rect, 1, offset);
}

} // namespace Orvex::DataStorage
