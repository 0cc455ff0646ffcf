#include "document/filters/nightsky/NightSkyParams.h"

namespace Orvex::Document::Filters {

const std::vector<FieldSpec<NightSkyParams>>& NightSkyParams::fields() {
    using R = NightSkyParams;
    constexpr FieldType named = FieldType::ColorName;
    static const std::vector<FieldSpec<R>> table = {
        colorField<R>("baseColor", &R::baseColor, "BaseColor", fourCC("aSt1"), "Base Color", 0xFFFFFFFFu,
                      named),
        intField<R>("baseDimming", &R::baseDimming, "BaseDimming", fourCC("aStA"), "Dimming", 0, 100, 50),
        boolField<R>("useStars", &R::useStars, "UseStars", fourCC("aSt2"), "Stars", true),
        boolField<R>("useNebulas", &R::useNebulas, "UseNebulas", fourCC("aSt3"), "Nebulas", true),
        boolField<R>("useShoots", &R::useShoots, "UseShoots", fourCC("aSt4"), "Shooting Stars", false),
        boolField<R>("useMeteors", &R::useMeteors, "UseMeteors", fourCC("aSt5"), "Meteors", false),
        colorField<R>("starColor", &R::starColor, "StarColor", fourCC("aSt6"), "Star Color", 0u, named),
        intField<R>("starColorDev", &R::starColorDev, "StarColorDev", fourCC("aSt7"), "Color Deviation", 0,
                    100, 0),
        intField<R>("starSize", &R::starSize, "StarSize", fourCC("aSt8"), "Size", 10, 100, 40),
        intField<R>("starDensity", &R::starDensity, "StarDensity", fourCC("aSt9"), "Density", 1, 100, 20),
        boolField<R>("starUseRays", &R::starUseRays, "StarUseRays", fourCC("aStB"), "Rays", false),
        intField<R>("starRayRadius", &R::starRayRadius, "StarRayRadius", fourCC("aStC"), "Ray Size", 20, 100,
                    50),
        intField<R>("starSeed", &R::starSeed, "StarRndSeed", fourCC("aStW"), "Random Seed", 0, 9999, 0),
        colorField<R>("nebulaColor", &R::nebulaColor, "NebulaColor", fourCC("aStS"), "Nebula Color", 0u,
                      named),
        intField<R>("nebulaColorDev", &R::nebulaColorDev, "NebulaColorDev", fourCC("aStT"), "Color Deviation",
                    0, 100, 0),
        intField<R>("nebulaSpread", &R::nebulaSpread, "NebulaSpread", fourCC("aStD"), "Spread", 0, 100, 18),
        intField<R>("nebulaAmount", &R::nebulaAmount, "NebulaAmount", fourCC("aStE"), "Amount", 0, 100, 24),
        intField<R>("nebulaDeform", &R::nebulaDeform, "NebulaDeform", fourCC("aStF"), "Deform", 0, 100, 15),
        intField<R>("nebulaBright", &R::nebulaBright, "NebulaBright", fourCC("aStG"), "Brightness", 1, 100,
                    50),
        intField<R>("nebulaSeed", &R::nebulaSeed, "NebulaRndSeed", fourCC("aStX"), "Random Seed", 0, 9999, 0),
        colorField<R>("shootColor", &R::shootColor, "ShootColor", fourCC("aStH"), "Shooting Star Color", 0u,
                      named),
        intField<R>("shootColorDev", &R::shootColorDev, "ShootColorDev", fourCC("aStI"), "Color Deviation", 0,
                    100, 0),
        intField<R>("shootSize", &R::shootSize, "ShootSize", fourCC("aStJ"), "Size", 0, 100, 50),
        intField<R>("shootElongate", &R::shootElongate, "ShootElongate", fourCC("aStU"), "Elongation", -50,
                    100, 0),
        intField<R>("shootDensity", &R::shootDensity, "ShootDensity", fourCC("aStK"), "Density", 1, 100, 20),
        intField<R>("shootAngle", &R::shootAngle, "ShootAngle", fourCC("aStL"), "Angle", -90, 90, -10),
        intField<R>("shootSeed", &R::shootSeed, "ShootRndSeed", fourCC("aStY"), "Random Seed", 0, 9999, 0),
        colorField<R>("meteorColor", &R::meteorColor, "MeteorColor", fourCC("aStM"), "Meteor Color", 0u,
                      named),
        intField<R>("meteorColorDev", &R::meteorColorDev, "MeteorColorDev", fourCC("aStN"), "Color Deviation",
                    0, 100, 4),
        intField<R>("meteorSize", &R::meteorSize, "MeteorSize", fourCC("aStO"), "Size", 10, 100, 26),
        intField<R>("meteorElongate", &R::meteorElongate, "MeteorElongate", fourCC("aStV"), "Elongation", -50,
                    100, 0),
        intField<R>("meteorDensity", &R::meteorDensity, "MeteorDensity", fourCC("aStP"), "Density", 1, 100,
                    25),
        intField<R>("meteorAngle", &R::meteorAngle, "MeteorAngle", fourCC("aStQ"), "Angle", -180, 180, -45),
        intField<R>("meteorSeed", &R::meteorSeed, "MeteorRndSeed", fourCC("aStZ"), "Random Seed", 0, 9999, 0),
    };
    return table;
}

bool NightSkyParams::sameNebulaKey(const NightSkyParams& o) const {
    return sameMembers(*this, o,
                       {"nebulaColor", "nebulaColorDev", "nebulaSpread", "nebulaAmount", "nebulaDeform",
                        "nebulaBright", "nebulaSeed", "baseColor"});
}

} // namespace Orvex::Document::Filters
