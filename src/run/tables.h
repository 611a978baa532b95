// The run-wide tables and counters. Every stage works on them in place. They
// are sized once at the start of the run by its capacities; only a capacity
// set to "auto" lets a table grow to what the input needs.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "run/table_memory.h"

namespace parclas {

inline constexpr int relmax = 500000;             // animal numbers 1..relmax
inline constexpr int kCombinationRows = 500000;   // slots of the combination table
inline constexpr int kCombinationWidth = 8;       // integers per combination record
inline constexpr int kFieldCapacity = 50;         // fields of a split line, integers of a record
inline constexpr int kFieldWidth = 16;            // characters of a split field
inline constexpr int kIdWidth = 16;               // characters of an animal identifier
inline constexpr int kNameWidth = 20;             // characters of a file name
inline constexpr int kLineWidth = 80;             // characters of a relationship-file line
inline constexpr int kYears = 100;                // years 1..100, one unknown-parent group each

// The capacities of a run. Without options they are the constants above and
// fammax; an option may set each to another value, or to "auto": animals and
// class rows as the input needs (class rows start at `classes` and double),
// families without a limit.
struct Capacities {
  int32_t animals = relmax;
  int32_t family = 500;  // members of one family (fammax); 0: no limit
  int32_t classes = kCombinationRows;
  bool auto_animals = false;
  bool auto_family = false;
  bool auto_classes = false;
};
// Class rows "auto" starts with, doubling as long as a search meets the probe
// limit; and the largest tables "auto" lets the input ask for.
inline constexpr int32_t kAutoFirstClassRows = kCombinationRows;
inline constexpr int32_t kMostAnimals = 100000000;
inline constexpr int32_t kMostClassRows = 256000000;

// A table of rows addressed directly by number, row 0 included, sized at the
// start of the run. It reads as a plain array: `table[row]`, `&table[1]`.
// Its memory grows in place (see TableBlock): a table that doubles keeps its
// rows without copying them.
template <class Row>
class FlatTable {
 public:
  operator Row*() { return data(); }
  operator const Row*() const { return data(); }
  Row* data() { return static_cast<Row*>(block_.data()); }
  const Row* data() const { return static_cast<const Row*>(block_.data()); }
  // Rows 0..last, all zero.
  void assign_zero(int32_t last) { block_.assign_zero(bytes(last)); }
  // Rows 0..last: the rows kept, new rows zero.
  void grow_to(int32_t last) { block_.resize(bytes(last)); }
  void release() { block_.release(); }
  int32_t last() const { return static_cast<int32_t>(block_.size() / sizeof(Row)) - 1; }

 private:
  static size_t bytes(int32_t last) { return (static_cast<size_t>(last) + 1) * sizeof(Row); }
  TableBlock block_;
};

// How the inbreeding of every animal is computed: family by family in single
// precision (the defined method), or exactly, animal by animal.
enum class InbreedingMethod { Family, Exact };

// The inverse of the class covariance matrix, when the command line asks for
// it: the file, and how each class is regressed on its ancestor classes.
enum class ClassInverseRule { Exact, Mask };
struct ClassInverseRequest {
  std::string file;  // empty: not asked for
  ClassInverseRule rule = ClassInverseRule::Exact;
};
// While the inverse is written: the file it replaces at the normal end, the
// file it goes to beside it until then (empty: written in place), and the
// line the run then ends with on the error stream.
struct ClassInverseOutput {
  std::string target;
  std::string partial;
  std::string report;
};

// One animal's row of the pedigree table.
struct PedigreeRow {
  int32_t sire;
  int32_t dam;
  int32_t year;
  int32_t inbreeding;  // coefficient times 1000, cut toward zero
};

// One sire x dam pair (parental subclass) of the combination table.
struct Combination {
  int32_t member1;  // lower animal number; -1 once the pair is eliminated
  int32_t member2;
  int32_t m1sire;
  int32_t m1dam;
  int32_t m2sire;
  int32_t m2dam;
  int32_t status;
  int32_t number;  // arrival number while collecting, class number after numbering
};
static_assert(sizeof(Combination) == kCombinationWidth * sizeof(int32_t));

// The key columns (member1, member2) of the combination table once more, in
// the order a search examines the rows: slot i holds the key of row
// (17 i mod rows) + 1, so that the rows of one search are consecutive slots
// instead of rows 17 apart (a search then reads memory in sequence). An empty
// row's slot holds 0.
struct PairIndex {
  FlatTable<uint64_t> keys;  // slots 0..rows - 1
  uint64_t step_inverse = 0;   // 17 x step_inverse is 1 modulo rows
  uint32_t rows = 0;

  // Row count and step inverse for `rows` rows (not a multiple of 17); the
  // slots are not touched.
  void set_rows(int32_t rows);
  static uint64_t key_of(int32_t member1, int32_t member2) {
    return static_cast<uint32_t>(member1) | uint64_t{static_cast<uint32_t>(member2)} << 32;
  }
  uint32_t slot_of(int32_t row) const {
    return static_cast<uint32_t>(static_cast<uint64_t>(row - 1) * step_inverse % rows);
  }
  int32_t row_at(uint32_t slot) const {
    return static_cast<int32_t>(uint64_t{slot} * 17 % rows) + 1;
  }
};

using FileName = std::array<char, kNameWidth>;
using Identifier = std::array<char, kIdWidth>;

// A sire x dam pair as the data scan first met it.
struct DataPair {
  int32_t sire;
  int32_t dam;
};

struct RunTables {
  // Row 0 of every per-animal and per-slot table is unused: numbering starts
  // at 1. Per-animal tables hold rows 1..capacity.animals, the combination
  // table rows 1..capacity.classes.
  FlatTable<PedigreeRow> pedigree;
  FlatTable<int32_t> animal_status;  // 0 absent, -1 loaded, >0 own-class number
  FlatTable<Identifier> identifier;
  FlatTable<Combination> combination;
  PairIndex pair_index;
  // With class rows "auto": the pairs of the data scan in order of arrival
  // and the expansion passes done, from which a larger table is rebuilt.
  std::vector<DataPair> data_pairs;
  int32_t passes_done;
  // The pairs the table holds after the first pass, counted beforehand
  // (0: surely fewer than its rows; -1: not counted).
  int64_t first_pass_pairs = -1;

  // The numeric field buffer of the line field splitter, also the record
  // buffer of both data passes (positions 1..kFieldCapacity).
  int32_t field_value[kFieldCapacity + 1];

  // Capacities and method of this run (from the command line).
  Capacities capacity;
  InbreedingMethod method = InbreedingMethod::Family;
  int32_t threads = 1;  // threads a stage may use where the bytes stay those of one
  int32_t largest_family;  // members of the largest family the inbreeding stage built
  ClassInverseRequest class_inverse;
  ClassInverseOutput class_inverse_output;

  // Answers and names.
  FileName parameter_file;
  FileName relationship_file;
  FileName data_file;
  int32_t maximum_passes;
  int32_t record_length;
  int32_t animal_column;

  // Counters.
  int32_t pedigree_records;
  int32_t largest_animal;
  int32_t zeroed_sires;
  int32_t zeroed_dams;
  int32_t data_records;
  int32_t records_without_pedigree;  // "no pedigree for animal " lines of the data scan
  int32_t combination_count;
  int32_t data_combinations;
  int32_t own_class_animals;
  int32_t classes_with_parents;
  int32_t classes_without_parents;

  // Everything back to its state at program start, the tables sized by
  // `capacities` (see size_tables).
  void reset(const Capacities& capacities, InbreedingMethod inbreeding);
  // The same with the tables still empty: the run's "tables" stage sizes them.
  void reset_unsized(const Capacities& capacities, InbreedingMethod inbreeding);
  // The tables sized by the capacities, all zero (per-animal tables stay
  // empty when animals are "auto": the load sizes them).
  void size_tables();
  // The combination table and its index with `rows` empty rows.
  void size_combination(int32_t rows);
};

// Sets the first n integers of a table to 0 (nothing for n of 0 or less).
inline void zero_fill(void* table, int64_t n) {
  if (n > 0) std::memset(table, 0, static_cast<size_t>(n) * sizeof(int32_t));
}

}  // namespace parclas
