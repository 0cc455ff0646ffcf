#include "document/framework/ThreadFilterUI.h"

#include <QThread>
#include <QTimerEvent>

namespace Orvex::Document::Filters {

ThreadFilterUI::ThreadFilterUI(uint32_t layerKind, QObject* parent)
    : WorkSpaceFilter(parent), m_layerKind(layerKind) {}

ThreadFilterUI::~ThreadFilterUI() {
    killDeferredTimer();
    stopThread();
    // Tool option panels without a parent are ours; the panel itself belongs to whoever
    // embedded it, and is deleted with us only while it has no parent.
    for (auto& w : m_extraWidgets)
        if (w && !w->parent()) {
            w->hide();
            w->deleteLater();
        }
    for (QPointer<QWidget>* w : {&m_toolWidget, &m_panel})
        if (*w && !(*w)->parent()) {
            (*w)->hide();
            (*w)->deleteLater();
        }
}

void ThreadFilterUI::ScheduleUpdate() {
    if (m_timerId != -1) return;
    m_timerId = startTimer(DeferredUpdateMs, Qt::CoarseTimer);
}

void ThreadFilterUI::killDeferredTimer() {
    if (m_timerId == -1 || QThread::currentThread() != QObject::thread()) return;
    killTimer(m_timerId);
    m_timerId = -1;
}

void ThreadFilterUI::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timerId) {
        WorkSpaceFilter::timerEvent(event);
        return;
    }
    killTimer(m_timerId);
    m_timerId = -1;
    OnDefferedUpdate();
}

void ThreadFilterUI::SetEvalRunning(bool run) {
    if (m_evalRunning == run) return;
    if (!run) killDeferredTimer();
    m_cancel.store(!run, std::memory_order_release);
    progress().requestCancel(!run);
    m_evalRunning = run;
    if (run)
        start(this, SLOT(SignalFromWorkThread(int, const void*)), true);
    else
        setEnabled(false); // waits for the job to notice, processing events (its end report included)
}

void ThreadFilterUI::AttachView(QWidget* progressWidget) {
    DetachView();
    m_progressWidget = progressWidget;
    if (progressWidget)
        connect(progressWidget, SIGNAL(Canceled()), this, SLOT(CancelEval()), Qt::UniqueConnection);
}

void ThreadFilterUI::DetachView() {
    if (m_progressWidget) disconnect(m_progressWidget, nullptr, this, nullptr);
    m_progressWidget = nullptr;
}

} // namespace Orvex::Document::Filters
