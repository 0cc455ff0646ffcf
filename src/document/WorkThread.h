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

    WorkJobContext* m_owner;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_idle{false};
    std::atomic<bool> m_posted{false};
    std::atomic<bool> m_enabled{false};
    std::atomic<bool> m_busy{false};
    std::mutex m_mutex;
    std::condition_variable m_wakeUp;
};

} // namespace Orvex::Document
