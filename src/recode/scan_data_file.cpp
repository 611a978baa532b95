#include "classes/classes.h"
#include "recode/data_file.h"
#include "run/run.h"

namespace parclas {

void scan_data_file(Run& run) {
  TextIO& io = run.io;
  RunTables& t = run.t;
  t.data_records = 0;
  t.own_class_animals = 0;
  const std::span<int32_t> record(&t.field_value[1], static_cast<size_t>(t.animal_column));
  while (io.read_integers(kDataUnit, record) == ReadResult::Ok) {
    const int32_t animal = record.back();
    ++t.data_records;
    if (animal < 1 || animal > t.capacity.animals || t.animal_status[animal] == 0) {
      io.write_list(kConsoleOut, {"no pedigree for animal ", animal});
      ++t.records_without_pedigree;
      continue;
    }
    PedigreeRow& row = t.pedigree[animal];
    if (row.sire != 0 && row.dam != 0) {
      add_data_pair(run, row.sire, row.dam);
    } else if (t.animal_status[animal] < 0) {
      t.animal_status[animal] = ++t.own_class_animals;
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
