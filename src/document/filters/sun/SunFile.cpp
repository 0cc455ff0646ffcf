#include "document/filters/XmlFileWriter.h"
#include "document/filters/sun/SunFile.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>

namespace Orvex::Document::Filters {

namespace {

// Tool files are a few hundred bytes; anything far larger is not one.
constexpr qint64 kLargestFile = 1 << 20;

QString number(double v) {
    return QStringLiteral("%1").arg(v, 0, 'g', 6);
}

bool finiteNumber(QStringView text, double& value) {
    bool ok = false;
    value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value);
}

} // namespace

bool loadSunFile(const QString& path, int width, int height, SunParams& p, QString* error) {
    const QString name = QFileInfo(path).fileName();
    auto fail = [&](const char* reason) {
        if (error) *error = QStringLiteral("Error loading from %1\n%2").arg(name, QLatin1String(reason));
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return fail("Cannot open file for read");
    if (file.size() > kLargestFile) return fail("Cannot read the file");
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("elemorama"))
        return fail("Cannot read the file");
    const QString type = xml.attributes().value(QLatin1String("type")).toString();
    if (type != QLatin1String("Sun")) {
        if (type.isEmpty()) return fail("No data for tool");
        if (error) *error = QStringLiteral("File %1 is for %2 effect").arg(name, type);
        return false;
    }
    bool haveSun = false, haveCenter = false, haveRadius = false;
    double x = 0, y = 0, radius = 0, angle = p.angle;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("sun")) {
            xml.skipCurrentElement();
            continue;
        }
        haveSun = true;
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("center")) {
                const auto a = xml.attributes();
                if (!finiteNumber(a.value(QLatin1String("x")), x) ||
                    !finiteNumber(a.value(QLatin1String("y")), y))
                    return fail("Invalid format of map data");
                haveCenter = true;
                xml.skipCurrentElement();
            } else if (xml.name() == QLatin1String("radius")) {
                if (!finiteNumber(xml.readElementText(), radius) || radius <= 0)
                    return fail("Invalid format of map data");
                haveRadius = true;
            } else if (xml.name() == QLatin1String("angle")) {
                if (!finiteNumber(xml.readElementText(), angle)) return fail("Invalid format of map data");
            } else {
                xml.skipCurrentElement();
            }
        }
    }
    if (xml.hasError()) return fail("Cannot read the file");
    if (!haveSun) return fail("No data for tool");
    if (!haveCenter || !haveRadius) return fail("No data for map");
    // Back to pixels, every number cut to what a picture can hold before it meets an integer.
    const double diagonal = std::sqrt(double(width) * width + double(height) * height);
    SunParams placed = p;
    placed.centerX = int(std::lround(std::clamp(x * width, -1e9, 1e9)));
    placed.centerY = int(std::lround(std::clamp(y * height, -1e9, 1e9)));
    // Six digits of the radius' share of the diagonal give back the pixels it was written from to
    // within a thousandth; rounding there keeps a whole radius whole (its integer part is the disc's).
    placed.radius = float(std::clamp(std::round(radius * diagonal * 1000.0) / 1000.0, 1.0, 100000.0));
    placed.angle = float(std::remainder(angle, 2 * 3.14159265358979323846));
    placed.clampToImage(width, height);
    p = placed;
    return true;
}

bool saveSunFile(const QString& path, const SunParams& p, int width, int height, QString* error) {
    auto fail = [&](const char* reason) {
        if (error) *error = QStringLiteral("Write error of file:\n %1").arg(QLatin1String(reason));
        return false;
    };
    const char* reason = nullptr;
    const bool written = writeXmlThroughTemporary(path, [&](QXmlStreamWriter& xml) {
        xml.writeStartElement(QStringLiteral("elemorama"));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("Sun"));
        xml.writeStartElement(QStringLiteral("sun"));
        xml.writeEmptyElement(QStringLiteral("center"));
        xml.writeAttribute(QStringLiteral("x"), number(float(p.centerX) / float(std::max(1, width))));
        xml.writeAttribute(QStringLiteral("y"), number(float(p.centerY) / float(std::max(1, height))));
        const double diagonal = std::sqrt(double(width) * width + double(height) * height);
        xml.writeTextElement(QStringLiteral("radius"), number(p.radius / std::max(1.0, diagonal)));
        xml.writeTextElement(QStringLiteral("angle"), number(p.angle));
        xml.writeEndElement();
        xml.writeEndElement();
    }, &reason);
    return written || fail(reason);
}

} // namespace Orvex::Document::Filters
