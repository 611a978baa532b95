#include "classes/combination_table.h"

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

int32_t find_row(TextIO& io, const int32_t (&key)[2], Combination* table, int32_t row_count,
                 HashMode mode, int32_t& count, OnFull on_full) {
  int32_t r = first_row(key[0], key[1], row_count);
  for (int32_t examined = 0; examined < kProbeLimit; ++examined) {
    Combination& row = table[r];
    if (row.member1 == 0 && row.member2 == 0) {
      if (mode == HashMode::Look) return 0;
      row.member1 = key[0];
      row.member2 = key[1];
      ++count;
      return r;
    }
    if (row.member1 == key[0] && row.member2 == key[1]) return r;
    r += kProbeStep;  // 17 rows further, from row 1 again after the last
    while (r > row_count) r -= row_count;
  }
  if (on_full == OnFull::Grow) throw ClassTableFull{};
  stop_table_full(io, row_count);
}

AddResult add_pair(TextIO& io, int32_t& first, int32_t& second, Combination* table,
                  int32_t row_count, int32_t& count, OnFull on_full) {
  order_pair(first, second);
  const int32_t before = count;
  const int32_t key[2] = {first, second};
  const int32_t row = find_row(io, key, table, row_count, HashMode::Insert, count, on_full);
  return {row, count != before};
}

int32_t find_pair(TextIO& io, int32_t& first, int32_t& second, Combination* table,
                  int32_t row_count, int32_t& count) {
  order_pair(first, second);
  const int32_t key[2] = {first, second};
  return find_row(io, key, table, row_count, HashMode::Look, count);
}

}  // namespace parclas
