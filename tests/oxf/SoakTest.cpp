// One effect process serves many batch runs in a row, as a host that keeps it for a session does:
// every run succeeds and its resident memory stops growing once every effect has run.
#include "LinkTestSupport.h"

#include "oxf/MasterSession.h"

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

using namespace Orvex;
using namespace Orvex::OXF;

namespace {

// The resident set of `pid` in KiB (VmRSS), 0 when it cannot be read.
long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

struct SoakEffect {
    const char* name;
    const char* key; // a parameter that changes from run to run
    int low, high;
    const char* extra; // the geometry the effects drawn along lines and the rainbow need
};

// Every effect the engine renders, so that the first round sets up each one's caches.
const SoakEffect soakEffects[] = {
    {"Rain", "Den", 1, 20, ""},
    {"Sun", "Number", 1, 100, ""},
    {"Water", "NWave", 0, 20, ""},
    {"Lightning", "RandomSeed", 0, 9999, "    lines 3\n"},
    {"Cumulus", "SizeNoise", 1, 100, ""},
    {"Frost", "Fill", 0, 100, ""},
    {"Fire", "Flames", 5, 200, ""},
    {"Rainbow", "Frequency", 1, 200, "    points \"20,150,236,150,128,40\"\n"},
    {"Aurora", "Glow", 0, 100, "    lines\n    {\n        line \"0,120,256,110\"\n    }\n"},
    {"NightSky", "StarRndSeed", 0, 9999, ""},
};

std::string batchText(int run) {
    const SoakEffect& e = soakEffects[size_t(run) % std::size(soakEffects)];
    const int value = e.low + (run * 37) % (e.high - e.low + 1);
    return std::string("batch\n{\n    effect ") + e.name + "\n    set\n    {\n        " + e.key + " " +
           std::to_string(value) + "\n    }\n" + e.extra + "}\n";
}

unsigned envNumber(const char* name, unsigned fallback) {
    const char* value = getenv(name);
    return value && *value ? unsigned(strtoul(value, nullptr, 10)) : fallback;
}

} // namespace

// The process keeps freed heap memory between runs (it does not trim), so its resident set is the
// union of the pages its runs have touched: it settles over the first few dozen runs as the runs'
// varying layouts fill the heap up to its high-water mark, and then stays flat. A leak grows it run
// after run, which the second half of the soak would show.
TEST(Soak, FiveHundredBatchRunsThroughOneProcessKeepItsMemory) {
    const unsigned runs = envNumber("ELEMORAMA_SOAK_RUNS", 500);
    ASSERT_GE(runs, 20u);
    MasterSession session(fxPath());
    const pid_t fx = session.childPid();
    // Two pictures in turn, the second one with a selection of its upper part.
    const ImageRecord pictures[] = {makeImage(256, 192, ColorModel::RGB, -1, false, 1),
                                    makeImage(256, 192, ColorModel::RGB, -1, false, 2)};
    ImageRecord sky = makeMask(256, 192, 0);
    std::fill(sky.samples.begin(), sky.samples.begin() + 256 * 80, uint8_t(255));

    long afterTen = 0, halfway = 0, peak = 0;
    unsigned changed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (unsigned i = 0; i < runs; ++i) {
        ImageRecord image = pictures[i % 2];
        MasterRun run;
        run.image = &image;
        run.selection = i % 2 ? &sky : nullptr;
        run.params = batchText(int(i));
        run.timeoutSeconds = 120;
        const MasterReply reply = session.run(run);
        ASSERT_EQ(reply.status, 0) << "run " << i << ": " << reply.error << "\n" << run.params;
        ASSERT_EQ(reply.channelsWritten, 3) << "run " << i;
        if (image.samples != pictures[i % 2].samples) ++changed;
        const long rss = residentKiB(fx);
        ASSERT_GT(rss, 0);
        if (i + 1 == 10) afterTen = rss;
        if (i + 1 == runs / 2) halfway = rss;
        peak = std::max(peak, rss);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long last = residentKiB(fx);
    EXPECT_EQ(session.quit(), 0);

    printf("soak: %u runs in %.1f s; resident %ld KiB after 10 runs, %ld KiB after %u, %ld KiB after %u "
           "(peak %ld); growth after the first ten %ld KiB, over the second half %ld KiB\n",
           runs, seconds, afterTen, halfway, runs / 2, last, runs, peak, last - afterTen, last - halfway);
    EXPECT_GE(changed, runs * 9 / 10) << "the effects left most pictures as they were";
    EXPECT_LT(last - halfway, 1024) << "the effect process grows run after run";
    EXPECT_LT(last - afterTen, 2048) << "the effect process grew beyond its warm-up";
}
