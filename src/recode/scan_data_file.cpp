#include <algorithm>
#include <cstring>

#include "classes/classes.h"
#include "classes/combination_table.h"
#include "classes/pair_set.h"
#include "recode/data_file.h"
#include "recode/records.h"
#include "run/run.h"

namespace parclas {

namespace {

// With class rows "auto" the scan only collects the distinct pairs, in order
// of arrival; the table is built once they are known, at the smallest size
// that can hold them, as a run given that size would have built it (a pair
// met again finds the row its first arrival took).
struct DataPairs {
  bool collect;
  PairSet seen;

  // Puts the pair in ascending order in place, as a table search does.
  void add(RunTables& t, int32_t& sire, int32_t& dam) {
    order_pair(sire, dam);
    if (seen.insert(PairIndex::key_of(sire, dam))) t.data_pairs.push_back({sire, dam});
  }
  void prefetch(const RunTables& t, const PairTable& table, int32_t animal) const {
    if (!collect) {
      prefetch_animal_pair(t, table, animal);
    } else if (animal >= 1 && animal <= t.capacity.animals) {
      const PedigreeRow& row = t.pedigree[animal];
      if (row.sire != 0 && row.dam != 0) {
        seen.prefetch(PairIndex::key_of(std::min(row.sire, row.dam), std::max(row.sire, row.dam)));
      }
    }
  }
};

// One record of the first pass: the animal's pair into the class table (or
// the collected pairs), or its own-class number.
void scan_record(Run& run, DataPairs& pairs, int32_t animal) {
  RunTables& t = run.t;
  ++t.data_records;
  if (animal < 1 || animal > t.capacity.animals || t.animal_status[animal] == 0) {
    run.io.write_list(kConsoleOut, {"no pedigree for animal ", animal});
    ++t.records_without_pedigree;
    return;
  }
  PedigreeRow& row = t.pedigree[animal];
  if (row.sire != 0 && row.dam != 0) {
    if (pairs.collect) {
      pairs.add(t, row.sire, row.dam);
    } else {
      add_data_pair(run, row.sire, row.dam);
    }
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
  DataPairs pairs{t.capacity.auto_classes, PairSet()};
  while (true) {
    const PlainRead ended = batch.read(run.io, kDataUnit, kRecordBatch);
    // The rows each record reads, then the first slot of its pair's search,
    // asked for before the records are taken in order.
    for (int i = 0; i < batch.count; ++i) prefetch_animal(t, batch.record(i)[column]);
    const PairTable table = pair_table(t);
    for (int i = 0; i < batch.count; ++i) pairs.prefetch(t, table, batch.record(i)[column]);
    for (int i = 0; i < batch.count; ++i) scan_record(run, pairs, batch.record(i)[column]);
    batch.keep_last(&t.field_value[1]);
    if (ended == PlainRead::EndOfFile) break;
    if (ended == PlainRead::Other) {
      // A record that list-directed input reads by its full rules.
      const std::span<int32_t> record(&t.field_value[1], batch.width);
      if (run.io.read_integers(kDataUnit, record) != ReadResult::Ok) break;
      scan_record(run, pairs, record[column]);
    }
  }
  if (pairs.collect) build_class_table(run, 0, static_cast<int64_t>(t.data_pairs.size()));
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
