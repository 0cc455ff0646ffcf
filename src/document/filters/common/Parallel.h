#pragma once
// Splits [0, count) into chunks of at least `grain` indices and runs fn(begin, end) for each on the
// process-wide jobs pool (the caller works too). The helpers of this folder only ever write
// disjoint lines per chunk, so the chunks may run on any threads in any order.

#include "mt/JobsPool.h"

#include <cstdint>

namespace Orvex::Document::Filters::Common {

template <class Fn> void forEachChunk(int count, int grain, Fn&& fn) {
    if (count <= 0) return;
    MT::parallelFor(
        0, uint32_t(count), [&](uint32_t begin, uint32_t end) { fn(int(begin), int(end)); },
        uint32_t(grain > 0 ? grain : 1));
}

} // namespace Orvex::Document::Filters::Common
