#pragma once
#include "document/filters/EffectParams.h"

namespace Orvex::Document::Filters {

// Night sky: stars, nebulas, shooting stars and meteors over the selection. A colour with alpha 0
// ("transparent") means that the element takes the base colour.
struct NightSkyParams : ParamsBase<NightSkyParams> {
    uint32_t baseColor = 0xFFFFFFFFu;
    int32_t baseDimming = 50;
    bool useStars = true;
    bool useNebulas = true;
    bool useShoots = false;
    bool useMeteors = false;
    uint32_t starColor = 0;
    int32_t starColorDev = 0;
    int32_t starSize = 40;
    int32_t starDensity = 20;
    bool starUseRays = false;
    int32_t starRayRadius = 50;
    int32_t starSeed = 0;
    uint32_t nebulaColor = 0;
    int32_t nebulaColorDev = 0;
    int32_t nebulaSpread = 18;
    int32_t nebulaAmount = 24;
    int32_t nebulaDeform = 15;
    int32_t nebulaBright = 50;
    int32_t nebulaSeed = 0;
    uint32_t shootColor = 0;
    int32_t shootColorDev = 0;
    int32_t shootSize = 50;
    int32_t shootElongate = 0;
    int32_t shootDensity = 20;
    int32_t shootAngle = -10;
    int32_t shootSeed = 0;
    uint32_t meteorColor = 0;
    int32_t meteorColorDev = 4;
    int32_t meteorSize = 26;
    int32_t meteorElongate = 0;
    int32_t meteorDensity = 25;
    int32_t meteorAngle = -45;
    int32_t meteorSeed = 0;

    static const std::vector<FieldSpec<NightSkyParams>>& fields();
    // The nebula layer depends on its colour, amounts, brightness, seed and the base colour.
    bool sameNebulaKey(const NightSkyParams& other) const;
};

} // namespace Orvex::Document::Filters
