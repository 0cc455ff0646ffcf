#include "main/render/RenderGeometry.h"

#include "document/filters/TrunkListFile.h"
#include "document/filters/lightning/LightningLineSets.h"
#include "document/filters/rainbow/RainbowFile.h"
#include "document/filters/rainbow/RainbowRenderer.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

namespace Orvex::Render {

using namespace Document::Filters;

namespace {

// Coordinates this far outside any picture are typing mistakes, not lines.
constexpr double kCoordinateLimit = 1e9;

bool parseNumbers(const QString& text, int count, double* values, QString* message, const char* what) {
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    const QStringList parts = text.trimmed().split(separators, Qt::SkipEmptyParts);
    bool ok = parts.size() == count;
    for (int i = 0; ok && i < count; ++i) {
        values[i] = parts[i].toDouble(&ok);
        ok = ok && std::isfinite(values[i]) && std::fabs(values[i]) <= kCoordinateLimit;
    }
    if (!ok && message)
        *message = QStringLiteral("'%1' is not %2 (%3 numbers, image pixels)").arg(text, what).arg(count);
    return ok;
}

[[noreturn]] void usage(const QString& text) {
    throw EffectJobError(text.toStdString());
}

std::vector<Segment> linesFromFile(const QString& name, Detail::SizeT<int> size,
                                   const std::function<void(const QString&)>& note) {
    QString path = name;
    bool ok = false;
    const int set = name.toInt(&ok);
    if (!QFileInfo::exists(name) && ok && set >= 1 && set <= kLightningLineSets)
        path = lightningLineSetPath(set);
    const TrunkListContent content = readTrunkList(path, size);
    if (content.status != TrunkListStatus::Ok)
        usage(QStringLiteral("--lines: %1").arg(trunkListMessage(content, name)));
    if (content.dropped && note)
        note(QStringLiteral("%1: %2 unusable line(s) skipped")
                 .arg(QFileInfo(name).fileName())
                 .arg(content.dropped));
    return content.lines;
}

} // namespace

bool parseLine(const QString& text, Segment& segment, QString* message) {
    double v[4];
    if (!parseNumbers(text, 4, v, message, "a line X1,Y1,X2,Y2")) return false;
    segment = {int32_t(std::round(v[0])), int32_t(std::round(v[1])), int32_t(std::round(v[2])),
               int32_t(std::round(v[3]))};
    if (segment.x1 == segment.x2 && segment.y1 == segment.y2) {
        if (message) *message = QStringLiteral("the line '%1' has no length").arg(text);
        return false;
    }
    return true;
}

bool parsePoints(const QString& text, double (&values)[6], QString* message) {
    return parseNumbers(text, 6, values, message, "three points X0,Y0,X1,Y1,X2,Y2");
}

void applyGeometry(const RenderGeometry& geometry, EffectJob& job, Detail::SizeT<int> size,
                   const std::function<void(const QString&)>& note, Ref<DataStorage::DataChannel>* strokes) {
    const EffectInfo* info = EffectRegistry::byId(job.effectId);
    const QString effect = info ? QString::fromLatin1(info->shortName) : QStringLiteral("?");
    std::vector<Segment>* lines = job.params->segments();
    const bool givesLines = !geometry.lines.isEmpty() || !geometry.linesFile.isEmpty();
    if (givesLines && !lines) usage(QStringLiteral("%1 takes no lines (--line, --lines)").arg(effect));
    if (lines) {
        if (givesLines) lines->clear();
        if (!geometry.linesFile.isEmpty()) *lines = linesFromFile(geometry.linesFile, size, note);
        for (const QString& text : geometry.lines) {
            Segment s;
            QString message;
            if (!parseLine(text, s, &message)) usage(QStringLiteral("--line: %1").arg(message));
            lines->push_back(s);
        }
        if (int(lines->size()) > kMaxTrunkListLines)
            usage(QStringLiteral("more than %1 lines").arg(kMaxTrunkListLines));
        if (lines->empty())
            usage(QStringLiteral("%1 is drawn along lines: give at least one (--line X1,Y1,X2,Y2 or --lines "
                                 "FILE; in a batch node, lines { line X1,Y1,X2,Y2 })")
                      .arg(effect));
    }

    auto* rainbow = dynamic_cast<TypedParams<RainbowParams>*>(job.params.get());
    if (!geometry.points.isEmpty() && !rainbow)
        usage(QStringLiteral("%1 takes no points (--points)").arg(effect));
    if (rainbow) {
        RainbowParams& r = rainbow->record;
        if (geometry.points.isEmpty()) {
            r.placeDefault(size.width, size.height);
        } else {
            double v[6];
            QString message;
            if (parsePoints(geometry.points, v, &message)) {
                r.pt0 = {v[0], v[1]}, r.pt1 = {v[2], v[3]}, r.pt2 = {v[4], v[5]};
            } else if (QFileInfo(geometry.points).isFile()) {
                const RainbowFileContent file = readRainbowFile(geometry.points, size);
                if (!file.ok)
                    usage(QStringLiteral("--points: %1").arg(rainbowFileMessage(file, geometry.points)));
                r.pt0 = file.points[0], r.pt1 = file.points[1], r.pt2 = file.points[2];
                if (strokes) *strokes = file.shield;
            } else {
                usage(QStringLiteral("--points: %1, nor a rainbow file").arg(message));
            }
            if (RainbowCircle::through(r.pt0, r.pt1, r.pt2).radius < 5 && note)
                note(QStringLiteral("the three points admit no arc: the picture is left as it is"));
        }
    }
}

} // namespace Orvex::Render
