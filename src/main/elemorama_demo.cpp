// elemorama-demo INPUT OUTPUT: loads a photo into a 16-bit RGBA plane of tiled channels, reads it
// back as 8-bit interleaved pixels, writes OUTPUT and reports whether the round trip was exact.
#include "datastorage/DataStorage.h"
#include "mt/JobsPool.h"

#include <QCoreApplication>
#include <QImage>

#include <chrono>
#include <cstdio>
#include <cstring>

using namespace Orvex;
using namespace Orvex::DataStorage;

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv); // image format plug-ins are found through it
    if (argc != 3) {
        std::fprintf(stderr, "usage: elemorama-demo INPUT OUTPUT\n");
        return 2;
    }
    QImage image;
    if (!image.load(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "elemorama-demo: cannot read %s\n", argv[1]);
        return 1;
    }
    // RGBA8888 is byte order R, G, B, A in memory on every platform: channels 2, 3, 4 and 13.
    image = image.convertToFormat(QImage::Format_RGBA8888);
    const SizeI size{image.width(), image.height()};
    const RectI all = RectI::fromSize(size);
    const PixelFormat rgba8 = PixelFormat::fromMask(MaskRGBA, TypeU8);
    std::printf("read %s: %d x %d pixels\n", argv[1], size.width, size.height);

    const auto start = std::chrono::steady_clock::now();
    auto plane = makeRef<PixelPlane>(MaskRGBA, TypeU16, size);
    setData(*plane, all, image.constBits(), unsigned(image.bytesPerLine()), rgba8);
    const auto red = plane->channel(ChannelRed);
    std::printf("plane: %u channels of 16-bit samples in %u x %u tiles of 64 x 64\n", plane->channelCount(),
                red->tilesX(), red->tilesY());

    QImage result(image.width(), image.height(), QImage::Format_RGBA8888);
    getData(*plane, all, result.bits(), unsigned(result.bytesPerLine()), rgba8);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("8-bit -> 16-bit plane -> 8-bit in %.1f ms on %d pool workers\n", ms,
                MT::processWorkerCount());

    bool exact = true;
    for (int y = 0; y < image.height() && exact; ++y)
        exact = std::memcmp(image.constScanLine(y), result.constScanLine(y), size_t(image.width()) * 4) == 0;
    std::printf("round trip: %s\n", exact ? "exact" : "DIFFERS");

    if (!result.save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "elemorama-demo: cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("wrote %s\n", argv[2]);
    return exact ? 0 : 1;
}
