#include "datastorage/PixelFormat.h"

namespace Orvex::DataStorage {

PixelFormat::PixelFormat(const uint32_t* identifiers, int32_t type) {
    clearIndex();
    if (!identifiers) return;
    for (int i = 0; i < MaxComponents && identifiers[i] != EndOfChannels; ++i)
        append(int32_t(identifiers[i]), type);
}

PixelFormat::PixelFormat(const int32_t* identifiers, int count, int32_t type) {
    clearIndex();
    if (!identifiers) return;
    for (int i = 0; i < count && i < MaxComponents; ++i) append(identifiers[i], type);
}

PixelFormat PixelFormat::fromMask(uint32_t mask, int32_t type) {
    PixelFormat format;
    for (int32_t id = 1; id <= MaxChannelId; ++id)
        if (mask & (1u << id)) format.append(id, type);
    return format;
}

bool PixelFormat::append(int32_t identifier, int32_t type) {
    if (m_count >= MaxComponents || identifier < 0 || identifier > MaxChannelId || elementSizeOf(type) == 0)
        return false;
    m_identifiers[m_count] = identifier;
    m_types[m_count] = type;
    m_offsets[m_count] = m_pixelSize;
    if (m_index[identifier] < 0) m_index[identifier] = int8_t(m_count);
    m_pixelSize += elementSizeOf(type);
    m_commonType = (m_count == 0) ? type : (m_commonType == type ? type : 0);
    ++m_count;
    return true;
}

uint32_t PixelFormat::channelMask() const {
    uint32_t mask = 0;
    for (int i = 0; i < m_count; ++i)
        if (m_identifiers[i] != ChannelSkip) mask |= 1u << m_identifiers[i];
    return mask;
}

bool PixelFormat::operator==(const PixelFormat& other) const {
    if (m_count != other.m_count) return false;
    for (int i = 0; i < m_count; ++i)
        if (m_identifiers[i] != other.m_identifiers[i] || m_types[i] != other.m_types[i]) return false;
    return true;
}

} // namespace Orvex::DataStorage
