#pragma once
// Orvex::Document -- work space: the work thread of a job owner and the progress of its job.
//
// Principles
// - Ownership: a `WorkJobContext` owns its `WorkThread` (built on the first `start`, destroyed with
//   the context) and embeds the `ProgressData` of its jobs.
// - Threads: the owner (normally the interface thread) starts, enables, posts and waits; the work
//   thread calls `hasWork()` under the context's mutex and `execute()` without it; progress steps
//   may come from any thread, pool workers included. The interface never blocks on the work
//   thread without processing events, because the work thread's "SignalToGUI( int, const void* )"
//   is delivered with a blocking queued connection.
// - Errors: the work thread catches nothing; `execute()` handles its own failures and returns.
// - Locks are std::mutex / std::condition_variable / std::atomic so that the thread sanitizer sees
//   them (the system's Qt is not instrumented).

#include <atomic>
#include <mutex>
#include <vector>

namespace Orvex::Document {

/// Counts steps of a job: `total` announced, `done` counted atomically.
class BaseProgressData {
public:
    BaseProgressData() = default;
    BaseProgressData(const BaseProgressData&) = delete;
    BaseProgressData& operator=(const BaseProgressData&) = delete;
    virtual ~BaseProgressData() = default;

    virtual void step() { m_done.fetch_add(1, std::memory_order_relaxed); }
    virtual void step(int count) { m_done.fetch_add(count, std::memory_order_relaxed); }

    int total() const { return m_total.load(std::memory_order_relaxed); }
    int done() const { return m_done.load(std::memory_order_relaxed); }
    void setTotal(int total) { m_total.store(total, std::memory_order_relaxed); }

protected:
    std::atomic<int> m_total{0};
    std::atomic<int> m_done{0};
};

/// Progress of a job as a value in 0 ... 1 that the progress bar polls.
///
/// The value maps the ratio r = done / total (0 when total < 1) through the current stage into the
/// current range: value = rangeStart + rangeSpan * min(1, stageStart + stageSpan * r); with
/// `plainRatio` it is simply r. Effects divide their work into phases (`beginPhase`): the part of
/// the bar filled so far is folded into the range start and the new phase gets its share of what is
/// left. A nested piece of work (a helper that reports its own phases) runs between `pushStage` and
/// `popStage`: its phases then divide the remainder of the enclosing phase instead of the whole bar.
class ProgressData : public BaseProgressData {
public:
    void step() override { step(1); }
    void step(int count) override;

    double value() const { return m_value.load(std::memory_order_acquire); }

    /// Starts a phase of `steps` steps that may fill `share` of the current window (the whole bar,
    /// or the enclosing stage's remainder); the share is cut so that the bar never passes the
    /// window's end.
    void beginPhase(double share, int steps);
    /// Sets the stage mapping directly (fractions of the current range) and the step count.
    void setStage(double stageStart, double stageSpan, int steps);
    /// Sets the range mapping directly (fractions of the bar).
    void setRange(double rangeStart, double rangeSpan);
    /// Saves the mapping and opens a window from the current value to the end of the current
    /// phase, in which `beginPhase` shares are fractions of that window.
    void pushStage();
    /// Restores the mapping saved by the matching `pushStage` (counts included).
    void popStage();
    int stageDepth() const;

    /// Clears counts, flags, value and mapping (the work thread calls it before each job unless
    /// `plainRatio` is set).
    void reset();

    /// The cancel request: raised when the owner disables the job; jobs check it between steps.
    bool isCancelRequested() const { return m_cancelRequested.load(std::memory_order_acquire); }
    void requestCancel(bool request = true) { m_cancelRequested.store(request, std::memory_order_release); }
    /// The stop request ("stop and keep what is done"): the job ends early and its result counts.
    bool isStopRequested() const { return m_stopRequested.load(std::memory_order_acquire); }
    void requestStop(bool request = true) { m_stopRequested.store(request, std::memory_order_release); }

    bool plainRatio() const { return m_plainRatio.load(std::memory_order_relaxed); }
    void setPlainRatio(bool plain) { m_plainRatio.store(plain, std::memory_order_relaxed); }
    bool indeterminate() const { return m_indeterminate.load(std::memory_order_relaxed); }
    void setIndeterminate(bool busy) { m_indeterminate.store(busy, std::memory_order_relaxed); }

    /// The bar's own range, written by the progress bar: it shows round(displaySpan * value) + displayMin.
    int displayMin() const { return m_displayMin.load(std::memory_order_relaxed); }
    int displaySpan() const { return m_displaySpan.load(std::memory_order_relaxed); }
    void setDisplayRange(int minimum, int span) {
        m_displayMin.store(minimum, std::memory_order_relaxed);
        m_displaySpan.store(span, std::memory_order_relaxed);
    }
    /// The value in the bar's units, rounded half away from zero.
    int displayValue() const;

    /// Guards the stage mapping (recursive: phases may be set from code that already holds it).
    std::recursive_mutex& mutex() const { return m_mutex; }

private:
    struct Mapping {
        double rangeStart = 0, stageStart = 0, stageSpan = 1, rangeSpan = 1;
        double windowStart = 0, windowEnd = 1; // where phases of this level may go
        int total = 0, done = 0;
    };
    double computeValue() const; // mutex held
    void storeValue(double value);

    mutable std::recursive_mutex m_mutex;
    Mapping m_map;
    std::vector<Mapping> m_stack;
    std::atomic<double> m_value{0};
    std::atomic<bool> m_cancelRequested{false};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_plainRatio{false};
    std::atomic<bool> m_indeterminate{false};
    std::atomic<int> m_displayMin{0};
    std::atomic<int> m_displaySpan{100};
};

} // namespace Orvex::Document
