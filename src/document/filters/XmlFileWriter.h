#pragma once
// The effects' XML side files (trunk lists, rainbow and sun files) are written through a temporary
// file beside the target that then replaces it, so that a failed or interrupted write never leaves
// a torn file behind.

#include <QString>

#include <functional>

class QXmlStreamWriter;

namespace Orvex::Document::Filters {

// Writes the document that `body` fills (between the start and the end of the document; automatic
// indentation) to path + ".tmp", removes `path` and renames the temporary file to it. On failure
// `reason` receives the untranslated reason (context "DocumentFilters"): "Cannot open temporary
// file for write.", "Cannot remove the old file." or "Cannot rename temporary file.".
bool writeXmlThroughTemporary(const QString& path, const std::function<void(QXmlStreamWriter&)>& body,
                              const char** reason);

} // namespace Orvex::Document::Filters
