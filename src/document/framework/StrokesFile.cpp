#include "document/framework/StrokesFile.h"

#include "datastorage/RescaleSumming.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace Orvex::Document::Filters::StrokesFile {

using DataStorage::DataChannel;
using ::Orvex::Detail::SizeI;

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("DocumentFilters", text);
}

QString pluginTr(const char* text) {
    return QCoreApplication::translate("PluginUIClass", text);
}

// The mask effects, for files of type "mask" and "strokes".
QString maskEffects() {
    return QStringList{pluginTr("Rain"), pluginTr("Cumulus"), pluginTr("Frost"), pluginTr("Fire"),
                       pluginTr("Ice")}
        .join(QStringLiteral(", "));
}

uint32_t crc32(const QByteArray& data) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (char byte : data) crc = table[(crc ^ uchar(byte)) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void appendBigEndian(QByteArray& out, uint32_t value) {
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    out.append(bytes, 4);
}

void appendChunk(QByteArray& png, const char* type, const QByteArray& data) {
    appendBigEndian(png, uint32_t(data.size()));
    const QByteArray body = QByteArray(type, 4) + data;
    png += body;
    appendBigEndian(png, crc32(body));
}

} // namespace

QString effectsOfType(const QString& type) {
    if (type == QLatin1String("duomask")) return pluginTr("NightSky");
    if (type == QLatin1String("mask") || type == QLatin1String("strokes")) return maskEffects();
    if (type == QLatin1String("TrunkList") || type == QLatin1String("Aurora") ||
        type == QLatin1String("Lightning"))
        return QStringList{pluginTr("Aurora"), pluginTr("Lightning")}.join(QStringLiteral(", "));
    return QCoreApplication::translate("PluginUIClass", type.toUtf8().constData());
}

QByteArray encodePng(const DataChannel* mask, const QString& type) {
    const bool labels = type == QLatin1String("duomask");
    const SizeI size = mask && !mask->isEmpty() ? mask->size() : SizeI{1, 1};
    // The rows as PNG stores them: a filter byte (0, none, as for every palette image) before each.
    const size_t rowBytes = size_t(size.width) + 1;
    const size_t rawBytes = rowBytes * size_t(size.height);
    if (rawBytes > size_t(std::numeric_limits<int>::max())) throw std::length_error("mask too large for PNG");
    QByteArray raw(int(rawBytes), '\0');
    if (mask && !mask->isEmpty()) {
        DataStorage::getData(*mask, mask->bounds(), raw.data() + 1, unsigned(rowBytes));
        for (int y = 0; y < size.height; ++y) {
            char* row = raw.data() + size_t(y) * rowBytes;
            row[0] = 0;
            // A label outside the palette would make a broken PNG; it means nothing, so it becomes 0.
            if (labels)
                for (int x = 1; x <= size.width; ++x)
                    if (uchar(row[x]) > 2) row[x] = 0;
        }
    }
    // Written here rather than through QImage, whose writer stores a grey palette as a grey image.
    QByteArray header;
    appendBigEndian(header, uint32_t(size.width));
    appendBigEndian(header, uint32_t(size.height));
    header.append("\x08\x03\x00\x00\x00", 5); // 8 bits, palette, deflate, adaptive filters, no interlace
    QByteArray palette, transparency;
    if (labels) {
        palette = QByteArray("\x00\x00\x00\xff\x00\x00\x00\x00\xff", 9);
        transparency = QByteArray(1, '\0'); // entry 0 fully transparent, the others opaque
    } else {
        palette.resize(768);
        for (int i = 0; i < 256; ++i) palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = char(i);
    }
    // qCompress gives a zlib stream (what IDAT holds) after a 4-byte length of its own.
    const QByteArray compressed = qCompress(reinterpret_cast<const uchar*>(raw.constData()), raw.size(), -1);
    if (compressed.size() < 4) throw std::runtime_error("PNG encoding failed");
    raw.clear();
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    appendChunk(png, "PLTE", palette);
    if (!transparency.isEmpty()) appendChunk(png, "tRNS", transparency);
    appendChunk(png, "IDAT", compressed.mid(4));
    appendChunk(png, "IEND", QByteArray());
    return png;
}

bool write(const QString& path, const QString& type, const DataChannel* mask, QString& reason) {
    QByteArray png;
    try {
        png = encodePng(mask, type);
    } catch (const std::exception&) {
        reason = tr("Cannot open temporary file for write.");
        return false;
    }
    const QString temporary = path + QStringLiteral(".tmp");
    {
        QFile file(temporary);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            reason = tr("Cannot open temporary file for write.");
            return false;
        }
        QXmlStreamWriter xml(&file);
        xml.setAutoFormatting(true);
        xml.writeStartDocument();
        xml.writeStartElement(QStringLiteral("elemorama"));
        xml.writeAttribute(QStringLiteral("type"), type);
        xml.writeCharacters(QString::fromLatin1(png.toBase64()));
        xml.writeEndElement();
        xml.writeEndDocument();
        file.close();
        if (xml.hasError() || file.error() != QFileDevice::NoError) {
            // A full disk: the old file is left as it was.
            QFile::remove(temporary);
            reason = tr("Cannot open temporary file for write.");
            return false;
        }
    }
    if (QFileInfo::exists(path)) {
        // A file the user marked read-only is protected, also where the system would let the
        // directory's owner remove it.
        const bool readOnly = !(QFile::permissions(path) & QFileDevice::WriteOwner);
        if (readOnly || !QFile::remove(path)) {
            QFile::remove(temporary);
            reason = tr("Cannot remove the old file.");
            return false;
        }
    }
    if (!QFile::rename(temporary, path)) {
        reason = tr("Cannot rename temporary file.");
        return false;
    }
    return true;
}

Status read(const QString& path, bool duoMask, Content& content) {
    content = Content{};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return Unreadable;
    if (file.size() > MaxFileBytes) return Unreadable;
    QXmlStreamReader xml(&file);
    xml.setNamespaceProcessing(false);
    while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) {
    }
    if (xml.hasError() || !xml.isStartElement() || xml.name() != QLatin1String("elemorama"))
        return Unreadable;
    const auto attributes = xml.attributes();
    if (!attributes.hasAttribute(QLatin1String("type"))) return Unreadable;
    content.type = attributes.value(QLatin1String("type")).toString();
    if (content.type.isEmpty()) return Unreadable;
    const bool fits =
        content.type == QLatin1String("duomask")
            ? duoMask
            : (content.type == QLatin1String("mask") || content.type == QLatin1String("strokes")) && !duoMask;
    if (!fits) return WrongEffect;

    if (xml.readNext() != QXmlStreamReader::Characters) return Unreadable;
    QString text = xml.text().toString();
    // Long texts may come in several pieces; an element inside is not a strokes file.
    while (xml.readNext() == QXmlStreamReader::Characters) text += xml.text();
    if (xml.hasError() || !xml.isEndElement()) return Unreadable;

    auto decoded =
        QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    text.clear();
    if (!decoded || decoded.decoded.isEmpty()) return Unreadable;
    QBuffer buffer(&decoded.decoded);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    const QSize size = reader.size();
    if (!reader.canRead() || size.width() < 1 || size.height() < 1 || size.width() > MaxSide ||
        size.height() > MaxSide || qint64(size.width()) * size.height() > MaxPixels)
        return Unreadable;
    QImage image;
    if (!reader.read(&image) || image.isNull() || image.width() < 1 || image.height() < 1) return Unreadable;
    if (image.size() != size) return Unreadable;
    if (image.format() != QImage::Format_Indexed8 && image.format() != QImage::Format_Grayscale8)
        return Unreadable;
    content.image = std::move(image);
    return Ok;
}

std::vector<uint8_t> samplesAtSize(const QImage& image, SizeI size, bool labels) {
    if (size.isEmpty() || image.isNull()) throw std::invalid_argument("empty mask");
    const int sourceWidth = image.width(), sourceHeight = image.height();
    const int width = size.width, height = size.height;
    std::vector<uint8_t> samples(static_cast<size_t>(width) * height);
    if (sourceWidth == width && sourceHeight == height) {
        for (int y = 0; y < height; ++y)
            std::memcpy(samples.data() + size_t(y) * width, image.constScanLine(y), size_t(width));
        return samples;
    }
    if (labels) {
        // Labels are names, not amounts: never blended.
        std::vector<int> columns(static_cast<size_t>(width));
        for (int x = 0; x < width; ++x)
            columns[x] = std::min(sourceWidth - 1, int((x + 0.5) * sourceWidth / width));
        for (int y = 0; y < height; ++y) {
            const uchar* source =
                image.constScanLine(std::min(sourceHeight - 1, int((y + 0.5) * sourceHeight / height)));
            uint8_t* row = samples.data() + size_t(y) * width;
            for (int x = 0; x < width; ++x) row[x] = source[columns[x]];
        }
        return samples;
    }
    if (sourceWidth >= width && sourceHeight >= height) {
        DataChannel source(SizeI{sourceWidth, sourceHeight}, int32_t(DataStorage::TypeU8));
        DataStorage::setData(source, source.bounds(), image.constBits(), unsigned(image.bytesPerLine()));
        DataChannel target(size, int32_t(DataStorage::TypeU8));
        if (!DataStorage::rescaleSumming<unsigned char>(source, target))
            throw std::runtime_error("mask resampling failed");
        DataStorage::getData(target, target.bounds(), samples.data(), 0);
        return samples;
    }
    // Bilinear between pixel centres, edges held.
    struct Tap {
        int first, second;
        float weight; // of the second
    };
    auto taps = [](int sourceSize, int targetSize) {
        std::vector<Tap> table(static_cast<size_t>(targetSize));
        const double scale = double(sourceSize) / targetSize;
        for (int i = 0; i < targetSize; ++i) {
            const double position = std::clamp((i + 0.5) * scale - 0.5, 0.0, double(sourceSize - 1));
            const int first = int(position);
            table[i] = {first, std::min(first + 1, sourceSize - 1), float(position - first)};
        }
        return table;
    };
    const auto columns = taps(sourceWidth, width);
    const auto rows = taps(sourceHeight, height);
    for (int y = 0; y < height; ++y) {
        const uchar* top = image.constScanLine(rows[y].first);
        const uchar* bottom = image.constScanLine(rows[y].second);
        const float wy = rows[y].weight;
        uint8_t* row = samples.data() + size_t(y) * width;
        for (int x = 0; x < width; ++x) {
            const Tap& c = columns[x];
            const float upper = top[c.first] + (top[c.second] - top[c.first]) * c.weight;
            const float lower = bottom[c.first] + (bottom[c.second] - bottom[c.first]) * c.weight;
            row[x] = uint8_t(std::lround(upper + (lower - upper) * wy));
        }
    }
    return samples;
}

} // namespace Orvex::Document::Filters::StrokesFile
