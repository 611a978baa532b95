// The run driver: the stages of a run in their order, and the program's entry.
#pragma once

#include <iosfwd>
#include <span>

#include "driver/options.h"

namespace parclas {

struct Run;
struct InbreedingWork;

// One stage of the run: a name for reports and timings, and its function.
struct Stage {
  const char* name;
  void (*run)(Run&);
};

// Every stage of a run, in the order the run takes them.
std::span<const Stage> run_stages();

// Runs the whole program once with the given console streams, in the
// current directory. Returns the exit status: 0 at the normal end, 1 at a
// stop, the error number of a read-error report, 70 at an internal error.
int run_parclas(std::istream& in, std::ostream& out, std::ostream& err, RunTables& tables,
                InbreedingWork& work, const Options& options);
// The same without options: the defined capacities and method.
int run_parclas(std::istream& in, std::ostream& out, std::ostream& err, RunTables& tables,
                InbreedingWork& work);

// The program with its command line: refuses a bad one (usage, exit status
// 2, nothing opened), answers --help and --version, else runs.
int parclas_main(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
                 std::ostream& err, RunTables& tables, InbreedingWork& work);

}  // namespace parclas
