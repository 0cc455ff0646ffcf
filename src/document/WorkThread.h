#pragma once

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace Orvex::Document {

class WorkJobContext;

/// The dedicated thread of one `WorkJobContext`: sleeps until its owner has work, runs it, and
/// goes back to sleep. Built and driven only by its owner.
class WorkThread : public QThread {
    Q_OBJECT
public:
    explicit WorkThread(WorkJobContext* owner);
    ~WorkThread() override;

    bool isStopRequested() const { return m_stopRequested.load(std::memory_order_acquire); }
    bool isIdle() const { return m_idle.load(std::memory_order_acquire); }
    bool isPosted() const { return m_posted.load(std::memory_order_acquire); }
    bool isEnabled() const { return m_enabled.load(std::memory_order_acquire); }
    bool isBusy() const { return m_busy.load(std::memory_order_acquire); }

signals:
    /// A code and a pointer to data owned by the job; delivered to the owner's receiver with a
    /// blocking queued connection, so the data stays valid until the handler has returned.
    void SignalToGUI(int code, const void* data);

protected:
    void run() override;

private:
    friend class WorkJobContext;
    void wake();
    void runLoop();

    WorkJobContext* m_owner;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_idle{false};
    std::atomic<bool> m_posted{false};
    std::atomic<bool> m_enabled{false};
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_finished{false}; // the last thing run() writes: joins are seen through it
    std::mutex m_mutex;
    std::condition_variable m_wakeUp;
};

namespace Detail {

/// Hands "SignalToGUI( int, const void* )" on to the receiver's slot in the receiver's thread. Its
/// counter is touched with release/acquire on both sides of each blocking delivery, which makes the
/// hand-over (done by Qt's own, uninstrumented, synchronisation) visible to the thread sanitizer:
/// data the job wrote before emitting is seen by the handler, and the job sees what the handler did.
class WorkSignalRelay : public QObject {
    Q_OBJECT
public:
    std::atomic<uint64_t> handOver{0};
public slots:
    void deliver(int code, const void* data) {
        handOver.load(std::memory_order_acquire);
        emit forward(code, data);
        handOver.fetch_add(1, std::memory_order_release);
    }
signals:
    void forward(int code, const void* data);
};

} // namespace Detail

} // namespace Orvex::Document
