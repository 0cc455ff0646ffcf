#include "document/WorkThread.h"

#include "document/WorkJobContext.h"

#include <QCoreApplication>
#include <QMetaType>

#include <chrono>

namespace Orvex::Document {

namespace {

// Sleeps 10 ms and lets the calling thread handle its pending events (blocking deliveries from the
// work thread among them).
void pauseWithEvents(QEventLoop::ProcessEventsFlags flags) {
    QThread::msleep(10);
    if (QCoreApplication::instance()) QCoreApplication::processEvents(flags);
}

} // namespace

WorkThread::WorkThread(WorkJobContext* owner) : m_owner(owner) {
    static const int registered = qRegisterMetaType<const void*>("const void*");
    (void)registered;
    setObjectName(QStringLiteral("WorkThread"));
}

WorkThread::~WorkThread() = default;

void WorkThread::wake() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wakeUp.notify_all();
}

void WorkThread::run() {
    m_finished.store(false, std::memory_order_release);
    runLoop();
    m_busy.store(false, std::memory_order_release);
    m_finished.store(true, std::memory_order_release);
}

void WorkThread::runLoop() {
    if (isStopRequested()) return;
    for (;;) {
        m_busy.store(false, std::memory_order_release);
        std::unique_lock<std::mutex> lock(m_mutex);
        if (isEnabled() && m_owner->hasWork()) {
            m_busy.store(true, std::memory_order_release);
            m_posted.store(false, std::memory_order_release);
            lock.unlock();
            if (!isEnabled()) {
                if (isStopRequested()) break;
                continue;
            }
            ProgressData& progress = m_owner->progress();
            if (!progress.plainRatio()) progress.reset();
            m_owner->execute();
            if (isStopRequested()) break;
            continue;
        }
        if (isStopRequested()) break;
        m_idle.store(true, std::memory_order_release);
        m_posted.store(false, std::memory_order_release);
        // Woken by a post, an enable, a disable or a stop: each changes a flag under this mutex
        // before notifying, so a wake-up cannot be lost between the checks above and this wait.
        m_wakeUp.wait(lock);
        m_idle.store(false, std::memory_order_release);
        lock.unlock();
        if (isStopRequested()) break;
    }
}

// ---- context --------------------------------------------------------------------------------------

WorkJobContext::WorkJobContext() = default;

WorkJobContext::~WorkJobContext() {
    stopThread();
    delete m_thread;
    delete m_relay;
}

void WorkJobContext::start(QObject* receiver, const char* slot, bool enabled, QThread::Priority priority) {
    if (!m_thread) {
        m_thread = new WorkThread(this);
        m_thread->moveToThread(m_thread);
    }
    if (receiver && slot) {
        // thread --(blocking queued)--> relay in the receiver's thread --(direct)--> receiver's slot
        if (!m_relay) {
            m_relay = new Detail::WorkSignalRelay;
            QObject::connect(m_thread, &WorkThread::SignalToGUI, m_relay, &Detail::WorkSignalRelay::deliver,
                             Qt::BlockingQueuedConnection);
        }
        m_relay->moveToThread(receiver->thread());
        QObject::disconnect(m_relay, SIGNAL(forward(int, const void*)), nullptr, nullptr);
        QObject::connect(m_relay, SIGNAL(forward(int, const void*)), receiver, slot, Qt::DirectConnection);
    }
    {
        std::lock_guard<std::mutex> lock(m_thread->m_mutex);
        m_thread->m_enabled.store(enabled, std::memory_order_release);
        if (enabled) m_thread->m_posted.store(true, std::memory_order_release);
        m_thread->m_wakeUp.notify_all();
    }
    if (!m_thread->isRunning()) {
        m_thread->wait(); // a thread that finished after a stop is joined before restarting
        m_thread->m_finished.load(std::memory_order_acquire);
        m_thread->m_stopRequested.store(false, std::memory_order_release);
        m_thread->start(priority);
    }
}

void WorkJobContext::setEnabled(bool enabled) {
    if (!m_thread || isEnabled() == enabled) return;
    {
        std::lock_guard<std::mutex> lock(m_thread->m_mutex);
        m_thread->m_enabled.store(enabled, std::memory_order_release);
        if (enabled) m_thread->m_posted.store(true, std::memory_order_release);
        m_thread->m_wakeUp.notify_all();
    }
    if (!enabled) waitIdle(QEventLoop::AllEvents);
}

void WorkJobContext::callLocked(const void* argument) {
    if (m_inCallLocked.exchange(true, std::memory_order_acq_rel)) return; // not re-entrant
    {
        std::lock_guard<std::mutex> lock(mutex());
        post(argument);
        if (m_thread) {
            m_thread->m_posted.store(true, std::memory_order_release);
            m_thread->m_wakeUp.notify_all();
        }
    }
    m_inCallLocked.store(false, std::memory_order_release);
}

void WorkJobContext::emitToGUI(int code, const void* data) {
    if (!m_thread) return;
    if (m_relay) m_relay->handOver.fetch_add(1, std::memory_order_release);
    emit m_thread->SignalToGUI(code, data);
    if (m_relay) m_relay->handOver.load(std::memory_order_acquire);
}

void WorkJobContext::waitIdle(QEventLoop::ProcessEventsFlags flags) {
    if (!m_thread || QThread::currentThread() == m_thread) return;
    const bool nested = m_inCallLocked.load(std::memory_order_acquire);
    while (m_thread->isRunning()) {
        if (nested ? !m_thread->isBusy() : (m_thread->isIdle() && !m_thread->isPosted())) break;
        pauseWithEvents(flags);
    }
}

void WorkJobContext::stopThread() {
    if (!m_thread) return;
    {
        std::lock_guard<std::mutex> lock(m_thread->m_mutex);
        m_thread->m_stopRequested.store(true, std::memory_order_release);
        m_thread->m_enabled.store(false, std::memory_order_release);
        m_thread->m_wakeUp.notify_all();
    }
    if (QThread::currentThread() == m_thread) return;
    while (!m_thread->wait(0)) pauseWithEvents(QEventLoop::ExcludeUserInputEvents);
    m_thread->m_finished.load(std::memory_order_acquire);
}

bool WorkJobContext::isBusy() const {
    return m_thread && m_thread->isBusy();
}
bool WorkJobContext::isEnabled() const {
    return m_thread && m_thread->isEnabled();
}
bool WorkJobContext::isRunning() const {
    return m_thread && m_thread->isRunning();
}
std::mutex& WorkJobContext::mutex() {
    return m_thread ? m_thread->m_mutex : m_fallbackMutex;
}

} // namespace Orvex::Document
