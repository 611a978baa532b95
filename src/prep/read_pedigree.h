// Reading the herdbook's pedigree file into the pedigree.
#pragma once

#include <string>
#include <string_view>

#include "prep/conventions.h"
#include "prep/options.h"
#include "prep/pedigree.h"
#include "prep/report.h"
#include "prep/table_reader.h"

namespace parclas::prep {

// The column of a table named by `choice`: a header name, matched exactly,
// then as normalized; or a 1-based position. -1 and `error` set when there
// is none.
int resolve_column(const TableLayout& layout, const std::string& choice, std::string& error);

// Whether a field of a first line is a known column name of any role, which
// makes that line a header.
bool is_known_column_name(std::string_view field);

// The first column the header names like `role` (the role's names tried in
// their order); -1 when there is none.
int column_of_role(const TableLayout& layout, Role role);

// Adds the faults the table reader found to the report, one error check per
// kind; false (and `error`) when the file could not be read to its end.
bool report_table_faults(const TableReader& table, Report& report, std::string& error);

// Reads the pedigree file named in the options. What cannot be read as it
// means goes into the report as an error; returns false (with `error`) when
// the file cannot be read at all or its columns cannot be settled.
bool read_pedigree(const Options& options, const UnknownCodes& unknown, Pedigree& pedigree, Report& report,
                   std::string& error);

}  // namespace parclas::prep
