#include "run/run.h"

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
  RunTables& t = run.t;
  // With animals "auto" the pedigree table is still empty: the load sizes it.
  if (t.capacity.animals > 0) zero_fill(&t.pedigree[1], int64_t{t.capacity.animals} * 4);
  zero_fill(&t.combination[1], int64_t{t.capacity.classes} * kCombinationWidth);
}

}  // namespace parclas
