#pragma once
// Splits [0, count) into chunks and runs fn(begin, end) for each. The helpers of this folder only
// ever write disjoint lines per chunk, so the chunks may run on any threads in any order.

#include <algorithm>
#include <thread>
#include <vector>

namespace Orvex::Document::Filters::Common {

template <class Fn> void forEachChunk(int count, int grain, Fn&& fn) {
    if (count <= 0) return;
    grain = std::max(1, grain);
    const int chunks = (count + grain - 1) / grain;
    const int workers = std::min<int>(chunks, std::max(1u, std::thread::hardware_concurrency()));
    if (workers <= 1) {
        fn(0, count);
        return;
    }
    // Static interleaved split: chunk c goes to worker c % workers.
    std::vector<std::thread> threads;
    threads.reserve(workers - 1);
    auto work = [&](int worker) {
        for (int c = worker; c < chunks; c += workers) fn(c * grain, std::min(count, (c + 1) * grain));
    };
    for (int w = 1; w < workers; ++w) threads.emplace_back(work, w);
    work(0);
    for (auto& t : threads) t.join();
}

} // namespace Orvex::Document::Filters::Common
