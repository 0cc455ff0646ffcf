#include "ui/PluginUI.h"
#include "ui/ActionSet.h"

#include "app/OrvexApplication.h"
#include "datastorage/DataPyramid.h"
#include "datastorage/PixelFormat.h"
#include "dataview/Navigator.h"
#include "dataview/Viewport.h"
#include "dataview/Zoom.h"
#include "document/filters/EffectRegistry.h"
#include "document/framework/Effects.h"
#include "document/framework/FilterMessages.h"
#include "document/framework/MaskToolFilter.h"
#include "document/framework/ToolFilter.h"
#include "imageio/PlaneConversion.h"
#include "ui/EvalProgressBar.h"
#include "ui/OptionsUI.h"
#include "ui/PresetsUI.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QStatusTipEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QSplitter>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QMouseEvent>
#include <QScrollArea>
#include <QSpinBox>
#include <QAction>
#include <QMenuBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace Orvex::UI {

using Document::FilterMessages;
using Document::Filters::EffectRegistry;
using Document::Filters::ToolFilter;
using DataStorage::PixelPlane;

namespace {

const char* const MakerName = "ORVEX";
const char* const ProductWebPage = "https://elemorama.example/";

QString bitDepthText(int32_t type) {
    switch (type) {
    case DataStorage::TypeU8:
        return QStringLiteral("8");
    case DataStorage::TypeU16:
        return QStringLiteral("16");
    case DataStorage::TypeF32:
        return QStringLiteral("32");
    default:
        return QStringLiteral("Unknown");
    }
}

// Converts `rect` of a plane (any sample type; alpha opaque when the plane has none) into the
// same pixels of an 8-bit RGBA picture of the plane's size.
void convertRegion(const PixelPlane& plane, const QRect& rect, QImage& picture) {
    const QRect r = rect.intersected(picture.rect());
    if (r.isEmpty()) return;
    const bool alpha = plane.hasChannel(DataStorage::ChannelAlpha);
    const uint32_t mask = alpha ? DataStorage::MaskRGBA : DataStorage::MaskRGB;
    const auto format = DataStorage::PixelFormat::fromMask(mask, DataStorage::TypeU8);
    const unsigned stride = unsigned(picture.bytesPerLine());
    uchar* first = picture.bits() + size_t(r.top()) * stride + size_t(r.left()) * 4;
    const DataStorage::RectI area{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
    if (alpha) {
        DataStorage::getData(plane, area, first, stride, format);
        return;
    }
    // RGB rows into the first three bytes of each RGBA pixel.
    std::vector<uint8_t> rgb(size_t(r.width()) * 3);
    for (int y = r.top(); y <= r.bottom(); ++y) {
        DataStorage::getData(plane, DataStorage::RectI{r.left(), y, r.right() + 1, y + 1}, rgb.data(), 0, format);
        uchar* out = picture.scanLine(y) + size_t(r.left()) * 4;
        for (int x = 0; x < r.width(); ++x) {
            out[4 * x] = rgb[3 * size_t(x)];
            out[4 * x + 1] = rgb[3 * size_t(x) + 1];
            out[4 * x + 2] = rgb[3 * size_t(x) + 2];
            out[4 * x + 3] = 255;
        }
    }
}

// An 8-bit RGBA picture of a whole plane.
QImage pictureOf(const PixelPlane& plane) {
    QImage image(plane.width(), plane.height(), QImage::Format_RGBA8888);
    if (!image.isNull()) convertRegion(plane, image.rect(), image);
    return image;
}

// The working plane as it is: RGB(A) in its own sample type.
ImageIO::ImageRecord recordOfPlane(const PixelPlane& plane) {
    ImageIO::ImageRecord image;
    image.width = plane.width();
    image.height = plane.height();
    image.model = ImageIO::ColorModel::RGB;
    image.sampleType = plane.commonType();
    image.hasAlpha = plane.hasChannel(DataStorage::ChannelAlpha);
    image.allocate();
    const uint32_t mask = image.hasAlpha ? DataStorage::MaskRGBA : DataStorage::MaskRGB;
    DataStorage::getData(plane, plane.bounds(), image.samples.data(), unsigned(image.rowBytes()),
                         DataStorage::PixelFormat::fromMask(mask, image.sampleType));
    return image;
}

} // namespace

// ---- ImagePreview --------------------------------------------------------------------------------

ImagePreview::ImagePreview(QWidget* parent, Drawing drawing) : QWidget(parent) {
    setObjectName(QStringLiteral("mainView"));
    setMinimumSize(240, 180);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    if (drawing != Drawing::Raster && useOpenGL(drawing)) {
        m_viewport = new GPU::Viewport(this, this);
        m_viewportHost = QWidget::createWindowContainer(m_viewport, this);
        m_viewportHost->setFocusPolicy(Qt::NoFocus);
        m_viewportHost->setGeometry(rect());
        // A context that could be probed but not used for the window: the raster painter takes
        // over, once the event loop is back (not from inside the viewport's own frame).
        connect(m_viewport, &GPU::Viewport::failed, this, &ImagePreview::dropViewport, Qt::QueuedConnection);
    }
    m_geometry.setViewSize(size());
}

ImagePreview::~ImagePreview() = default;

// Automatic draws through OpenGL only on a hardware renderer: with a software renderer (Mesa's
// llvmpipe) the raster painter draws a 1920 x 1080 frame about three times faster (see the
// image_view bench). ELEMORAMA_VIEW=gl asks for OpenGL on any renderer.
bool ImagePreview::useOpenGL(Drawing drawing) {
    const GPU::Viewport::Renderer renderer = GPU::Viewport::renderer();
    if (renderer == GPU::Viewport::Renderer::None) return false;
    if (drawing == Drawing::OpenGL || qgetenv("ELEMORAMA_VIEW") == "gl") return true;
    return renderer == GPU::Viewport::Renderer::Hardware;
}

void ImagePreview::dropViewport() {
    if (!m_viewport) return;
    m_viewportHost->hide();
    m_viewportHost->deleteLater(); // and the viewport window it holds
    m_viewportHost = nullptr;
    m_viewport = nullptr;
    update();
}

void ImagePreview::redraw() {
    if (m_viewport)
        m_viewport->scheduleFrame();
    else
        update();
}

void ImagePreview::setViewCursor(const QCursor* cursor) {
    // The viewport is a native window of its own: it shows its own cursor.
    if (cursor) {
        setCursor(*cursor);
        if (m_viewport) m_viewport->setCursor(*cursor);
    } else {
        unsetCursor();
        if (m_viewport) m_viewport->unsetCursor();
    }
}

QColor ImagePreview::sceneBackdrop() const {
    return palette().color(QPalette::Dark);
}

void ImagePreview::setPlane(Ref<PixelPlane> plane) {
    const QSize before = m_geometry.imageSize();
    m_plane = std::move(plane);
    m_pyramid.reset(m_plane ? new DataStorage::DataPyramid(m_plane) : nullptr);
    m_level = -1;
    // Before / After and new results keep the zoom and position; another picture starts fitted.
    m_geometry.setImageSize(m_plane ? QSize(m_plane->width(), m_plane->height()) : QSize());
    const bool sameSize = m_plane && m_geometry.imageSize() == before;
    if (m_viewport) m_viewport->imageReplaced();
    rebuild();
    viewChanged(!sameSize);
}

void ImagePreview::updateRegion(const QRect& imageRect) {
    if (!m_plane || !m_pyramid) return;
    const QRect changed = imageRect.intersected(QRect(0, 0, m_plane->width(), m_plane->height()));
    if (changed.isEmpty()) return;
    m_pyramid->invalidate();
    if (m_level == 0 && !m_image.isNull()) {
        convertRegion(*m_plane, changed, m_image);
    } else if (m_level > 0) {
        const Ref<PixelPlane> level = m_pyramid->level(m_level);
        m_image = level ? pictureOf(*level) : QImage();
    }
    if (m_viewport) m_viewport->imageChanged(changed);
    redraw();
}

void ImagePreview::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_viewportHost) m_viewportHost->setGeometry(rect());
    m_geometry.setViewSize(size());
    rebuild();
    rebuildOverlay();
    viewChanged(fitted());
}

// The picture is remade only when the zoom calls for another pyramid level: panning and zoom
// steps within one level just draw it again.
void ImagePreview::rebuild() {
    if (!m_plane || !m_pyramid || width() <= 0 || height() <= 0) {
        m_image = QImage();
        m_level = -1;
        redraw();
        return;
    }
    const int index = m_pyramid->levelForZoom(std::min(zoom() * devicePixelRatioF(), 1.0));
    if (index != m_level || m_image.isNull()) {
        const Ref<PixelPlane> level = m_pyramid->level(index);
        m_image = level ? pictureOf(*level) : QImage();
        m_level = level ? index : -1;
    }
    redraw();
}

QImage ImagePreview::thumbnail(int maxSide) const {
    if (!m_plane || !m_pyramid || maxSide < 1) return {};
    const double scale = double(maxSide) / std::max(m_plane->width(), m_plane->height());
    const Ref<PixelPlane> level = m_pyramid->level(m_pyramid->levelForZoom(std::min(scale, 1.0)));
    if (!level) return {};
    const QImage picture = pictureOf(*level);
    return picture.width() > maxSide || picture.height() > maxSide
               ? picture.scaled(maxSide, maxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
               : picture;
}

void ImagePreview::viewChanged(bool zoomed) {
    if (zoomed) emit ImageZoomed(zoom());
    emit visibleRectChanged(visibleRect());
}

void ImagePreview::zoomAround(double newZoom, const QPointF& viewPoint) {
    if (!m_geometry.zoomAround(newZoom, viewPoint)) return;
    rebuild();
    rebuildOverlay();
    viewChanged(true);
}

void ImagePreview::fitImage() {
    if (!m_geometry.fit()) return;
    rebuild();
    rebuildOverlay();
    viewChanged(true);
}

void ImagePreview::setZoom(double newZoom) {
    zoomAround(newZoom, QPointF(width() / 2.0, height() / 2.0));
}

void ImagePreview::centerOn(const QPointF& imagePoint) {
    if (!m_plane || fitted()) return;
    m_geometry.centerOn(imagePoint);
    redraw();
    viewChanged(false);
}

void ImagePreview::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (!m_plane || delta == 0) return QWidget::wheelEvent(event);
    const double next = DataView::Zoom::wheelStep(zoom(), delta);
    if (next != zoom()) zoomAround(next, event->position());
    event->accept();
}

void ImagePreview::setLines(std::vector<QLineF> lines) {
    m_lines = std::move(lines);
    redraw();
}

void ImagePreview::redrawDecorations() {
    redraw();
}

void ImagePreview::setTransformFrame(const Orvex::TransformTool* frame) {
    m_frame = frame;
    redraw();
}

void ImagePreview::setMaskOverlay(Ref<DataStorage::DataChannel> mask) {
    m_mask = std::move(mask);
    rebuildOverlay();
    redraw();
}

void ImagePreview::setSelectionDisplay(bool filled, QRgb argb) {
    m_selectionFilled = filled;
    m_selectionColor = argb;
    rebuildOverlay();
    redraw();
}

// The mask, reduced to about the size it is shown at: filled, a tint of the selection colour whose
// opacity follows the mask; otherwise the outline where the mask crosses one half, in dashes of
// black and white.
void ImagePreview::rebuildOverlay() {
    m_overlay = QImage();
    if (!m_mask || !m_plane || m_mask->width() != m_plane->width() || m_mask->height() != m_plane->height())
        return;
    const QRectF t = m_geometry.target();
    const int w = std::max(1, std::min(m_mask->width(), int(std::ceil(t.width() * devicePixelRatioF()))));
    const int h = std::max(1, std::min(m_mask->height(), int(std::ceil(t.height() * devicePixelRatioF()))));
    m_overlay = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    // The mask sampled at the overlay's pixels, with a border row above and below for the outline.
    std::vector<uint8_t> row(size_t(m_mask->width()));
    std::vector<uint8_t> grid(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const int sy = std::min(m_mask->height() - 1, int((y + 0.5) * m_mask->height() / h));
        DataStorage::getData(*m_mask, DataStorage::RectI{0, sy, m_mask->width(), sy + 1}, row.data(), 0);
        for (int x = 0; x < w; ++x)
            grid[size_t(y) * size_t(w) + size_t(x)] =
                row[size_t(std::min(m_mask->width() - 1, int((x + 0.5) * m_mask->width() / w)))];
    }
    const int alpha = qAlpha(m_selectionColor);
    for (int y = 0; y < h; ++y) {
        auto* out = reinterpret_cast<QRgb*>(m_overlay.scanLine(y));
        const uint8_t* g = grid.data() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) {
            if (m_selectionFilled) {
                const int a = g[x] * alpha / 255;
                out[x] = qRgba(qRed(m_selectionColor) * a / 255, qGreen(m_selectionColor) * a / 255,
                               qBlue(m_selectionColor) * a / 255, a);
                continue;
            }
            const bool inside = g[x] >= 128;
            const bool edge = inside && (x == 0 || y == 0 || x == w - 1 || y == h - 1 || g[x - 1] < 128 ||
                                         g[x + 1] < 128 || (g - w)[x] < 128 || (g + w)[x] < 128);
            out[x] = !edge ? 0u : ((x + y) / 4) % 2 ? qRgba(255, 255, 255, 255) : qRgba(0, 0, 0, 255);
        }
    }
}

void ImagePreview::paintEvent(QPaintEvent*) {
    // The viewport covers the widget on the screen; a grab (QWidget::grab, render) cannot see
    // into that native window, so it gets the raster painter's frame.
    if (m_viewport && !redirected(nullptr)) return;
    QPainter painter(this);
    paintRaster(painter);
}

void ImagePreview::paintRaster(QPainter& painter) const {
    painter.fillRect(rect(), sceneBackdrop());
    if (m_image.isNull() || !m_plane) return;
    const QRectF t = m_geometry.target();
    // A checkered backdrop shows where the image is transparent.
    QPixmap checker(16, 16);
    checker.fill(QColor(200, 200, 200));
    {
        QPainter p(&checker);
        p.fillRect(0, 0, 8, 8, QColor(150, 150, 150));
        p.fillRect(8, 8, 8, 8, QColor(150, 150, 150));
    }
    painter.fillRect(t, QBrush(checker));
    painter.setRenderHint(QPainter::SmoothPixmapTransform, sceneSmooth());
    painter.drawImage(t, m_image);
    if (!m_overlay.isNull()) painter.drawImage(t, m_overlay);
    paintSceneDecorations(painter);
}

void ImagePreview::paintSceneDecorations(QPainter& painter) const {
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (int pass = 0; pass < 2 && !m_lines.empty(); ++pass) {
        // A dark outline under a light line keeps the lines visible on any photo.
        painter.setPen(QPen(pass == 0 ? QColor(0, 0, 0, 160) : QColor(255, 230, 90), pass == 0 ? 4.0 : 2.0,
                            Qt::SolidLine, Qt::RoundCap));
        for (const QLineF& line : m_lines) painter.drawLine(toView(line.p1()), toView(line.p2()));
    }
    if (m_frame && m_frame->isVisible()) {
        // The view maps image pixels by a zoom and an offset.
        const QPointF origin = toView(QPointF(0, 0)), unit = toView(QPointF(1, 1)) - origin;
        m_frame->paint(painter, QTransform(unit.x(), 0, 0, unit.y(), origin.x(), origin.y()));
    }
}

void ImagePreview::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton && m_plane && !fitted()) {
        m_panning = true;
        m_panFrom = event->localPos();
        const QCursor hand(Qt::ClosedHandCursor);
        setViewCursor(&hand);
        return;
    }
    if (event->button() != Qt::LeftButton || !m_plane) return QWidget::mousePressEvent(event);
    m_pressed = true;
    emit pointer(1, toImage(event->localPos()), event->modifiers());
}

void ImagePreview::mouseMoveEvent(QMouseEvent* event) {
    if (m_panning) {
        m_geometry.panBy(event->localPos() - m_panFrom);
        m_panFrom = event->localPos();
        redraw();
        viewChanged(false);
        return;
    }
    if (!m_pressed) return QWidget::mouseMoveEvent(event);
    emit pointer(2, toImage(event->localPos()), event->modifiers());
}

void ImagePreview::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton && m_panning) {
        m_panning = false;
        setViewCursor(nullptr);
        return;
    }
    if (event->button() != Qt::LeftButton || !m_pressed) return QWidget::mouseReleaseEvent(event);
    m_pressed = false;
    emit pointer(3, toImage(event->localPos()), event->modifiers());
}

// ---- PluginUI ------------------------------------------------------------------------------------

PluginUI::PluginUI(QWidget* parent, Qt::WindowFlags flags, short* result, WindowSession session,
                   const SettingsGroupRW& settings)
    : QWidget(parent, flags), m_result(result), m_session(std::move(session)), m_settings(settings),
      m_document(m_session.image, m_session.selection) {
    *m_result = Cancelled;
    setObjectName(QStringLiteral("PluginUIClass"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    qWarning("PU.1\n");
    buildForm();
    const QByteArray geometry = m_settings.value(QStringLiteral("geometry"), QByteArray()).toByteArray();
    if (!geometry.isEmpty()) restoreGeometry(geometry);
    m_document.setHistoryLimit(std::clamp(m_settings.value(QStringLiteral("undoCount"), 25).toInt(), 1, 100));
    const bool autoRun = m_settings.value(QStringLiteral("AutoRunMode"), false).toBool();
    m_autoRun->setChecked(autoRun);
    setTopbarExpanded(m_settings.value(QStringLiteral("Topbar/isExpanded"), true).toBool());
    qWarning("PU.5\n");

    for (int id : Document::Filters::listedEffects()) {
        const auto* info = EffectRegistry::byId(id);
        if (!info) continue;
        m_comboEffect->addItem(QString::fromLatin1(info->shortName), id);
    }
    int stored = m_settings.value(QStringLiteral("Effect"), 0).toInt();
    if (stored < 0 || stored > 11) stored = 0;
    const int index = std::max(0, m_comboEffect->findData(stored));
    connect(m_comboEffect, QOverload<int>::of(&QComboBox::activated), this,
            [this](int i) { OnEffectChanged(i, true); });
    if (auto* app = OrvexApplication::instance())
        connect(app, &OrvexApplication::languageChanged, this, &PluginUI::setLang);
    qWarning("PU.6\n");
    m_view->setPlane(m_session.image);
    applySelectionDisplay();
    // The preferences' initial zoom: the whole image in the view, or its pixels at 100 %.
    if (m_session.image && !m_settings.value(QStringLiteral("InitialFit"), true).toBool()) {
        m_view->setZoom(1.0);
        m_view->centerOn(QPointF(m_session.image->width() / 2.0, m_session.image->height() / 2.0));
    }
    if (m_session.image)
        m_navigator->setImage(m_view->thumbnail(240), QSize(m_session.image->width(), m_session.image->height()));
    setAfter();
    OnEffectChanged(index, false);
    retranslate();
    updateActions();
    qWarning("PU.12\n");
}

PluginUI::~PluginUI() {
    if (m_view) m_view->setTransformFrame(nullptr);
    if (m_filter) {
        disconnect(m_filter.get(), nullptr, this, nullptr);
        m_filter->Deactivate();
        m_filter->DetachView();
    }
    m_settings.setValue(QStringLiteral("geometry"), saveGeometry());
    m_settings.setValue(QStringLiteral("Effect"), currentEffectId());
    m_settings.setValue(QStringLiteral("boxNavgExpanded"), m_navigatorBox->isChecked());
    m_settings.setValue(QStringLiteral("Topbar/isExpanded"), m_topbarExpanded);
}

void PluginUI::setTopbarExpanded(bool expanded) {
    m_topbarExpanded = expanded;
    {
        const QSignalBlocker block(m_topbarToggle);
        m_topbarToggle->setChecked(expanded);
    }
    m_topbarToggle->setArrowType(expanded ? Qt::LeftArrow : Qt::RightArrow);
    m_topbarToggle->setToolTip(expanded ? QCoreApplication::translate("PluginUIClass", "Fold the top bar")
                                        : QCoreApplication::translate("PluginUIClass", "Unfold the top bar"));
    for (QWidget* w : m_topbarFolded) w->setVisible(expanded);
    // The strokes buttons belong to an effect: unfolding shows them only when there is one.
    if (expanded) {
        m_loadStrokes->setVisible(m_filter != nullptr);
        m_saveStrokes->setVisible(m_filter != nullptr);
    }
}

void PluginUI::buildForm() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(6);

    auto* topbar = new QHBoxLayout;
    topbar->setSpacing(4);
    auto button = [&](const char* name, bool checkable = false) {
        auto* b = new QPushButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setCheckable(checkable);
        topbar->addWidget(b);
        return b;
    };
    m_logo = button("topbar/click_me");
    topbar->addSpacing(12);
    m_loadPreset = button("topbar/load_preset");
    m_savePreset = button("topbar/save_preset");
    m_loadStrokes = button("topbar/load_outlines");
    m_saveStrokes = button("topbar/save_outlines");
    m_undo = button("topbar/undo");
    m_redo = button("topbar/redo");
    topbar->addStretch(1);
    m_run = button("topbar/run", true);
    m_ok = button("topbar/ok");
    m_cancel = button("topbar/cancel");
    m_settingsButton = button("topbar/settings");
    m_help = button("topbar/help");
    m_topbarFolded = {m_logo, m_loadPreset, m_savePreset, m_loadStrokes, m_saveStrokes, m_undo, m_redo,
                      m_settingsButton, m_help};
    m_topbarToggle = new QToolButton(this);
    m_topbarToggle->setObjectName(QStringLiteral("topbar/expand"));
    m_topbarToggle->setCheckable(true);
    m_topbarToggle->setAutoRaise(true);
    topbar->insertWidget(0, m_topbarToggle);
    connect(m_topbarToggle, &QToolButton::toggled, this, &PluginUI::setTopbarExpanded);
    column->addLayout(topbar);

    auto* body = m_body = new QHBoxLayout;
    body->setSpacing(8);
    m_view = new ImagePreview(this);
    // The image and the side column share a splitter; its handle moves only while the control
    // panel is unlocked (preferences), so a locked panel keeps its width.
    m_split = new QSplitter(Qt::Horizontal, this);
    m_split->setObjectName(QStringLiteral("bodySplitter"));
    m_split->setChildrenCollapsible(false);
    m_split->addWidget(m_view);
    body->addWidget(m_split, 1);

    auto* side = m_side = new QVBoxLayout;
    side->setSpacing(6);
    auto* effectRow = new QHBoxLayout;
    m_effectLabel = new QLabel(this);
    m_comboEffect = new QComboBox(this);
    m_comboEffect->setObjectName(QStringLiteral("comboEffect"));
    effectRow->addWidget(m_effectLabel);
    effectRow->addWidget(m_comboEffect, 1);
    side->addLayout(effectRow);

    auto* views = new QHBoxLayout;
    m_before = new QPushButton(this);
    m_before->setObjectName(QStringLiteral("btnBefore"));
    m_after = new QPushButton(this);
    m_after->setObjectName(QStringLiteral("btnAfter"));
    m_beforeAfter = new QButtonGroup(this);
    for (QPushButton* b : {m_before, m_after}) {
        b->setCheckable(true);
        m_beforeAfter->addButton(b);
        views->addWidget(b);
    }
    m_beforeAfter->setExclusive(true);
    side->addLayout(views);

    // The navigator: the whole image with the part in view, and the zoom controls.
    // It folds away under its header, as the user left it last time.
    m_navigatorBox = new QToolButton(this);
    m_navigatorBox->setObjectName(QStringLiteral("boxNavg"));
    m_navigatorBox->setCheckable(true);
    m_navigatorBox->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_navigatorBox->setAutoRaise(true);
    side->addWidget(m_navigatorBox);
    m_navigator = new DataView::Navigator(this);
    m_navigator->setObjectName(QStringLiteral("navigator"));
    side->addWidget(m_navigator);
    connect(m_navigatorBox, &QToolButton::toggled, this, [this](bool open) {
        m_navigator->setVisible(open);
        m_navigatorBox->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    });
    const bool navigatorOpen = m_settings.value(QStringLiteral("boxNavgExpanded"), true).toBool();
    m_navigatorBox->setChecked(navigatorOpen);
    m_navigator->setVisible(navigatorOpen);
    m_navigatorBox->setArrowType(navigatorOpen ? Qt::DownArrow : Qt::RightArrow);
    connect(m_view, &ImagePreview::ImageZoomed, m_navigator, &DataView::Navigator::ImageZoomed);
    connect(m_view, &ImagePreview::visibleRectChanged, m_navigator, &DataView::Navigator::setVisibleRect);
    connect(m_navigator, &DataView::Navigator::zoomRequested, m_view, &ImagePreview::setZoom);
    connect(m_navigator, &DataView::Navigator::fitRequested, m_view, &ImagePreview::fitImage);
    connect(m_navigator, &DataView::Navigator::centerRequested, m_view, &ImagePreview::centerOn);

    // The tools of the current effect (filled by updateTools), with the brush or eraser size.
    m_toolRow = new QWidget(this);
    m_toolRow->setObjectName(QStringLiteral("toolRow"));
    auto* tools = new QHBoxLayout(m_toolRow);
    tools->setContentsMargins(0, 0, 0, 0);
    m_toolGroup = new QButtonGroup(this);
    m_toolGroup->setExclusive(true);
    tools->addStretch(1);
    m_showStrokes = new QCheckBox(m_toolRow);
    m_showStrokes->setObjectName(QStringLiteral("ckShowStrokes"));
    tools->addWidget(m_showStrokes);
    m_toolSizeLabel = new QLabel(m_toolRow);
    m_toolSize = new QSpinBox(m_toolRow);
    m_toolSize->setObjectName(QStringLiteral("toolSize"));
    m_toolSize->setRange(1, 1000);
    m_toolSize->setValue(40);
    m_toolSize->setSuffix(QStringLiteral(" px"));
    tools->addWidget(m_toolSizeLabel);
    tools->addWidget(m_toolSize);
    side->addWidget(m_toolRow);

    m_panelArea = new QScrollArea(this);
    m_panelArea->setObjectName(QStringLiteral("panelArea"));
    m_panelArea->setWidgetResizable(true);
    m_panelArea->setFrameShape(QFrame::NoFrame);
    m_panelArea->setMinimumWidth(330);
    m_panelArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    side->addWidget(m_panelArea, 1);

    m_autoRun = new QCheckBox(this);
    m_autoRun->setObjectName(QStringLiteral("ckAutoRun"));
    side->addWidget(m_autoRun);
    m_progress = new EvalProgressBar(nullptr, EvalProgressBar::CancelMode, this);
    m_progress->setObjectName(QStringLiteral("progressBar"));
    // The bar shows while a job runs; its place is kept so that the panel does not jump.
    QSizePolicy keepPlace = m_progress->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    m_progress->setSizePolicy(keepPlace);
    m_progress->hide();
    auto* busyWatch = new QTimer(this);
    connect(busyWatch, &QTimer::timeout, this, [this] {
        const bool busy = m_filter && m_filter->isProcessing();
        if (m_progress->isVisible() != busy) m_progress->setVisible(busy);
    });
    busyWatch->start(100);
    side->addWidget(m_progress);
    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("hintLabel"));
    m_hint->setWordWrap(true);
    m_hint->setMinimumHeight(48);
    m_hint->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    auto* sidePanel = new QWidget(this);
    sidePanel->setObjectName(QStringLiteral("sidePanel"));
    side->setContentsMargins(0, 0, 0, 0);
    sidePanel->setLayout(side);
    m_split->addWidget(sidePanel);
    m_split->setStretchFactor(0, 1);
    m_split->setStretchFactor(1, 0);
    placeHints();
    applyPanelLock();
    column->addLayout(body, 1);

    connect(m_before, &QPushButton::clicked, this, [this] { setBefore(true); });
    connect(m_after, &QPushButton::clicked, this, [this] { setAfter(true); });
    connect(m_autoRun, &QCheckBox::clicked, this, &PluginUI::OnAutoRunClicked);
    connect(m_logo, &QPushButton::clicked, this, &PluginUI::launchLink);
    connect(m_ok, &QPushButton::clicked, this, &PluginUI::saveChanges);
    connect(m_cancel, &QPushButton::clicked, this, &QWidget::close);
    connect(m_run, &QPushButton::clicked, this, [this] {
        // The button shows the running state; a press starts the final render.
        m_run->setChecked(m_running);
        runFilter();
    });
    connect(m_settingsButton, &QPushButton::clicked, this, &PluginUI::showOption);
    connect(m_help, &QPushButton::clicked, this, &PluginUI::showHelpPages);
    // The menu bar and the shortcuts: the same commands as the buttons.
    m_actions = new ElemoramaActionSet(this);
    column->setMenuBar(m_actions->createMenuBar(this));
    connect(m_actions->save, &QAction::triggered, this, &PluginUI::my_btnFileSave_clicked);
    connect(m_actions->print, &QAction::triggered, this, &PluginUI::my_btnPrint_clicked);
    connect(m_actions->apply, &QAction::triggered, this, &PluginUI::saveChanges);
    connect(m_actions->run, &QAction::triggered, this, [this] { runFilter(); });
    connect(m_actions->preferences, &QAction::triggered, this, &PluginUI::showOption);
    connect(m_actions->cancel, &QAction::triggered, this, &QWidget::close);
    connect(m_actions->undo, &QAction::triggered, this, &PluginUI::Undo);
    connect(m_actions->redo, &QAction::triggered, this, &PluginUI::Redo);
    connect(m_actions->help, &QAction::triggered, this, &PluginUI::showHelpPages);
    connect(m_actions->homePage, &QAction::triggered, this, &PluginUI::launchLink);
    connect(m_loadPreset, &QPushButton::clicked, this, &PluginUI::my_btnLoadPreset_clicked);
    connect(m_savePreset, &QPushButton::clicked, this, &PluginUI::my_btnSavePreset_clicked);
    connect(m_loadStrokes, &QPushButton::clicked, this, &PluginUI::my_btnStrokeLoad_clicked);
    connect(m_saveStrokes, &QPushButton::clicked, this, &PluginUI::my_btnStrokeSave_clicked);
    connect(m_undo, &QPushButton::clicked, this, &PluginUI::Undo);
    connect(m_redo, &QPushButton::clicked, this, &PluginUI::Redo);
    connect(m_view, &ImagePreview::pointer, this, &PluginUI::OnViewPointer);
    connect(m_showStrokes, &QCheckBox::toggled, this, [this] { updateMaskOverlay(); });
    connect(m_toolGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (auto* trunk = qobject_cast<Document::Filters::TrunkToolFilter*>(m_filter.get()))
            trunk->selectLineTool(id);
        else if (m_filter)
            m_filter->SelectTool(id);
    });
    connect(m_toolSize, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int size) {
        if (auto* trunk = qobject_cast<Document::Filters::TrunkToolFilter*>(m_filter.get()))
            trunk->setEraserSize(size);
        else if (m_filter)
            m_filter->setPenSize(size);
    });
    // The hints panel tells what the control under the pointer does.
    setHintKey(m_logo, "PluginUIClass", "BTN_LOGO_HINT");
    setHintKey(m_topbarToggle, "PluginUIClass", "BTN_TOPBAR_HINT");
    setHintKey(m_loadPreset, "PluginUIClass", "BTN_LOAD_PRESET_HINT");
    setHintKey(m_savePreset, "PluginUIClass", "BTN_SAVE_PRESET_HINT");
    setHintKey(m_loadStrokes, "PluginUIClass", "BTN_STROKELOAD_HINT");
    setHintKey(m_saveStrokes, "PluginUIClass", "BTN_STROKESAVE_HINT");
    setHintKey(m_showStrokes, "PluginUIClass", "BTN_SHOWSTROKES_HINT");
    setHintKey(m_view, "PluginUIClass", "MAINVIEW_HINT");
    setHintKey(m_comboEffect, "PluginUIClass", "EFFECT_COMBO_BOX_HINT");
    setHintKey(m_navigator, "PluginUIClass", "NAVIGATOR_HINT");
    setHintKey(m_autoRun, "PluginUIClass", "BTN_AUTORUN_HINT");
    setHintKey(m_before, "PluginUIClass", "BTN_BEFORE_HINT");
    setHintKey(m_after, "PluginUIClass", "BTN_AFTER_HINT");
    setHintKey(m_toolSize, "PluginUIClass", "TOOL_SIZE_HINT");
    setHintKey(m_undo, "CommonText", "BTN_UNDO_HINT");
    setHintKey(m_redo, "CommonText", "BTN_REDO_HINT");
    setHintKey(m_run, "CommonText", "Run_HINT");
    setHintKey(m_ok, "CommonText", "Apply_HINT");
    setHintKey(m_cancel, "CommonText", "Cancel_HINT");
    setHintKey(m_settingsButton, "CommonText", "BTN_OPTION_HINT");
    setHintKey(m_help, "CommonText", "Help_HINT");
    m_panelArea->installEventFilter(this); // its key follows the effect (retranslateHints)
    resize(1180, 760);
}

// The effects' names as the window lists them (for the translation tools).
const char* const EffectNames[] = {
    QT_TRANSLATE_NOOP("PluginUIClass", "Rain"),     QT_TRANSLATE_NOOP("PluginUIClass", "Sun"),
    QT_TRANSLATE_NOOP("PluginUIClass", "Water"),    QT_TRANSLATE_NOOP("PluginUIClass", "Lightning"),
    QT_TRANSLATE_NOOP("PluginUIClass", "Cumulus"),  QT_TRANSLATE_NOOP("PluginUIClass", "Frost"),
    QT_TRANSLATE_NOOP("PluginUIClass", "Fire"),     QT_TRANSLATE_NOOP("PluginUIClass", "Ice"),
    QT_TRANSLATE_NOOP("PluginUIClass", "Rainbow"),  QT_TRANSLATE_NOOP("PluginUIClass", "Aurora"),
    QT_TRANSLATE_NOOP("PluginUIClass", "NightSky"), QT_TRANSLATE_NOOP("PluginUIClass", "Snow"),
};

void PluginUI::retranslate() {
    const QString maker = QString::fromLatin1(MakerName);
    m_logo->setText(maker);
    m_logo->setToolTip(QCoreApplication::translate("MacMenu", "%1 home page...").arg(maker));
    m_loadPreset->setText(QCoreApplication::translate("PluginUIClass", "Import presets"));
    m_savePreset->setText(QCoreApplication::translate("PluginUIClass", "Export presets"));
    m_loadStrokes->setText(QCoreApplication::translate("PluginUIClass", "Load selection"));
    m_saveStrokes->setText(QCoreApplication::translate("PluginUIClass", "Save selection"));
    m_undo->setText(QCoreApplication::translate("CommonText", "Undo"));
    m_undo->setToolTip(QCoreApplication::translate("CommonText", "Undo"));
    m_redo->setText(QCoreApplication::translate("CommonText", "Redo"));
    m_navigatorBox->setText(QCoreApplication::translate("PluginUIClass", "Navigator"));
    m_navigator->retranslate();
    m_help->setText(QCoreApplication::translate("CommonText", "Help"));
    m_help->setToolTip(QCoreApplication::translate("CommonText", "Help"));
    m_actions->retranslate();
    setTopbarExpanded(m_topbarExpanded); // its tooltip
    m_redo->setToolTip(QCoreApplication::translate("CommonText", "Redo"));
    m_run->setText(QCoreApplication::translate("CommonText", "Run"));
    m_run->setToolTip(QCoreApplication::translate("CommonText", "Run"));
    m_ok->setText(QCoreApplication::translate("PluginUIClass", "Apply"));
    m_ok->setToolTip(QCoreApplication::translate("CommonText", "Apply the result to the image"));
    m_cancel->setText(QCoreApplication::translate("PluginUIClass", "Cancel"));
    m_cancel->setToolTip(QCoreApplication::translate("CommonText", "Cancel the result"));
    m_settingsButton->setText(QCoreApplication::translate("CommonText", "Preferences"));
    m_settingsButton->setToolTip(QCoreApplication::translate("PluginUIClass", "Show options"));
    m_before->setText(QCoreApplication::translate("PluginUIClass", "Before"));
    m_after->setText(QCoreApplication::translate("PluginUIClass", "After"));
    m_autoRun->setText(QCoreApplication::translate("PluginUIClass", "Autorun mode"));
    m_showStrokes->setText(QCoreApplication::translate("PluginUIClass", "Show Stroke"));
    m_effectLabel->setText(QCoreApplication::translate("PluginUIClass", "Effect:"));
    for (int i = 0; i < m_comboEffect->count(); ++i) {
        const int id = m_comboEffect->itemData(i).toInt();
        if (id >= 0 && id < int(std::size(EffectNames)))
            m_comboEffect->setItemText(i, QCoreApplication::translate("PluginUIClass", EffectNames[id]));
    }
    if (m_filter) m_filter->Retranslate();
    retranslateHints();
    showRestingHint();
    updateTitle();
}

// The hint keys of the window's controls (for the translation tools).
const char* const WindowHintKeys[] = {
    QT_TRANSLATE_NOOP("PluginUIClass", "BTN_LOAD_PRESET_HINT"), QT_TRANSLATE_NOOP("PluginUIClass", "BTN_SAVE_PRESET_HINT"),
    QT_TRANSLATE_NOOP("PluginUIClass", "BTN_STROKELOAD_HINT"),  QT_TRANSLATE_NOOP("PluginUIClass", "BTN_STROKESAVE_HINT"),
    QT_TRANSLATE_NOOP("PluginUIClass", "BTN_SHOWSTROKES_HINT"), QT_TRANSLATE_NOOP("PluginUIClass", "MAINVIEW_HINT"),
    QT_TRANSLATE_NOOP("PluginUIClass", "EFFECT_COMBO_BOX_HINT"), QT_TRANSLATE_NOOP("PluginUIClass", "NAVIGATOR_HINT"),
    QT_TRANSLATE_NOOP("PluginUIClass", "BTN_AUTORUN_HINT"),     QT_TRANSLATE_NOOP("PluginUIClass", "BTN_BEFORE_HINT"),
    QT_TRANSLATE_NOOP("PluginUIClass", "BTN_AFTER_HINT"),       QT_TRANSLATE_NOOP("PluginUIClass", "BTN_LOGO_HINT"),
    QT_TRANSLATE_NOOP("PluginUIClass", "BTN_TOPBAR_HINT"),      QT_TRANSLATE_NOOP("PluginUIClass", "TOOL_SIZE_HINT"),
    QT_TRANSLATE_NOOP("CommonText", "Help_HINT"),               QT_TRANSLATE_NOOP("CommonText", "BTN_REDO_HINT"),
    QT_TRANSLATE_NOOP("CommonText", "BTN_UNDO_HINT"),           QT_TRANSLATE_NOOP("CommonText", "LoadImage_HINT"),
    QT_TRANSLATE_NOOP("CommonText", "SaveImage_HINT"),          QT_TRANSLATE_NOOP("CommonText", "Print_HINT"),
    QT_TRANSLATE_NOOP("CommonText", "Apply_HINT"),              QT_TRANSLATE_NOOP("CommonText", "BTN_OPTION_HINT"),
    QT_TRANSLATE_NOOP("CommonText", "Run_HINT"),                QT_TRANSLATE_NOOP("CommonText", "Cancel_HINT"),
};

void PluginUI::setHintKey(QObject* control, const char* context, const char* key) {
    control->setProperty("hintContext", QByteArray(context));
    control->setProperty("hintKey", QByteArray(key));
    if (control->isWidgetType()) control->installEventFilter(this);
}

QString PluginUI::hintOf(const QObject* control) const {
    const QByteArray key = control->property("hintKey").toByteArray();
    if (key.isEmpty()) return control->property("hintText").toString();
    return QCoreApplication::translate(control->property("hintContext").toByteArray().constData(), key.constData());
}

// Each control's hint doubles as its status tip, so that the menus' hints and a status bar of a
// host window say the same.
void PluginUI::retranslateHints() {
    for (QWidget* w : findChildren<QWidget*>())
        if (w->property("hintKey").isValid()) w->setStatusTip(hintOf(w));
    // The effect panel speaks for the effect.
    if (m_filter) {
        const QString key = m_filter->classInfo("FilterDescription");
        m_panelArea->setProperty("hintContext", QByteArray("DocumentFilters"));
        m_panelArea->setProperty("hintKey", key.toUtf8());
    } else {
        m_panelArea->setProperty("hintKey", QVariant());
    }
    m_panelArea->setStatusTip(hintOf(m_panelArea));
}

QString PluginUI::hintText() const {
    return m_hint->text();
}

void PluginUI::showHint(const QString& text) {
    if (m_hint->text() != text) m_hint->setText(text);
}

// With the pointer over no control the panel shows how to start, then what the effect does.
void PluginUI::showRestingHint() {
    QString text = QCoreApplication::translate("DocumentFilters", "startTEXT");
    const QString effect = hintOf(m_panelArea);
    if (!effect.isEmpty()) text += QStringLiteral("\n\n") + effect;
    showHint(text);
}

bool PluginUI::event(QEvent* event) {
    // The menus' status tips (and those of controls without a filter) go to the hints panel.
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        if (tip.isEmpty())
            showRestingHint();
        else
            showHint(tip);
        return true;
    }
    return QWidget::event(event);
}

bool PluginUI::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter) {
        const QString hint = hintOf(watched);
        if (!hint.isEmpty()) showHint(hint);
    } else if (event->type() == QEvent::Leave) {
        showRestingHint();
    }
    return QWidget::eventFilter(watched, event);
}

void PluginUI::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) retranslate();
    QWidget::changeEvent(event);
}

void PluginUI::setLang(const QString&) {
    retranslate();
}

int PluginUI::currentEffectId() const {
    return m_filter ? m_filter->effectId() : m_comboEffect->currentData().toInt();
}

void PluginUI::updateTitle() {
    const QString base = QStringLiteral("%1 %2 v.%3")
                             .arg(QString::fromLatin1(MakerName), OrvexApplication::ProductName,
                                  QStringLiteral(ELEMORAMA_VERSION_SHORT));
    if (!m_filter || !m_session.image) {
        setWindowTitle(base);
        return;
    }
    setWindowTitle(QStringLiteral("%1 - %2 (%5/%6, %3x%4)")
                       .arg(base, m_session.hostFileName)
                       .arg(m_session.image->width())
                       .arg(m_session.image->height())
                       .arg(QStringLiteral("RGB"), bitDepthText(m_session.image->commonType())));
}

void PluginUI::OnEffectChanged(int effectIdx, bool fromUi) {
    Q_UNUSED(fromUi);
    if (effectIdx < 0 || effectIdx >= m_comboEffect->count()) return;
    {
        const QSignalBlocker block(m_comboEffect);
        m_comboEffect->setCurrentIndex(effectIdx);
    }
    const int id = m_comboEffect->itemData(effectIdx).toInt();
    if (m_filter && m_filter->effectId() == id) return;
    if (m_filter) {
        disconnect(m_filter.get(), nullptr, this, nullptr);
        m_view->setTransformFrame(nullptr);
        m_filter->Deactivate();
        m_filter->DetachView();
        m_panelArea->takeWidget();
        delete m_panel;
        m_filter.reset();
        m_running = false;
        m_run->setChecked(false);
    }
    m_commitState = 0;
    // Every effect starts from the host's image, not from another effect's result.
    m_document.setLayer(m_session.image);
    m_filter.reset(Document::Filters::createFilter(id));
    if (!m_filter) {
        updateTitle();
        return;
    }
    m_filter->setDocument(&m_document);
    m_panel = m_filter->CreateParamsWidget();
    if (m_panel) m_panelArea->setWidget(m_panel);
    m_filter->AttachView(m_progress);
    connect(m_filter.get(), &ToolFilter::CalcFinished, this, &PluginUI::runFinished);
    if (auto* trunk = qobject_cast<Document::Filters::TrunkToolFilter*>(m_filter.get())) {
        connect(trunk, &Document::Filters::TrunkToolFilter::linesChanged, this, &PluginUI::updateDecorations);
        trunk->setViewAttached(true);
        m_view->setTransformFrame(&trunk->transformFrame());
    }
    if (auto* mask = qobject_cast<Document::Filters::MaskToolFilter*>(m_filter.get())) {
        mask->setViewAttached(true);
        m_view->setTransformFrame(&mask->transformFrame());
        connect(&mask->transformFrame(), &Orvex::TransformTool::frameMoved, m_view, &ImagePreview::redrawDecorations);
    }
    connect(m_filter.get(), &ToolFilter::maskPainted, this, [this](const QRect&) { updateMaskOverlay(); });
    m_filter->setAutoRun(m_autoRun->isChecked());
    m_filter->Activate();
    m_filter->ClearState(false);
    updateTools();
    retranslate();
    showCurrent();
    updateDecorations();
    updateMaskOverlay();
    if (m_autoRun->isChecked() && m_filter->CheckApplicable().isEmpty())
        QTimer::singleShot(0, this, &PluginUI::runPreview);
}

void PluginUI::updateTools() {
    for (QAbstractButton* b : m_toolGroup->buttons()) {
        m_toolGroup->removeButton(b);
        delete b;
    }
    m_loadStrokes->setVisible(m_topbarExpanded && m_filter != nullptr);
    m_saveStrokes->setVisible(m_topbarExpanded && m_filter != nullptr);
    auto* trunk = qobject_cast<Document::Filters::TrunkToolFilter*>(m_filter.get());
    auto* mask = qobject_cast<Document::Filters::MaskToolFilter*>(m_filter.get());
    m_toolRow->setVisible(trunk || mask);
    m_showStrokes->setVisible(mask != nullptr);
    auto* row = static_cast<QHBoxLayout*>(m_toolRow->layout());
    int at = 0;
    auto add = [&](int id, const QString& text, bool checked) {
        auto* b = new QPushButton(text, m_toolRow);
        b->setObjectName(QStringLiteral("tool%1").arg(id));
        b->setCheckable(true);
        b->setChecked(checked);
        if (mask) {
            b->setProperty("hintText", mask->ToolStatusTip(id));
            b->setStatusTip(mask->ToolStatusTip(id));
            b->installEventFilter(this);
        }
        m_toolGroup->addButton(b, id);
        row->insertWidget(at++, b);
    };
    if (trunk) {
        for (int id : trunk->lineToolIds()) {
            add(id, trunk->lineToolText(id), id == trunk->currentLineTool());
            const QString tip = trunk->lineToolStatusTip(id);
            if (!tip.isEmpty()) m_toolGroup->button(id)->setStatusTip(tip);
        }
        m_toolSizeLabel->setText(QCoreApplication::translate("PluginUIClass", "Eraser size"));
        const QSignalBlocker block(m_toolSize);
        m_toolSize->setValue(trunk->eraserSize());
    } else if (mask) {
        // The painting tools only: the view pans and zooms by itself.
        for (int id : mask->toolIds())
            if (id == Document::Filters::MaskToolFilter::SelectionTool ||
                id == Document::Filters::MaskToolFilter::BluePenTool ||
                id == Document::Filters::MaskToolFilter::EraserTool ||
                id == Document::Filters::MaskToolFilter::BucketTool ||
                id == Document::Filters::MaskToolFilter::TransformTool)
                add(id, mask->ToolText(id), id == mask->currentTool());
        m_toolSizeLabel->setText(QCoreApplication::translate("PluginUIClass", "Brush size"));
        const QSignalBlocker block(m_toolSize);
        m_toolSize->setValue(mask->penSize());
    }
}

void PluginUI::updateMaskOverlay() {
    Ref<DataStorage::DataChannel> channel;
    if (auto* mask = qobject_cast<Document::Filters::MaskToolFilter*>(m_filter.get())) {
        const auto kind = mask->isDuoMask() ? ToolFilter::DuoMask : ToolFilter::Mask;
        if (const auto plane = mask->maskPlane(kind)) channel = plane->channel(DataStorage::ChannelMask);
    }
    m_view->setMaskOverlay(m_showBefore || !m_showStrokes->isChecked() ? Ref<DataStorage::DataChannel>() : channel);
}

void PluginUI::updateDecorations() {
    std::vector<QLineF> lines;
    if (auto* trunk = qobject_cast<Document::Filters::TrunkToolFilter*>(m_filter.get())) lines = trunk->displayLines();
    m_view->setLines(std::move(lines));
}

void PluginUI::OnViewPointer(int kind, QPointF imagePoint, Qt::KeyboardModifiers modifiers) {
    if (!m_filter || m_showBefore) return;
    Document::NodeInfo node;
    node.kind = kind;
    node.x = imagePoint.x();
    node.y = imagePoint.y();
    node.modifiers = modifiers;
    // Painting shows what is painted.
    if (kind == 1 && qobject_cast<Document::Filters::MaskToolFilter*>(m_filter.get())) m_showStrokes->setChecked(true);
    // The frame's handles are grabbed within a distance in view pixels.
    if (auto* trunk = qobject_cast<Document::Filters::TrunkToolFilter*>(m_filter.get()))
        trunk->transformFrame().setViewScale(m_view->zoom());
    if (auto* mask = qobject_cast<Document::Filters::MaskToolFilter*>(m_filter.get()))
        mask->transformFrame().setViewScale(m_view->zoom());
    m_filter->OnNewPoint(node);
}

void PluginUI::OnAutoRunClicked(bool on) {
    if (m_autoRun->isChecked() != on) m_autoRun->setChecked(on);
    if (m_filter) m_filter->setAutoRun(on);
    m_settings.setValue(QStringLiteral("AutoRunMode"), on);
}

void PluginUI::setBefore(bool on) {
    qWarning("PUI.sb - %s\n", on ? "on" : "off");
    m_showBefore = on;
    (on ? m_before : m_after)->setChecked(true);
    QFont bold = m_before->font(), normal = m_before->font();
    bold.setWeight(75);
    normal.setWeight(50);
    m_before->setFont(on ? bold : normal);
    m_after->setFont(on ? normal : bold);
    showCurrent();
    updateMaskOverlay();
}

Ref<PixelPlane> PluginUI::currentResult() const {
    return m_document.layer();
}

void PluginUI::showCurrent(bool changed) {
    if (!m_view) return;
    Ref<PixelPlane> shown = m_session.image;
    if (!m_showBefore && m_filter && !m_filter->isProcessing()) {
        if (Ref<PixelPlane> result = m_filter->resultPlane()) shown = result;
    }
    // A run writes its result plane in place: after one the view redraws even the same plane.
    if (changed || shown != m_view->plane()) m_view->setPlane(shown);
}

void PluginUI::updateActions() {
    const bool busy = m_filter && m_filter->isProcessing();
    m_undo->setEnabled(!busy && m_document.undoCount() > 1);
    m_redo->setEnabled(!busy && m_document.redoCount() > 0);
    m_actions->undo->setEnabled(m_undo->isEnabled());
    m_actions->redo->setEnabled(m_redo->isEnabled());
}

void PluginUI::run(bool preview) {
    if (!m_filter || m_running) return;
    const QString reason = m_filter->CheckApplicable();
    if (!reason.isEmpty()) {
        FilterMessages::warning(OrvexApplication::ProductName, reason, this);
        return;
    }
    m_running = true;
    m_run->setChecked(true);
    if (!preview) {
        m_view->setFocus();
        QCoreApplication::processEvents();
        if (!m_filter) return; // the window closed meanwhile
    }
    const bool nothingToDo = m_filter->RequestRun(false, preview);
    if (!nothingToDo && m_filter->isProcessing()) {
        if (!preview) m_commitState = 2;
        return;
    }
    m_running = false;
    m_run->setChecked(false);
    m_commitState = m_filter->haveResult() ? 1 : 0;
    showCurrent();
}

void PluginUI::runFilter() {
    run(false);
}

void PluginUI::runPreview() {
    run(true);
}

void PluginUI::runFinished(bool isCommit) {
    m_commitState = isCommit && m_filter && m_filter->haveResult() ? 1 : 0;
    if (m_running) {
        m_running = false;
        m_run->setChecked(false);
    }
    showCurrent(true);
    updateActions();
}

void PluginUI::saveChanges() {
    if (!m_filter) return;
    if (m_running || m_filter->isProcessing()) return;
    if (m_commitState != 1 || !m_filter->ParamsUnchanged() || !m_filter->haveResult()) {
        runFilter();
        if (m_commitState != 1) return; // the final render finishes later; Apply again then
    }
    bool ok = false;
    if (m_session.apply) {
        const Ref<PixelPlane> result = currentResult();
        ok = result && m_session.apply(*result);
    }
    if (!ok) {
        FilterMessages::critical(OrvexApplication::ProductName,
                                 QCoreApplication::translate("PluginUI", "Error saving image data back to host application"),
                                 this);
        *m_result = Cancelled;
    } else {
        *m_result = 0;
    }
    m_closing = true;
    close();
}

Ref<PixelPlane> PluginUI::resultToExport() const {
    if (m_filter && !m_filter->isProcessing())
        if (Ref<PixelPlane> result = m_filter->resultPlane()) return result;
    return m_session.image;
}

bool PluginUI::saveResultTo(const QString& chosen, QString* error) const {
    const Ref<PixelPlane> plane = resultToExport();
    if (!plane) return false;
    QString path = chosen;
    // A name without a known extension is saved as PNG, which holds every working plane.
    if (ImageIO::formatForName(path) == ImageIO::FileFormat::Unknown) path += QStringLiteral(".png");
    try {
        ImageIO::ImageRecord image = m_session.toImage ? m_session.toImage(*plane) : recordOfPlane(*plane);
        ImageIO::adaptForFormat(image, ImageIO::formatForName(path));
        ImageIO::saveImage(image, path);
        return true;
    } catch (const std::exception& e) {
        if (error) *error = QString::fromUtf8(e.what());
        return false;
    }
}

void PluginUI::my_btnFileSave_clicked() {
    QString path;
    if (m_saveFileQuestion) {
        path = m_saveFileQuestion();
    } else {
        path = QFileDialog::getSaveFileName(
            this, QCoreApplication::translate("CommonText", "Save result image into file"), QString(),
            QCoreApplication::translate("PluginUI", "Images (*.png *.tif *.tiff *.jpg *.jpeg)"));
    }
    if (path.isEmpty()) return;
    QString error;
    if (!saveResultTo(path, &error))
        FilterMessages::critical(OrvexApplication::ProductName,
                                 QCoreApplication::translate("PluginUI", "The image could not be saved:\n%1").arg(error),
                                 this);
}

bool PluginUI::printResult(QPrinter& printer) const {
    const Ref<PixelPlane> plane = resultToExport();
    if (!plane) return false;
    const QImage picture = pictureOf(*plane);
    QPainter painter;
    if (picture.isNull() || !painter.begin(&printer)) return false;
    const QRect page = painter.viewport();
    const QSize size = picture.size().scaled(page.size(), Qt::KeepAspectRatio);
    const QRect target(page.left() + (page.width() - size.width()) / 2, page.top() + (page.height() - size.height()) / 2,
                       size.width(), size.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
    return painter.end();
}

void PluginUI::my_btnPrint_clicked() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(m_session.hostFileName.isEmpty() ? OrvexApplication::ProductName : m_session.hostFileName);
    my_PrintDlg_called();
    bool accepted = false;
    if (m_printQuestion) {
        accepted = m_printQuestion(printer);
    } else {
        QPrintDialog dialog(&printer, this);
        accepted = dialog.exec() == QDialog::Accepted;
    }
    my_PrintDlg_closed();
    if (accepted && !printResult(printer))
        FilterMessages::critical(OrvexApplication::ProductName,
                                 QCoreApplication::translate("PluginUI", "The image could not be printed."), this);
}

// While the print dialog is open the window takes no second print request.
void PluginUI::my_PrintDlg_called() {
    m_actions->print->setEnabled(false);
}

void PluginUI::my_PrintDlg_closed() {
    m_actions->print->setEnabled(true);
}

PluginUI::QuitAnswer PluginUI::askQuit() {
    if (m_quitQuestion) return m_quitQuestion();
    QMessageBox box(QMessageBox::Question, QCoreApplication::translate("PluginUI", "Attention"),
                    QCoreApplication::translate("PluginUI", "Apply the effect to the image before closing?"),
                    QMessageBox::Apply | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Apply);
    switch (box.exec()) {
    case QMessageBox::Apply:
        return QuitApply;
    case QMessageBox::Discard:
        return QuitDiscard;
    default:
        return QuitKeepOpen;
    }
}

bool PluginUI::canClose() {
    if (m_closing || !m_filter) return true;
    if (m_filter->isProcessing()) {
        if (FilterMessages::question(QCoreApplication::translate("PluginUI", "Warning"),
                                     QCoreApplication::translate("PluginUI", "Interrupt image processing?"), this)) {
            m_filter->CancelEval();
            // A stopped job may end without a report: the window is idle again either way.
            if (!m_filter->isProcessing()) runFinished(false);
        }
        return false;
    }
    const bool changes = m_filter->haveResult() || !m_filter->ParamsUnchanged() || m_commitState != 0;
    if (*m_result != Cancelled || !changes) return true;
    switch (askQuit()) {
    case QuitApply:
        saveChanges();
        return false; // saveChanges closes the window itself once the result went back
    case QuitDiscard:
        return true;
    case QuitKeepOpen:
    default:
        return false;
    }
}

void PluginUI::closeEvent(QCloseEvent* event) {
    if (!canClose()) {
        event->ignore();
        return;
    }
    m_closing = true;
    if (m_filter) m_filter->SetEvalRunning(false);
    event->accept();
    if (m_closed) m_closed();
}

void PluginUI::showHelpPages() {
    const OrvexApplication* app = OrvexApplication::instance();
    showHelp(app ? app->currentLanguage() : QString());
}

void PluginUI::launchLink() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(ProductWebPage)));
}

void PluginUI::showOption() {
    OptionsUI dialog(this);
    if (dialog.exec() != QDialog::Accepted) return;
    m_document.setHistoryLimit(std::clamp(m_settings.value(QStringLiteral("undoCount"), 25).toInt(), 1, 100));
    placeHints();
    applySelectionDisplay();
    applyPanelLock();
}

void PluginUI::applyPanelLock() {
    const bool locked = m_settings.value(QStringLiteral("Topbar/LockPanel"), true).toBool();
    if (QSplitterHandle* handle = m_split->handle(1)) {
        handle->setEnabled(!locked);
        handle->setCursor(locked ? Qt::ArrowCursor : Qt::SplitHCursor);
    }
}

void PluginUI::applySelectionDisplay() {
    m_view->setSelectionDisplay(m_settings.value(QStringLiteral("SelectionMode"), false).toBool(),
                                QRgb(m_settings.value(QStringLiteral("SelectionColor"), int(0x66FF0000)).toInt()));
}

void PluginUI::placeHints() {
    // "right": under the panel; "left": a column before the image; anything else: hidden.
    const QString where = m_settings.value(QStringLiteral("showHints"), QStringLiteral("right")).toString();
    m_side->removeWidget(m_hint);
    m_body->removeWidget(m_hint);
    if (where == QLatin1String("left")) {
        m_hint->setFixedWidth(200);
        m_body->insertWidget(0, m_hint);
        m_hint->show();
    } else if (where == QLatin1String("right")) {
        m_hint->setMinimumWidth(0);
        m_hint->setMaximumWidth(QWIDGETSIZE_MAX);
        m_side->addWidget(m_hint);
        m_hint->show();
    } else {
        m_hint->hide();
    }
}

void PluginUI::my_btnLoadPreset_clicked() {
    PresetExchange::my_btnLoadPreset_clicked(m_filter.get(), this);
}

void PluginUI::my_btnSavePreset_clicked() {
    PresetExchange::my_btnSavePreset_clicked(m_filter.get(), this);
}

void PluginUI::my_btnStrokeLoad_clicked() {
    if (!m_filter) return;
    const QString path = QFileDialog::getOpenFileName(this, QCoreApplication::translate("PluginUIClass", "Load selection"), QString(),
                                                      QCoreApplication::translate("PluginUI", "Strokes (*.elemor)"));
    if (!path.isEmpty() && !m_filter->LoadStrokes(path))
        FilterMessages::warning(OrvexApplication::ProductName, QCoreApplication::translate("PluginUI", "The strokes file could not be loaded."), this);
}

void PluginUI::my_btnStrokeSave_clicked() {
    if (!m_filter) return;
    const QString path =
        QFileDialog::getSaveFileName(this, QCoreApplication::translate("PluginUIClass", "Save selection"), QString(),
                                     QCoreApplication::translate("PluginUI", "Strokes (*.elemor)"));
    if (!path.isEmpty() && !m_filter->SaveStrokes(path))
        FilterMessages::warning(OrvexApplication::ProductName, QCoreApplication::translate("PluginUI", "The strokes file could not be saved."), this);
}

// After undo or redo the trunk effects take their lines from the document's copy of the record
// (the transform frame follows them when it is in use).
void PluginUI::linesFromDocument() {
    auto* trunk = qobject_cast<Document::Filters::TrunkToolFilter*>(m_filter.get());
    if (!trunk || !trunk->current().segments()) return;
    const std::vector<Document::Filters::Segment> before = *trunk->current().segments();
    if (!trunk->LoadParamsFromDocument()) return;
    trunk->selectLineTool(trunk->currentLineTool());
    updateDecorations();
    // The preview follows the lines that came back.
    if (*trunk->current().segments() != before) trunk->ScheduleUpdate();
}

// After undo or redo the mask effects take the painted selection back from the document when the
// step changed it (`before`: the document's selection before the step was walked), and the preview
// follows.
void PluginUI::maskFromDocument(const Ref<DataStorage::DataChannel>& before) {
    auto* masked = qobject_cast<Document::Filters::MaskToolFilter*>(m_filter.get());
    if (!masked || m_document.selection() == before) return;
    masked->TakeSelectionFromDocument();
    // The transform frame goes around the mask that came back.
    if (masked->currentTool() == Document::Filters::MaskToolFilter::TransformTool)
        masked->SelectTool(Document::Filters::MaskToolFilter::TransformTool);
    updateDecorations();
    masked->ScheduleUpdate();
}

void PluginUI::Undo() {
    if (!m_filter || m_filter->isProcessing()) return;
    const Ref<DataStorage::DataChannel> selection = m_document.selection();
    if (m_document.undoCount() > 1 && m_document.undo()) {
        m_commitState = 0;
        m_view->setPlane(m_document.layer());
        linesFromDocument();
        maskFromDocument(selection);
    }
    updateActions();
}

void PluginUI::Redo() {
    if (!m_filter || m_filter->isProcessing()) return;
    const Ref<DataStorage::DataChannel> selection = m_document.selection();
    if (m_document.redo()) {
        m_commitState = 0;
        m_view->setPlane(m_document.layer());
        linesFromDocument();
        maskFromDocument(selection);
    }
    updateActions();
}

} // namespace Orvex::UI
