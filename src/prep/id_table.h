// Identifiers stored once in one character block, found again through an
// open-addressing hash table: millions of them without one allocation each.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "run/table_memory.h"

namespace parclas::prep {

inline constexpr uint32_t kNoEntry = UINT32_MAX;

class IdTable {
 public:
  // The index of `id`, added at the end when it is new (`added` says so).
  uint32_t find_or_add(std::string_view id, bool& added);
  uint32_t find(std::string_view id) const;  // kNoEntry when absent
  // Starts loading the slot where `id` would be found: a few look-ups
  // prefetched together wait for memory once instead of one after another.
  void prefetch(std::string_view id) const;
  // Starts loading the text of entry `index` in two steps, a few entries
  // apart: its start first, then its characters.
  void prefetch_start(uint32_t index) const { __builtin_prefetch(&starts_[index]); }
  void prefetch_text(uint32_t index) const { __builtin_prefetch(chars_.data() + starts_[index]); }
  std::string_view operator[](uint32_t index) const {
    return {chars_.data() + starts_[index], starts_[index + 1] - starts_[index]};
  }
  uint32_t size() const { return static_cast<uint32_t>(starts_.size() - 1); }

 private:
  size_t slot_of(std::string_view id, uint32_t tag) const;
  void grow();

  TableVector<char> chars_;
  TableVector<uint64_t> starts_{0};
  // Per slot: the hash tag in the high half, index + 1 in the low half (0:
  // empty). Probes compare tags first, so they seldom touch the strings.
  TableVector<uint64_t> slots_;
};

}  // namespace parclas::prep
