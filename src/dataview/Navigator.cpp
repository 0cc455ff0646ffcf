#include "dataview/Navigator.h"

#include "dataview/Zoom.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace Orvex { namespace DataView {

// The thumbnail with the visible rectangle; maps clicks back to image coordinates.
class NavigatorThumbnail : public QWidget {
public:
    explicit NavigatorThumbnail(Navigator* owner) : QWidget(owner), m_owner(owner)
    {
        setMinimumSize(160, 120);
    }

    // Where the thumbnail is drawn inside the widget (aspect kept, centred).
    QRectF imageArea() const
    {
        const QSize image = m_owner->m_imageSize;
        if (image.isEmpty())
            return QRectF();
        const double s = std::min(double(width()) / image.width(), double(height()) / image.height());
        const QSizeF size(image.width() * s, image.height() * s);
        return QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), palette().window());
        const QRectF area = imageArea();
        if (area.isEmpty())
            return;
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(area, m_owner->m_thumbnail);
        const QRectF v = m_owner->m_visible;
        if (v.isEmpty())
            return;
        const double s = area.width() / m_owner->m_imageSize.width();
        const QRectF r(area.left() + v.left() * s, area.top() + v.top() * s, v.width() * s, v.height() * s);
        p.setPen(QPen(Qt::red, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.intersected(area).adjusted(0, 0, -1, -1));
    }
    void mousePressEvent(QMouseEvent* e) override { centre(e); }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (e->buttons() & Qt::LeftButton)
            centre(e);
    }

private:
    void centre(QMouseEvent* e)
    {
        const QRectF area = imageArea();
        if (area.isEmpty())
            return;
        const double s = m_owner->m_imageSize.width() / area.width();
        QPointF p((e->localPos().x() - area.left()) * s, (e->localPos().y() - area.top()) * s);
        p.setX(std::max(0.0, std::min<double>(m_owner->m_imageSize.width(), p.x())));
        p.setY(std::max(0.0, std::min<double>(m_owner->m_imageSize.height(), p.y())));
        emit m_owner->centerRequested(p);
    }
    Navigator* m_owner;
};

Navigator::Navigator(QWidget* parent) : QWidget(parent)
{
    m_view = new NavigatorThumbnail(this);

    m_reduce = new QAction(this);
    m_increase = new QAction(this);
    m_fit = new QAction(this);
    connect(m_reduce, &QAction::triggered, this, [this] { stepZoom(-Zoom::kNavigatorStep); });
    connect(m_increase, &QAction::triggered, this, [this] { stepZoom(Zoom::kNavigatorStep); });
    connect(m_fit, &QAction::triggered, this, &Navigator::fitRequested);

    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setRange(0, kSliderSteps);
    connect(m_slider, &QSlider::valueChanged, this, [this](int v) {
        if (m_syncing)
            return;
        const double z = Zoom::sliderToZoom(double(v) / kSliderSteps);
        if (z != m_zoom)
            emit zoomRequested(z);
    });

    m_down = new QToolButton(this);
    m_down->setDefaultAction(m_reduce);
    m_down->setText("-");
    m_up = new QToolButton(this);
    m_up->setDefaultAction(m_increase);
    m_up->setText("+");
    m_field = new QLabel(this);
    m_field->setMinimumWidth(fontMetrics().horizontalAdvance("6400.0%") + 6);
    m_field->setAlignment(Qt::AlignCenter);

    m_presets = new QComboBox(this);
    m_presets->addItems(Zoom::presetTexts());
    connect(m_presets, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        const auto factors = Zoom::presetFactors();
        if (index < 0 || index >= int(factors.size()))
            return;
        if (factors[index] == 0.0)
            emit fitRequested();
        else
            emit zoomRequested(factors[index]);
    });

    auto* row = new QHBoxLayout;
    row->addWidget(m_down);
    row->addWidget(m_field);
    row->addWidget(m_up);
    row->addWidget(m_presets, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_slider);
    layout->addLayout(row);
    retranslate();
    syncControls();
}

// The texts live in the catalogues' "Navigator" context (the class's short name), whatever
// namespace the class is in.
void Navigator::retranslate()
{
    setWindowTitle(QCoreApplication::translate("Navigator", "Navigator"));
    m_reduce->setText(QCoreApplication::translate("Navigator", "Reduce Scale"));
    m_increase->setText(QCoreApplication::translate("Navigator", "Increase Scale"));
    m_fit->setText(QCoreApplication::translate("Navigator", "Fit image"));
    // The tool buttons keep their short signs over the actions' texts.
    m_down->setText("-");
    m_up->setText("+");
    m_down->setToolTip(m_reduce->text());
    m_up->setToolTip(m_increase->text());
    // The last preset is the fit rule; the percentages need no translation.
    m_presets->setItemText(m_presets->count() - 1, QCoreApplication::translate("Navigator", "Fit image"));
}

void Navigator::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}

void Navigator::setImage(const QImage& thumbnail, const QSize& imageSize)
{
    m_thumbnail = thumbnail;
    m_imageSize = imageSize;
    m_view->update();
}

void Navigator::ImageZoomed(double zoom)
{
    m_zoom = Zoom::clamp(zoom);
    syncControls();
}

void Navigator::setVisibleRect(const QRectF& rect)
{
    m_visible = rect;
    m_view->update();
}

void Navigator::stepZoom(double delta)
{
    const double z = Zoom::step(m_zoom, delta);
    if (z != m_zoom)
        emit zoomRequested(z);
}

void Navigator::syncControls()
{
    m_syncing = true;
    m_slider->setValue(int(std::lround(Zoom::zoomToSlider(m_zoom) * kSliderSteps)));
    m_field->setText(Zoom::zoomText(m_zoom));
    // The drop-down shows the preset the zoom sits on, if any.
    const int preset = m_presets->findText(Zoom::zoomText(m_zoom));
    m_presets->setCurrentIndex(preset >= 0 ? preset : m_presets->count() - 1);
    m_reduce->setEnabled(m_zoom > Zoom::kMin);
    m_increase->setEnabled(m_zoom < Zoom::kMax);
    m_syncing = false;
}

}}  // namespace Orvex::DataView
