#pragma once
// Wall and processor time of one measured run, and the bench lines that report it.

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <utility>

namespace BenchTiming {

struct Clock {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    double cpu = cpuSeconds();
    static double cpuSeconds() {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    // {wall seconds, processor seconds} since construction.
    std::pair<double, double> elapsed() const {
        const double w = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
        return {w, cpuSeconds() - cpu};
    }
};

// "bench: <name> <wall> s", its throughput over `megapixels` and its processor ÷ wall ratio.
inline void report(const std::string& name, double wall, double cpu, double megapixels) {
    std::printf("bench: %s %.3f s\n", name.c_str(), wall);
    std::printf("bench: %s_mpix_per_s %.2f Mpix/s\n", name.c_str(), megapixels / wall);
    std::printf("bench: %s_cpu_per_wall %.2f ratio\n", name.c_str(), cpu / wall);
    std::fflush(stdout);
}

} // namespace BenchTiming
