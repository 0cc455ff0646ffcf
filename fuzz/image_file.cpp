// One image file format of the image I/O (FUZZ_EXTENSION names it): loaded, and what loads is
// described and turned into a selection mask.
#include "FuzzFile.h"
#include "imageio/ImageIO.h"

#include <cstdlib>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace IO = Orvex::ImageIO;
    const QString path = writeFuzzFile(data, size, FUZZ_EXTENSION);
    try {
        const IO::ImageRecord image = IO::loadImage(path);
        if (image.samples.size() != image.byteSize()) std::abort();
        (void)IO::describe(image);
        (void)IO::toSelectionMask(image);
    } catch (const std::runtime_error&) {
    }
    return 0;
}
