#include "datastorage/Tile.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

namespace Orvex::DataStorage {

namespace {
// Record and samples share one 64-byte aligned block: one allocation per tile.
constexpr size_t HeaderBytes = 64;
} // namespace

TileRecord::TileRecord(uint32_t elementSize, unsigned char* data)
    : m_elementSize(elementSize), m_data(data) {}

TileRecord* TileRecord::create(uint32_t elementSize) {
    static_assert(sizeof(TileRecord) <= HeaderBytes, "tile header outgrew its slot");
    const size_t bytes = HeaderBytes + size_t(TileElements) * elementSize;
    void* block = ::operator new(bytes, std::align_val_t(64));
    return new (block) TileRecord(elementSize, static_cast<unsigned char*>(block) + HeaderBytes);
}

TileRecord* TileRecord::createCopy(const TileRecord& source) {
    TileRecord* tile = create(source.m_elementSize);
    std::memcpy(tile->m_data, source.m_data, source.byteSize());
    std::memcpy(tile->m_solidValue, source.m_solidValue, sizeof m_solidValue);
    tile->m_state.store(source.m_state.load(std::memory_order_acquire), std::memory_order_relaxed);
    return tile;
}

void TileRecord::verifyIfPossiblySolid() {
    constexpr uint8_t Verifying = 3; // a reader is checking the samples
    uint8_t expected = uint8_t(TileState::PossiblySolid);
    if (!m_state.compare_exchange_strong(expected, Verifying, std::memory_order_acq_rel)) return;
    if (isUniform(TileSize, TileSize)) {
        std::memcpy(m_solidValue, m_data, std::min<size_t>(m_elementSize, sizeof m_solidValue));
        setState(TileState::Solid);
    } else {
        setState(TileState::Ordinary);
    }
}

void TileRecord::releaseHold() {
    if (m_holds.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        this->~TileRecord();
        ::operator delete(static_cast<void*>(this), std::align_val_t(64));
    }
}

void TileRecord::addShares(uint32_t count) {
    m_holds.fetch_add(count, std::memory_order_relaxed);
    m_shares.fetch_add(count, std::memory_order_relaxed);
}
void TileRecord::dropShare() {
    m_shares.fetch_sub(1, std::memory_order_acq_rel);
    releaseHold();
}
void TileRecord::lockRead() {
    m_holds.fetch_add(1, std::memory_order_relaxed);
    m_readLocks.fetch_add(1, std::memory_order_acquire);
}
void TileRecord::unlockRead() {
    m_readLocks.fetch_sub(1, std::memory_order_release);
    releaseHold();
}
void TileRecord::lockWrite() {
    m_holds.fetch_add(1, std::memory_order_relaxed);
    m_writeLocks.fetch_add(1, std::memory_order_acquire);
}
void TileRecord::unlockWrite() {
    m_writeLocks.fetch_sub(1, std::memory_order_release);
    releaseHold();
}

namespace {
template <class T> bool allEqual(const unsigned char* data, size_t rowBytes, int width, int height) {
    T first;
    std::memcpy(&first, data, sizeof(T));
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = data + size_t(y) * rowBytes;
        bool same = true;
        for (int x = 0; x < width; ++x) {
            T v;
            std::memcpy(&v, row + size_t(x) * sizeof(T), sizeof(T));
            same &= (v == first); // no early exit inside a row: lets the loop vectorise
        }
        if (!same) return false;
    }
    return true;
}
} // namespace

bool TileRecord::isUniform(int width, int height) const {
    const size_t rowBytes = size_t(TileSize) * m_elementSize;
    switch (m_elementSize) {
    case 1:
        return allEqual<uint8_t>(m_data, rowBytes, width, height);
    case 2:
        return allEqual<uint16_t>(m_data, rowBytes, width, height);
    case 4:
        return allEqual<uint32_t>(m_data, rowBytes, width, height);
    case 8:
        return allEqual<uint64_t>(m_data, rowBytes, width, height);
    default:
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (std::memcmp(m_data + y * rowBytes + size_t(x) * m_elementSize, m_data, m_elementSize) !=
                    0)
                    return false;
        return true;
    }
}

bool TileRecord::looksUniform() const {
    const uint32_t n = std::max<uint32_t>(64 / std::max<uint32_t>(m_elementSize, 1), 3);
    const unsigned char* reference = m_data + size_t(TileElements - n) * m_elementSize;
    for (uint32_t i = 0; i < n; ++i) {
        if (std::memcmp(m_data + size_t(i) * m_elementSize, reference, m_elementSize) != 0) return false;
        if (std::memcmp(m_data + size_t(TileElements - 1 - i) * m_elementSize, reference, m_elementSize) != 0)
            return false;
    }
    return true;
}

struct SolidTilePool::Impl {
    struct Key {
        uint32_t elementSize;
        uint64_t value;
        bool operator==(const Key& o) const { return elementSize == o.elementSize && value == o.value; }
    };
    struct KeyHash {
        size_t operator()(const Key& k) const {
            // 32-bit mix of size and value bytes (a murmur-style finaliser).
            uint64_t h = k.value ^ (uint64_t(k.elementSize) * 0x9E3779B97F4A7C15ull);
            h ^= h >> 33;
            h *= 0xff51afd7ed558ccdull;
            h ^= h >> 33;
            return static_cast<uint32_t>(h);
        }
    };
    mutable std::mutex mutex;
    std::unordered_map<Key, TileRecord*, KeyHash> tiles;
};

SolidTilePool& SolidTilePool::instance() {
    // Never destroyed: channels released during static destruction may still return shares to it.
    static SolidTilePool* pool = [] {
        auto* p = new SolidTilePool;
        p->m_impl = new Impl;
        return p;
    }();
    return *pool;
}

TileRecord* SolidTilePool::acquire(uint32_t elementSize, const void* value, uint32_t shares) {
    if (elementSize == 0) return nullptr;
    uint64_t bits = 0;
    if (value) {
        if (elementSize <= 8) {
            std::memcpy(&bits, value, elementSize);
        } else {
            const auto* bytes = static_cast<const unsigned char*>(value);
            for (uint32_t i = 0; i < elementSize; ++i)
                if (bytes[i] != 0) return nullptr;
        }
    }
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto& slot = m_impl->tiles[Impl::Key{elementSize, bits}];
    if (!slot) {
        TileRecord* tile = TileRecord::create(elementSize);
        unsigned char* data = tile->data();
        if (bits == 0) {
            std::memset(data, 0, tile->byteSize());
        } else {
            for (int i = 0; i < TileElements; ++i)
                std::memcpy(data + size_t(i) * elementSize, &bits, elementSize);
        }
        std::memcpy(tile->m_solidValue, &bits, sizeof bits);
        tile->m_pooled = true;
        tile->setState(TileState::Solid);
        slot = tile; // the pool keeps the initial share for itself
    }
    if (shares) slot->addShares(shares);
    return slot;
}

size_t SolidTilePool::size() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->tiles.size();
}

} // namespace Orvex::DataStorage
