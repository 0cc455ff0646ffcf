#pragma once
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QWidget>

#include <cmath>
#include <type_traits>

namespace Orvex::GUI {

// Common state of the spin-box wrapper: the throttle switch, the focus flag and the tick timer.
// The value signals live in the two typed classes below so that string-based connections
// ("2valueChanged(int)", "2finalizedValue(double)") find them.
class OrvexSpinBoxBase : public QWidget {
    Q_OBJECT
public:
    // While typing, changes are reported at most every 256 ms (eight ticks of 32 ms) after the last
    // keystroke; off, every change is reported at once. On after construction.
    bool isThrottled() const { return m_throttle; }
    void setThrottled(bool on) { m_throttle = on; }

    // True while the wrapped box has keyboard focus.
    bool hasEditFocus() const { return m_hasFocus; }

    QAbstractSpinBox* abstractBox() const { return m_abstractBox; }

protected:
    explicit OrvexSpinBoxBase(QWidget* parent);
    ~OrvexSpinBoxBase() override;
    void adopt(QAbstractSpinBox* box);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void stopTimer();
    void restartTicks();

    QAbstractSpinBox* m_abstractBox = nullptr;
    QWidget* m_edit = nullptr;
    QPoint m_pressPos;
    bool m_selectOnRelease = false; // focus came with a click: select all once it is complete
    bool m_throttle = true;
    bool m_hasFocus = false;
    bool m_stepping = false; // inside stepBy: arrow keys, wheel, arrow buttons
    int m_timerId = 0;
    int m_ticks = 0;
};

class OrvexIntSpinBoxSignals : public OrvexSpinBoxBase {
    Q_OBJECT
public:
    using OrvexSpinBoxBase::OrvexSpinBoxBase;
signals:
    void valueChanged(int value);
    void finalizedValue(int value);
};

class OrvexDoubleSpinBoxSignals : public OrvexSpinBoxBase {
    Q_OBJECT
public:
    using OrvexSpinBoxBase::OrvexSpinBoxBase;
signals:
    void valueChanged(double value);
    void finalizedValue(double value);
};

namespace Detail {
template <class T> struct SpinBoxSignalsFor;
template <> struct SpinBoxSignalsFor<int> { using type = OrvexIntSpinBoxSignals; };
template <> struct SpinBoxSignalsFor<double> { using type = OrvexDoubleSpinBoxSignals; };

// The standard spin box, with its steps (arrow keys, wheel, arrow buttons) made visible to the
// wrapper so that they are reported at once instead of being throttled like typing.
template <class Box> class tSteppingBox : public Box {
public:
    tSteppingBox(QWidget* parent, bool* stepping) : Box(parent), m_stepping(stepping) {}
    void stepBy(int steps) override {
        const bool outer = *m_stepping;
        *m_stepping = true;
        Box::stepBy(steps);
        *m_stepping = outer;
    }
    QLineEdit* edit() const { return Box::lineEdit(); }

private:
    bool* m_stepping;
};
} // namespace Detail

// A widget wrapping a standard spin box (its focus proxy) that reports in two grades like the
// parameter controls: `valueChanged` while the user types (throttled while the box has focus) and
// `finalizedValue` when editing finishes (Enter or focus loss). Steps by arrow key, wheel or arrow
// button report both at once. Setting the value programmatically reports nothing.
template <class Box, class T> class tOrvexSpinBox : public Detail::SpinBoxSignalsFor<T>::type {
    using Signals = typename Detail::SpinBoxSignalsFor<T>::type;

public:
    explicit tOrvexSpinBox(QWidget* parent = nullptr);
    ~tOrvexSpinBox() override;

    T value() const { return static_cast<T>(m_box->value()); }
    void setValue(T value);
    T minimum() const { return static_cast<T>(m_box->minimum()); }
    T maximum() const { return static_cast<T>(m_box->maximum()); }
    void setRange(T minimum, T maximum);
    T singleStep() const { return static_cast<T>(m_box->singleStep()); }
    void setSingleStep(T step) { m_box->setSingleStep(step); }
    QString prefix() const { return m_box->prefix(); }
    void setPrefix(const QString& prefix) { m_box->setPrefix(prefix); }
    QString suffix() const { return m_box->suffix(); }
    void setSuffix(const QString& suffix) { m_box->setSuffix(suffix); }
    int decimals() const;
    void setDecimals(int decimals);
    QString text() const { return m_box->text(); }
    void selectAll() { m_box->selectAll(); }
    Box* box() const { return m_box; }
    QLineEdit* lineEdit() const { return m_box->edit(); }

    // Last values reported by the two signals (what listeners currently believe).
    T lastReported() const { return m_lastReported; }
    T lastFinalized() const { return m_lastFinalized; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void onInnerChanged(T value);
    void onInnerFinished();
    void report(T value);

    Detail::tSteppingBox<Box>* m_box;
    T m_lastReported{};
    T m_lastFinalized{};
    // Shared by every box of this kind: a tick's emission that re-enters the event loop (a listener
    // processing events) does not start another tick's emission inside it.
    static inline int s_emitDepth = 0;
};

using OrvexSpinBox = tOrvexSpinBox<QSpinBox, int>;
using OrvexDoubleSpinBox = tOrvexSpinBox<QDoubleSpinBox, double>;

extern template class tOrvexSpinBox<QSpinBox, int>;
extern template class tOrvexSpinBox<QDoubleSpinBox, double>;

} // namespace Orvex::GUI
