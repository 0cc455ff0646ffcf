#pragma once
// The strokes file (".elemor"): a mask exported by the mask tools. An XML document (UTF-8,
// indented) with one root element "elemorama"; its attribute "type" says what the mask is ("mask":
// selection coverage 0 ... 255, "duomask": labels 0 / 1 / 2, "strokes": read only, any non-zero
// sample selects), its text is the Base64 of a PNG of the mask at the layer's size, one 8-bit
// palette index per pixel.
//
// Files are untrusted: sizes are checked before anything is allocated (at most MaxSide pixels a
// side and MaxPixels pixels), and every failure leaves the caller's data alone.

#include "datastorage/DataChannel.h"

#include <QImage>
#include <QString>

#include <vector>

namespace Orvex::Document::Filters::StrokesFile {

constexpr int MaxSide = 30000;
constexpr qint64 MaxPixels = 400LL * 1000 * 1000;
constexpr qint64 MaxFileBytes = 1LL << 30;

// The PNG of `mask` (null: a 1 x 1 empty one) with the palette of `type`.
QByteArray encodePng(const DataStorage::DataChannel* mask, const QString& type);

// Writes the file through path + ".tmp" and a rename, so that a failure never leaves a half
// written file under `path`. On failure `reason` is the translated cause.
bool write(const QString& path, const QString& type, const DataStorage::DataChannel* mask, QString& reason);

enum Status { Ok, WrongEffect, Unreadable };
struct Content {
    QString type;
    QImage image; // Format_Indexed8 or Format_Grayscale8, at least 1 x 1
};
// Reads the file for an effect with ("duomask") or without ("mask", "strokes") the duo mask.
// WrongEffect: the type is known but belongs elsewhere (content.type says which).
Status read(const QString& path, bool duoMask, Content& content);

// The effects that use files of `type`, for "File %1 is for %2 effect".
QString effectsOfType(const QString& type);

// The image's samples (palette indices or grey levels) at `size`: copied when the sizes agree,
// else resampled (labels nearest-neighbour, coverage area-averaged when shrinking and bilinear when
// enlarging).
std::vector<uint8_t> samplesAtSize(const QImage& image, ::Orvex::Detail::SizeI size, bool labels);

} // namespace Orvex::Document::Filters::StrokesFile
