#pragma once
#include <QWidget>

class QProgressBar;
class QPushButton;

namespace Orvex::Document {
class ProgressData;
}

namespace Orvex::UI {

// The progress of the running job: a bar polled from a `ProgressData` every 50 ms while shown, and
// one button. Mode 1 shows `buttonCancel` ("Cancel": drop the job); mode 2 shows `buttonCommit`
// ("Stop": stop and keep what is done). While the record is `indeterminate` the bar shows a busy
// indicator instead of a value.
class EvalProgressBar : public QWidget {
    Q_OBJECT
public:
    enum Mode { CancelMode = 1, CommitMode = 2 };

    explicit EvalProgressBar(Document::ProgressData* progress = nullptr, int mode = CancelMode,
                             QWidget* parent = nullptr);
    ~EvalProgressBar() override;

    // Shows another record (or none); its display range is set to the bar's range.
    void setProgress(Document::ProgressData* progress);
    Document::ProgressData* progress() const { return m_progress; }

    int mode() const { return m_mode; }
    void setMode(int mode);

    QProgressBar* bar() const { return m_bar; }
    QPushButton* buttonCancel() const { return m_buttonCancel; }
    QPushButton* buttonCommit() const { return m_buttonCommit; }
    bool isPolling() const { return m_timerId != -1; }

    // Reads the record once (what every tick of the timer does).
    void refresh();

signals:
    void Canceled();
    void Commited();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void retranslate();
    void stopTimer();

    QProgressBar* m_bar;
    QPushButton* m_buttonCancel;
    QPushButton* m_buttonCommit;
    Document::ProgressData* m_progress = nullptr;
    int m_timerId = -1;
    int m_minimum = 0;
    int m_maximum = 100;
    bool m_indeterminate = false;
    int m_mode = CancelMode;
};

} // namespace Orvex::UI
