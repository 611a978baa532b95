#include "driver/driver.h"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <iostream>
#include <istream>
#include <ostream>

#include "classes/class_inverse.h"
#include "classes/classes.h"
#include "inbreeding/inbreeding.h"
#include "parameters/parameter_file.h"
#include "pedigree/relationship_file.h"
#include "recode/data_file.h"
#include "run/file_set.h"
#include "run/run.h"
#include "run/table_memory.h"
#include "text/progress.h"

namespace parclas {

namespace {

constexpr Stage kStages[] = {
    {"console questions", ask_questions},
    {"parameter file", read_parameter_file},
    {"output names", check_output_names},
    {"file set", open_file_set},
    {"class inverse file", open_class_inverse},
    {"tables", clear_tables},
    {"relationship file", load_relationship_file},
    {"inbreeding start", start_inbreeding},
    {"data scan", scan_data_file},
    {"first pass count", count_first_pass_pairs},
    {"inbreeding", report_inbreeding},
    {"data scan report", report_data_scan},
    {"coefficients start", start_pedigree_coefficients},
    {"expansion", expand_combinations},
    {"numbering", number_classes},
    {"pedigree coefficients", write_pedigree_coefficients},
    {"class files", write_class_files},
    {"recoded data", write_recoded_data},
    {"new parameter file", write_parameter_file},
    {"class inverse", write_class_inverse},
    {"unwritten outputs", empty_unwritten_outputs},
};

}  // namespace

std::span<const Stage> run_stages() { return kStages; }

namespace {

// With a size set to auto, the sizes the run settled on: a run given them
// explicitly writes the same bytes.
void report_sizes(std::ostream& err, const RunTables& t, const Options& options) {
  if (!options.any_auto()) return;
  int32_t family = options.capacity.family;
  if (options.capacity.auto_family) {
    // The exact method builds no family: any limit gives its bytes.
    family = t.method == InbreedingMethod::Exact ? Capacities{}.family
                                                 : std::max(t.largest_family, int32_t{1});
  }
  err << "sizes used: --max-animals " << std::max(t.capacity.animals, int32_t{1})
      << " --max-family " << family << " --max-classes " << t.capacity.classes << '\n';
}

}  // namespace

int run_parclas(std::istream& in, std::ostream& out, std::ostream& err, RunTables& tables,
                InbreedingWork& work, const Options& options) {
  tables.reset_unsized(options.capacity, options.method);
  tables.threads = options.threads;
  tables.class_inverse = options.class_inverse;
  work.reset();
  TextIO io(in, out, err);
  Run run{io, tables, work};
  // Unless the run ends normally, the inverse written beside its file goes.
  struct DiscardInverse {
    RunTables& t;
    ~DiscardInverse() { discard_class_inverse(t); }
  } discard_inverse{tables};
  const char* stage_name = "start";
  ProgressLine progress(&err == &std::cerr && ::isatty(STDERR_FILENO) == 1);
  try {
    for (const Stage& stage : kStages) {
      stage_name = stage.name;
      progress.stage(stage.name);
      stage.run(run);
    }
    progress.stage(nullptr);
  } catch (const RunEnd& end) {
    // The threads working ahead read the tables and the relationship file:
    // they end before any file is closed. So in every ending below.
    work.wait_for_threads();
    progress.stage(nullptr);
    if (!end.plain) {
      io.close_all_quietly();
      return end.status;
    }
    const int closed = io.close_all();
    if (closed != kNormalEnd) return closed;
    report_sizes(err, tables, options);
    return end.status;
  } catch (const std::bad_alloc&) {
    work.wait_for_threads();
    progress.stage(nullptr);
    // Not a fault of the program: the machine has less memory than the
    // input needs (see the README for what each size needs).
    out.exceptions(std::ios::goodbit);
    err.exceptions(std::ios::goodbit);
    out.flush();
    err << "parclas: out of memory in " << stage_name << ": about "
        << std::max<size_t>(1, (failed_request_bytes() + (size_t{1} << 20) - 1) >> 20)
        << " MB more were needed\n";
    err.flush();
    io.close_all_quietly();
    return kOutOfMemoryStatus;
  } catch (const std::exception& e) {
    work.wait_for_threads();
    progress.stage(nullptr);
    // A fault of the program itself, not of its input: said as such, with
    // every file closed holding what it received. The console may be what
    // failed, so its streams throw no more from here on.
    out.exceptions(std::ios::goodbit);
    err.exceptions(std::ios::goodbit);
    out.flush();
    err << "parclas: internal error: " << e.what() << '\n';
    err.flush();
    io.close_all_quietly();
    return kInternalErrorStatus;
  }
  int closed = io.close_all();
  if (closed == kNormalEnd) closed = commit_class_inverse(io, tables, err);
  if (closed == kNormalEnd) report_sizes(err, tables, options);
  return closed;
}

int run_parclas(std::istream& in, std::ostream& out, std::ostream& err, RunTables& tables,
                InbreedingWork& work) {
  const Options defaults;
  return run_parclas(in, out, err, tables, work, defaults);
}

int parclas_main(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
                 std::ostream& err, RunTables& tables, InbreedingWork& work) {
  const Options options = parse_options(arguments);
  switch (options.action) {
    case Options::Action::Refuse:
      err << "parclas: " << options.refusal << '\n' << kUsage;
      return kUsageStatus;
    case Options::Action::Help:
      out << kUsage;
      return out.flush() ? kNormalEnd : kUsageStatus;
    case Options::Action::Version:
      out << kVersion;
      return out.flush() ? kNormalEnd : kUsageStatus;
    case Options::Action::Run:
      break;
  }
  return run_parclas(in, out, err, tables, work, options);
}

}  // namespace parclas
