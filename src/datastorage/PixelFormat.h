#pragma once

#include "datastorage/SampleTypes.h"

#include <cstdint>

namespace Orvex::DataStorage {

/// Channel identifiers as the colour models use them.
enum ChannelId : int32_t {
    ChannelSkip = 0, ///< in a format: bytes that belong to no channel
    ChannelGrey = 1,
    ChannelRed = 2,
    ChannelGreen = 3,
    ChannelBlue = 4,
    ChannelCyan = 5,
    ChannelMagenta = 6,
    ChannelYellow = 7,
    ChannelBlack = 8,
    ChannelL = 9,
    ChannelA = 10,
    ChannelB = 11,
    ChannelMask = 12,
    ChannelAlpha = 13,
    MaxChannelId = 30, ///< a plane has slots 0 ... 30
};

/// Identifier masks (bit i = identifier i) of the colour models.
constexpr uint32_t channelBit(int32_t id) {
    return (id >= 0 && id <= MaxChannelId) ? (1u << id) : 0u;
}
constexpr uint32_t MaskGreyAlpha = channelBit(ChannelGrey) | channelBit(ChannelAlpha);
constexpr uint32_t MaskRGB = channelBit(ChannelRed) | channelBit(ChannelGreen) | channelBit(ChannelBlue);
constexpr uint32_t MaskRGBA = MaskRGB | channelBit(ChannelAlpha);
constexpr uint32_t MaskCMYKA = channelBit(ChannelCyan) | channelBit(ChannelMagenta) |
                               channelBit(ChannelYellow) | channelBit(ChannelBlack) |
                               channelBit(ChannelAlpha);
constexpr uint32_t MaskLabA =
    channelBit(ChannelL) | channelBit(ChannelA) | channelBit(ChannelB) | channelBit(ChannelAlpha);
constexpr uint32_t MaskSingle = channelBit(ChannelMask);

/// Ends an identifier list given to `PixelFormat`.
constexpr uint32_t EndOfChannels = 0xFFFFFFFFu;

/// An interleaved pixel layout in a caller's buffer: up to 16 components, each a channel identifier
/// (0: skipped bytes) and a sample type, packed in order without padding. A plain value.
/// Identifiers outside 0 ... 30 are dropped; components whose type has no size are dropped.
class PixelFormat {
public:
    static constexpr int MaxComponents = 16;

    PixelFormat() { clearIndex(); }
    /// From identifiers ended by `EndOfChannels` (at most 16 are taken), one type for all.
    PixelFormat(const uint32_t* identifiers, int32_t type);
    /// From `count` identifiers (at most 16 are taken), one type for all.
    PixelFormat(const int32_t* identifiers, int count, int32_t type);
    /// From an identifier mask, components in ascending identifier order.
    static PixelFormat fromMask(uint32_t mask, int32_t type);

    /// Appends a component; false when full or the identifier or type is invalid.
    bool append(int32_t identifier, int32_t type);

    int count() const { return m_count; }
    uint32_t pixelSize() const { return m_pixelSize; }
    /// The type shared by all components, 0 when they differ (or there are none).
    int32_t commonType() const { return m_commonType; }
    int32_t identifier(int component) const { return m_identifiers[component]; }
    int32_t type(int component) const { return m_types[component]; }
    uint32_t offset(int component) const { return m_offsets[component]; }
    /// The first component naming `identifier`, or -1.
    int indexOf(int32_t identifier) const {
        return (identifier >= 0 && identifier < 32) ? m_index[identifier] : -1;
    }
    /// Mask of the identifiers named (identifier 0 excluded).
    uint32_t channelMask() const;

    bool operator==(const PixelFormat& other) const;
    bool operator!=(const PixelFormat& other) const { return !(*this == other); }

private:
    void clearIndex() {
        for (auto& i : m_index) i = -1;
    }

    int32_t m_identifiers[MaxComponents] = {};
    int32_t m_types[MaxComponents] = {};
    uint32_t m_offsets[MaxComponents] = {};
    int8_t m_index[32];
    int32_t m_count = 0;
    uint32_t m_pixelSize = 0;
    int32_t m_commonType = 0;
};

} // namespace Orvex::DataStorage
