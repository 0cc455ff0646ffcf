#pragma once
#include "gui/OrvexSpinBox.h"
#include "gui/ParamSlider.h"

#include <QLabel>
#include <QWidget>

#include <cstdint>
#include <memory>

class QHBoxLayout;

namespace Orvex::GUI {

template <class Control> struct ParamFlow; // the value flow both controls share (Param.cpp)

// The form and the throttle shared by the integer and the real parameter control: a row with the
// caption, the suffix label and the spin box, and the slider beneath it.
class ParamBase : public QWidget {
    Q_OBJECT
public:
    // Caption shown cut before the last ',', '(' or U+3001 (a caption "Size, px" shows "Size").
    void setText(const QString& caption);
    QString text() const { return m_label->text(); }
    QString caption() const { return m_caption; }
    static QString cutCaption(const QString& caption);

    // While the slider is dragged, `valueChanged` is reported every 256 ms at most. On after
    // construction; off, every slider position is reported.
    bool isThrottled() const { return m_throttle; }
    void setThrottled(bool on) { m_throttle = on; }

    // A gradient along the slider's track (hue controls); empty for the plain track.
    void setTrackColors(const QVector<QColor>& colors) { m_slider->setTrackColors(colors); }

    QLabel* label() const { return m_label; }
    QLabel* labelSuffix() const { return m_labelSuffix; }
    ParamSlider* slider() const { return m_slider; }
    bool isDragging() const { return m_slider->isDragging(); }
    bool isThrottleRunning() const { return m_timerId != 0; }

protected:
    explicit ParamBase(QWidget* parent);
    ~ParamBase() override;

    // Puts the spin box into the caption row; called once by the derived constructor.
    void placeSpinBox(QWidget* spinBox);
    // Slider range 0 … positions − 1 with key and wheel steps that suit it; the slider's signals
    // stay blocked.
    void setSliderPositions(std::int64_t positions);
    void setSliderQuietly(int position);

    void startThrottle();
    void stopThrottle();
    // Every eighth tick of the running throttle: report the spin box value if it changed.
    virtual void throttleTick() = 0;
    void timerEvent(QTimerEvent* event) override;

    // After a slider change under the mouse, give the spin box focus with its text selected so that
    // typing replaces the value at once.
    void offerTypingFocus(OrvexSpinBoxBase* spinBox);

private:
    QString m_caption;
    QLabel* m_label;
    QLabel* m_labelSuffix;
    ParamSlider* m_slider;
    QHBoxLayout* m_row;
    bool m_throttle = true;
    int m_timerId = 0;
    int m_ticks = 0;
};

// Integer parameter control.
class Param : public ParamBase {
    Q_OBJECT
    Q_PROPERTY(int value READ value WRITE setValue NOTIFY valueChanged USER true)
    Q_PROPERTY(int minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(int maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(int singleStep READ singleStep WRITE setSingleStep)
    Q_PROPERTY(QString prefix READ prefix WRITE setPrefix)
    Q_PROPERTY(QString suffix READ suffix WRITE setSuffix)
public:
    // Linear map between slider positions 0 … steps − 1 and values min … min + count − 1;
    // integer results round half away from zero.
    class DrawingScaleBase {
    public:
        DrawingScaleBase(std::int64_t steps, std::int64_t count, int min);
        virtual ~DrawingScaleBase() = default;
        virtual int valueToPosition(int value) const;
        virtual int positionToValue(int position) const;
        std::int64_t steps() const { return m_steps; }
        std::int64_t count() const { return m_count; }
        int min() const { return m_min; }

    protected:
        std::int64_t m_steps;
        std::int64_t m_count;
        int m_min;
    };

    explicit Param(QWidget* parent = nullptr);
    ~Param() override;

    int value() const { return m_spinBox->value(); }
    int minimum() const { return m_spinBox->minimum(); }
    int maximum() const { return m_spinBox->maximum(); }
    void setMinimum(int minimum) { setRange(minimum, maximum()); }
    void setMaximum(int maximum) { setRange(minimum(), maximum); }
    // Linear range. Bounds given upside down are swapped; the current value is clamped quietly.
    void setRange(int minimum, int maximum);
    // Bent range: the slider's middle lands on `mid`, with fine steps below it. A `mid` outside the
    // open range gives the linear range.
    void setRange(int minimum, int maximum, int mid);
    int singleStep() const { return m_spinBox->singleStep(); }
    void setSingleStep(int step) { m_spinBox->setSingleStep(step); }
    QString prefix() const { return m_spinBox->prefix(); }
    void setPrefix(const QString& prefix) { m_spinBox->setPrefix(prefix); }
    // The unit inside the spin box (after one blank); the suffix label is emptied.
    QString suffix() const;
    void setSuffix(const QString& unit);

    const DrawingScaleBase& scale() const { return *m_scale; }
    OrvexSpinBox* spinBox() const { return m_spinBox; }
    int lastReported() const { return m_lastReported; }

signals:
    void valueChanged(int value);
    void finalizedValue(int value);

public slots:
    void setValue(int value);
    void OnSliderChanged(int position);
    void OnSliderFinalized(int position);
    void OnSpinBoxChanged(int value);
    void OnSpinBoxFinalized(int value);

protected:
    void throttleTick() override;

private:
    template <class> friend struct ParamFlow;
    void applyScale(std::unique_ptr<DrawingScaleBase> scale, int minimum, int maximum);

    OrvexSpinBox* m_spinBox;
    std::unique_ptr<DrawingScaleBase> m_scale;
    int m_lastReported = -777777; // no range holds it, so the first setValue always reports
    static int s_tickDepth;       // shared by all integer controls
};

// The bent integer scale: linear with slope k at the low end, a power curve towards the top.
class NonLinear : public Param::DrawingScaleBase {
public:
    NonLinear(std::int64_t steps, std::int64_t count, int min, double k);
    int valueToPosition(int value) const override;
    int positionToValue(int position) const override;
    double k() const { return m_k; }
    // The exponent for a range min … max whose slider middle should show mid.
    static double exponentFor(int minimum, int maximum, int mid);

private:
    double m_k;
};

// Real parameter control. Always linear.
class ParamDbl : public ParamBase {
    Q_OBJECT
    Q_PROPERTY(double value READ value WRITE setValue NOTIFY valueChanged USER true)
    Q_PROPERTY(double minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(double maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(double singleStep READ singleStep WRITE setSingleStep)
    Q_PROPERTY(QString prefix READ prefix WRITE setPrefix)
    Q_PROPERTY(QString suffix READ suffix WRITE setSuffix)
public:
    class DrawingScaleBase {
    public:
        DrawingScaleBase(std::int64_t steps, double count, double min);
        virtual ~DrawingScaleBase() = default;
        virtual int valueToPosition(double value) const;
        virtual double positionToValue(int position) const;
        std::int64_t steps() const { return m_steps; }
        double count() const { return m_count; }
        double min() const { return m_min; }

    protected:
        std::int64_t m_steps;
        double m_count;
        double m_min;
    };

    explicit ParamDbl(QWidget* parent = nullptr);
    ~ParamDbl() override;

    double value() const { return m_spinBox->value(); }
    double minimum() const { return m_spinBox->minimum(); }
    double maximum() const { return m_spinBox->maximum(); }
    void setMinimum(double minimum) { setRange(minimum, maximum()); }
    void setMaximum(double maximum) { setRange(minimum(), maximum); }
    // Slider positions: one per 10^−decimals. Non-finite bounds are ignored, bounds upside down
    // swapped.
    void setRange(double minimum, double maximum);
    int decimals() const { return m_spinBox->decimals(); }
    // Clamped to 0 … 16; the single step becomes 10^−decimals and the slider is rebuilt for it.
    void setDecimals(int decimals);
    double singleStep() const { return m_spinBox->singleStep(); }
    void setSingleStep(double step) { m_spinBox->setSingleStep(step); }
    QString prefix() const { return m_spinBox->prefix(); }
    void setPrefix(const QString& prefix) { m_spinBox->setPrefix(prefix); }
    QString suffix() const;
    void setSuffix(const QString& unit);

    const DrawingScaleBase& scale() const { return *m_scale; }
    OrvexDoubleSpinBox* spinBox() const { return m_spinBox; }
    double lastReported() const { return m_lastReported; }

signals:
    void valueChanged(double value);
    void finalizedValue(double value);

public slots:
    void setValue(double value);
    void OnSliderChanged(int position);
    void OnSliderFinalized(int position);
    void OnSpinBoxChanged(double value);
    void OnSpinBoxFinalized(double value);

protected:
    void throttleTick() override;

private:
    template <class> friend struct ParamFlow;
    OrvexDoubleSpinBox* m_spinBox;
    std::unique_ptr<DrawingScaleBase> m_scale;
    double m_lastReported = -777777.0;
    static int s_tickDepth; // shared by all real controls
};

// Declared for completeness of the class tree; real controls never bend their scale.
class NonLinearDbl : public ParamDbl::DrawingScaleBase {
public:
    using ParamDbl::DrawingScaleBase::DrawingScaleBase;
};

} // namespace Orvex::GUI
