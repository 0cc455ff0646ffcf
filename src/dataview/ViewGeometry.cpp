#include "dataview/ViewGeometry.h"
#include "dataview/Zoom.h"

#include <algorithm>

namespace Orvex { namespace DataView {

void ViewGeometry::setImageSize(const QSize& image) {
    if (image == m_image) return;
    m_image = image;
    m_zoom = 0.0;
    m_center = QPointF(image.width() / 2.0, image.height() / 2.0);
}

void ViewGeometry::setViewSize(const QSizeF& view) {
    m_view = view;
    clampCenter();
}

double ViewGeometry::zoom() const {
    if (!hasImage()) return 1.0;
    if (m_zoom > 0.0) return m_zoom;
    return std::min(m_view.width() / m_image.width(), m_view.height() / m_image.height());
}

QRectF ViewGeometry::target() const {
    if (!hasImage()) return {};
    const double z = zoom();
    const QSizeF shown(m_image.width() * z, m_image.height() * z);
    const double w = m_view.width(), h = m_view.height();
    if (fitted()) return QRectF(QPointF((w - shown.width()) / 2, (h - shown.height()) / 2), shown);
    const double left = shown.width() <= w ? (w - shown.width()) / 2 : w / 2 - m_center.x() * z;
    const double top = shown.height() <= h ? (h - shown.height()) / 2 : h / 2 - m_center.y() * z;
    return QRectF(QPointF(left, top), shown);
}

QPointF ViewGeometry::toImage(const QPointF& view) const {
    const QRectF t = target();
    if (t.isEmpty()) return {};
    const double z = t.width() / m_image.width();
    return QPointF((view.x() - t.left()) / z, (view.y() - t.top()) / z);
}

QPointF ViewGeometry::toView(const QPointF& image) const {
    const QRectF t = target();
    if (t.isEmpty()) return {};
    const double z = t.width() / m_image.width();
    return QPointF(t.left() + image.x() * z, t.top() + image.y() * z);
}

QRectF ViewGeometry::visibleRect() const {
    if (!hasImage()) return {};
    const QRectF all(0, 0, m_image.width(), m_image.height());
    return QRectF(toImage(QPointF(0, 0)), toImage(QPointF(m_view.width(), m_view.height()))).intersected(all);
}

void ViewGeometry::clampCenter() {
    if (!hasImage() || fitted()) return;
    const double halfW = m_view.width() / (2.0 * m_zoom), halfH = m_view.height() / (2.0 * m_zoom);
    const double w = m_image.width(), h = m_image.height();
    m_center.setX(2 * halfW >= w ? w / 2 : std::clamp(m_center.x(), halfW, w - halfW));
    m_center.setY(2 * halfH >= h ? h / 2 : std::clamp(m_center.y(), halfH, h - halfH));
}

bool ViewGeometry::zoomAround(double newZoom, const QPointF& viewPoint) {
    if (!hasImage()) return false;
    newZoom = Zoom::clamp(newZoom);
    if (newZoom == zoom() && !fitted()) return false;
    const QPointF anchor = toImage(viewPoint);
    m_zoom = newZoom;
    m_center = anchor - (viewPoint - QPointF(m_view.width() / 2.0, m_view.height() / 2.0)) / newZoom;
    clampCenter();
    return true;
}

bool ViewGeometry::fit() {
    if (fitted()) return false;
    m_zoom = 0.0;
    return true;
}

bool ViewGeometry::centerOn(const QPointF& imagePoint) {
    if (!hasImage() || fitted()) return false;
    const QPointF before = m_center;
    m_center = imagePoint;
    clampCenter();
    return m_center != before;
}

bool ViewGeometry::panBy(const QPointF& viewDelta) {
    return centerOn(m_center - viewDelta / zoom());
}

}} // namespace Orvex::DataView
