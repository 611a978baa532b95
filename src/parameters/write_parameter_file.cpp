#include <array>
#include <cstring>

#include "run/run.h"
#include "parameters/parameter_file.h"

namespace parclas {

namespace {
constexpr int kHeadWidth = 40;
const Format kText("(A)");
const Format kCounts("(I3,I3,F4.1,I2)");
const Format kEffect("(3I8)");
const Format kClosing("(5I8)");
}  // namespace

void write_parameter_file(Run& run) {
  TextIO& io = run.io;
  RunTables& t = run.t;
  const int32_t total_classes =
      t.classes_with_parents + t.classes_without_parents + t.own_class_animals;
  io.connect(kParameterUnit, text_of(t.parameter_file), FileUse::Input);

  std::array<char, kHeadWidth> head[3];
  for (auto& line : head) io.require(io.read_text(kParameterUnit, line), kParameterUnit);
  int32_t counts[2] = {0, 0};
  io.require(io.read_integers(kParameterUnit, counts), kParameterUnit);
  const int32_t effects = counts[0];
  if (effects > kMaxEffects) {  // the file changed since it was first read
    io.write_list(kConsoleOut, {"at most 20 effects allowed, parameter file has: ", effects});
    io.plain_stop();
  }
  const int32_t rows = effects > 0 ? effects : 0;
  float effect[kMaxEffects + 1][3] = {};
  for (int32_t i = 0; i < rows; ++i) {
    io.require(io.read_reals(kParameterUnit, effect[i]), kParameterUnit);
  }
  effect[rows][0] = static_cast<float>(t.record_length + 2);
  effect[rows][1] = static_cast<float>(total_classes);
  effect[rows][2] = 10.0f;

  // Lines 1 and 2 name the recoded data file and the pedigree coefficient file.
  char line[6 + kHeadWidth];
  std::memcpy(line, "domrec", 6);
  std::memcpy(line + 6, head[0].data(), kHeadWidth);
  io.write_formatted(kNewParameterUnit, kText, {std::string_view(line, 6 + kHeadWidth)});
  line[0] = 'd';
  std::memcpy(line + 1, head[1].data(), kHeadWidth);
  io.write_formatted(kNewParameterUnit, kText, {std::string_view(line, 1 + kHeadWidth)});
  io.write_formatted(kNewParameterUnit, kText, {std::string_view(head[2].data(), kHeadWidth)});
  io.write_formatted(kNewParameterUnit, kCounts, {effects + 2, counts[1], 0.7f, 1});
  auto write_effect = [&](const float (&e)[3]) {
    io.write_formatted(kNewParameterUnit, kEffect,
                       {truncate_to_integer(e[0]), truncate_to_integer(e[1]),
                        truncate_to_integer(e[2])});
  };
  write_effect(effect[0]);
  io.write_formatted(kNewParameterUnit, kEffect, {t.record_length + 1, -1, 0});
  for (int32_t i = 1; i <= rows; ++i) write_effect(effect[i]);
  io.write_formatted(kNewParameterUnit, kClosing, {t.pedigree_records, t.classes_with_parents});
}

}  // namespace parclas
