#include "mt/JobsPool.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace Orvex::MT;

namespace {

// Sets an environment variable for the lifetime of the guard.
struct EnvGuard {
    explicit EnvGuard(const char* value) {
        if (value)
            setenv("ORVEX_OVERRIDE_THREADS", value, 1);
        else
            unsetenv("ORVEX_OVERRIDE_THREADS");
    }
    ~EnvGuard() { unsetenv("ORVEX_OVERRIDE_THREADS"); }
};

struct Chunk {
    uint32_t first, last;
    std::thread::id thread;
};

} // namespace

TEST(ChunkPlan, SplitsAsTheLoopIsDefined) {
    // 10 indices, grain 1, at most 3 threads of 8: chunks of 4, 3 jobs.
    ChunkPlan plan = planChunks(10, 1, 3, 8);
    EXPECT_EQ(plan.chunk, 4u);
    EXPECT_EQ(plan.jobs, 3u);
    // A grain that covers the range: one job on the caller.
    EXPECT_EQ(planChunks(5, 8, 0, 8).jobs, 1u);
    // Grain 0 counts as 1; maxThreads 0 or above the worker count means the worker count.
    EXPECT_EQ(planChunks(8, 0, 0, 2).chunk, 4u);
    EXPECT_EQ(planChunks(8, 0, 99, 2).jobs, 2u);
    // pieces = n / grain bounds the split.
    plan = planChunks(100, 40, 0, 8);
    EXPECT_EQ(plan.jobs, 2u);
    EXPECT_EQ(plan.chunk, 50u);
    EXPECT_EQ(planChunks(0, 1, 0, 4).jobs, 0u);
}

TEST(ParallelFor, CoversEveryIndexOnceInPiecesOfAtLeastTheGrain) {
    JobsPool pool(2);
    for (uint32_t n : {1u, 2u, 3u, 7u, 64u, 1000u, 4097u}) {
        for (uint32_t grain : {0u, 1u, 3u, 100u}) {
            std::vector<std::atomic<int>> hits(n + 5);
            std::mutex mutex;
            std::vector<Chunk> chunks;
            parallelFor(
                pool, 5, 5 + n,
                [&](uint32_t first, uint32_t last) {
                    for (uint32_t i = first; i < last; ++i) hits[i].fetch_add(1);
                    std::lock_guard<std::mutex> lock(mutex);
                    chunks.push_back({first, last, std::this_thread::get_id()});
                },
                grain, 0);
            for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(hits[i].load(), 0);
            for (uint32_t i = 5; i < 5 + n; ++i)
                ASSERT_EQ(hits[i].load(), 1) << "n " << n << " grain " << grain;
            // Only the piece that ends the range may be shorter than the grain.
            for (const Chunk& c : chunks)
                if (c.last != 5 + n) { EXPECT_GE(c.last - c.first, std::max(grain, 1u)) << n << " " << grain; }
        }
    }
}

TEST(ParallelFor, EmptyAndInvertedRangesDoNothing) {
    int calls = 0;
    parallelFor(10, 10, [&](uint32_t, uint32_t) { ++calls; });
    parallelFor(10, 3, [&](uint32_t, uint32_t) { ++calls; });
    EXPECT_EQ(calls, 0);
}

TEST(ParallelFor, PiecesStayOnAtMostMaxThreadsAndUnevenWorkIsShared) {
    JobsPool pool(4);
    // Many small pieces, but never more participants than asked for.
    std::mutex mutex;
    std::set<std::thread::id> threads;
    int pieces = 0;
    parallelFor(
        pool, 0, 1000,
        [&](uint32_t, uint32_t) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            std::lock_guard<std::mutex> lock(mutex);
            threads.insert(std::this_thread::get_id());
            ++pieces;
        },
        1, 2);
    EXPECT_LE(threads.size(), 2u);
    EXPECT_GT(pieces, 2);

    // All the work in the first eighth of the range: with one fixed chunk per participant it would
    // all fall to one thread. Each slow index waits (up to seconds) until a second thread is in.
    std::set<std::thread::id> slow;
    std::condition_variable joined;
    parallelFor(
        pool, 0, 64,
        [&](uint32_t first, uint32_t last) {
            for (uint32_t i = first; i < last; ++i) {
                if (i >= 8) continue;
                std::unique_lock<std::mutex> lock(mutex);
                slow.insert(std::this_thread::get_id());
                joined.notify_all();
                joined.wait_for(lock, std::chrono::seconds(5), [&] { return slow.size() >= 2; });
            }
        },
        1, 2);
    EXPECT_EQ(slow.size(), 2u);
}

TEST(ParallelFor, ManyEmptyChunksFinish) {
    JobsPool pool(2);
    std::atomic<int> calls{0};
    // 20000 chunks overflow the 16384-entry ring: the submitter drains it instead of deadlocking.
    const uint32_t group = pool.submitRange([&](uint32_t, uint32_t) { calls.fetch_add(1); }, 0, 20000, 1);
    pool.wait(group);
    EXPECT_EQ(calls.load(), 20000);
}

TEST(ParallelFor, FirstExceptionIsRethrownAfterEveryChunkFinished) {
    JobsPool pool(2);
    std::atomic<int> finished{0};
    int caught = 0;
    try {
        const uint32_t group = pool.submitRange(
            [&](uint32_t first, uint32_t) {
                std::this_thread::sleep_for(std::chrono::milliseconds(first == 3 ? 20 : 1));
                finished.fetch_add(1);
                if (first == 0 || first == 1) throw std::runtime_error("chunk " + std::to_string(first));
            },
            0, 4, 1);
        pool.wait(group);
    } catch (const std::runtime_error& error) {
        ++caught;
        EXPECT_EQ(finished.load(), 4);
        const std::string text = error.what();
        EXPECT_TRUE(text == "chunk 0" || text == "chunk 1") << text;
    }
    EXPECT_EQ(caught, 1);
    // The group record is free again and the pool still works.
    std::atomic<int> calls{0};
    parallelFor(pool, 0, 100, [&](uint32_t a, uint32_t b) { calls.fetch_add(int(b - a)); });
    EXPECT_EQ(calls.load(), 100);
}

TEST(ParallelFor, CallersOwnChunkThrowingStillWaitsForTheGroup) {
    JobsPool pool(2);
    std::atomic<int> poolChunksDone{0};
    const std::thread::id caller = std::this_thread::get_id();
    EXPECT_THROW(parallelFor(
                     pool, 0, 2,
                     [&](uint32_t, uint32_t) {
                         if (std::this_thread::get_id() == caller) throw std::logic_error("caller");
                         std::this_thread::sleep_for(std::chrono::milliseconds(30));
                         poolChunksDone.fetch_add(1);
                     },
                     1, 2),
                 std::logic_error);
    // The pool's chunk may have been run by the caller while it waited (then it threw there too);
    // either way no chunk is still running once the loop has returned.
    const int done = poolChunksDone.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(poolChunksDone.load(), done);
}

TEST(ParallelFor, NestedLoopsInsidePoolJobsComplete) {
    for (int workers : {1, 2}) {
        JobsPool pool(workers);
        std::atomic<uint64_t> sum{0};
        parallelFor(
            pool, 0, 16,
            [&](uint32_t a, uint32_t b) {
                for (uint32_t outer = a; outer < b; ++outer)
                    parallelFor(
                        pool, 0, 100,
                        [&](uint32_t c, uint32_t d) {
                            for (uint32_t i = c; i < d; ++i) sum.fetch_add(outer * 100 + i);
                        },
                        1, 0);
            },
            1, 0);
        uint64_t expected = 0;
        for (uint64_t i = 0; i < 1600; ++i) expected += i;
        EXPECT_EQ(sum.load(), expected) << workers << " workers";
    }
}

TEST(JobsPool, WorkerCountAndOverride) {
    const int hardware = hardwareWorkerCount();
    EXPECT_GE(hardware, 1);
    EXPECT_LE(hardware, 16);
    {
        EnvGuard env(nullptr);
        EXPECT_EQ(JobsPool(0).workerCount(), hardware);
        EXPECT_EQ(JobsPool(1).workerCount(), 1);
        EXPECT_EQ(JobsPool(hardware + 5).workerCount(), hardware);
        EXPECT_EQ(JobsPool(-2).workerCount(), hardware);
    }
    {
        EnvGuard env("1");
        EXPECT_EQ(JobsPool(0).workerCount(), 1);
        EXPECT_EQ(JobsPool(hardware).workerCount(), 1);
    }
    for (const char* ignored : {"0", "-3", "abc", "2x", ""}) {
        EnvGuard env(ignored);
        EXPECT_EQ(JobsPool(0).workerCount(), hardware) << '"' << ignored << '"';
    }
    {
        EnvGuard env("999");
        EXPECT_EQ(JobsPool(1).workerCount(), hardware);
    }
}

TEST(JobsPool, WorkersAreNamed) {
    JobsPool pool(2);
    std::mutex mutex;
    std::set<std::string> names;
    const uint32_t group = pool.submitRange(
        [&](uint32_t, uint32_t) {
            char name[32] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            std::lock_guard<std::mutex> lock(mutex);
            names.insert(name);
        },
        0, 64, 1);
    pool.wait(group);
    for (const std::string& name : names) {
        if (name.rfind("JobsPool #", 0) == 0) {
            EXPECT_TRUE(name == "JobsPool #00" || name == "JobsPool #01") << name;
        }
    }
}
