// Memory for the large tables: aligned to and advised for huge pages, which
// spares the many random look-ups of a national-size run (hash probes,
// pedigree walks across the whole table) most of their address-translation
// misses. Small tables come from the ordinary heap. Both programs use it.
#pragma once

#include <cstddef>
#include <vector>

namespace parclas {

void* allocate_table(size_t bytes);
void free_table(void* p, size_t bytes) noexcept;

template <class Row>
struct TableAllocator {
  using value_type = Row;
  TableAllocator() = default;
  template <class Other>
  TableAllocator(const TableAllocator<Other>&) {}
  Row* allocate(size_t n) { return static_cast<Row*>(allocate_table(n * sizeof(Row))); }
  void deallocate(Row* p, size_t n) noexcept { free_table(p, n * sizeof(Row)); }
  friend bool operator==(const TableAllocator&, const TableAllocator&) { return true; }
};

// A vector whose rows come from the table memory.
template <class Row>
using TableVector = std::vector<Row, TableAllocator<Row>>;

}  // namespace parclas
