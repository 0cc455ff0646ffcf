#pragma once
// A move / scale / rotate frame over the image window. The frame is a box of a fixed size (image
// pixels) placed by its centre, an angle and two scale factors; its transform maps box
// coordinates (0, 0 at the box's top-left corner) to image coordinates. The geometry and the
// pointer handling work in image coordinates, with the hit distances given in view pixels through
// the view's zoom, so the class needs no widget.
#include <QObject>
#include <QPointF>
#include <QSizeF>
#include <QTransform>

#include <array>

class QPainter;

namespace Orvex {

class TransformTool : public QObject {
    Q_OBJECT
public:
    // What a press grabbed. Handles are numbered by their side: corners and edge midpoints.
    enum class Grab { None, Move, Rotate, Scale };
    // Sizes on the screen, in view pixels.
    static constexpr double HandleSize = 8.0;     // side of a handle's square
    static constexpr double HandleReach = 7.0;    // a press this close to a handle grabs it
    static constexpr double RotateReach = 32.0;   // outside the frame, this close: rotation
    static constexpr double RotateStepDegrees = 15.0; // Shift snaps the angle to this step

    explicit TransformTool(QObject* parent = nullptr);

    // Places the frame: box size, centre, angle 0, scale 1 x 1.
    void reset(const QSizeF& box, const QPointF& center);
    // No frame at all (nothing is drawn, presses grab nothing).
    void clear();
    bool isEmpty() const { return m_box.isEmpty(); }
    void setVisible(bool on) { m_visible = on; }
    bool isVisible() const { return m_visible && !isEmpty(); }

    QSizeF box() const { return m_box; }
    QPointF center() const { return m_center; }
    double angle() const { return m_angle; } // degrees, clockwise on the screen (y down)
    double scaleX() const { return m_scaleX; }
    double scaleY() const { return m_scaleY; }
    void setCenter(const QPointF& c) { m_center = c; }
    void setAngle(double degrees) { m_angle = degrees; }
    void setScale(double sx, double sy);

    // Box coordinates to image coordinates: translate(centre) · rotate(angle) · scale · translate(−box/2).
    QTransform transform() const;
    // The frame's corners in image coordinates: top-left, top-right, bottom-right, bottom-left.
    std::array<QPointF, 4> corners() const;
    // The eight handles (corners and edge midpoints) in image coordinates, with their sides in box
    // terms: (−1, −1) the top-left corner ... (0, 1) the bottom edge.
    struct Handle {
        QPointF at;
        int sideX;
        int sideY;
    };
    std::array<Handle, 8> handles() const;

    // The zoom of the view (view pixels per image pixel), for the hit distances.
    void setViewScale(double zoom) { m_zoom = zoom > 0 ? zoom : 1.0; }
    double viewScale() const { return m_zoom; }
    // What a press at `imagePoint` would grab.
    Grab hitTest(const QPointF& imagePoint, int* sideX = nullptr, int* sideY = nullptr) const;

    // Pointer events in image coordinates. A drag that changed the frame emits transformChanged()
    // once, on release; frameMoved() follows every change while dragging.
    void press(const QPointF& imagePoint, Qt::KeyboardModifiers modifiers);
    void move(const QPointF& imagePoint, Qt::KeyboardModifiers modifiers);
    void release(const QPointF& imagePoint, Qt::KeyboardModifiers modifiers);
    bool isDragging() const { return m_grab != Grab::None; }
    Grab grab() const { return m_grab; }

    // Draws the outline, the handles and a centre mark; `imageToView` maps image to view pixels,
    // the handles keep their size in view pixels at every zoom.
    void paint(QPainter& painter, const QTransform& imageToView) const;

signals:
    void transformChanged();
    void frameMoved();

private:
    void dragTo(const QPointF& imagePoint, Qt::KeyboardModifiers modifiers);

    QSizeF m_box;
    QPointF m_center;
    double m_angle = 0.0;
    double m_scaleX = 1.0;
    double m_scaleY = 1.0;
    bool m_visible = false;
    double m_zoom = 1.0;

    // The drag in progress and the frame as it was at its press.
    Grab m_grab = Grab::None;
    int m_sideX = 0;
    int m_sideY = 0;
    QPointF m_pressAt;
    QPointF m_center0;
    double m_angle0 = 0.0;
    double m_scaleX0 = 1.0;
    double m_scaleY0 = 1.0;
};

} // namespace Orvex
