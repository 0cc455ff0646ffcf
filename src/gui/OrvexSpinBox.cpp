#include "gui/OrvexSpinBox.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>
#include <limits>

namespace Orvex::GUI {

namespace {
constexpr int kTickMs = 32;
constexpr int kTicksPerReport = 8;
} // namespace

OrvexSpinBoxBase::OrvexSpinBoxBase(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

OrvexSpinBoxBase::~OrvexSpinBoxBase() {
    stopTimer();
}

void OrvexSpinBoxBase::adopt(QAbstractSpinBox* box) {
    m_abstractBox = box;
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(box);
    box->setKeyboardTracking(true);
    box->setFocusPolicy(Qt::StrongFocus);
    box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    box->setAccelerated(true);
    box->installEventFilter(this);
    m_edit = box->findChild<QLineEdit*>();
    if (m_edit) m_edit->installEventFilter(this);
    setFocusProxy(box);
}

bool OrvexSpinBoxBase::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_abstractBox) {
        if (event->type() == QEvent::FocusIn) {
            m_hasFocus = true;
            // A click places the text cursor; select everything after it has, so that typing
            // replaces the value. The press and the release of a real click may be handled in
            // different passes of the event loop, and the release may clear a selection made in
            // between, so the selection is made again once the click is complete.
            if (static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason) {
                m_selectOnRelease = true;
                QTimer::singleShot(0, m_abstractBox, &QAbstractSpinBox::selectAll);
            }
        } else if (event->type() == QEvent::FocusOut) {
            m_hasFocus = false;
            m_selectOnRelease = false;
        }
    } else if (watched == m_edit) {
        if (event->type() == QEvent::MouseButtonPress) {
            m_pressPos = static_cast<QMouseEvent*>(event)->pos();
        } else if (event->type() == QEvent::MouseButtonRelease && m_selectOnRelease) {
            m_selectOnRelease = false;
            // A drag over the text selects what the user chose; a plain click selects everything.
            const QPoint moved = static_cast<QMouseEvent*>(event)->pos() - m_pressPos;
            if (moved.manhattanLength() < QApplication::startDragDistance())
                QTimer::singleShot(0, m_abstractBox, &QAbstractSpinBox::selectAll);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void OrvexSpinBoxBase::stopTimer() {
    if (m_timerId != 0) killTimer(m_timerId);
    m_timerId = 0;
    m_ticks = 0;
}

void OrvexSpinBoxBase::restartTicks() {
    m_ticks = 0;
    if (m_timerId == 0) m_timerId = startTimer(kTickMs, Qt::CoarseTimer);
}

template <class Box, class T> tOrvexSpinBox<Box, T>::tOrvexSpinBox(QWidget* parent) : Signals(parent) {
    m_box = new Detail::tSteppingBox<Box>(this, &this->m_stepping);
    this->adopt(m_box);
    m_lastReported = m_lastFinalized = value();
    QObject::connect(m_box, qOverload<T>(&Box::valueChanged), this, [this](T v) { onInnerChanged(v); });
    QObject::connect(m_box, &QAbstractSpinBox::editingFinished, this, [this] { onInnerFinished(); });
}

template <class Box, class T> tOrvexSpinBox<Box, T>::~tOrvexSpinBox() {
    this->stopTimer();
}

template <class Box, class T> void tOrvexSpinBox<Box, T>::setValue(T value) {
    if constexpr (std::is_floating_point_v<T>) {
        if (std::isnan(value)) return;
    }
    {
        // The wrapper's own blocked state applies to the inner box; a programmatic set never
        // reports, so block it in any case and remember the value the box settled on.
        const QSignalBlocker blocker(m_box);
        m_box->setValue(value);
    }
    m_lastReported = m_lastFinalized = this->value();
}

template <class Box, class T> void tOrvexSpinBox<Box, T>::setRange(T minimum, T maximum) {
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(minimum) || !std::isfinite(maximum)) return;
    }
    if (minimum > maximum) std::swap(minimum, maximum);
    m_box->setRange(minimum, maximum);
}

template <class Box, class T> int tOrvexSpinBox<Box, T>::decimals() const {
    if constexpr (std::is_same_v<Box, QDoubleSpinBox>)
        return m_box->decimals();
    else
        return 0;
}

template <class Box, class T> void tOrvexSpinBox<Box, T>::setDecimals(int decimals) {
    if constexpr (std::is_same_v<Box, QDoubleSpinBox>) m_box->setDecimals(decimals);
}

template <class Box, class T> void tOrvexSpinBox<Box, T>::report(T value) {
    m_lastReported = value;
    emit this->valueChanged(value);
}

template <class Box, class T> void tOrvexSpinBox<Box, T>::onInnerChanged(T value) {
    if (this->signalsBlocked() || value == m_lastReported) return;
    if (this->m_stepping) {
        // A step is a complete change of its own: report and finalise at once.
        this->stopTimer();
        report(value);
        if (value != m_lastFinalized) {
            m_lastFinalized = value;
            emit this->finalizedValue(value);
        }
    } else if (this->m_throttle && this->m_hasFocus) {
        this->restartTicks();
    } else {
        this->stopTimer();
        report(value);
    }
}

template <class Box, class T> void tOrvexSpinBox<Box, T>::onInnerFinished() {
    this->stopTimer();
    const T v = value();
    if (v != m_lastReported) report(v);
    if (v != m_lastFinalized) {
        m_lastFinalized = v;
        emit this->finalizedValue(v);
    }
}

template <class Box, class T> void tOrvexSpinBox<Box, T>::timerEvent(QTimerEvent* event) {
    if (event->timerId() != this->m_timerId) {
        Signals::timerEvent(event);
        return;
    }
    if (++this->m_ticks < kTicksPerReport) return;
    this->m_ticks = 0;
    if (s_emitDepth > 0) return; // try again eight ticks later
    this->stopTimer();
    const T v = value();
    if (v == m_lastReported || this->signalsBlocked()) return;
    ++s_emitDepth;
    report(v);
    --s_emitDepth;
}

template class tOrvexSpinBox<QSpinBox, int>;
template class tOrvexSpinBox<QDoubleSpinBox, double>;

} // namespace Orvex::GUI
