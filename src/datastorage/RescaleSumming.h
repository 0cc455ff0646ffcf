#pragma once
// Area-averaging reduction of channels: every source pixel contributes to the destination pixels
// its area covers, in proportion to the covered fraction.
//
// Coverage tables per axis, with s = destination size / source size: target[x] = floor(x s) is the
// destination column receiving the first part of source column x, weight[x] = min(1, (target[x] +
// 1 - x s) / s) the fraction that falls into it; the rest falls into target[x] + 1. Accumulated sums
// are scaled by sx sy and rounded half away from zero (integers), clamped to the type's range.
// A uniform source fills the destination with its value without accumulating. Enlargement (s > 1)
// runs but is not meant for use: it leaves gaps.
//
// Runs one job per destination tile on the jobs pool (serially when source and destination are the
// same object); the source must not be written meanwhile.

#include "datastorage/DataChannel.h"

#include <cstddef>
#include <type_traits>
#include <vector>

namespace Orvex::DataStorage {

struct CoverageTable {
    float scale = 1.0f;
    std::vector<int> target;   // per source index
    std::vector<float> weight; // per source index
};
// The table for reducing `sourceSize` samples to `destinationSize`.
CoverageTable coverageTable(int sourceSize, int destinationSize);

// Progress callbacks: `setTotal(count)` once with the number of destination tiles, `step()` once per
// finished tile (from any worker).
struct RescaleProgressHooks {
    void* context = nullptr;
    void (*setTotal)(void*, int) = nullptr;
    void (*step)(void*) = nullptr;
};

// Fills `destination` (size already set, same type as `source`: -1, -2 or -3) from `source`.
// Returns false and does nothing for other or unequal types and for empty channels.
bool rescaleSummingChannel(const DataChannel& source, DataChannel& destination,
                           const RescaleProgressHooks& hooks);

// The typed entry the effects call: rescaleSumming<unsigned char>(source, destination, progress, flag).
// `progress` is any object with setTotal(int) and step() (the work space's ProgressData does), or
// null; `flag` is accepted for callers that pass one and changes nothing.
template <class T, class Progress = std::nullptr_t>
bool rescaleSumming(const DataChannel& source, DataChannel& destination, Progress* progress = nullptr,
                    bool flag = false) {
    static_assert(std::is_same_v<T, unsigned char> || std::is_same_v<T, unsigned short> ||
                      std::is_same_v<T, float>,
                  "rescaleSumming works on 8-bit, 16-bit and float channels");
    (void)flag;
    if (source.type() !=
        typeCodeOf<std::conditional_t<std::is_same_v<T, unsigned char>, uint8_t,
                                      std::conditional_t<std::is_same_v<T, float>, float, uint16_t>>>)
        return false;
    RescaleProgressHooks hooks;
    if constexpr (!std::is_same_v<Progress, std::nullptr_t>) {
        if (progress) {
            hooks.context = progress;
            hooks.setTotal = [](void* p, int total) { static_cast<Progress*>(p)->setTotal(total); };
            hooks.step = [](void* p) { static_cast<Progress*>(p)->step(); };
        }
    } else {
        (void)progress;
    }
    return rescaleSummingChannel(source, destination, hooks);
}

} // namespace Orvex::DataStorage
