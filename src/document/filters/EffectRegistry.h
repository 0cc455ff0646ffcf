#pragma once
// The effect registry: the fixed table of effects by identifier, class name and short name, and
// the factories of their parameter records and renderers.
//
// An effect's renderer becomes available by existing: the folder src/document/filters/<effect>/
// holding <Effect>Renderer.h with a default-constructible class <Effect>Renderer derived from
// EffectRenderer. No registration call is needed (and none could be dropped by the linker).

#include "document/filters/EffectRenderer.h"

namespace Orvex::Document::Filters {

struct EffectInfo {
    int id;
    const char* className; // "Orvex::Document::Filters::Rain"
    const char* shortName; // names in preset files and settings ("Rain", "Ice")
    const char* filterKey; // the last "::" part of the class name; settings group "Filters/" + key
};

namespace EffectId {
enum : int { Rain = 0, Sun, Water, Lightning, Cumulus, Frost, Fire, Ice, Rainbow, Aurora, NightSky, Snow };
}

class EffectRegistry {
public:
    static const std::vector<EffectInfo>& all();
    static const EffectInfo* byId(int id);
    // Exact short or class name first, then the last "::" part of the class names; -1 when unknown.
    static int find(const QString& name);
    // The record with its defaults; nullptr for the effects without a record (Ice, Snow).
    static std::unique_ptr<AnyParams> createParams(int id);
    // nullptr while the effect's renderer is not built.
    static std::unique_ptr<EffectRenderer> createRenderer(int id);
    static bool hasRenderer(int id);
    // The table of the effect's parameters (empty for Ice and Snow).
    static std::vector<FieldInfo> fields(int id);
    // ":/presets/Resources/Presets/" + lower-case short name + ".xml"
    static QString builtInPresetPath(int id);
    // "Filters/" + FilterKey
    static QString settingsGroup(int id);
};

} // namespace Orvex::Document::Filters
