#include "classes/combination_table.h"
#include "recode/data_file.h"
#include "recode/records.h"
#include "run/run.h"
#include "text/fields.h"

namespace parclas {

namespace {

// What the look-up of a record found: the class number, or why there is
// none (no pair in the table, or a search that met the probe limit).
constexpr int32_t kNoClass = -1;
constexpr int32_t kTableFull = -2;

struct Recoding {
  Run& run;
  int32_t combination_classes;
  char line[kFieldCapacity * kSplicedWidth];

  // The class of the record's animal; the search of its pair ends at the
  // probe limit without a stop, so that the records before it are written
  // first.
  int32_t class_of(int32_t animal) {
    RunTables& t = run.t;
    const bool known = animal >= 1 && animal <= t.capacity.animals;
    if (known && t.animal_status[animal] > 0) return combination_classes + t.animal_status[animal];
    int32_t unknown[2] = {0, 0};
    int32_t& first = known ? t.pedigree[animal].sire : unknown[0];
    int32_t& second = known ? t.pedigree[animal].dam : unknown[1];
    order_pair(first, second);
    const int32_t key[2] = {first, second};
    try {
      const int32_t row = find_row(run.io, key, pair_table(t), HashMode::Look,
                                   t.combination_count, OnFull::Grow);
      if (row == 0) return kNoClass;
      __builtin_prefetch(&t.combination[row].number);
      return -3 - row;  // the row, read when the record is written
    } catch (const ClassTableFull&) {
      return kTableFull;
    }
  }

  // Writes the record with the animal's inbreeding and class appended, or
  // stops the run where the class is missing.
  void write(int32_t* record, size_t length, size_t column, int32_t found) {
    RunTables& t = run.t;
    if (found == kTableFull) stop_table_full(run.io, t.capacity.classes);
    if (found == kNoClass) {
      run.io.write_list(kConsoleOut, {"this should not happen:245"});
      run.io.plain_stop();
    }
    const int32_t animal = record[column];
    const bool known = animal >= 1 && animal <= t.capacity.animals;
    record[length] = known ? t.pedigree[animal].inbreeding : 0;
    record[length + 1] = found <= -3 ? t.combination[-3 - found].number : found;
    const int p = splice_integers(line, std::span<const int32_t>(record, length + 2));
    run.io.write_line(kRecodedDataUnit, std::string_view(line, static_cast<size_t>(p)));
  }
};

}  // namespace

void write_recoded_data(Run& run) {
  TextIO& io = run.io;
  RunTables& t = run.t;
  io.rewind(kDataUnit);
  const size_t length = static_cast<size_t>(t.record_length);
  const size_t column = static_cast<size_t>(t.animal_column - 1);
  Recoding recoding{run, t.classes_with_parents + t.classes_without_parents, {}};
  // Room for the two appended integers behind each record of the batch.
  RecordBatch batch(length + 2);
  int32_t found[kRecordBatch];
  int32_t* const buffer = &t.field_value[1];
  int32_t left = t.data_records;
  while (left > 0) {
    // Records of plain integers in a batch: their table rows are asked for
    // ahead, and the searches are made before the lines are written.
    batch.count = 0;
    PlainRead ended = PlainRead::Record;
    while (batch.count < kRecordBatch && batch.count < left) {
      ended = io.read_plain_record(kDataUnit, std::span<int32_t>(batch.record(batch.count), length));
      if (ended != PlainRead::Record) break;
      ++batch.count;
    }
    for (int i = 0; i < batch.count; ++i) prefetch_animal(t, batch.record(i)[column]);
    const PairTable table = pair_table(t);
    for (int i = 0; i < batch.count; ++i) prefetch_animal_pair(t, table, batch.record(i)[column]);
    for (int i = 0; i < batch.count; ++i) found[i] = recoding.class_of(batch.record(i)[column]);
    for (int i = 0; i < batch.count; ++i) {
      recoding.write(batch.record(i), length, column, found[i]);
      --left;
    }
    batch.keep_last(buffer);
    if (left > 0 && ended != PlainRead::Record) {
      // The end of the file, or a record read by the full rules.
      io.require(io.read_integers(kDataUnit, std::span<int32_t>(buffer, length)), kDataUnit);
      recoding.write(buffer, length, column, recoding.class_of(buffer[column]));
      --left;
    }
  }
}

}  // namespace parclas
