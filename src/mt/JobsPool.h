#pragma once
// Orvex::MT -- the process-wide jobs pool and the parallel loop.
//
// Principles
// - One pool per process (`JobsPool::instance()`), created by the first parallel loop that needs
//   more than one chunk and destroyed at exit. Further pools may be built for tests or tools.
// - Threads: any thread may call `parallelFor`, including pool workers (nested loops). The caller
//   takes part in its loop and helps with queued jobs while it waits; the participants take small
//   pieces from a shared cursor, so uneven work spreads (bodies must not care which runs where).
// - Ownership: a group keeps its callable (a `std::function`; `parallelFor` hands it a two-pointer
//   reference to the caller's callable, which fits its inline storage) and each job carries its group
//   number and range. Ring and group table are fixed arrays allocated once: no allocation per job.
// - Errors: the first exception thrown by any chunk of a loop is rethrown to its caller after every
//   chunk has finished; later ones are dropped.
// - Ranges are half-open: a chunk function receives [first, last).

#include "mt/FunctionRef.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Orvex::MT {

using RangeFunction = FunctionRef<void(uint32_t, uint32_t)>;

/// Hardware concurrency capped at 16 (at least 1), computed once.
int hardwareWorkerCount();

/// Worker count of the process-wide pool: `hardwareWorkerCount()`, replaced by a positive decimal
/// `ORVEX_OVERRIDE_THREADS` (still capped at the hardware count). A value of 0 or less, or one that
/// is not a number, is ignored.
int processWorkerCount();

/// How a parallel loop splits [begin, end): `chunk` indices per job, `jobs` jobs in all (the last one
/// possibly shorter). `jobs` == 1 means the loop runs on the caller alone.
struct ChunkPlan {
    uint32_t chunk = 0;
    uint32_t jobs = 0;
};
ChunkPlan planChunks(uint32_t count, uint32_t grain, uint32_t maxThreads, uint32_t workers);

class JobsPool {
public:
    static constexpr uint32_t RingSize = 16384;
    static constexpr uint32_t GroupCount = 16384;
    static constexpr int MaxWorkers = 16;

    /// `threads` between 1 and the hardware count is taken as is, anything else means the hardware
    /// count; `ORVEX_OVERRIDE_THREADS` overrides both. Workers are named "JobsPool #00", ...
    explicit JobsPool(int threads = 0);
    ~JobsPool();
    JobsPool(const JobsPool&) = delete;
    JobsPool& operator=(const JobsPool&) = delete;

    /// The process-wide pool, built on first use.
    static JobsPool& instance();

    int workerCount() const { return static_cast<int>(m_workers.size()); }

    /// Queues [first, last) in jobs of `chunk` indices as one group and returns the group number.
    /// The group keeps `function` until `wait` has returned; every submitted group must be waited for.
    uint32_t submitRange(std::function<void(uint32_t, uint32_t)> function, uint32_t first, uint32_t last,
                         uint32_t chunk);

    /// Blocks until every job of the group has run, running queued jobs (of any group) meanwhile;
    /// frees the group and rethrows the first exception one of its jobs threw.
    void wait(uint32_t group);

private:
    struct Job {
        uint32_t first = 0;
        uint32_t last = 0;
        uint32_t group = 0;
    };
    struct Group {
        uint32_t pending = 0;
        std::exception_ptr firstError;
        std::function<void(uint32_t, uint32_t)> function;
        std::atomic<bool> inUse{false};
    };

    uint32_t acquireGroup();
    void push(const Job& job, std::unique_lock<std::mutex>& lock);
    Job pop(); // lock held, ring not empty
    void runJob(const Job& job);
    void workerLoop(int index);

    std::unique_ptr<Job[]> m_ring;
    std::unique_ptr<Group[]> m_groups;
    uint32_t m_head = 0;
    uint32_t m_count = 0;
    std::atomic<uint32_t> m_groupCursor{0};

    std::mutex m_mutex;
    std::condition_variable m_workAvailable;
    std::condition_variable m_groupFinished;
    bool m_stop = false;
    std::vector<std::thread> m_workers;
};

/// Runs `function(first, last)` over [begin, end) in pieces of at least `grain` indices on at most
/// `maxThreads` threads (0: the process-wide worker count), the caller included, and returns when
/// every piece has run. Rethrows the first exception a piece threw.
void parallelFor(uint32_t begin, uint32_t end, RangeFunction function, uint32_t grain = 1,
                 uint32_t maxThreads = 0);

/// The same loop on a given pool (its worker count bounds the split).
void parallelFor(JobsPool& pool, uint32_t begin, uint32_t end, RangeFunction function, uint32_t grain = 1,
                 uint32_t maxThreads = 0);

} // namespace Orvex::MT
