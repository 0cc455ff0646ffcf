#include "document/framework/Effects.h"

namespace Orvex::Document::Filters {

ToolFilter* createFilter(int effectId, uint32_t layerKind, QObject* parent) {
    switch (effectId) {
    case EffectId::Rain:
        return new Rain(layerKind, parent);
    case EffectId::Sun:
        return new Sun(layerKind, parent);
    case EffectId::Water:
        return new Water(layerKind, parent);
    case EffectId::Lightning:
        return new Lightning(layerKind, parent);
    case EffectId::Cumulus:
        return new Cumulus(layerKind, parent);
    case EffectId::Frost:
        return new Frost(layerKind, parent);
    case EffectId::Fire:
        return new Fire(layerKind, parent);
    case EffectId::Rainbow:
        return new Rainbow(layerKind, parent);
    case EffectId::Aurora:
        return new Aurora(layerKind, parent);
    case EffectId::NightSky:
        return new NightSky(layerKind, parent);
    default:
        return nullptr;
    }
}

const std::vector<int>& listedEffects() {
    static const std::vector<int> ids = {EffectId::Rain,    EffectId::Water,     EffectId::Cumulus,
                                         EffectId::Rainbow, EffectId::Lightning, EffectId::Frost,
                                         EffectId::Aurora};
    return ids;
}

} // namespace Orvex::Document::Filters
