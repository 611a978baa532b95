// Reading the parameter file at the start of the run, and writing the new
// parameter file at its end.
#pragma once

#include <cstdint>

namespace parclas {

struct Run;

inline constexpr int kMaxEffects = 20;
inline constexpr int kMaxRecordLength = 48;  // the record and its two appended values fit 50 integers

// Sets the data and relationship file names, the animal column and the
// record length, and prints the "files: " line.
void read_parameter_file(Run& run);

// Writes the new parameter file on its unit, declaring the inbreeding and
// class columns that the recoded data file appends; the class effect has
// every class of the run, own classes included, as its levels.
void write_parameter_file(Run& run);

}  // namespace parclas
