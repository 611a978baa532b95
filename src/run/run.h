// What every stage works on: the units of the fixed file set and the run's
// context (text layer, tables, inbreeding work).
#pragma once

#include <string_view>

#include "run/tables.h"
#include "text/text_io.h"

namespace parclas {

struct InbreedingWork;

// Units of the fixed file set.
inline constexpr int kParameterUnit = 10;     // parameter file, then relationship file
inline constexpr int kRelationshipUnit = 10;
inline constexpr int kDataUnit = 11;
inline constexpr int kClassPedigreeUnit = 12;
inline constexpr int kNewParameterUnit = 15;
inline constexpr int kCoefficientUnit = 16;
inline constexpr int kRecodedDataUnit = 17;
inline constexpr int kClassIdUnit = 18;

// What every stage works on.
struct Run {
  TextIO& io;
  RunTables& t;
  InbreedingWork& work;
};

template <size_t N>
std::string_view text_of(const std::array<char, N>& field) {
  return std::string_view(field.data(), N);
}

// The first stages of the run: the banner and the two console questions, and
// the zero-fill of the pedigree and combination tables.
void ask_questions(Run& run);
void clear_tables(Run& run);

}  // namespace parclas
