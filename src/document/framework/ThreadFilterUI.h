#pragma once
#include "document/WorkJobContext.h"
#include "document/framework/FilterDocument.h"
#include "document/framework/WorkSpaceFilter.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <atomic>

namespace Orvex::Document::Filters {

// The base that owns the work job of a filter: the settings panel pointers, the 200 ms deferred
// update timer, the progress record and the running state of the job.
class ThreadFilterUI : public WorkSpaceFilter, public WorkJobContext {
    Q_OBJECT
public:
    explicit ThreadFilterUI(uint32_t layerKind, QObject* parent = nullptr);
    ~ThreadFilterUI() override;

    uint32_t layerKind() const { return m_layerKind; }

    // Starts a single 200 ms coarse timer unless one is pending.
    virtual void ScheduleUpdate();
    bool isUpdatePending() const { return m_timerId != -1; }
    static constexpr int DeferredUpdateMs = 200;

    // Starts (true) or stops (false) the work job. Stopping raises the cancel flag, kills a pending
    // deferred update and waits, processing events, until the job is idle.
    virtual void SetEvalRunning(bool run);
    bool isEvalRunning() const { return m_evalRunning; }
    const std::atomic<bool>& cancelFlag() const { return m_cancel; }

    // The widget that shows the progress of a run (a progress bar with a "Canceled()" signal); the
    // filter connects its Canceled() to CancelEval(). Null detaches it.
    virtual void AttachView(QWidget* progressWidget);
    virtual void DetachView();
    QWidget* progressWidget() const { return m_progressWidget; }

    QWidget* paramsWidget() const { return m_panel; }

public slots:
    virtual void Retranslate() {}
    void CancelEval() { SetEvalRunning(false); }
    virtual void SignalFromWorkThread(int tag, const void* userData) = 0;

protected:
    void timerEvent(QTimerEvent* event) override;
    virtual void OnDefferedUpdate() = 0;
    // Called from the job's end handler: the job no longer runs.
    void markEvalStopped() { m_evalRunning = false; }
    void killDeferredTimer();

    QPointer<QWidget> m_panel;
    QPointer<QWidget> m_toolWidget;
    QList<QPointer<QWidget>> m_extraWidgets;
    QPointer<QWidget> m_progressWidget;

private:
    uint32_t m_layerKind;
    int m_timerId = -1;
    bool m_evalRunning = false;
    std::atomic<bool> m_cancel{false};
};

} // namespace Orvex::Document::Filters
