#include "classes/combination_table.h"
#include "recode/data_file.h"
#include "recode/records.h"
#include "run/run.h"

#include <algorithm>
#include <cstring>

#include "text/fields.h"
#include "text/line_blocks.h"
#include "text/record_chunks.h"

namespace parclas {

namespace {

// What the look-up of a record found: the class number, or why there is
// none (no pair in the table, or a search that met the probe limit).
constexpr int32_t kNoClass = -1;
constexpr int32_t kTableFull = -2;

struct Recoding {
  Run& run;
  int32_t combination_classes;
  size_t length;
  size_t column;

  // The class of the record's animal; the search of its pair ends at the
  // probe limit without a stop, so that the records before it are written
  // first.
  int32_t class_of(int32_t animal) const {
    RunTables& t = run.t;
    const bool known = animal >= 1 && animal <= t.capacity.animals;
    if (known && t.animal_status[animal] > 0) return combination_classes + t.animal_status[animal];
    int32_t unknown[2] = {0, 0};
    int32_t& first = known ? t.pedigree[animal].sire : unknown[0];
    int32_t& second = known ? t.pedigree[animal].dam : unknown[1];
    order_pair(first, second);
    const int32_t key[2] = {first, second};
    int32_t no_count = t.combination_count;  // a look-up counts nothing
    try {
      const int32_t row =
          find_row(run.io, key, pair_table(t), HashMode::Look, no_count, OnFull::Grow);
      if (row == 0) return kNoClass;
      __builtin_prefetch(&t.combination[row].number);
      return -3 - row;  // the row, read when the line is made
    } catch (const ClassTableFull&) {
      return kTableFull;
    }
  }

  // The records of `records` (each with room for two more integers) as
  // lines of `block`, up to the first whose class is missing (block.stop
  // then says why).
  void make_lines(int32_t* records, int count, LineBlock& block) const {
    RunTables& t = run.t;
    const size_t width = length + 2;
    int32_t found[kRecordBatch];
    char line[kFieldCapacity * kSplicedWidth];
    for (int begin = 0; begin < count; begin += kRecordBatch) {
      const int n = std::min(kRecordBatch, count - begin);
      int32_t* const batch = records + static_cast<size_t>(begin) * width;
      for (int i = 0; i < n; ++i) prefetch_animal(t, batch[static_cast<size_t>(i) * width + column]);
      const PairTable table = pair_table(t);
      for (int i = 0; i < n; ++i) {
        prefetch_animal_pair(t, table, batch[static_cast<size_t>(i) * width + column]);
      }
      for (int i = 0; i < n; ++i) found[i] = class_of(batch[static_cast<size_t>(i) * width + column]);
      for (int i = 0; i < n; ++i) {
        int32_t* const record = batch + static_cast<size_t>(i) * width;
        if (found[i] == kTableFull || found[i] == kNoClass) {
          block.stop = found[i];
          return;
        }
        const int32_t animal = record[column];
        const bool known = animal >= 1 && animal <= t.capacity.animals;
        record[length] = known ? t.pedigree[animal].inbreeding : 0;
        record[length + 1] = found[i] <= -3 ? t.combination[-3 - found[i]].number : found[i];
        const int p = splice_integers(line, std::span<const int32_t>(record, length + 2));
        block.add(kRecodedDataUnit, std::string_view(line, static_cast<size_t>(p)));
      }
    }
  }

  // Writes the lines of a block, then stops the run where its class was missing.
  void write(const LineBlock& block) const {
    block.write([&](int unit, std::string_view text) { run.io.write_line(unit, text); });
    if (block.stop == kTableFull) stop_table_full(run.io, run.t.capacity.classes);
    if (block.stop == kNoClass) {
      run.io.write_list(kConsoleOut, {"this should not happen:245"});
      run.io.plain_stop();
    }
  }
};

}  // namespace

void write_recoded_data(Run& run) {
  TextIO& io = run.io;
  RunTables& t = run.t;
  io.rewind(kDataUnit);
  const size_t length = static_cast<size_t>(t.record_length);
  const size_t column = static_cast<size_t>(t.animal_column - 1);
  const Recoding recoding{run, t.classes_with_parents + t.classes_without_parents, length, column};
  // Each record with room for the two integers appended to it.
  lines_from_records(
      io, kDataUnit, t.data_records, length, length + 2, &t.field_value[1], t.threads > 1,
      [&](int32_t* records, int count, LineBlock& block) { recoding.make_lines(records, count, block); },
      [&](const LineBlock& block) { recoding.write(block); });
}

}  // namespace parclas
