#include "run/tables.h"

namespace parclas {

void RunTables::reset(const Capacities& capacities, InbreedingMethod inbreeding) {
  *this = RunTables{};
  capacity = capacities;
  method = inbreeding;
  if (capacity.auto_animals) {
    capacity.animals = 0;
  } else {
    pedigree.assign_zero(capacity.animals);
    animal_status.assign_zero(capacity.animals);
    identifier.assign_zero(capacity.animals);
  }
  combination.assign_zero(capacity.classes);
}

}  // namespace parclas
