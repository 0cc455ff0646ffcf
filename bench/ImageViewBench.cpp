// Frame times of the image window on a 12-megapixel image in a 1920 x 1080 window: zooming from
// the fit zoom to 200 % and back along the zoom scale, and panning at 100 % across the image.
// The OpenGL viewport and the raster painter draw the same frames one after the other in this
// run; each frame is drawn and put on the screen synchronously and timed. Needs an X
// server with GL: bench/image_view.sh runs it under Xvfb with Mesa's software renderer.
#include "dataview/Viewport.h"
#include "dataview/Zoom.h"
#include "datastorage/PixelFormat.h"
#include "datastorage/PixelPlane.h"
#include "ui/PluginUI.h"

#include "BenchTiming.h"

#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace Orvex;
using Clock = std::chrono::steady_clock;
using UI::ImagePreview;

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

Ref<DataStorage::PixelPlane> photoLikePlane() {
    auto plane = makeRef<DataStorage::PixelPlane>(
        DataStorage::channelBit(DataStorage::ChannelRed) | DataStorage::channelBit(DataStorage::ChannelGreen) |
            DataStorage::channelBit(DataStorage::ChannelBlue) | DataStorage::channelBit(DataStorage::ChannelAlpha),
        int32_t(DataStorage::TypeU8), Orvex::Detail::SizeI{kWidth, kHeight});
    std::vector<uint8_t> row(size_t(kWidth) * 4);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = &row[size_t(x) * 4];
            p[0] = uint8_t((x * 7 + y * 3) >> 5);
            p[1] = uint8_t(((x / 50 + y / 50) % 2) ? 200 - y / 20 : 60 + x / 30);
            p[2] = uint8_t((x ^ y) & 0xFF);
            p[3] = 255;
        }
        DataStorage::setData(*plane, DataStorage::RectI{0, y, kWidth, y + 1}, row.data(), 0,
                             DataStorage::PixelFormat::fromMask(DataStorage::MaskRGBA, DataStorage::TypeU8));
    }
    return plane;
}

struct Figures {
    double zoomMedian = 0, zoomWorst = 0, panMedian = 0, panWorst = 0, firstFrame = 0;
    double panCpu = 0; // processor time per pan frame, all threads (the software renderer's too)
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One synchronous frame: drawn, on the screen, and (with GL) finished.
double drawFrame(ImagePreview& view) {
    const auto start = Clock::now();
    if (GPU::Viewport* viewport = view.viewport()) {
        viewport->renderNow();
        QOpenGLContext::currentContext()->functions()->glFinish();
    } else {
        view.repaint();
    }
    QApplication::sync();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Figures measure(ImagePreview& view, const Ref<DataStorage::PixelPlane>& plane) {
    Figures f;
    view.resize(1920, 1080);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view)) std::printf("the view was not exposed in time\n");
    view.setPlane(plane);
    QApplication::processEvents();
    f.firstFrame = drawFrame(view);

    // Zoom in from the fit zoom to 200 % and back out, in steps along the zoom scale; the pyramid
    // levels are built during the first pass, so frames are timed over a second one.
    const double from = DataView::Zoom::zoomToSlider(view.zoom()), to = DataView::Zoom::zoomToSlider(2.0);
    std::vector<double> zoomFrames;
    for (int pass = 0; pass < 2; ++pass)
        for (int i = 0; i <= 120; ++i) {
            const double t = i <= 60 ? i / 60.0 : (120 - i) / 60.0;
            view.setZoom(DataView::Zoom::sliderToZoom(from + (to - from) * t));
            QApplication::processEvents();
            const double ms = drawFrame(view);
            if (pass == 1) zoomFrames.push_back(ms);
        }
    f.zoomMedian = median(zoomFrames);
    f.zoomWorst = *std::max_element(zoomFrames.begin(), zoomFrames.end());

    // Pan at 100 % from the top left to the bottom right, 24 view pixels per frame.
    view.setZoom(1.0);
    view.centerOn(QPointF(0, 0));
    QApplication::processEvents();
    drawFrame(view);
    std::vector<double> panFrames;
    const BenchTiming::Clock clock;
    for (int i = 0; i < 200; ++i) {
        view.centerOn(QPointF(960 + i * 12.4, 540 + i * 9.6));
        QApplication::processEvents();
        panFrames.push_back(drawFrame(view));
    }
    f.panCpu = clock.elapsed().second * 1000.0 / 200;
    f.panMedian = median(panFrames);
    f.panWorst = *std::max_element(panFrames.begin(), panFrames.end());
    view.hide();
    return f;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (!GPU::Viewport::openGLAvailable()) {
        std::printf("image view bench: no OpenGL context on this display, skipped\n");
        return 0;
    }
    const auto plane = photoLikePlane();
    ImagePreview gl(nullptr, ImagePreview::Drawing::OpenGL);
    const Figures g = measure(gl, plane);
    if (!gl.viewport() || !gl.viewport()->isWorking()) {
        std::printf("image view bench: the OpenGL viewport could not draw, skipped\n");
        return 0;
    }
    std::printf("image view bench: %lld tile uploads over both passes\n", (long long)gl.viewport()->tileUploads());
    ImagePreview raster(nullptr, ImagePreview::Drawing::Raster);
    const Figures r = measure(raster, plane);

    std::printf("bench: view_gl_first_frame_ms %.2f ms\n", g.firstFrame);
    std::printf("bench: view_gl_zoom_frame_ms %.2f ms\n", g.zoomMedian);
    std::printf("bench: view_gl_zoom_worst_frame_ms %.2f ms\n", g.zoomWorst);
    std::printf("bench: view_gl_pan_frame_ms %.2f ms\n", g.panMedian);
    std::printf("bench: view_gl_pan_worst_frame_ms %.2f ms\n", g.panWorst);
    std::printf("bench: view_raster_first_frame_ms %.2f ms\n", r.firstFrame);
    std::printf("bench: view_raster_zoom_frame_ms %.2f ms\n", r.zoomMedian);
    std::printf("bench: view_raster_zoom_worst_frame_ms %.2f ms\n", r.zoomWorst);
    std::printf("bench: view_raster_pan_frame_ms %.2f ms\n", r.panMedian);
    std::printf("bench: view_raster_pan_worst_frame_ms %.2f ms\n", r.panWorst);
    std::printf("bench: view_gl_pan_cpu_per_frame_ms %.2f ms\n", g.panCpu);
    std::printf("bench: view_raster_pan_cpu_per_frame_ms %.2f ms\n", r.panCpu);
    std::printf("bench: view_zoom_raster_vs_gl %.2f ratio\n", r.zoomMedian / g.zoomMedian);
    std::printf("bench: view_pan_raster_vs_gl %.2f ratio\n", r.panMedian / g.panMedian);
    return 0;
}
