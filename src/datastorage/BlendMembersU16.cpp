// The blend members whose destination has sample type -2 (one translation unit per destination
// type keeps the many instantiations compiling in parallel).
#include "datastorage/BlendFunctions.h"
#include "datastorage/BlendModes.h"
#include "datastorage/TypeDispatch.h"

namespace Orvex::DataStorage::Detail {

namespace {

template <class F, int TD> Ref<BaseDataProcessing> make(int32_t tb, int32_t ts, int32_t tsa) {
    return withType(tb, [&](auto B) {
        return withType(ts, [&](auto S) {
            return withType(tsa, [&](auto A) -> Ref<BaseDataProcessing> {
                constexpr int TB = decltype(B)::value, TS = decltype(S)::value, TA = decltype(A)::value;
                return Ref<BaseDataProcessing>(new DataProcessing_combiner_fn<F, TD, TB, TB, TS, TA>());
            });
        });
    });
}

} // namespace

template <>
Ref<BaseDataProcessing> createBlendMemberFor<-2>(BlendFunction function, int32_t tb, int32_t ts,
                                                 int32_t tsa) {
    constexpr int TD = -2;
    switch (function) {
    case BlendFunction::Normal:
        return make<internalFuncNormal, TD>(tb, ts, tsa);
    case BlendFunction::Darken:
        return make<internalFuncDarken, TD>(tb, ts, tsa);
    case BlendFunction::Multiply:
        return make<internalFuncMultiply, TD>(tb, ts, tsa);
    case BlendFunction::ColorBurn:
        return make<internalFuncColorBurn, TD>(tb, ts, tsa);
    case BlendFunction::LinearBurn:
        return make<internalFuncLinearBurn, TD>(tb, ts, tsa);
    case BlendFunction::Lighten:
        return make<internalFuncLighten, TD>(tb, ts, tsa);
    case BlendFunction::Screen:
        return make<internalFuncScreen, TD>(tb, ts, tsa);
    case BlendFunction::ColorDodge:
        return make<internalFuncColorDodge, TD>(tb, ts, tsa);
    case BlendFunction::Plus:
        return make<internalFuncPlus, TD>(tb, ts, tsa);
    case BlendFunction::Overlay:
        return make<internalFuncOverlay, TD>(tb, ts, tsa);
    case BlendFunction::SoftLight:
        return make<internalFuncSoftLight, TD>(tb, ts, tsa);
    case BlendFunction::HardLight:
        return make<internalFuncHardLight, TD>(tb, ts, tsa);
    case BlendFunction::LinearLight:
        return make<internalFuncLinearLight, TD>(tb, ts, tsa);
    case BlendFunction::VividLight:
        return make<internalFuncVividLight, TD>(tb, ts, tsa);
    case BlendFunction::PinLight:
        return make<internalFuncPinLight, TD>(tb, ts, tsa);
    case BlendFunction::HardMix:
        return make<internalFuncHardMix, TD>(tb, ts, tsa);
    case BlendFunction::Difference:
        return make<internalFuncDifference, TD>(tb, ts, tsa);
    case BlendFunction::Exclusion:
        return make<internalFuncExclusion, TD>(tb, ts, tsa);
    case BlendFunction::Subtract:
        return make<internalFuncSubtract, TD>(tb, ts, tsa);
    case BlendFunction::Divide:
        return make<internalFuncDivide, TD>(tb, ts, tsa);
    case BlendFunction::PlusAB:
        return make<internalFuncPlusAB, TD>(tb, ts, tsa);
    case BlendFunction::PlusNoClip:
        return make<internalFuncPlusNoClip, TD>(tb, ts, tsa);
    }
    return {};
}

} // namespace Orvex::DataStorage::Detail
