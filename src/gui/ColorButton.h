#pragma once
#include <QColor>
#include <QToolButton>

namespace Orvex::GUI {

// A colour swatch button. A click opens a colour dialog; choosing a different colour there reports
// it as ARGB (QRgb bits in an int) through `valueChanged(int)`. Setting the value in code reports
// nothing, so that filling a panel from a preset does not look like a user change.
//
// Transparency: by default the dialog offers no alpha and a picked colour keeps the button's alpha
// (made opaque when that alpha was 0), so the value never becomes fully transparent by accident. With
// `setTransparentAllowed(true)` the dialog offers alpha and any alpha, 0 included, is accepted.
class ColorButton : public QToolButton {
    Q_OBJECT
    Q_PROPERTY(int value READ value WRITE setValue NOTIFY valueChanged USER true)
public:
    explicit ColorButton(QWidget* parent = nullptr);

    int value() const { return int(m_color.rgba()); }
    QColor color() const { return m_color; }
    void setColor(const QColor& color);

    bool transparentAllowed() const { return m_transparentAllowed; }
    void setTransparentAllowed(bool on) { m_transparentAllowed = on; }

    // Window title of the colour dialog (default "Select Color").
    void setDialogTitle(const QString& title) { m_dialogTitle = title; }
    QString dialogTitle() const { return m_dialogTitle; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    void setValue(int argb);
    // Opens the dialog; on acceptance of a different colour, stores and reports it.
    void chooseColor();

signals:
    void valueChanged(int argb);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateToolTip();

    QColor m_color{Qt::white};
    bool m_transparentAllowed = false;
    QString m_dialogTitle;
};

} // namespace Orvex::GUI
