#pragma once
// Turns a run-time sample type code (-1, -2, -3) into a compile-time one for the member factories:
// withType(t, [&](auto T) { ... decltype(T)::value ... }). Other codes give an empty result.

#include <type_traits>

namespace Orvex::DataStorage::Detail {

template <class Fn> auto withType(int type, Fn&& fn) -> decltype(fn(std::integral_constant<int, -1>{})) {
    switch (type) {
    case -1:
        return fn(std::integral_constant<int, -1>{});
    case -2:
        return fn(std::integral_constant<int, -2>{});
    case -3:
        return fn(std::integral_constant<int, -3>{});
    default:
        return {};
    }
}

} // namespace Orvex::DataStorage::Detail
