#include "datastorage/BaseDataProcessing.h"

#include "datastorage/Logging.h"
#include "mt/JobsPool.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <optional>

#include <QMessageLogger>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace Orvex::DataStorage {

// ---- base member --------------------------------------------------------------------------------

void BaseDataProcessing::setOpacity(float opacity) {
    m_opacity = opacity;
    m_clampedOpacity = opacity > 0.0f ? std::min(opacity, 1.0f) : 0.0f;
}

int BaseDataProcessing::check2(const void* const*) const {
    return 1;
}
int BaseDataProcessing::check3(const void* const*) const {
    return 1;
}
int BaseDataProcessing::check4(const void* const*) const {
    return 1;
}
int BaseDataProcessing::check5(const void* const*) const {
    return 1;
}
int BaseDataProcessing::check6(const void* const*) const {
    return 1;
}
void BaseDataProcessing::process2(const CombinerBlock&) const {}
void BaseDataProcessing::process3(const CombinerBlock&) const {}
void BaseDataProcessing::process4(const CombinerBlock&) const {}
void BaseDataProcessing::process5(const CombinerBlock&) const {}
void BaseDataProcessing::process6(const CombinerBlock&) const {}

int BaseDataProcessing::check(const void* const* solid) const {
    switch (arity()) {
    case 2:
        return check2(solid);
    case 3:
        return check3(solid);
    case 4:
        return check4(solid);
    case 5:
        return check5(solid);
    case 6:
        return check6(solid);
    default:
        return 1;
    }
}

void BaseDataProcessing::process(const CombinerBlock& block) const {
    switch (arity()) {
    case 2:
        process2(block);
        break;
    case 3:
        process3(block);
        break;
    case 4:
        process4(block);
        break;
    case 5:
        process5(block);
        break;
    case 6:
        process6(block);
        break;
    default:
        break;
    }
}

int BaseDataProcessing::checkAllInputsSolid(const void* const* solid, int count) const {
    for (int i = 1; i < count; ++i)
        if (!solid[i]) return 0;
    return -1;
}

// ---- kernel selection ---------------------------------------------------------------------------

namespace {

bool detectVectorLevel() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    return (edx & bit_SSE2) != 0;
#else
    return false;
#endif
}

bool processorHasVectors() {
    static const bool level = detectVectorLevel();
    return level;
}

std::atomic<bool> g_vectorEnabled{true};

} // namespace

bool vectorKernelsAvailable() {
    return processorHasVectors() && g_vectorEnabled.load(std::memory_order_relaxed);
}

void setVectorKernelsEnabled(bool enabled) {
    g_vectorEnabled.store(enabled, std::memory_order_relaxed);
}

bool useVectorPath(int width) {
    return width >= 2 && width % 16 == 0 && vectorKernelsAvailable();
}

// ---- driver -------------------------------------------------------------------------------------

namespace {

[[noreturn]] void typeMismatch(int index, int32_t channelType, int32_t expected) {
    QMessageLogger(__FILE__, __LINE__, Q_FUNC_INFO, lcDataStorage().categoryName())
        .fatal("Different type of argument%d ( DataChannel: %d, Function: %d )\n", index, int(channelType),
               int(expected));
    std::abort(); // not reached: fatal messages end the process
}

} // namespace

void applyChannels(const BaseDataProcessing& function, DataChannel& destination,
                   const DataChannel* const* arguments, int count, const RectI* rect) {
    const int arity = function.arity();
    if (count != arity - 1 || count < 1 || count > 5) return;
    if (destination.type() != function.argumentType(0))
        typeMismatch(0, destination.type(), function.argumentType(0));
    for (int i = 0; i < count; ++i) {
        if (!arguments[i]) return;
        if (arguments[i]->type() != function.argumentType(i + 1))
            typeMismatch(i + 1, arguments[i]->type(), function.argumentType(i + 1));
    }
    for (int i = 0; i < count; ++i)
        if (arguments[i]->size() != destination.size()) return;
    const RectI area = rect ? rect->intersected(destination.bounds()) : destination.bounds();
    if (area.isEmpty()) return;

    const int passThrough = function.passThroughArgument();
    const DataChannel* passSource =
        passThrough >= 1 && passThrough <= count && arguments[passThrough - 1] != &destination
            ? arguments[passThrough - 1]
            : nullptr;
    if (function.isNoOp()) {
        if (passSource) copyChannel(destination, *passSource, area);
        return;
    }

    const TileSpan span = tileSpan(destination.size(), area);
    const uint32_t destSize = destination.elementSize();
    MT::parallelFor(0, span.count(), [&](uint32_t first, uint32_t last) {
        std::optional<TileReadOnly> readers[5];
        for (int i = 0; i < count; ++i) readers[i].emplace(*arguments[i]);
        TileReadOnly destReader(destination);
        TileReadWrite writer(destination);
        for (uint32_t k = first; k < last; ++k) {
            const uint32_t tileNum = span.tileNum(k);
            const RectI part = tileArea(destination.size(), tileNum, area);
            if (part.isEmpty()) continue;

            const void* solid[6] = {};
            if (destReader.switchTo(tileNum) && destReader.isSolid()) solid[0] = destReader.solidValue();
            bool readable = true;
            for (int i = 0; i < count; ++i) {
                readable = readers[i]->switchTo(tileNum) && readable;
                if (readers[i]->isSolid()) solid[i + 1] = readers[i]->solidValue();
            }
            if (!readable) continue;

            const int decision = function.check(solid);
            if (decision == 1) {
                if (passSource) copyChannel(destination, *passSource, part);
                continue;
            }
            if (decision == -1) {
                alignas(8) unsigned char value[8] = {};
                if (solid[0]) std::memcpy(value, solid[0], destSize);
                CombinerBlock one;
                one.destination = value;
                for (int i = 0; i < count; ++i) one.arguments[i] = solid[i + 1];
                one.width = one.height = 1;
                one.x = part.left;
                one.y = part.top;
                function.process(one);
                destReader.release();
                destination.fill(part, value);
                continue;
            }

            destReader.release();
            const bool wholeTile = part == destination.tileRect(tileNum);
            if (!writer.switchTo(tileNum, wholeTile && function.overwritesDestination()
                                              ? TileReadWrite::Overwrite
                                              : TileReadWrite::Preserve))
                continue;
            const size_t offset =
                size_t(part.top & (TileSize - 1)) * TileSize + size_t(part.left & (TileSize - 1));
            CombinerBlock block;
            block.destination = writer.data() + offset * destSize;
            for (int i = 0; i < count; ++i)
                block.arguments[i] = readers[i]->data() + offset * arguments[i]->elementSize();
            block.width = part.width();
            block.height = part.height();
            block.x = part.left;
            block.y = part.top;
            function.process(block);
            writer.release();
        }
    });
}

} // namespace Orvex::DataStorage
