#include "classes/combination_table.h"

#include <algorithm>

#include "text/text_io.h"

namespace parclas {

namespace {
const Format kTooSmall("(' hash matrix too small')");
}

void stop_table_full(TextIO& io, int32_t row_count) {
  io.write_formatted(kConsoleOut, kTooSmall, {});
  io.write_list(kConsoleOut, {row_count, kCombinationWidth, kPairKeyLength});
  io.plain_stop();
}

int32_t find_row_from(TextIO& io, const int32_t (&key)[2], uint32_t slot, const PairTable& table,
                      HashMode mode, int32_t& count, OnFull on_full) {
  const uint64_t wanted = PairIndex::key_of(key[0], key[1]);
  uint64_t* const keys = table.index->keys.data();
  const auto rows = static_cast<uint32_t>(table.row_count);
  // The rows 17 apart are consecutive slots: the search reads them in runs
  // up to the end of the index, then from its start again.
  uint32_t left = kProbeLimit;
  while (left > 0) {
    const uint32_t end = slot + std::min(left, rows - slot);
    for (uint32_t i = slot; i < end; ++i) {
      const uint64_t k = keys[i];
      if (k == 0) {  // an empty row: neither key column is set
        if (mode == HashMode::Look) return 0;
        keys[i] = wanted;
        const int32_t r = table.index->row_at(i);
        table.rows[r].member1 = key[0];
        table.rows[r].member2 = key[1];
        ++count;
        return r;
      }
      if (k == wanted) return table.index->row_at(i);
    }
    left -= end - slot;
    slot = 0;
  }
  if (on_full == OnFull::Grow) throw ClassTableFull{};
  stop_table_full(io, table.row_count);
}

int32_t find_row(TextIO& io, const int32_t (&key)[2], const PairTable& table, HashMode mode,
                 int32_t& count, OnFull on_full) {
  const uint32_t slot = table.index->slot_of(first_row(key[0], key[1], table.row_count));
  return find_row_from(io, key, slot, table, mode, count, on_full);
}

AddResult add_pair(TextIO& io, int32_t& first, int32_t& second, const PairTable& table,
                   int32_t& count, OnFull on_full) {
  order_pair(first, second);
  const int32_t before = count;
  const int32_t key[2] = {first, second};
  const int32_t row = find_row(io, key, table, HashMode::Insert, count, on_full);
  return {row, count != before};
}

int32_t find_pair(TextIO& io, int32_t& first, int32_t& second, const PairTable& table,
                  int32_t& count) {
  order_pair(first, second);
  const int32_t key[2] = {first, second};
  return find_row(io, key, table, HashMode::Look, count);
}

}  // namespace parclas
