// Times one window-less run of the effect process on a 12 MP RGBA 16-bit image: every channel
// pulled through the data pad and written back (the process does no processing), as seen by the
// master. The baseline is one memcpy of the image's bytes, measured in the same run.

#include "oxf/MasterSession.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace Orvex;
using Clock = std::chrono::steady_clock;

namespace {
double processCpuMs() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// User and system time of another process, from /proc (clock ticks).
double childCpuMs(pid_t pid) {
    FILE* f = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f) return 0;
    char buffer[1024];
    const size_t n = fread(buffer, 1, sizeof buffer - 1, f);
    fclose(f);
    buffer[n] = 0;
    const char* p = strrchr(buffer, ')');
    unsigned long utime = 0, stime = 0;
    if (p) sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
    return double(utime + stime) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}
} // namespace

int main(int argc, char** argv) {
    const int width = argc > 2 ? atoi(argv[1]) : 4000, height = argc > 2 ? atoi(argv[2]) : 3000;
    ImageIO::ImageRecord image;
    image.width = width;
    image.height = height;
    image.model = ImageIO::ColorModel::RGB;
    image.sampleType = ImageIO::UInt16;
    image.hasAlpha = true;
    image.allocate();
    std::mt19937 rng(1);
    for (size_t i = 0; i < image.samples.size(); i += 4) {
        const uint32_t v = rng();
        memcpy(&image.samples[i], &v, 4);
    }
    const std::vector<uint8_t> original = image.samples;

    // memcpy of the same bytes (best of three, destination already touched).
    std::vector<uint8_t> copy(image.samples.size(), 1);
    double memcpyMs = 1e30, memcpyCpuMs = 1e30;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = Clock::now();
        const double c0 = processCpuMs();
        memcpy(copy.data(), image.samples.data(), copy.size());
        memcpyCpuMs = std::min(memcpyCpuMs, processCpuMs() - c0);
        memcpyMs = std::min(memcpyMs, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }

    try {
        OXF::MasterSession session(OXF::effectProcessBesideSelf());
        OXF::MasterRun run;
        run.image = &image;
        run.params = "batch";
        double best = 1e30, bestCpu = 1e30;
        for (int i = 0; i < 5; ++i) {
            const auto t0 = Clock::now();
            const double c0 = processCpuMs() + childCpuMs(session.childPid());
            const OXF::MasterReply reply = session.run(run);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            bestCpu = std::min(bestCpu, processCpuMs() + childCpuMs(session.childPid()) - c0);
            if (reply.status != 0) {
                fprintf(stderr, "bench_hostlink: run failed: %s\n", reply.error.c_str());
                return 1;
            }
            best = std::min(best, ms);
        }
        session.quit();
        if (image.samples != original) {
            fprintf(stderr, "bench_hostlink: the image did not come back unchanged\n");
            return 1;
        }
        const double mp = double(width) * height / 1e6;
        printf("bench: hostlink_roundtrip_rgba16_%.0fmp %.1f ms\n", mp, best);
        printf("bench: hostlink_roundtrip_rgba16_%.0fmp_throughput %.1f MP/s\n", mp, mp / (best / 1000.0));
        printf("bench: hostlink_memcpy_rgba16_%.0fmp %.1f ms\n", mp, memcpyMs);
        printf("bench: hostlink_roundtrip_rgba16_%.0fmp_vs_memcpy %.2f ratio\n", mp, best / memcpyMs);
        // CPU time of both processes against that of memcpy: steadier on a busy machine.
        printf("bench: hostlink_roundtrip_rgba16_%.0fmp_cpu %.1f ms\n", mp, bestCpu);
        printf("bench: hostlink_roundtrip_rgba16_%.0fmp_cpu_vs_memcpy %.2f ratio\n", mp,
               bestCpu / memcpyCpuMs);

        // Interactive runs through the effect window: started, loaded and shown, then cancelled
        // (the time from a host's start to the window on screen, and a little more) or applied
        // unchanged through the window's own write-back. The write-back is timed from the request
        // for the first channel to the reply: every channel's transfer and what the run still does
        // before it replies. A conversion of the result before the first channel is not in it; the
        // RGB path has none.
        if (!getenv("QT_QPA_PLATFORM") && !getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        double shownMs = 0, interactive[2] = {1e30, 1e30}, writeBack = 1e30;
        const char* modes[2] = {"cancel", "apply"};
        for (int m = 0; m < 2; ++m) {
            setenv("ELEMORAMA_AUTO", modes[m], 1);
            for (int i = 0; i < 5; ++i) {
                const auto t0 = Clock::now();
                OXF::MasterSession window(OXF::effectProcessBesideSelf());
                OXF::MasterRun interactiveRun;
                interactiveRun.image = &image;
                interactiveRun.params = "window";
                const OXF::MasterReply reply = window.run(interactiveRun);
                const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                window.quit();
                if (reply.status != (m == 0 ? 1 : 0)) {
                    fprintf(stderr, "bench_hostlink: interactive run gave status %d: %s\n", reply.status,
                            reply.error.c_str());
                    return 1;
                }
                interactive[m] = std::min(interactive[m], ms);
                // The write-back: from the request for the first channel to the reply.
                // HOSTLINK_TRACE=1 lists when each channel came and went.
                if (getenv("HOSTLINK_TRACE"))
                    for (const OXF::ChannelEvent& e : reply.events)
                        fprintf(stderr, "%s code %d at %.1f ms (reply at %.1f ms)\n", e.put ? "put" : "get", e.code,
                                e.atMs, reply.doneMs);
                for (const OXF::ChannelEvent& e : reply.events)
                    if (e.put) {
                        writeBack = std::min(writeBack, reply.doneMs - e.atMs);
                        break;
                    }
            }
        }
        unsetenv("ELEMORAMA_AUTO");
        shownMs = interactive[0];
        printf("bench: window_start_load_show_cancel_rgba16_%.0fmp %.1f ms\n", mp, shownMs);
        printf("bench: window_apply_writeback_rgba16_%.0fmp %.1f ms\n", mp, writeBack);
        printf("bench: window_apply_writeback_rgba16_%.0fmp_vs_memcpy %.2f ratio\n", mp, writeBack / memcpyMs);
        if (image.samples != original) {
            fprintf(stderr, "bench_hostlink: an unchanged apply changed the image\n");
            return 1;
        }
    } catch (const std::exception& e) {
        fprintf(stderr, "bench_hostlink: %s\n", e.what());
        return 1;
    }
    return 0;
}
