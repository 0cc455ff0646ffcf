#include "dataview/Viewport.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPainter>

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

// mode 0: the image over the checkered backdrop (straight alpha), opaque out;
// mode 1: a premultiplied overlay, blended by the fixed function.
const char* const kFragmentShader = R"(
uniform sampler2D picture;
uniform int mode;
varying vec2 texCoord;
varying vec2 viewPos;
void main() {
    vec4 c = texture2D(picture, texCoord);
    if (mode == 0) {
        vec2 cell = floor(viewPos / 8.0);
        float dark = mod(cell.x + cell.y, 2.0) < 0.5 ? 1.0 : 0.0;
        vec3 back = mix(vec3(200.0 / 255.0), vec3(150.0 / 255.0), dark);
        gl_FragColor = vec4(mix(back, c.rgb, c.a), 1.0);
    } else {
        gl_FragColor = c;
    }
}
)";

} // namespace

Viewport::Viewport(ViewScene* scene, QWidget* parent) : QOpenGLWidget(parent), m_scene(scene) {
    // The window under it takes the pointer: the tools and panning live there.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

Viewport::~Viewport() {
    if (context() && isValid()) {
        makeCurrent();
        releaseTextures();
        m_program.reset();
        m_corners.destroy();
        doneCurrent();
    }
}

bool Viewport::openGLAvailable() {
    static const bool available = [] {
        if (qgetenv("ELEMORAMA_VIEW") == "raster") return false;
        QOpenGLContext context;
        if (!context.create()) return false;
        QOffscreenSurface surface;
        surface.create();
        if (!surface.isValid() || !context.makeCurrent(&surface)) return false;
        context.doneCurrent();
        return true;
    }();
    return available;
}

void Viewport::fail(const char* why) {
    if (m_failed) return;
    qWarning("image view: OpenGL drawing unavailable (%s), drawing without it", why);
    m_failed = true;
    emit failed();
}

void Viewport::initializeGL() {
    if (!context() || !context()->isValid()) return fail("no context");
    initializeOpenGLFunctions();
    // ES 2 has no row length for uploads from the middle of a picture.
    m_rowLength = !context()->isOpenGLES() || context()->format().majorVersion() >= 3;
    m_program = std::make_unique<QOpenGLShaderProgram>();
    if (!m_program->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
        !m_program->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader)) {
        m_program.reset();
        return fail("shaders");
    }
    m_program->bindAttributeLocation("corner", 0);
    if (!m_program->link()) {
        m_program.reset();
        return fail("shader link");
    }
    const GLfloat corners[] = {0, 0, 1, 0, 0, 1, 1, 1};
    m_corners.create();
    m_corners.bind();
    m_corners.allocate(corners, sizeof corners);
    m_corners.release();
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        releaseTextures();
        m_program.reset();
        m_corners.destroy();
        doneCurrent();
    });
}

void Viewport::resizeGL(int, int) {}

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
    update();
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
    update();
}

int64_t Viewport::tileUploads() const {
    int64_t total = m_releasedUploads;
    for (const auto& level : m_levels) total += level.second.uploads();
    return total;
}

void Viewport::drawQuad(const QRectF& viewRect, const QRectF& texRect) {
    m_program->setUniformValue("viewRect", QVector4D(viewRect.x(), viewRect.y(), viewRect.width(), viewRect.height()));
    m_program->setUniformValue("texRect", QVector4D(texRect.x(), texRect.y(), texRect.width(), texRect.height()));
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void Viewport::paintGL() {
    const QColor backdrop = m_scene->sceneBackdrop();
    glClearColor(backdrop.redF(), backdrop.greenF(), backdrop.blueF(), 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (m_failed || !m_program) return;

    const QImage& picture = m_scene->scenePicture();
    const QRectF target = m_scene->sceneTarget();
    const bool smooth = m_scene->sceneSmooth();
    const GLint filter = smooth ? GL_LINEAR : GL_NEAREST;
    const qreal ratio = devicePixelRatioF();
    glViewport(0, 0, int(std::lround(width() * ratio)), int(std::lround(height() * ratio)));
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);

    m_program->bind();
    m_program->setUniformValue("viewSize", QVector2D(float(width()), float(height())));
    m_program->setUniformValue("picture", 0);
    glActiveTexture(GL_TEXTURE0);
    m_corners.bind();
    m_program->enableAttributeArray(0);
    m_program->setAttributeBuffer(0, GL_FLOAT, 0, 2);

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
        m_program->setUniformValue("mode", 0);
        for (int r = r0; r < r1; ++r)
            for (int c = c0; c < c1; ++c) {
                const TextureGrid::Tile& t = grid.tile(c, r);
                if (!t.texture) continue;
                glBindTexture(GL_TEXTURE_2D, t.texture);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
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
            m_program->setUniformValue("mode", 1);
            drawQuad(target, QRectF(0, 0, 1, 1));
            glDisable(GL_BLEND);
        }
    }

    m_program->disableAttributeArray(0);
    m_corners.release();
    m_program->release();
    glBindTexture(GL_TEXTURE_2D, 0);

    if (m_scene->sceneHasDecorations()) {
        QPainter painter(this);
        m_scene->paintSceneDecorations(painter);
    }
}

}} // namespace Orvex::GPU
