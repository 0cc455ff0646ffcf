#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace Orvex::DataStorage {

constexpr int TileSize = 64;       ///< a tile is TileSize x TileSize elements
constexpr int TileShift = 6;       ///< log2(TileSize)
constexpr int TileElements = 4096; ///< elements per tile, row-major, no padding

enum class TileState : uint8_t {
    Ordinary = 0,      ///< arbitrary data
    Solid = 1,         ///< all 4096 elements equal (value known)
    PossiblySolid = 2, ///< a cheap check after a write says it may be solid: verified on the next read
};

/// One 64 x 64 tile of one channel's elements, shared between channel slots. Lifetime: the tile is
/// freed when its share count and both lock counts are zero (one atomic "hold" count covers all
/// three so that exactly one releaser frees it). Only cursors and channel code touch these.
class TileRecord {
public:
    /// A new tile with one share and uninitialised samples.
    static TileRecord* create(uint32_t elementSize);
    /// A new tile with one share and a copy of `source`'s samples and state.
    static TileRecord* createCopy(const TileRecord& source);

    uint32_t elementSize() const { return m_elementSize; }
    size_t byteSize() const { return size_t(TileElements) * m_elementSize; }
    unsigned char* data() { return m_data; }
    const unsigned char* data() const { return m_data; }

    TileState state() const { return TileState(m_state.load(std::memory_order_acquire)); }
    void setState(TileState state) { m_state.store(uint8_t(state), std::memory_order_release); }
    /// Verifies a possibly-solid tile in full and settles its state (solid with its value, or
    /// ordinary). Readers of one tile shared by several channels may race here: one verifies, the
    /// others read the tile as ordinary data meanwhile (which it is, in either case).
    void verifyIfPossiblySolid();
    /// Value of every element of a solid tile (element sizes up to 8 bytes).
    const unsigned char* solidValue() const { return m_solidValue; }
    /// Whether the tile belongs to the process-wide solid-tile pool (never written, never freed).
    bool isPooled() const { return m_pooled; }

    uint32_t shareCount() const { return m_shares.load(std::memory_order_acquire); }
    uint32_t readLocks() const { return m_readLocks.load(std::memory_order_acquire); }
    uint32_t writeLocks() const { return m_writeLocks.load(std::memory_order_acquire); }

    void addShares(uint32_t count = 1);
    void dropShare(); ///< may free the tile
    void lockRead();
    void unlockRead(); ///< may free the tile
    void lockWrite();
    void unlockWrite(); ///< may free the tile

    /// True when every element of the `width` x `height` top-left part equals the first one.
    bool isUniform(int width, int height) const;
    /// The cheap check after a write to an inner tile: the first and last n elements (n = 64 / element
    /// size, at least 3) equal the element at 4096 - n.
    bool looksUniform() const;

private:
    friend class SolidTilePool;
    explicit TileRecord(uint32_t elementSize, unsigned char* data);
    ~TileRecord() = default;
    void releaseHold();

    std::atomic<uint32_t> m_holds{1};
    std::atomic<uint32_t> m_shares{1};
    std::atomic<uint32_t> m_readLocks{0};
    std::atomic<uint32_t> m_writeLocks{0};
    alignas(8) unsigned char m_solidValue[8] = {};
    std::atomic<uint8_t> m_state{uint8_t(TileState::Ordinary)};
    bool m_pooled = false;
    uint32_t m_elementSize;
    unsigned char* m_data;
};

/// The process-wide pool of shared solid tiles, one per (element size, value). Guarded by one mutex;
/// entries live for the process's life. Values are compared over the element size (at most 8 bytes;
/// larger opaque elements only have a zero tile).
class SolidTilePool {
public:
    static SolidTilePool& instance();
    /// The solid tile of `value` (nullptr: zero) with `shares` new shares for the caller; nullptr when
    /// the element size cannot be pooled (0, or above 8 with a non-zero value).
    TileRecord* acquire(uint32_t elementSize, const void* value, uint32_t shares = 1);
    size_t size() const;

private:
    SolidTilePool() = default;
    struct Impl;
    Impl* m_impl = nullptr;
};

/// A one-byte spin lock taken by atomic exchange, spun on with plain reads; guards tile tables and
/// plane slots (held for a handful of instructions).
class SpinLock {
public:
    void lock() {
        while (m_taken.exchange(true, std::memory_order_acquire)) {
            for (int spins = 0; m_taken.load(std::memory_order_relaxed); ++spins)
                if (spins > 64) std::this_thread::yield();
        }
    }
    void unlock() { m_taken.store(false, std::memory_order_release); }

private:
    std::atomic<bool> m_taken{false};
};

} // namespace Orvex::DataStorage
