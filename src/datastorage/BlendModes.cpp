#include "datastorage/BlendModes.h"

#include <QCoreApplication>

namespace Orvex::DataStorage {

namespace {

struct ModeEntry {
    int code;
    const char* name;
    const char* hint;
    bool separable;
    BlendFunction function;
};

// Names are marked for translation in the "Combiners" context.
const ModeEntry kModes[] = {
    {1, QT_TRANSLATE_NOOP("Combiners", "Pass Through"), "PassThrough_HINT", false, BlendFunction::Normal},
    {2, QT_TRANSLATE_NOOP("Combiners", "Normal"), "Normal_HINT", true, BlendFunction::Normal},
    {3, QT_TRANSLATE_NOOP("Combiners", "Dissolve"), "Dissolve_HINT", false, BlendFunction::Normal},
    {10, QT_TRANSLATE_NOOP("Combiners", "Darken"), "Darken_HINT", true, BlendFunction::Darken},
    {11, QT_TRANSLATE_NOOP("Combiners", "Multiply"), "Multiply_HINT", true, BlendFunction::Multiply},
    {12, QT_TRANSLATE_NOOP("Combiners", "Color Burn"), "ColorBurn_HINT", true, BlendFunction::ColorBurn},
    {13, QT_TRANSLATE_NOOP("Combiners", "Linear Burn"), "LinearBurn_HINT", true, BlendFunction::LinearBurn},
    {14, QT_TRANSLATE_NOOP("Combiners", "Darker Color"), "DarkerColor_HINT", false, BlendFunction::Normal},
    {20, QT_TRANSLATE_NOOP("Combiners", "Lighten"), "Lighten_HINT", true, BlendFunction::Lighten},
    {21, QT_TRANSLATE_NOOP("Combiners", "Screen"), "Screen_HINT", true, BlendFunction::Screen},
    {22, QT_TRANSLATE_NOOP("Combiners", "Color Dodge"), "ColorDodge_HINT", true, BlendFunction::ColorDodge},
    {23, QT_TRANSLATE_NOOP("Combiners", "Linear Dodge"), "LinearDodge_HINT", true, BlendFunction::Plus},
    {24, QT_TRANSLATE_NOOP("Combiners", "Lighter Color"), "LighterColor_HINT", false, BlendFunction::Normal},
    {30, QT_TRANSLATE_NOOP("Combiners", "Overlay"), "Overlay_HINT", true, BlendFunction::Overlay},
    {31, QT_TRANSLATE_NOOP("Combiners", "Soft Light"), "SoftLight_HINT", true, BlendFunction::SoftLight},
    {32, QT_TRANSLATE_NOOP("Combiners", "Hard Light"), "HardLight_HINT", true, BlendFunction::HardLight},
    {33, QT_TRANSLATE_NOOP("Combiners", "Linear Light"), "LinearLight_HINT", true,
     BlendFunction::LinearLight},
    {34, QT_TRANSLATE_NOOP("Combiners", "Vivid Light"), "VividLight_HINT", true, BlendFunction::VividLight},
    {35, QT_TRANSLATE_NOOP("Combiners", "Pin Light"), "PinLight_HINT", true, BlendFunction::PinLight},
    {36, QT_TRANSLATE_NOOP("Combiners", "Hard Mix"), "HardMix_HINT", true, BlendFunction::HardMix},
    {40, QT_TRANSLATE_NOOP("Combiners", "Difference"), "Difference_HINT", true, BlendFunction::Difference},
    {41, QT_TRANSLATE_NOOP("Combiners", "Exclusion"), "Exclusion_HINT", true, BlendFunction::Exclusion},
    {42, QT_TRANSLATE_NOOP("Combiners", "Subtract"), "Subtract_HINT", true, BlendFunction::Subtract},
    {43, QT_TRANSLATE_NOOP("Combiners", "Divide"), "Divide_HINT", true, BlendFunction::Divide},
    {51, QT_TRANSLATE_NOOP("Combiners", "Hue"), "Hue_HINT", false, BlendFunction::Normal},
    {52, QT_TRANSLATE_NOOP("Combiners", "Saturation"), "Saturation_HINT", false, BlendFunction::Normal},
    {53, QT_TRANSLATE_NOOP("Combiners", "Color"), "Color_HINT", false, BlendFunction::Normal},
    {54, QT_TRANSLATE_NOOP("Combiners", "Luminosity"), "Luminosity_HINT", false, BlendFunction::Normal},
    {61, QT_TRANSLATE_NOOP("Combiners", "Linear Height"), "LinearHeight_HINT", false, BlendFunction::Normal},
    {62, QT_TRANSLATE_NOOP("Combiners", "Height"), "Height_HINT", false, BlendFunction::Normal},
};

const ModeEntry* find(int code) {
    for (const ModeEntry& e : kModes)
        if (e.code == code) return &e;
    return nullptr;
}

bool isBlendType(int32_t t) {
    return t == -1 || t == -2 || t == -3;
}

} // namespace

const std::vector<int>& blendModeCodes() {
    static const std::vector<int> codes = [] {
        std::vector<int> list;
        for (const ModeEntry& e : kModes) list.push_back(e.code);
        return list;
    }();
    return codes;
}

const char* blendModeSourceName(int code) {
    const ModeEntry* e = find(code);
    return e ? e->name : "";
}

QString blendModeName(int code) {
    const ModeEntry* e = find(code);
    return e ? QCoreApplication::translate("Combiners", e->name) : QString();
}

QString blendModeHintKey(int code) {
    const ModeEntry* e = find(code);
    return e ? QString::fromLatin1(e->hint) : QString();
}

bool blendFunctionOfMode(int code, BlendFunction& function) {
    const ModeEntry* e = find(code);
    if (!e || !e->separable) return false;
    function = e->function;
    return true;
}

bool hslVariantOfMode(int code, HslVariant& variant) {
    if (code < BlendModeCode::Hue || code > BlendModeCode::Luminosity) return false;
    variant = HslVariant(code - BlendModeCode::Hue);
    return true;
}

Ref<BaseDataProcessing> createBlendMember(BlendFunction function, int32_t destinationType,
                                          int32_t backdropType, int32_t sourceType, int32_t sourceAlphaType) {
    if (!isBlendType(backdropType) || !isBlendType(sourceType) || !isBlendType(sourceAlphaType)) return {};
    switch (destinationType) {
    case -1:
        return Detail::createBlendMemberFor<-1>(function, backdropType, sourceType, sourceAlphaType);
    case -2:
        return Detail::createBlendMemberFor<-2>(function, backdropType, sourceType, sourceAlphaType);
    case -3:
        return Detail::createBlendMemberFor<-3>(function, backdropType, sourceType, sourceAlphaType);
    default:
        return {};
    }
}

Ref<BaseDataProcessing> createBlendMode(int code, int32_t destinationType, int32_t backdropType,
                                        int32_t sourceType, int32_t sourceAlphaType) {
    BlendFunction function;
    if (!blendFunctionOfMode(code, function)) return {};
    return createBlendMember(function, destinationType, backdropType, sourceType, sourceAlphaType);
}

} // namespace Orvex::DataStorage
