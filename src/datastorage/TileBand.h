#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace Orvex::DataStorage {

/// `count` cursors of one kind on one channel, held together: the tiles of one row of tiles
/// ("band") can then stay locked while the band is walked row by row in image order.
template <class Cursor, class Channel> class TileBand {
public:
    TileBand(Channel& channel, uint32_t count) : m_cursors(new std::optional<Cursor>[count]) {
        for (uint32_t i = 0; i < count; ++i) m_cursors[i].emplace(channel);
    }
    Cursor& operator[](uint32_t i) { return *m_cursors[i]; }
    const Cursor& operator[](uint32_t i) const { return *m_cursors[i]; }

private:
    std::unique_ptr<std::optional<Cursor>[]> m_cursors;
};

} // namespace Orvex::DataStorage
