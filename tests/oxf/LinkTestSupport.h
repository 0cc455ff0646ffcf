#pragma once
// What the host-link tests share: the effect process, environment scopes and test images.

#include "imageio/ImageIO.h"

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <algorithm>

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

