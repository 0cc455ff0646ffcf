#pragma once
// The data pad: one memory-mapped file shared by the master (the host's plug-in module) and the
// effect process, holding two process-shared POSIX semaphores, the id and size of the message in
// flight and up to MaxDataSize bytes of message data. A master written in C maps the same file,
// so the layout is checked member by member at compile time.

#include <cstddef>
#include <cstdint>
#include <semaphore.h>

namespace Orvex::OXF {

constexpr uint32_t OXF_REVISION = 4;

enum MessageId : uint32_t {
    M2S_Handshake = 0x101,
    M2S_Quit = 0x102,
    M2S_Run = 0x103,
    M2S_DataStream = 0x105,
    M2S_ClearToSend = 0x106,
    S2M_Started = 0x201,
    S2M_Quit = 0x202,
    S2M_Done = 0x203,
    S2M_GetChannel = 0x205,
    S2M_PutChannel = 0x206,
    S2M_DataStream = 0x207,
    S2M_ClearToSend = 0x208,
};

// Master ids lie in 0x100-0x107, slave ids in 0x200-0x20B.
constexpr bool msg_in_range(uint32_t id, bool masterRange) {
    return masterRange ? (id & ~7u) == 0x100 : (id >= 0x200 && id <= 0x20B);
}

struct OXFDataPad {
    static constexpr uint32_t Magic1 = 0x53545254; // "TRTS"
    static constexpr uint32_t Magic2 = 0x44415441; // "ATAD"
    static constexpr uint32_t Magic3 = 0x454E4423; // "#DNE"
    static constexpr uint32_t MaxDataSize = 0x4000C00;
    static constexpr uint64_t MaxDataStreamSize = 0x40000000;
    static constexpr uint32_t FlagShutdown = 1;

    uint32_t magic1;
    uint32_t reserved0;
    sem_t sem_master; // the master waits, the slave posts
    sem_t sem_slave;  // the slave waits, the master posts
    uint64_t master_pid;
    uint64_t slave_pid;
    uint32_t revision_;
    uint32_t max_data_size_;
    uint32_t flags;
    uint32_t msg_id_; // written with an atomic exchange
    uint32_t data_size_;
    uint32_t msg_block_;
    uint32_t host_fatal_;
    uint32_t magic2;
    uint8_t data[MaxDataSize];
    uint32_t magic3;
    uint32_t reserved1;
};

static_assert(sizeof(sem_t) == 32, "the pad holds POSIX semaphores of exactly 32 bytes");
static_assert(offsetof(OXFDataPad, magic1) == 0);
static_assert(offsetof(OXFDataPad, sem_master) == 8);
static_assert(offsetof(OXFDataPad, sem_slave) == 40);
static_assert(offsetof(OXFDataPad, master_pid) == 72);
static_assert(offsetof(OXFDataPad, slave_pid) == 80);
static_assert(offsetof(OXFDataPad, revision_) == 88);
static_assert(offsetof(OXFDataPad, max_data_size_) == 92);
static_assert(offsetof(OXFDataPad, flags) == 96);
static_assert(offsetof(OXFDataPad, msg_id_) == 100);
static_assert(offsetof(OXFDataPad, data_size_) == 104);
static_assert(offsetof(OXFDataPad, msg_block_) == 108);
static_assert(offsetof(OXFDataPad, host_fatal_) == 112);
static_assert(offsetof(OXFDataPad, magic2) == 116);
static_assert(offsetof(OXFDataPad, data) == 120);
static_assert(offsetof(OXFDataPad, magic3) == 0x4000C78);
static_assert(sizeof(OXFDataPad) == 0x4000C80);

} // namespace Orvex::OXF
