#include <algorithm>
#include <cstring>

#include "pedigree/relationship_file.h"
#include "run/run.h"
#include "text/fields.h"

namespace parclas {

namespace {
const Format kRead("(' read',I8,' pedigree records')");

// With animals "auto", the per-animal tables grow to the largest animal
// number met (in steps, so that a long file does not copy them often).
void make_room(RunTables& t, int32_t animal) {
  if (animal <= t.pedigree.last()) return;
  const int64_t doubled = std::max<int64_t>(int64_t{t.pedigree.last()} * 2, 1024);
  const auto last = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(animal, doubled), kMostAnimals));
  t.pedigree.grow_to(last);
  t.animal_status.grow_to(last);
  t.identifier.grow_to(last);
}

// At the end of an "auto" load: the capacity becomes the largest animal
// number, and the tables hold just that many rows.
void settle_auto_animals(RunTables& t) {
  int32_t largest = 0;
  for (int32_t a = t.animal_status.last(); a >= 1; --a) {
    if (t.animal_status[a] != 0) {
      largest = a;
      break;
    }
  }
  t.capacity.animals = largest;
  t.pedigree.grow_to(largest);
  t.animal_status.grow_to(largest);
  t.identifier.grow_to(largest);
}
}

void load_relationship_file(Run& run) {
  TextIO& io = run.io;
  RunTables& t = run.t;
  std::string_view line;
  std::string_view last;
  while (io.read_line(kRelationshipUnit, line) == ReadResult::Ok) {
    // Only the first 80 characters of a line count.
    const int count =
        split_values(line.substr(0, kLineWidth), t.field_value, kFieldCapacity, last);
    if (count < 6) {
      io.write_list(kConsoleOut, {"Relationship file has fewer than 6 components:", count});
      io.write_list(kConsoleOut, {text_of(t.relationship_file)});
      io.plain_stop();
    }
    if (t.pedigree_records == 0) {
      io.write_list(kConsoleOut, {"ID in pedigree file assumed in position ", count});
    }
    const int32_t animal = t.field_value[1];
    ++t.pedigree_records;
    // While an "auto" load runs, its capacity is the largest number read, so
    // that a stop reports a size under which the same lines are read.
    if (t.capacity.auto_animals && animal > t.capacity.animals) {
      t.capacity.animals = std::min(animal, kMostAnimals);
    }
    const int32_t most = t.capacity.auto_animals ? kMostAnimals : t.capacity.animals;
    if (animal > most) {
      io.write_list(kConsoleOut, {"increase relmax to at least: ", animal});
      io.plain_stop();
    }
    if (animal < 1) {
      io.write_list(kConsoleOut, {"animal number below 1 in relationship file: ", animal});
      io.plain_stop();
    }
    if (t.field_value[2] < 0 || t.field_value[3] < 0) {
      io.write_list(kConsoleOut,
                    {"negative parent number in relationship file for animal: ", animal});
      io.plain_stop();
    }
    if (t.capacity.auto_animals) make_room(t, animal);
    PedigreeRow& row = t.pedigree[animal];
    row.sire = t.field_value[2];
    row.dam = t.field_value[3];
    row.year = t.field_value[5];
    t.animal_status[animal] = -1;
    // The identifier: the last field, cut to 16 characters or blank-padded.
    Identifier& id = t.identifier[animal];
    const size_t keep = std::min(last.size(), id.size());
    std::memcpy(id.data(), last.data(), keep);
    std::memset(id.data() + keep, ' ', id.size() - keep);
  }
  io.write_formatted(kConsoleOut, kRead, {t.pedigree_records});
  if (t.capacity.auto_animals) settle_auto_animals(t);
  const int32_t capacity = t.capacity.animals;

  int32_t absent = 0;
  t.largest_animal = 0;
  for (int32_t a = 1; a <= capacity; ++a) {
    if (t.animal_status[a] != 0) {
      t.largest_animal = a;
    } else {
      ++absent;
    }
  }
  io.write_list(kConsoleOut, {"largest animal no is", t.largest_animal, " and pedigree contained",
                              t.largest_animal + absent - capacity, " holes"});

  for (int32_t a = 1; a <= capacity; ++a) {
    PedigreeRow& row = t.pedigree[a];
    if (row.sire > t.largest_animal) {
      row.sire = 0;
      ++t.zeroed_sires;
    }
    if (row.dam > t.largest_animal) {
      row.dam = 0;
      ++t.zeroed_dams;
    }
  }
  io.write_list(kConsoleOut,
                {"zeroed", t.zeroed_sires, t.zeroed_dams, " groups for parent 1 and 2"});
}

}  // namespace parclas
