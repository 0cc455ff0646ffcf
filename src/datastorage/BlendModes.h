#pragma once
// Blend modes as the user sees them (the numeric codes that layers and presets store, their names,
// translated in the context "Combiners", and hint keys) and the factories that build the member
// object for a mode and a combination of channel types.

#include "datastorage/BaseDataProcessing.h"

#include <QString>
#include <vector>

namespace Orvex::DataStorage {

// The separable blend functions that have a member (including the two without a user-visible mode).
enum class BlendFunction {
    Normal,      // blend
    Darken,      // darken
    Multiply,    // multiply
    ColorBurn,   // color_burn
    LinearBurn,  // linear_burn
    Lighten,     // lighten
    Screen,      // screen
    ColorDodge,  // color_dodge
    Plus,        // plus (Linear Dodge)
    Overlay,     // overlay
    SoftLight,   // soft_light
    HardLight,   // hard_light
    LinearLight, // linear_light
    VividLight,  // vivid_light
    PinLight,    // pin_light
    HardMix,     // hard_mix
    Difference,  // difference
    Exclusion,   // exclusion
    Subtract,    // subtract
    Divide,      // divide
    PlusAB,      // plus_ab
    PlusNoClip,  // plus_noclip
};

// The four non-separable modes (codes 51 ... 54).
enum class HslVariant { Hue, Saturation, Color, Luminosity };

namespace BlendModeCode {
enum : int {
    PassThrough = 1,
    Normal = 2,
    Dissolve = 3,
    Darken = 10,
    Multiply = 11,
    ColorBurn = 12,
    LinearBurn = 13,
    DarkerColor = 14,
    Lighten = 20,
    Screen = 21,
    ColorDodge = 22,
    LinearDodge = 23,
    LighterColor = 24,
    Overlay = 30,
    SoftLight = 31,
    HardLight = 32,
    LinearLight = 33,
    VividLight = 34,
    PinLight = 35,
    HardMix = 36,
    Difference = 40,
    Exclusion = 41,
    Subtract = 42,
    Divide = 43,
    Hue = 51,
    Saturation = 52,
    Color = 53,
    Luminosity = 54,
    LinearHeight = 61,
    Height = 62,
};
}

// Every mode code in table order.
const std::vector<int>& blendModeCodes();
// The untranslated name ("Overlay"), empty for a code that is not a mode.
const char* blendModeSourceName(int code);
// The name translated in the context "Combiners"; empty for a code that is not a mode.
QString blendModeName(int code);
// The hint key ("Overlay_HINT"), empty for a code that is not a mode.
QString blendModeHintKey(int code);
// The separable function computing a mode; false for modes without a separable member (Pass
// Through, Dissolve, Darker/Lighter Color, the HSL modes, Linear Height, Height, unknown codes).
bool blendFunctionOfMode(int code, BlendFunction& function);
// The HSL variant of codes 51 ... 54; false otherwise.
bool hslVariantOfMode(int code, HslVariant& variant);

// The blend member (arity 5: destination, backdrop colour, backdrop alpha, source colour, source
// alpha) for `function` and the channels' sample types (each -1, -2 or -3; the backdrop alpha has
// the backdrop colour's type). Null for any other type. Opacity starts at 1.
Ref<BaseDataProcessing> createBlendMember(BlendFunction function, int32_t destinationType,
                                          int32_t backdropType, int32_t sourceType, int32_t sourceAlphaType);
// The same from a mode code; null for codes without a separable member.
Ref<BaseDataProcessing> createBlendMode(int code, int32_t destinationType, int32_t backdropType,
                                        int32_t sourceType, int32_t sourceAlphaType);

namespace Detail {
template <int TD>
Ref<BaseDataProcessing> createBlendMemberFor(BlendFunction function, int32_t backdropType, int32_t sourceType,
                                             int32_t sourceAlphaType);
}

} // namespace Orvex::DataStorage
