#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace Orvex {

/// Lock policy of the reference-counted objects: counts change atomically, so objects may be shared
/// between threads.
struct MultiThreadedLocks {};

template <class LockPolicy = MultiThreadedLocks> class RefCounted;

/// Base of the reference-counted objects. The count starts at 0; the first `Ref` takes it to 1 and
/// the object deletes itself when the count drops back to 0. Objects are built with `new` (or
/// `makeRef`) and then only handled through `Ref`.
template <> class RefCounted<MultiThreadedLocks> {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) : m_refs(0) {}
    RefCounted& operator=(const RefCounted&) { return *this; }
    virtual ~RefCounted() = default;

    void retain() const { m_refs.fetch_add(1, std::memory_order_relaxed); }
    void release() const {
        if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    uint32_t refCount() const { return m_refs.load(std::memory_order_acquire); }

private:
    mutable std::atomic<uint32_t> m_refs{0};
};

using SharedObject = RefCounted<MultiThreadedLocks>;

/// A process-wide distinct 32-bit tag per object, usable as an identity (e.g. in cache keys):
/// every newly built tagged object takes the next value of one atomic counter.
class Tagged {
public:
    Tagged() : m_tag(nextTag()) {}
    Tagged(const Tagged&) : m_tag(nextTag()) {}
    Tagged& operator=(const Tagged&) { return *this; }
    uint32_t tag() const { return m_tag; }

private:
    static uint32_t nextTag() {
        static std::atomic<uint32_t> counter{0};
        return counter.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    uint32_t m_tag;
};

/// Intrusive shared pointer to a `RefCounted` object; copying it costs one atomic increment.
template <class T> class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    /// Adopts `object` (takes one reference; a freshly built object then has a count of 1).
    explicit Ref(T* object) : m_object(object) {
        if (m_object) m_object->retain();
    }
    Ref(const Ref& other) : Ref(other.m_object) {}
    Ref(Ref&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(const Ref<U>& other) : Ref(static_cast<T*>(other.get())) {}
    ~Ref() {
        if (m_object) m_object->release();
    }
    Ref& operator=(Ref other) noexcept {
        std::swap(m_object, other.m_object);
        return *this;
    }

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    void reset() { Ref().swap(*this); }
    void swap(Ref& other) noexcept { std::swap(m_object, other.m_object); }

    friend bool operator==(const Ref& a, const Ref& b) { return a.m_object == b.m_object; }
    friend bool operator!=(const Ref& a, const Ref& b) { return a.m_object != b.m_object; }

private:
    T* m_object = nullptr;
};

/// Builds a reference-counted object and returns the first reference to it.
template <class T, class... Args> Ref<T> makeRef(Args&&... args) {
    return Ref<T>(new T(std::forward<Args>(args)...));
}

} // namespace Orvex
