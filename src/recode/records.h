// Data records read in batches, so that the table rows each one needs can be
// asked for from memory before the records are taken one by one.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "classes/combination_table.h"
#include "run/tables.h"
#include "text/text_io.h"

namespace parclas {

inline constexpr int kRecordBatch = 32;

struct RecordBatch {
  size_t width;                 // integers per record
  std::vector<int32_t> values;  // kRecordBatch records
  int count = 0;

  explicit RecordBatch(size_t record_width)
      : width(record_width), values(record_width * kRecordBatch) {}
  int32_t* record(int i) { return values.data() + static_cast<size_t>(i) * width; }

  // Reads up to `most` records of plain integers; stops early at the end of
  // the file or at a line that list-directed input must read by its full
  // rules (left unread), and says which.
  PlainRead read(TextIO& io, int unit, int most) {
    count = 0;
    while (count < most) {
      const PlainRead r = io.read_plain_record(unit, std::span<int32_t>(record(count), width));
      if (r != PlainRead::Record) return r;
      ++count;
    }
    return PlainRead::Record;
  }
  // The record buffer holds the last record read, as after reading them one
  // by one (a later record with null values keeps its values).
  void keep_last(int32_t* buffer) const {
    if (count > 0) {
      std::memcpy(buffer, values.data() + static_cast<size_t>(count - 1) * width,
                  width * sizeof(int32_t));
    }
  }
};

inline void prefetch_animal(const RunTables& t, int32_t animal) {
  if (animal >= 1 && animal <= t.capacity.animals) {
    __builtin_prefetch(&t.animal_status[animal]);
    __builtin_prefetch(&t.pedigree[animal]);
  }
}

// The first slot of the search for the animal's parent pair.
inline void prefetch_animal_pair(const RunTables& t, const PairTable& table, int32_t animal) {
  if (animal >= 1 && animal <= t.capacity.animals) {
    const PedigreeRow& row = t.pedigree[animal];
    if (row.sire != 0 && row.dam != 0) prefetch_pair(table, row.sire, row.dam);
  }
}

}  // namespace parclas
