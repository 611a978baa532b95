// Tables of hundreds of megabytes on huge pages where the system offers
// them: hash probes and pedigree walks jump across the whole table, and with
// ordinary pages nearly every jump also misses the address translation.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace parclas::prep {

inline constexpr size_t kHugePage = size_t{2} << 20;

template <class T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <class U>
  HugePageAllocator(const HugePageAllocator<U>&) {}

  T* allocate(size_t n) {
    const size_t bytes = n * sizeof(T);
    if (bytes < kHugePage) return std::allocator<T>().allocate(n);
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (p == nullptr) throw std::bad_alloc();
    ::madvise(p, rounded, MADV_HUGEPAGE);  // advice only: without it the table still works
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t n) {
    if (n * sizeof(T) < kHugePage) std::allocator<T>().deallocate(p, n);
    else std::free(p);
  }
  template <class U>
  bool operator==(const HugePageAllocator<U>&) const { return true; }
};

template <class T>
using BigVector = std::vector<T, HugePageAllocator<T>>;

}  // namespace parclas::prep
