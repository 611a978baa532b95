#include "prep/id_table.h"

#include <cstring>

namespace parclas::prep {
namespace {

uint64_t hash_of(std::string_view s) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ s.size();
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    h = (h ^ w) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
  }
  uint64_t tail = 0;
  if (i < s.size()) std::memcpy(&tail, s.data() + i, s.size() - i);
  h = (h ^ tail) * 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}

}  // namespace

// The slot of `id`, or the empty slot where it belongs. The tag also places
// it, so growing needs no string.
size_t IdTable::slot_of(std::string_view id, uint32_t tag) const {
  const size_t mask = slots_.size() - 1;
  for (size_t slot = tag & mask;; slot = (slot + 1) & mask) {
    const uint64_t entry = slots_[slot];
    if (entry == 0) return slot;
    if (static_cast<uint32_t>(entry >> 32) == tag && (*this)[static_cast<uint32_t>(entry) - 1] == id) return slot;
  }
}

void IdTable::grow() {
  TableVector<uint64_t> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? 1024 : old.size() * 2, 0);
  const size_t mask = slots_.size() - 1;
  for (const uint64_t entry : old) {
    if (entry == 0) continue;
    size_t slot = (entry >> 32) & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = entry;
  }
}

uint32_t IdTable::find_or_add(std::string_view id, bool& added) {
  if ((size() + 1) * 2 > slots_.size()) grow();
  const auto tag = static_cast<uint32_t>(hash_of(id) >> 32);
  const size_t slot = slot_of(id, tag);
  if (slots_[slot] != 0) {
    added = false;
    return static_cast<uint32_t>(slots_[slot]) - 1;
  }
  added = true;
  chars_.insert(chars_.end(), id.begin(), id.end());
  starts_.push_back(chars_.size());
  slots_[slot] = uint64_t{tag} << 32 | size();
  return size() - 1;
}

void IdTable::prefetch(std::string_view id) const {
  if (!slots_.empty()) __builtin_prefetch(&slots_[(hash_of(id) >> 32) & (slots_.size() - 1)]);
}

uint32_t IdTable::find(std::string_view id) const {
  if (slots_.empty()) return kNoEntry;
  const uint64_t entry = slots_[slot_of(id, static_cast<uint32_t>(hash_of(id) >> 32))];
  return entry == 0 ? kNoEntry : static_cast<uint32_t>(entry) - 1;
}

}  // namespace parclas::prep
