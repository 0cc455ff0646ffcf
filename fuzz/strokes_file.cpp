// Strokes files (the mask tools' exports), read for effects with and without the duo mask and
// resampled to another size.
#include "FuzzFile.h"
#include "document/framework/StrokesFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace SF = Orvex::Document::Filters::StrokesFile;
    const QString path = writeFuzzFile(data, size, "elemor");
    for (bool duo : {false, true}) {
        SF::Content content;
        if (SF::read(path, duo, content) == SF::Ok) {
            const Orvex::Detail::SizeI target{content.image.width() % 97 + 1,
                                              content.image.height() % 89 + 1};
            (void)SF::samplesAtSize(content.image, target, duo);
        }
    }
    return 0;
}
