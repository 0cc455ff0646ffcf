#pragma once
// Where the image lies in the image window: the image and view sizes, the zoom (or the fit rule)
// and the image point at the view's centre. Both ways of drawing the window (OpenGL and the
// raster painter) and the pointer tools read this one model, so a view pixel maps to the same
// image point whichever draws it. View coordinates are the widget's device-independent pixels
// with (0, 0) at its top left; image coordinates are image pixels.
#include <QPointF>
#include <QRectF>
#include <QSize>

namespace Orvex { namespace DataView {

class ViewGeometry {
public:
    // A new image size keeps the zoom and centre when it equals the old one (Before / After, a new
    // result); another size starts fitted and centred.
    void setImageSize(const QSize& image);
    QSize imageSize() const { return m_image; }
    bool hasImage() const { return !m_image.isEmpty(); }
    void setViewSize(const QSizeF& view);
    QSizeF viewSize() const { return m_view; }

    // The zoom shown (view pixels per image pixel): the set zoom, or the fit zoom when fitted
    // (the largest at which the whole image is in view). 1 without an image.
    double zoom() const;
    bool fitted() const { return m_zoom <= 0.0; }
    QPointF center() const { return m_center; }

    // The image's rectangle in view coordinates. Along an axis where the image is smaller than the
    // view it is centred.
    QRectF target() const;
    QPointF toImage(const QPointF& view) const;
    QPointF toView(const QPointF& image) const;
    // The part of the image in view, in image pixels.
    QRectF visibleRect() const;

    // Each returns whether the view changed. `zoomAround` keeps the image point under `viewPoint`
    // where it is (clamped to the zoom table's range); `fit` returns to the fit rule; `centerOn`
    // and `panBy` move a zoomed view (a fitted one does not move).
    bool zoomAround(double zoom, const QPointF& viewPoint);
    bool fit();
    bool centerOn(const QPointF& imagePoint);
    bool panBy(const QPointF& viewDelta);

private:
    // Keeps the view inside the image where the image is larger than the view.
    void clampCenter();

    QSize m_image;
    QSizeF m_view;
    double m_zoom = 0.0; // 0: the fit rule
    QPointF m_center;    // image point at the view's centre while zoomed
};

}} // namespace Orvex::DataView
