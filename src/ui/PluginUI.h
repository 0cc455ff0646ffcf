#pragma once
// The effect window of an interactive run: the effect list, the chosen effect's panel and presets,
// the image with Before / After, the run and progress controls, and Apply. The window works on an
// RGBA working plane; the caller (the effect process) converts the host image to it and the
// result back, so the window never touches the host link itself.
//
// Result code: -128 from construction until Apply has written the result back (then 0). Closing the
// window any other way leaves -128: the run is cancelled and nothing goes back.

#include "document/framework/FilterDocument.h"
#include "dataview/TransformTool.h"
#include "dataview/ViewGeometry.h"
#include "dataview/ViewScene.h"
#include "imageio/ImageIO.h"
#include "settings/SettingsGroup.h"

#include <QPointer>
#include <QWidget>

#include <QLineF>

#include <functional>
#include <vector>
#include <memory>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QPrinter;
class QComboBox;
class QLabel;
class QHBoxLayout;
class QVBoxLayout;
class QPushButton;
class QScrollArea;
class QSplitter;
class QSpinBox;
class QToolButton;

namespace Orvex::DataView {
class Navigator;
}
namespace Orvex::GPU {
class Viewport;
}

namespace Orvex::DataStorage {
class DataPyramid;
}
namespace Orvex::Document::Filters {
class ToolFilter;
}

namespace Orvex::UI {

class ElemoramaActionSet;

class EvalProgressBar;

// What a window works on: the image as an RGBA working plane (8-bit, 16-bit or float), the host's
// selection as an 8-bit channel of the image's size (none: no selection), the host's file name for
// the title, and the write-back that Apply calls with the result (same size and type as the image);
// false when the result could not be written.
struct WindowSession {
    Ref<DataStorage::PixelPlane> image;
    Ref<DataStorage::DataChannel> selection;
    QString hostFileName;
    std::function<bool(const DataStorage::PixelPlane& result)> apply;
    // The result as an image in the host's colour model, sample type and profile, for Save (none:
    // the working plane's RGB(A) as it is).
    std::function<ImageIO::ImageRecord(const DataStorage::PixelPlane& result)> toImage;
};

// The image area: the source or the result over a checkered backdrop where the image is
// transparent, fitted into the widget or at a zoom of 1 % ... 6400 % on the view's zoom scale.
// The wheel zooms around the pointer, the middle button drags the image. Reduced copies come from
// a pyramid, so a 12-megapixel image is drawn from a level near the size it is shown at.
//
// The view state lives in one ViewGeometry; the picture is drawn through an OpenGL viewport (a
// native window embedded over the whole widget) when a context can be made, and by the widget's
// own raster painter otherwise (or when the viewport fails). Pointer events always arrive here.
class ImagePreview : public QWidget, public GPU::ViewScene {
    Q_OBJECT
public:
    enum class Drawing { Automatic, Raster, OpenGL };

    // OpenGL draws through OpenGL wherever a context can be made, Automatic only where that
    // context is a hardware one; Raster never does.
    explicit ImagePreview(QWidget* parent = nullptr, Drawing drawing = Drawing::Automatic);
    ~ImagePreview() override;
    // Shows `plane` (null: nothing); the previous reduced copies are dropped.
    void setPlane(Ref<DataStorage::PixelPlane> plane);
    Ref<DataStorage::PixelPlane> plane() const { return m_plane; }
    // The plane's pixels changed inside `imageRect` (a result drawn progressively): only that part
    // of the picture is converted and uploaded again.
    void updateRegion(const QRect& imageRect);
    // The image as drawn last (device-independent pixels), for tests and screenshots.
    QImage shownImage() const { return m_image; }
    QSize sizeHint() const override { return {720, 540}; }

    // The OpenGL viewport in use (null: raster drawing).
    GPU::Viewport* viewport() const { return m_viewport; }
    bool usesOpenGL() const { return m_viewport != nullptr; }
    // The raster painter's frame (what the widget shows without OpenGL).
    void paintRaster(QPainter& painter) const;

    // What is drawn over the image: lines in image pixels, and a tinted overlay of a mask (an
    // 8-bit channel of the image's size; null: none).
    void setLines(std::vector<QLineF> lines);
    // A transform frame drawn over the lines while it is visible (null: none); not owned, the
    // owner clears it before the frame goes.
    void setTransformFrame(const Orvex::TransformTool* frame);
    const Orvex::TransformTool* transformFrame() const { return m_frame; }
    void setMaskOverlay(Ref<DataStorage::DataChannel> mask);
    // How the selection is shown: its outline in black and white dashes, or filled with `argb`
    // (the alpha is the fill's opacity where the selection is full).
    void setSelectionDisplay(bool filled, QRgb argb);
    const QImage& overlay() const { return m_overlay; } // as shown, at about the view's size
    // View position to image coordinates (for the tools), and back.
    QPointF toImage(const QPointF& view) const { return m_geometry.toImage(view); }
    QPointF toView(const QPointF& image) const { return m_geometry.toView(image); }

    // The zoom shown (image pixels to view pixels), and whether the view follows the fit rule.
    double zoom() const { return m_geometry.zoom(); }
    bool fitted() const { return m_geometry.fitted(); }
    // The part of the image in view, in image pixels.
    QRectF visibleRect() const { return m_geometry.visibleRect(); }
    // The whole image at most `maxSide` pixels long, from the pyramid (for the navigator).
    QImage thumbnail(int maxSide) const;

public slots:
    void fitImage();
    void setZoom(double zoom); // around the view's centre
    void centerOn(const QPointF& imagePoint);
    // Draws the decorations again (a transform frame being dragged).
    void redrawDecorations();

signals:
    // A pointer event over the view in image coordinates: kind 1 press, 2 move, 3 release.
    void pointer(int kind, QPointF imagePoint, Qt::KeyboardModifiers modifiers);
    void ImageZoomed(double zoom);
    void visibleRectChanged(const QRectF& imageRect);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

    // GPU::ViewScene
    QSize sceneImageSize() const override { return m_geometry.imageSize(); }
    const QImage& scenePicture() const override { return m_image; }
    int scenePictureLevel() const override { return m_level; }
    QRectF sceneTarget() const override { return m_geometry.target(); }
    bool sceneSmooth() const override { return zoom() < 1.0; }
    const QImage& sceneOverlay() const override { return m_overlay; }
    QColor sceneBackdrop() const override;
    bool sceneHasDecorations() const override { return !m_lines.empty() || (m_frame && m_frame->isVisible()); }
    void paintSceneDecorations(QPainter& painter) const override;

private:
    void rebuild();
    void zoomAround(double zoom, const QPointF& viewPoint);
    void viewChanged(bool zoomed);
    void rebuildOverlay();
    static bool useOpenGL(Drawing drawing);
    void redraw();
    void dropViewport();
    void setViewCursor(const QCursor* cursor); // null: the default

    DataView::ViewGeometry m_geometry;
    Ref<DataStorage::PixelPlane> m_plane;
    std::vector<QLineF> m_lines;
    const Orvex::TransformTool* m_frame = nullptr;
    Ref<DataStorage::DataChannel> m_mask;
    QImage m_overlay;
    bool m_selectionFilled = false;
    QRgb m_selectionColor = 0x66FF0000;
    bool m_pressed = false;
    bool m_panning = false;
    QPointF m_panFrom;
    int m_level = -1; // the pyramid level m_image was made from
    std::unique_ptr<DataStorage::DataPyramid> m_pyramid;
    QImage m_image;
    GPU::Viewport* m_viewport = nullptr; // owned by m_viewportHost
    QWidget* m_viewportHost = nullptr;    // the window container that embeds it
};

class PluginUI : public QWidget {
    Q_OBJECT
public:
    static constexpr short Cancelled = -128;
    // The answers of the quit dialog.
    enum QuitAnswer { QuitApply = 0, QuitDiscard = 1, QuitKeepOpen = 2 };

    // `settings`: the window's group (during a run the application's group below the run prefix).
    PluginUI(QWidget* parent, Qt::WindowFlags flags, short* result, WindowSession session,
             const SettingsGroupRW& settings);
    ~PluginUI() override;

    short resultCode() const { return *m_result; }
    Document::Filters::ToolFilter* filter() const { return m_filter.get(); }
    int currentEffectId() const;
    QComboBox* effectCombo() const { return m_comboEffect; }
    ImagePreview* view() const { return m_view; }
    QPushButton* runButton() const { return m_run; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* beforeButton() const { return m_before; }
    QPushButton* afterButton() const { return m_after; }
    QCheckBox* autoRunBox() const { return m_autoRun; }
    EvalProgressBar* progressBar() const { return m_progress; }
    bool isBefore() const { return m_showBefore; }
    // The top bar unfolded (every command) or folded to what ends a run (Run, Apply, Cancel).
    bool isTopbarExpanded() const { return m_topbarExpanded; }
    void setTopbarExpanded(bool expanded);
    // 0 nothing committed, 1 the final result is ready, 2 a final render is under way.
    int commitState() const { return m_commitState; }
    bool isRunning() const { return m_running; }
    // The result as Apply would write it: the document's layer after the last final render.
    Ref<DataStorage::PixelPlane> currentResult() const;

    // Whether the window may close now (asks the user where the answer is not obvious).
    bool canClose();
    // Replaces the quit dialog (tests, hosts without a person).
    void setQuitQuestion(std::function<QuitAnswer()> question) { m_quitQuestion = std::move(question); }

    // What Save and Print put out: the result the After view shows (the final render or the last
    // preview), or the source while there is none or a run is under way.
    Ref<DataStorage::PixelPlane> resultToExport() const;
    // Writes resultToExport() to `path` in the format its extension names, converted so that the
    // format can hold it. False with `error` set when it could not be written.
    bool saveResultTo(const QString& path, QString* error = nullptr) const;
    // Draws resultToExport() on the printer's page, as large as it fits, centred.
    bool printResult(QPrinter& printer) const;
    // Replace the save-file dialog (returns the chosen path, empty: cancelled) and the print
    // dialog (returns whether to print) for tests and hosts without a person.
    void setSaveFileQuestion(std::function<QString()> question) { m_saveFileQuestion = std::move(question); }
    void setPrintQuestion(std::function<bool(QPrinter&)> question) { m_printQuestion = std::move(question); }

    // Runs once the window closes (the effect process ends its event loop there).
    void setClosedHandler(std::function<void()> handler) { m_closed = std::move(handler); }

public slots:
    void launchLink();
    void setLang(const QString& code);
    void showOption();
    void exitCancel() {}
    void setBefore(bool on = true);
    void setAfter(bool on = true) { setBefore(!on); }
    void OnAutoRunClicked(bool on);
    void saveChanges();
    void my_btnFileSave_clicked();
    void my_btnPrint_clicked();
    void my_PrintDlg_called();
    void my_PrintDlg_closed();
    void OnEffectChanged(int effectIdx, bool fromUi = true);
    void my_btnLoadPreset_clicked();
    void my_btnSavePreset_clicked();
    void my_btnStrokeLoad_clicked();
    void my_btnStrokeSave_clicked();
    void Undo();
    void Redo();
    void runFilter();
    void runPreview();
    void runFinished(bool isCommit);
    // A pointer event of the view, handed to the current effect's tool.
    void OnViewPointer(int kind, QPointF imagePoint, Qt::KeyboardModifiers modifiers);

    // The hints panel's text now (for tests).
    QString hintText() const;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildForm();
    void retranslate();
    void run(bool preview);
    void updateTitle();
    void showCurrent(bool changed = false);
    void updateActions();
    void updateTools();
    void placeHints();
    // The control's hint: a key translated in `context`, shown in the hints panel while the pointer
    // is over it (and as its status tip).
    void setHintKey(QObject* control, const char* context, const char* key);
    QString hintOf(const QObject* control) const;
    void showHint(const QString& text);
    void showRestingHint();
    void retranslateHints();
    void showHelpPages();
    void applySelectionDisplay();
    // Topbar/LockPanel: whether the splitter between the image and the side column moves.
    void applyPanelLock();
    void updateDecorations();
    void linesFromDocument();
    void maskFromDocument(const Ref<DataStorage::DataChannel>& before);
    void updateMaskOverlay();
    QuitAnswer askQuit();

    short* m_result;
    WindowSession m_session;
    SettingsGroupRW m_settings;
    Document::FilterDocument m_document;
    std::unique_ptr<Document::Filters::ToolFilter> m_filter;
    QPointer<QWidget> m_panel;

    QComboBox* m_comboEffect = nullptr;
    QLabel* m_effectLabel = nullptr;
    QScrollArea* m_panelArea = nullptr;
    ImagePreview* m_view = nullptr;
    DataView::Navigator* m_navigator = nullptr;
    QPushButton* m_run = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_loadPreset = nullptr;
    QPushButton* m_savePreset = nullptr;
    QPushButton* m_loadStrokes = nullptr;
    QPushButton* m_saveStrokes = nullptr;
    QPushButton* m_undo = nullptr;
    QPushButton* m_redo = nullptr;
    QPushButton* m_help = nullptr;
    ElemoramaActionSet* m_actions = nullptr;
    QToolButton* m_navigatorBox = nullptr; // the navigator's header, folds it away
    QToolButton* m_topbarToggle = nullptr; // folds the top bar
    std::vector<QWidget*> m_topbarFolded;  // what the folded top bar hides
    bool m_topbarExpanded = true;
    QPushButton* m_settingsButton = nullptr;
    QPushButton* m_logo = nullptr;
    QPushButton* m_before = nullptr;
    QPushButton* m_after = nullptr;
    QButtonGroup* m_beforeAfter = nullptr;
    QCheckBox* m_autoRun = nullptr;
    QLabel* m_hint = nullptr;
    QHBoxLayout* m_body = nullptr; // the hints column (when left) and the splitter
    QSplitter* m_split = nullptr; // the image view and the side column
    QVBoxLayout* m_side = nullptr;
    QWidget* m_toolRow = nullptr;
    QButtonGroup* m_toolGroup = nullptr;
    QSpinBox* m_toolSize = nullptr;
    QCheckBox* m_showStrokes = nullptr;
    QLabel* m_toolSizeLabel = nullptr;
    EvalProgressBar* m_progress = nullptr;

    bool m_showBefore = false;
    bool m_running = false;
    bool m_closing = false;
    int m_commitState = 0;
    std::function<QuitAnswer()> m_quitQuestion;
    std::function<void()> m_closed;
    std::function<QString()> m_saveFileQuestion;
    std::function<bool(QPrinter&)> m_printQuestion;
};

} // namespace Orvex::UI
