// The lines shape: closed lines of 400 animals each, born over Y birth years
// (400 / Y a year), started by founders in the line's first year. Every later
// year 4 sires are taken from the line's males of the last two years and the
// dams from its females of the last five; no animal comes from outside, so
// pedigrees grow about a generation a year and inbreeding builds up. Numbers
// run in birth-year order across the lines (random within a year), all used.
// Records (20,000 by default) are test-day records of the females of the
// lines' last years: line, year, animal, test number and two traits.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "generate_case.h"

namespace generate_case {

namespace {

constexpr int32_t kYears = 100;
constexpr int kRecordLength = 6;
constexpr int kAnimalColumn = 3;
constexpr int32_t kLineSize = 400;
constexpr int32_t kLineSires = 4;
constexpr int32_t kSireYears = 2;  // sires from the males of the last two years
constexpr int32_t kDamYears = 5;   // dams from the females of the last five

}  // namespace

void write_lines_case(uint64_t seed, int32_t animals, int32_t years, int64_t records,
                      const std::filesystem::path& folder) {
  Random rng(seed);
  struct LineAnimal {
    int32_t sire;  // index, -1 unknown
    int32_t dam;
    int32_t line;
    int32_t year;
    bool male;
    int32_t number;
  };
  std::vector<LineAnimal> all;
  all.reserve(static_cast<size_t>(animals));
  const int32_t lines = (animals + kLineSize - 1) / kLineSize;
  for (int32_t line = 0; line < lines; ++line) {
    const int32_t size = std::min(kLineSize, animals - line * kLineSize);
    const int32_t start = 1 + static_cast<int32_t>(rng.below(static_cast<uint32_t>(kYears - years + 1)));
    const int32_t first = static_cast<int32_t>(all.size());
    for (int32_t t = 0; t < years; ++t) {
      const int32_t born = size * (t + 1) / years - size * t / years;
      // This year's sires, and the dams' pool, from the line's earlier years.
      std::vector<int32_t> males;
      std::vector<int32_t> females;
      for (int32_t k = first; k < static_cast<int32_t>(all.size()); ++k) {
        const LineAnimal& a = all[static_cast<size_t>(k)];
        const int32_t age = start + t - a.year;
        if (a.male && age <= kSireYears) males.push_back(k);
        if (!a.male && age <= kDamYears) females.push_back(k);
      }
      // Distinct sires, as many as there are males up to kLineSires.
      std::vector<int32_t> sires;
      for (size_t s = 0; s < males.size() && sires.size() < kLineSires; ++s) {
        std::swap(males[s], males[s + rng.below(static_cast<uint32_t>(males.size() - s))]);
        sires.push_back(males[s]);
      }
      for (int32_t c = 0; c < born; ++c) {
        LineAnimal a{-1, -1, line, start + t, rng.below(2) == 0, 0};
        if (!sires.empty()) a.sire = sires[rng.below(static_cast<uint32_t>(sires.size()))];
        if (!females.empty()) a.dam = females[rng.below(static_cast<uint32_t>(females.size()))];
        all.push_back(a);
      }
    }
  }
  // Numbers in birth-year order, random within a year.
  std::vector<std::vector<int32_t>> by_year(kYears + 1);
  for (size_t k = 0; k < all.size(); ++k) by_year[static_cast<size_t>(all[k].year)].push_back(static_cast<int32_t>(k));
  std::vector<int32_t> by_number(1, -1);
  for (auto& year : by_year) {
    for (size_t k = year.size(); k > 1; --k) std::swap(year[k - 1], year[rng.below(static_cast<uint32_t>(k))]);
    for (const int32_t index : year) {
      all[static_cast<size_t>(index)].number = static_cast<int32_t>(by_number.size());
      by_number.push_back(index);
    }
  }
  FILE* f = open_or_die(folder / "ped.txt");
  char text[128];
  for (size_t number = 1; number < by_number.size(); ++number) {
    const LineAnimal& a = all[static_cast<size_t>(by_number[number])];
    const int32_t sire = a.sire >= 0 ? all[static_cast<size_t>(a.sire)].number : 0;
    const int32_t dam = a.dam >= 0 ? all[static_cast<size_t>(a.dam)].number : 0;
    const int code = (sire != 0) + (dam != 0) == 2 ? 1 : (sire != 0) + (dam != 0) == 1 ? 2 : 3;
    const int n = std::snprintf(text, sizeof text, "%d %d %d %d %d L%04d-%03d-%06d\n",
                                a.number, sire, dam, code, a.year, a.line % 10000, a.year,
                                a.number % 1000000);
    write_or_die(f, text, static_cast<size_t>(n));
  }
  close_or_die(f, folder / "ped.txt");
  // Records of the females born in each line's last years, newest first.
  f = open_or_die(folder / "data.txt");
  int64_t written = 0;
  int32_t test = 0;
  while (written < records) {
    ++test;
    const int64_t before = written;
    for (size_t number = by_number.size() - 1; number >= 1 && written < records; --number) {
      const LineAnimal& a = all[static_cast<size_t>(by_number[number])];
      if (a.male || !rng.chance(500)) continue;
      const int n = std::snprintf(text, sizeof text, "%d %d %d %d %d %d\n", a.line + 1, a.year,
                                  a.number, test, 200 + static_cast<int32_t>(rng.below(300)),
                                  static_cast<int32_t>(rng.below(60)));
      write_or_die(f, text, static_cast<size_t>(n));
      ++written;
    }
    if (written == before) break;
  }
  close_or_die(f, folder / "data.txt");
  write_text(folder / "par.txt",
             "data.txt\nped.txt\nclosed lines over " + std::to_string(years) + " years, seed " +
                 std::to_string(seed) + "\n3 " + std::to_string(kRecordLength) + "\n1 " +
                 std::to_string(lines) + " 0\n2 100 0\n" + std::to_string(kAnimalColumn) + " " +
                 std::to_string(animals) + " -1\n");
  // One expansion pass: the ancestor pairs of line-bred animals fill the
  // combination table in the second.
  write_text(folder / "answers", "par.txt\n1\n");
}


}  // namespace generate_case
