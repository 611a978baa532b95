// Writing PARCLAS's input files and the report. Everything is written into
// a folder beside the output folder and moved into it only when every file
// is complete, so a failed preparation leaves the output folder untouched.
#pragma once

#include <string>
#include <vector>

#include "prep/data_file.h"
#include "prep/numbering.h"
#include "prep/options.h"
#include "prep/pedigree.h"
#include "prep/report.h"

namespace parclas::prep {

struct Prepared {
  const Pedigree& pedigree;
  const Numbering& numbering;
  const std::vector<int32_t>& year;  // per animal, given or estimated
  const YearCoding& coding;
  const ShortIds& ids;
};

// The number of the unknown-parent group of an animal born in `year`.
int32_t group_number(const Options& o, const Prepared& pr, int32_t year);

// Writes every output file into DIR; false with `error` when one fails.
bool write_outputs(const Options& o, const Prepared& pr, DataFile* data, const MissingCodes& missing,
                   Report& report, std::string& error);

// An error when an input file would be replaced by an output file.
bool outputs_clash_with_inputs(const Options& o, std::string& error);

}  // namespace parclas::prep
