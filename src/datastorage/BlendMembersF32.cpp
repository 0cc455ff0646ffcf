// The blend members whose destination has sample type -3.
#include "datastorage/BlendMembersFor.h"

namespace Orvex::DataStorage::Detail {
template Ref<BaseDataProcessing> createBlendMemberFor<-3>(BlendFunction, int32_t, int32_t, int32_t);
} // namespace Orvex::DataStorage::Detail
