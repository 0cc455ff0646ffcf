// The night sky and the sun on a 12-megapixel photo: cold runs (caches empty), warm runs (the night
// sky with another star seed, so that its nebulas are reused; the sun, which caches nothing, run
// again) and the night sky's recomposition with nothing changed; CPU time over wall time and peak
// memory of each case in a child process of its own; G'MIC's stars and GEGL's supernova and lens
// flare on the same picture when they are installed.
#include "BenchTiming.h"
#include "datastorage/DataChannel.h"
#include "datastorage/PixelFormat.h"
#include "datastorage/PixelPlane.h"
#include "document/filters/nightsky/NightSkyRenderer.h"
#include "document/filters/sun/SunRenderer.h"

#include <QImage>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace Orvex;
using namespace Orvex::DataStorage;
using namespace Orvex::Document::Filters;

namespace {

constexpr int kWidth = 4000, kHeight = 3000;
const double kMegapixels = kWidth * double(kHeight) / 1e6;
const QString kSamples = QStringLiteral(ELEMORAMA_SHARED_SAMPLES_DIR);

QImage scaled(const QString& file, QImage::Format format) {
    QImage image(kSamples + QStringLiteral("/") + file);
    if (image.isNull()) image = QImage(640, 400, QImage::Format_RGB888), image.fill(Qt::darkBlue);
    return image.scaled(kWidth, kHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(format);
}

Ref<PixelPlane> planeOf(const QImage& image) {
    Ref<PixelPlane> plane(new PixelPlane(MaskRGBA, TypeU8, SizeI{image.width(), image.height()}));
    setData(*plane, plane->bounds(), image.constBits(), unsigned(image.bytesPerLine()),
            PixelFormat::fromMask(MaskRGBA, TypeU8));
    return plane;
}

// The photo's sky mask as a selection (grey levels, soft edges).
Ref<DataChannel> maskOf(const QImage& grey) {
    Ref<DataChannel> mask(new DataChannel(SizeI{grey.width(), grey.height()}, TypeU8));
    setData(*mask, mask->bounds(), grey.constBits(), unsigned(grey.bytesPerLine()));
    return mask;
}

using BenchTiming::Clock;

void report(const std::string& name, double wall, double cpu) {
    BenchTiming::report(name, wall, cpu, kMegapixels);
}

// Runs `body` in a child process and reports its peak resident memory; returns the wall time the
// child wrote to the pipe (its cold run), for the comparison with the peers.
double isolated(const std::string& name, const std::function<double()>& body) {
    std::fflush(stdout);
    int fds[2];
    if (pipe(fds) != 0) return 0;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const double cold = body();
        std::fflush(stdout);
        if (write(fds[1], &cold, sizeof cold) != sizeof cold) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    double cold = 0;
    if (read(fds[0], &cold, sizeof cold) != sizeof cold) cold = 0;
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    std::printf("bench: %s_peak_memory %.0f MiB\n", name.c_str(), usage.ru_maxrss / 1024.0);
    std::fflush(stdout);
    return cold;
}

template <class Renderer, class Params>
double timed(const std::string& name, Renderer& renderer, Params params, const PixelPlane& source,
             const MaskChannels& masks, PixelPlane& result) {
    RunContext context;
    const Clock clock;
    renderer.process(params, source, masks, result, context);
    const auto [wall, cpu] = clock.elapsed();
    report(name, wall, cpu);
    return wall;
}

void peer(const std::string& name, const std::string& command, double ours, const char* peerName) {
    const Clock clock;
    const int status = std::system(command.c_str());
    const auto [wall, cpu] = clock.elapsed();
    (void)cpu;
    if (status != 0) {
        std::printf("%s command failed: %s\n", peerName, command.c_str());
        return;
    }
    std::printf("bench: %s %.3f s\n", name.c_str(), wall);
    std::printf("bench: %s_ours_vs_peer %.3f ratio\n", name.c_str(), ours / wall);
}

bool installed(const char* program) {
    return std::system((std::string("command -v ") + program + " > /dev/null 2>&1").c_str()) == 0;
}

} // namespace

// The night lake at 12 MP with its sky as the zone, and a result plane for it.
struct NightScene {
    Ref<PixelPlane> source, result;
    Ref<DataChannel> sky;
    MaskChannels masks;
};

NightScene nightScene() {
    NightScene scene;
    scene.source = planeOf(scaled(QStringLiteral("darkest_hour_night_lake.jpg"), QImage::Format_RGBA8888));
    scene.sky = maskOf(scaled(QStringLiteral("darkest_hour_night_lake.sky.png"), QImage::Format_Grayscale8));
    scene.result = Ref<PixelPlane>(new PixelPlane(MaskRGBA, TypeU8, scene.source->size()));
    scene.masks.mask = scene.sky.get();
    return scene;
}

int main(int argc, char** argv) {
    // An argument picks the cases whose name contains it (nightsky, sun, peers).
    const std::string only = argc > 1 ? argv[1] : "";
    auto wanted = [&](const std::string& name) {
        return only.empty() || name.find(only) != std::string::npos;
    };
    double nightCold = 0, sunCold = 0;

    if (wanted("nightsky_12mp"))
        nightCold = isolated("nightsky_12mp", [&] {
            const NightScene scene = nightScene();
            const PixelPlane& source = *scene.source;
            PixelPlane& result = *scene.result;
            const MaskChannels& masks = scene.masks;
            NightSkyRenderer renderer;
            NightSkyParams p = NightSkyParams::defaults(); // "ORVEX Default"
            const double cold = timed("nightsky_12mp_cold", renderer, p, source, masks, result);
            std::printf("bench: nightsky_12mp_stars %lld count\n", (long long)renderer.counts().stars);
            std::printf("bench: nightsky_12mp_nebula_blobs %lld count\n",
                        (long long)renderer.counts().nebulas);
            p.starSeed = 17;
            const double warm = timed("nightsky_12mp_warm", renderer, p, source, masks, result);
            std::printf("bench: nightsky_12mp_warm_vs_cold %.3f ratio\n", warm / cold);
            const double again = timed("nightsky_12mp_recompose", renderer, p, source, masks, result);
            std::printf("bench: nightsky_12mp_recompose_vs_cold %.3f ratio\n", again / cold);
            return cold;
        });
    if (wanted("nightsky_12mp_showers"))
        isolated("nightsky_12mp_showers", [&] {
            const NightScene scene = nightScene();
            const PixelPlane& source = *scene.source;
            PixelPlane& result = *scene.result;
            const MaskChannels& masks = scene.masks;
            NightSkyRenderer renderer;
            NightSkyParams p = NightSkyParams::defaults();
            p.useShoots = p.useMeteors = p.starUseRays = true;
            return timed("nightsky_12mp_showers_cold", renderer, p, source, masks, result);
        });
    if (wanted("sun_12mp"))
        sunCold = isolated("sun_12mp", [&] {
            auto source =
                planeOf(scaled(QStringLiteral("summer_1am_dusk_lake.jpg"), QImage::Format_RGBA8888));
            auto result = Ref<PixelPlane>(new PixelPlane(MaskRGBA, TypeU8, source->size()));
            SunRenderer renderer;
            SunParams p = SunParams::defaults();
            p.placeDefault(kWidth, kHeight); // the new document's placement
            // "ORVEX Sun"
            p.power = 0.8f, p.smoothColor = 15, p.glowColor = 4294966740u, p.haloColor = 4294966740u;
            p.number = 6, p.maxLength = 68, p.breadth = 86, p.width = 34, p.transparency = 45;
            const double cold = timed("sun_12mp_cold", renderer, p, *source, MaskChannels{}, *result);
            const double warm = timed("sun_12mp_warm", renderer, p, *source, MaskChannels{}, *result);
            std::printf("bench: sun_12mp_warm_vs_cold %.3f ratio\n", warm / cold);
            // A large sun in the middle with many rays: every tile glows and most meet a ray.
            SunParams big = p;
            big.centerX = kWidth / 2, big.centerY = kHeight / 2, big.radius = 300, big.number = 40;
            big.power = 1.0f;
            timed("sun_12mp_large_cold", renderer, big, *source, MaskChannels{}, *result);
            return cold;
        });

    if (!wanted("peers")) return 0;
    const bool gmic = installed("gmic"), gegl = installed("gegl");
    if (!gmic && !gegl) {
        std::printf("Neither G'MIC nor GEGL is installed: no peer comparison\n");
        return 0;
    }
    const std::string input = "/tmp/elemorama_bench_sky_12mp.png";
    scaled(QStringLiteral("darkest_hour_night_lake.jpg"), QImage::Format_RGB888)
        .save(QString::fromStdString(input));
    if (gmic) {
        // The stars filter is "fx_stars" in newer G'MIC command sets and "stars" (density 10 %) in older ones.
        const bool fx = std::system("gmic -v -1 16,16,1,3 fx_stars > /dev/null 2>&1") == 0;
        peer("gmic_stars_12mp",
             "gmic -v -1 " + input + (fx ? " fx_stars" : " stars 10") + " o /tmp/elemorama_bench_sky_out.png",
             nightCold, "G'MIC");
    }
    else
        std::printf("G'MIC is not installed: no stars comparison\n");
    if (gegl) {
        peer("gegl_supernova_12mp",
             "gegl " + input + " -o /tmp/elemorama_bench_sky_out.png -- gegl:supernova", sunCold, "GEGL");
        peer("gegl_lens_flare_12mp",
             "gegl " + input + " -o /tmp/elemorama_bench_sky_out.png -- gegl:lens-flare", sunCold, "GEGL");
    } else {
        std::printf("GEGL is not installed: no supernova or lens flare comparison\n");
    }
    std::remove(input.c_str());
    std::remove("/tmp/elemorama_bench_sky_out.png");
    return 0;
}
