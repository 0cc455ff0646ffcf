// The blend members whose destination has sample type -1.
#include "datastorage/BlendMembersFor.h"

namespace Orvex::DataStorage::Detail {
template Ref<BaseDataProcessing> createBlendMemberFor<-1>(BlendFunction, int32_t, int32_t, int32_t);
} // namespace Orvex::DataStorage::Detail
