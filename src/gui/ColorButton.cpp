#include "gui/ColorButton.h"

#include <QColorDialog>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace Orvex::GUI {

ColorButton::ColorButton(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(false);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    m_dialogTitle = tr("Select Color");
    connect(this, &QToolButton::clicked, this, &ColorButton::chooseColor);
    updateToolTip();
}

QSize ColorButton::sizeHint() const {
    return {44, 24};
}

QSize ColorButton::minimumSizeHint() const {
    return {24, 18};
}

void ColorButton::setValue(int argb) {
    setColor(QColor::fromRgba(QRgb(argb)));
}

void ColorButton::setColor(const QColor& color) {
    if (!color.isValid()) return;
    m_color = color.toRgb();
    updateToolTip();
    update();
}

void ColorButton::updateToolTip() {
    const QString rgb =
        QStringLiteral("%1, %2, %3").arg(m_color.red()).arg(m_color.green()).arg(m_color.blue());
    setToolTip(m_color.alpha() == 255 ? rgb
                                      : rgb + QStringLiteral(" (%1%)").arg(qRound(m_color.alphaF() * 100.0)));
}

void ColorButton::chooseColor() {
    QColorDialog dialog(m_color, this);
    dialog.setWindowTitle(m_dialogTitle);
    dialog.setOption(QColorDialog::DontUseNativeDialog, true);
    dialog.setOption(QColorDialog::ShowAlphaChannel, m_transparentAllowed);
    if (dialog.exec() != QDialog::Accepted) return;
    QColor chosen = dialog.selectedColor();
    if (!chosen.isValid()) return;
    chosen = chosen.toRgb();
    if (!m_transparentAllowed) chosen.setAlpha(m_color.alpha() == 0 ? 255 : m_color.alpha());
    if (chosen.rgba() == m_color.rgba()) return;
    setColor(chosen);
    emit valueChanged(value());
}

void ColorButton::paintEvent(QPaintEvent*) {
    QStylePainter sp(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    sp.drawComplexControl(QStyle::CC_ToolButton, option);

    QPainter& p = sp;
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF swatch = QRectF(rect()).adjusted(5.5, 5.5, -5.5, -5.5);
    QPainterPath shape;
    shape.addRoundedRect(swatch, 2.5, 2.5);
    if (m_color.alpha() < 255) {
        // A checkerboard under translucent colours shows how much of the image shines through.
        p.save();
        p.setClipPath(shape);
        const int cell = 5;
        for (int y = 0; y * cell < swatch.height(); ++y)
            for (int x = 0; x * cell < swatch.width(); ++x)
                p.fillRect(QRectF(swatch.left() + x * cell, swatch.top() + y * cell, cell, cell),
                           ((x + y) & 1) ? QColor(200, 200, 200) : QColor(250, 250, 250));
        p.restore();
    }
    QColor fill = m_color;
    if (!isEnabled())
        fill = QColor::fromHsvF(fill.hsvHueF(), fill.hsvSaturationF() * 0.25, fill.valueF(), fill.alphaF());
    p.setPen(QPen(palette().color(QPalette::Dark), 1.0));
    p.setBrush(fill);
    p.drawPath(shape);
    if (m_color.alpha() == 0) {
        // Fully transparent: the usual "no colour" stroke.
        p.setPen(QPen(QColor(210, 40, 40), 1.5));
        p.drawLine(swatch.bottomLeft() + QPointF(1, -1), swatch.topRight() + QPointF(-1, 1));
    }
}

} // namespace Orvex::GUI
