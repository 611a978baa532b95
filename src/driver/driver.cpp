#include "driver/driver.h"

#include <exception>
#include <istream>
#include <ostream>

#include "classes/classes.h"
#include "inbreeding/inbreeding.h"
#include "parameters/parameter_file.h"
#include "pedigree/relationship_file.h"
#include "recode/data_file.h"
#include "run/file_set.h"
#include "run/run.h"

namespace parclas {

namespace {

constexpr Stage kStages[] = {
    {"console questions", ask_questions},
    {"parameter file", read_parameter_file},
    {"output names", check_output_names},
    {"file set", open_file_set},
    {"tables", clear_tables},
    {"relationship file", load_relationship_file},
    {"data scan", scan_data_file},
    {"inbreeding", report_inbreeding},
    {"data scan report", report_data_scan},
    {"expansion", expand_combinations},
    {"numbering", number_classes},
    {"pedigree coefficients", write_pedigree_coefficients},
    {"class files", wrclass},
    {"recoded data", write_recoded_data},
    {"new parameter file", write_parameter_file},
    {"unwritten outputs", empty_unwritten_outputs},
};

}  // namespace

std::span<const Stage> run_stages() { return kStages; }

int run_parclas(std::istream& in, std::ostream& out, std::ostream& err, RunTables& tables,
                InbreedingWork& work) {
  tables.reset();
  work.reset();
  TextIO io(in, out, err);
  Run run{io, tables, work};
  try {
    for (const Stage& stage : kStages) stage.run(run);
  } catch (const RunEnd& end) {
    if (!end.plain) {
      io.close_all_quietly();
      return end.status;
    }
    const int closed = io.close_all();
    return closed != kNormalEnd ? closed : end.status;
  } catch (const std::exception& e) {
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
  return io.close_all();
}

}  // namespace parclas
