// Runs the program's stages one after the other, as the run driver does (with
// the program's own command-line options), and
// reports the wall time of each stage and the peak memory on the error
// stream. The console goes to standard output as in a normal run, so the two
// can be compared. Run it in a run folder with the answers on standard input:
//
//   parclas-stages < answers > console
//
// With --compare-with FILE, where FILE holds the report of another build (of
// the previous release, say) on the same case, each stage's line also shows
// that build's wall seconds and the ratio of the two (wall seconds: a stage
// that shares its work with other threads takes less of them, not less
// processor time of its own thread).
//
// With --inbreeding-vs-reference R it also times, after the data scan, the
// inbreeding computation against the straightforward one kept in the tests,
// R times each in turn on copies of the same loaded pedigree, checks that both
// give the same values and console, and reports the medians and their ratio.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "driver/driver.h"
#include "inbreeding/inbreeding.h"
#include "inbreeding/reference_inbreeding.h"
#include "run/run.h"

namespace parclas {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of this thread: less disturbed than the wall time by other
// work on the machine.
double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t h = v.size() / 2;
  return v.size() % 2 == 1 ? v[h] : (v[h - 1] + v[h]) / 2.0;
}

long peak_kilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// HAINB and the straightforward HAINB, in turn, on the pedigree as the data
// scan left it.
void compare_inbreeding(Run& run, int rounds) {
  const int32_t n = run.t.largest_animal;
  std::vector<PedigreeRow> loaded(run.t.pedigree.data(), run.t.pedigree.data() + n + 1);
  auto reference_work = std::make_unique_for_overwrite<reference::Work>();
  reference_work->reset();
  const float prior[kYears] = {};
  std::vector<double> fast_times;
  std::vector<double> reference_times;
  std::vector<double> fast_cpu;
  std::vector<double> reference_cpu;
  std::vector<int32_t> fast_values;
  std::vector<int32_t> reference_values;
  std::string fast_console;
  std::string reference_console;
  for (int r = 0; r < rounds; ++r) {
    for (const bool fast : {true, false}) {
      std::copy(loaded.begin(), loaded.end(), run.t.pedigree.data());
      std::istringstream no_input;
      std::ostringstream console;
      TextIO io(no_input, console, std::cerr);
      Run side{io, run.t, run.work};
      const Clock::time_point start = Clock::now();
      const double cpu_start = cpu_seconds();
      if (fast) {
        hainb(side, n, prior);
      } else {
        reference::hainb(side, *reference_work, n, prior, run.t.capacity.family);
      }
      (fast ? fast_times : reference_times).push_back(seconds_since(start));
      (fast ? fast_cpu : reference_cpu).push_back(cpu_seconds() - cpu_start);
      std::vector<int32_t>& values = fast ? fast_values : reference_values;
      values.clear();
      for (int32_t a = 1; a <= n; ++a) values.push_back(run.t.pedigree[a].inbreeding);
      (fast ? fast_console : reference_console) = console.str();
    }
  }
  std::copy(loaded.begin(), loaded.end(), run.t.pedigree.data());
  const double fast = median(fast_times);
  const double slow = median(reference_times);
  std::fprintf(stderr, "HAINB, median of %d: %.3f s; straightforward: %.3f s; ratio %.1f\n", rounds,
               fast, slow, slow / fast);
  std::fprintf(stderr, "  processor time: %.3f s; straightforward: %.3f s; ratio %.1f\n",
               median(fast_cpu), median(reference_cpu), median(reference_cpu) / median(fast_cpu));
  std::fprintf(stderr, "  values %s, console %s\n",
               fast_values == reference_values ? "identical" : "DIFFER",
               fast_console == reference_console ? "identical" : "DIFFERS");
}

// The wall seconds of each stage in a report of this program.
std::vector<std::pair<std::string, double>> read_report(const std::string& path) {
  std::vector<std::pair<std::string, double>> stages;
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return stages;
  char line[256];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    const size_t cpu_at = text.find_last_of(' ');
    if (cpu_at == std::string::npos) continue;
    const std::string head = text.substr(0, cpu_at);
    const size_t wall_at = head.find_last_not_of(' ');
    const size_t name_end = head.find_last_of(' ', wall_at);
    if (name_end == std::string::npos) continue;
    char* end = nullptr;
    (void)std::strtod(text.c_str() + cpu_at + 1, &end);
    if (end == text.c_str() + cpu_at + 1) continue;
    const double wall = std::strtod(head.c_str() + name_end + 1, &end);
    if (end == head.c_str() + name_end + 1) continue;
    std::string name = head.substr(0, name_end);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    stages.emplace_back(name, wall);
  }
  std::fclose(f);
  return stages;
}

int run_timed(int compare_rounds, const Options& options, const std::string& compare_with) {
  auto tables = std::make_unique_for_overwrite<RunTables>();
  auto work = std::make_unique_for_overwrite<InbreedingWork>();
  tables->reset_unsized(options.capacity, options.method);
  tables->threads = options.threads;
  work->reset();
  TextIO io(std::cin, std::cout, std::cerr);
  Run run{io, *tables, *work};

  struct Timing {
    const char* name;
    double wall;
    double cpu;
  };
  std::vector<Timing> times;
  int status = 0;
  try {
    for (const Stage& stage : run_stages()) {
      if (std::strcmp(stage.name, "inbreeding") == 0 && compare_rounds > 0) {
        compare_inbreeding(run, compare_rounds);
      }
      const Clock::time_point begin = Clock::now();
      const double cpu_begin = cpu_seconds();
      stage.run(run);
      times.push_back({stage.name, seconds_since(begin), cpu_seconds() - cpu_begin});
    }
    const Clock::time_point begin = Clock::now();
    const double cpu_begin = cpu_seconds();
    status = io.close_all();
    times.push_back({"closing files", seconds_since(begin), cpu_seconds() - cpu_begin});
  } catch (const RunEnd& end) {
    work->wait_for_threads();
    status = end.status;
    if (end.plain) {
      io.close_all();
    } else {
      io.close_all_quietly();
    }
    std::fprintf(stderr, "the run stopped after %zu stages\n", times.size());
  }
  std::cout.flush();
  const std::vector<std::pair<std::string, double>> other = read_report(compare_with);
  auto line = [&](const char* name, double wall, double cpu) {
    std::fprintf(stderr, "%-24s %9.3f %9.3f", name, wall, cpu);
    for (const auto& [other_name, other_wall] : other) {
      if (other_name == name && wall > 0.0005) {
        std::fprintf(stderr, " %9.3f %7.2f", other_wall, other_wall / wall);
      }
    }
    std::fprintf(stderr, "\n");
  };
  std::fprintf(stderr, "%-24s %9s %9s%s\n", "stage", "seconds", "processor",
               other.empty() ? "" : "     other   ratio");
  double whole = 0.0;
  double whole_cpu = 0.0;
  for (const Timing& t : times) {
    line(t.name, t.wall, t.cpu);
    whole += t.wall;
    whole_cpu += t.cpu;
  }
  line("whole run", whole, whole_cpu);
  std::fprintf(stderr, "%-24s %9.1f MB\n", "peak memory", static_cast<double>(peak_kilobytes()) / 1024.0);
  return status;
}

}  // namespace
}  // namespace parclas

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  int rounds = 0;
  std::string compare_with;
  std::vector<std::string> arguments(argv + 1, argv + argc);
  while (arguments.size() >= 2) {
    if (arguments[0] == "--inbreeding-vs-reference") {
      rounds = std::atoi(arguments[1].c_str());
    } else if (arguments[0] == "--compare-with") {
      compare_with = arguments[1];
    } else {
      break;
    }
    arguments.erase(arguments.begin(), arguments.begin() + 2);
  }
  const parclas::Options options = parclas::parse_options(arguments);
  if (options.action != parclas::Options::Action::Run) {
    std::fprintf(stderr,
                 "usage: parclas-stages [--inbreeding-vs-reference ROUNDS] [--compare-with REPORT] "
                 "[parclas options] "
                 "< answers\n");
    return 2;
  }
  return parclas::run_timed(rounds, options, compare_with);
}
