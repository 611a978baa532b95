#include "run/table_memory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace parclas {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
}

void* allocate_table(size_t bytes) {
  if (bytes < kHugePage) {
    void* p = std::malloc(bytes > 0 ? bytes : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
  }
  const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (p == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without huge pages the table works as well
#endif
  return p;
}

void free_table(void* p, size_t) noexcept { std::free(p); }

}  // namespace parclas
