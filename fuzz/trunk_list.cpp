// Trunk list files, for images of a few shapes picked by the first input byte.
#include "document/filters/TrunkListFile.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Orvex::Detail::SizeT<int> shapes[] = {{640, 480}, {1, 1}, {30000, 2}, {3, 20000}};
    const auto shape = shapes[size ? data[0] % 4 : 0];
    QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const auto content = Orvex::Document::Filters::readTrunkList(buffer, shape);
    (void)Orvex::Document::Filters::trunkListMessage(content, QStringLiteral("fuzz.elemorama"));
    return 0;
}
