// Reading the herdbook's pedigree file into the pedigree.
#pragma once

#include <string>

#include "prep/options.h"
#include "prep/pedigree.h"
#include "prep/report.h"
#include "prep/values.h"

namespace parclas::prep {

// The column of a table named by `choice` (a header name, matched exactly,
// then ignoring case, blanks, '_', '.', '-'; or a 1-based position); -1 and
// `error` set when there is none.
int resolve_column(const TableLayout& layout, const std::string& choice, std::string& error);

// The known names of identifier columns (normalized), for header detection
// and for the data file's animal column.
bool is_id_name(std::string_view normalized);

// Reads the pedigree file named in the options. Duplicate lines, conflicts,
// lines without identifier and unreadable birth years go into the report.
// Returns false (with `error`) when the file cannot be read at all.
bool read_pedigree(const Options& options, const MissingCodes& missing, Pedigree& pedigree,
                   Report& report, std::string& error);

}  // namespace parclas::prep
