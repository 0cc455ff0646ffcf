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
#include <QOpenGLWidget>

#include <map>
#include <memory>

namespace Orvex { namespace GPU {

class Viewport : public QOpenGLWidget, protected QOpenGLFunctions {
    Q_OBJECT
public:
    explicit Viewport(ViewScene* scene, QWidget* parent = nullptr);
    ~Viewport() override;

    // Whether an OpenGL context can be made on this platform (checked once per process).
    // ELEMORAMA_VIEW=raster in the environment answers no.
    static bool openGLAvailable();

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
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    void fail(const char* why);
    void releaseTextures();
    void drawQuad(const QRectF& viewRect, const QRectF& texRect);

    ViewScene* m_scene;
    bool m_failed = false;
    bool m_rowLength = true;
    std::unique_ptr<QOpenGLShaderProgram> m_program;
    QOpenGLBuffer m_corners{QOpenGLBuffer::VertexBuffer};
    std::map<int, TextureGrid> m_levels; // textures of each pyramid level used so far
    int64_t m_releasedUploads = 0;       // uploads of grids already dropped
    unsigned m_overlayTexture = 0;
    qint64 m_overlayKey = 0;
    QSize m_overlaySize;
};

}} // namespace Orvex::GPU
