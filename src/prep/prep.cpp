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

// The console carries the report, with the first lines or identifiers of
// each problem; the error stream says why the preparation stopped.
int stop(const Report& report, const std::string& error, std::ostream& out, std::ostream& err) {
  report.summarize(out);
  report.stop_reasons(err);
  if (!error.empty()) err << "parclas-prep: " << error << '\n';
  err << "parclas-prep: stopped; nothing written\n";
  return kStopped;
}

// Reports the animals over the family limit; with --trim first cuts the
// parents of the animals born before the earliest year that makes all fit.
// Returns how many animals are over the limit.
uint64_t fit_family_limit(const Options& o, Pedigree& p, const std::vector<int32_t>& year, bool calendar,
                          Report& report) {
  if (o.max_family == 0) {
    report.line("family limit: auto (PARCLAS sizes families itself); not checked");
    return 0;
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
  return over.count;
}

void count_animals(const Options& o, const Pedigree& p, Report& report) {
  uint64_t lines = 0;
  for (const auto origin : p.origin) lines += origin == Origin::Line;
  report.line("animals: " + std::to_string(p.size()) + " (" + std::to_string(lines) + " with a line of their own)");
  if (p.size() > static_cast<uint32_t>(o.max_animals)) {
    report.line("animals beyond the limit of " + std::to_string(o.max_animals) + ": the run needs --max-animals auto");
  }
}

// The options of the PARCLAS run that the prepared files need.
std::string run_options(const Options& o, uint32_t animals, uint64_t over_family_limit) {
  std::string s;
  const bool national = animals > static_cast<uint32_t>(kDefaultAnimalLimit);
  if (animals > static_cast<uint32_t>(o.max_animals) || national) s += " --max-animals auto";
  if (national) s += " --max-classes auto";
  if (o.max_family == 0 || over_family_limit > 0) {
    s += national ? " --inbreeding exact" : " --max-family auto";
  } else if (o.max_family > kDefaultFamilyLimit) {
    s += " --max-family " + std::to_string(o.max_family);
  }
  return s;
}

int prepare(const Options& o, std::ostream& out, std::ostream& err) {
  Report report;
  report.line("parclas-prep report");
  std::string error;
  OutputFolder folder;
  if (!check_output_folder(o, folder, error)) return stop(report, error, out, err);
  UnknownCodes unknown;
  for (const auto& code : o.missing) unknown.add(code);
  Pedigree p;
  if (!read_pedigree(o, unknown, p, report, error) || report.has_errors()) return stop(report, error, out, err);
  if (p.size() == 0) return stop(report, o.pedigree + ": no animal: no line below the header holds one", out, err);
  DataFile data;
  if (!o.data.empty() && (!scan_data_file(o, unknown, p, data, report, error) || report.has_errors())) {
    return stop(report, error, out, err);
  }
  count_animals(o, p, report);
  count_added_animals(p, report);
  remove_self_parents(p, report);
  resolve_loops(p, o.break_loops, report);
  check_parent_ages(p, o.strict, report);
  check_parent_roles(p, report);
  if (report.has_errors()) return stop(report, "", out, err);

  std::vector<uint32_t> order = parents_first_order(p);
  std::vector<int32_t> depth = generation_depths(p, order);
  const BirthYears years = settle_birth_years(p, order, depth, report);
  const YearCoding coding = code_years(p, years, o, report);
  if (report.has_errors()) return stop(report, "", out, err);
  const uint64_t over_limit = fit_family_limit(o, p, years.year, years.calendar, report);
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
  std::string written = "written:";
  for (const auto name : kOutputNames) written.append(" ").append(name);
  report.closing(written + " in " + o.out);
  report.closing("run: cd " + o.out + " && parclas" + run_options(o, p.size(), over_limit) + " < " +
                 std::string(kAnswersOut));
  if (!write_outputs(o, folder, prepared, o.data.empty() ? nullptr : &data, unknown, report, error)) {
    report.drop_closing();
    return stop(report, error, out, err);
  }
  report.summarize(out);
  return kPrepared;
}

}  // namespace

int run_prep(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string error;
  const auto options = parse_options(args, error);
  if (!options) {
    err << "parclas-prep: " << error << '\n' << kUsage;
    return kBadCommand;
  }
  if (options->action == Options::Action::Help) {
    out << kUsage;
    return kPrepared;
  }
  if (options->action == Options::Action::Version) {
    out << kVersion;
    return kPrepared;
  }
  return prepare(*options, out, err);
}

}  // namespace parclas::prep
