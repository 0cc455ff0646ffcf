#include "ui/EvalProgressBar.h"

#include "document/ProgressData.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QTimerEvent>

#include <algorithm>

namespace Orvex::UI {

namespace {
constexpr int kPollMs = 50;
}

EvalProgressBar::EvalProgressBar(Document::ProgressData* progress, int mode, QWidget* parent)
    : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 4, 6, 4);
    row->setSpacing(6);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setTextVisible(true);
    m_bar->setMinimumWidth(120);
    m_buttonCancel = new QPushButton(this);
    m_buttonCancel->setObjectName(QStringLiteral("buttonCancel"));
    m_buttonCommit = new QPushButton(this);
    m_buttonCommit->setObjectName(QStringLiteral("buttonCommit"));
    for (QPushButton* button : {m_buttonCancel, m_buttonCommit}) {
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::TabFocus);
    }
    row->addWidget(m_bar, 1);
    row->addWidget(m_buttonCancel);
    row->addWidget(m_buttonCommit);
    m_minimum = m_bar->minimum();
    m_maximum = m_bar->maximum();
    connect(m_buttonCancel, &QPushButton::clicked, this, &EvalProgressBar::Canceled);
    connect(m_buttonCommit, &QPushButton::clicked, this, &EvalProgressBar::Commited);
    retranslate();
    setMode(mode);
    setProgress(progress);
}

EvalProgressBar::~EvalProgressBar() {
    stopTimer();
}

void EvalProgressBar::setProgress(Document::ProgressData* progress) {
    m_progress = progress;
    if (m_progress) m_progress->setDisplayRange(m_minimum, m_maximum - m_minimum);
    refresh();
}

void EvalProgressBar::setMode(int mode) {
    m_mode = mode == CommitMode ? CommitMode : CancelMode;
    m_buttonCancel->setVisible(m_mode == CancelMode);
    m_buttonCommit->setVisible(m_mode == CommitMode);
}

void EvalProgressBar::retranslate() {
    m_buttonCancel->setText(tr("Cancel"));
    m_buttonCommit->setText(tr("Stop"));
    m_buttonCommit->setToolTip(tr("Stop and keep what is done"));
}

void EvalProgressBar::refresh() {
    const bool busy = m_progress && m_progress->indeterminate();
    if (busy != m_indeterminate) {
        m_indeterminate = busy;
        // A range of 0 … 0 is the bar's busy indicator.
        if (busy)
            m_bar->setRange(0, 0);
        else
            m_bar->setRange(m_minimum, m_maximum);
    }
    if (busy) return;
    const int value = m_progress ? m_progress->displayValue() : m_minimum;
    m_bar->setValue(std::clamp(value, m_minimum, m_maximum));
}

void EvalProgressBar::stopTimer() {
    if (m_timerId != -1) killTimer(m_timerId);
    m_timerId = -1;
}

void EvalProgressBar::showEvent(QShowEvent* event) {
    refresh();
    if (m_timerId == -1) m_timerId = startTimer(kPollMs);
    QWidget::showEvent(event);
}

void EvalProgressBar::hideEvent(QHideEvent* event) {
    stopTimer();
    QWidget::hideEvent(event);
}

void EvalProgressBar::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_timerId)
        refresh();
    else
        QWidget::timerEvent(event);
}

void EvalProgressBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) retranslate();
    QWidget::changeEvent(event);
}

} // namespace Orvex::UI
