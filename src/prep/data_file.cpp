#include "prep/data_file.h"

#include <algorithm>
#include <cmath>

#include "prep/read_pedigree.h"
#include "prep/values.h"
#include "text/fields.h"

namespace parclas::prep {
namespace {

constexpr size_t kUnmatchedShown = 5;

std::string lines_text(const std::vector<long>& lines, uint64_t count) {
  std::vector<std::string> items;
  for (const long l : lines) items.push_back(std::to_string(l));
  return first_of(items, count, kFirstFaults);
}

bool choose_columns(const Options& o, DataFile& d, std::string& error) {
  const TableLayout& layout = d.layout;
  int animal = -1;
  if (!o.animal_column.empty()) {
    animal = resolve_column(layout, o.animal_column, error);
    if (animal < 0) return false;
  } else if (!layout.header) {
    error = "no header line, so no column is known as the animal's: give --animal-column K (its position)";
    return false;
  } else if ((animal = column_of_role(layout, Role::Id)) < 0) {
    std::string names;
    for (const auto& n : layout.names) names += (names.empty() ? "" : ", ") + n;
    error = std::to_string(layout.header_line) + ": no animal column among the header names (" + names +
            "): give --animal-column NAME";
    return false;
  }
  d.animal_index = static_cast<size_t>(animal);
  auto name_of = [&](size_t c) { return c < layout.names.size() ? layout.names[c] : std::to_string(c + 1); };
  d.animal_name = name_of(d.animal_index);
  std::vector<size_t> kept;
  if (!o.data_columns.empty()) {
    for (const auto& choice : o.data_columns) {
      const int c = resolve_column(layout, choice, error);
      if (c < 0) return false;
      if (std::find(kept.begin(), kept.end(), static_cast<size_t>(c)) == kept.end()) kept.push_back(static_cast<size_t>(c));
    }
  } else {
    for (size_t c = 0; c < layout.fields; ++c) kept.push_back(c);
  }
  for (const size_t c : kept) {
    if (c == d.animal_index) continue;
    DataColumn col;
    col.name = name_of(c);
    col.index = c;
    d.columns.push_back(std::move(col));
  }
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

// The kind of every column, from all its values: text only is a class
// effect; text among a majority of numbers is a stop, as it is a typo or an
// unknown-value code more often than a class.
void settle_kinds(const Options& o, DataFile& d, Report& report) {
  Check& text_in_numbers = report.check(
      "data columns of numbers holding text (--missing CODE if it stands for an unknown value, --class C for a "
      "class effect)",
      Severity::Error);
  Check& decimals = report.check("data columns with decimals (--scale C=FACTOR writes them as integers)",
                                 Severity::Error);
  const std::string& path = o.data;
  for (auto& c : d.columns) {
    if (c.forced_class) {
      c.is_class = true;
      continue;
    }
    if (c.texts > 0 && (c.scale > 0 || c.texts < c.numbers)) {
      for (const auto& [line, text] : c.text_lines) {
        report.add(text_in_numbers, path + ":" + std::to_string(line) + ": column " + c.name + ": '" + text + "'");
      }
      text_in_numbers.count += c.texts - c.text_lines.size();
      continue;
    }
    c.is_class = c.texts > 0;
    if (!c.is_class && c.scale == 0 && c.decimals > 0) {
      report.add(decimals, path + ": column " + c.name + ": " + std::to_string(c.decimals) +
                               " numbers with decimals, lines " + lines_text(c.decimal_lines, c.decimals) +
                               ": give --scale " + c.name + "=FACTOR");
    }
  }
}

bool check_record_shape(const DataFile& d, std::string& error) {
  if (d.class_count() + 1 > kMostEffects) {
    error = "data file: " + std::to_string(d.class_count()) + " class columns, at most " +
            std::to_string(kMostEffects - 1) + " fit (choose them with --data-columns)";
    return false;
  }
  if (d.columns.size() + 1 > kMostRecordLength) {
    error = "data file: records of " + std::to_string(d.columns.size() + 1) + " columns, at most " +
            std::to_string(kMostRecordLength) + " fit (choose them with --data-columns)";
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

bool scan_data_file(const Options& o, const UnknownCodes& unknown, Pedigree& p, DataFile& d, Report& report,
                    std::string& error) {
  d.path = o.data;
  d.missing_value = o.missing_value;
  TableReader table;
  if (!table.open(o.data, o.data_separator, o.data_header, is_known_column_name, error)) return false;
  d.layout = table.layout();
  if (d.layout.fields == 0) {
    error = o.data + ": no record: the file holds no line";
    return false;
  }
  if (!choose_columns(o, d, error)) {
    error = o.data + (error.front() >= '0' && error.front() <= '9' ? ":" : ": ") + error;
    return false;
  }
  const bool comma_decimal = d.layout.separator != Separator::Comma;
  Check& no_animal = report.check("data records without animal (column " + d.animal_name + ")", Severity::Error);
  std::string last_id;
  uint32_t last_animal = 0;
  bool last_matched = false;
  uint64_t matched = 0;
  std::vector<std::string> unmatched;
  std::span<const std::string_view> f;
  while (table.next(f)) {
    const long line = table.line_number();
    const std::string_view id = f[d.animal_index];
    if (unknown.parent(id)) {
      report.add(no_animal, o.data + ":" + std::to_string(line) + ": '" + std::string(id) + "'");
      continue;
    }
    // Records of one animal usually follow each other: look it up once.
    if (d.record_animal.empty() || id != last_id) {
      last_id = id;
      const uint32_t before = p.size();
      last_animal = p.animal(last_id, Origin::Data);
      last_matched = p.origin[last_animal] != Origin::Data;
      if (p.size() > before && unmatched.size() < kUnmatchedShown) unmatched.push_back(last_id);
    }
    matched += last_matched;
    d.record_animal.push_back(last_animal);
    ++d.records;
    for (auto& c : d.columns) {
      const std::string_view v = f[c.index];
      if (unknown.value(v)) {
        if (c.missing_lines.size() < kFirstFaults) c.missing_lines.push_back(line);
        ++c.missing;
        continue;
      }
      const ValueKind kind = classify_value(v, comma_decimal).kind;
      if (kind == ValueKind::Text) {
        if (c.text_lines.size() < kFirstFaults) c.text_lines.emplace_back(line, std::string(v.substr(0, 40)));
        ++c.texts;
        continue;
      }
      ++c.numbers;
      if (kind == ValueKind::Decimal) {
        if (c.decimal_lines.size() < kFirstFaults) c.decimal_lines.push_back(line);
        ++c.decimals;
      }
    }
  }
  if (!report_table_faults(table, report, error)) return false;
  if (report.has_errors()) return true;
  if (d.records == 0) {
    error = o.data + ": no record: no line below the header holds one";
    return false;
  }
  if (matched * 2 < d.records && !o.allow_unmatched) {
    std::string names;
    for (const auto& u : unmatched) names += (names.empty() ? "" : ", ") + u;
    error = o.data + ": only " + std::to_string(matched) + " of " + std::to_string(d.records) +
            " records have an animal of the pedigree in column " + d.animal_name + " (not in the pedigree: " + names +
            "): is it the animal's column? (--animal-column K chooses another, --allow-unmatched goes on)";
    return false;
  }
  settle_kinds(o, d, report);
  if (report.has_errors()) return true;
  if (!check_record_shape(d, error)) return false;
  report.line("data file: " + o.data + " (" + std::string(encoding_name(d.layout.encoding)) + ", " +
              std::string(separator_name(d.layout.separator)) + " separated, " +
              (d.layout.header ? "header line" : "no header") + "), " + std::to_string(d.records) +
              " records, animal column " + d.animal_name);
  for (const auto& c : d.columns) {
    const std::string kind = c.is_class ? "class effect" : c.scale > 0 ? "scaled" : "integer";
    report.line("  data column " + c.name + ": " + kind);
  }
  for (const auto& c : d.columns) {
    if (c.missing == 0) continue;
    report.warn("data column " + c.name + ": " + std::to_string(c.missing) + " unknown value" +
                (c.missing == 1 ? "" : "s") + ", written as " +
                (c.is_class ? std::string("level 0") : std::to_string(d.missing_value) + " (--missing-value N)") +
                ": " + (c.missing == 1 ? "line " : "lines ") + lines_text(c.missing_lines, c.missing));
  }
  return true;
}

bool write_data_records(DataFile& d, const UnknownCodes& unknown, const Numbering& numbering, OutputFile& out,
                        std::string& error) {
  TableReader table;
  if (!table.open(d.path, d.layout.separator, d.layout.header ? HeaderMode::Yes : HeaderMode::No,
                  is_known_column_name, error)) {
    return false;
  }
  const bool comma_decimal = d.layout.separator != Separator::Comma;
  std::vector<int32_t> values;
  std::vector<char> line((d.columns.size() + 1) * kSplicedWidth + 1);
  std::span<const std::string_view> f;
  size_t record = 0;
  const auto changed = [&] {
    error = "data file " + d.path + " changed while it was read";
    return false;
  };
  while (table.next(f)) {
    if (unknown.parent(f[d.animal_index])) continue;
    if (record == d.record_animal.size()) return changed();
    const uint32_t a = d.record_animal[record++];
    values.clear();
    for (auto& c : d.columns) {
      if (!c.is_class) continue;
      const std::string_view v = f[c.index];
      bool added = false;
      values.push_back(unknown.value(v) ? 0 : static_cast<int32_t>(c.levels.find_or_add(v, added) + 1));
    }
    values.push_back(numbering.number[a]);
    for (auto& c : d.columns) {
      if (c.is_class) continue;
      const std::string_view v = f[c.index];
      int32_t x = d.missing_value;
      if (!unknown.value(v)) {
        const Value value = classify_value(v, comma_decimal);
        if (value.kind == ValueKind::Text) return changed();
        if (!scaled(value.real, c.scale > 0 ? c.scale : 1.0, x)) {
          error = d.path + ":" + std::to_string(table.line_number()) + ": column " + c.name + ": " +
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
  if (!table.failure().empty()) {
    error = table.failure();
    return false;
  }
  if (record != d.record_animal.size() || !table.faults().empty()) return changed();
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
