// The two passes over the data file.
#pragma once

namespace parclas {

struct Run;

// First pass: collects the sire x dam pair of every recorded animal with two
// known parents and gives the other recorded animals own-class numbers.
void scan_data_file(Run& run);
// Prints the two report lines of the first pass.
void report_data_scan(Run& run);

// Second pass: writes every record with the animal's inbreeding and class
// number appended.
void write_recoded_data(Run& run);

}  // namespace parclas
