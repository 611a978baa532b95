#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>
#include <thread>
#include <utility>

#include "inbreeding/inbreeding.h"
#include "run/run.h"
#include "text/fields.h"
#include "text/line_blocks.h"
#include "text/progress.h"

namespace parclas {

namespace {
const Identifier kNoIdentifier{};
// The four numbers, one blank and the 16 characters of the identifier.
constexpr size_t kCoefficientLine = 4 * kSplicedWidth + 1 + kIdWidth;

// The code a line's parents imply: 1 with both parents among the animal
// numbers, 3 with neither, else 2.
int32_t implied_code(int32_t sire, int32_t dam, int32_t largest_animal) {
  const bool sire_known = sire >= 1 && sire <= largest_animal;
  const bool dam_known = dam >= 1 && dam <= largest_animal;
  return sire_known && dam_known ? 1 : (!sire_known && !dam_known ? 3 : 2);
}

// The parents' inbreeding (thousandths fs, fd) as it enters the Mendelian
// sampling variance of the line's animal under `code`. With code 2 and the
// unknown parent written as 0 the known parent counts once; otherwise the
// parent with the larger number counts twice, which gives the known parent
// once when the unknown one is a group number (its inbreeding is 0).
float parent_term(int32_t code, int32_t sire, int32_t dam, int32_t fs, int32_t fd) {
  switch (code) {
    case 1:
      return static_cast<float>(fs + fd) * 0.001f;
    case 2:
      if (sire == 0) return static_cast<float>(fd) * 0.001f;
      if (dam == 0) return static_cast<float>(fs) * 0.001f;
      return sire > dam ? (2.0f * static_cast<float>(fs) + static_cast<float>(fd)) * 0.001f
                        : (static_cast<float>(fs) + 2.0f * static_cast<float>(fd)) * 0.001f;
    default:
      return static_cast<float>(fs + fd) * 0.002f;
  }
}

// The coefficient line of one relationship-file record (animal, sire, dam,
// code) in `line`, of the returned length; 0 when its coefficient cannot be
// computed.
size_t coefficient_line(const RunTables& t, const int32_t (&v)[4], char (&line)[kCoefficientLine]) {
  auto inbreeding = [&](int32_t x) {
    return (x >= 1 && x <= t.capacity.animals) ? t.pedigree[x].inbreeding : 0;
  };
  const int32_t animal = v[0];
  const int32_t sire = v[1];
  const int32_t dam = v[2];
  const int32_t code = v[3];
  // A code outside 1..3, or code 2 naming one animal as both parents, says
  // nothing usable: the parents decide.
  const int32_t rule = (code < 1 || code > 3 || (code == 2 && sire == dam))
                           ? implied_code(sire, dam, t.largest_animal)
                           : code;
  const float term = parent_term(rule, sire, dam, inbreeding(sire), inbreeding(dam));
  const float divisor = static_cast<float>(rule + 1) - term;
  const float scaled = divisor != 0.0f ? 4.0f / divisor * 1000.0f : 0.0f;
  if (divisor == 0.0f || !(scaled < 2147483648.0f && scaled >= -2147483648.0f)) return 0;
  const int32_t numbers[4] = {animal, sire, dam, static_cast<int32_t>(scaled)};
  const int p = splice_integers(line, numbers);
  const Identifier& id =
      (animal >= 1 && animal <= t.capacity.animals) ? t.identifier[animal] : kNoIdentifier;
  line[p] = ' ';
  std::memcpy(line + p + 1, id.data(), kIdWidth);
  return static_cast<size_t>(p) + 1 + kIdWidth;
}

[[noreturn]] void stop_unusable(TextIO& io, int32_t animal, int32_t code) {
  io.write_list(kConsoleOut, {"cannot compute coefficient for animal ", animal, " with code ", code});
  io.plain_stop();
}

constexpr size_t kLinesPerBlock = 1 << 15;

// On the second thread: the records of plain integers from the start of the
// relationship file, as long as they come, made into lines. Whatever would
// be reported (a read the system refuses, a line that list-directed input
// reads by its full rules, a coefficient that cannot be computed) ends the
// work ahead and is left for the stage's turn, which reads on from there.
void make_lines_ahead(Run& run) {
  InbreedingWork::CoefficientsAhead& ahead = run.work.coefficients_ahead;
  const RunTables& t = run.t;
  TextIO& io = run.io;
  if (!io.try_rewind(kRelationshipUnit)) return;
  ahead.started = true;
  struct Deferred {
    TextIO& io;
    explicit Deferred(TextIO& text) : io(text) { io.defer_read_failures(true); }
    ~Deferred() { io.defer_read_failures(false); }
  } deferred(io);
  ahead.blocks.reserve(static_cast<size_t>(t.pedigree_records) / kLinesPerBlock + 1);
  char line[kCoefficientLine];
  int32_t v[4] = {0, 0, 0, 0};
  while (ahead.records < t.pedigree_records) {
    if (io.read_plain_record(kRelationshipUnit, v) != PlainRead::Record) return;
    const size_t length = coefficient_line(t, v, line);
    if (length == 0) {
      ahead.unusable = true;
      ahead.unusable_animal = v[0];
      ahead.unusable_code = v[3];
      return;
    }
    if (ahead.blocks.empty() || ahead.blocks.back().ends.size() >= kLinesPerBlock) {
      ahead.blocks.emplace_back();
    }
    ahead.blocks.back().add(kCoefficientUnit, std::string_view(line, length));
    ++ahead.records;
    std::copy(v, v + 4, ahead.last);
  }
}

}  // namespace

void start_pedigree_coefficients(Run& run) {
  if (run.t.threads < 2) return;
  InbreedingWork::CoefficientsAhead& ahead = run.work.coefficients_ahead;
  ahead = InbreedingWork::CoefficientsAhead{};
  ahead.thread = std::jthread([&run, &ahead] {
    StageProgress::quiet = true;
    try {
      make_lines_ahead(run);
    } catch (...) {
      ahead.failure = std::current_exception();
    }
  });
}

void write_pedigree_coefficients(Run& run) {
  TextIO& io = run.io;
  const RunTables& t = run.t;
  InbreedingWork::CoefficientsAhead& ahead = run.work.coefficients_ahead;
  int32_t v[4] = {0, 0, 0, 0};
  int32_t done = 0;
  if (ahead.thread.joinable()) ahead.thread.join();
  if (ahead.failure) std::rethrow_exception(std::exchange(ahead.failure, nullptr));
  if (ahead.started) {
    for (LineBlock& block : ahead.blocks) {
      block.write([&](int unit, std::string_view text) { io.write_line(unit, text); });
      block = LineBlock{};  // its memory back at once
    }
    if (ahead.unusable) stop_unusable(io, ahead.unusable_animal, ahead.unusable_code);
    done = ahead.records;
    std::copy(ahead.last, ahead.last + 4, v);
  } else {
    io.rewind(kRelationshipUnit);
  }
  char line[kCoefficientLine];
  for (int32_t r = done; r < t.pedigree_records; ++r) {
    io.require(io.read_integers(kRelationshipUnit, v), kRelationshipUnit);
    const size_t length = coefficient_line(t, v, line);
    if (length == 0) stop_unusable(io, v[0], v[3]);
    io.write_line(kCoefficientUnit, std::string_view(line, length));
  }
  ahead = InbreedingWork::CoefficientsAhead{};
}

}  // namespace parclas
