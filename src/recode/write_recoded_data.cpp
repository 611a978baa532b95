#include "classes/combination_table.h"
#include "recode/data_file.h"
#include "run/run.h"
#include "text/fields.h"

namespace parclas {

void write_recoded_data(Run& run) {
  TextIO& io = run.io;
  RunTables& t = run.t;
  io.rewind(kDataUnit);
  const size_t length = static_cast<size_t>(t.record_length);
  int32_t* const record = &t.field_value[1];
  const int32_t column = t.animal_column - 1;
  const int32_t combination_classes = t.classes_with_parents + t.classes_without_parents;
  char line[kFieldCapacity * kSplicedWidth];
  for (int32_t i = 0; i < t.data_records; ++i) {
    io.require(io.read_integers(kDataUnit, std::span<int32_t>(record, length)), kDataUnit);
    const int32_t animal = record[column];
    const bool known = animal >= 1 && animal <= t.capacity.animals;
    record[length] = known ? t.pedigree[animal].inbreeding : 0;
    int32_t class_number = 0;
    if (known && t.animal_status[animal] > 0) {
      class_number = combination_classes + t.animal_status[animal];
    } else {
      int32_t unknown[2] = {0, 0};
      int32_t& first = known ? t.pedigree[animal].sire : unknown[0];
      int32_t& second = known ? t.pedigree[animal].dam : unknown[1];
      const int32_t row =
          find_pair(io, first, second, pair_table(t), t.combination_count);
      if (row == 0) {
        io.write_list(kConsoleOut, {"this should not happen:245"});
        io.plain_stop();
      }
      class_number = t.combination[row].number;
    }
    record[length + 1] = class_number;
    const int p = splice_integers(line, std::span<const int32_t>(record, length + 2));
    io.write_line(kRecodedDataUnit, std::string_view(line, static_cast<size_t>(p)));
  }
}

}  // namespace parclas
