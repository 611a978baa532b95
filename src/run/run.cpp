#include "run/run.h"

#include <istream>
#include <ostream>

#include "classes/classes.h"
#include "inbreeding/inbreeding.h"
#include "pedigree/relationship_file.h"
#include "recode/data_file.h"
#include "run/file_set.h"
#include "text/parameter_file.h"

namespace parclas {

void ask_questions(Run& run) {
  TextIO& io = run.io;
  io.write_list(kConsoleOut, {" PARCLAS Feb 08, 1999"});
  io.write_list(kConsoleOut, {"Oru parameter file?"});
  io.require(io.read_text(kConsoleIn, run.t.parameter_file), kConsoleIn);
  io.write_list(kConsoleOut, {"max recursions?"});
  io.require(io.read_integers(kConsoleIn, std::span<int32_t>(&run.t.maximum_passes, 1)), kConsoleIn);
}

void clear_tables(Run& run) {
  zero_fill(&run.t.pedigree[1], int64_t{relmax} * 4);
  zero_fill(&run.t.combination[1], int64_t{kCombinationRows} * kCombinationWidth);
}

namespace {

int32_t total_classes(const RunTables& t) {
  return t.classes_with_parents + t.classes_without_parents + t.own_class_animals;
}

// The run, stage by stage.
void run_stages(Run& run) {
  ask_questions(run);
  read_parameter_file(run);
  check_output_names(run);
  open_file_set(run);
  clear_tables(run);
  load_relationship_file(run);
  scan_data_file(run);
  report_inbreeding(run);
  report_data_scan(run);
  expand_combinations(run);
  number_classes(run);
  write_pedigree_coefficients(run);
  wrclass(run);
  write_recoded_data(run);
  write_parameter_file(run, total_classes(run.t));
  empty_unwritten_outputs(run);
}

}  // namespace

int run_parclas(std::istream& in, std::ostream& out, std::ostream& err, RunTables& tables,
                InbreedingWork& work) {
  tables.reset();
  work.reset();
  TextIO io(in, out, err);
  Run run{io, tables, work};
  try {
    run_stages(run);
  } catch (const RunEnd& end) {
    if (end.status != 0) {
      io.close_all_quietly();
      return end.status;
    }
  }
  return io.close_all();
}

}  // namespace parclas
