#include "datastorage/UtilityCombiners.h"

#include "datastorage/TypeDispatch.h"

namespace Orvex::DataStorage {

using Detail::withType;

std::uint32_t dissolveThreshold(int x, int y, std::uint32_t seed) {
    // A few linear congruential steps mixing row, column (and its residue modulo 67) and seed;
    // only determinism per position and seed matters, plus an even spread of the top bits.
    std::uint32_t h = seed * 69069u + std::uint32_t(y);
    h = h * 214013u + 2531011u;
    h ^= std::uint32_t(x) * 16807u + std::uint32_t(x % 67);
    h = h * 214013u + 2531011u;
    h ^= h >> 15;
    h = h * 69069u + 2531011u;
    return (h >> 16) % 65535u;
}

template <template <int, int, int> class M>
Ref<BaseDataProcessing> make3(int32_t t0, int32_t t1, int32_t t2) {
    return withType(t0, [&](auto A) {
        return withType(t1, [&](auto B) {
            return withType(t2, [&](auto C) -> Ref<BaseDataProcessing> {
                return Ref<BaseDataProcessing>(
                    new M<decltype(A)::value, decltype(B)::value, decltype(C)::value>());
            });
        });
    });
}

template <template <int, int, int, int> class M>
Ref<BaseDataProcessing> make4(int32_t t0, int32_t t1, int32_t t2, int32_t t3) {
    return withType(t0, [&](auto A) {
        return withType(t1, [&](auto B) {
            return withType(t2, [&](auto C) {
                return withType(t3, [&](auto D) -> Ref<BaseDataProcessing> {
                    return Ref<BaseDataProcessing>(new M<decltype(A)::value, decltype(B)::value,
                                                         decltype(C)::value, decltype(D)::value>());
                });
            });
        });
    });
}

Ref<BaseDataProcessing> createMul(int32_t td, int32_t ta, int32_t tb) {
    return make3<DataProcessing_mul>(td, ta, tb);
}
Ref<BaseDataProcessing> createInvertMul(int32_t td, int32_t ta, int32_t tb) {
    return make3<DataProcessing_invert_mul>(td, ta, tb);
}
Ref<BaseDataProcessing> createMul3(int32_t td, int32_t ta, int32_t tb, int32_t tc) {
    return make4<DataProcessing_mul3>(td, ta, tb, tc);
}
Ref<BaseDataProcessing> createIpol3(int32_t td, int32_t ta, int32_t tb, int32_t tt) {
    return make4<DataProcessing_ipol3>(td, ta, tb, tt);
}
Ref<BaseDataProcessing> createIpol5(int32_t td, int32_t colourType, int32_t alphaType, int32_t tt) {
    return make4<DataProcessing_ipol5>(td, colourType, alphaType, tt);
}
Ref<BaseDataProcessing> createAlphaBlend(int32_t td, int32_t backdropAlphaType, int32_t sourceAlphaType) {
    return make3<DataProcessing_alpha_blend>(td, backdropAlphaType, sourceAlphaType);
}
Ref<BaseDataProcessing> createAlphaDissolve(int32_t td, int32_t ts, std::uint32_t seed) {
    return withType(td, [&](auto D) {
        return withType(ts, [&](auto S) -> Ref<BaseDataProcessing> {
            auto* member = new DataProcessing_alpha_dissolve<decltype(D)::value, decltype(S)::value>();
            member->setSeed(seed);
            return Ref<BaseDataProcessing>(member);
        });
    });
}
Ref<BaseDataProcessing> createCopyNotZero(int32_t td, int32_t ta, int32_t tc) {
    return make3<DataProcessing_copy_not_zero>(td, ta, tc);
}

} // namespace Orvex::DataStorage
