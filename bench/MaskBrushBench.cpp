// The mask brush on a 12-megapixel mask: the time of one dab at the pen sizes users pick (a small
// brush, a typical one, the largest), of a long stroke per dab, and the strokes file's PNG encode
// and decode of the whole mask, and the load of a strokes file holding 10 000 strokes. Dabs land on fresh places of a mask that already holds earlier
// strokes, so copy-on-write of shared tiles is part of the figure, as in a real stroke.
#include "datastorage/DataChannel.h"
#include "document/framework/MaskStroke.h"
#include "document/framework/StrokesFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace Orvex;
using namespace Orvex::Document::Filters;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    auto mask = makeRef<DataStorage::DataChannel>(kWidth, kHeight, int32_t(DataStorage::TypeU8));

    for (int penSize : {20, 200, 1000}) {
        std::vector<double> presses, dabs;
        for (int round = 0; round < 40; ++round) {
            // Each round is a new stroke: the press takes a snapshot of the mask, then one dab.
            auto start = Clock::now();
            MaskStroke stroke(mask, round % 3 ? 255 : 0, penSize / 2.0, false);
            presses.push_back(millisecondsSince(start));
            start = Clock::now();
            stroke.stamp(97.3 * round + 300, 71.9 * round + 200);
            dabs.push_back(millisecondsSince(start));
        }
        std::printf("bench: mask_dab_%dpx_ms %.3f ms\n", penSize, median(dabs));
        if (penSize == 20) std::printf("bench: mask_press_12mp_ms %.3f ms\n", median(presses));
    }

    {
        MaskStroke stroke(mask, 255, 50, false);
        int dabs = 0;
        const auto start = Clock::now();
        double x = 100, y = 100;
        for (int i = 0; i < 200; ++i) {
            const double nx = 100 + (i * 389) % 3800, ny = 100 + (i * 211) % 2800;
            stroke.stampSegment(x, y, nx, ny);
            dabs += int(std::hypot(nx - x, ny - y) / stroke.spacing());
            x = nx;
            y = ny;
        }
        const double ms = millisecondsSince(start);
        std::printf("bench: mask_stroke_100px_us_per_dab %.2f us\n", 1000 * ms / std::max(1, dabs));
    }

    {
        auto start = Clock::now();
        const QByteArray png = StrokesFile::encodePng(mask.get(), "mask");
        std::printf("bench: strokes_png_encode_12mp_ms %.1f ms\n", millisecondsSince(start));
        std::printf("bench: strokes_png_size_12mp_kb %.1f kB\n", png.size() / 1024.0);
        start = Clock::now();
        QImage image = QImage::fromData(png, "png");
        const auto samples = StrokesFile::samplesAtSize(image, {kWidth, kHeight}, false);
        std::printf("bench: strokes_png_decode_12mp_ms %.1f ms\n", millisecondsSince(start));
        (void)samples;
    }

    {
        // A mask painted with 10 000 short strokes, written as a strokes file and loaded back
        // whole (XML, Base64 and PNG): the figure a user waits for when opening such a file.
        auto painted = makeRef<DataStorage::DataChannel>(kWidth, kHeight, int32_t(DataStorage::TypeU8));
        for (int i = 0; i < 10000; ++i) {
            MaskStroke stroke(painted, 255, 12, false);
            const double x = 50 + (i * 389) % 3900, y = 50 + (i * 211) % 2900;
            stroke.stampSegment(x, y, x + 15 + i % 20, y + 5 + i % 11);
        }
        const QString path = QDir::temp().filePath("bench_strokes_10000.elemor");
        QString reason;
        if (!StrokesFile::write(path, "mask", painted.get(), reason)) {
            std::fprintf(stderr, "bench: cannot write %s: %s\n", qPrintable(path), qPrintable(reason));
            return 1;
        }
        std::vector<double> loads;
        for (int run = 0; run < 5; ++run) {
            StrokesFile::Content content;
            const auto start = Clock::now();
            const auto status = StrokesFile::read(path, false, content);
            loads.push_back(millisecondsSince(start));
            if (status != StrokesFile::Ok) return 1;
        }
        std::printf("bench: strokes_file_10000_strokes_load_ms %.1f ms\n", median(loads));
        std::printf("bench: strokes_file_10000_strokes_size_kb %.1f kB\n", QFileInfo(path).size() / 1024.0);
        QFile::remove(path);
    }
    return 0;
}
