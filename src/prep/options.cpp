#include "prep/options.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "driver/options.h"
#include "text/command_line.h"

namespace parclas::prep {
namespace {

using Row = OptionRow<Options>;

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

std::string count(std::string_view v, int64_t most, int32_t& out) {
  int64_t n = 0;
  if (!read_count(v, most, n)) return "a whole number from 1 to " + std::to_string(most);
  out = static_cast<int32_t>(n);
  return {};
}

std::string text(std::string_view v, std::string& out) {
  if (v.empty()) return "not empty";
  out = v;
  return {};
}

std::string list(std::string_view v, std::vector<std::string>& to) {
  auto items = split_list(v);
  if (items.empty()) return "one or more names, separated by commas";
  for (auto& item : items) to.push_back(std::move(item));
  return {};
}

std::string separator(std::string_view s, Separator& out) {
  if (s == "blank" || s == "space") out = Separator::Blank;
  else if (s == "tab") out = Separator::Tab;
  else if (s == "comma" || s == ",") out = Separator::Comma;
  else if (s == "semicolon" || s == ";") out = Separator::Semicolon;
  else return "blank, tab, comma or semicolon";
  return {};
}

std::string header(std::string_view s, HeaderMode& out) {
  if (s == "yes") out = HeaderMode::Yes;
  else if (s == "no") out = HeaderMode::No;
  else return "yes or no";
  return {};
}

std::string columns(Options& o, std::string_view s) {
  const auto items = split_list(s);
  const std::string form = "ROLE=COLUMN items, ROLE one of id, sire, dam, birth";
  for (const auto& item : items) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos || eq + 1 == item.size()) return form;
    const std::string key = item.substr(0, eq);
    const std::string value = item.substr(eq + 1);
    if (key == "id") o.columns.id = value;
    else if (key == "sire") o.columns.sire = value;
    else if (key == "dam") o.columns.dam = value;
    else if (key == "birth") o.columns.birth = value;
    else return form;
  }
  return items.empty() ? form : std::string();
}

std::string scale(Options& o, std::string_view s) {
  const size_t eq = s.rfind('=');
  const std::string form = "COLUMN=FACTOR with a factor above 0";
  if (eq == std::string_view::npos || eq == 0) return form;
  Scale sc{std::string(s.substr(0, eq)), 0.0};
  const std::string_view f = s.substr(eq + 1);
  const auto [p, ec] = std::from_chars(f.data(), f.data() + f.size(), sc.factor);
  if (f.empty() || ec != std::errc() || p != f.data() + f.size() || !std::isfinite(sc.factor) || sc.factor <= 0) {
    return form;
  }
  o.scales.push_back(sc);
  return {};
}

std::string groups(Options& o, std::string_view s) {
  o.groups = true;
  if (s == "year") return {};
  int64_t w = 0;
  if (s.starts_with("year:") && read_count(s.substr(5), 1000, w)) {
    o.years_per_group = static_cast<int32_t>(w);
    return {};
  }
  return "year, or year:W with W years per group";
}

std::string flag(bool& b) {
  b = true;
  return {};
}

// The help of --missing lists the codes that are always unknown.
std::string_view missing_help() {
  static const std::string help = [] {
    std::string h = "more codes for an unknown parent or value, in any case\n(always: ";
    for (const auto code : default_unknown_codes()) {
      if (code.empty()) h += "empty";
      else if (code == "0") h += ", 0 or zeros (parents)";
      else h.append(", ").append(code);
    }
    return h + ")";
  }();
  return help;
}

// The help texts name these defaults.
static_assert(kDefaultFamilyLimit == 500 && kDefaultAnimalLimit == 500000 && kDefaultPasses == 2);

constexpr std::string_view kPedigreeSection = "pedigree file:";
constexpr std::string_view kDataSection = "data file:";
constexpr std::string_view kOutputSection = "output folder:";
constexpr std::string_view kChecksSection = "checks and coding:";

const Row kOptions[] = {
    {"--pedigree", "FILE", [](Options& o, std::string_view v) { return text(v, o.pedigree); },
     "the herdbook's pedigree file (required)", false, kPedigreeSection},
    {"--columns", "id=C,sire=C,dam=C,birth=C", columns,
     "columns by header name or position (default: by the known\n"
     "header names; without header: id, sire, dam, birth year)",
     false, kPedigreeSection},
    {"--separator", "blank|tab|comma|semicolon",
     [](Options& o, std::string_view v) { return separator(v, o.separator); }, "(default: detected)", false,
     kPedigreeSection},
    {"--header", "yes|no", [](Options& o, std::string_view v) { return header(v, o.header); },
     "(default: detected)", false, kPedigreeSection},
    {"--missing", "CODE[,CODE...]", [](Options& o, std::string_view v) { return list(v, o.missing); },
     missing_help(), false, kPedigreeSection},
    {"--allow-selfing", "", [](Options& o, std::string_view) { return flag(o.allow_selfing); },
     "accept the same animal as sire and dam of one animal", false, kPedigreeSection},
    {"--data", "FILE", [](Options& o, std::string_view v) { return text(v, o.data); },
     "the herdbook's data file (default: one record per animal)", false, kDataSection},
    {"--animal-column", "K", [](Options& o, std::string_view v) { return text(v, o.animal_column); },
     "the animal's column, by name or position (default: by the\n"
     "known names of an animal column)",
     false, kDataSection},
    {"--data-columns", "C[,C...]", [](Options& o, std::string_view v) { return list(v, o.data_columns); },
     "the other columns to keep (default: all)", false, kDataSection},
    {"--class", "C[,C...]", [](Options& o, std::string_view v) { return list(v, o.class_columns); },
     "integer columns taken as class effects", false, kDataSection},
    {"--scale", "C=FACTOR", scale, "numbers with decimals times FACTOR, rounded", false, kDataSection},
    {"--missing-value", "N",
     [](Options& o, std::string_view v) -> std::string {
       return to_int(v, o.missing_value) ? std::string() : "a whole number";
     },
     "written for an unknown data value (default 0)", false, kDataSection},
    {"--allow-unmatched", "", [](Options& o, std::string_view) { return flag(o.allow_unmatched); },
     "go on when most records' animals have no pedigree line", false, kDataSection},
    {"--data-separator", "S", [](Options& o, std::string_view v) { return separator(v, o.data_separator); },
     "as --separator, for the data file", false, kDataSection},
    {"--data-header", "yes|no", [](Options& o, std::string_view v) { return header(v, o.data_header); },
     "as --header, for the data file", false, kDataSection},
    {"--out", "DIR", [](Options& o, std::string_view v) { return text(v, o.out); },
     "the folder to write (required); it must not exist or be empty", false, kOutputSection},
    {"--force", "", [](Options& o, std::string_view) { return flag(o.force); },
     "first remove the files an earlier preparation or PARCLAS run\n"
     "left in DIR (nothing else)",
     false, kOutputSection},
    {"--break-loops", "", [](Options& o, std::string_view) { return flag(o.break_loops); },
     "cut, in each pedigree loop, the link to the youngest parent", false, kChecksSection},
    {"--strict", "", [](Options& o, std::string_view) { return flag(o.strict); },
     "a parent younger than its offspring is an error", false, kChecksSection},
    {"--first-year", "Y",
     [](Options& o, std::string_view v) -> std::string {
       int32_t y = 0;
       if (!to_int(v, y)) return "a whole number";
       o.first_year = y;
       return {};
     },
     "the birth year of year value 1 (default: the first birth year)", false, kChecksSection},
    {"--years-per-value", "W", [](Options& o, std::string_view v) { return count(v, 1000, o.years_per_value); },
     "W calendar years per year value (default 1)", false, kChecksSection},
    {"--groups", "year[:W]", groups, "unknown parents as groups by birth year, W years per group", false,
     kChecksSection},
    {"--max-family", "N|auto",
     [](Options& o, std::string_view v) {
       if (v == "auto") {
         o.max_family = 0;
         return std::string();
       }
       const std::string wrong = count(v, kMostAnimals, o.max_family);
       return wrong.empty() ? wrong : wrong + ", or auto";
     },
     "family limit (default 500; auto: PARCLAS sizes families itself)", false, kChecksSection},
    {"--max-animals", "N", [](Options& o, std::string_view v) { return count(v, kMostAnimals, o.max_animals); },
     "animal limit of the run (default 500000)", false, kChecksSection},
    {"--trim", "", [](Options& o, std::string_view) { return flag(o.trim); },
     "cut the oldest links until every family fits", false, kChecksSection},
    {"--passes", "N",
     [](Options& o, std::string_view v) -> std::string {
       return to_int(v, o.passes) && o.passes >= 0 ? std::string() : "a whole number, 0 or more";
     },
     "expansion passes in answers (default 2)", false, kChecksSection},
    help_row<Options>(),
    version_row<Options>(),
};

constexpr size_t kHelpColumn = 30;

std::string usage_text() {
  const std::vector<HelpEntry> entries = help_entries<Options>(kOptions);
  std::string files;
  for (const auto name : kOutputNames) files.append(files.empty() ? "" : name == kReportOut ? " and " : ", ").append(name);
  return "usage: parclas-prep --pedigree FILE [--data FILE] [options] --out DIR\n  writes " + files + " into DIR\n" +
         option_lines(entries, kHelpColumn) + "  --help, --version\n";
}

}  // namespace

const std::string kUsage = usage_text();
const std::string kVersion = "parclas-prep 1.3, for " + std::string(parclas::kVersion);

std::optional<Options> parse_options(const std::vector<std::string>& args, std::string& error) {
  Options o;
  error = apply_options<Options>(kOptions, args, o);
  if (!error.empty()) return std::nullopt;
  if (o.action != Options::Action::Prepare) return o;
  if (o.pedigree.empty()) error = "option --pedigree is required";
  else if (o.out.empty()) error = "option --out is required";
  else if (o.data.empty() && !o.animal_column.empty()) error = "option --animal-column needs --data";
  else return o;
  return std::nullopt;
}

}  // namespace parclas::prep
