#include <cstring>

#include "classes/classes.h"
#include "classes/combination_table.h"
#include "recode/data_file.h"
#include "recode/records.h"
#include "run/run.h"

namespace parclas {

namespace {

// One record of the first pass: the animal's pair into the class table, or
// its own-class number.
void scan_record(Run& run, int32_t animal) {
  RunTables& t = run.t;
  ++t.data_records;
  if (animal < 1 || animal > t.capacity.animals || t.animal_status[animal] == 0) {
    run.io.write_list(kConsoleOut, {"no pedigree for animal ", animal});
    ++t.records_without_pedigree;
    return;
  }
  PedigreeRow& row = t.pedigree[animal];
  if (row.sire != 0 && row.dam != 0) {
    add_data_pair(run, row.sire, row.dam);
  } else if (t.animal_status[animal] < 0) {
    t.animal_status[animal] = ++t.own_class_animals;
  }
}

}  // namespace

void scan_data_file(Run& run) {
  RunTables& t = run.t;
  t.data_records = 0;
  t.own_class_animals = 0;
  RecordBatch batch(static_cast<size_t>(t.animal_column));
  const size_t column = batch.width - 1;
  while (true) {
    const PlainRead ended = batch.read(run.io, kDataUnit, kRecordBatch);
    // The rows each record reads, then the first slot of its pair's search,
    // asked for before the records are taken in order.
    for (int i = 0; i < batch.count; ++i) prefetch_animal(t, batch.record(i)[column]);
    const PairTable table = pair_table(t);
    for (int i = 0; i < batch.count; ++i) prefetch_animal_pair(t, table, batch.record(i)[column]);
    for (int i = 0; i < batch.count; ++i) scan_record(run, batch.record(i)[column]);
    batch.keep_last(&t.field_value[1]);
    if (ended == PlainRead::EndOfFile) break;
    if (ended == PlainRead::Other) {
      // A record that list-directed input reads by its full rules.
      const std::span<int32_t> record(&t.field_value[1], batch.width);
      if (run.io.read_integers(kDataUnit, record) != ReadResult::Ok) break;
      scan_record(run, record[column]);
    }
  }
  t.data_combinations = t.combination_count;
}

void report_data_scan(Run& run) {
  const RunTables& t = run.t;
  run.io.write_list(kConsoleOut, {"Read ", t.data_records, " records"});
  run.io.write_list(kConsoleOut, {"Created ", t.data_combinations,
                                  " classes with known parents and ", t.own_class_animals,
                                  " with unknown"});
}

}  // namespace parclas
