#pragma once
// The image textures of one picture (one pyramid level of the shown image): the picture cut into
// square tiles, each its own texture with a border of one texel copied from its neighbours, so
// that linear filtering across a tile edge reads the same pixels as it would inside one big
// texture. A tile is uploaded the first time it is needed and again only after the picture
// changed under it; the grid never holds pixels itself, it reads them from the picture it is
// handed at upload time.
//
// All GL calls need the grid's context current; the bookkeeping (which tiles are stale) does not.
#include <QImage>
#include <QRect>
#include <QRectF>

#include <cstdint>
#include <vector>

class QOpenGLFunctions;

namespace Orvex { namespace GPU {

class TextureGrid {
public:
    static constexpr int kTileSize = 512; // inner pixels per side; the texture adds the border

    struct Tile {
        QRect inner;      // picture pixels this tile shows
        QRect stored;     // picture pixels in the texture: inner and its border, clipped
        unsigned texture = 0; // 0: not uploaded yet
        bool stale = false;   // the picture changed under it since its upload
        bool opaque = true;   // every uploaded pixel has full alpha (no backdrop needed)
        int filter = 0;       // the texture's filter as last set by the drawer (0: not set)
    };

    TextureGrid() = default;
    explicit TextureGrid(const QSize& pictureSize);
    TextureGrid(const TextureGrid&) = delete;
    TextureGrid& operator=(const TextureGrid&) = delete;
    TextureGrid(TextureGrid&&) noexcept;
    TextureGrid& operator=(TextureGrid&&) noexcept;
    ~TextureGrid(); // the textures must have been released (`release`) while the context was current

    QSize pictureSize() const { return m_size; }
    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    const Tile& tile(int column, int row) const { return m_tiles[size_t(row) * size_t(m_columns) + size_t(column)]; }
    Tile& tile(int column, int row) { return m_tiles[size_t(row) * size_t(m_columns) + size_t(column)]; }

    // Marks the tiles whose texture holds any pixel of `pictureRect` stale.
    void markChanged(const QRect& pictureRect);
    void markAllChanged();
    // Tiles whose inner rectangle meets `pictureRect` (clipped to the picture), as
    // column/row ranges [c0, c1) x [r0, r1).
    void tilesMeeting(const QRectF& pictureRect, int& c0, int& c1, int& r0, int& r1) const;

    // Uploads the stale tiles among those meeting `pictureRect` from `picture` (RGBA8888 of the
    // grid's size). Returns how many were uploaded.
    int upload(QOpenGLFunctions& gl, const QImage& picture, const QRectF& pictureRect, bool rowLengthSupported);
    void release(QOpenGLFunctions& gl);

    // Texture uploads since construction (tests and benchmarks count them).
    int64_t uploads() const { return m_uploads; }

private:
    void uploadTile(QOpenGLFunctions& gl, Tile& tile, const QImage& picture, bool rowLengthSupported);

    QSize m_size;
    int m_columns = 0;
    int m_rows = 0;
    std::vector<Tile> m_tiles;
    std::vector<uint8_t> m_staging; // rows of one tile, for contexts without GL_UNPACK_ROW_LENGTH
    int64_t m_uploads = 0;
};

}} // namespace Orvex::GPU
