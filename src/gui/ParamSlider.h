#pragma once
#include <QColor>
#include <QSlider>
#include <QVector>

namespace Orvex::GUI {

// The horizontal slider of a parameter control. It paints itself (a thin track, the filled part up to
// the handle, a round handle) so that it looks the same under every style, and it tells whether the
// user is dragging it.
//
// Mouse: a press on the handle grabs it where it was hit; a press on the track moves the handle
// there at once (reported immediately) and keeps dragging from there. While dragging the value
// follows the mouse (`valueChanged` per position, `isDragging()` true); the release emits
// `finalizedValue`. Keys and the wheel change the value and emit `finalizedValue` right after it.
class ParamSlider : public QSlider {
    Q_OBJECT
public:
    explicit ParamSlider(QWidget* parent = nullptr);

    // True between a left press and its release.
    bool isDragging() const { return isSliderDown(); }

    // Colours of a gradient drawn along the track instead of the plain track (for hue and similar
    // scales); the first colour sits at the minimum, the last at the maximum. Empty: plain track.
    void setTrackColors(const QVector<QColor>& colors);
    QVector<QColor> trackColors() const { return m_trackColors; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Slider value under the widget's x coordinate (handle centre), clamped to the range.
    int valueAtX(int x) const;
    // Centre of the handle for a slider value, in widget coordinates.
    int xOfValue(int value) const;

signals:
    // The user completed a change: released the handle, or changed the value by key or wheel.
    void finalizedValue(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int handleRadius() const;
    QRectF trackRect() const;
    bool hitsHandle(const QPoint& pos) const;
    void abortDrag();

    QVector<QColor> m_trackColors;
    int m_grabOffset = 0; // mouse x minus handle centre at the press
    bool m_hoverHandle = false;
};

// A slider whose track shows the hue wheel over its range (0 … 359 by default, red at both ends).
class HueSlider : public ParamSlider {
    Q_OBJECT
public:
    explicit HueSlider(QWidget* parent = nullptr);

    // Seven fully saturated colours around the hue wheel, red to red.
    static QVector<QColor> hueWheelColors();
};

} // namespace Orvex::GUI
