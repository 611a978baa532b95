#include "run/tables.h"

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

void RunTables::reset(const Capacities& capacities, InbreedingMethod inbreeding) {
  *this = RunTables{};
  capacity = capacities;
  method = inbreeding;
  if (capacity.auto_animals) {
    capacity.animals = 0;
  } else {
    pedigree.assign_zero(capacity.animals);
    animal_status.assign_zero(capacity.animals);
    identifier.assign_zero(capacity.animals);
  }
  combination.assign_zero(capacity.classes);
}

}  // namespace parclas
