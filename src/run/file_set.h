// The fixed file set: output names derived from the input names, the check
// that no output overwrites another file of the run, and the opening.
#pragma once

#include <string>
#include <string_view>

#include "run/tables.h"

namespace parclas {

struct Run;

// The prefix literal followed by the whole 20-character base name.
std::string derived_name(std::string_view prefix, const FileName& base);

// Stops the run when an output file would overwrite an input or another output.
void check_output_names(Run& run);

// Connects units 10, 11, 12, 15, 16, 17 and 18 in this order.
void open_file_set(Run& run);

// At the normal end: outputs that received no line are left empty.
void empty_unwritten_outputs(Run& run);

}  // namespace parclas
