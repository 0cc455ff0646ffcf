#pragma once
// The navigator beside the image window: a thumbnail of the whole image with the visible
// rectangle (a click or drag centres the view there), a zoom slider on the shared zoom scale,
// the zoom field with arrows, the preset drop-down and the "Reduce Scale" / "Increase Scale" /
// "Fit image" actions. It holds no view state of its own beyond what the window last told it;
// every change it wants goes out as a request signal.
#include <QImage>
#include <QRectF>
#include <QWidget>

class QAction;
class QComboBox;
class QLabel;
class QSlider;
class QToolButton;

namespace Orvex { namespace DataView {

class NavigatorThumbnail;

class Navigator : public QWidget {
    Q_OBJECT
public:
    // Slider resolution: the slider's integer range 0 ... kSliderSteps maps onto p 0 ... 1.
    static constexpr int kSliderSteps = 1000;

    explicit Navigator(QWidget* parent = nullptr);

    void setImage(const QImage& thumbnail, const QSize& imageSize);
    QSize imageSize() const { return m_imageSize; }
    double zoom() const { return m_zoom; }
    // The visible part of the image, in image coordinates.
    QRectF visibleRect() const { return m_visible; }

    QAction* reduceAction() const { return m_reduce; }
    QAction* increaseAction() const { return m_increase; }
    QAction* fitAction() const { return m_fit; }
    QSlider* slider() const { return m_slider; }
    QComboBox* presets() const { return m_presets; }
    QLabel* zoomField() const { return m_field; }

    // Takes the texts of the current language (also on a language change event).
    void retranslate();

public slots:
    // The window reports its zoom and visible rectangle; the navigator follows without echoing.
    void ImageZoomed(double zoom);
    void setVisibleRect(const QRectF& rect);

signals:
    void zoomRequested(double zoom);
    void fitRequested();
    // Centre the view on this image point.
    void centerRequested(const QPointF& imagePoint);

protected:
    void changeEvent(QEvent* event) override;

private:
    void stepZoom(double delta);
    void syncControls();

    QImage m_thumbnail;
    QSize m_imageSize;
    double m_zoom = 1.0;
    QRectF m_visible;
    bool m_syncing = false;

    NavigatorThumbnail* m_view = nullptr;
    QSlider* m_slider = nullptr;
    QLabel* m_field = nullptr;
    QToolButton* m_down = nullptr;
    QToolButton* m_up = nullptr;
    QComboBox* m_presets = nullptr;
    QAction* m_reduce = nullptr;
    QAction* m_increase = nullptr;
    QAction* m_fit = nullptr;

    friend class NavigatorThumbnail;
};

}}  // namespace Orvex::DataView
