#include "gui/ParamSlider.h"

#include <QHideEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionFocusRect>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace Orvex::GUI {

ParamSlider::ParamSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true); // for the hover ring of the handle
    setTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ParamSlider::setTrackColors(const QVector<QColor>& colors) {
    m_trackColors = colors;
    update();
}

int ParamSlider::handleRadius() const {
    return 7;
}

QSize ParamSlider::sizeHint() const {
    return {160, 2 * handleRadius() + 6};
}

QSize ParamSlider::minimumSizeHint() const {
    return {4 * handleRadius(), 2 * handleRadius() + 6};
}

QRectF ParamSlider::trackRect() const {
    const double h = m_trackColors.isEmpty() ? 4.0 : 8.0;
    const int r = handleRadius();
    return QRectF(r, (height() - h) / 2.0, std::max(0, width() - 2 * r), h);
}

int ParamSlider::valueAtX(int x) const {
    const int r = handleRadius();
    const int span = width() - 2 * r - 1;
    if (span <= 0 || maximum() <= minimum()) return minimum();
    const double t = std::clamp(double(x - r) / span, 0.0, 1.0);
    const double range = double(maximum()) - double(minimum());
    return int(std::lround(double(minimum()) + t * range));
}

int ParamSlider::xOfValue(int value) const {
    const int r = handleRadius();
    const int span = width() - 2 * r - 1;
    if (span <= 0 || maximum() <= minimum()) return r;
    const double t = (double(std::clamp(value, minimum(), maximum())) - minimum()) /
                     (double(maximum()) - double(minimum()));
    return r + int(std::lround(t * span));
}

bool ParamSlider::hitsHandle(const QPoint& pos) const {
    const int dx = pos.x() - xOfValue(sliderPosition());
    const int dy = pos.y() - height() / 2;
    const int reach = handleRadius() + 2;
    return dx * dx + dy * dy <= reach * reach;
}

void ParamSlider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QRectF track = trackRect();
    const double radius = track.height() / 2.0;
    const double hx = xOfValue(sliderPosition()) + 0.5;
    const double hy = height() / 2.0;

    if (m_trackColors.isEmpty()) {
        QColor groove = pal.color(QPalette::Mid);
        groove.setAlpha(isEnabled() ? 150 : 90);
        p.setPen(Qt::NoPen);
        p.setBrush(groove);
        p.drawRoundedRect(track, radius, radius);
        QRectF filled = track;
        filled.setRight(std::max(track.left(), hx));
        p.setBrush(isEnabled() ? pal.color(QPalette::Highlight) : pal.color(QPalette::Mid));
        p.drawRoundedRect(filled, radius, radius);
    } else {
        QLinearGradient gradient(track.topLeft(), track.topRight());
        const int n = m_trackColors.size();
        for (int i = 0; i < n; ++i) {
            QColor c = m_trackColors[i];
            if (!isEnabled()) c = QColor::fromHsvF(c.hsvHueF(), c.hsvSaturationF() * 0.3, c.valueF());
            gradient.setColorAt(n == 1 ? 0.0 : double(i) / (n - 1), c);
        }
        p.setPen(QPen(pal.color(QPalette::Dark), 1.0));
        p.setBrush(gradient);
        p.drawRoundedRect(track.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    }

    // The handle: a disc with a soft shadow; its ring shows hover, press and keyboard focus.
    const double hr = handleRadius() - 0.5;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawEllipse(QPointF(hx, hy + 1.0), hr, hr);
    const bool active = isEnabled() && (isSliderDown() || m_hoverHandle || hasFocus());
    const QColor ring = active ? pal.color(QPalette::Highlight) : pal.color(QPalette::Dark);
    p.setPen(QPen(ring, active ? 1.6 : 1.0));
    QColor face = pal.color(QPalette::Button).lighter(isSliderDown() ? 100 : 112);
    p.setBrush(face);
    p.drawEllipse(QPointF(hx, hy), hr - 0.5, hr - 0.5);
    if (!m_trackColors.isEmpty()) {
        // Show the colour under the handle inside it, so the choice reads without the track.
        const double t = (maximum() > minimum())
                             ? (double(sliderPosition()) - minimum()) / (double(maximum()) - minimum())
                             : 0.0;
        const int n = m_trackColors.size();
        const double f = t * (n - 1);
        const int i = std::clamp(int(f), 0, n - 1);
        const int j = std::min(i + 1, n - 1);
        const double w = f - i;
        const QColor a = m_trackColors[i], b = m_trackColors[j];
        const QColor mix =
            QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * w, a.greenF() + (b.greenF() - a.greenF()) * w,
                             a.blueF() + (b.blueF() - a.blueF()) * w);
        p.setPen(Qt::NoPen);
        p.setBrush(isEnabled() ? mix : pal.color(QPalette::Mid));
        p.drawEllipse(QPointF(hx, hy), hr - 3.0, hr - 3.0);
    }
}

void ParamSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || maximum() < minimum()) {
        event->ignore();
        return;
    }
    event->accept();
    const int x = event->pos().x();
    if (hitsHandle(event->pos())) {
        m_grabOffset = x - xOfValue(sliderPosition());
    } else {
        // Jump before the drag starts, so that the jump itself is reported at once.
        m_grabOffset = 0;
        setSliderPosition(valueAtX(x));
    }
    setSliderDown(true);
    update();
}

void ParamSlider::mouseMoveEvent(QMouseEvent* event) {
    if (isSliderDown()) {
        setSliderPosition(valueAtX(event->pos().x() - m_grabOffset));
        event->accept();
        return;
    }
    const bool hover = hitsHandle(event->pos());
    if (hover != m_hoverHandle) {
        m_hoverHandle = hover;
        update();
    }
    event->ignore();
}

void ParamSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !isSliderDown()) {
        event->ignore();
        return;
    }
    event->accept();
    setSliderDown(false);
    update();
    emit finalizedValue(value());
}

void ParamSlider::keyPressEvent(QKeyEvent* event) {
    const int before = value();
    QSlider::keyPressEvent(event);
    if (value() != before) emit finalizedValue(value());
}

void ParamSlider::wheelEvent(QWheelEvent* event) {
    if (isSliderDown()) {
        event->accept();
        return;
    }
    const int before = value();
    QSlider::wheelEvent(event);
    if (value() != before) emit finalizedValue(value());
}

void ParamSlider::leaveEvent(QEvent* event) {
    m_hoverHandle = false;
    update();
    QSlider::leaveEvent(event);
}

void ParamSlider::changeEvent(QEvent* event) {
    // A drag cut short (the panel disabled during a run, the window hidden) still ends with a
    // finalised value, so that the control never stays in the dragging state.
    if (event->type() == QEvent::EnabledChange && !isEnabled()) abortDrag();
    QSlider::changeEvent(event);
}

void ParamSlider::hideEvent(QHideEvent* event) {
    abortDrag();
    QSlider::hideEvent(event);
}

void ParamSlider::abortDrag() {
    if (!isSliderDown()) return;
    setSliderDown(false);
    emit finalizedValue(value());
}

HueSlider::HueSlider(QWidget* parent) : ParamSlider(parent) {
    setRange(0, 359);
    setTrackColors(hueWheelColors());
}

QVector<QColor> HueSlider::hueWheelColors() {
    QVector<QColor> colors;
    for (int i = 0; i <= 6; ++i) colors.push_back(QColor::fromHsv((i * 60) % 360, 255, 255).toRgb());
    return colors;
}

} // namespace Orvex::GUI
