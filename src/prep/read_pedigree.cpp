#include "prep/read_pedigree.h"

#include <algorithm>
#include <charconv>

#include "prep/values.h"

namespace parclas::prep {
namespace {

struct Columns {
  int id = -1, sire = -1, dam = -1, birth = -1;
  int& operator[](Role r) { return r == Role::Id ? id : r == Role::Sire ? sire : r == Role::Dam ? dam : birth; }
};

bool taken_by(const std::vector<int>& taken, int c) { return std::find(taken.begin(), taken.end(), c) != taken.end(); }

// The first column named like the role, trying the role's names in order.
int column_named(const TableLayout& layout, Role role, const std::vector<int>& taken) {
  std::vector<std::string> names;
  for (const auto& n : layout.names) names.push_back(normalized_name(n));
  for (const std::string_view known : names_of(role)) {
    for (size_t c = 0; c < names.size(); ++c) {
      if (names[c] == known && !taken_by(taken, static_cast<int>(c))) return static_cast<int>(c);
    }
  }
  return -1;
}

// A name that holds a known word, such as "sire_of_animal" or
// "animal_number"; a name with both "sire" and "dam" is a grandparent.
int column_holding(const TableLayout& layout, std::span<const std::string_view> parts, const std::vector<int>& taken) {
  for (size_t k = 0; k < layout.names.size(); ++k) {
    const std::string n = normalized_name(layout.names[k]);
    if (taken_by(taken, static_cast<int>(k))) continue;
    if (n.find("sire") != std::string::npos && n.find("dam") != std::string::npos) continue;
    for (const auto part : parts) {
      if (n.find(part) != std::string::npos) return static_cast<int>(k);
    }
  }
  return -1;
}

int first_free(const std::vector<int>& taken) {
  for (int c = 0;; ++c) {
    if (!taken_by(taken, c)) return c;
  }
}

std::string column_label(const TableLayout& layout, int c) {
  if (c < 0) return "none";
  if (static_cast<size_t>(c) < layout.names.size()) return layout.names[static_cast<size_t>(c)];
  return "column " + std::to_string(c + 1);
}

std::string header_names(const TableLayout& layout) {
  std::string s;
  for (const auto& n : layout.names) s += (s.empty() ? "" : ", ") + n;
  return s;
}

// A column whose values in the first records are all birth years or dates
// (or unknown), at least one of them given.
bool holds_years(const std::vector<std::vector<std::string>>& sample, int b, const UnknownCodes& unknown) {
  bool any = false;
  for (const auto& row : sample) {
    const std::string& v = row[static_cast<size_t>(b)];
    if (unknown.value(v)) continue;
    if (!parse_year(v)) return false;
    any = true;
  }
  return any;
}

// Columns by the user's choice, else by header name; when the header names
// none of id, sire and dam, by position (and a birth column there only when
// the first records hold years in it). A header that names some of the
// three but not all is a stop: the columns would be a guess.
bool choose_columns(const Options& o, const TableLayout& layout, const std::vector<std::vector<std::string>>& sample,
                    const UnknownCodes& unknown, Columns& c, Report& report, std::string& error) {
  const ColumnChoice& u = o.columns;
  std::vector<int> taken;
  const std::pair<Role, const std::string*> chosen[] = {
      {Role::Id, &u.id}, {Role::Sire, &u.sire}, {Role::Dam, &u.dam}, {Role::Birth, &u.birth}};
  for (const auto& [role, choice] : chosen) {
    if (choice->empty()) continue;
    const int k = resolve_column(layout, *choice, error);
    if (k < 0) return false;
    if (taken_by(taken, k)) {
      error = "--columns names column '" + *choice + "' twice";
      return false;
    }
    taken.push_back(c[role] = k);
  }
  int named = layout.header ? static_cast<int>(taken.size()) - !u.birth.empty() : 0;
  if (layout.header) {
    for (const Role role : kRoles) {
      if (c[role] < 0 && (c[role] = column_named(layout, role, taken)) >= 0) {
        taken.push_back(c[role]);
        named += role != Role::Birth;
      }
    }
    struct Holding {
      Role role;
      std::string_view parts[2];
    };
    static constexpr Holding kHolding[] = {{Role::Sire, {"sire", "father"}},
                                           {Role::Dam, {"dam", "mother"}},
                                           {Role::Birth, {"birth", "born"}},
                                           {Role::Id, {"animal", "ident"}}};
    for (const auto& [role, parts] : kHolding) {
      if (c[role] < 0 && (c[role] = column_holding(layout, parts, taken)) >= 0) {
        taken.push_back(c[role]);
        named += role != Role::Birth;
      }
    }
  }
  const int found = (c.id >= 0) + (c.sire >= 0) + (c.dam >= 0);
  if (layout.header && found < 3 && named > 0) {
    std::string have, lack;
    for (const Role r : {Role::Id, Role::Sire, Role::Dam}) {
      std::string& to = c[r] >= 0 ? have : lack;
      to += (to.empty() ? "" : ", ") + std::string(role_name(r)) +
            (c[r] >= 0 ? "=" + column_label(layout, c[r]) : std::string());
    }
    error = o.pedigree + ":" + std::to_string(layout.header_line) + ": the header names " + have + " but no " + lack +
            " column (header: " + header_names(layout) + "): name them with --columns id=C,sire=C,dam=C";
    return false;
  }
  if (found < 3) {
    for (const Role r : {Role::Id, Role::Sire, Role::Dam}) {
      if (c[r] < 0) taken.push_back(c[r] = first_free(taken));
    }
    if (layout.header) {
      report.warn("no known column names in the header of " + o.pedigree + " (" + header_names(layout) +
                  "): columns taken by position (--columns names them)");
    }
    if (c.birth < 0 && u.birth.empty() && !sample.empty()) {
      const int b = first_free(taken);
      if (static_cast<size_t>(b) < layout.fields && holds_years(sample, b, unknown)) c.birth = b;
    }
  }
  for (const Role r : kRoles) {
    if (c[r] >= 0 && static_cast<size_t>(c[r]) >= layout.fields) {
      error = o.pedigree + ": no column " + std::to_string(c[r] + 1) + " for " + std::string(role_name(r)) +
              ": the lines have " + std::to_string(layout.fields) + " fields";
      return false;
    }
  }
  return true;
}

void add_faults(Report& report, const std::string& title, const LineFaults& f) {
  Check& check = report.check(title, Severity::Error);
  check.count = f.count;
  check.items = f.first;
}

}  // namespace

bool is_known_column_name(std::string_view field) { return role_of(field, false).has_value(); }

int column_of_role(const TableLayout& layout, Role role) { return column_named(layout, role, {}); }

int resolve_column(const TableLayout& layout, const std::string& choice, std::string& error) {
  for (size_t c = 0; c < layout.names.size(); ++c) {
    if (layout.names[c] == choice) return static_cast<int>(c);
  }
  for (size_t c = 0; c < layout.names.size(); ++c) {
    if (normalized_name(layout.names[c]) == normalized_name(choice)) return static_cast<int>(c);
  }
  int position = 0;
  const auto [p, ec] = std::from_chars(choice.data(), choice.data() + choice.size(), position);
  if (ec == std::errc() && p == choice.data() + choice.size() && position >= 1 &&
      static_cast<size_t>(position) <= layout.fields) {
    return position - 1;
  }
  error = "no column '" + choice + "'";
  if (!layout.names.empty()) error += " (columns: " + header_names(layout) + ")";
  else error += " (the lines have " + std::to_string(layout.fields) + " fields)";
  return -1;
}

bool report_table_faults(const TableReader& table, Report& report, std::string& error) {
  if (table.repeated_headers() > 0) {
    report.line(table.path() + ": " + std::to_string(table.repeated_headers()) +
                " more header lines below the first, passed over");
  }
  for (const auto& [title, faults] : table.faults()) add_faults(report, title, faults);
  if (!table.failure().empty()) {
    error = table.failure();
    return false;
  }
  return true;
}

bool read_pedigree(const Options& o, const UnknownCodes& unknown, Pedigree& ped, Report& report, std::string& error) {
  TableReader table;
  if (!table.open(o.pedigree, o.separator, o.header, is_known_column_name, error)) return false;
  const TableLayout& layout = table.layout();
  if (layout.fields == 0) {
    error = o.pedigree + ": no animal: the file holds no line";
    return false;
  }
  const std::vector<std::vector<std::string>> sample = table.first_records();
  Columns c;
  if (!choose_columns(o, layout, sample, unknown, c, report, error)) {
    if (!error.starts_with(o.pedigree)) error = o.pedigree + ": " + error;
    return false;
  }
  report.line("pedigree file: " + o.pedigree + " (" + std::string(encoding_name(layout.encoding)) + ", " +
              std::string(separator_name(layout.separator)) + " separated, " +
              (layout.header ? "header line" : "no header") + (layout.row_names ? ", row names" : "") + ")");
  report.line("pedigree columns: id=" + column_label(layout, c.id) + " sire=" + column_label(layout, c.sire) +
              " dam=" + column_label(layout, c.dam) + " birth=" + column_label(layout, c.birth));
  if (c.birth < 0) {
    report.warn("no birth column in " + o.pedigree +
                ": year values are generations + 1, and no parent is checked against its offspring's age "
                "(--columns birth=C names one)");
  }

  const std::string& path = o.pedigree;
  ped.source = path;
  Check& merged = report.check("duplicate lines merged", Severity::Note);
  Check& conflicts = report.check("animals with a second line that gives other parents or another birth year",
                                  Severity::Error);
  Check& no_id = report.check("lines without identifier", Severity::Error);
  Check& selfing = report.check(
      o.allow_selfing ? "animals with the same sire and dam (selfing accepted)"
                      : "animals with the same identifier as sire and dam (--allow-selfing where selfing is real)",
      o.allow_selfing ? Severity::Warning : Severity::Error);
  Check& bad_years = report.check("unreadable birth years, taken as unknown", Severity::Warning);

  const auto id_at = static_cast<size_t>(c.id);
  const size_t parent_at[2] = {static_cast<size_t>(c.sire), static_cast<size_t>(c.dam)};
  std::span<const std::string_view> f;
  while (table.next(f)) {
    const long at = table.line_number();
    const std::string_view id = f[id_at];
    if (unknown.parent(id)) {
      report.add(no_id, path + ":" + std::to_string(at) + ": '" + std::string(id) + "'");
      continue;
    }
    int32_t year = kNoYear;
    // A birth year or date of zeros only, as herdbooks write an unknown one,
    // is unknown too.
    if (c.birth >= 0 && !unknown.parent(f[static_cast<size_t>(c.birth)])) {
      const std::string_view v = f[static_cast<size_t>(c.birth)];
      if (const auto y = parse_year(v)) year = *y == 0 ? kNoYear : *y;
      else report.add(bad_years, path + ":" + std::to_string(at) + ": " + std::string(v));
    }
    ped.ids.prefetch(id);
    ped.ids.prefetch(f[parent_at[0]]);
    ped.ids.prefetch(f[parent_at[1]]);
    const uint32_t a = ped.animal(id, Origin::Line);
    int32_t parents[2] = {kUnknown, kUnknown};
    for (int k = 0; k < 2; ++k) {
      const std::string_view p = f[parent_at[k]];
      if (!unknown.parent(p)) parents[k] = static_cast<int32_t>(ped.animal(p, Origin::Parent));
    }
    if (parents[0] != kUnknown && parents[0] == parents[1]) {
      report.add(selfing, path + ":" + std::to_string(at) + ": " + std::string(id) + ": sire and dam " +
                              std::string(ped.ids[static_cast<uint32_t>(parents[0])]));
    }
    if (ped.line[a] != 0) {
      const bool same = ped.sire[a] == parents[0] && ped.dam[a] == parents[1] && ped.birth[a] == year;
      report.add(same ? merged : conflicts, path + ":" + std::to_string(at) + ": " + std::string(id) +
                                                (same ? ", as on line " : ", other than on line ") +
                                                std::to_string(ped.line[a]));
      continue;
    }
    ped.origin[a] = Origin::Line;
    ped.line[a] = static_cast<uint32_t>(at);
    ped.sire[a] = parents[0];
    ped.dam[a] = parents[1];
    ped.birth[a] = year;
  }
  return report_table_faults(table, report, error);
}

}  // namespace parclas::prep
