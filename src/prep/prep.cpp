#include "prep/prep.h"

#include <algorithm>
#include <ostream>

#include "prep/birth_years.h"
#include "prep/checks.h"
#include "prep/data_file.h"
#include "prep/family_limit.h"
#include "prep/numbering.h"
#include "prep/options.h"
#include "prep/outputs.h"
#include "prep/read_pedigree.h"

namespace parclas::prep {
namespace {

constexpr size_t kItemsOnConsole = 20;

int stop(const Report& report, const std::string& error, std::ostream& err) {
  report.summarize(err, kItemsOnConsole);
  if (!error.empty()) err << "parclas-prep: " << error << '\n';
  err << "parclas-prep: stopped; nothing written\n";
  return kStopped;
}

// Reports the animals over the family limit; with --trim first cuts the
// parents of the animals born before the earliest year that makes all fit.
void fit_family_limit(const Options& o, Pedigree& p, const std::vector<int32_t>& year, bool calendar,
                      Report& report) {
  if (o.max_family == 0) {
    report.line("family limit: auto (PARCLAS sizes families itself); not checked");
    return;
  }
  const auto limit = static_cast<uint32_t>(o.max_family);
  std::vector<uint32_t> order = parents_first_order(p);
  if (o.trim) {
    const int32_t cut_before = earliest_fitting_year(p, order, year, limit);
    uint64_t links = 0;
    for (uint32_t a = 0; a < p.size(); ++a) {
      if (year[a] >= cut_before) continue;
      links += (p.sire[a] != kUnknown) + (p.dam[a] != kUnknown);
      p.sire[a] = p.dam[a] = kUnknown;
    }
    // Without birth years the year is the generation + 1.
    const std::string whose = calendar ? "born before " + std::to_string(cut_before)
                                       : "less than " + std::to_string(cut_before - 1) + " generations deep";
    report.line("trimmed: parents of the animals " + whose + " removed, " + std::to_string(links) + " links cut");
    order = parents_first_order(p);
  }
  Check& over = report.check("animals with at least " + std::to_string(limit) + " ancestors (family over " +
                                 std::to_string(limit) + " members; --trim cuts old links)",
                             Severity::Warning);
  const auto marked = animals_over_limit(p, order, year, INT32_MIN, limit, false);
  for (uint32_t a = 0; a < p.size(); ++a) {
    if (marked[a]) report.add(over, std::string(p.ids[a]));
  }
}

void count_animals(const Options& o, const Pedigree& p, Report& report) {
  uint64_t lines = 0;
  for (const auto origin : p.origin) lines += origin == Origin::Line;
  report.line("animals: " + std::to_string(p.size()) + " (" + std::to_string(lines) + " with a line of their own)");
  Check& many = report.check("animals beyond the limit of " + std::to_string(o.max_animals), Severity::Warning);
  if (p.size() > static_cast<uint32_t>(o.max_animals)) many.count = p.size() - static_cast<uint32_t>(o.max_animals);
}

int prepare(const Options& o, std::ostream& out, std::ostream& err) {
  Report report;
  report.line("parclas-prep report");
  std::string error;
  if (outputs_clash_with_inputs(o, error)) return stop(report, error, err);
  MissingCodes missing;
  for (const auto& code : o.missing) missing.add(code);
  Pedigree p;
  if (!read_pedigree(o, missing, p, report, error)) return stop(report, error, err);
  DataFile data;
  if (!o.data.empty() && !scan_data_file(o, missing, p, data, report, error)) return stop(report, error, err);
  count_animals(o, p, report);
  count_added_animals(p, report);
  remove_self_parents(p, report);
  resolve_loops(p, o.break_loops, report);
  check_parent_ages(p, o.strict, report);
  check_parent_roles(p, report);
  if (report.has_errors()) return stop(report, "", err);

  std::vector<uint32_t> order = parents_first_order(p);
  std::vector<int32_t> depth = generation_depths(p, order);
  const BirthYears years = settle_birth_years(p, order, depth, report);
  const YearCoding coding = code_years(p, years, o, report);
  if (report.has_errors()) return stop(report, "", err);
  fit_family_limit(o, p, years.year, years.calendar, report);
  order = parents_first_order(p);
  depth = generation_depths(p, order);
  const Numbering numbering = number_animals(p, depth, years.year);
  const ShortIds ids(p, numbering, report);
  const Prepared prepared{p, numbering, years.year, coding, ids};
  if (o.groups) {
    int32_t first = INT32_MAX;
    int32_t last = INT32_MIN;
    for (uint32_t a = 0; a < p.size(); ++a) {
      if (p.sire[a] != kUnknown && p.dam[a] != kUnknown) continue;
      first = std::min(first, group_number(o, prepared, years.year[a]));
      last = std::max(last, group_number(o, prepared, years.year[a]));
    }
    if (first <= last) report.line("unknown parents as groups " + std::to_string(first) + ".." + std::to_string(last));
  }
  if (!write_outputs(o, prepared, o.data.empty() ? nullptr : &data, missing, report, error)) {
    return stop(report, error, err);
  }
  report.summarize(out, kItemsOnConsole);
  out << "written: ped.txt data.txt par.txt answers animals.txt levels.txt report.txt in " << o.out << '\n'
      << "run: cd " << o.out << " && parclas < answers\n";
  return kPrepared;
}

}  // namespace

int run_prep(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << kUsage;
    return kPrepared;
  }
  std::string error;
  const auto options = parse_options(args, error);
  if (!options) {
    err << "parclas-prep: " << error << '\n' << kUsage;
    return kBadCommand;
  }
  return prepare(*options, out, err);
}

}  // namespace parclas::prep
