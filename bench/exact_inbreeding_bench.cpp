// Times the exact inbreeding against the plain Meuwissen and Luo method kept
// with the tests, and against the previous release's exact inbreeding where
// its benchmark program is given, on the pedigree of each relationship file
// (animal, sire and dam are the first three fields of a line; parents
// outside 1..largest animal count as unknown):
//
//   parclas-exact-inbreeding [--rounds R] [--exact-only] [--threads T]
//                            [--previous BIN] [--describe] ped.txt...
//
// Each method runs R times (default 5), in turn, so that a drifting machine
// affects all alike; the medians of the wall and processor times, their
// ratios, whether every coefficient is the same as Meuwissen and Luo's (bit
// for bit in single precision) and the memory are reported on standard
// output. --exact-only leaves Meuwissen and Luo out (it takes minutes at
// national size). --threads is handed to exact_inbreeding (0: its own
// choice). --previous BIN runs BIN --exact-only --rounds 1 on the same file
// in each round. --describe adds a summary of the pedigree: unknown parents,
// parent pairs, depth, ancestors of a sample of the youngest animals. The
// memory is the process's peak: give one file to read it for that file.
//
// The shapes it is meant for come from generate-case (see the README):
// herds, closed lines, the national shape and its harder forms with few
// popular AI bulls (--ai-bulls, --skew, --career, --missing-sire,
// --missing-dam).
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "inbreeding/exact_inbreeding.h"
#include "inbreeding/reference_meuwissen_luo.h"

namespace parclas {
namespace {

using Clock = std::chrono::steady_clock;

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t h = v.size() / 2;
  return v.size() % 2 == 1 ? v[h] : (v[h - 1] + v[h]) / 2.0;
}

double peak_megabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The first four integers of a line (animal, sire, dam, code); false at the end.
bool read_line(FILE* f, int64_t v[4]) {
  char line[256];
  if (std::fgets(line, sizeof line, f) == nullptr) return false;
  const char* p = line;
  for (int k = 0; k < 4; ++k) {
    char* end = nullptr;
    v[k] = std::strtoll(p, &end, 10);
    p = end;
  }
  // The rest of a line longer than the buffer.
  while (std::strchr(line, '\n') == nullptr && std::fgets(line, sizeof line, f) != nullptr) {
  }
  return true;
}

// Rows 0..n of the relationship file's animals (unknown parents 0), read in
// two passes so that nothing but the rows stays in memory.
std::vector<PedigreeRow> load(const char* path, int32_t& n) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    std::perror(path);
    std::exit(1);
  }
  int64_t v[4];
  int64_t largest = 0;
  while (read_line(f, v)) largest = std::max(largest, v[0]);
  if (largest > INT32_MAX - 1) {
    std::fprintf(stderr, "%s: animal numbers beyond 32 bits\n", path);
    std::exit(1);
  }
  n = static_cast<int32_t>(largest);
  std::vector<PedigreeRow> rows(static_cast<size_t>(n) + 1, PedigreeRow{0, 0, 0, 0});
  auto parent = [&](int64_t x) { return x >= 1 && x <= largest ? static_cast<int32_t>(x) : 0; };
  std::rewind(f);
  while (read_line(f, v)) {
    if (v[0] >= 1) rows[static_cast<size_t>(v[0])] = {parent(v[1]), parent(v[2]), 0, 0};
  }
  std::fclose(f);
  return rows;
}

void describe(const std::vector<PedigreeRow>& rows, int32_t n, const std::vector<float>& f) {
  int64_t sires = 0, dams = 0, both = 0;
  std::vector<std::pair<int32_t, int32_t>> pairs;
  for (int32_t a = 1; a <= n; ++a) {
    sires += rows[a].sire != 0;
    dams += rows[a].dam != 0;
    if (rows[a].sire != 0 && rows[a].dam != 0) {
      ++both;
      pairs.emplace_back(rows[a].sire, rows[a].dam);
    }
  }
  std::sort(pairs.begin(), pairs.end());
  const auto distinct = std::unique(pairs.begin(), pairs.end()) - pairs.begin();
  // Depth, where every parent has a lower number (the generator's order).
  std::vector<int32_t> depth(static_cast<size_t>(n) + 1, 0);
  int32_t deepest = 0;
  bool ordered = true;
  for (int32_t a = 1; a <= n; ++a) {
    for (const int32_t p : {rows[a].sire, rows[a].dam}) {
      if (p == 0) continue;
      if (p >= a) ordered = false;
      depth[a] = std::max(depth[a], depth[p] + 1);
    }
    deepest = std::max(deepest, depth[a]);
  }
  // Ancestors of the 1000 youngest animals of the highest numbers.
  std::vector<int32_t> mark(static_cast<size_t>(n) + 1, 0);
  std::vector<int32_t> queue;
  int64_t ancestor_sum = 0;
  int32_t ancestor_max = 0;
  const int32_t sample = std::min(n, 1000);
  for (int32_t a = n; a > n - sample; --a) {
    queue.assign({a});
    mark[a] = a;
    for (size_t k = 0; k < queue.size(); ++k) {
      for (const int32_t p : {rows[queue[k]].sire, rows[queue[k]].dam}) {
        if (p != 0 && mark[p] != a) {
          mark[p] = a;
          queue.push_back(p);
        }
      }
    }
    const auto count = static_cast<int32_t>(queue.size() - 1);
    ancestor_sum += count;
    ancestor_max = std::max(ancestor_max, count);
  }
  double f_sum = 0.0;
  float f_max = 0.0f;
  int64_t inbred = 0;
  for (int32_t a = 1; a <= n; ++a) {
    f_sum += f[a];
    f_max = std::max(f_max, f[a]);
    inbred += f[a] > 0.0f;
  }
  std::printf("animals %d; known sire %.1f%%, known dam %.1f%%; both known %lld in %lld distinct pairs\n",
              n, 100.0 * static_cast<double>(sires) / n, 100.0 * static_cast<double>(dams) / n,
              static_cast<long long>(both), static_cast<long long>(distinct));
  if (ordered) std::printf("depth up to %d\n", deepest);
  std::printf("ancestors of the %d highest numbers: mean %.0f, max %d\n", sample,
              static_cast<double>(ancestor_sum) / sample, ancestor_max);
  std::printf("inbred %lld, mean F %.6f, max F %.6f\n", static_cast<long long>(inbred), f_sum / n, f_max);
}

struct Options {
  int rounds = 5;
  bool exact_only = false;
  bool describe = false;
  unsigned threads = 0;
  const char* previous = nullptr;  // the previous release's parclas-exact-inbreeding
};

// One round of the previous release's exact inbreeding on `path`, run as its
// own benchmark with --exact-only --rounds 1: wall and processor seconds, the
// memory above its loaded pedigree; false when it cannot be run or read.
bool previous_round(const char* program, const char* path, double& wall, double& cpu, double& memory) {
  const std::string command = std::string("'") + program + "' --exact-only --rounds 1 '" + path + "'";
  FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) return false;
  char line[512];
  bool found = false;
  while (std::fgets(line, sizeof line, out) != nullptr) {
    double peak = 0.0;
    found = found || std::sscanf(line, "exact inbreeding, median of 1: %lf s (processor %lf s); peak memory %lf MB, %lf",
                                 &wall, &cpu, &peak, &memory) == 4;
  }
  return pclose(out) == 0 && found;
}

void run_file(const char* path, const Options& o) {
  int32_t n = 0;
  const std::vector<PedigreeRow> rows = load(path, n);
  std::vector<float> exact(static_cast<size_t>(n) + 1, 0.0f);
  std::vector<double> reference(static_cast<size_t>(n) + 1, 0.0);
  const double loaded = peak_megabytes();
  std::printf("%s: %d animals, loaded (peak %.0f MB)\n", path, n, loaded);

  // Methods in turn each round: this exact inbreeding, Meuwissen and Luo,
  // the previous release's.
  std::vector<double> wall[3];
  std::vector<double> cpu[3];
  double exact_peak = 0.0;
  double previous_memory = 0.0;
  bool previous_ok = o.previous != nullptr;
  ExactOutcome outcome[2];
  for (int r = 0; r < o.rounds; ++r) {
    for (int method = 0; method < 3; ++method) {
      if (method == 1 && o.exact_only) continue;
      if (method == 2) {
        double w = 0.0, c = 0.0;
        if (previous_ok && previous_round(o.previous, path, w, c, previous_memory)) {
          wall[2].push_back(w);
          cpu[2].push_back(c);
        } else if (previous_ok) {
          std::printf("  the previous release (%s) did not run\n", o.previous);
          previous_ok = false;
        }
        continue;
      }
      const Clock::time_point start = Clock::now();
      const double cpu_start = cpu_seconds();
      if (method == 0) {
        outcome[0] = exact_inbreeding(rows, n, exact, o.threads);
      } else {
        outcome[1] = reference::meuwissen_luo(rows, n, reference);
      }
      wall[method].push_back(std::chrono::duration<double>(Clock::now() - start).count());
      cpu[method].push_back(cpu_seconds() - cpu_start);
      if (method == 0 && r == 0) exact_peak = peak_megabytes();
      std::fflush(stdout);
    }
  }
  std::printf("exact inbreeding, median of %d: %.3f s (processor %.3f s); peak memory %.0f MB, %.0f MB above the loaded pedigree\n",
              o.rounds, median(wall[0]), median(cpu[0]), exact_peak, exact_peak - loaded);
  if (outcome[0].loop) std::printf("  loop: animal %d is its own ancestor\n", outcome[0].loop_animal);
  if (previous_ok) {
    std::printf("previous release, median of %d: %.3f s (processor %.3f s); %.0f MB above its loaded pedigree\n",
                o.rounds, median(wall[2]), median(cpu[2]), previous_memory);
    std::printf("ratio (previous release / exact): wall %.2f, processor %.2f\n", median(wall[2]) / median(wall[0]),
                median(cpu[2]) / median(cpu[0]));
  }
  if (!o.exact_only) {
    std::printf("Meuwissen and Luo, median of %d: %.3f s (processor %.3f s)\n", o.rounds,
                median(wall[1]), median(cpu[1]));
    std::printf("ratio (Meuwissen and Luo / exact): wall %.1f, processor %.1f\n",
                median(wall[1]) / median(wall[0]), median(cpu[1]) / median(cpu[0]));
    int64_t differ = 0;
    for (int32_t a = 1; a <= n; ++a) {
      differ += std::bit_cast<uint32_t>(exact[a]) != std::bit_cast<uint32_t>(static_cast<float>(reference[a]));
    }
    const bool same_loop = outcome[0].loop == outcome[1].loop && outcome[0].loop_animal == outcome[1].loop_animal;
    std::printf("values %s\n", differ == 0 && same_loop ? "identical" : "DIFFER");
    if (differ != 0) std::printf("  %lld animals differ\n", static_cast<long long>(differ));
  }
  std::printf("peak memory of the process %.0f MB\n", peak_megabytes());
  if (o.describe && !outcome[0].loop) describe(rows, n, exact);
}

int run(int argc, char** argv) {
  Options o;
  std::vector<const char*> paths;
  bool bad = false;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--rounds") == 0 && has_value) {
      o.rounds = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--threads") == 0 && has_value) {
      o.threads = static_cast<unsigned>(std::max(0, std::atoi(argv[++i])));
    } else if (std::strcmp(argv[i], "--previous") == 0 && has_value) {
      o.previous = argv[++i];
    } else if (std::strcmp(argv[i], "--exact-only") == 0) {
      o.exact_only = true;
    } else if (std::strcmp(argv[i], "--describe") == 0) {
      o.describe = true;
    } else if (argv[i][0] != '-') {
      paths.push_back(argv[i]);
    } else {
      bad = true;
    }
  }
  if (bad || paths.empty()) {
    std::fprintf(stderr,
                 "usage: parclas-exact-inbreeding [--rounds R] [--exact-only] [--threads T] [--previous BIN]\n"
                 "                                [--describe] ped.txt...\n");
    return 2;
  }
  for (const char* path : paths) run_file(path, o);
  return 0;
}

}  // namespace
}  // namespace parclas

int main(int argc, char** argv) { return parclas::run(argc, argv); }
