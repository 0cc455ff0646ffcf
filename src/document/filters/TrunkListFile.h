#pragma once
// Trunk list files: the lines of the trunk effects (aurora, lightning) as UTF-8 XML, read by the
// trunk tools, the batch renderer and the lightning's built-in line sets, written by the tools.
//
//   <elemorama type="TrunkList" aspect="133">
//       <trunk x1="0.1" y1="0.52" x2="0.9" y2="0.47"/>
//       <trunk><begin x="0.2" y="0.3"/><end x="0.4" y="0.35"/></trunk>
//   </elemorama>
//
// Coordinates are fractions of a scale length taken from the image: without "aspect" x of the
// width and y of the height; "fixed": both of the longer side; an integer N: both of the width
// when the file's shape (N / 100) is at least the image's (W / H), else of the height. Each is
// clamped to -1 ... 2, scaled and rounded half away from zero; a trunk whose ends meet is dropped.
//
// The file is untrusted: its size and line count are limited, every failure is a status with a
// one-line reason, and nothing is thrown. Functions may be called from any thread.

#include "datastorage/RectT.h"
#include "document/filters/ParamRecord.h"

#include <QString>

#include <vector>

class QIODevice;

namespace Orvex::Document::Filters {

constexpr qint64 kMaxTrunkListBytes = qint64(64) << 20;
constexpr int kMaxTrunkListLines = 100000;

enum class TrunkListStatus {
    Ok,
    Unreadable, // the file cannot be opened, or is too large
    Malformed,  // not XML, truncated, or a bad "aspect"
    NoTrunks,   // no "elemorama" root, no "type", or no usable trunk
    OtherType,  // a root of another effect ("Rain", ...)
    TooMany,    // more lines than kMaxTrunkListLines
};

struct TrunkListContent {
    TrunkListStatus status = TrunkListStatus::Ok;
    std::vector<Segment> lines;
    QString type;    // the root's "type" attribute as found
    QString detail;  // what went wrong, for messages ("line 3: premature end of document")
    int dropped = 0; // trunks without four readable coordinates, or whose ends met
};

// Reads the file for an image of `imageSize` (sides of at least 1).
TrunkListContent readTrunkList(const QString& path, Detail::SizeT<int> imageSize);
TrunkListContent readTrunkList(QIODevice& device, Detail::SizeT<int> imageSize);

// The message the tools show for a failed read, as the trunk tools word it: "Error loading from
// %1" or "File %1 is for %2 effect" (the file's name without directory), then the detail when known.
QString trunkListMessage(const TrunkListContent& content, const QString& path);

// Writes `lines` of an image of `imageSize` through path + ".tmp" renamed over `path`, with
// "aspect" = round(100 W / H) and coordinates divided by the longer side (six significant digits).
// False with the reason ("Cannot open temporary file for write.", "Cannot remove the old file.",
// "Cannot rename temporary file.") in `error`.
bool writeTrunkList(const QString& path, Detail::SizeT<int> imageSize, const std::vector<Segment>& lines,
                    QString* error = nullptr);

} // namespace Orvex::Document::Filters
