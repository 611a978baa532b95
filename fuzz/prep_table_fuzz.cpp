// parclas-prep's table reader on the fuzz input as a file: whatever the
// bytes, every record it hands out has the table's field count, in line
// order, the first records are the records themselves, and the faults it
// reports name lines of the file.
#include <string>
#include <vector>

#include "prep/read_pedigree.h"
#include "prep/table_reader.h"
#include "support.h"

using namespace parclas;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InScratch scratch;
  fuzz::write_file("table.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  // The first byte chooses the separator and header rule, as the options would.
  const auto separator = static_cast<prep::Separator>(size > 0 ? data[0] % 5 : 0);
  const auto header = static_cast<prep::HeaderMode>(size > 0 ? data[0] / 5 % 3 : 0);
  prep::TableReader table;
  std::string error;
  if (!table.open("table.txt", separator, header, prep::is_known_column_name, error)) {
    fuzz::check(!error.empty(), "a failed open says why");
    return 0;
  }
  const prep::TableLayout& layout = table.layout();
  const std::vector<std::vector<std::string>> first = table.first_records();
  std::span<const std::string_view> fields;
  long last_line = 0;
  size_t records = 0;
  while (table.next(fields)) {
    fuzz::check(fields.size() == layout.fields, "a record with another field count");
    fuzz::check(table.line_number() > last_line, "records out of line order");
    fuzz::check(!layout.header || table.line_number() != layout.header_line, "the header handed out as a record");
    last_line = table.line_number();
    if (records < first.size()) {
      fuzz::check(std::vector<std::string>(fields.begin(), fields.end()) == first[records], "first records differ");
    }
    for (const std::string_view f : fields) {
      fuzz::check(f.empty() || (f.front() != ' ' && f.back() != ' '), "a field with blanks at its ends");
    }
    ++records;
  }
  fuzz::check(records >= first.size() || !table.failure().empty(), "fewer records than the first records");
  for (const auto& [title, faults] : table.faults()) {
    fuzz::check(!title.empty() && faults.count >= faults.first.size() && faults.first.size() <= prep::kFirstFaults,
                "a fault kind without its lines");
    for (const auto& item : faults.first) fuzz::check(item.starts_with("table.txt:"), "a fault that names no line");
  }
  return 0;
}
