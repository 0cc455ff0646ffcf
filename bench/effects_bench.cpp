// Rain and clouds at 12 megapixels: cold (caches empty) and warm (only the transparency changed)
// renders with the default presets and a sky selection of about half the image, in seconds,
// megapixels per second and CPU time / wall time. With --write DIR it also writes the 12 MP photo
// and its mask as PNG files for the whole-program measurements of bench/effects.sh.
#include "document/filters/PresetFile.h"
#include "document/filters/cumulus/CumulusRenderer.h"
#include "document/filters/rain/RainRenderer.h"
#include "main/render/RenderJob.h"

#include <QCoreApplication>
#include <QImage>

#include <chrono>
#include <cstdio>
#include <ctime>

using namespace Orvex;
using namespace Orvex::Document::Filters;
using namespace Orvex::DataStorage;

namespace {

constexpr int Width = 4384, Height = 2740; // 12.0 megapixels, the sample's aspect ratio

double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Timing {
    double wall = 0, cpu = 0;
};

template <class F> Timing measure(F&& f) {
    const auto w0 = std::chrono::steady_clock::now();
    const double c0 = cpuSeconds();
    f();
    Timing t;
    t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    t.cpu = cpuSeconds() - c0;
    return t;
}

void report(const char* name, const Timing& t) {
    const double mp = double(Width) * Height / 1e6;
    std::printf("bench: %s_seconds %.3f s\n", name, t.wall);
    std::printf("bench: %s_mpix_per_s %.1f MP/s\n", name, mp / t.wall);
    std::printf("bench: %s_cpu_per_wall %.2f ratio\n", name, t.cpu / t.wall);
}

template <class Renderer, class Params>
void run(const char* name, const char* preset, int effectId, const PixelPlane& source, const DataChannel& mask,
         int repeats) {
    PresetRecord record;
    findPreset(effectId, preset, record);
    Params params = Params::defaults();
    params.applyPreset(record);
    MaskChannels masks;
    masks.mask = &mask;
    RunContext context;
    Timing cold{1e9, 0}, warm{1e9, 0};
    for (int r = 0; r < repeats; ++r) {
        Renderer renderer;
        Ref<PixelPlane> result(new PixelPlane(source.channelMask(), source.commonType(), source.size()));
        Params p = params;
        const Timing c = measure([&] { renderer.process(p, source, masks, *result, context); });
        if (c.wall < cold.wall) cold = c;
        p = params;
        p.transparency = params.transparency / 2;
        const Timing w = measure([&] { renderer.process(p, source, masks, *result, context); });
        if (w.wall < warm.wall) warm = w;
    }
    report((std::string(name) + "_cold").c_str(), cold);
    report((std::string(name) + "_warm").c_str(), warm);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QImage photo(QStringLiteral(ELEMORAMA_SAMPLES_DIR "/evening_glow_lake_boats.jpg"));
    QImage sky(QStringLiteral(ELEMORAMA_SAMPLES_DIR "/evening_glow_lake_boats.sky.png"));
    if (photo.isNull() || sky.isNull()) {
        std::fprintf(stderr, "bench_effects: samples missing\n");
        return 1;
    }
    photo = photo.convertToFormat(QImage::Format_RGB888).scaled(Width, Height, Qt::IgnoreAspectRatio,
                                                                 Qt::SmoothTransformation);
    // The sample's sky mask, closed upwards to the top edge: about half the image.
    sky = sky.convertToFormat(QImage::Format_Grayscale8).scaled(Width, Height, Qt::IgnoreAspectRatio,
                                                                 Qt::SmoothTransformation);
    for (int y = 0; y < Height * 3 / 10; ++y) std::fill_n(sky.scanLine(y), Width, uchar(255));
    if (argc == 3 && QString(argv[1]) == "--write") {
        photo.save(QString(argv[2]) + "/photo12mp.png");
        sky.save(QString(argv[2]) + "/sky12mp.png");
        return 0;
    }
    Ref<PixelPlane> source(new PixelPlane(MaskRGB, TypeU8, SizeI{Width, Height}));
    for (int y = 0; y < Height; ++y)
        setData(*source, RectI{0, y, Width, y + 1}, photo.constScanLine(y), 0, PixelFormat::fromMask(MaskRGB, TypeU8));
    Ref<DataChannel> mask(new DataChannel(SizeI{Width, Height}, TypeU8));
    long selected = 0;
    for (int y = 0; y < Height; ++y) {
        setData(*mask, RectI{0, y, Width, y + 1}, sky.constScanLine(y), 0);
        for (int x = 0; x < Width; ++x) selected += sky.constScanLine(y)[x] != 0;
    }
    std::printf("12 MP photo %dx%d, selection %.0f %% of the image\n", Width, Height,
                100.0 * double(selected) / (double(Width) * Height));
    const int repeats = 3;
    run<RainRenderer, RainParams>("rain_12mp", "ORVEX Rain", EffectId::Rain, *source, *mask, repeats);
    run<CumulusRenderer, CumulusParams>("clouds_12mp", "ORVEX Default", EffectId::Cumulus, *source, *mask, repeats);
    return 0;
}
