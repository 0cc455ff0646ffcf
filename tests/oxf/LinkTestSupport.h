#pragma once
// What the host-link tests share: the effect process, environment scopes and test images.

#include "imageio/ImageIO.h"
#include "oxf/MasterSession.h"

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <algorithm>
#include <unistd.h>
#include <cstdio>
#include <sys/types.h>

using Orvex::ImageIO::ColorModel;
using Orvex::ImageIO::ImageRecord;

inline std::string fxPath() {
    return ELEMORAMA_BIN_DIR "/elemorama-fx";
}

// Sets an environment variable for the processes started in one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = getenv(name)) m_old = old, m_had = true;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_had)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name, m_old;
    bool m_had = false;
};

inline ImageRecord makeImage(int w, int h, ColorModel model, int type, bool alpha, uint32_t seed = 1) {
    ImageRecord image;
    image.width = w;
    image.height = h;
    image.model = model;
    image.sampleType = type;
    image.hasAlpha = alpha;
    image.allocate();
    std::mt19937 rng(seed);
    if (type == -3) {
        for (size_t i = 0; i < image.samples.size(); i += 4) {
            const float v = float(rng() % 100000) / 99999.0f;
            memcpy(&image.samples[i], &v, 4);
        }
    } else {
        for (uint8_t& b : image.samples) b = uint8_t(rng());
    }
    return image;
}

inline ImageRecord makeMask(int w, int h, uint8_t value) {
    ImageRecord mask;
    mask.width = w;
    mask.height = h;
    mask.model = ColorModel::Grey;
    mask.sampleType = -1;
    mask.allocate();
    std::fill(mask.samples.begin(), mask.samples.end(), value);
    return mask;
}


// Whether a process that is not our child still runs (an ended one may linger as a zombie until
// whoever adopted it reaps it).
inline bool runs(pid_t pid) {
    FILE* f = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f) return false;
    char line[512] = {};
    const size_t n = fread(line, 1, sizeof line - 1, f);
    fclose(f);
    const char* close = strrchr(line, ')');
    return n > 0 && close && close[1] == ' ' && close[2] != 'Z' && close[2] != 'X';
}

// A master in a child process: it starts the effect process, reports that process's pid, runs
// `run` (filled with the image) once and ends without cleaning up. `master` is -1 when the fork or
// the report failed.
struct ForkedMaster {
    pid_t master = -1;
    pid_t fx = 0;
};

template <class Prepare>
ForkedMaster forkMaster(Orvex::ImageIO::ImageRecord image, Prepare prepare) {
    ForkedMaster out;
    int fds[2];
    if (pipe(fds) != 0) return out;
    const pid_t master = fork();
    if (master < 0) return out;
    if (master == 0) {
        close(fds[0]);
        try {
            Orvex::OXF::MasterSession session(fxPath());
            const pid_t fx = session.childPid();
            if (write(fds[1], &fx, sizeof fx) != sizeof fx) _exit(3);
            Orvex::OXF::MasterRun run;
            run.image = &image;
            prepare(run);
            session.run(run);
        } catch (...) {
        }
        _exit(4);
    }
    close(fds[1]);
    out.master = master;
    if (read(fds[0], &out.fx, sizeof out.fx) != ssize_t(sizeof out.fx)) out.master = -1;
    close(fds[0]);
    return out;
}
