#include "document/filters/XmlFileWriter.h"
#include "document/filters/TrunkListFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <climits>
#include <cmath>

namespace Orvex::Document::Filters {

namespace {

bool acceptedType(const QString& type) {
    return type == QLatin1String("TrunkList") || type == QLatin1String("Aurora") ||
           type == QLatin1String("Lightning");
}

struct Scale {
    double x = 1, y = 1;
};

// The scale lengths for the root's "aspect"; false for a value that is neither "fixed" nor an
// integer.
bool scaleFor(const QXmlStreamAttributes& attributes, Detail::SizeT<int> size, Scale& scale) {
    const int64_t W = std::max(1, size.width), H = std::max(1, size.height);
    if (!attributes.hasAttribute(QLatin1String("aspect"))) {
        scale = {double(W), double(H)};
        return true;
    }
    const QString aspect = attributes.value(QLatin1String("aspect")).toString().trimmed();
    if (aspect == QLatin1String("fixed")) {
        scale.x = scale.y = double(std::max(W, H));
        return true;
    }
    bool ok = false;
    const int64_t n = aspect.toLongLong(&ok);
    if (!ok) return false;
    // N / 100 >= W / H, with the half unit that rounding the written shape may have lost, so that a
    // file saved for this very picture is read back at the scale it was written with.
    const bool byWidth = 2 * n * H >= 200 * W - H;
    scale.x = scale.y = double(byWidth ? W : H);
    return true;
}

bool readCoordinate(const QXmlStreamAttributes& attributes, const char* name, double& value) {
    bool ok = false;
    const double v = attributes.value(QLatin1String(name)).toDouble(&ok);
    if (!ok || std::isnan(v)) return false;
    value = std::clamp(v, -1.0, 2.0);
    return true;
}

int32_t scaled(double fraction, double length) {
    return int32_t(std::clamp(std::round(fraction * length), double(INT32_MIN), double(INT32_MAX)));
}

} // namespace

TrunkListContent readTrunkList(QIODevice& device, Detail::SizeT<int> imageSize) {
    TrunkListContent content;
    if (device.size() > kMaxTrunkListBytes) {
        content.status = TrunkListStatus::Unreadable;
        content.detail = QStringLiteral("larger than %1 MiB").arg(kMaxTrunkListBytes >> 20);
        return content;
    }
    QXmlStreamReader xml(&device);
    auto malformed = [&] {
        content.status = TrunkListStatus::Malformed;
        content.detail = QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
        content.lines.clear();
        return content;
    };
    // The first "elemorama" element is the root, wherever it sits.
    bool found = false;
    while (!found && !xml.atEnd()) {
        xml.readNext();
        found = xml.isStartElement() && xml.name() == QLatin1String("elemorama");
    }
    if (xml.hasError()) return malformed();
    if (!found) {
        content.status = TrunkListStatus::NoTrunks;
        content.detail = QStringLiteral("no \"elemorama\" element");
        return content;
    }
    const QXmlStreamAttributes root = xml.attributes();
    content.type = root.value(QLatin1String("type")).toString();
    if (!acceptedType(content.type)) {
        content.status = content.type.isEmpty() ? TrunkListStatus::NoTrunks : TrunkListStatus::OtherType;
        if (content.type.isEmpty()) content.detail = QStringLiteral("the root has no \"type\"");
        return content;
    }
    Scale scale;
    if (!scaleFor(root, imageSize, scale)) {
        content.status = TrunkListStatus::Malformed;
        content.detail = QStringLiteral("\"aspect\" is neither \"fixed\" nor a number");
        return content;
    }

    auto keep = [&](double x1, double y1, double x2, double y2) {
        const Segment s{scaled(x1, scale.x), scaled(y1, scale.y), scaled(x2, scale.x), scaled(y2, scale.y)};
        if (s.x1 == s.x2 && s.y1 == s.y2) {
            ++content.dropped;
            return;
        }
        content.lines.push_back(s);
    };
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("trunk")) {
            xml.skipCurrentElement();
            continue;
        }
        if (int(content.lines.size()) >= kMaxTrunkListLines) {
            content.status = TrunkListStatus::TooMany;
            content.detail = QStringLiteral("more than %1 lines").arg(kMaxTrunkListLines);
            content.lines.clear();
            return content;
        }
        const QXmlStreamAttributes a = xml.attributes();
        double x1, y1, x2, y2;
        if (a.hasAttribute(QLatin1String("x1"))) {
            if (readCoordinate(a, "x1", x1) && readCoordinate(a, "y1", y1) && readCoordinate(a, "x2", x2) &&
                readCoordinate(a, "y2", y2))
                keep(x1, y1, x2, y2);
            else
                ++content.dropped;
            xml.skipCurrentElement();
            continue;
        }
        // The element form: "begin" and "end" children with "x" and "y".
        bool haveBegin = false, haveEnd = false, readable = true;
        while (xml.readNextStartElement()) {
            const QXmlStreamAttributes c = xml.attributes();
            if (xml.name() == QLatin1String("begin")) {
                readable = readCoordinate(c, "x", x1) && readCoordinate(c, "y", y1) && readable;
                haveBegin = true;
            } else if (xml.name() == QLatin1String("end")) {
                readable = readCoordinate(c, "x", x2) && readCoordinate(c, "y", y2) && readable;
                haveEnd = true;
            }
            xml.skipCurrentElement();
        }
        if (haveBegin && haveEnd && readable)
            keep(x1, y1, x2, y2);
        else
            ++content.dropped;
    }
    if (xml.hasError()) return malformed();
    if (content.lines.empty()) {
        content.status = TrunkListStatus::NoTrunks;
        content.detail = content.dropped ? QStringLiteral("no usable line") : QStringLiteral("no line");
    }
    return content;
}

TrunkListContent readTrunkList(const QString& path, Detail::SizeT<int> imageSize) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        TrunkListContent content;
        content.status = TrunkListStatus::Unreadable;
        content.detail = file.errorString();
        return content;
    }
    return readTrunkList(file, imageSize);
}

QString trunkListMessage(const TrunkListContent& content, const QString& path) {
    const QString name = QFileInfo(path).fileName();
    if (content.status == TrunkListStatus::Ok) return {};
    if (content.status == TrunkListStatus::OtherType)
        return QCoreApplication::translate("DocumentFilters", "File %1 is for %2 effect")
            .arg(name, content.type);
    QString text = QCoreApplication::translate("DocumentFilters", "Error loading from %1").arg(name);
    if (!content.detail.isEmpty()) text += QStringLiteral(" (%1)").arg(content.detail);
    return text;
}

bool writeTrunkList(const QString& path, Detail::SizeT<int> imageSize, const std::vector<Segment>& lines,
                    QString* error) {
    auto fail = [&](const char* reason) {
        if (error) *error = QCoreApplication::translate("DocumentFilters", reason);
        return false;
    };
    const int W = std::max(1, imageSize.width), H = std::max(1, imageSize.height);
    const double longer = std::max(W, H);
    const char* reason = nullptr;
    const bool written = writeXmlThroughTemporary(path, [&](QXmlStreamWriter& xml) {
        xml.writeStartElement(QStringLiteral("elemorama"));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("TrunkList"));
        xml.writeAttribute(QStringLiteral("aspect"), QString::number(std::lround(100.0 * W / H)));
        auto number = [&](int32_t v) { return QString::number(v / longer, 'g', 6); };
        for (const Segment& s : lines) {
            xml.writeStartElement(QStringLiteral("trunk"));
            xml.writeAttribute(QStringLiteral("x1"), number(s.x1));
            xml.writeAttribute(QStringLiteral("y1"), number(s.y1));
            xml.writeAttribute(QStringLiteral("x2"), number(s.x2));
            xml.writeAttribute(QStringLiteral("y2"), number(s.y2));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }, &reason);
    return written || fail(reason);
}

} // namespace Orvex::Document::Filters
