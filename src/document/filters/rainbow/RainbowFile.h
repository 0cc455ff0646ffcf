#pragma once
// Rainbow files: the three points of the arc and the shield the marker painted, as the rainbow's
// placing tool saves them and the batch renderer reads them.
//
//   <elemorama type="Rainbow">
//       <points><pt0 x="0.1" y="0.8"/><pt1 x="0.5" y="0.3"/><pt2 x="0.9" y="0.8"/></points>
//       <strokes>(Base64 of a PNG of the shield: 8-bit palette, grey or alpha, the image's size)</strokes>
//   </elemorama>
//
// Point coordinates are fractions of the image's width and height. The file is untrusted: its
// size is limited, and every failure is a status with the message the tools show; nothing throws.

#include "datastorage/DataChannel.h"
#include "document/filters/rainbow/RainbowParams.h"

#include <QString>

namespace Orvex::Document::Filters {

constexpr qint64 kMaxRainbowFileBytes = qint64(256) << 20;

struct RainbowFileContent {
    bool ok = false;
    RainbowParams::Point points[3];
    Ref<DataStorage::DataChannel> shield; // 8-bit at the image's size; null when the file has none
    QString type;                         // the root's "type"
    QString reason; // when not ok: "Cannot open file for read", "Cannot read the file", "No data for
                    // tool", "No data for map", "Invalid format of map data"; empty for another type
};

RainbowFileContent readRainbowFile(const QString& path, ::Orvex::Detail::SizeT<int> imageSize);

// "Error loading from %1" with the reason, or "File %1 is for %2 effect" (context "DocumentFilters").
QString rainbowFileMessage(const RainbowFileContent& content, const QString& path);

// Writes through path + ".tmp"; the shield goes in when it holds anything. False with the reason
// ("Cannot open temporary file for write.", "Cannot remove the old file.", "Cannot rename temporary
// file.") in `error`.
bool writeRainbowFile(const QString& path, ::Orvex::Detail::SizeT<int> imageSize,
                      const RainbowParams::Point (&points)[3], const DataStorage::DataChannel* shield,
                      QString* error = nullptr);

} // namespace Orvex::Document::Filters
