#include "prep/data_file.h"

#include <algorithm>
#include <cmath>

#include "prep/read_pedigree.h"
#include "text/fields.h"

namespace parclas::prep {
namespace {

inline constexpr size_t kMaxRecordLength = 48;
inline constexpr size_t kMaxEffects = 20;

bool is_data_missing(const DataFile& d, std::string_view v) {
  if (v.empty() || v == "NA" || v == ".") return true;
  return std::find(d.codes.begin(), d.codes.end(), v) != d.codes.end();
}

bool choose_columns(const Options& o, DataFile& d, std::string& error) {
  const TableLayout& layout = d.layout;
  int animal = -1;
  if (!o.animal_column.empty()) {
    animal = resolve_column(layout, o.animal_column, error);
    if (animal < 0) return false;
  } else {
    for (size_t c = 0; c < layout.names.size() && animal < 0; ++c) {
      if (is_id_name(normalized_name(layout.names[c]))) animal = static_cast<int>(c);
    }
    if (animal < 0) animal = 0;
  }
  d.animal_index = static_cast<size_t>(animal);
  auto name_of = [&](size_t c) {
    return c < layout.names.size() ? layout.names[c] : std::to_string(c + 1);
  };
  d.animal_name = name_of(d.animal_index);
  std::vector<size_t> kept;
  if (!o.data_columns.empty()) {
    for (const auto& choice : o.data_columns) {
      const int c = resolve_column(layout, choice, error);
      if (c < 0) return false;
      if (static_cast<size_t>(c) != d.animal_index) kept.push_back(static_cast<size_t>(c));
    }
  } else {
    for (size_t c = 0; c < d.columns.size(); ++c) kept.push_back(c);
  }
  std::vector<DataColumn> columns;
  for (const size_t c : kept) {
    if (c == d.animal_index) continue;
    DataColumn col;
    col.name = name_of(c);
    col.index = c;
    columns.push_back(std::move(col));
  }
  d.columns = std::move(columns);
  for (const auto& choice : o.class_columns) {
    const int c = resolve_column(layout, choice, error);
    if (c < 0) return false;
    for (auto& col : d.columns) col.forced_class |= col.index == static_cast<size_t>(c);
  }
  for (const auto& s : o.scales) {
    const int c = resolve_column(layout, s.column, error);
    if (c < 0) return false;
    for (auto& col : d.columns) {
      if (col.index == static_cast<size_t>(c)) col.scale = s.factor;
    }
  }
  return true;
}

// The kind of every column, from what the first reading saw.
bool settle_kinds(DataFile& d, std::string& error) {
  for (auto& c : d.columns) {
    if (c.scale > 0 && c.first_text_line > 0) {
      error = "data column " + c.name + " has text ('" + c.first_text + "', line " +
              std::to_string(c.first_text_line) + ") but --scale was given for it";
      return false;
    }
    c.is_class = c.forced_class || c.first_text_line > 0;
    if (!c.is_class && c.scale == 0 && c.first_decimal_line > 0) {
      error = "data column " + c.name + " has numbers with decimals (first at line " +
              std::to_string(c.first_decimal_line) + "): give --scale " + c.name + "=FACTOR";
      return false;
    }
  }
  if (d.class_count() + 1 > kMaxEffects) {
    error = "data file: " + std::to_string(d.class_count()) + " class columns, at most " +
            std::to_string(kMaxEffects - 1) + " fit (choose them with --data-columns)";
    return false;
  }
  if (d.columns.size() + 1 > kMaxRecordLength) {
    error = "data file: records of " + std::to_string(d.columns.size() + 1) + " columns, at most " +
            std::to_string(kMaxRecordLength) + " fit (choose them with --data-columns)";
    return false;
  }
  return true;
}

bool scaled(double value, double factor, int32_t& out) {
  const double v = std::round(value * factor);
  if (!(v >= INT32_MIN && v <= INT32_MAX)) return false;
  out = static_cast<int32_t>(v);
  return true;
}

}  // namespace

size_t DataFile::class_count() const {
  return static_cast<size_t>(std::count_if(columns.begin(), columns.end(), [](const DataColumn& c) { return c.is_class; }));
}

bool scan_data_file(const Options& o, const MissingCodes& missing, Pedigree& p, DataFile& d, Report& report,
                    std::string& error) {
  d.path = o.data;
  d.codes = o.missing;
  TableReader table;
  std::vector<std::string_view> words;  // only the names of identifier columns mark a header here
  for (const auto w : {"id", "animal", "animalid", "indiv", "individual", "label", "calf", "cow"}) words.emplace_back(w);
  if (!table.open(o.data, o.data_separator, o.data_header, words, error)) return false;
  d.layout = table.layout();
  std::span<const std::string_view> f;
  // The widest of the first records sets the columns when there is no header.
  size_t width = d.layout.names.size();
  for (const auto& record : table.first_records()) width = std::max(width, record.size());
  d.columns.resize(width);
  if (!choose_columns(o, d, error)) {
    error = "data file " + o.data + ": " + error;
    return false;
  }
  const bool comma_decimal = d.layout.separator != Separator::Comma;
  Check& no_animal = report.check("data records without animal, skipped", Severity::Warning);
  Check& short_lines = report.check("data lines with too few fields", Severity::Error);
  size_t needed = d.animal_index + 1;
  for (const auto& c : d.columns) needed = std::max(needed, c.index + 1);
  std::string last_id;
  uint32_t last_animal = 0;
  while (table.next(f)) {
    const long line = table.line_number();
    if (f.size() < needed) {
      report.add(short_lines, "line " + std::to_string(line) + ": " + std::to_string(f.size()) + " fields, " +
                                  std::to_string(needed) + " needed");
      continue;
    }
    if (missing(f[d.animal_index])) {
      report.add(no_animal, "line " + std::to_string(line));
      continue;
    }
    // Records of one animal usually follow each other: look it up once.
    if (d.record_animal.empty() || f[d.animal_index] != last_id) {
      last_id = f[d.animal_index];
      last_animal = p.animal(last_id, Origin::Data);
    }
    d.record_animal.push_back(last_animal);
    ++d.records;
    for (auto& c : d.columns) {
      const std::string_view v = f[c.index];
      if (is_data_missing(d, v)) {
        ++c.missing;
        continue;
      }
      const ValueKind kind = classify_value(v, comma_decimal).kind;
      if (kind == ValueKind::Decimal && c.first_decimal_line == 0) c.first_decimal_line = line;
      if (kind == ValueKind::Text && c.first_text_line == 0) {
        c.first_text_line = line;
        c.first_text = std::string(v.substr(0, 40));
      }
    }
  }
  if (table.failed()) {
    error = "cannot read " + o.data;
    return false;
  }
  if (!settle_kinds(d, error)) return false;
  std::string header = "data file: " + o.data + " (" + std::string(separator_name(d.layout.separator)) +
                       " separated, " + (d.layout.header ? "header line" : "no header") + "), " +
                       std::to_string(d.records) + " records, animal column " + d.animal_name;
  report.line(header);
  Check& missing_values = report.check("data columns with unknown values, written as 0", Severity::Note);
  for (const auto& c : d.columns) {
    std::string kind = c.is_class ? "class effect" : c.scale > 0 ? "scaled" : "integer";
    report.line("  data column " + c.name + ": " + kind);
    if (c.missing > 0) report.add(missing_values, c.name + ": " + std::to_string(c.missing));
  }
  return true;
}

bool write_data_records(DataFile& d, const MissingCodes& missing, const Numbering& numbering,
                        OutputFile& out, std::string& error) {
  TableReader table;
  if (!table.open(d.path, d.layout.separator, d.layout.header ? HeaderMode::Yes : HeaderMode::No, {}, error)) {
    return false;
  }
  const bool comma_decimal = d.layout.separator != Separator::Comma;
  std::vector<int32_t> values;
  std::vector<char> line((d.columns.size() + 1) * kSplicedWidth + 1);
  size_t needed = d.animal_index + 1;
  for (const auto& c : d.columns) needed = std::max(needed, c.index + 1);
  std::span<const std::string_view> f;
  size_t record = 0;
  while (table.next(f)) {
    if (f.size() < needed || missing(f[d.animal_index])) continue;
    if (record == d.record_animal.size()) {
      error = "data file " + d.path + " changed while it was read";
      return false;
    }
    const uint32_t a = d.record_animal[record++];
    values.clear();
    for (auto& c : d.columns) {
      if (!c.is_class) continue;
      const std::string_view v = f[c.index];
      bool added = false;
      values.push_back(is_data_missing(d, v) ? 0 : static_cast<int32_t>(c.levels.find_or_add(v, added) + 1));
    }
    values.push_back(numbering.number[a]);
    for (auto& c : d.columns) {
      if (c.is_class) continue;
      const std::string_view v = f[c.index];
      int32_t x = 0;
      if (!is_data_missing(d, v)) {
        const Value value = classify_value(v, comma_decimal);
        if (!scaled(value.real, c.scale > 0 ? c.scale : 1.0, x)) {
          error = "data column " + c.name + ", line " + std::to_string(table.line_number()) + ": " +
                  std::string(v.substr(0, 40)) + " does not fit a 32-bit integer" +
                  (c.scale > 0 ? " after scaling" : "");
          return false;
        }
      }
      values.push_back(x);
    }
    const int n = splice_integers(line.data(), values);
    line[static_cast<size_t>(n)] = '\n';
    out.write(std::string_view(line.data(), static_cast<size_t>(n) + 1));
  }
  if (table.failed()) {
    error = "cannot read " + d.path;
    return false;
  }
  return true;
}

void write_animal_records(const Numbering& numbering, OutputFile& out) {
  char line[2 * kSplicedWidth + 1];
  for (size_t i = 1; i <= numbering.animal_at.size(); ++i) {
    const int32_t values[2] = {1, static_cast<int32_t>(i)};
    const int n = splice_integers(line, values);
    line[n] = '\n';
    out.write(std::string_view(line, static_cast<size_t>(n) + 1));
  }
}

}  // namespace parclas::prep
