// Loading the relationship file (the pedigree) into the pedigree, status and
// identifier tables.
#pragma once

namespace parclas {

struct Run;

// Reads every line of the relationship file, then reports the records, the
// largest animal number with the holes below it, and zeroes the parent
// numbers above the largest animal number (they stand for groups).
void load_relationship_file(Run& run);

}  // namespace parclas
