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

size_t IdTable::slot_of(std::string_view id, uint64_t hash) const {
  const size_t mask = slots_.size() - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const uint32_t entry = slots_[slot];
    if (entry == 0 || (*this)[entry - 1] == id) return slot;
  }
}

void IdTable::grow() {
  std::vector<uint32_t> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? 1024 : old.size() * 2, 0);
  for (const uint32_t entry : old) {
    if (entry != 0) {
      const std::string_view id = (*this)[entry - 1];
      slots_[slot_of(id, hash_of(id))] = entry;
    }
  }
}

uint32_t IdTable::find_or_add(std::string_view id, bool& added) {
  if ((size() + 1) * 2 > slots_.size()) grow();
  const size_t slot = slot_of(id, hash_of(id));
  if (slots_[slot] != 0) {
    added = false;
    return slots_[slot] - 1;
  }
  added = true;
  chars_.insert(chars_.end(), id.begin(), id.end());
  starts_.push_back(chars_.size());
  slots_[slot] = size();
  return size() - 1;
}

uint32_t IdTable::find(std::string_view id) const {
  if (slots_.empty()) return kNoEntry;
  const uint32_t entry = slots_[slot_of(id, hash_of(id))];
  return entry == 0 ? kNoEntry : entry - 1;
}

}  // namespace parclas::prep
