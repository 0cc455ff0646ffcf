#pragma once
// The body of the blend-member factory for one destination sample type. Each BlendMembers*.cpp
// instantiates it for one type, so that the many combiner instantiations compile in parallel.
#include "datastorage/BlendFunctions.h"
#include "datastorage/BlendModes.h"
#include "datastorage/TypeDispatch.h"

namespace Orvex::DataStorage::Detail {

namespace BlendMembersImpl {
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

} // namespace BlendMembersImpl

template <int TD>
Ref<BaseDataProcessing> createBlendMemberFor(BlendFunction function, int32_t tb, int32_t ts, int32_t tsa) {
    switch (function) {
    case BlendFunction::Normal:
        return BlendMembersImpl::make<internalFuncNormal, TD>(tb, ts, tsa);
    case BlendFunction::Darken:
        return BlendMembersImpl::make<internalFuncDarken, TD>(tb, ts, tsa);
    case BlendFunction::Multiply:
        return BlendMembersImpl::make<internalFuncMultiply, TD>(tb, ts, tsa);
    case BlendFunction::ColorBurn:
        return BlendMembersImpl::make<internalFuncColorBurn, TD>(tb, ts, tsa);
    case BlendFunction::LinearBurn:
        return BlendMembersImpl::make<internalFuncLinearBurn, TD>(tb, ts, tsa);
    case BlendFunction::Lighten:
        return BlendMembersImpl::make<internalFuncLighten, TD>(tb, ts, tsa);
    case BlendFunction::Screen:
        return BlendMembersImpl::make<internalFuncScreen, TD>(tb, ts, tsa);
    case BlendFunction::ColorDodge:
        return BlendMembersImpl::make<internalFuncColorDodge, TD>(tb, ts, tsa);
    case BlendFunction::Plus:
        return BlendMembersImpl::make<internalFuncPlus, TD>(tb, ts, tsa);
    case BlendFunction::Overlay:
        return BlendMembersImpl::make<internalFuncOverlay, TD>(tb, ts, tsa);
    case BlendFunction::SoftLight:
        return BlendMembersImpl::make<internalFuncSoftLight, TD>(tb, ts, tsa);
    case BlendFunction::HardLight:
        return BlendMembersImpl::make<internalFuncHardLight, TD>(tb, ts, tsa);
    case BlendFunction::LinearLight:
        return BlendMembersImpl::make<internalFuncLinearLight, TD>(tb, ts, tsa);
    case BlendFunction::VividLight:
        return BlendMembersImpl::make<internalFuncVividLight, TD>(tb, ts, tsa);
    case BlendFunction::PinLight:
        return BlendMembersImpl::make<internalFuncPinLight, TD>(tb, ts, tsa);
    case BlendFunction::HardMix:
        return BlendMembersImpl::make<internalFuncHardMix, TD>(tb, ts, tsa);
    case BlendFunction::Difference:
        return BlendMembersImpl::make<internalFuncDifference, TD>(tb, ts, tsa);
    case BlendFunction::Exclusion:
        return BlendMembersImpl::make<internalFuncExclusion, TD>(tb, ts, tsa);
    case BlendFunction::Subtract:
        return BlendMembersImpl::make<internalFuncSubtract, TD>(tb, ts, tsa);
    case BlendFunction::Divide:
        return BlendMembersImpl::make<internalFuncDivide, TD>(tb, ts, tsa);
    case BlendFunction::PlusAB:
        return BlendMembersImpl::make<internalFuncPlusAB, TD>(tb, ts, tsa);
    case BlendFunction::PlusNoClip:
        return BlendMembersImpl::make<internalFuncPlusNoClip, TD>(tb, ts, tsa);
    }
    return {};
}

} // namespace Orvex::DataStorage::Detail
