#include "gui/Param.h"

#include <QCursor>
#include <QHBoxLayout>
#include <QTimerEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Orvex::GUI {

namespace {
constexpr int kTickMs = 32;
constexpr int kTicksPerReport = 8;
// Sliders never get more positions than this, whatever range and decimals ask for; beyond it the
// scale maps several values to one position.
constexpr std::int64_t kMaxSliderPositions = 1'000'000'000;

// Half away from zero by adding ±0.5 and truncating; the scales' results stay far inside int64.
std::int64_t roundHalfAway64(double x) {
    const double r = x >= 0.0 ? x + 0.5 : x - 0.5;
    return std::int64_t(std::clamp(r, -9.0e18, 9.0e18));
}

int saturate(std::int64_t v) {
    return int(std::clamp<std::int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

int roundHalfAway(double x) {
    return saturate(roundHalfAway64(x));
}
} // namespace

// ---------------------------------------------------------------------------------------------------
// ParamBase

ParamBase::ParamBase(QWidget* parent) : QWidget(parent) {
    resize(250, 48);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(4);
    column->setContentsMargins(0, 0, 0, 0);
    m_row = new QHBoxLayout();
    m_row->setSpacing(0);
    m_row->setContentsMargins(2, 0, 0, 0);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("label"));
    m_labelSuffix = new QLabel(QStringLiteral(", %"), this);
    m_labelSuffix->setObjectName(QStringLiteral("labelSuffix"));
    m_row->addWidget(m_label);
    m_row->addWidget(m_labelSuffix);
    m_row->addStretch(1);
    column->addLayout(m_row);
    m_slider = new ParamSlider(this);
    m_slider->setObjectName(QStringLiteral("slider"));
    column->addWidget(m_slider);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

ParamBase::~ParamBase() {
    stopThrottle();
}

void ParamBase::placeSpinBox(QWidget* spinBox) {
    spinBox->setObjectName(QStringLiteral("spinBox"));
    m_row->addWidget(spinBox);
    m_label->setBuddy(spinBox);
}

QString ParamBase::cutCaption(const QString& caption) {
    int cut = -1;
    for (const QChar c : {QChar(u','), QChar(u'('), QChar(0x3001)})
        cut = std::max(cut, caption.lastIndexOf(c));
    return cut < 0 ? caption : caption.left(cut);
}

void ParamBase::setText(const QString& caption) {
    m_caption = caption;
    m_label->setText(cutCaption(caption));
}

void ParamBase::setSliderPositions(std::int64_t positions) {
    positions = std::clamp<std::int64_t>(positions, 1, kMaxSliderPositions);
    const QSignalBlocker blocker(m_slider);
    m_slider->setRange(0, int(positions - 1));
    // About 200 key steps and 10 page steps over the track, at least one position each.
    m_slider->setSingleStep(int(std::max<std::int64_t>(1, positions / 200)));
    m_slider->setPageStep(int(std::max<std::int64_t>(1, positions / 10)));
}

void ParamBase::setSliderQuietly(int position) {
    const QSignalBlocker blocker(m_slider);
    m_slider->setValue(position);
}

void ParamBase::startThrottle() {
    // The timer keeps its count while the drag goes on, so that a steady drag reports every eighth
    // tick instead of waiting for the mouse to rest.
    if (m_timerId != 0) return;
    m_ticks = 0;
    m_timerId = startTimer(kTickMs, Qt::CoarseTimer);
}

void ParamBase::stopThrottle() {
    if (m_timerId != 0) killTimer(m_timerId);
    m_timerId = 0;
    m_ticks = 0;
}

void ParamBase::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timerId) {
        QWidget::timerEvent(event);
        return;
    }
    if (++m_ticks < kTicksPerReport) return;
    m_ticks = 0;
    throttleTick();
}

void ParamBase::offerTypingFocus(OrvexSpinBoxBase* spinBox) {
    QAbstractSpinBox* box = spinBox->abstractBox();
    if (box->hasFocus()) {
        // Each new value rewrites the text and drops the selection: select it again.
        box->selectAll();
        return;
    }
    if (!isVisible()) return;
    if (!m_slider->rect().contains(m_slider->mapFromGlobal(QCursor::pos()))) return;
    box->setFocus(Qt::OtherFocusReason);
    box->selectAll();
}

// ---------------------------------------------------------------------------------------------------
// Integer scales

Param::DrawingScaleBase::DrawingScaleBase(std::int64_t steps, std::int64_t count, int min)
    : m_steps(std::max<std::int64_t>(steps, 1)), m_count(std::max<std::int64_t>(count, 1)), m_min(min) {}

int Param::DrawingScaleBase::valueToPosition(int value) const {
    if (m_count <= 1 || m_steps <= 1) return 0;
    const double offset = std::clamp(double(value) - m_min, 0.0, double(m_count - 1));
    return roundHalfAway(offset * double(m_steps - 1) / double(m_count - 1));
}

int Param::DrawingScaleBase::positionToValue(int position) const {
    if (m_count <= 1 || m_steps <= 1) return m_min;
    const double p = std::clamp(double(position), 0.0, double(m_steps - 1));
    return saturate(roundHalfAway64(p * double(m_count - 1) / double(m_steps - 1)) + m_min);
}

NonLinear::NonLinear(std::int64_t steps, std::int64_t count, int min, double k)
    : Param::DrawingScaleBase(steps, count, min), m_k(k > 0.0 && std::isfinite(k) ? k : 1.0) {}

double NonLinear::exponentFor(int minimum, int maximum, int mid) {
    if (maximum <= minimum) return 1.0;
    const double r = std::min(0.5, (double(mid) - minimum) / (double(maximum) - minimum));
    if (r <= 0.0) return 1.0;
    return std::min(2.0 * r, std::log(0.5) / std::log(r));
}

int NonLinear::positionToValue(int position) const {
    if (m_count <= 1 || m_steps <= 1) return m_min;
    const double t = std::clamp(double(position) / double(m_steps - 1), 0.0, 1.0);
    const double f = std::max(std::pow(t, 1.0 / m_k), m_k * t);
    return saturate(roundHalfAway64(f * double(m_count - 1)) + m_min);
}

int NonLinear::valueToPosition(int value) const {
    if (m_count <= 1 || m_steps <= 1) return 0;
    const double f =
        std::min(double(std::max(value, m_min)) - m_min, double(m_count - 1)) / double(m_count - 1);
    const double t = std::min(std::pow(f, m_k), f / m_k);
    return roundHalfAway(t * double(m_steps - 1));
}

// The slider and the spin box of the integer and of the real control move and report the same
// way; only the value type and the scale differ.
template <class Control> struct ParamFlow {
    static void sliderChanged(Control& c, int position) {
        {
            // The slider already stands where the user put it; only the spin box follows.
            const QSignalBlocker blocker(c.m_spinBox);
            c.m_spinBox->setValue(c.m_scale->positionToValue(position));
        }
        const auto shown = c.m_spinBox->value();
        if (c.signalsBlocked()) {
            c.m_lastReported = shown;
        } else if (c.isThrottled() && c.isDragging()) {
            c.startThrottle();
        } else {
            c.m_lastReported = shown;
            emit c.valueChanged(shown);
        }
        c.offerTypingFocus(c.m_spinBox);
    }

    static void throttleTick(Control& c) {
        if (Control::s_tickDepth > 0 || c.signalsBlocked()) return;
        const auto shown = c.m_spinBox->value();
        if (shown == c.m_lastReported) return;
        c.m_lastReported = shown;
        ++Control::s_tickDepth;
        emit c.valueChanged(shown);
        --Control::s_tickDepth;
    }

    // The end of a drag or of an edit: a value not yet reported is, then the final one.
    static void finalize(Control& c) {
        c.stopThrottle();
        const auto shown = c.m_spinBox->value();
        if (shown != c.m_lastReported) {
            c.m_lastReported = shown;
            emit c.valueChanged(shown);
        }
        emit c.finalizedValue(shown);
    }

    template <class Value> static void spinBoxChanged(Control& c, Value value) {
        const int position = c.m_scale->valueToPosition(value);
        if (position == c.slider()->value()) return; // reported when editing finishes
        c.setSliderQuietly(position);
        if (c.isDragging()) return;
        c.m_lastReported = value;
        if (!c.signalsBlocked()) emit c.valueChanged(value);
    }
};

// ---------------------------------------------------------------------------------------------------
// Param

int Param::s_tickDepth = 0;

Param::Param(QWidget* parent) : ParamBase(parent) {
    m_spinBox = new OrvexSpinBox(this);
    placeSpinBox(m_spinBox);
    connect(m_spinBox, SIGNAL(valueChanged(int)), this, SLOT(OnSpinBoxChanged(int)));
    connect(m_spinBox, SIGNAL(finalizedValue(int)), this, SLOT(OnSpinBoxFinalized(int)));
    connect(slider(), SIGNAL(valueChanged(int)), this, SLOT(OnSliderChanged(int)));
    connect(slider(), SIGNAL(finalizedValue(int)), this, SLOT(OnSliderFinalized(int)));
    setRange(0, 100);
}

Param::~Param() {
    stopThrottle();
}

QString Param::suffix() const {
    const QString s = m_spinBox->suffix();
    return s.startsWith(u' ') ? s.mid(1) : s;
}

void Param::setSuffix(const QString& unit) {
    m_spinBox->setSuffix(unit.isEmpty() ? QString() : QStringLiteral(" ") + unit);
    labelSuffix()->clear();
    labelSuffix()->hide();
}

void Param::applyScale(std::unique_ptr<DrawingScaleBase> scale, int minimum, int maximum) {
    {
        // A range change is not a user change: the value is clamped without a report.
        const QSignalBlocker blocker(m_spinBox);
        m_spinBox->setRange(minimum, maximum);
        m_spinBox->setValue(m_spinBox->value());
    }
    m_scale = std::move(scale);
    setSliderQuietly(m_scale->valueToPosition(value()));
}

void Param::setRange(int minimum, int maximum) {
    if (minimum > maximum) std::swap(minimum, maximum);
    const std::int64_t count = std::int64_t(maximum) - minimum + 1;
    setSliderPositions(count);
    const std::int64_t steps = std::int64_t(slider()->maximum()) - slider()->minimum() + 1;
    applyScale(std::make_unique<DrawingScaleBase>(steps, count, minimum), minimum, maximum);
}

void Param::setRange(int minimum, int maximum, int mid) {
    if (minimum > maximum) std::swap(minimum, maximum);
    if (mid <= minimum || mid >= maximum) {
        setRange(minimum, maximum);
        return;
    }
    const std::int64_t count = std::int64_t(maximum) - minimum + 1;
    setSliderPositions(2 * (std::int64_t(mid) - minimum) + 1);
    const std::int64_t steps = std::int64_t(slider()->maximum()) - slider()->minimum() + 1;
    applyScale(
        std::make_unique<NonLinear>(steps, count, minimum, NonLinear::exponentFor(minimum, maximum, mid)),
        minimum, maximum);
}

void Param::setValue(int value) {
    value = std::clamp(value, minimum(), maximum());
    const int old = m_lastReported;
    m_lastReported = value;
    {
        const QSignalBlocker blocker(m_spinBox);
        m_spinBox->setValue(value);
    }
    setSliderQuietly(m_scale->valueToPosition(value));
    if (value != old && !signalsBlocked()) emit valueChanged(value);
}

void Param::OnSliderChanged(int position) {
    ParamFlow<Param>::sliderChanged(*this, position);
}

void Param::throttleTick() {
    ParamFlow<Param>::throttleTick(*this);
}

void Param::OnSliderFinalized(int) {
    ParamFlow<Param>::finalize(*this);
}

void Param::OnSpinBoxChanged(int value) {
    ParamFlow<Param>::spinBoxChanged(*this, value);
}

void Param::OnSpinBoxFinalized(int) {
    if (isDragging()) return;
    ParamFlow<Param>::finalize(*this);
}

// ---------------------------------------------------------------------------------------------------
// Real scale and ParamDbl

ParamDbl::DrawingScaleBase::DrawingScaleBase(std::int64_t steps, double count, double min)
    : m_steps(std::max<std::int64_t>(steps, 1)), m_count(std::max(count, 1.0)), m_min(min) {}

int ParamDbl::DrawingScaleBase::valueToPosition(double value) const {
    if (m_steps <= 1 || !(m_count > 1.0) || std::isnan(value)) return 0;
    const double offset = std::clamp(value - m_min, 0.0, m_count - 1.0);
    const double p = std::trunc(offset * double(m_steps - 1) / (m_count - 1.0) + 0.5);
    return int(std::min(p, double(m_steps - 1)));
}

double ParamDbl::DrawingScaleBase::positionToValue(int position) const {
    if (m_steps <= 1) return m_min;
    const double p = std::clamp(double(position), 0.0, double(m_steps - 1));
    return p * (m_count - 1.0) / double(m_steps - 1) + m_min;
}

int ParamDbl::s_tickDepth = 0;

ParamDbl::ParamDbl(QWidget* parent) : ParamBase(parent) {
    m_spinBox = new OrvexDoubleSpinBox(this);
    placeSpinBox(m_spinBox);
    connect(m_spinBox, SIGNAL(valueChanged(double)), this, SLOT(OnSpinBoxChanged(double)));
    connect(m_spinBox, SIGNAL(finalizedValue(double)), this, SLOT(OnSpinBoxFinalized(double)));
    connect(slider(), SIGNAL(valueChanged(int)), this, SLOT(OnSliderChanged(int)));
    connect(slider(), SIGNAL(finalizedValue(int)), this, SLOT(OnSliderFinalized(int)));
    m_spinBox->setDecimals(2);
    m_spinBox->setSingleStep(0.01);
    setRange(0.0, 100.0);
}

ParamDbl::~ParamDbl() {
    stopThrottle();
}

QString ParamDbl::suffix() const {
    const QString s = m_spinBox->suffix();
    return s.startsWith(u' ') ? s.mid(1) : s;
}

void ParamDbl::setSuffix(const QString& unit) {
    m_spinBox->setSuffix(unit.isEmpty() ? QString() : QStringLiteral(" ") + unit);
    labelSuffix()->clear();
    labelSuffix()->hide();
}

void ParamDbl::setRange(double minimum, double maximum) {
    if (!std::isfinite(minimum) || !std::isfinite(maximum)) return;
    if (minimum > maximum) std::swap(minimum, maximum);
    const double positions = std::pow(10.0, decimals()) * (maximum - minimum);
    setSliderPositions(std::int64_t(roundHalfAway(std::min(positions, double(kMaxSliderPositions)))) + 1);
    const std::int64_t steps = std::int64_t(slider()->maximum()) - slider()->minimum() + 1;
    {
        const QSignalBlocker blocker(m_spinBox);
        m_spinBox->setRange(minimum, maximum);
        m_spinBox->setValue(m_spinBox->value());
    }
    m_scale = std::make_unique<DrawingScaleBase>(steps, maximum - minimum + 1.0, minimum);
    setSliderQuietly(m_scale->valueToPosition(value()));
}

void ParamDbl::setDecimals(int decimals) {
    decimals = std::clamp(decimals, 0, 16);
    const double minimum = this->minimum(), maximum = this->maximum();
    {
        const QSignalBlocker blocker(m_spinBox);
        m_spinBox->setDecimals(decimals);
    }
    m_spinBox->setSingleStep(std::pow(10.0, -decimals));
    setRange(minimum, maximum);
}

void ParamDbl::setValue(double value) {
    if (std::isnan(value)) return;
    value = std::clamp(value, minimum(), maximum());
    const double old = m_lastReported;
    {
        const QSignalBlocker blocker(m_spinBox);
        m_spinBox->setValue(value);
    }
    // What the box shows (rounded to its decimals) is what listeners get.
    value = m_spinBox->value();
    m_lastReported = value;
    setSliderQuietly(m_scale->valueToPosition(value));
    if (value != old && !signalsBlocked()) emit valueChanged(value);
}

void ParamDbl::OnSliderChanged(int position) {
    ParamFlow<ParamDbl>::sliderChanged(*this, position);
}

void ParamDbl::throttleTick() {
    ParamFlow<ParamDbl>::throttleTick(*this);
}

void ParamDbl::OnSliderFinalized(int) {
    ParamFlow<ParamDbl>::finalize(*this);
}

void ParamDbl::OnSpinBoxChanged(double value) {
    ParamFlow<ParamDbl>::spinBoxChanged(*this, value);
}

void ParamDbl::OnSpinBoxFinalized(double) {
    if (isDragging()) return;
    ParamFlow<ParamDbl>::finalize(*this);
}

} // namespace Orvex::GUI
