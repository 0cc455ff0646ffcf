#pragma once

#include <type_traits>
#include <utility>

namespace Orvex::MT {

template <class Signature> class FunctionRef;

/// A non-owning reference to a callable: two pointers, no allocation. The callable must outlive
/// every call made through the reference (the pool's jobs hold one while their group is waited for).
template <class R, class... Args> class FunctionRef<R(Args...)> {
public:
    FunctionRef() = default;
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
    FunctionRef(F&& callable) noexcept // NOLINT: implicit by design, like a function pointer
        : m_object(const_cast<void*>(static_cast<const void*>(&callable))),
          m_call([](void* object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<Args>(args)...);
          }) {}

    R operator()(Args... args) const { return m_call(m_object, std::forward<Args>(args)...); }
    explicit operator bool() const { return m_call != nullptr; }

private:
    void* m_object = nullptr;
    R (*m_call)(void*, Args...) = nullptr;
};

} // namespace Orvex::MT
