#include "prep/read_pedigree.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace parclas::prep {
namespace {

constexpr std::string_view kIdNames[] = {"id", "animal", "animalid", "indiv", "individual", "label",
                                         "ident", "identifier", "name", "calf", "pig", "ani", "tier"};
constexpr std::string_view kSireNames[] = {"sire", "sireid", "father", "fatherid", "vater", "pere", "s"};
constexpr std::string_view kDamNames[] = {"dam", "damid", "mother", "motherid", "mutter", "mere", "d"};
constexpr std::string_view kBirthNames[] = {"birth", "born", "birthyear", "byear", "yob", "year",
                                            "birthdate", "bdate", "dob", "dateofbirth", "yearofbirth",
                                            "gebjahr", "geburtsjahr"};

template <size_t N>
bool among(std::string_view n, const std::string_view (&names)[N]) {
  return std::find(std::begin(names), std::end(names), n) != std::end(names);
}

std::vector<std::string_view> header_words() {
  std::vector<std::string_view> w;
  for (const auto* list : {&kIdNames, &kBirthNames}) w.insert(w.end(), std::begin(*list), std::end(*list));
  w.insert(w.end(), std::begin(kSireNames), std::end(kSireNames) - 1);  // not the one-letter names
  w.insert(w.end(), std::begin(kDamNames), std::end(kDamNames) - 1);
  return w;
}

template <size_t N>
int column_named(const TableLayout& layout, const std::string_view (&names)[N], const std::vector<int>& taken) {
  for (size_t c = 0; c < layout.names.size(); ++c) {
    if (std::find(taken.begin(), taken.end(), static_cast<int>(c)) != taken.end()) continue;
    if (among(normalized_name(layout.names[c]), names)) return static_cast<int>(c);
  }
  return -1;
}

int first_free(const std::vector<int>& taken, int from) {
  for (int c = from;; ++c) {
    if (std::find(taken.begin(), taken.end(), c) == taken.end()) return c;
  }
}

struct Columns {
  int id = -1, sire = -1, dam = -1, birth = -1;
};

// Columns by the user's choice, else by header name, else id, sire, dam at
// the first free positions; a birth column only by choice or name, or as the
// fourth of a file without header whose first lines hold years there.
bool choose_columns(const Options& o, const TableLayout& layout, const std::vector<std::vector<std::string>>& sample,
                    Columns& c, std::string& error) {
  const ColumnChoice& u = o.columns;
  std::vector<int> taken;
  auto chosen = [&](const std::string& choice, int& out) {
    if (choice.empty()) return true;
    out = resolve_column(layout, choice, error);
    if (out >= 0) taken.push_back(out);
    return out >= 0;
  };
  if (!chosen(u.id, c.id) || !chosen(u.sire, c.sire) || !chosen(u.dam, c.dam) || !chosen(u.birth, c.birth)) {
    return false;
  }
  auto named = [&](int& out, const auto& names) {
    if (out < 0 && layout.header && (out = column_named(layout, names, taken)) >= 0) taken.push_back(out);
  };
  named(c.id, kIdNames);
  named(c.sire, kSireNames);
  named(c.dam, kDamNames);
  named(c.birth, kBirthNames);
  // Then names that hold a known word, such as "sire_of_animal" or
  // "animal_number"; a name with both "sire" and "dam" is a grandparent.
  auto holding = [&](int& out, std::initializer_list<std::string_view> parts) {
    for (size_t k = 0; out < 0 && layout.header && k < layout.names.size(); ++k) {
      const std::string n = normalized_name(layout.names[k]);
      if (std::find(taken.begin(), taken.end(), static_cast<int>(k)) != taken.end()) continue;
      if (n.find("sire") != std::string::npos && n.find("dam") != std::string::npos) continue;
      for (const auto part : parts) {
        if (out < 0 && n.find(part) != std::string::npos) taken.push_back(out = static_cast<int>(k));
      }
    }
  };
  holding(c.sire, {"sire", "father"});
  holding(c.dam, {"dam", "mother"});
  holding(c.birth, {"birth", "born"});
  holding(c.id, {"animal", "ident"});
  for (int* p : {&c.id, &c.sire, &c.dam}) {
    if (*p < 0) taken.push_back(*p = first_free(taken, 0));
  }
  if (c.birth < 0 && !layout.header && u.birth.empty() && !sample.empty()) {
    const int b = first_free(taken, 0);
    bool years = true;
    for (const auto& row : sample) {
      if (static_cast<size_t>(b) >= row.size()) years = false;
      else if (!row[static_cast<size_t>(b)].empty() && row[static_cast<size_t>(b)] != "NA" &&
               !parse_year(row[static_cast<size_t>(b)])) years = false;
    }
    if (years) c.birth = b;
  }
  return true;
}

std::string column_label(const TableLayout& layout, int c) {
  if (c < 0) return "none";
  if (static_cast<size_t>(c) < layout.names.size()) return layout.names[static_cast<size_t>(c)];
  return "column " + std::to_string(c + 1);
}

}  // namespace

bool is_id_name(std::string_view normalized) { return among(normalized, kIdNames); }

int resolve_column(const TableLayout& layout, const std::string& choice, std::string& error) {
  for (size_t c = 0; c < layout.names.size(); ++c) {
    if (layout.names[c] == choice) return static_cast<int>(c);
  }
  for (size_t c = 0; c < layout.names.size(); ++c) {
    if (normalized_name(layout.names[c]) == normalized_name(choice)) return static_cast<int>(c);
  }
  int position = 0;
  const auto [p, ec] = std::from_chars(choice.data(), choice.data() + choice.size(), position);
  if (ec == std::errc() && p == choice.data() + choice.size() && position >= 1) return position - 1;
  error = "no column '" + choice + "'";
  if (!layout.names.empty()) {
    error += " (columns:";
    for (const auto& n : layout.names) error += " " + n;
    error += ")";
  }
  return -1;
}

bool read_pedigree(const Options& o, const MissingCodes& missing, Pedigree& ped, Report& report,
                   std::string& error) {
  const auto words = header_words();
  TableReader table;
  if (!table.open(o.pedigree, o.separator, o.header, words, error)) return false;
  const TableLayout& layout = table.layout();

  // The first records, to see whether a file without header has birth years.
  const std::vector<std::vector<std::string>> sample = table.first_records();
  Columns c;
  if (!choose_columns(o, layout, sample, c, error)) {
    error = "pedigree file " + o.pedigree + ": " + error;
    return false;
  }
  report.line("pedigree file: " + o.pedigree + " (" + std::string(separator_name(layout.separator)) +
              " separated, " + (layout.header ? "header line" : "no header") +
              (layout.row_names ? ", row names" : "") + ")");
  report.line("pedigree columns: id=" + column_label(layout, c.id) + " sire=" + column_label(layout, c.sire) +
              " dam=" + column_label(layout, c.dam) + " birth=" + column_label(layout, c.birth));

  Check& merged = report.check("duplicate lines merged", Severity::Note);
  Check& conflicts = report.check("duplicate identifiers with conflicting parents or birth years", Severity::Error);
  Check& short_lines = report.check("lines with too few fields", Severity::Error);
  Check& no_id = report.check("lines without identifier, skipped", Severity::Warning);
  Check& bad_years = report.check("unreadable birth years, taken as unknown", Severity::Warning);

  const size_t needed = static_cast<size_t>(std::max({c.id, c.sire, c.dam})) + 1;
  std::span<const std::string_view> f;
  while (table.next(f)) {
    const long at = table.line_number();
    const std::string where = "line " + std::to_string(at);
    if (f.size() < needed) {
      report.add(short_lines, where + ": " + std::to_string(f.size()) + " fields, " + std::to_string(needed) + " needed");
      continue;
    }
    const std::string_view id = f[static_cast<size_t>(c.id)];
    if (missing(id)) {
      report.add(no_id, where);
      continue;
    }
    int32_t year = kNoYear;
    if (c.birth >= 0 && static_cast<size_t>(c.birth) < f.size() && !missing(f[static_cast<size_t>(c.birth)])) {
      if (const auto y = parse_year(f[static_cast<size_t>(c.birth)])) year = *y;
      else report.add(bad_years, where + ": " + std::string(f[static_cast<size_t>(c.birth)]));
    }
    for (const int k : {c.id, c.sire, c.dam}) ped.ids.prefetch(f[static_cast<size_t>(k)]);
    const uint32_t a = ped.animal(id, Origin::Line);
    int32_t parents[2] = {kUnknown, kUnknown};
    for (int k = 0; k < 2; ++k) {
      const std::string_view p = f[static_cast<size_t>(k == 0 ? c.sire : c.dam)];
      if (!missing(p)) parents[k] = static_cast<int32_t>(ped.animal(p, Origin::Parent));
    }
    if (ped.line[a] != 0) {
      const bool same = ped.sire[a] == parents[0] && ped.dam[a] == parents[1] && ped.birth[a] == year;
      report.add(same ? merged : conflicts,
                 std::string(id) + " (lines " + std::to_string(ped.line[a]) + " and " + std::to_string(at) + ")");
      continue;
    }
    ped.origin[a] = Origin::Line;
    ped.line[a] = static_cast<uint32_t>(at);
    ped.sire[a] = parents[0];
    ped.dam[a] = parents[1];
    ped.birth[a] = year;
  }
  if (table.failed()) {
    error = "cannot read " + o.pedigree;
    return false;
  }
  return true;
}

}  // namespace parclas::prep
