// Micro-benchmarks of the hot pieces of a run: list-directed integer reading,
// the line field splitter, the combination table look-up and the inbreeding
// kernel (against the straightforward whole-table kernel).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "classes/combination_table.h"
#include "inbreeding/inbreeding.h"
#include "inbreeding/reference_inbreeding.h"
#include "text/text_io.h"
#include "text/fields.h"
#include "splitmix.h"

namespace parclas {
namespace {


// A data file of 200,000 records of six integers, like the generated cases.
const std::filesystem::path& data_file() {
  static const std::filesystem::path path = [] {
    const std::filesystem::path p = std::filesystem::temp_directory_path() / "parclas-bench-data.txt";
    std::ofstream out(p, std::ios::binary);
    SplitMix64 s(1);
    for (int r = 0; r < 200000; ++r) {
      out << 1 + s.next() % 2000 << ' ' << 1 + s.next() % 100 << ' ' << 1 + s.next() % 500000 << ' '
          << 1 + s.next() % 30 << ' ' << s.next() % 1000 << ' ' << s.next() % 60 << '\n';
    }
    return p;
  }();
  return path;
}

void BM_ReadIntegers(benchmark::State& state) {
  const std::filesystem::path& path = data_file();
  const auto bytes = static_cast<int64_t>(std::filesystem::file_size(path));
  std::istringstream in;
  std::ostringstream out;
  int32_t record[6];
  for (auto _ : state) {
    TextIO io(in, out, out);
    io.connect(11, path.string(), FileUse::Input);
    int64_t records = 0;
    while (io.read_integers(11, record) == ReadResult::Ok) ++records;
    benchmark::DoNotOptimize(records);
    io.close_all();
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_ReadIntegers)->Unit(benchmark::kMillisecond);

void BM_SplitFields(benchmark::State& state) {
  std::vector<std::string> lines;
  SplitMix64 s(2);
  char buffer[kLineWidth + 1];
  for (int k = 0; k < 4096; ++k) {
    const int n = std::snprintf(buffer, sizeof buffer, "%d %d %d %d %d H%04d-%03d-%06d",
                                static_cast<int>(1 + s.next() % 500000), static_cast<int>(s.next() % 500000),
                                static_cast<int>(s.next() % 500000), static_cast<int>(1 + s.next() % 3),
                                static_cast<int>(1 + s.next() % 100), static_cast<int>(s.next() % 2000),
                                static_cast<int>(s.next() % 100), k);
    std::string line(buffer, static_cast<size_t>(n));
    line.resize(kLineWidth, ' ');
    lines.push_back(line);
  }
  char text[(kFieldCapacity + 1) * kFieldWidth];
  int32_t value[kFieldCapacity + 1];
  size_t k = 0;
  for (auto _ : state) {
    const int count = split_fields(lines[k++ & 4095], text, kFieldWidth, value, kFieldCapacity);
    benchmark::DoNotOptimize(count);
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(state.iterations() * kLineWidth);
}
BENCHMARK(BM_SplitFields);

// Look-ups of stored pairs in a combination table holding 280,000 pairs, as
// the capacity case leaves it.
void BM_FindRow(benchmark::State& state) {
  auto tables = std::make_unique<RunTables>();
  tables->reset(Capacities{}, InbreedingMethod::Family);
  std::istringstream in;
  std::ostringstream out;
  TextIO io(in, out, out);
  int32_t count = 0;
  std::vector<std::array<int32_t, 2>> pairs;
  SplitMix64 s(3);
  while (count < 280000) {
    int32_t a = static_cast<int32_t>(1 + s.next() % 500000);
    int32_t b = static_cast<int32_t>(1 + s.next() % 500000);
    order_pair(a, b);
    const int32_t key[2] = {a, b};
    find_row(io, key, pair_table(*tables), HashMode::Insert, count);
    pairs.push_back({a, b});
  }
  size_t k = 0;
  for (auto _ : state) {
    const int32_t key[2] = {pairs[k][0], pairs[k][1]};
    benchmark::DoNotOptimize(find_row(io, key, pair_table(*tables), HashMode::Look, count));
    if (++k == pairs.size()) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindRow);

// A family table of n members, parents first, as HAINB hands it to the
// kernel: a line of few breeders per generation, some unknown parents.
std::vector<FamilyMember> family(int32_t n) {
  std::vector<FamilyMember> members(static_cast<size_t>(n) + 1);
  SplitMix64 s(4);
  for (int32_t k = 1; k <= n; ++k) {
    const int32_t year = 1 + k * 90 / n;
    auto parent = [&]() -> int32_t {
      if (k <= 4 || s.next() % 10 == 0) return year - kGroups;
      const int32_t back = 1 + static_cast<int32_t>(s.next() % 8);
      return k - back > 0 ? k - back : year - kGroups;
    };
    members[static_cast<size_t>(k)] = {parent(), parent(), k, year};
  }
  return members;
}

struct KernelFixture {
  std::unique_ptr<InbreedingWork> work = std::make_unique<InbreedingWork>();
  std::unique_ptr<reference::Work> ref = std::make_unique<reference::Work>();
  std::istringstream in;
  std::ostringstream out;
  TextIO io{in, out, out};
  const float prior[kYears] = {};
  KernelFixture() {
    work->size_for_family(fammax);
    ref->member_inbreeding.resize(fammax + 1);
    tabular(io, *work, work->rentab.data(), 0, prior, kGroups, {}, work->member_inbreeding.data());
    reference::tabular(io, *ref, ref->rentab.data(), 0, prior, kGroups, ref->member_inbreeding.data());
  }
};

// The whole-table kernel: every entry of the member block.
void BM_TabularStraightforward(benchmark::State& state) {
  KernelFixture f;
  const int32_t n = static_cast<int32_t>(state.range(0));
  const std::vector<FamilyMember> members = family(n);
  for (auto _ : state) {
    reference::tabular(f.io, *f.ref, members.data(), n, f.prior, 0, f.ref->member_inbreeding.data());
    benchmark::DoNotOptimize(f.ref->member_inbreeding[n]);
  }
}
BENCHMARK(BM_TabularStraightforward)->Arg(16)->Arg(64)->Arg(256)->Arg(500);

// The kernel asked for the family's own animal (the last member), the common
// case when a family is the last to hold only that animal.
void BM_TabularLastMember(benchmark::State& state) {
  KernelFixture f;
  const int32_t n = static_cast<int32_t>(state.range(0));
  const std::vector<FamilyMember> members = family(n);
  const int32_t wanted[1] = {n};
  for (auto _ : state) {
    tabular(f.io, *f.work, members.data(), n, f.prior, 0, wanted, f.work->member_inbreeding.data());
    benchmark::DoNotOptimize(f.work->member_inbreeding[n]);
  }
}
BENCHMARK(BM_TabularLastMember)->Arg(16)->Arg(64)->Arg(256)->Arg(500);

// The kernel asked for every member.
void BM_TabularAllMembers(benchmark::State& state) {
  KernelFixture f;
  const int32_t n = static_cast<int32_t>(state.range(0));
  const std::vector<FamilyMember> members = family(n);
  std::vector<int32_t> wanted;
  for (int32_t k = 1; k <= n; ++k) wanted.push_back(k);
  for (auto _ : state) {
    tabular(f.io, *f.work, members.data(), n, f.prior, 0, wanted, f.work->member_inbreeding.data());
    benchmark::DoNotOptimize(f.work->member_inbreeding[n]);
  }
}
BENCHMARK(BM_TabularAllMembers)->Arg(16)->Arg(64)->Arg(256)->Arg(500);

}  // namespace
}  // namespace parclas

BENCHMARK_MAIN();
