#include "settings/SettingsXML.h"
#include "settings/SettingsValueText.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace Orvex {

const QString SettingsXML::NilKey = QStringLiteral("@{nil}@");

namespace {
thread_local QString t_lastError;

void setLastError(QXmlStreamReader& reader) {
    t_lastError = QStringLiteral("Error[%1]: %2 (L: %3, C: %4)")
                      .arg(int(reader.error()))
                      .arg(reader.errorString())
                      .arg(reader.lineNumber())
                      .arg(reader.columnNumber());
}
} // namespace

SettingsXML::SettingsXML(const QString& fileName, bool load) : m_fileName(fileName) {
    if (load) {
        m_status = QSettings::AccessError;
        QFile file(fileName);
        if (file.open(QIODevice::ReadOnly) && file.isReadable() && readFrom(&file)) {
            m_status = QSettings::NoError;
        } else if (!t_lastError.isEmpty() || !file.isOpen()) {
            if (!file.isOpen()) t_lastError = file.errorString();
            qCWarning(lcSettings).noquote()
                << QStringLiteral("SettingsXML::load(%1): %2").arg(fileName, t_lastError);
        }
    }
    m_modified = false;
}

SettingsXML::SettingsXML(const QByteArray& data, QByteArray* target) : m_target(target) {
    m_status = fromXml(data) ? QSettings::NoError : QSettings::AccessError;
    m_modified = false;
}

SettingsXML::~SettingsXML() {
    sync();
}

QString SettingsXML::lastError() {
    return t_lastError;
}

bool SettingsXML::fromXml(const QByteArray& data) {
    m_map.clear();
    QByteArray copy = data;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return readFrom(&buffer);
}

QByteArray SettingsXML::toXml() const {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    writeTo(&buffer);
    return out;
}

bool SettingsXML::readFrom(QIODevice* device) {
    t_lastError.clear();
    QXmlStreamReader reader(device);
    // One entry per open element: the path component it adds (empty for none) and its kind.
    enum Kind { Other, Group, Array, ArrayItem, Item };
    struct Open {
        Kind kind;
        bool added;      // pushed a path component
        bool hasContent; // a child element appeared
    };
    QVector<Open> open;
    QStringList path;
    auto fullKey = [&path](const QString& last) {
        return path.isEmpty() ? last : path.join(QLatin1Char('/')) + QLatin1Char('/') + last;
    };
    bool inArray = false;

    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (!open.isEmpty()) open.last().hasContent = true;
            const QStringRef name = reader.name();
            const QXmlStreamAttributes attrs = reader.attributes();
            if (name == QLatin1String("group")) {
                if (!attrs.hasAttribute(QLatin1String("name"))) {
                    reader.raiseError(QStringLiteral("Expectied Group Name"));
                    break;
                }
                path << attrs.value(QLatin1String("name")).toString();
                open.push_back({Group, true, false});
            } else if (name == QLatin1String("item")) {
                if (attrs.isEmpty()) {
                    reader.raiseError(QStringLiteral("Expectied Attributes"));
                    break;
                }
                for (const auto& a : attrs)
                    m_map.insert(fullKey(a.name().toString()), settingsValueFromText(a.value().toString()));
                open.push_back({Item, false, false});
            } else if (name == QLatin1String("array")) {
                if (!attrs.hasAttribute(QLatin1String("name"))) {
                    reader.raiseError(QStringLiteral("Expectied Array Name"));
                    break;
                }
                bool ok = false;
                const int size = attrs.value(QLatin1String("size")).toInt(&ok);
                if (!ok || size < 1 || inArray) {
                    reader.raiseError(QStringLiteral("Invalid Array Size"));
                    break;
                }
                path << attrs.value(QLatin1String("name")).toString();
                m_map.insert(fullKey(QStringLiteral("size")), size);
                inArray = true;
                open.push_back({Array, true, false});
            } else if (name == QLatin1String("aitem")) {
                if (open.isEmpty() || open.last().kind != Array) {
                    reader.raiseError(QStringLiteral("Invalid Array item"));
                    break;
                }
                // Every attribute but "idx" becomes a key of element idx (numbered from 1).
                const QString idx = attrs.value(QLatin1String("idx")).toString();
                for (const auto& a : attrs) {
                    if (a.name() == QLatin1String("idx")) continue;
                    m_map.insert(fullKey(idx + QLatin1Char('/') + a.name().toString()),
                                 settingsValueFromText(a.value().toString()));
                }
                open.push_back({ArrayItem, false, false});
            } else {
                open.push_back({Other, false, false});
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (open.isEmpty()) continue;
            const Open top = open.takeLast();
            if (top.kind == Group && !top.hasContent) m_map.insert(fullKey(NilKey), QVariant());
            if (top.kind == Array) inArray = false;
            if (top.added) path.removeLast();
        }
    }
    if (reader.hasError()) {
        setLastError(reader);
        return false;
    }
    return true;
}

// XML 1.0 cannot carry most control characters, non-characters or lone surrogates, even escaped;
// a value read from a damaged file may hold them. They are left out so that what is written can
// always be read back.
static QString xmlText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
            continue;
        }
        const ushort u = c.unicode();
        if (c.isSurrogate() || u == 0xFFFE || u == 0xFFFF || (u < 0x20 && u != 0x9 && u != 0xA && u != 0xD))
            continue;
        out += c;
    }
    return out;
}

bool SettingsXML::writeTo(QIODevice* device) const {
    QXmlStreamWriter writer(device);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("Orvex"));
    QStringList openGroups;
    for (auto it = m_map.constBegin(); it != m_map.constEnd(); ++it) {
        const QStringList parts = it.key().split(QLatin1Char('/'));
        const int groups = parts.size() - 1;
        int common = 0;
        while (common < openGroups.size() && common < groups && openGroups[common] == parts[common]) ++common;
        while (openGroups.size() > common) {
            writer.writeEndElement();
            openGroups.removeLast();
        }
        for (int i = common; i < groups; ++i) {
            writer.writeStartElement(QStringLiteral("group"));
            writer.writeAttribute(QStringLiteral("name"), xmlText(parts[i]));
            openGroups << parts[i];
        }
        if (parts.last() == NilKey) continue;
        writer.writeStartElement(QStringLiteral("item"));
        writer.writeAttribute(parts.last(), xmlText(settingsValueToText(it.value())));
        writer.writeEndElement();
    }
    while (!openGroups.isEmpty()) {
        writer.writeEndElement();
        openGroups.removeLast();
    }
    writer.writeEndElement();
    writer.writeEndDocument();
    return !writer.hasError();
}

void SettingsXML::sync() {
    if (!m_modified) return;
    m_modified = false;
    t_lastError.clear();
    if (m_target) {
        m_target->clear();
        QBuffer buffer(m_target);
        const bool ok = buffer.open(QIODevice::WriteOnly) && writeTo(&buffer);
        m_status = ok ? QSettings::NoError : QSettings::AccessError;
        if (!ok) {
            t_lastError = QStringLiteral("cannot write the XML text");
            qCWarning(lcSettings).noquote() << QStringLiteral("SettingsXML::sync(%1): %2")
                                                   .arg(QString::number(quintptr(m_target), 16), t_lastError);
        }
        return;
    }
    const QFileInfo info(m_fileName);
    QDir().mkpath(info.absolutePath());
    QFile file(info.absoluteFilePath());
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate) && writeTo(&file);
    if (ok) ok = file.flush();
    if (!ok) t_lastError = file.errorString();
    m_status = ok ? QSettings::NoError : QSettings::AccessError;
    if (!ok)
        qCWarning(lcSettings).noquote()
            << QStringLiteral("SettingsXML::sync(%1): %2").arg(m_fileName, t_lastError);
}

} // namespace Orvex
