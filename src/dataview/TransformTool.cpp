#include "dataview/TransformTool.h"

#include <QLineF>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Orvex {

namespace {

constexpr double Pi = 3.14159265358979323846;

double distanceToSegment(const QPointF& p, const QPointF& a, const QPointF& b) {
    const QPointF d = b - a;
    const double len2 = QPointF::dotProduct(d, d);
    const double t = len2 > 0 ? std::clamp(QPointF::dotProduct(p - a, d) / len2, 0.0, 1.0) : 0.0;
    const QPointF q = a + t * d - p;
    return std::sqrt(QPointF::dotProduct(q, q));
}

} // namespace

TransformTool::TransformTool(QObject* parent) : QObject(parent) {}

void TransformTool::reset(const QSizeF& box, const QPointF& center) {
    m_box = box;
    m_center = center;
    m_angle = 0.0;
    m_scaleX = m_scaleY = 1.0;
    m_grab = Grab::None;
}

void TransformTool::clear() {
    reset(QSizeF(), QPointF());
    m_visible = false;
}

void TransformTool::setScale(double sx, double sy) {
    // A frame never collapses: at least one image pixel along each side.
    const double minX = m_box.width() > 0 ? 1.0 / m_box.width() : 1e-6;
    const double minY = m_box.height() > 0 ? 1.0 / m_box.height() : 1e-6;
    m_scaleX = std::max(std::isfinite(sx) ? sx : 1.0, minX);
    m_scaleY = std::max(std::isfinite(sy) ? sy : 1.0, minY);
}

QTransform TransformTool::transform() const {
    QTransform t;
    t.translate(m_center.x(), m_center.y());
    t.rotate(m_angle);
    t.scale(m_scaleX, m_scaleY);
    t.translate(-m_box.width() / 2.0, -m_box.height() / 2.0);
    return t;
}

std::array<QPointF, 4> TransformTool::corners() const {
    const QTransform t = transform();
    const double w = m_box.width(), h = m_box.height();
    return {t.map(QPointF(0, 0)), t.map(QPointF(w, 0)), t.map(QPointF(w, h)), t.map(QPointF(0, h))};
}

std::array<TransformTool::Handle, 8> TransformTool::handles() const {
    const QTransform t = transform();
    const double w = m_box.width(), h = m_box.height();
    std::array<Handle, 8> out;
    int i = 0;
    for (int sy = -1; sy <= 1; ++sy)
        for (int sx = -1; sx <= 1; ++sx) {
            if (sx == 0 && sy == 0) continue;
            out[size_t(i++)] = Handle{t.map(QPointF((sx + 1) * w / 2.0, (sy + 1) * h / 2.0)), sx, sy};
        }
    return out;
}

TransformTool::Grab TransformTool::hitTest(const QPointF& p, int* sideX, int* sideY) const {
    if (isEmpty()) return Grab::None;
    // The nearest handle within reach wins over the inside.
    double best = HandleReach;
    const Handle* grabbed = nullptr;
    const auto all = handles();
    for (const Handle& h : all) {
        const double d = QLineF(h.at, p).length() * m_zoom;
        if (d <= best) {
            best = d;
            grabbed = &h;
        }
    }
    if (grabbed) {
        if (sideX) *sideX = grabbed->sideX;
        if (sideY) *sideY = grabbed->sideY;
        return Grab::Scale;
    }
    bool invertible = false;
    const QPointF local = transform().inverted(&invertible).map(p);
    if (invertible && local.x() >= 0 && local.y() >= 0 && local.x() <= m_box.width() && local.y() <= m_box.height())
        return Grab::Move;
    const auto c = corners();
    double edge = std::numeric_limits<double>::max();
    for (size_t i = 0; i < 4; ++i) edge = std::min(edge, distanceToSegment(p, c[i], c[(i + 1) % 4]));
    return edge * m_zoom <= RotateReach ? Grab::Rotate : Grab::None;
}

void TransformTool::press(const QPointF& p, Qt::KeyboardModifiers) {
    m_grab = isVisible() ? hitTest(p, &m_sideX, &m_sideY) : Grab::None;
    m_pressAt = p;
    m_center0 = m_center;
    m_angle0 = m_angle;
    m_scaleX0 = m_scaleX;
    m_scaleY0 = m_scaleY;
}

void TransformTool::move(const QPointF& p, Qt::KeyboardModifiers modifiers) {
    if (m_grab == Grab::None) return;
    dragTo(p, modifiers);
    emit frameMoved();
}

void TransformTool::release(const QPointF& p, Qt::KeyboardModifiers modifiers) {
    if (m_grab == Grab::None) return;
    dragTo(p, modifiers);
    m_grab = Grab::None;
    emit frameMoved();
    if (m_center != m_center0 || m_angle != m_angle0 || m_scaleX != m_scaleX0 || m_scaleY != m_scaleY0)
        emit transformChanged();
}

void TransformTool::dragTo(const QPointF& p, Qt::KeyboardModifiers modifiers) {
    const bool shift = modifiers & Qt::ShiftModifier;
    switch (m_grab) {
    case Grab::None:
        return;
    case Grab::Move:
        m_center = m_center0 + (p - m_pressAt);
        return;
    case Grab::Rotate: {
        const QPointF from = m_pressAt - m_center0, to = p - m_center0;
        if (QPointF::dotProduct(to, to) < 1e-12 || QPointF::dotProduct(from, from) < 1e-12) return;
        double a = m_angle0 + (std::atan2(to.y(), to.x()) - std::atan2(from.y(), from.x())) * 180.0 / Pi;
        if (shift) a = std::round(a / RotateStepDegrees) * RotateStepDegrees;
        m_angle = std::remainder(a, 360.0);
        return;
    }
    case Grab::Scale: {
        // The opposite handle stays where it is; the pointer is measured along the frame's axes.
        const double rad = m_angle * Pi / 180.0;
        const QPointF ux(std::cos(rad), std::sin(rad)), uy(-std::sin(rad), std::cos(rad));
        const double w0 = m_scaleX0 * m_box.width(), h0 = m_scaleY0 * m_box.height();
        const QPointF anchor = m_center0 - ux * (m_sideX * w0 / 2.0) - uy * (m_sideY * h0 / 2.0);
        const QPointF d = p - anchor;
        const double dx = QPointF::dotProduct(d, ux) * m_sideX, dy = QPointF::dotProduct(d, uy) * m_sideY;
        double sx = m_sideX ? dx / m_box.width() : m_scaleX0;
        double sy = m_sideY ? dy / m_box.height() : m_scaleY0;
        if (shift) {
            // One factor for both axes: along the diagonal for a corner, the dragged axis for an edge.
            double k;
            if (m_sideX && m_sideY)
                k = (dx * w0 + dy * h0) / (w0 * w0 + h0 * h0);
            else
                k = m_sideX ? sx / m_scaleX0 : sy / m_scaleY0;
            const double minK = std::max(1.0 / w0, 1.0 / h0);
            k = std::max(k, minK);
            sx = m_scaleX0 * k;
            sy = m_scaleY0 * k;
        }
        setScale(sx, sy);
        const double cx = m_sideX * (m_scaleX - m_scaleX0) * m_box.width() / 2.0;
        const double cy = m_sideY * (m_scaleY - m_scaleY0) * m_box.height() / 2.0;
        m_center = m_center0 + ux * cx + uy * cy;
        return;
    }
    }
}

void TransformTool::paint(QPainter& painter, const QTransform& imageToView) const {
    if (!isVisible()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPolygonF outline;
    for (const QPointF& c : corners()) outline << imageToView.map(c);
    outline << outline.front();
    // A dark line under a light dashed one shows on any photo.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0, 0, 0, 170), 3.0));
    painter.drawPolyline(outline);
    painter.setPen(QPen(QColor(255, 255, 255), 1.0, Qt::DashLine));
    painter.drawPolyline(outline);
    painter.setPen(QPen(QColor(0, 0, 0), 1.0));
    painter.setBrush(QColor(255, 255, 255));
    const double half = HandleSize / 2.0;
    for (const Handle& h : handles()) {
        const QPointF v = imageToView.map(h.at);
        painter.drawRect(QRectF(v.x() - half, v.y() - half, HandleSize, HandleSize));
    }
    const QPointF c = imageToView.map(m_center);
    painter.setPen(QPen(QColor(0, 0, 0, 170), 3.0));
    painter.drawLine(c - QPointF(5, 0), c + QPointF(5, 0));
    painter.drawLine(c - QPointF(0, 5), c + QPointF(0, 5));
    painter.setPen(QPen(QColor(255, 255, 255), 1.0));
    painter.drawLine(c - QPointF(5, 0), c + QPointF(5, 0));
    painter.drawLine(c - QPointF(0, 5), c + QPointF(0, 5));
    painter.restore();
}

} // namespace Orvex
