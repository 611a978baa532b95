// The herdbook's data file: the animal column and the other columns, read
// once to learn what each column holds and again to write PARCLAS's records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "prep/conventions.h"
#include "prep/id_table.h"
#include "prep/numbering.h"
#include "prep/options.h"
#include "prep/output_file.h"
#include "prep/pedigree.h"
#include "prep/report.h"
#include "prep/table_reader.h"

namespace parclas::prep {

struct DataColumn {
  std::string name;
  size_t index = 0;           // field position in a record
  bool is_class = false;      // levels 1..L instead of the value
  bool forced_class = false;  // --class
  double scale = 0.0;         // --scale factor; 0 for none
  uint64_t numbers = 0;       // values read as numbers
  uint64_t decimals = 0;      // of them with decimals
  std::vector<long> decimal_lines;  // the first of them
  uint64_t texts = 0;               // values read as text
  std::vector<std::pair<long, std::string>> text_lines;  // the first of them, with the text
  uint64_t missing = 0;
  std::vector<long> missing_lines;  // the first of them
  IdTable levels;  // class columns: the codes in order of first appearance
};

struct DataFile {
  std::string path;
  TableLayout layout;
  size_t animal_index = 0;
  std::string animal_name;
  std::vector<DataColumn> columns;  // in file order
  uint64_t records = 0;
  std::vector<uint32_t> record_animal;  // the animal of every record, from the first reading
  int32_t missing_value = 0;            // written for an unknown value of a number column

  // The columns in record order: class effects, then the animal, then the rest.
  size_t class_count() const;
};

// First reading: adds the data animals missing from the pedigree and
// settles each column's kind. What cannot be read as it means goes into the
// report as errors; returns false (with `error`) when the file cannot be
// read or its columns cannot be settled.
bool scan_data_file(const Options& o, const UnknownCodes& unknown, Pedigree& p, DataFile& data, Report& report,
                    std::string& error);

// Second reading: writes every record as integers.
bool write_data_records(DataFile& data, const UnknownCodes& unknown, const Numbering& numbering, OutputFile& out,
                        std::string& error);

// A record per animal, a constant effect and the animal number, for a run
// without a data file.
void write_animal_records(const Numbering& numbering, OutputFile& out);

}  // namespace parclas::prep
