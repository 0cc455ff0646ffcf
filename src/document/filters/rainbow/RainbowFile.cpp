#include "document/filters/XmlFileWriter.h"
#include "document/filters/rainbow/RainbowFile.h"

#include "document/filters/RenderSupport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>
#include <vector>

namespace Orvex::Document::Filters {

using namespace DataStorage;

namespace {

const char* const kCannotOpen = QT_TRANSLATE_NOOP("DocumentFilters", "Cannot open file for read");
const char* const kCannotRead = QT_TRANSLATE_NOOP("DocumentFilters", "Cannot read the file");
const char* const kNoTool = QT_TRANSLATE_NOOP("DocumentFilters", "No data for tool");
const char* const kNoMap = QT_TRANSLATE_NOOP("DocumentFilters", "No data for map");
const char* const kBadMap = QT_TRANSLATE_NOOP("DocumentFilters", "Invalid format of map data");

// The shield from the PNG of the "strokes" element; a reason when it cannot be used.
Ref<DataChannel> shieldFrom(const QString& base64, SizeI size, const char*& reason) {
    const QByteArray png = QByteArray::fromBase64(base64.trimmed().toLatin1());
    if (png.isEmpty()) {
        reason = kNoMap;
        return {};
    }
    const QImage image = QImage::fromData(png, "PNG");
    const QImage::Format format = image.format();
    if (image.isNull() || image.width() != size.width || image.height() != size.height ||
        (format != QImage::Format_Indexed8 && format != QImage::Format_Grayscale8 &&
         format != QImage::Format_Alpha8)) {
        reason = kBadMap;
        return {};
    }
    std::vector<uint8_t> levels(256);
    for (int i = 0; i < 256; ++i) levels[size_t(i)] = uint8_t(i);
    if (format == QImage::Format_Indexed8) {
        // The palette's grey level, so that any palette reads as it looks.
        const QVector<QRgb> table = image.colorTable();
        for (int i = 0; i < 256; ++i) levels[size_t(i)] = i < table.size() ? uint8_t(qGray(table[i])) : 0;
    }
    std::vector<uint8_t> samples(size_t(size.width) * size_t(size.height));
    for (int y = 0; y < size.height; ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < size.width; ++x)
            samples[size_t(y) * size_t(size.width) + size_t(x)] = levels[row[x]];
    }
    Ref<DataChannel> shield(new DataChannel(size, TypeU8));
    setData(*shield, shield->bounds(), samples.data(), unsigned(size.width));
    return shield;
}

} // namespace

RainbowFileContent readRainbowFile(const QString& path, SizeI imageSize) {
    RainbowFileContent content;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text) || file.size() > kMaxRainbowFileBytes) {
        content.reason = kCannotOpen;
        return content;
    }
    const double W = std::max(1, imageSize.width), H = std::max(1, imageSize.height);
    QXmlStreamReader xml(&file);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("elemorama")) {
        content.reason = kCannotRead;
        return content;
    }
    content.type = xml.attributes().value(QLatin1String("type")).toString();
    if (content.type != QLatin1String("Rainbow")) return content; // another effect's file
    bool havePoint[3] = {false, false, false};
    bool haveStrokes = false;
    const char* reason = nullptr;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("points")) {
            while (xml.readNextStartElement()) {
                const QStringRef name = xml.name();
                const int index = name == QLatin1String("pt0")   ? 0
                                  : name == QLatin1String("pt1") ? 1
                                  : name == QLatin1String("pt2") ? 2
                                                                 : -1;
                if (index >= 0) {
                    bool okX = false, okY = false;
                    const double x = xml.attributes().value(QLatin1String("x")).toDouble(&okX);
                    const double y = xml.attributes().value(QLatin1String("y")).toDouble(&okY);
                    if (okX && okY && std::isfinite(x) && std::isfinite(y) && std::fabs(x) < 1e6 &&
                        std::fabs(y) < 1e6) {
                        content.points[index] = {x * W, y * H};
                        havePoint[index] = true;
                    }
                }
                xml.skipCurrentElement();
            }
        } else if (xml.name() == QLatin1String("strokes")) {
            haveStrokes = true;
            content.shield = shieldFrom(xml.readElementText(), imageSize, reason);
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError())
        content.reason = kCannotRead;
    else if (!havePoint[0] || !havePoint[1] || !havePoint[2])
        content.reason = kNoTool;
    else if (haveStrokes && !content.shield)
        content.reason = reason ? reason : kNoMap;
    content.ok = content.reason.isEmpty();
    if (!content.ok) content.shield = Ref<DataChannel>();
    return content;
}

QString rainbowFileMessage(const RainbowFileContent& content, const QString& path) {
    const QString name = QFileInfo(path).fileName();
    if (content.ok) return {};
    if (content.reason.isEmpty())
        return QCoreApplication::translate("DocumentFilters", "File %1 is for %2 effect")
            .arg(name, content.type);
    return QCoreApplication::translate("DocumentFilters", "Error loading from %1").arg(name) +
           QStringLiteral(": ") + QCoreApplication::translate("DocumentFilters", content.reason.toUtf8());
}

bool writeRainbowFile(const QString& path, SizeI imageSize, const RainbowParams::Point (&points)[3],
                      const DataChannel* shield, QString* error) {
    auto fail = [&](const char* reason) {
        if (error) *error = QCoreApplication::translate("DocumentFilters", reason);
        return false;
    };
    const double W = std::max(1, imageSize.width), H = std::max(1, imageSize.height);
    QByteArray strokes;
    if (shield && shield->size() == imageSize && !maskBounds(shield).isEmpty()) {
        QImage image(imageSize.width, imageSize.height, QImage::Format_Indexed8);
        QVector<QRgb> grey(256);
        for (int i = 0; i < 256; ++i) grey[i] = qRgb(i, i, i);
        image.setColorTable(grey);
        const DataChannel bytes(*shield, TypeU8);
        std::vector<uint8_t> samples(size_t(imageSize.width) * size_t(imageSize.height));
        getData(bytes, bytes.bounds(), samples.data(), unsigned(imageSize.width));
        for (int y = 0; y < imageSize.height; ++y)
            std::copy_n(samples.data() + size_t(y) * size_t(imageSize.width), imageSize.width,
                        image.scanLine(y));
        QBuffer buffer(&strokes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
    }
    const char* reason = nullptr;
    const bool written = writeXmlThroughTemporary(path, [&](QXmlStreamWriter& xml) {
        xml.writeStartElement(QStringLiteral("elemorama"));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("Rainbow"));
        xml.writeStartElement(QStringLiteral("points"));
        for (int i = 0; i < 3; ++i) {
            xml.writeEmptyElement(QStringLiteral("pt%1").arg(i));
            xml.writeAttribute(QStringLiteral("x"), QString::number(points[i].x / W, 'g', 6));
            xml.writeAttribute(QStringLiteral("y"), QString::number(points[i].y / H, 'g', 6));
        }
        xml.writeEndElement();
        if (!strokes.isEmpty())
            xml.writeTextElement(QStringLiteral("strokes"), QString::fromLatin1(strokes.toBase64()));
        xml.writeEndElement();
    }, &reason);
    return written || fail(reason);
}

} // namespace Orvex::Document::Filters
