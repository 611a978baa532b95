#include <exception>
#include <latch>
#include <memory>
#include <utility>

#include "inbreeding/exact_inbreeding.h"
#include "inbreeding/inbreeding.h"
#include "run/run.h"

namespace parclas {

namespace {
const Format kHeading("(/' Inbreeding')");
const Format kYearHeader("('  year    #   average inbreeding')");
const Format kYearLine("(I4.2,I7,F8.3)");
const Format kExactDone("('   exact inbreeding (indirect method) of',I10,' animals')");

std::span<const PedigreeRow> animals_of(Run& run, int32_t n) {
  return {run.t.pedigree.data(), static_cast<size_t>(n < 0 ? 0 : n) + 1};
}

// Every animal's inbreeding computed exactly (or taken from the thread that
// computed it while the data file was scanned) and stored as the family
// method stores its single-precision value.
void exact(Run& run, int32_t n) {
  InbreedingWork& w = run.work;
  ExactOutcome outcome;
  if (w.exact_thread.joinable()) {
    w.exact_thread.join();
    if (w.exact_failure) std::rethrow_exception(std::exchange(w.exact_failure, nullptr));
    outcome = w.exact_outcome;
  } else {
    w.coefficient.assign(animals_of(run, n).size(), 0.0f);
    outcome = exact_inbreeding(animals_of(run, n), n, w.coefficient);
  }
  if (outcome.loop) {
    run.io.write_list(kConsoleOut,
                      {"pedigree loop: animal is its own ancestor: ", outcome.loop_animal});
    run.io.plain_stop();
  }
  PedigreeRow* ped = run.t.pedigree;
  for (int32_t a = 1; a <= n; ++a) ped[a].inbreeding = truncate_to_integer(w.coefficient[a] * 1000.0f);
  run.io.write_formatted(kConsoleOut, kExactDone, {n});
}
}  // namespace

void start_inbreeding(Run& run) {
  if (run.t.method != InbreedingMethod::Exact || run.t.threads < 2) return;
  InbreedingWork& w = run.work;
  const std::span<const PedigreeRow> animals = animals_of(run, run.t.largest_animal);
  w.coefficient.assign(animals.size(), 0.0f);
  w.exact_failure = nullptr;
  // The data scan puts each recorded animal's parents in ascending order in
  // the pedigree table: it starts once the method has taken the parents.
  // Both threads own the latch: the one counting it down may still touch it
  // after this one has gone on.
  const auto parents_read = std::make_shared<std::latch>(1);
  w.exact_thread = std::jthread([&w, animals, parents_read] {
    try {
      w.exact_outcome = exact_inbreeding(animals, static_cast<int32_t>(animals.size() - 1),
                                         w.coefficient, 0, parents_read.get());
    } catch (...) {
      w.exact_failure = std::current_exception();
    }
  });
  parents_read->wait();
}

void report_inbreeding(Run& run) {
  TextIO& io = run.io;
  const PedigreeRow* ped = run.t.pedigree;
  const int32_t n = run.t.largest_animal;
  io.write_formatted(kConsoleOut, kHeading, {});

  float year_sum[kYears + 1] = {};
  int32_t year_count[kYears + 1] = {};
  if (run.t.method == InbreedingMethod::Exact) {
    exact(run, n);
  } else {
    // The prior inbreeding of the unknown-parent groups: the year sums, all
    // zero until they are summed below, so every group is unrelated and not
    // inbred.
    hainb(run, n, std::span<const float>(&year_sum[1], kYears));
  }

  // Single-precision sums in animal order: the printed averages are those of
  // this accumulation.
  float total = 0.0f;
  for (int32_t a = 1; a <= n; ++a) {
    const float value = static_cast<float>(ped[a].inbreeding);
    total = total + value;
    if (ped[a].sire != 0 && ped[a].dam != 0) {
      const int32_t y = ped[a].year;
      if (y >= 1 && y <= kYears) {
        year_sum[y] = year_sum[y] + value;
        ++year_count[y];
      }
    }
  }
  const float average = n > 0 ? total / 1000.0f / static_cast<float>(n) : 0.0f;
  io.write_list(kConsoleOut, {"average inbreeding=", average});
  io.write_formatted(kConsoleOut, kYearHeader, {});
  for (int32_t y = 1; y <= kYears; ++y) {
    if (year_count[y] == 0) continue;
    year_sum[y] = year_sum[y] / static_cast<float>(year_count[y]) / 1000.0f;
    io.write_formatted(kConsoleOut, kYearLine, {y, year_count[y], year_sum[y]});
  }
}

}  // namespace parclas
