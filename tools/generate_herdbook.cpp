// Writes a herdbook-style national pedigree and data file for timing
// parclas-prep: what a breeding organisation exports, not what PARCLAS reads.
//
//   generate-herdbook [--seed S] [--animals N] [--records R] [--separator tab|semicolon] DIR
//
// DIR/herdbook.txt: a header line, then animal, sire, dam, sex and birth date
// (dd.mm.yyyy) per animal, over 60 birth years (1965..2024). Cows and bull
// calves have identifiers of a country code and 12 digits, AI sires "S" and
// the same. Animals come year by year, shuffled within a year, so a parent
// of the same year may come after its offspring. Each year a few hundred AI
// sires are born from elite matings; every calf has an AI sire from the last
// ten years, chosen with a strong preference for popular sires (thousands of
// calves each), and a dam from the cows of the last eight years. 5% of the
// sires and 3% of the dams are unknown, written as an empty field and as 0.
//
// DIR/records.txt: ';' separated with a header, one line per lactation
// (1..5 per cow born before the last three years, until R records): animal,
// herd code (text), calving year and milk yield in kg with one decimal.
//
// The same arguments give the same files everywhere (own random generator).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "splitmix.h"

namespace {

constexpr int kYears = 60;
constexpr int kFirstYear = 1965;
constexpr int kSireAges = 10;  // AI sires are used from age 2 to age 11
constexpr int kDamAges = 8;
constexpr uint32_t kSireUnknownPerMille = 50;
constexpr uint32_t kDamUnknownPerMille = 30;
constexpr int kHerds = 20000;

// The shared generator with this program's start and range rules.
class Random {
 public:
  explicit Random(uint64_t seed) : core_(parclas::SplitMix64::seeded(seed, 0x632BE59BD9B4E019ull)) {}
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(core_.remainder_below(n)); }
  double unit() { return core_.unit(); }

 private:
  parclas::SplitMix64 core_;
};

struct Animal {
  int32_t sire = -1;
  int32_t dam = -1;
  int16_t year = 0;  // 0..59
  uint8_t month = 1;
  uint8_t day = 1;
  bool female = false;
  bool ai_sire = false;
  uint32_t herd = 0;
};

// 12 digits, all different for different serial numbers.
uint64_t scrambled(uint64_t serial) { return (serial * 48271 + 130000000000ull) % 1000000000000ull; }

std::string id_of(const Animal& a, uint32_t index) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%sDE%012llu", a.ai_sire ? "S" : "",
                static_cast<unsigned long long>(scrambled(index)));
  return buf;
}

// Index into a pool, preferring its first members: u^2 makes the first of a
// thousand sires about 3% of all calves.
uint32_t popular(Random& r, size_t pool) {
  const double u = r.unit();
  return static_cast<uint32_t>(static_cast<double>(pool) * u * u);
}

struct Population {
  std::vector<Animal> animals;
  std::vector<std::vector<uint32_t>> sires_of_year;  // AI sires by birth year, most popular first
  std::vector<std::vector<uint32_t>> cows_of_year;
};

int32_t pick_sire(Random& r, const Population& p, int year, bool elite) {
  std::vector<uint32_t> pool;  // small: a few thousand
  for (int y = std::max(0, year - kSireAges - 1); y <= year - 2; ++y) {
    pool.insert(pool.end(), p.sires_of_year[static_cast<size_t>(y)].begin(),
                p.sires_of_year[static_cast<size_t>(y)].end());
  }
  if (pool.empty()) return -1;
  const size_t n = elite ? std::max<size_t>(1, pool.size() / 20) : pool.size();
  return static_cast<int32_t>(pool[popular(r, n)]);
}

int32_t pick_dam(Random& r, const Population& p, int year) {
  const int from = std::max(0, year - kDamAges - 1);
  const int to = year - 2;
  if (to < from) return -1;
  const auto& cows = p.cows_of_year[static_cast<size_t>(from + static_cast<int>(r.below(static_cast<uint32_t>(to - from + 1))))];
  return cows.empty() ? -1 : static_cast<int32_t>(cows[r.below(static_cast<uint32_t>(cows.size()))]);
}

Population breed(Random& r, uint32_t total) {
  Population p;
  p.sires_of_year.resize(kYears);
  p.cows_of_year.resize(kYears);
  p.animals.reserve(total);
  const uint32_t per_year = std::max<uint32_t>(1, total / kYears);
  const uint32_t sires_per_year = std::max<uint32_t>(5, per_year / 400);
  for (int year = 0; year < kYears; ++year) {
    const uint32_t count = year + 1 == kYears ? total - static_cast<uint32_t>(p.animals.size()) : per_year;
    for (uint32_t k = 0; k < count; ++k) {
      Animal a;
      a.year = static_cast<int16_t>(year);
      a.month = static_cast<uint8_t>(1 + r.below(12));
      a.day = static_cast<uint8_t>(1 + r.below(28));
      a.ai_sire = k < sires_per_year;
      a.female = !a.ai_sire && r.below(2) == 0;
      a.herd = r.below(kHerds);
      a.sire = r.below(1000) < kSireUnknownPerMille ? -1 : pick_sire(r, p, year, a.ai_sire);
      a.dam = r.below(1000) < kDamUnknownPerMille ? -1 : pick_dam(r, p, year);
      const auto index = static_cast<uint32_t>(p.animals.size());
      if (a.ai_sire) p.sires_of_year[static_cast<size_t>(year)].push_back(index);
      if (a.female) p.cows_of_year[static_cast<size_t>(year)].push_back(index);
      p.animals.push_back(a);
    }
  }
  return p;
}

bool write_pedigree(const Population& p, Random& r, const std::string& path, char sep) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "animal%csire%cdam%csex%cbirth\n", sep, sep, sep, sep);
  std::vector<uint32_t> order(p.animals.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  // Shuffled within each birth year.
  size_t start = 0;
  while (start < order.size()) {
    size_t end = start;
    while (end < order.size() && p.animals[end].year == p.animals[start].year) ++end;
    for (size_t i = end - 1; i > start; --i) std::swap(order[i], order[start + r.below(static_cast<uint32_t>(i - start + 1))]);
    start = end;
  }
  for (const uint32_t i : order) {
    const Animal& a = p.animals[i];
    const std::string sire = a.sire < 0 ? "" : id_of(p.animals[static_cast<size_t>(a.sire)], static_cast<uint32_t>(a.sire));
    const std::string dam = a.dam < 0 ? "0" : id_of(p.animals[static_cast<size_t>(a.dam)], static_cast<uint32_t>(a.dam));
    std::fprintf(f, "%s%c%s%c%s%c%c%c%02d.%02d.%d\n", id_of(a, i).c_str(), sep, sire.c_str(), sep, dam.c_str(), sep,
                 a.female ? 'F' : 'M', sep, a.day, a.month, kFirstYear + a.year);
  }
  return std::fclose(f) == 0;
}

bool write_records(const Population& p, Random& r, const std::string& path, uint64_t records) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "animal;herd;year;milk\n");
  uint64_t written = 0;
  for (uint32_t i = 0; i < p.animals.size() && written < records; ++i) {
    const Animal& a = p.animals[i];
    if (!a.female || a.year + 3 >= kYears) continue;
    const uint32_t lactations = 1 + r.below(5);
    for (uint32_t l = 1; l <= lactations && written < records; ++l) {
      const double milk = 4000.0 + 40.0 * a.year + 2500.0 * r.unit() + 300.0 * l;
      std::fprintf(f, "%s;H%06u;%d;%.1f\n", id_of(a, i).c_str(), a.herd, kFirstYear + a.year + 2 + static_cast<int>(l),
                   milk);
      ++written;
    }
  }
  return std::fclose(f) == 0;
}

constexpr const char* kUsage =
    "usage: generate-herdbook [--seed S] [--animals N] [--records R] [--separator tab|semicolon] DIR\n"
    "  writes DIR/herdbook.txt (animal, sire, dam, sex, birth date) and DIR/records.txt\n"
    "  (animal;herd;year;milk); defaults: seed 1, 5000000 animals, 7000000 records, tab\n";

// A bad command line: the usage on the error stream, status 2.
int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t seed = 1;
  uint64_t animals = 5000000;
  uint64_t records = 7000000;
  char sep = '\t';
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--version") {
      std::puts("generate-herdbook 1.1");
      return 0;
    }
    if (i + 1 < argc && a == "--seed") seed = std::strtoull(argv[++i], nullptr, 10);
    else if (i + 1 < argc && a == "--animals") animals = std::strtoull(argv[++i], nullptr, 10);
    else if (i + 1 < argc && a == "--records") records = std::strtoull(argv[++i], nullptr, 10);
    else if (i + 1 < argc && a == "--separator") sep = std::strcmp(argv[++i], "semicolon") == 0 ? ';' : '\t';
    else if (!a.starts_with("--") && dir.empty()) dir = a;
    else return usage();
  }
  if (dir.empty() || animals < 100 || animals > 100000000) return usage();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  Random r(seed);
  const Population p = breed(r, static_cast<uint32_t>(animals));
  if (!write_pedigree(p, r, dir + "/herdbook.txt", sep) || !write_records(p, r, dir + "/records.txt", records)) {
    std::fprintf(stderr, "generate-herdbook: cannot write into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
