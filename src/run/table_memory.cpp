#include "run/table_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace parclas {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
std::atomic<size_t> failed_bytes{0};

size_t rounded_to_huge_pages(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }
}  // namespace

size_t failed_request_bytes() { return failed_bytes.load(std::memory_order_relaxed); }
void note_failed_request(size_t bytes) { failed_bytes.store(bytes, std::memory_order_relaxed); }

void* allocate_table(size_t bytes) {
  if (bytes < kHugePage) {
    void* p = std::malloc(bytes > 0 ? bytes : 1);
    if (p == nullptr) {
      note_failed_request(bytes);
      throw std::bad_alloc();
    }
    return p;
  }
  const size_t rounded = rounded_to_huge_pages(bytes);
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (p == nullptr) {
    note_failed_request(rounded);
    throw std::bad_alloc();
  }
#ifdef MADV_HUGEPAGE
  ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without huge pages the table works as well
#endif
  return p;
}

void free_table(void* p, size_t) noexcept { std::free(p); }

TableBlock& TableBlock::operator=(TableBlock&& other) noexcept {
  if (this != &other) {
    release();
    data_ = std::exchange(other.data_, nullptr);
    mapped_ = std::exchange(other.mapped_, 0);
    size_ = std::exchange(other.size_, 0);
    written_ = std::exchange(other.written_, 0);
  }
  return *this;
}

void TableBlock::map(size_t bytes) {
  if (bytes <= mapped_) return;
  const size_t rounded = rounded_to_huge_pages(bytes);
  void* p = data_ == nullptr
                ? ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                : ::mremap(data_, mapped_, rounded, MREMAP_MAYMOVE);
  if (p == MAP_FAILED) {
    note_failed_request(rounded - mapped_);
    throw std::bad_alloc();
  }
#ifdef MADV_HUGEPAGE
  ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without huge pages the table works as well
#endif
  data_ = p;
  mapped_ = rounded;
}

void TableBlock::assign_zero(size_t bytes) {
  map(bytes);
  std::memset(data_, 0, std::min(written_, bytes));
  written_ = std::max(written_, bytes);
  size_ = bytes;
}

void TableBlock::resize(size_t bytes) {
  map(bytes);
  if (bytes > size_ && written_ > size_) {
    std::memset(static_cast<char*>(data_) + size_, 0, std::min(written_, bytes) - size_);
  }
  written_ = std::max(written_, bytes);
  size_ = bytes;
}

void TableBlock::release() noexcept {
  if (data_ != nullptr) ::munmap(data_, mapped_);
  data_ = nullptr;
  mapped_ = size_ = written_ = 0;
}

}  // namespace parclas

// Every allocation of the program that fails leaves its size behind, so that
// the run can say how much memory it missed. The forms below are those that
// take memory from malloc and give it back to free.
void* operator new(std::size_t bytes) {
  while (true) {
    if (void* p = std::malloc(bytes > 0 ? bytes : 1)) return p;
    if (std::new_handler handler = std::get_new_handler()) {
      handler();
    } else {
      parclas::note_failed_request(bytes);
      throw std::bad_alloc();
    }
  }
}
void* operator new[](std::size_t bytes) { return ::operator new(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(bytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return ::operator new(bytes, std::nothrow);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
