#pragma once
#include <QColor>
#include <QWidget>

#include <cstddef>

namespace Orvex::GUI {

// A horizontal bar split into three coloured segments by two draggable dividers at d1 ≤ d2 (both in
// 0 … 1, on whole hundredths). The segments are 0 … d1, d1 … d2 and d2 … 1; each shows its share in
// percent when there is room.
//
// Mouse: dragging a divider moves it, never past the other one (`dividersChanged` while moving,
// `editingFinished` on release). Where the two coincide, the first movement picks the one that can
// move that way. A press on a segment away from the dividers grabs the nearest divider.
// Keys: Left and Right move the current divider by one hundredth (with Shift by a tenth), Space
// switches to the other divider; each key step ends with `editingFinished`.
class ColorFraction : public QWidget {
    Q_OBJECT
public:
    explicit ColorFraction(QWidget* parent = nullptr);

    double divider1() const { return m_d1; }
    double divider2() const { return m_d2; }
    // Sets both dividers, rounded to hundredths, clamped to 0 … 1 and put in order; a non-finite
    // value keeps the old divider. Reports nothing.
    void setDividers(double d1, double d2);

    // The three shares in percent as the dividers give them: round(d1·100), round(d2·100) − that,
    // 100 − round(d2·100). They always sum to 100.
    int fraction(int segment) const;

    void setSegmentColors(const QColor& first, const QColor& second, const QColor& third);
    QColor segmentColor(int segment) const { return m_colors[std::size_t(segment) % 3]; }

    // Index (0 or 1) of the divider the keys move, the one last touched.
    int currentDivider() const { return m_current; }
    bool isDragging() const { return m_dragging >= 0; }

    // Widget x of a divider position, and the divider position under an x (unrounded, clamped).
    double xOf(double position) const;
    double positionAt(double x) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void dividersChanged(double d1, double d2);
    void editingFinished();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QRectF barRect() const;
    int dividerNear(double x) const; // -1 when none within grabbing distance
    void moveDivider(int index, double position);
    void finishDrag();

    double m_d1 = 1.0 / 3.0;
    double m_d2 = 2.0 / 3.0;
    QColor m_colors[3] = {QColor(226, 38, 38), QColor(42, 190, 62), QColor(40, 92, 230)};
    int m_current = 0;
    int m_dragging = -1;   // divider being dragged, 2 = both coincide and the choice waits
    double m_pressX = 0.0; // where an undecided drag started
    double m_grabOffset = 0.0;
    int m_hover = -1;
};

} // namespace Orvex::GUI
