#include "dataview/Viewport.h"

#include <QCoreApplication>
#include <QExposeEvent>
#include <QPlatformSurfaceEvent>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLPaintDevice>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace Orvex { namespace GPU {

namespace {

const char* const kVertexShader = R"(
attribute vec2 corner;
uniform vec4 viewRect;  // left, top, width, height in view pixels
uniform vec4 texRect;   // the same for texture coordinates
uniform vec2 viewSize;
varying vec2 texCoord;
varying vec2 viewPos;
void main() {
    viewPos = viewRect.xy + corner * viewRect.zw;
    texCoord = texRect.xy + corner * texRect.zw;
    gl_Position = vec4(viewPos.x / viewSize.x * 2.0 - 1.0, 1.0 - viewPos.y / viewSize.y * 2.0, 0.0, 1.0);
}
)";

// The picture as it is: opaque tiles, and the premultiplied overlay under fixed-function blending.
// Kept this simple on purpose, since software renderers have fast paths for plain texturing.
const char* const kPlainShader = R"(
uniform sampler2D picture;
varying vec2 texCoord;
void main() {
    gl_FragColor = texture2D(picture, texCoord);
}
)";

// Tiles with transparent pixels: the image (straight alpha) over the checkered backdrop, anchored
// at the view's top left like the raster painter's pattern.
const char* const kCheckeredShader = R"(
uniform sampler2D picture;
varying vec2 texCoord;
varying vec2 viewPos;
void main() {
    vec4 c = texture2D(picture, texCoord);
    vec2 cell = floor(viewPos / 8.0);
    float dark = mod(cell.x + cell.y, 2.0) < 0.5 ? 1.0 : 0.0;
    vec3 back = mix(vec3(200.0 / 255.0), vec3(150.0 / 255.0), dark);
    gl_FragColor = vec4(mix(back, c.rgb, c.a), 1.0);
}
)";

std::unique_ptr<QOpenGLShaderProgram> buildProgram(const char* fragment) {
    auto program = std::make_unique<QOpenGLShaderProgram>();
    if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
        !program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragment))
        return nullptr;
    program->bindAttributeLocation("corner", 0);
    if (!program->link()) return nullptr;
    return program;
}

} // namespace

Viewport::Viewport(ViewScene* scene, QObject* eventTarget) : m_scene(scene), m_eventTarget(eventTarget) {
    setSurfaceType(QWindow::OpenGLSurface);
    // QPainter strokes paths through the stencil buffer.
    QSurfaceFormat format = requestedFormat();
    format.setStencilBufferSize(8);
    setFormat(format);
}

Viewport::~Viewport() {
    releaseOnSurface();
}

// GL objects go while their window surface still exists (the window container destroys the
// surface before it deletes the window); a later surface builds them again on demand.
void Viewport::releaseOnSurface() {
    if (!m_initialized || !m_context) return;
    QOffscreenSurface fallback;
    const bool current = m_context->makeCurrent(this) || (fallback.create(), m_context->makeCurrent(&fallback));
    if (current) {
        releaseGL();
        m_context->doneCurrent();
    }
    m_initialized = false;
}

bool Viewport::openGLAvailable() {
    return renderer() != Renderer::None;
}

Viewport::Renderer Viewport::renderer() {
    static const Renderer found = [] {
        if (qgetenv("ELEMORAMA_VIEW") == "raster") return Renderer::None;
        QOpenGLContext context;
        if (!context.create()) return Renderer::None;
        QOffscreenSurface surface;
        surface.create();
        if (!surface.isValid() || !context.makeCurrent(&surface)) return Renderer::None;
        const QByteArray name =
            QByteArray(reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER))).toLower();
        context.doneCurrent();
        const bool software = name.contains("llvmpipe") || name.contains("softpipe") ||
                              name.contains("software") || name.contains("swrast");
        return software ? Renderer::Software : Renderer::Hardware;
    }();
    return found;
}

void Viewport::fail(const char* why) {
    if (m_failed) return;
    qWarning("image view: OpenGL drawing unavailable (%s), drawing without it", why);
    m_failed = true;
    emit failed();
}

// Makes the context current on the window, creating it and the GL objects the first time.
bool Viewport::makeContextCurrent() {
    if (m_failed) return false;
    if (!m_context) {
        m_context = std::make_unique<QOpenGLContext>();
        m_context->setFormat(requestedFormat());
        if (!m_context->create()) {
            fail("no context");
            return false;
        }
    }
    if (!m_context->makeCurrent(this)) {
        fail("context not current");
        return false;
    }
    if (m_initialized) return true;
    m_initialized = true;
    initializeOpenGLFunctions();
    // ES 2 has no row length for uploads from the middle of a picture.
    m_rowLength = !m_context->isOpenGLES() || m_context->format().majorVersion() >= 3;
    m_plain = buildProgram(kPlainShader);
    m_checkered = buildProgram(kCheckeredShader);
    if (!m_plain || !m_checkered) {
        m_plain.reset();
        m_checkered.reset();
        fail("shaders");
        return false;
    }
    const GLfloat corners[] = {0, 0, 1, 0, 0, 1, 1, 1};
    m_corners.create();
    m_corners.bind();
    m_corners.allocate(corners, sizeof corners);
    m_corners.release();
    return true;
}

void Viewport::releaseGL() {
    releaseTextures();
    m_plain.reset();
    m_checkered.reset();
    m_corners.destroy();
}

bool Viewport::event(QEvent* event) {
    if (event->type() == QEvent::UpdateRequest) {
        renderNow();
        return true;
    }
    if (event->type() == QEvent::PlatformSurface &&
        static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() == QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed)
        releaseOnSurface();
    return QWindow::event(event);
}

void Viewport::exposeEvent(QExposeEvent*) {
    if (isExposed()) renderNow();
}

void Viewport::renderNow() {
    if (!isExposed() || !makeContextCurrent()) return;
    const qreal ratio = devicePixelRatio();
    const QSize device(int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
    QOpenGLPaintDevice decorations(device);
    decorations.setDevicePixelRatio(ratio);
    draw(device, &decorations);
    m_context->swapBuffers(this);
}

QImage Viewport::grabFrame() {
    if (!makeContextCurrent()) return {};
    const qreal ratio = devicePixelRatio();
    const QSize device(int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
    QOpenGLFramebufferObject target(device, QOpenGLFramebufferObject::CombinedDepthStencil);
    if (!target.bind()) return {};
    QOpenGLPaintDevice decorations(device);
    decorations.setDevicePixelRatio(ratio);
    draw(device, &decorations);
    QImage frame = target.toImage();
    target.release();
    return frame;
}

void Viewport::forward(QEvent* event) {
    if (m_eventTarget) QCoreApplication::sendEvent(m_eventTarget, event);
}

void Viewport::mousePressEvent(QMouseEvent* event) { forward(event); }
void Viewport::mouseReleaseEvent(QMouseEvent* event) { forward(event); }
void Viewport::mouseMoveEvent(QMouseEvent* event) { forward(event); }
void Viewport::wheelEvent(QWheelEvent* event) { forward(event); }

void Viewport::releaseTextures() {
    for (auto& level : m_levels) {
        m_releasedUploads += level.second.uploads();
        level.second.release(*this);
    }
    m_levels.clear();
    if (m_overlayTexture) {
        GLuint id = m_overlayTexture;
        glDeleteTextures(1, &id);
    }
    m_overlayTexture = 0;
    m_overlayKey = 0;
}

void Viewport::imageReplaced() {
    // Textures stay allocated and are overwritten in place when the sizes still fit.
    for (auto& level : m_levels) level.second.markAllChanged();
    scheduleFrame();
}

void Viewport::imageChanged(const QRect& imageRect) {
    const QSize image = m_scene->sceneImageSize();
    if (image.isEmpty() || imageRect.isEmpty()) return;
    for (auto& [index, grid] : m_levels) {
        const double sx = double(grid.pictureSize().width()) / image.width();
        const double sy = double(grid.pictureSize().height()) / image.height();
        // Each reduction spreads a pixel into its neighbours: two pixels of margin cover that.
        const int left = int(std::floor(imageRect.left() * sx)) - 2;
        const int top = int(std::floor(imageRect.top() * sy)) - 2;
        const int right = int(std::ceil((imageRect.right() + 1) * sx)) + 2;
        const int bottom = int(std::ceil((imageRect.bottom() + 1) * sy)) + 2;
        grid.markChanged(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
    }
    scheduleFrame();
}

int64_t Viewport::tileUploads() const {
    int64_t total = m_releasedUploads;
    for (const auto& level : m_levels) total += level.second.uploads();
    return total;
}

void Viewport::useProgram(QOpenGLShaderProgram& program) {
    if (m_bound == &program) return;
    program.bind();
    program.setUniformValue("viewSize", QVector2D(float(width()), float(height())));
    program.setUniformValue("picture", 0);
    program.enableAttributeArray(0);
    program.setAttributeBuffer(0, GL_FLOAT, 0, 2);
    m_bound = &program;
}

void Viewport::drawQuad(const QRectF& viewRect, const QRectF& texRect) {
    m_bound->setUniformValue("viewRect", QVector4D(viewRect.x(), viewRect.y(), viewRect.width(), viewRect.height()));
    m_bound->setUniformValue("texRect", QVector4D(texRect.x(), texRect.y(), texRect.width(), texRect.height()));
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

// One frame into the bound framebuffer of `deviceSize` pixels; the decorations are painted
// through `decorations`, a paint device over that same framebuffer.
void Viewport::draw(const QSize& deviceSize, QPaintDevice* decorations) {
    const QColor backdrop = m_scene->sceneBackdrop();
    glViewport(0, 0, deviceSize.width(), deviceSize.height());
    glClearColor(backdrop.redF(), backdrop.greenF(), backdrop.blueF(), 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (m_failed || !m_plain) return;

    const QImage& picture = m_scene->scenePicture();
    const QRectF target = m_scene->sceneTarget();
    const GLint filter = m_scene->sceneSmooth() ? GL_LINEAR : GL_NEAREST;
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_BLEND);
    glActiveTexture(GL_TEXTURE0);
    m_corners.bind();
    m_bound = nullptr;

    if (!picture.isNull() && !target.isEmpty()) {
        auto found = m_levels.find(m_scene->scenePictureLevel());
        if (found == m_levels.end() || found->second.pictureSize() != picture.size()) {
            if (found != m_levels.end()) {
                m_releasedUploads += found->second.uploads();
                found->second.release(*this);
                m_levels.erase(found);
            }
            found = m_levels.emplace(m_scene->scenePictureLevel(), TextureGrid(picture.size())).first;
        }
        TextureGrid& grid = found->second;
        // View pixels per picture pixel, and the part of the picture in view.
        const double kx = target.width() / picture.width(), ky = target.height() / picture.height();
        const QRectF inView(-target.left() / kx, -target.top() / ky, width() / kx, height() / ky);
        grid.upload(*this, picture, inView, m_rowLength);
        int c0, c1, r0, r1;
        grid.tilesMeeting(inView, c0, c1, r0, r1);
        // Opaque tiles first, then those that need the checkered backdrop: one program switch.
        for (const bool opaquePass : {true, false})
            for (int r = r0; r < r1; ++r)
                for (int c = c0; c < c1; ++c) {
                    TextureGrid::Tile& t = grid.tile(c, r);
                    if (!t.texture || t.opaque != opaquePass) continue;
                    useProgram(opaquePass ? *m_plain : *m_checkered);
                    glBindTexture(GL_TEXTURE_2D, t.texture);
                    // Filter changes are state changes for the driver: only when they differ.
                    if (t.filter != filter) {
                        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
                        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
                        t.filter = filter;
                    }
                    const QRectF view(target.left() + t.inner.left() * kx, target.top() + t.inner.top() * ky,
                                      t.inner.width() * kx, t.inner.height() * ky);
                    const QRectF tex(double(t.inner.left() - t.stored.left()) / t.stored.width(),
                                     double(t.inner.top() - t.stored.top()) / t.stored.height(),
                                     double(t.inner.width()) / t.stored.width(),
                                     double(t.inner.height()) / t.stored.height());
                    drawQuad(view, tex);
                }

        const QImage& overlay = m_scene->sceneOverlay();
        if (!overlay.isNull()) {
            if (!m_overlayTexture) {
                GLuint id = 0;
                glGenTextures(1, &id);
                m_overlayTexture = id;
                glBindTexture(GL_TEXTURE_2D, id);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
                m_overlaySize = QSize();
            }
            glBindTexture(GL_TEXTURE_2D, m_overlayTexture);
            if (overlay.cacheKey() != m_overlayKey) {
                const QImage rgba = overlay.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
                glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
                if (rgba.size() == m_overlaySize)
                    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, rgba.width(), rgba.height(), GL_RGBA, GL_UNSIGNED_BYTE,
                                    rgba.constBits());
                else
                    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, rgba.width(), rgba.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE,
                                 rgba.constBits());
                m_overlaySize = rgba.size();
                m_overlayKey = overlay.cacheKey();
            }
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
            glEnable(GL_BLEND);
            glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
            useProgram(*m_plain);
            drawQuad(target, QRectF(0, 0, 1, 1));
            glDisable(GL_BLEND);
        }
    }

    if (m_bound) {
        m_bound->disableAttributeArray(0);
        m_bound->release();
        m_bound = nullptr;
    }
    m_corners.release();
    glBindTexture(GL_TEXTURE_2D, 0);

    if (m_scene->sceneHasDecorations()) {
        QPainter painter(decorations);
        m_scene->paintSceneDecorations(painter);
    }
}

}} // namespace Orvex::GPU
