#pragma once
#include "document/filters/EffectParams.h"

namespace Orvex::Document::Filters {

// Sun: a disc with glow, halo and rays, placed with the move tool.
struct SunParams : ParamsBase<SunParams> {
    int32_t centerX = 0; // image pixels, set by placeDefault or the move tool
    int32_t centerY = 0;
    float radius = 1.0f;
    float angle = 0.0f; // radians
    float power = 0.7f;
    int32_t smoothColor = 10;
    uint32_t sunColor = 0xFFFFFFFFu;
    uint32_t glowColor = 0xFFFFFFC8u;
    bool halo = true;
    uint32_t haloColor = 0xFFFFFFC8u;
    bool spikes = true;
    bool randomDirection = false;
    int32_t number = 6;
    int32_t maxLength = 90;
    int32_t breadth = 76;
    int32_t width = 20;
    int32_t transparency = 77;

    static const std::vector<FieldSpec<SunParams>>& fields();
    // The halo colour counts only with the halo on, the ray fields only with spikes on.
    bool unchangedFrom(const SunParams& other) const;
    // The centre cut to the image, as every read and run does once the image size is known.
    void clampToImage(int width, int height);
    // Centre (m/8, m/8) and radius m/40 for m = min(width, height).
    void placeDefault(int width, int height);
};

} // namespace Orvex::Document::Filters
