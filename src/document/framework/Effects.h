#pragma once
// The effect objects. Each is its identity only: the registry id, the class information the
// window shows, and the base of its kind; parameters, panel, presets and runs come from the base,
// the algorithm from the engine's renderer for the id.

#include "document/framework/MaskToolFilter.h"

namespace Orvex::Document::Filters {

class Rain : public MaskToolFilter {
    Q_OBJECT
    Q_CLASSINFO("FilterName", "Rain")
    Q_CLASSINFO("FilterIcon", ":/filter/rain")
    Q_CLASSINFO("FilterDescription", "Rain_HINT")
public:
    using ParamsDataHolder = ToolFilter::ParamsDataHolder;
    explicit Rain(uint32_t layerKind = 8, QObject* parent = nullptr)
        : MaskToolFilter(EffectId::Rain, layerKind, parent) {}
};

class Sun : public ToolFilter {
    Q_OBJECT
    Q_CLASSINFO("FilterName", "Sun")
    Q_CLASSINFO("FilterIcon", ":/filter/sun")
    Q_CLASSINFO("FilterDescription", "Sun_HINT")
public:
    using ParamsDataHolder = ToolFilter::ParamsDataHolder;
    explicit Sun(uint32_t layerKind = 8, QObject* parent = nullptr)
        : ToolFilter(EffectId::Sun, layerKind, parent) {}
};

class Water : public ToolFilter {
    Q_OBJECT
    Q_CLASSINFO("FilterName", "Water")
    Q_CLASSINFO("FilterIcon", ":/filter/water")
    Q_CLASSINFO("FilterDescription", "Water_HINT")
public:
    using ParamsDataHolder = ToolFilter::ParamsDataHolder;
    explicit Water(uint32_t layerKind = 8, QObject* parent = nullptr)
        : ToolFilter(EffectId::Water, layerKind, parent) {}
    bool UsesLiveMode() const override { return true; }
};

class Lightning : public TrunkToolFilter {
    Q_OBJECT
    Q_CLASSINFO("FilterName", "Lightning")
    Q_CLASSINFO("FilterIcon", ":/filter/lightning")
    Q_CLASSINFO("FilterDescription", "Lightning_HINT")
public:
    using ParamsDataHolder = ToolFilter::ParamsDataHolder;
    explicit Lightning(uint32_t layerKind = 8, QObject* parent = nullptr)
        : TrunkToolFilter(EffectId::Lightning, layerKind, parent) {}
};

class Cumulus : public MaskToolFilter {
    Q_OBJECT
    Q_CLASSINFO("FilterName", "Cumulus")
    Q_CLASSINFO("FilterIcon", ":/filter/cumulus")
    Q_CLASSINFO("FilterDescription", "Cumulus_HINT")
public:
    using ParamsDataHolder = ToolFilter::ParamsDataHolder;
    explicit Cumulus(uint32_t layerKind = 8, QObject* parent = nullptr)
        : MaskToolFilter(EffectId::Cumulus, layerKind, parent) {}
};

class Frost : public MaskToolFilter {
    Q_OBJECT
    Q_CLASSINFO("FilterName", "Frost")
    Q_CLASSINFO("FilterIcon", ":/filter/frost")
    Q_CLASSINFO("FilterDescription", "Frost_HINT")
public:
    using ParamsDataHolder = ToolFilter::ParamsDataHolder;
    explicit Frost(uint32_t layerKind = 8, QObject* parent = nullptr)
        : MaskToolFilter(EffectId::Frost, layerKind, parent) {}
};

class Fire : public MaskToolFilter {
    Q_OBJECT
    Q_CLASSINFO("FilterName", "Fire")
    Q_CLASSINFO("FilterIcon", ":/filter/fire")
    Q_CLASSINFO("FilterDescription", "Fire_HINT")
public:
    using ParamsDataHolder = ToolFilter::ParamsDataHolder;
    explicit Fire(uint32_t layerKind = 8, QObject* parent = nullptr)
        : MaskToolFilter(EffectId::Fire, layerKind, parent) {}
};

class Rainbow : public ToolFilter {
    Q_OBJECT
    Q_CLASSINFO("FilterName", "Rainbow")
    Q_CLASSINFO("FilterIcon", ":/filter/rainbow")
    Q_CLASSINFO("FilterDescription", "Rainbow_HINT")
public:
    using ParamsDataHolder = ToolFilter::ParamsDataHolder;
    explicit Rainbow(uint32_t layerKind = 8, QObject* parent = nullptr)
        : ToolFilter(EffectId::Rainbow, layerKind, parent) {}
};

class Aurora : public TrunkToolFilter {
    Q_OBJECT
    Q_CLASSINFO("FilterName", "Aurora")
    Q_CLASSINFO("FilterIcon", ":/filter/aurora")
    Q_CLASSINFO("FilterDescription", "Aurora_HINT")
public:
    using ParamsDataHolder = ToolFilter::ParamsDataHolder;
    explicit Aurora(uint32_t layerKind = 8, QObject* parent = nullptr)
        : TrunkToolFilter(EffectId::Aurora, layerKind, parent) {}
};

class NightSky : public MaskToolFilter {
    Q_OBJECT
    Q_CLASSINFO("FilterName", "NightSky")
    Q_CLASSINFO("FilterIcon", ":/filter/nightsky")
    Q_CLASSINFO("FilterDescription", "NightSky_HINT")
public:
    using ParamsDataHolder = ToolFilter::ParamsDataHolder;
    explicit NightSky(uint32_t layerKind = 8, QObject* parent = nullptr)
        : MaskToolFilter(EffectId::NightSky, layerKind, parent) {
        SetDuoMask(true); // star zones and nebula zones in one mask
    }
};

// The effect object for a registry id; nullptr for the ids that build nothing (Ice, Snow, unknown).
ToolFilter* createFilter(int effectId, uint32_t layerKind = 8, QObject* parent = nullptr);
// The ids of the effects the window lists, in its order.
const std::vector<int>& listedEffects();

} // namespace Orvex::Document::Filters
