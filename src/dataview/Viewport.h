#pragma once
// The image window's OpenGL surface. It owns no view state: each frame it asks its scene (the
// image window) for the picture of the pyramid level in use, where that picture lies in the view,
// the overlay picture and the decorations, and draws them: the backdrop, the image tiles over a
// checkered pattern where the image is transparent, the overlay, then the decorations through a
// QPainter. Image textures are kept per pyramid level and uploaded only when missing or after the
// scene reported a change under them (`imageReplaced`, `imageChanged`); the overlay texture
// follows the overlay picture's cache key.
//
// Interface thread only. When the context cannot be made or the shaders do not build, the
// surface emits `failed` once and draws nothing more; the window then falls back to raster.
#include "dataview/TextureGrid.h"
#include "dataview/ViewScene.h"

#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QWindow>

#include <map>
#include <memory>

class QOpenGLContext;
class QPaintDevice;

namespace Orvex { namespace GPU {

// A native window of its own, embedded in the image window with QWidget::createWindowContainer,
// renders straight into its back buffer and swaps. (A QOpenGLWidget renders into a framebuffer
// object that the top-level window then composes: with Mesa's software renderer that composition
// alone costs about 30 ms per 1920 x 1080 frame, twice the frame budget.) Pointer and wheel events
// that reach the native window go on to `eventTarget`, so the tools see one widget whichever way
// the view is drawn.
class Viewport : public QWindow, protected QOpenGLFunctions {
    Q_OBJECT
public:
    Viewport(ViewScene* scene, QObject* eventTarget);
    ~Viewport() override;

    // What draws OpenGL on this platform (checked once per process): nothing (no context can be
    // made, or ELEMORAMA_VIEW=raster in the environment), a software renderer, or hardware.
    enum class Renderer { None, Software, Hardware };
    static Renderer renderer();
    static bool openGLAvailable();

    // Asks for a frame (drawn once the event loop runs; several requests give one frame).
    void scheduleFrame() { requestUpdate(); }
    // Draws a frame now and puts it on the screen (when the window is exposed).
    void renderNow();
    // Draws a frame into an offscreen framebuffer of the window's size and returns it (null when
    // there is no working context): what the screen would show.
    QImage grabFrame();

    // Every level's textures are out of date (another image, or the same one rewritten).
    void imageReplaced();
    // The image changed inside `imageRect` (image pixels): the tiles over it, on every level,
    // are uploaded again when next drawn.
    void imageChanged(const QRect& imageRect);

    bool isWorking() const { return !m_failed; }
    // Image tile uploads since construction, over all levels (tests, benchmarks).
    int64_t tileUploads() const;

signals:
    void failed();

protected:
    bool event(QEvent* event) override;
    void exposeEvent(QExposeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    bool makeContextCurrent();
    void fail(const char* why);
    void releaseGL();
    void releaseOnSurface();
    void releaseTextures();
    void draw(const QSize& deviceSize, QPaintDevice* decorations);
    void useProgram(QOpenGLShaderProgram& program);
    void drawQuad(const QRectF& viewRect, const QRectF& texRect);
    void forward(QEvent* event);

    ViewScene* m_scene;
    QObject* m_eventTarget;
    std::unique_ptr<QOpenGLContext> m_context;
    bool m_initialized = false;
    bool m_failed = false;
    bool m_rowLength = true;
    std::unique_ptr<QOpenGLShaderProgram> m_plain;     // opaque tiles, the overlay
    std::unique_ptr<QOpenGLShaderProgram> m_checkered; // tiles with transparent pixels
    QOpenGLShaderProgram* m_bound = nullptr;           // bound during a frame
    QOpenGLBuffer m_corners{QOpenGLBuffer::VertexBuffer};
    std::map<int, TextureGrid> m_levels; // textures of each pyramid level used so far
    int64_t m_releasedUploads = 0;       // uploads of grids already dropped
    unsigned m_overlayTexture = 0;
    qint64 m_overlayKey = 0;
    QSize m_overlaySize;
};

}} // namespace Orvex::GPU
