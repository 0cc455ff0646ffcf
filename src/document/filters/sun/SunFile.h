#pragma once
// The sun file: the sun's placement (centre, radius, angle) kept apart from its look, in the tool
// files' XML (root "elemorama", type "Sun"). Positions are stored as fractions of the picture's
// width and height and the radius as a fraction of its diagonal, so that a file fits pictures of
// any size. Files are untrusted: a damaged one is refused with a message and changes nothing.

#include "document/filters/sun/SunParams.h"

#include <QString>

namespace Orvex::Document::Filters {

// Reads the placement for a picture of width x height into `p` (centre cut to the picture, radius
// to 1 ... 100000). On failure returns false, leaves `p` as it was and sets `error` to
// "Error loading from <file>" and the reason on a second line, or "File <file> is for <type>
// effect" for a tool file of another effect.
bool loadSunFile(const QString& path, int width, int height, SunParams& p, QString* error);

// Writes the placement through a temporary file (path + ".tmp") that then replaces the old file.
// On failure returns false and sets `error` to "Write error of file:\n <reason>".
bool saveSunFile(const QString& path, const SunParams& p, int width, int height, QString* error);

} // namespace Orvex::Document::Filters
