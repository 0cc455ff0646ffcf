#pragma once
// Lines and points for the effects that are drawn along them, as the batch renderer and the link's
// batch runs take them: the trunk effects (aurora, lightning) take lines, given one by one in image
// pixels or as a trunk list file (or one of the built-in line sets by number); the rainbow takes its
// three points, or is placed as the window places it on a fresh picture.

#include "datastorage/DataChannel.h"
#include "datastorage/RectT.h"
#include "document/filters/EffectJob.h"

#include <QStringList>

#include <functional>

namespace Orvex::Render {

struct RenderGeometry {
    QStringList lines; // "X1,Y1,X2,Y2" each, image pixels
    QString linesFile; // a trunk list file, or a built-in line set "1" ... "10" when no such file exists
    QString points;    // "X0,Y0,X1,Y1,X2,Y2": the two ends of the rainbow's arc and a point between,
                       // or a rainbow file (the points and the shield)
    bool isEmpty() const { return lines.isEmpty() && linesFile.isEmpty() && points.isEmpty(); }
};

// "X1,Y1,X2,Y2" (integers or reals, rounded half away from zero; separated by commas or blanks)
// into a segment; false with a message for anything else, coordinates beyond +-1e9 or equal ends.
bool parseLine(const QString& text, Document::Filters::Segment& segment, QString* message);
// Six numbers likewise (reals kept as they are).
bool parsePoints(const QString& text, double (&values)[6], QString* message);

// Puts the geometry into the job's record for a picture of `size`. Throws
// Document::Filters::EffectJobError for unreadable text or files, for lines or points given to an
// effect that takes none, and for a trunk effect left without any line. `note` receives what is
// worth telling (trunks of a file that were dropped). A rainbow file's shield goes to `strokes`.
void applyGeometry(const RenderGeometry& geometry, Document::Filters::EffectJob& job, Detail::SizeT<int> size,
                   const std::function<void(const QString&)>& note = {},
                   Ref<DataStorage::DataChannel>* strokes = nullptr);

} // namespace Orvex::Render
