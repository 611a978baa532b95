// Memory for the large tables: aligned to and advised for huge pages, which
// spares the many random look-ups of a national-size run (hash probes,
// pedigree walks across the whole table) most of their address-translation
// misses. Small tables come from the ordinary heap. Both programs use it.
#pragma once

#include <cstddef>
#include <new>
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

// Memory that a run could not get: the size of the request that failed (of
// the tables or of any other allocation), 0 when none failed yet.
size_t failed_request_bytes();
void note_failed_request(size_t bytes);

// A block of table memory that grows in place: its pages are mapped
// directly, so a larger block keeps the pages it has (the system moves
// them, nothing is copied), and pages never written read as zero without
// being cleared again.
class TableBlock {
 public:
  TableBlock() = default;
  ~TableBlock() { release(); }
  TableBlock(const TableBlock&) = delete;
  TableBlock& operator=(const TableBlock&) = delete;
  TableBlock(TableBlock&& other) noexcept { *this = static_cast<TableBlock&&>(other); }
  TableBlock& operator=(TableBlock&& other) noexcept;

  void* data() const { return data_; }
  size_t size() const { return size_; }
  // `bytes` bytes, all zero.
  void assign_zero(size_t bytes);
  // `bytes` bytes: the first ones kept, any new ones zero.
  void resize(size_t bytes);
  void release() noexcept;

 private:
  void map(size_t bytes);
  void* data_ = nullptr;
  size_t mapped_ = 0;  // bytes mapped
  size_t size_ = 0;    // bytes in use
  size_t written_ = 0;  // bytes that may hold other values than zero
};

}  // namespace parclas
