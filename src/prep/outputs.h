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

// The output folder as found before anything is read.
struct OutputFolder {
  bool exists = false;
  std::vector<std::string> earlier;  // files an earlier preparation or PARCLAS run left, removed with --force
};

// The output folder must not exist or be empty, or, with --force, hold
// files of an earlier preparation or PARCLAS run (other files stay); and no
// input may be one of the files written or removed. False with `error`.
bool check_output_folder(const Options& o, OutputFolder& folder, std::string& error);

// The number of the unknown-parent group of an animal born in `year`.
int32_t group_number(const Options& o, const Prepared& pr, int32_t year);

// Writes every output file into the output folder, first removing the
// earlier files (--force); false with `error` when one fails.
bool write_outputs(const Options& o, const OutputFolder& folder, const Prepared& pr, DataFile* data,
                   const UnknownCodes& unknown, Report& report, std::string& error);

}  // namespace parclas::prep
