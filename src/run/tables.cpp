#include "run/tables.h"

#include <utility>

namespace parclas {

void RunTables::reset(const Capacities& capacities, InbreedingMethod inbreeding) {
  reset_unsized(capacities, inbreeding);
  size_tables();
}

void RunTables::reset_unsized(const Capacities& capacities, InbreedingMethod inbreeding) {
  *this = RunTables{};
  capacity = capacities;
  method = inbreeding;
  if (capacity.auto_animals) capacity.animals = 0;
}

void RunTables::size_tables() {
  if (!capacity.auto_animals) {
    pedigree.assign_zero(capacity.animals);
    animal_status.assign_zero(capacity.animals);
    identifier.assign_zero(capacity.animals);
  }
  size_combination(capacity.classes);
}

namespace {
// The inverse of 17 modulo `rows` (rows is not a multiple of 17).
uint64_t inverse_of_step(uint32_t rows) {
  int64_t r0 = rows, r1 = 17 % rows, t0 = 0, t1 = 1;
  while (r1 != 0) {
    const int64_t q = r0 / r1;
    r0 -= q * r1;
    std::swap(r0, r1);
    t0 -= q * t1;
    std::swap(t0, t1);
  }
  return static_cast<uint64_t>((t0 % rows + rows) % rows);
}
}  // namespace

void PairIndex::set_rows(int32_t row_count) {
  rows = static_cast<uint32_t>(row_count);
  step_inverse = inverse_of_step(rows);
}

void RunTables::size_combination(int32_t rows) {
  combination.assign_zero(rows);
  pair_index.keys.assign_zero(rows - 1);
  pair_index.set_rows(rows);
}

}  // namespace parclas
