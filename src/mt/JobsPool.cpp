#include "mt/JobsPool.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include <pthread.h>

namespace Orvex::MT {

int hardwareWorkerCount() {
    static const int count = [] {
        const unsigned reported = std::thread::hardware_concurrency();
        return static_cast<int>(std::clamp(reported, 1u, static_cast<unsigned>(JobsPool::MaxWorkers)));
    }();
    return count;
}

namespace {

// A positive decimal number from the environment, or 0 when unset, not a number or not positive.
int threadOverride() {
    const char* text = std::getenv("ORVEX_OVERRIDE_THREADS");
    if (!text || !*text) return 0;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    while (end && (*end == ' ' || *end == '\t' || *end == '\n')) ++end;
    if (errno != 0 || !end || *end != '\0' || value <= 0) return 0;
    return static_cast<int>(std::min<long>(value, INT_MAX));
}

int resolveWorkerCount(int requested) {
    const int hardware = hardwareWorkerCount();
    int count = (requested >= 1 && requested <= hardware) ? requested : hardware;
    if (const int forced = threadOverride(); forced > 0) count = std::min(forced, hardware);
    return count;
}

} // namespace

int processWorkerCount() {
    static const int count = resolveWorkerCount(0);
    return count;
}

ChunkPlan planChunks(uint32_t count, uint32_t grain, uint32_t maxThreads, uint32_t workers) {
    const uint32_t g = std::max<uint32_t>(grain, 1);
    if (count == 0) return {0, 0};
    if (g >= count) return {count, 1};
    workers = std::max<uint32_t>(workers, 1);
    const uint32_t threads = (maxThreads >= 1 && maxThreads <= workers) ? maxThreads : workers;
    const uint32_t pieces = g >= 2 ? count / g : count;
    const uint32_t parts = std::max<uint32_t>(std::min(threads, pieces), 1);
    const uint32_t chunk = std::max<uint32_t>((count + parts - 1) / parts, 1);
    return {chunk, (count + chunk - 1) / chunk};
}

JobsPool::JobsPool(int threads)
    : m_ring(std::make_unique<Job[]>(RingSize)), m_groups(std::make_unique<Group[]>(GroupCount)) {
    const int count = resolveWorkerCount(threads);
    m_workers.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) m_workers.emplace_back([this, i] { workerLoop(i); });
}

JobsPool::~JobsPool() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_workAvailable.notify_all();
    m_groupFinished.notify_all();
    for (auto& worker : m_workers) worker.join();
}

JobsPool& JobsPool::instance() {
    // A function-local static: built once under the runtime's own lock, destroyed at exit.
    static JobsPool pool(0);
    return pool;
}

uint32_t JobsPool::acquireGroup() {
    for (;;) {
        for (uint32_t attempt = 0; attempt < GroupCount; ++attempt) {
            uint32_t cursor = m_groupCursor.load(std::memory_order_relaxed);
            const uint32_t next = (cursor + 1) % GroupCount;
            if (!m_groupCursor.compare_exchange_weak(cursor, next, std::memory_order_relaxed)) continue;
            bool expected = false;
            if (m_groups[cursor].inUse.compare_exchange_strong(expected, true, std::memory_order_acquire))
                return cursor;
        }
        std::this_thread::yield(); // every record taken: some waiter is about to free one
    }
}

JobsPool::Job JobsPool::pop() {
    Job job = m_ring[m_head];
    m_head = (m_head + 1) % RingSize;
    --m_count;
    return job;
}

void JobsPool::push(const Job& job, std::unique_lock<std::mutex>& lock) {
    // A full ring is drained by the pusher itself rather than waited on, so a pool worker that
    // queues a large nested loop can never block the very workers that would make room.
    while (m_count >= RingSize - 1) {
        const Job other = pop();
        lock.unlock();
        runJob(other);
        lock.lock();
    }
    m_ring[(m_head + m_count) % RingSize] = job;
    ++m_count;
}

void JobsPool::runJob(const Job& job) {
    std::exception_ptr error;
    try {
        m_groups[job.group].function(job.first, job.last);
    } catch (...) {
        error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    Group& group = m_groups[job.group];
    if (error && !group.firstError) group.firstError = std::move(error);
    if (--group.pending == 0) m_groupFinished.notify_all();
}

uint32_t JobsPool::submitRange(std::function<void(uint32_t, uint32_t)> function, uint32_t first,
                               uint32_t last, uint32_t chunk) {
    chunk = std::max<uint32_t>(chunk, 1);
    const uint32_t count = last > first ? last - first : 0;
    const uint32_t jobs = count / chunk + (count % chunk ? 1 : 0);
    const uint32_t group = acquireGroup();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_groups[group].pending = jobs;
    m_groups[group].firstError = nullptr;
    m_groups[group].function = std::move(function);
    for (uint32_t j = 0; j < jobs; ++j) {
        const uint32_t begin = first + j * chunk;
        const uint32_t end = (count - j * chunk > chunk) ? begin + chunk : last;
        push(Job{begin, end, group}, lock);
    }
    lock.unlock();
    if (jobs == 1)
        m_workAvailable.notify_one();
    else if (jobs > 1)
        m_workAvailable.notify_all();
    return group;
}

void JobsPool::wait(uint32_t groupNumber) {
    Group& group = m_groups[groupNumber % GroupCount];
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (group.pending != 0) {
            if (m_count > 0) {
                const Job job = pop();
                lock.unlock();
                runJob(job);
                lock.lock();
            } else {
                m_groupFinished.wait(lock);
            }
        }
        error = std::move(group.firstError);
        group.firstError = nullptr;
        group.function = nullptr;
    }
    group.inUse.store(false, std::memory_order_release);
    if (error) std::rethrow_exception(error);
}

void JobsPool::workerLoop(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "JobsPool #%02d", index);
    pthread_setname_np(pthread_self(), name);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_workAvailable.wait(lock, [this] { return m_count > 0 || m_stop; });
        if (m_stop) return;
        const Job job = pop();
        lock.unlock();
        runJob(job);
        lock.lock();
    }
}

void parallelFor(JobsPool& pool, uint32_t begin, uint32_t end, RangeFunction function, uint32_t grain,
                 uint32_t maxThreads) {
    if (end <= begin) return;
    const ChunkPlan plan =
        planChunks(end - begin, grain, maxThreads, static_cast<uint32_t>(pool.workerCount()) + 0u);
    if (plan.jobs <= 1) {
        function(begin, end);
        return;
    }
    // plan.jobs participants (the caller and plan.jobs - 1 pool jobs) take pieces of about an eighth
    // of a chunk from a shared cursor until none is left, so that uneven work (a sun in one corner,
    // a zone in the upper half) evens out instead of waiting for the slowest fixed chunk.
    constexpr uint32_t kPiecesPerParticipant = 8;
    const uint32_t piece = std::max({std::max<uint32_t>(grain, 1), plan.chunk / kPiecesPerParticipant, 1u});
    std::atomic<uint64_t> cursor{begin};
    auto take = [&](uint32_t, uint32_t) {
        for (;;) {
            const uint64_t first = cursor.fetch_add(piece, std::memory_order_relaxed);
            if (first >= end) return;
            function(uint32_t(first), uint32_t(std::min<uint64_t>(end, first + piece)));
        }
    };
    const uint32_t group = pool.submitRange(RangeFunction(take), 0, plan.jobs - 1, 1);
    std::exception_ptr ownError;
    try {
        take(0, 0);
    } catch (...) {
        ownError = std::current_exception();
    }
    // The group is always waited for: its jobs refer to the caller's callable.
    if (ownError) {
        try {
            pool.wait(group);
        } catch (...) {
        }
        std::rethrow_exception(ownError);
    }
    pool.wait(group);
}

void parallelFor(uint32_t begin, uint32_t end, RangeFunction function, uint32_t grain, uint32_t maxThreads) {
    if (end <= begin) return;
    const ChunkPlan plan =
        planChunks(end - begin, grain, maxThreads, static_cast<uint32_t>(processWorkerCount()));
    if (plan.jobs <= 1) {
        function(begin, end);
        return;
    }
    parallelFor(JobsPool::instance(), begin, end, function, grain, maxThreads);
}

} // namespace Orvex::MT
