#pragma once

#include "document/ProgressData.h"

#include <QEventLoop>
#include <QThread>

#include <atomic>
#include <mutex>

class QObject;

namespace Orvex::Document {

class WorkThread;
namespace Detail {
class WorkSignalRelay;
}

/// The owner of one work thread (an effect, the thumbnail builder). Subclasses accept work in
/// `post` (under the thread's mutex), tell the thread whether there is work in `hasWork` (under the
/// mutex) and run one job in `execute` (without it). A subclass must call `stopThread()` in its own
/// destructor: the thread calls the subclass's operations until it has stopped.
class WorkJobContext {
public:
    WorkJobContext();
    WorkJobContext(const WorkJobContext&) = delete;
    WorkJobContext& operator=(const WorkJobContext&) = delete;
    /// Stops the thread (processing events meanwhile) and destroys it.
    virtual ~WorkJobContext();

    /// Builds the thread on first use, connects "SignalToGUI( int, const void* )" to `receiver`'s
    /// `slot` (a SLOT(...) signature) with a blocking queued connection, applies `enabled` and starts
    /// the thread with `priority` when it is not running.
    void start(QObject* receiver, const char* slot, bool enabled,
               QThread::Priority priority = QThread::InheritPriority);
    /// No change when equal. Disabling wakes the thread and waits (processing events) until it is
    /// idle; enabling marks work as posted and wakes it.
    virtual void setEnabled(bool enabled);
    /// Under the thread's mutex and not re-entrantly: `post(argument)`, then wake the thread.
    void callLocked(const void* argument);
    /// Emits "SignalToGUI( int, const void* )" from the work thread; returns once the receiver has
    /// handled it.
    void emitToGUI(int code, const void* data);
    /// From another thread: sleeps 10 ms at a time, processing pending events with `flags`, until
    /// the thread is idle with nothing posted (from inside `callLocked`: until it is not busy).
    void waitIdle(QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents);
    /// Stops and joins the thread, processing events without user input meanwhile.
    void stopThread();

    bool isBusy() const;
    bool isEnabled() const;
    bool isRunning() const;
    std::mutex& mutex();
    WorkThread* thread() const { return m_thread; }

    ProgressData& progress() { return m_progress; }
    const ProgressData& progress() const { return m_progress; }

protected:
    virtual void post(const void* argument) = 0;
    virtual bool hasWork() = 0;
    virtual void execute() = 0;

private:
    friend class WorkThread;
    WorkThread* m_thread = nullptr;
    Detail::WorkSignalRelay* m_relay = nullptr;
    std::atomic<bool> m_inCallLocked{false};
    std::mutex m_fallbackMutex; // the mutex before the thread exists
    ProgressData m_progress;
};

} // namespace Orvex::Document
