#include "dataview/TextureGrid.h"

#include <QOpenGLFunctions>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#ifndef GL_UNPACK_ROW_LENGTH
#define GL_UNPACK_ROW_LENGTH 0x0CF2
#endif

namespace Orvex { namespace GPU {

TextureGrid::TextureGrid(const QSize& pictureSize) : m_size(pictureSize) {
    if (pictureSize.isEmpty()) return;
    m_columns = (pictureSize.width() + kTileSize - 1) / kTileSize;
    m_rows = (pictureSize.height() + kTileSize - 1) / kTileSize;
    const QRect all(QPoint(0, 0), pictureSize);
    m_tiles.resize(size_t(m_columns) * size_t(m_rows));
    for (int r = 0; r < m_rows; ++r)
        for (int c = 0; c < m_columns; ++c) {
            Tile& t = m_tiles[size_t(r) * size_t(m_columns) + size_t(c)];
            t.inner = QRect(c * kTileSize, r * kTileSize, kTileSize, kTileSize).intersected(all);
            t.stored = t.inner.adjusted(-1, -1, 1, 1).intersected(all);
        }
}

TextureGrid::TextureGrid(TextureGrid&& other) noexcept { *this = std::move(other); }

TextureGrid& TextureGrid::operator=(TextureGrid&& other) noexcept {
    std::swap(m_size, other.m_size);
    std::swap(m_columns, other.m_columns);
    std::swap(m_rows, other.m_rows);
    std::swap(m_tiles, other.m_tiles);
    std::swap(m_staging, other.m_staging);
    std::swap(m_uploads, other.m_uploads);
    return *this;
}

TextureGrid::~TextureGrid() = default;

void TextureGrid::markChanged(const QRect& pictureRect) {
    const QRect changed = pictureRect.intersected(QRect(QPoint(0, 0), m_size));
    if (changed.isEmpty()) return;
    for (Tile& t : m_tiles)
        if (t.stored.intersects(changed)) t.stale = true;
}

void TextureGrid::markAllChanged() {
    for (Tile& t : m_tiles) t.stale = true;
}

void TextureGrid::tilesMeeting(const QRectF& pictureRect, int& c0, int& c1, int& r0, int& r1) const {
    const QRectF clipped = pictureRect.intersected(QRectF(0, 0, m_size.width(), m_size.height()));
    if (clipped.isEmpty() || m_tiles.empty()) {
        c0 = c1 = r0 = r1 = 0;
        return;
    }
    c0 = std::clamp(int(std::floor(clipped.left() / kTileSize)), 0, m_columns);
    r0 = std::clamp(int(std::floor(clipped.top() / kTileSize)), 0, m_rows);
    c1 = std::clamp(int(std::ceil(clipped.right() / kTileSize)), c0, m_columns);
    r1 = std::clamp(int(std::ceil(clipped.bottom() / kTileSize)), r0, m_rows);
}

int TextureGrid::upload(QOpenGLFunctions& gl, const QImage& picture, const QRectF& pictureRect,
                        bool rowLengthSupported) {
    if (picture.size() != m_size || picture.format() != QImage::Format_RGBA8888) return 0;
    int c0, c1, r0, r1, count = 0;
    tilesMeeting(pictureRect, c0, c1, r0, r1);
    for (int r = r0; r < r1; ++r)
        for (int c = c0; c < c1; ++c) {
            Tile& t = m_tiles[size_t(r) * size_t(m_columns) + size_t(c)];
            if (!t.stale && t.texture) continue;
            uploadTile(gl, t, picture, rowLengthSupported);
            ++count;
        }
    return count;
}

void TextureGrid::uploadTile(QOpenGLFunctions& gl, Tile& tile, const QImage& picture, bool rowLengthSupported) {
    const bool fresh = tile.texture == 0;
    if (fresh) {
        GLuint id = 0;
        gl.glGenTextures(1, &id);
        tile.texture = id;
    }
    gl.glBindTexture(GL_TEXTURE_2D, tile.texture);
    if (fresh) {
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    const QRect s = tile.stored;
    const uchar* first = picture.constBits() + size_t(s.top()) * size_t(picture.bytesPerLine()) + size_t(s.left()) * 4;
    const void* pixels = first;
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (rowLengthSupported) {
        gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, picture.bytesPerLine() / 4);
    } else {
        // Without a row length the tile's rows are packed into one block first.
        const size_t rowBytes = size_t(s.width()) * 4;
        m_staging.resize(rowBytes * size_t(s.height()));
        for (int y = 0; y < s.height(); ++y)
            std::memcpy(m_staging.data() + rowBytes * size_t(y), first + size_t(y) * size_t(picture.bytesPerLine()), rowBytes);
        pixels = m_staging.data();
    }
    // Opaque tiles are drawn without the checkered backdrop. The scan runs once per upload.
    tile.opaque = true;
    for (int y = 0; y < s.height() && tile.opaque; ++y) {
        const uchar* row = first + size_t(y) * size_t(picture.bytesPerLine());
        uchar all = 255;
        for (int x = 0; x < s.width(); ++x) all &= row[4 * x + 3];
        tile.opaque = all == 255;
    }
    if (fresh)
        gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, s.width(), s.height(), 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    else
        gl.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, s.width(), s.height(), GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    if (rowLengthSupported) gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    tile.stale = false;
    ++m_uploads;
}

void TextureGrid::release(QOpenGLFunctions& gl) {
    for (Tile& t : m_tiles) {
        if (t.texture) {
            GLuint id = t.texture;
            gl.glDeleteTextures(1, &id);
        }
        t.texture = 0;
        t.stale = false;
        t.filter = 0;
    }
}

}} // namespace Orvex::GPU
