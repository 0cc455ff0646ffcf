#include "document/filters/EffectRegistry.h"

#include "document/filters/aurora/AuroraParams.h"
#include "document/filters/cumulus/CumulusParams.h"
#include "document/filters/fire/FireParams.h"
#include "document/filters/frost/FrostParams.h"
#include "document/filters/lightning/LightningParams.h"
#include "document/filters/nightsky/NightSkyParams.h"
#include "document/filters/rain/RainParams.h"
#include "document/filters/rainbow/RainbowParams.h"
#include "document/filters/sun/SunParams.h"
#include "document/filters/water/WaterParams.h"

// Renderers are picked up when their header exists (see EffectRegistry.h).
#if __has_include("document/filters/rain/RainRenderer.h")
#include "document/filters/rain/RainRenderer.h"
#define HAVE_RAIN_RENDERER 1
#endif
#if __has_include("document/filters/cumulus/CumulusRenderer.h")
#include "document/filters/cumulus/CumulusRenderer.h"
#define HAVE_CUMULUS_RENDERER 1
#endif
#if __has_include("document/filters/water/WaterRenderer.h")
#include "document/filters/water/WaterRenderer.h"
#define HAVE_WATER_RENDERER 1
#endif
#if __has_include("document/filters/fire/FireRenderer.h")
#include "document/filters/fire/FireRenderer.h"
#define HAVE_FIRE_RENDERER 1
#endif
#if __has_include("document/filters/frost/FrostRenderer.h")
#include "document/filters/frost/FrostRenderer.h"
#define HAVE_FROST_RENDERER 1
#endif
#if __has_include("document/filters/aurora/AuroraRenderer.h")
#include "document/filters/aurora/AuroraRenderer.h"
#define HAVE_AURORA_RENDERER 1
#endif
#if __has_include("document/filters/lightning/LightningRenderer.h")
#include "document/filters/lightning/LightningRenderer.h"
#define HAVE_LIGHTNING_RENDERER 1
#endif
#if __has_include("document/filters/nightsky/NightSkyRenderer.h")
#include "document/filters/nightsky/NightSkyRenderer.h"
#define HAVE_NIGHTSKY_RENDERER 1
#endif
#if __has_include("document/filters/rainbow/RainbowRenderer.h")
#include "document/filters/rainbow/RainbowRenderer.h"
#define HAVE_RAINBOW_RENDERER 1
#endif
#if __has_include("document/filters/sun/SunRenderer.h")
#include "document/filters/sun/SunRenderer.h"
#define HAVE_SUN_RENDERER 1
#endif

namespace Orvex::Document::Filters {

const std::vector<EffectInfo>& EffectRegistry::all() {
    static const std::vector<EffectInfo> table = {
        {EffectId::Rain, "Orvex::Document::Filters::Rain", "Rain", "Rain"},
        {EffectId::Sun, "Orvex::Document::Filters::Sun", "Sun", "Sun"},
        {EffectId::Water, "Orvex::Document::Filters::Water", "Water", "Water"},
        {EffectId::Lightning, "Orvex::Document::Filters::Lightning", "Lightning", "Lightning"},
        {EffectId::Cumulus, "Orvex::Document::Filters::Cumulus", "Cumulus", "Cumulus"},
        {EffectId::Frost, "Orvex::Document::Filters::Frost", "Frost", "Frost"},
        {EffectId::Fire, "Orvex::Document::Filters::Fire", "Fire", "Fire"},
        {EffectId::Ice, "Orvex::Document::Filters::Ice7", "Ice", "Ice7"},
        {EffectId::Rainbow, "Orvex::Document::Filters::Rainbow", "Rainbow", "Rainbow"},
        {EffectId::Aurora, "Orvex::Document::Filters::Aurora", "Aurora", "Aurora"},
        {EffectId::NightSky, "Orvex::Document::Filters::NightSky", "NightSky", "NightSky"},
        {EffectId::Snow, "Orvex::Document::Filters::Snow", "Snow", "Snow"},
    };
    return table;
}

const EffectInfo* EffectRegistry::byId(int id) {
    for (const auto& e : all())
        if (e.id == id) return &e;
    return nullptr;
}

int EffectRegistry::find(const QString& name) {
    for (const auto& e : all())
        if (name == QLatin1String(e.shortName) || name == QLatin1String(e.className)) return e.id;
    for (const auto& e : all()) {
        const QString cls = QLatin1String(e.className);
        if (name == cls.section(QStringLiteral("::"), -1)) return e.id;
    }
    return -1;
}

namespace {
template <class R> std::unique_ptr<AnyParams> make() {
    return std::make_unique<TypedParams<R>>();
}
} // namespace

std::unique_ptr<AnyParams> EffectRegistry::createParams(int id) {
    switch (id) {
    case EffectId::Rain:
        return make<RainParams>();
    case EffectId::Sun:
        return make<SunParams>();
    case EffectId::Water:
        return make<WaterParams>();
    case EffectId::Lightning:
        return make<LightningParams>();
    case EffectId::Cumulus:
        return make<CumulusParams>();
    case EffectId::Frost:
        return make<FrostParams>();
    case EffectId::Fire:
        return make<FireParams>();
    case EffectId::Rainbow:
        return make<RainbowParams>();
    case EffectId::Aurora:
        return make<AuroraParams>();
    case EffectId::NightSky:
        return make<NightSkyParams>();
    default:
        return nullptr;
    }
}

std::unique_ptr<EffectRenderer> EffectRegistry::createRenderer(int id) {
    switch (id) {
#ifdef HAVE_RAIN_RENDERER
    case EffectId::Rain:
        return std::make_unique<RainRenderer>();
#endif
#ifdef HAVE_CUMULUS_RENDERER
    case EffectId::Cumulus:
        return std::make_unique<CumulusRenderer>();
#endif
#ifdef HAVE_WATER_RENDERER
    case EffectId::Water:
        return std::make_unique<WaterRenderer>();
#endif
#ifdef HAVE_FIRE_RENDERER
    case EffectId::Fire:
        return std::make_unique<FireRenderer>();
#endif
#ifdef HAVE_FROST_RENDERER
    case EffectId::Frost:
        return std::make_unique<FrostRenderer>();
#endif
#ifdef HAVE_AURORA_RENDERER
    case EffectId::Aurora:
        return std::make_unique<AuroraRenderer>();
#endif
#ifdef HAVE_LIGHTNING_RENDERER
    case EffectId::Lightning:
        return std::make_unique<LightningRenderer>();
#endif
#ifdef HAVE_NIGHTSKY_RENDERER
    case EffectId::NightSky:
        return std::make_unique<NightSkyRenderer>();
#endif
#ifdef HAVE_RAINBOW_RENDERER
    case EffectId::Rainbow:
        return std::make_unique<RainbowRenderer>();
#endif
#ifdef HAVE_SUN_RENDERER
    case EffectId::Sun:
        return std::make_unique<SunRenderer>();
#endif
    default:
        return nullptr;
    }
}

bool EffectRegistry::hasRenderer(int id) {
    return createRenderer(id) != nullptr;
}

std::vector<FieldInfo> EffectRegistry::fields(int id) {
    auto p = createParams(id);
    return p ? p->fieldInfos() : std::vector<FieldInfo>{};
}

QString EffectRegistry::builtInPresetPath(int id) {
    const EffectInfo* e = byId(id);
    if (!e) return {};
    return QStringLiteral(":/presets/Resources/Presets/") + QString::fromLatin1(e->shortName).toLower() +
           QStringLiteral(".xml");
}

QString EffectRegistry::settingsGroup(int id) {
    const EffectInfo* e = byId(id);
    return e ? QStringLiteral("Filters/") + QLatin1String(e->filterKey) : QString();
}

} // namespace Orvex::Document::Filters
