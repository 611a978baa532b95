// The inverse of the covariance matrix of the class effects, for programs
// that read a user-supplied inverse. Every class is regressed on the distinct
// ancestor classes of its class pedigree line; with T (row c: e_c minus the
// regression coefficients at the ancestors) and R (the residual variances),
// the file holds T' R^-1 T, row >= column, one line per non-zero.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "run/tables.h"

namespace parclas {

struct Run;
class TextIO;

// The unit the inverse is written on.
inline constexpr int kClassInverseUnit = 19;

// After the file set is open: connects the inverse's unit to a new file
// beside the file asked for (a file that is not a regular one, such as a
// device, is written in place).
void open_class_inverse(Run& run);
// After the new parameter file: computes and writes the inverse.
void write_class_inverse(Run& run);
// At the normal end, once every unit is closed: the written file takes the
// name asked for and the run's line goes to `err`. Returns 0, or the error
// number of a failed rename after its report.
int commit_class_inverse(TextIO& io, RunTables& t, std::ostream& err);
// At any other end: the file written beside the one asked for is removed,
// which stays as it was.
void discard_class_inverse(RunTables& t) noexcept;

}  // namespace parclas
