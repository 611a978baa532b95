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
  // The tables are taken zero-filled, sized by the capacities; with animals
  // "auto" the pedigree tables are still empty, and the load sizes them.
  run.t.size_tables();
}

}  // namespace parclas
