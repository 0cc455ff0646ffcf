// Rain on a 12-megapixel photo through the effect object, as the window drives it: a parameter
// change (what a slider release sends), the coalescing timer, the run on the work thread and the
// result committed into the document. Prints the latency from the change to the committed result,
// the same minus the fixed 200 ms coalescing delay, and the longest gap between two turns of the
// interface thread's event loop while runs go on (a 1 ms probe timer measures it).
#include "datastorage/PixelFormat.h"
#include "document/framework/Effects.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Orvex;
using namespace Orvex::DataStorage;
using namespace Orvex::Document;
using namespace Orvex::Document::Filters;

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

Ref<PixelPlane> photoPlane() {
    QImage image(QStringLiteral(ELEMORAMA_SHARED_SAMPLES_DIR "/evening_glow_lake_boats.jpg"));
    if (image.isNull()) image = QImage(640, 480, QImage::Format_RGB888), image.fill(Qt::darkCyan);
    image = image.scaled(kWidth, kHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_RGBA8888);
    Ref<PixelPlane> plane(new PixelPlane(MaskRGBA, TypeU8, Orvex::Detail::SizeI{kWidth, kHeight}));
    setData(*plane, plane->bounds(), image.constBits(), unsigned(image.bytesPerLine()),
            PixelFormat::fromMask(MaskRGBA, TypeU8));
    return plane;
}

// The longest time between two ticks of a 1 ms timer on the interface thread.
struct StallProbe {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
    StallProbe() {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            worst = std::max(worst, now - last);
            last = now;
        });
    }
    void start() {
        clock.start();
        last = 0;
        worst = 0;
        timer.start();
    }
    double worstMs() const { return worst / 1e6; }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "lib.kernel.debug=false;default.warning=false");
    QApplication app(argc, argv);
    SettingsMap store;
    ToolFilter::setSettingsRoot(&store, QStringLiteral("Filters/OXF/Elemorama"));

    auto sky = makeRef<DataChannel>(kWidth, kHeight, int32_t(TypeU8));
    const uint8_t on = 255;
    sky->fill(RectI{0, 0, kWidth, kHeight * 2 / 3}, &on);
    FilterDocument document(photoPlane(), sky);
    Rain rain;
    rain.setDocument(&document);
    rain.CreateParamsWidget();
    rain.Activate();

    int finished = 0;
    QObject::connect(&rain, &ToolFilter::CalcFinished, [&](bool commit) { finished += commit ? 1 : 0; });
    auto waitFinished = [&](int count) {
        while (finished < count) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    };

    StallProbe probe;
    probe.start();
    rain.ScheduleUpdate(); // the first run fills the source and result planes
    waitFinished(1);

    std::vector<double> latency, stall;
    const int densities[] = {6, 9, 12, 7, 10};
    for (int density : densities) {
        probe.start();
        QElapsedTimer clock;
        clock.start();
        rain.setParamValue(QStringLiteral("density"), QString::number(density));
        waitFinished(finished + 1);
        latency.push_back(clock.nsecsElapsed() / 1e6);
        stall.push_back(probe.worstMs());
    }
    // A change while a run is in flight: the run is cancelled and the new one starts.
    probe.start();
    QElapsedTimer clock;
    clock.start();
    rain.setParamValue(QStringLiteral("density"), QStringLiteral("15"));
    QTimer::singleShot(ThreadFilterUI::DeferredUpdateMs + 20,
                       [&] { rain.setParamValue(QStringLiteral("length"), QStringLiteral("30")); });
    waitFinished(finished + 1);
    const double replaced = clock.nsecsElapsed() / 1e6;
    const double replacedStall = probe.worstMs();

    const double delay = ThreadFilterUI::DeferredUpdateMs;
    std::printf("bench: filter_rain_12mp_change_to_result %.1f ms\n", median(latency));
    std::printf("bench: filter_rain_12mp_change_to_result_after_coalescing %.1f ms\n",
                median(latency) - delay);
    std::printf("bench: filter_rain_12mp_ui_stall_max %.1f ms\n",
                *std::max_element(stall.begin(), stall.end()));
    std::printf("bench: filter_rain_12mp_change_during_run_to_result %.1f ms\n", replaced);
    std::printf("bench: filter_rain_12mp_change_during_run_ui_stall_max %.1f ms\n", replacedStall);
    rain.Deactivate();
    return 0;
}
