#pragma once
// The renderer side of an effect: the algorithm (the effect's Process) with its caches, run on the
// work thread from the last-run record, the source plane, the mask channels and a run context, and
// writing the result plane. Renderers hold no widgets and never touch the panel's records.
//
// - The source and result planes are RGBA (channels 2, 3, 4 and 13) of one sample type (8-bit,
//   16-bit or float) and one size; grey, CMYK and Lab images are converted by the caller.
// - A renderer object is used by one work thread at a time; it may spread tiles over the jobs pool
//   (never more workers than RunContext::maxWorkers) and gives identical bytes whatever the count.
// - Cancellation is a flag read between steps; process() then returns Cancelled, having marked the
//   last-run record as its effect documents so that the next run recomputes.
// - Failures throw standard exceptions with fixed texts (std::bad_alloc for memory shortage).

#include "document/filters/EffectParams.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace Orvex::DataStorage {
class DataChannel;
class PixelPlane;
} // namespace Orvex::DataStorage

namespace Orvex::Document::Filters {

enum class RunMode { Live = 0, Normal = 2 };
enum class RunOutcome { Done, Cancelled };

// Progress in phases: before each phase the renderer sets the share of the bar that the phase may
// fill and its step count; steps are counted from any thread.
class RunProgress {
public:
    virtual ~RunProgress() = default;
    virtual void beginPhase(double share, int64_t steps) = 0;
    virtual void advance(int64_t steps = 1) = 0;
};

// The usual bookkeeping: the finished part of the previous phase is folded into the total, the new
// share is cut so that the total never passes 1. fraction() may be read from any thread.
class PhaseProgress : public RunProgress {
public:
    void beginPhase(double share, int64_t steps) override;
    void advance(int64_t steps = 1) override;
    double fraction() const;

private:
    mutable std::mutex m_mutex;
    double m_total = 0;
    double m_share = 0;
    int64_t m_steps = 0;
    std::atomic<int64_t> m_done{0};
};

struct RunContext {
    const std::atomic<bool>* cancelFlag = nullptr;
    RunProgress* progress = nullptr;
    RunMode mode = RunMode::Normal;
    int maxWorkers = 0; // 0: every worker of the jobs pool

    bool cancelled() const { return cancelFlag && cancelFlag->load(std::memory_order_relaxed); }
    void beginPhase(double share, int64_t steps) const {
        if (progress) progress->beginPhase(share, steps);
    }
    void advance(int64_t steps = 1) const {
        if (progress) progress->advance(steps);
    }
};

// The masks the tools provide, at image size (8-bit). A missing channel is an empty mask.
struct MaskChannels {
    const DataStorage::DataChannel* mask = nullptr;    // the selection painted with the selection brush
    const DataStorage::DataChannel* duoMask = nullptr; // selection plus the blue protective strokes
    const DataStorage::DataChannel* strokes = nullptr; // direction strokes
};

class EffectRenderer {
public:
    virtual ~EffectRenderer() = default;
    // `lastRun` must be the record type of the effect the renderer was made for.
    virtual RunOutcome processAny(AnyParams& lastRun, const DataStorage::PixelPlane& source,
                                  const MaskChannels& masks, DataStorage::PixelPlane& result,
                                  const RunContext& context) = 0;
};

// Base of the typed renderers: Impl provides
//   RunOutcome process(R& lastRun, const PixelPlane&, const MaskChannels&, PixelPlane&, const RunContext&)
template <class R, class Impl> class TypedRenderer : public EffectRenderer {
public:
    using Params = R;
    RunOutcome processAny(AnyParams& lastRun, const DataStorage::PixelPlane& source,
                          const MaskChannels& masks, DataStorage::PixelPlane& result,
                          const RunContext& context) override {
        auto& typed = dynamic_cast<TypedParams<R>&>(lastRun);
        return static_cast<Impl*>(this)->process(typed.record, source, masks, result, context);
    }
};

} // namespace Orvex::Document::Filters
