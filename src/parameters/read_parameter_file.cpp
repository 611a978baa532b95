#include "run/run.h"
#include "parameters/parameter_file.h"

namespace parclas {

namespace {
const Format kIncomplete("(' file ',A,' incomplete')");
}

void read_parameter_file(Run& run) {
  TextIO& io = run.io;
  RunTables& t = run.t;
  const std::string_view name = text_of(t.parameter_file);
  io.connect(kParameterUnit, name, FileUse::Input);

  auto incomplete = [&] {
    io.write_formatted(kConsoleOut, kIncomplete, {name});
    io.plain_stop();
  };
  if (io.read_text(kParameterUnit, t.data_file) != ReadResult::Ok) incomplete();
  if (io.read_text(kParameterUnit, t.relationship_file) != ReadResult::Ok) incomplete();
  if (io.skip_line(kParameterUnit) != ReadResult::Ok) incomplete();
  int32_t counts[2] = {0, 0};
  if (io.read_integers(kParameterUnit, counts) != ReadResult::Ok) incomplete();
  const int32_t effects = counts[0];
  const int32_t declared_length = counts[1];
  if (effects > kMaxEffects) {
    io.write_list(kConsoleOut, {"at most 20 effects allowed, parameter file has: ", effects});
    io.plain_stop();
  }
  float effect[kMaxEffects][3] = {};
  for (int32_t i = 0; i < effects; ++i) {
    if (io.read_reals(kParameterUnit, effect[i]) != ReadResult::Ok) incomplete();
  }
  if (effects < 1 || !(effect[effects - 1][2] < 0.0f)) {
    io.write_list(kConsoleOut, {"last effect in", name, " is not animal"});
    io.plain_stop();
  }
  t.animal_column = truncate_to_integer(effect[effects - 1][0]);
  t.record_length = declared_length >= t.animal_column ? declared_length : t.animal_column;
  if (t.animal_column < 1) {
    io.write_list(kConsoleOut, {"animal column must be at least 1: ", t.animal_column});
    io.plain_stop();
  }
  if (t.record_length > kMaxRecordLength) {
    io.write_list(kConsoleOut, {"record length must be at most 48: ", t.record_length});
    io.plain_stop();
  }
  io.write_list(kConsoleOut,
                {"files: ", name, text_of(t.relationship_file), text_of(t.data_file)});
  io.close(kParameterUnit);
}

}  // namespace parclas
