#pragma once
// An allocator for the large working buffers of the effects (whole pictures and fields): blocks of
// 2 MiB and more are aligned to 2 MiB and offered to the kernel as transparent huge pages, so that
// a pass that samples the buffer at scattered rows (a reflection, a displacement) misses the TLB far
// less often, and a fresh buffer faults in once per 2 MiB instead of once per 4 KiB. Smaller blocks
// and systems without huge pages get ordinary memory. Stateless; any thread may use it.
//
// Growing a HugePageVector value-initialises the new elements (zeros, as std::vector does);
// UninitializedHugePageVector leaves them as they come, for buffers that a parallel pass writes
// whole before anything reads them.

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace Orvex::Document::Filters::Common {

template <class T> struct HugePageAllocator {
    using value_type = T;
    static constexpr std::size_t kHugePage = std::size_t(2) << 20;
    static constexpr std::size_t kThreshold = std::size_t(2) << 20;

    HugePageAllocator() = default;
    template <class U> HugePageAllocator(const HugePageAllocator<U>&) {}

    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T)) throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kThreshold) {
            if (void* p = std::malloc(bytes ? bytes : 1)) return static_cast<T*>(p);
            throw std::bad_alloc();
        }
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* p = std::aligned_alloc(kHugePage, rounded);
        if (!p) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        madvise(p, rounded, MADV_HUGEPAGE); // advice only: failure leaves ordinary pages
#endif
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) {
        std::free(p);
    }

    template <class U> bool operator==(const HugePageAllocator<U>&) const {
        return true;
    }
    template <class U> bool operator!=(const HugePageAllocator<U>&) const {
        return false;
    }
};

// A vector whose large buffers sit on huge pages.
template <class T> using HugePageVector = std::vector<T, HugePageAllocator<T>>;

// The same allocator leaving the elements of a resize uninitialised (as `new T[n]` would), for a
// buffer that its parallel passes fill first: the first touch of its pages, which costs more than
// the writes themselves, then happens on every worker at once instead of in one serial fill.
template <class T> struct UninitializedHugePageAllocator : HugePageAllocator<T> {
    template <class U> struct rebind { using other = UninitializedHugePageAllocator<U>; };
    UninitializedHugePageAllocator() = default;
    template <class U> UninitializedHugePageAllocator(const UninitializedHugePageAllocator<U>&) {}

    template <class U> void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// A vector whose resize leaves new elements uninitialised; only for trivial element types.
template <class T> using UninitializedHugePageVector = std::vector<T, UninitializedHugePageAllocator<T>>;

} // namespace Orvex::Document::Filters::Common
