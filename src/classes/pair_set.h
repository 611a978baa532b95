// A set of sire x dam pairs by their 64-bit keys (never 0), with a mixing
// hash: for finding which pairs are distinct, where the order of the class
// table's rows does not matter yet.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "run/table_memory.h"

namespace parclas {

class PairSet {
 public:
  // Room for `expected` keys before the first rehash.
  explicit PairSet(size_t expected = 0) { rehash(std::bit_ceil(expected + expected / 3 + 16)); }

  size_t size() const { return size_; }
  // Asks for the slot where a search for `key` begins.
  void prefetch(uint64_t key) const { __builtin_prefetch(&slots()[slot_of(key)]); }
  // Adds `key`; true when it was not in the set.
  bool insert(uint64_t key) {
    if (4 * (size_ + 1) > 3 * capacity_) rehash(2 * capacity_);  // at most three quarters full
    uint64_t* const s = slots();
    size_t i = slot_of(key);
    while (s[i] != 0) {
      if (s[i] == key) return false;
      i = (i + 1) & (capacity_ - 1);
    }
    s[i] = key;
    ++size_;
    return true;
  }

 private:
  uint64_t* slots() const { return static_cast<uint64_t*>(memory_.data()); }
  size_t slot_of(uint64_t k) const {
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdull;
    k ^= k >> 33;
    return static_cast<size_t>(k) & (capacity_ - 1);
  }
  void rehash(size_t capacity) {
    TableBlock old;
    old = static_cast<TableBlock&&>(memory_);
    const size_t old_capacity = capacity_;
    capacity_ = capacity;
    memory_.assign_zero(capacity_ * sizeof(uint64_t));
    size_ = 0;
    const auto* const from = static_cast<const uint64_t*>(old.data());
    for (size_t i = 0; i < old_capacity; ++i) {
      if (from[i] != 0) insert(from[i]);
    }
  }

  TableBlock memory_;
  size_t capacity_ = 0;
  size_t size_ = 0;
};

}  // namespace parclas
