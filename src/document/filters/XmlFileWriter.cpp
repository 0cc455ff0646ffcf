#include "document/filters/XmlFileWriter.h"

#include <QFile>
#include <QXmlStreamWriter>

namespace Orvex::Document::Filters {

bool writeXmlThroughTemporary(const QString& path, const std::function<void(QXmlStreamWriter&)>& body,
                              const char** reason) {
    auto fail = [&](const char* why) {
        if (reason) *reason = why;
        return false;
    };
    const QString temporary = path + QStringLiteral(".tmp");
    {
        QFile file(temporary);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return fail("Cannot open temporary file for write.");
        QXmlStreamWriter xml(&file);
        xml.setAutoFormatting(true);
        xml.writeStartDocument();
        body(xml);
        xml.writeEndDocument();
        const bool flushed = file.flush();
        file.close();
        if (xml.hasError() || !flushed || file.error() != QFile::NoError) {
            QFile::remove(temporary);
            return fail("Cannot open temporary file for write.");
        }
    }
    if (QFile::exists(path) && !QFile::remove(path)) {
        QFile::remove(temporary);
        return fail("Cannot remove the old file.");
    }
    if (!QFile::rename(temporary, path)) return fail("Cannot rename temporary file.");
    return true;
}

} // namespace Orvex::Document::Filters
