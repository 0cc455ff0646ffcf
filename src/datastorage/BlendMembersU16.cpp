// The blend members whose destination has sample type -2.
#include "datastorage/BlendMembersFor.h"

namespace Orvex::DataStorage::Detail {
template Ref<BaseDataProcessing> createBlendMemberFor<-2>(BlendFunction, int32_t, int32_t, int32_t);
} // namespace Orvex::DataStorage::Detail
