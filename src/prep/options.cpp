#include "prep/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace parclas::prep {

const char* const kUsage =
    "usage: parclas-prep --pedigree FILE [--data FILE [--animal-column K]] [options] --out DIR\n"
    "  writes ped.txt, data.txt, par.txt, answers, animals.txt, levels.txt and report.txt into DIR\n"
    "pedigree file:\n"
    "  --columns id=C,sire=C,dam=C,birth=C  columns by header name or position (default: by\n"
    "                                       header name, else id, sire, dam, birth year)\n"
    "  --separator blank|tab|comma|semicolon  (default: detected)\n"
    "  --header yes|no                      (default: detected)\n"
    "  --missing CODE[,CODE...]             unknown-parent codes besides 0, NA, . and empty\n"
    "data file:\n"
    "  --animal-column K                    the animal's column, name or position (default: id)\n"
    "  --data-columns C[,C...]              the other columns to keep (default: all)\n"
    "  --class C[,C...]                     integer columns taken as class effects\n"
    "  --scale C=FACTOR                     numbers with decimals times FACTOR, rounded\n"
    "  --data-separator S, --data-header yes|no\n"
    "checks and coding:\n"
    "  --break-loops        cut, in each pedigree loop, the link to the youngest parent\n"
    "  --strict             a parent younger than its offspring is an error\n"
    "  --first-year Y       the birth year of year value 1 (default: the first birth year)\n"
    "  --years-per-value W  W calendar years per year value (default 1)\n"
    "  --groups year[:W]    unknown parents as groups by birth year, W years per group\n"
    "  --max-family N|auto  family limit (default 500; auto: PARCLAS sizes families itself)\n"
    "  --max-animals N      animal limit (default 500000)\n"
    "  --trim               cut the oldest links until every family fits\n"
    "  --passes N           expansion passes in answers (default 2)\n";

namespace {

std::vector<std::string> split_list(std::string_view s) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= s.size()) {
    const size_t comma = std::min(s.find(',', start), s.size());
    if (comma > start) out.emplace_back(s.substr(start, comma - start));
    start = comma + 1;
  }
  return out;
}

bool to_int(std::string_view s, int32_t& out) {
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return !s.empty() && ec == std::errc() && p == s.data() + s.size();
}

bool positive(std::string_view s, int32_t& out) { return to_int(s, out) && out >= 1; }

bool parse_separator(std::string_view s, Separator& out) {
  if (s == "blank" || s == "space") out = Separator::Blank;
  else if (s == "tab") out = Separator::Tab;
  else if (s == "comma" || s == ",") out = Separator::Comma;
  else if (s == "semicolon" || s == ";") out = Separator::Semicolon;
  else return false;
  return true;
}

bool parse_header(std::string_view s, HeaderMode& out) {
  if (s == "yes") out = HeaderMode::Yes;
  else if (s == "no") out = HeaderMode::No;
  else return false;
  return true;
}

bool parse_columns(std::string_view s, ColumnChoice& c) {
  const auto items = split_list(s);
  for (const auto& item : items) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos || eq + 1 == item.size()) return false;
    const std::string key = item.substr(0, eq);
    const std::string value = item.substr(eq + 1);
    if (key == "id") c.id = value;
    else if (key == "sire") c.sire = value;
    else if (key == "dam") c.dam = value;
    else if (key == "birth") c.birth = value;
    else return false;
  }
  return !items.empty();
}

bool parse_scale(std::string_view s, std::vector<Scale>& scales) {
  const size_t eq = s.rfind('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  Scale sc{std::string(s.substr(0, eq)), 0.0};
  const std::string_view f = s.substr(eq + 1);
  const auto [p, ec] = std::from_chars(f.data(), f.data() + f.size(), sc.factor);
  if (f.empty() || ec != std::errc() || p != f.data() + f.size() || !std::isfinite(sc.factor) || sc.factor <= 0) {
    return false;
  }
  scales.push_back(sc);
  return true;
}

bool parse_groups(std::string_view s, Options& o) {
  o.groups = true;
  if (s == "year") return true;
  return s.starts_with("year:") && positive(s.substr(5), o.years_per_group);
}

void append_list(std::string_view s, std::vector<std::string>& to) {
  for (auto& item : split_list(s)) to.push_back(std::move(item));
}

// Applies one option with its value; false when the value is not valid.
bool apply(const std::string& name, const std::string& v, Options& o) {
  if (name == "--separator") return parse_separator(v, o.separator);
  if (name == "--data-separator") return parse_separator(v, o.data_separator);
  if (name == "--header") return parse_header(v, o.header);
  if (name == "--data-header") return parse_header(v, o.data_header);
  if (name == "--columns") return parse_columns(v, o.columns);
  if (name == "--scale") return parse_scale(v, o.scales);
  if (name == "--years-per-value") return positive(v, o.years_per_value);
  if (name == "--groups") return parse_groups(v, o);
  if (name == "--max-family") {
    if (v != "auto") return positive(v, o.max_family);
    o.max_family = 0;
    return true;
  }
  if (name == "--max-animals") return positive(v, o.max_animals);
  if (name == "--passes") return to_int(v, o.passes) && o.passes >= 0;
  if (name == "--first-year") {
    int32_t y = 0;
    if (!to_int(v, y)) return false;
    o.first_year = y;
    return true;
  }
  if (v.empty()) return false;
  if (name == "--pedigree") o.pedigree = v;
  else if (name == "--data") o.data = v;
  else if (name == "--out") o.out = v;
  else if (name == "--animal-column") o.animal_column = v;
  else if (name == "--data-columns") append_list(v, o.data_columns);
  else if (name == "--class") append_list(v, o.class_columns);
  else if (name == "--missing") append_list(v, o.missing);
  else return false;
  return true;
}

bool takes_value(std::string_view name) {
  static constexpr std::string_view kWithValue[] = {
      "--pedigree", "--data", "--out", "--animal-column", "--data-columns", "--class",
      "--separator", "--data-separator", "--header", "--data-header", "--columns", "--scale",
      "--missing", "--first-year", "--years-per-value", "--groups", "--max-family",
      "--max-animals", "--passes"};
  return std::find(std::begin(kWithValue), std::end(kWithValue), name) != std::end(kWithValue);
}

}  // namespace

std::optional<Options> parse_options(const std::vector<std::string>& args, std::string& error) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_value = false;
    if (const size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_value = true;
    }
    if (!has_value && (name == "--break-loops" || name == "--strict" || name == "--trim")) {
      (name == "--break-loops" ? o.break_loops : name == "--strict" ? o.strict : o.trim) = true;
      continue;
    }
    if (!takes_value(name)) {
      error = "unknown option " + args[i];
      return std::nullopt;
    }
    if (!has_value) {
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return std::nullopt;
      }
      value = args[++i];
    }
    if (!apply(name, value, o)) {
      error = "option " + name + ": invalid value '" + value + "'";
      return std::nullopt;
    }
  }
  if (o.pedigree.empty()) error = "option --pedigree is required";
  else if (o.out.empty()) error = "option --out is required";
  else if (o.data.empty() && !o.animal_column.empty()) error = "option --animal-column needs --data";
  else return o;
  return std::nullopt;
}

}  // namespace parclas::prep
