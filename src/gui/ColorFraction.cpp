#include "gui/ColorFraction.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace Orvex::GUI {

namespace {
constexpr double kMargin = 7.0; // room for the grips at both ends
constexpr double kGrabDistance = 6.0;

double toHundredths(double v) {
    return std::round(std::clamp(v, 0.0, 1.0) * 100.0) / 100.0;
}
int percent(double v) {
    return int(std::lround(v * 100.0));
} // half away from zero; v ≥ 0
} // namespace

ColorFraction::ColorFraction(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setDividers(0.33, 0.67);
}

QSize ColorFraction::sizeHint() const {
    return {200, 30};
}

QSize ColorFraction::minimumSizeHint() const {
    return {60, 30};
}

void ColorFraction::setDividers(double d1, double d2) {
    if (std::isfinite(d1)) m_d1 = toHundredths(d1);
    if (std::isfinite(d2)) m_d2 = toHundredths(d2);
    if (m_d1 > m_d2) std::swap(m_d1, m_d2);
    update();
}

int ColorFraction::fraction(int segment) const {
    const int a = percent(m_d1), b = percent(m_d2);
    switch (segment) {
    case 0:
        return a;
    case 1:
        return b - a;
    case 2:
        return 100 - b;
    default:
        return 0;
    }
}

void ColorFraction::setSegmentColors(const QColor& first, const QColor& second, const QColor& third) {
    m_colors[0] = first;
    m_colors[1] = second;
    m_colors[2] = third;
    update();
}

QRectF ColorFraction::barRect() const {
    return QRectF(kMargin, 5.0, std::max(1.0, width() - 2.0 * kMargin), std::max(1.0, height() - 10.0));
}

double ColorFraction::xOf(double position) const {
    const QRectF bar = barRect();
    return bar.left() + position * bar.width();
}

double ColorFraction::positionAt(double x) const {
    const QRectF bar = barRect();
    return std::clamp((x - bar.left()) / bar.width(), 0.0, 1.0);
}

int ColorFraction::dividerNear(double x) const {
    const double a = std::abs(x - xOf(m_d1)), b = std::abs(x - xOf(m_d2));
    if (std::min(a, b) > kGrabDistance) return -1;
    if (m_d1 == m_d2) return 2;
    return a <= b ? 0 : 1;
}

void ColorFraction::moveDivider(int index, double position) {
    position = toHundredths(position);
    if (index == 0)
        position = std::min(position, m_d2);
    else
        position = std::max(position, m_d1);
    double& target = index == 0 ? m_d1 : m_d2;
    if (position == target) return;
    target = position;
    update();
    emit dividersChanged(m_d1, m_d2);
}

void ColorFraction::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF bar = barRect();
    QPainterPath shape;
    shape.addRoundedRect(bar, 3.0, 3.0);

    const double edges[4] = {bar.left(), xOf(m_d1), xOf(m_d2), bar.right()};
    p.save();
    p.setClipPath(shape);
    for (int i = 0; i < 3; ++i) {
        QColor c = m_colors[i];
        if (!isEnabled()) c = QColor::fromHsvF(c.hsvHueF(), c.hsvSaturationF() * 0.25, c.valueF() * 0.9);
        QLinearGradient shade(bar.topLeft(), bar.bottomLeft());
        shade.setColorAt(0.0, c.lighter(118));
        shade.setColorAt(1.0, c.darker(112));
        p.fillRect(QRectF(edges[i], bar.top(), edges[i + 1] - edges[i], bar.height()), shade);
    }
    p.restore();
    p.setPen(QPen(palette().color(QPalette::Dark), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);

    // Shares in percent, centred in segments wide enough to hold them.
    QFont font = this->font();
    font.setPointSizeF(std::max(6.0, font.pointSizeF() * 0.85));
    p.setFont(font);
    const QFontMetricsF metrics(font);
    for (int i = 0; i < 3; ++i) {
        const QString text = QString::number(fraction(i)) + QLatin1Char('%');
        const QRectF segment(edges[i], bar.top(), edges[i + 1] - edges[i], bar.height());
        if (metrics.horizontalAdvance(text) + 6.0 > segment.width()) continue;
        p.setPen(QColor(0, 0, 0, 110));
        p.drawText(segment.translated(0.8, 0.8), Qt::AlignCenter, text);
        p.setPen(Qt::white);
        p.drawText(segment, Qt::AlignCenter, text);
    }

    // Dividers: a light bar with a dark outline, grips above and below the bar.
    for (int i = 0; i < 2; ++i) {
        const double x = std::round(xOf(i == 0 ? m_d1 : m_d2)) + 0.5;
        const bool active = isEnabled() && (m_hover == i || m_hover == 2 || m_dragging == i ||
                                            m_dragging == 2 || (hasFocus() && m_current == i));
        const QColor outline = active ? palette().color(QPalette::Highlight) : QColor(40, 40, 40, 200);
        QRectF grip(x - 2.5, bar.top() - 4.0, 5.0, bar.height() + 8.0);
        p.setPen(QPen(outline, active ? 1.5 : 1.0));
        p.setBrush(isEnabled() ? QColor(250, 250, 250) : palette().color(QPalette::Button));
        p.drawRoundedRect(grip, 2.0, 2.0);
    }
}

void ColorFraction::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const double x = event->pos().x();
    int index = dividerNear(x);
    if (index < 0) {
        // A press on a segment grabs the nearest divider and brings it under the mouse.
        const double a = std::abs(x - xOf(m_d1)), b = std::abs(x - xOf(m_d2));
        index = (m_d1 == m_d2) ? (x < xOf(m_d1) ? 0 : 1) : (a <= b ? 0 : 1);
        m_grabOffset = 0.0;
        m_dragging = index;
        m_current = index;
        moveDivider(index, positionAt(x));
    } else {
        m_dragging = index;
        if (index < 2) {
            m_current = index;
            m_grabOffset = x - xOf(index == 0 ? m_d1 : m_d2);
        } else {
            m_grabOffset = x - xOf(m_d1);
        }
    }
    m_pressX = x;
    update();
    event->accept();
}

void ColorFraction::mouseMoveEvent(QMouseEvent* event) {
    const double x = event->pos().x();
    if (m_dragging < 0) {
        const int hover = dividerNear(x);
        if (hover != m_hover) {
            m_hover = hover;
            setCursor(hover >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
            update();
        }
        event->ignore();
        return;
    }
    if (m_dragging == 2) {
        // Both dividers stand together: the first movement decides which one follows.
        if (x == m_pressX) return;
        m_dragging = x < m_pressX ? 0 : 1;
        m_current = m_dragging;
    }
    moveDivider(m_dragging, positionAt(x - m_grabOffset));
    event->accept();
}

void ColorFraction::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_dragging < 0) {
        event->ignore();
        return;
    }
    finishDrag();
    event->accept();
}

void ColorFraction::finishDrag() {
    if (m_dragging < 0) return;
    m_dragging = -1;
    update();
    emit editingFinished();
}

void ColorFraction::keyPressEvent(QKeyEvent* event) {
    const double step = (event->modifiers() & Qt::ShiftModifier) ? 0.1 : 0.01;
    double delta = 0.0;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        delta = -step;
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        delta = step;
        break;
    case Qt::Key_Space:
        m_current = 1 - m_current;
        update();
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    const double before = m_current == 0 ? m_d1 : m_d2;
    moveDivider(m_current, before + delta);
    if ((m_current == 0 ? m_d1 : m_d2) != before) emit editingFinished();
    event->accept();
}

void ColorFraction::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) finishDrag();
    QWidget::changeEvent(event);
}

} // namespace Orvex::GUI
