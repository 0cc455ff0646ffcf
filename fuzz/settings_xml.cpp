// Settings XML side files: parsed, written back and parsed again to the same keys.
#include "settings/SettingsXML.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    Orvex::SettingsXML settings(bytes, nullptr);
    const QByteArray written = settings.toXml();
    Orvex::SettingsXML reread(written, nullptr);
    if (reread.status() != 0) std::abort();
    if (reread.toXml() != written) std::abort();
    return 0;
}
