// Writes a synthetic run folder for timing the program at its capacity: a
// relationship file, a data file, a parameter file and the console answers.
//
//   generate-case [--shape herds|lines|national] [--seed S] [--animals N] [--records R]
//                 [--years Y] DIR
//
// --shape national writes a national dairy population of up to 5,000,000
// animals (described at namespace national below); --shape lines closed lines
// (described below). The default shape (herds):
// the population is a set of herds of about 250 animals each that breed in
// litters over the years 1..100. Herds join the recording over the first four
// decades. A mating (sire x dam) is mostly repeated for a few years; a new one
// takes a dam of the herd and a sire of the herd or of a neighbouring herd.
// Bought-in dams and unrecorded sires are unknown parents, so pedigrees stay
// shallow. Parents are always born in an earlier year. A few matings are
// close (full sibs, sire and daughter, dam and son). No animal gets more than
// kAncestorCap ancestors: a parent that would exceed it is made unknown.
//
// Animal numbers run 1..N in order of birth year (random within a year), with
// 1% of the numbers left unused and N itself always used. About 30% of the
// unknown parents are written as a group number above N (one per decade).
// Data records are test-day records of six integers with the animal number in
// column 3, for the females of the last ten years. The files are the same for
// the same arguments on every platform (own random generator, no library
// distributions).
//
// The lines shape: closed lines of 400 animals each, born over Y birth years
// (400 / Y a year), started by founders in the line's first year. Every later
// year 4 sires are taken from the line's males of the last two years and the
// dams from its females of the last five; no animal comes from outside, so
// pedigrees grow about a generation a year and inbreeding builds up. Numbers
// run in birth-year order across the lines (random within a year), all used.
// Records (20,000 by default) are test-day records of the females of the
// lines' last years, animal in column 3 as above.
#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "splitmix.h"

namespace {

constexpr int kYears = 100;
constexpr int kAncestorCap = 480;  // a family holds the animal and its ancestors: at most 481
constexpr int kMaxLitter = 12;
constexpr int kPairYears = 3;           // a mating is repeated for up to this many years
constexpr uint32_t kRepeatPerMille = 600;
// Unknown parents and exchange between herds. They keep pedigrees shallow
// enough for the ancestor pairs of ten expansion passes to fit the
// combination table, and the average inbreeding at a few percent.
constexpr uint32_t kDamUnknownPerMille = 200;
constexpr uint32_t kSireUnknownPerMille = 320;
constexpr uint32_t kNeighbourSirePerMille = 400;
constexpr uint32_t kCloseMatingPerMille = 15;
constexpr int kKeptMales = 5;  // males of a cohort that become sires
constexpr int kRecordLength = 6;
constexpr int kAnimalColumn = 3;
constexpr int kRecordedYears = 10;

// The shared generator with this program's start and range rules.
class Random {
 public:
  explicit Random(uint64_t seed) : core_(parclas::SplitMix64::seeded(seed, 0x632BE59BD9B4E019ull)) {}
  // 0 .. n-1 for n >= 1.
  uint32_t below(uint32_t n) { return core_.scaled_below(n); }
  // True with probability per_mille / 1000.
  bool chance(uint32_t per_mille) { return below(1000) < per_mille; }
  // Uniform in [0, 1).
  double unit() { return core_.unit(); }

 private:
  parclas::SplitMix64 core_;
};

struct Animal {
  int32_t sire = -1;  // index into the animal list, -1 unknown
  int32_t dam = -1;
  int32_t herd = 0;
  int32_t year = 0;
  int32_t litter = 0;
  bool male = false;
  int32_t number = 0;  // animal number, given once all animals exist
};

struct Litter {
  int32_t first;  // index of the first animal; the litter is contiguous
  int32_t size;
};

struct Pair {
  int32_t sire;
  int32_t dam;
  int32_t first_year;
};

struct Herd {
  int32_t start_year;
  int32_t weight;  // relative number of litters per year
  std::vector<Pair> pairs;  // matings, most recent last
  // Animals of this herd by year of birth, split by sex.
  std::vector<int32_t> males[kYears + 1];
  std::vector<int32_t> females[kYears + 1];
};

class Population {
 public:
  Population(uint64_t seed, int32_t animal_numbers)
      : rng_(seed), numbers_(animal_numbers), mark_(), queue_() {}

  void breed();
  void number_animals();
  void write_pedigree(const std::filesystem::path& file) const;
  void write_data(const std::filesystem::path& file, int64_t records);

 private:
  int32_t pick(const std::vector<int32_t>* by_year, int32_t year, int32_t oldest, int32_t youngest);
  int32_t choose_dam(const Herd& h, int32_t year);
  int32_t choose_sire(int32_t herd, int32_t year);
  void close_mating(int32_t herd, int32_t year, int32_t& sire, int32_t& dam);
  int32_t ancestors_of_offspring(int32_t sire, int32_t dam);
  void add_litter(int32_t herd, int32_t year, int32_t size);

  Random rng_;
  int32_t numbers_;
  std::vector<Herd> herds_;
  std::vector<Animal> animals_;
  std::vector<Litter> litters_;
  std::vector<int32_t> mark_;
  std::vector<int32_t> queue_;
  int32_t stamp_ = 0;
};

// A random animal from the lists of years oldest..youngest; -1 if none.
int32_t Population::pick(const std::vector<int32_t>* by_year, int32_t year, int32_t oldest,
                         int32_t youngest) {
  const int32_t from = std::max(1, year - oldest);
  const int32_t to = year - youngest;
  size_t total = 0;
  for (int32_t y = from; y <= to; ++y) total += by_year[y].size();
  if (total == 0) return -1;
  size_t k = rng_.below(static_cast<uint32_t>(total));
  for (int32_t y = from; y <= to; ++y) {
    if (k < by_year[y].size()) return by_year[y][k];
    k -= by_year[y].size();
  }
  return -1;
}

int32_t Population::choose_dam(const Herd& h, int32_t year) {
  if (year - h.start_year < 2 || rng_.chance(kDamUnknownPerMille)) return -1;  // bought in
  return pick(h.females, year, 6, 1);
}

int32_t Population::choose_sire(int32_t herd, int32_t year) {
  if (rng_.chance(kSireUnknownPerMille)) return -1;  // not recorded
  int32_t from = herd;
  if (rng_.chance(kNeighbourSirePerMille)) {
    const int32_t n = static_cast<int32_t>(herds_.size());
    from = (herd + 1 + static_cast<int32_t>(rng_.below(10)) + n) % n;
  }
  const Herd& h = herds_[static_cast<size_t>(from)];
  if (year - h.start_year < 2) return -1;
  // Only the first few males of a cohort are kept as sires.
  const int32_t y0 = std::max(1, year - 4);
  size_t total = 0;
  for (int32_t y = y0; y < year; ++y) total += std::min<size_t>(h.males[y].size(), kKeptMales);
  if (total == 0) return -1;
  size_t k = rng_.below(static_cast<uint32_t>(total));
  for (int32_t y = y0; y < year; ++y) {
    const size_t kept = std::min<size_t>(h.males[y].size(), kKeptMales);
    if (k < kept) return h.males[y][k];
    k -= kept;
  }
  return -1;
}

// Turns the chosen pair into a close mating where the herd has one.
void Population::close_mating(int32_t herd, int32_t year, int32_t& sire, int32_t& dam) {
  const Herd& h = herds_[static_cast<size_t>(herd)];
  const uint32_t kind = rng_.below(3);
  if (kind == 0 && dam >= 0) {  // full sibs: a brother of the dam from her litter
    const Litter& l = litters_[static_cast<size_t>(animals_[static_cast<size_t>(dam)].litter)];
    for (int32_t k = 0; k < l.size; ++k) {
      const Animal& a = animals_[static_cast<size_t>(l.first + k)];
      if (a.male && a.year < year) {
        sire = l.first + k;
        return;
      }
    }
  } else if (kind == 1 && sire >= 0) {  // sire and daughter
    for (int32_t y = animals_[static_cast<size_t>(sire)].year + 1; y < year; ++y) {
      for (const int32_t f : h.females[y]) {
        if (animals_[static_cast<size_t>(f)].sire == sire) {
          dam = f;
          return;
        }
      }
    }
  } else if (kind == 2 && dam >= 0) {  // dam and son
    for (int32_t y = animals_[static_cast<size_t>(dam)].year + 1; y < year; ++y) {
      for (const int32_t m : h.males[y]) {
        if (animals_[static_cast<size_t>(m)].dam == dam) {
          sire = m;
          return;
        }
      }
    }
  }
}

// Number of distinct ancestors an offspring of sire and dam would have,
// counting stops a little past the cap.
int32_t Population::ancestors_of_offspring(int32_t sire, int32_t dam) {
  ++stamp_;
  queue_.clear();
  for (const int32_t p : {sire, dam}) {
    if (p >= 0 && mark_[static_cast<size_t>(p)] != stamp_) {
      mark_[static_cast<size_t>(p)] = stamp_;
      queue_.push_back(p);
    }
  }
  for (size_t i = 0; i < queue_.size() && queue_.size() <= kAncestorCap; ++i) {
    const Animal& a = animals_[static_cast<size_t>(queue_[i])];
    for (const int32_t p : {a.sire, a.dam}) {
      if (p >= 0 && mark_[static_cast<size_t>(p)] != stamp_) {
        mark_[static_cast<size_t>(p)] = stamp_;
        queue_.push_back(p);
      }
    }
  }
  return static_cast<int32_t>(queue_.size());
}

void Population::add_litter(int32_t herd, int32_t year, int32_t size) {
  Herd& h = herds_[static_cast<size_t>(herd)];
  int32_t dam = -1;
  int32_t sire = -1;
  // Most litters repeat a mating of the last few years.
  size_t recent = h.pairs.size();
  while (recent > 0 && h.pairs[recent - 1].first_year >= year - kPairYears) --recent;
  const size_t open = h.pairs.size() - recent;
  if (open > 0 && rng_.chance(kRepeatPerMille)) {
    const Pair& p = h.pairs[recent + rng_.below(static_cast<uint32_t>(open))];
    sire = p.sire;
    dam = p.dam;
  } else {
    dam = choose_dam(h, year);
    sire = choose_sire(herd, year);
    if (rng_.chance(kCloseMatingPerMille)) close_mating(herd, year, sire, dam);
    h.pairs.push_back({sire, dam, year});
  }
  if (ancestors_of_offspring(sire, dam) > kAncestorCap) {
    // Drop the parent with the larger pedigree, then the other if needed.
    const int32_t with_sire = ancestors_of_offspring(sire, -1);
    const int32_t with_dam = ancestors_of_offspring(-1, dam);
    if (with_sire >= with_dam) {
      sire = -1;
    } else {
      dam = -1;
    }
    if (ancestors_of_offspring(sire, dam) > kAncestorCap) sire = dam = -1;
  }
  const int32_t litter = static_cast<int32_t>(litters_.size());
  litters_.push_back({static_cast<int32_t>(animals_.size()), size});
  for (int32_t k = 0; k < size; ++k) {
    Animal a;
    a.sire = sire;
    a.dam = dam;
    a.herd = herd;
    a.year = year;
    a.litter = litter;
    a.male = rng_.below(2) == 0;
    const int32_t index = static_cast<int32_t>(animals_.size());
    (a.male ? h.males[year] : h.females[year]).push_back(index);
    animals_.push_back(a);
  }
}

void Population::breed() {
  // About 1% of the numbers stay unused; the rest are animals.
  const int32_t holes = numbers_ / 100;
  const int64_t wanted = numbers_ - holes;
  const int32_t herd_count = std::max(4, numbers_ / 250);
  herds_.resize(static_cast<size_t>(herd_count));
  for (Herd& h : herds_) {
    h.start_year = 1 + static_cast<int32_t>(rng_.below(40));
    h.weight = 1 + static_cast<int32_t>(rng_.below(4));
  }
  // Births per year grow during the first decades, then level off.
  std::vector<double> share(kYears + 1, 0.0);
  double share_sum = 0.0;
  for (int32_t y = 1; y <= kYears; ++y) {
    share[static_cast<size_t>(y)] = y < 40 ? 0.2 + 0.8 * y / 40.0 : 1.0;
    share_sum += share[static_cast<size_t>(y)];
  }
  animals_.reserve(static_cast<size_t>(wanted));
  mark_.assign(static_cast<size_t>(wanted), 0);
  int64_t target = 0;
  double cumulative = 0.0;
  for (int32_t y = 1; y <= kYears; ++y) {
    cumulative += share[static_cast<size_t>(y)];
    target = y == kYears ? wanted : static_cast<int64_t>(wanted * (cumulative / share_sum));
    std::vector<int32_t> active;
    int64_t weight_sum = 0;
    for (int32_t h = 0; h < herd_count; ++h) {
      if (herds_[static_cast<size_t>(h)].start_year <= y) {
        active.push_back(h);
        weight_sum += herds_[static_cast<size_t>(h)].weight;
      }
    }
    while (static_cast<int64_t>(animals_.size()) < target) {
      int64_t w = rng_.below(static_cast<uint32_t>(weight_sum));
      int32_t herd = active.back();
      for (const int32_t h : active) {
        w -= herds_[static_cast<size_t>(h)].weight;
        if (w < 0) {
          herd = h;
          break;
        }
      }
      const int64_t left = target - static_cast<int64_t>(animals_.size());
      const int32_t size = static_cast<int32_t>(
          std::min<int64_t>(left, 1 + rng_.below(3) + rng_.below(5) + rng_.below(kMaxLitter - 6)));
      add_litter(herd, y, size);
    }
  }
}

void Population::number_animals() {
  const int32_t holes = numbers_ / 100;
  // Unused numbers: random, never the largest.
  std::vector<char> unused(static_cast<size_t>(numbers_) + 1, 0);
  for (int32_t k = 0; k < holes;) {
    const int32_t x = 1 + static_cast<int32_t>(rng_.below(static_cast<uint32_t>(numbers_ - 1)));
    if (!unused[static_cast<size_t>(x)]) {
      unused[static_cast<size_t>(x)] = 1;
      ++k;
    }
  }
  // Birth-year order, shuffled within each year.
  std::vector<int32_t> order(animals_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i);
  size_t begin = 0;
  while (begin < order.size()) {
    size_t end = begin;
    const int32_t year = animals_[static_cast<size_t>(order[begin])].year;
    while (end < order.size() && animals_[static_cast<size_t>(order[end])].year == year) ++end;
    for (size_t k = end - begin; k > 1; --k) {
      std::swap(order[begin + k - 1], order[begin + rng_.below(static_cast<uint32_t>(k))]);
    }
    begin = end;
  }
  int32_t number = 0;
  for (const int32_t index : order) {
    do {
      ++number;
    } while (unused[static_cast<size_t>(number)]);
    animals_[static_cast<size_t>(index)].number = number;
  }
}

void write_or_die(FILE* f, const char* text, size_t n) {
  if (std::fwrite(text, 1, n, f) != n) {
    std::perror("write");
    std::exit(1);
  }
}

FILE* open_or_die(const std::filesystem::path& file) {
  FILE* f = std::fopen(file.c_str(), "wb");
  if (f == nullptr) {
    std::perror(file.c_str());
    std::exit(1);
  }
  return f;
}

void Population::write_pedigree(const std::filesystem::path& file) const {
  // Lines in animal-number order.
  std::vector<int32_t> by_number(static_cast<size_t>(numbers_) + 1, -1);
  for (size_t i = 0; i < animals_.size(); ++i) by_number[static_cast<size_t>(animals_[i].number)] = static_cast<int32_t>(i);
  Random groups(0x5EED);
  FILE* f = open_or_die(file);
  char line[128];
  for (int32_t number = 1; number <= numbers_; ++number) {
    const int32_t index = by_number[static_cast<size_t>(number)];
    if (index < 0) continue;
    const Animal& a = animals_[static_cast<size_t>(index)];
    int64_t parent[2];
    int known = 0;
    for (int k = 0; k < 2; ++k) {
      const int32_t p = k == 0 ? a.sire : a.dam;
      if (p >= 0) {
        parent[k] = animals_[static_cast<size_t>(p)].number;
        ++known;
      } else if (groups.chance(300)) {
        parent[k] = int64_t{numbers_} + 1 + (a.year - 1) / 10;  // group of the decade
      } else {
        parent[k] = 0;
      }
    }
    const int code = known == 2 ? 1 : known == 1 ? 2 : 3;
    const int n = std::snprintf(line, sizeof line, "%d %" PRId64 " %" PRId64 " %d %d H%04d-%03d-%06d\n",
                                number, parent[0], parent[1], code, a.year, a.herd % 10000,
                                a.year, number % 1000000);
    write_or_die(f, line, static_cast<size_t>(n));
  }
  std::fclose(f);
}

// Test-day records of the females born in the last kRecordedYears years:
// herd, year, animal, test number, two traits, in birth order, about twelve
// tests per female.
void Population::write_data(const std::filesystem::path& file, int64_t records) {
  FILE* f = open_or_die(file);
  char line[128];
  int64_t written = 0;
  int32_t test_base = 0;
  while (written < records) {
    for (const Animal& a : animals_) {
      if (written == records) break;
      if (a.male || a.year <= kYears - kRecordedYears || !rng_.chance(900)) continue;
      const int32_t count = 6 + static_cast<int32_t>(rng_.below(13));
      for (int32_t test = 1; test <= count && written < records; ++test) {
        const int32_t trait1 = 200 + static_cast<int32_t>(rng_.below(300)) + a.year;
        const int32_t trait2 = static_cast<int32_t>(rng_.below(60));
        const int n = std::snprintf(line, sizeof line, "%d %d %d %d %d %d\n", a.herd + 1, a.year,
                                    a.number, test_base + test, trait1, trait2);
        write_or_die(f, line, static_cast<size_t>(n));
        ++written;
      }
    }
    test_base += 100;
  }
  std::fclose(f);
}

void write_text(const std::filesystem::path& file, const std::string& text) {
  FILE* f = open_or_die(file);
  write_or_die(f, text.data(), text.size());
  std::fclose(f);
}

// The national shape: a dairy population of N animals born over the years
// 1..60. A fixed number of cow places calve once a year from year 3 on; a
// cow holds her place for 1 to 5 lactations in a row and is replaced by a
// heifer of her herd born two years earlier. Sires are mostly AI bulls, each
// in service for 2 to 6 years with a popularity that gives the busiest ones
// tens of thousands of calves; a tenth of the calvings are by a young bull of
// the herd. New AI bulls are sons of popular AI bulls and elite cows. 5% of
// the calves have an unknown sire and 3% an unknown dam, and 30% of the
// unknown parents are written as a group number above N. Every female calf
// is registered, male calves as needed to reach N animals. Each calving is
// one lactation record: herd, year, animal, lactation number, milk yield.
namespace national {

constexpr int32_t kYears = 60;
constexpr int32_t kFirstCalvingYear = 3;  // the base cows are born in years 1 and 2
constexpr int32_t kCowsPerHerd = 60;
constexpr uint32_t kSireUnknownPerMille = 50;
constexpr uint32_t kDamUnknownPerMille = 30;
constexpr uint32_t kHerdBullPerMille = 20;
constexpr int32_t kHerdBullYears = 4;
constexpr uint32_t kSameBullAgainPerMille = 200;
constexpr uint32_t kElitePerMille = 20;
constexpr uint32_t kGroupPerMille = 300;
constexpr int kRecordLength = 5;
constexpr int kAnimalColumn = 3;

struct Animal {
  int32_t sire = -1;  // index, -1 unknown
  int32_t dam = -1;
  int32_t year = 0;
  int32_t herd = 0;
  bool male = false;
  bool parent = false;  // has offspring
  int32_t number = 0;
};

struct Bull {
  int32_t animal;
  int32_t first_year;  // years in AI service
  int32_t last_year;
  double weight;       // relative share of the calvings in those years
};

struct Place {
  int32_t herd = 0;
  int32_t cow = -1;
  int32_t lactation = 0;   // lactations calved so far by this cow
  int32_t lactations = 0;  // lactations she will have
  int32_t last_bull = -1;
  bool elite = false;
};

struct Calving {
  int32_t cow;
  int32_t year;
  int32_t lactation;
  int32_t herd;
};

class Population {
 public:
  Population(uint64_t seed, int64_t animals, int64_t records)
      : rng_(seed),
        wanted_(animals),
        places_(static_cast<size_t>(std::max<int64_t>(100, records / (kYears - kFirstCalvingYear + 1)))) {}

  void breed();
  int32_t number_animals();  // returns the largest animal number
  void write_pedigree(const std::filesystem::path& file, int32_t largest) const;
  void write_data(const std::filesystem::path& file);
  int32_t herds() const { return herds_; }

 private:
  int32_t lactations() {
    static constexpr uint32_t kCumulativePerMille[5] = {250, 470, 670, 850, 1000};
    const uint32_t r = rng_.below(1000);
    int32_t k = 0;
    while (r >= kCumulativePerMille[k]) ++k;
    return k + 1;
  }
  double uniform() { return rng_.unit(); }
  int32_t add(int32_t sire, int32_t dam, int32_t year, int32_t herd, bool male) {
    Animal a;
    a.sire = sire;
    a.dam = dam;
    a.year = year;
    a.herd = herd;
    a.male = male;
    if (sire >= 0) animals_[static_cast<size_t>(sire)].parent = true;
    if (dam >= 0) animals_[static_cast<size_t>(dam)].parent = true;
    animals_.push_back(a);
    return static_cast<int32_t>(animals_.size() - 1);
  }
  void add_bulls(int32_t count, int32_t born, int32_t first_from, int32_t first_to,
                 const std::vector<int32_t>& sons);
  int32_t choose_bull(const std::vector<double>& cumulative, const std::vector<int32_t>& active);
  void new_cow(Place& place, int32_t year);

  Random rng_;
  int64_t wanted_;
  int32_t herds_ = 1;
  std::vector<Place> places_;
  std::vector<Animal> animals_;
  std::vector<Bull> bulls_;
  std::vector<Calving> calvings_;
  // Per herd: the heifers born two years before the current year that have
  // no place yet, those born this year, and the latest registered bull calf.
  std::vector<std::vector<int32_t>> heifers_;
  std::vector<std::vector<int32_t>> older_heifers_;
  std::vector<std::vector<int32_t>> new_heifers_;
  std::vector<int32_t> latest_male_;
};

// AI bulls born in year `born`: the sons given, then base bulls with unknown
// parents; each starts service in a year of first_from..first_to.
void Population::add_bulls(int32_t count, int32_t born, int32_t first_from, int32_t first_to,
                           const std::vector<int32_t>& sons) {
  for (int32_t k = 0; k < count; ++k) {
    const int32_t animal =
        k < static_cast<int32_t>(sons.size())
            ? sons[static_cast<size_t>(k)]
            : add(-1, -1, born, static_cast<int32_t>(rng_.below(static_cast<uint32_t>(herds_))), true);
    const int32_t first =
        first_from + static_cast<int32_t>(rng_.below(static_cast<uint32_t>(first_to - first_from + 1)));
    const int32_t years = 2 + static_cast<int32_t>(rng_.below(5));
    // Popularity from 1 to 33, a few bulls far above the typical 2 to 3;
    // only exactly rounded operations, so the files are the same everywhere.
    bulls_.push_back({animal, first, first + years - 1, 1.0 / (0.03 + uniform())});
  }
}

int32_t Population::choose_bull(const std::vector<double>& cumulative,
                                const std::vector<int32_t>& active) {
  if (active.empty()) return -1;
  const double r = uniform() * cumulative.back();
  const auto k = static_cast<size_t>(std::upper_bound(cumulative.begin(), cumulative.end(), r) -
                                     cumulative.begin());
  return bulls_[static_cast<size_t>(active[std::min(k, active.size() - 1)])].animal;
}

// A heifer born two years before `year` for the place: from its herd, else
// from another herd, else bought in with unknown parents.
void Population::new_cow(Place& place, int32_t year) {
  int32_t cow = -1;
  for (int attempt = 0; attempt < 4 && cow < 0; ++attempt) {
    const auto herd = attempt == 0 ? place.herd
                                   : static_cast<int32_t>(rng_.below(static_cast<uint32_t>(herds_)));
    std::vector<int32_t>& pool = older_heifers_[static_cast<size_t>(herd)];
    if (!pool.empty()) {
      cow = pool.back();
      pool.pop_back();
    }
  }
  if (cow < 0) cow = add(-1, -1, year - 2, place.herd, false);
  place.cow = cow;
  place.lactation = 0;
  place.lactations = lactations();
  place.last_bull = -1;
  place.elite = rng_.chance(kElitePerMille);
}

void Population::breed() {
  const auto places = static_cast<int64_t>(places_.size());
  herds_ = static_cast<int32_t>(std::max<int64_t>(1, places / kCowsPerHerd));
  older_heifers_.assign(static_cast<size_t>(herds_), {});
  heifers_.assign(static_cast<size_t>(herds_), {});
  new_heifers_.assign(static_cast<size_t>(herds_), {});
  latest_male_.assign(static_cast<size_t>(herds_), -1);
  const int64_t calvings = places * (kYears - kFirstCalvingYear + 1);
  const int32_t bulls_per_year = static_cast<int32_t>(std::max<int64_t>(3, places / 3000));
  // Registered bull calves: the share that N leaves after the base, the
  // female calves and the AI bulls, with a little to spare; the spare is
  // dropped at the end.
  const double half = static_cast<double>(calvings) / 2.0;
  const double male_share =
      std::clamp((static_cast<double>(wanted_) * 1.02 - static_cast<double>(places) - half -
                  60.0 * bulls_per_year) / half, 0.0, 1.0);
  animals_.reserve(static_cast<size_t>(places + calvings));
  calvings_.reserve(static_cast<size_t>(calvings));

  // The base: cows born in years 1 and 2, and AI bulls starting in years 3..8.
  for (int64_t k = 0; k < places; ++k) {
    Place& p = places_[static_cast<size_t>(k)];
    p.herd = static_cast<int32_t>(k % herds_);
    p.cow = add(-1, -1, 1 + static_cast<int32_t>(rng_.below(2)), p.herd, false);
    p.lactations = lactations();
    p.elite = rng_.chance(kElitePerMille);
  }
  add_bulls(6 * bulls_per_year, 1, kFirstCalvingYear, kFirstCalvingYear + 5, {});

  std::vector<int32_t> active;
  std::vector<double> cumulative;
  std::vector<double> cumulative_elite;
  std::vector<int32_t> sons;
  std::vector<int32_t> herd_bull(static_cast<size_t>(herds_), -1);
  for (int32_t year = kFirstCalvingYear; year <= kYears; ++year) {
    active.clear();
    cumulative.clear();
    cumulative_elite.clear();
    double sum = 0.0;
    double sum_elite = 0.0;
    for (size_t b = 0; b < bulls_.size(); ++b) {
      if (bulls_[b].first_year > year || bulls_[b].last_year < year) continue;
      active.push_back(static_cast<int32_t>(b));
      sum += bulls_[b].weight;
      sum_elite += bulls_[b].weight * bulls_[b].weight;
      cumulative.push_back(sum);
      cumulative_elite.push_back(sum_elite);
    }
    // A herd keeps its bull for a few years, then takes its latest bull calf.
    for (int32_t h = 0; h < herds_; ++h) {
      if ((year + h) % kHerdBullYears != 0) continue;
      const int32_t m = latest_male_[static_cast<size_t>(h)];
      herd_bull[static_cast<size_t>(h)] = m >= 0 && animals_[static_cast<size_t>(m)].year >= year - 3 ? m : -1;
    }
    // The heifers born two years ago calve first this year.
    std::swap(older_heifers_, heifers_);
    std::swap(heifers_, new_heifers_);
    for (auto& pool : new_heifers_) pool.clear();
    sons.clear();
    for (Place& p : places_) {
      if (p.lactation == p.lactations) new_cow(p, year);
      ++p.lactation;
      calvings_.push_back({p.cow, year, p.lactation, p.herd});
      int32_t sire = -1;
      if (!rng_.chance(kSireUnknownPerMille)) {
        const int32_t herd_sire = herd_bull[static_cast<size_t>(p.herd)];
        if (p.elite) {
          sire = choose_bull(cumulative_elite, active);
        } else if (herd_sire >= 0 && rng_.chance(kHerdBullPerMille)) {
          sire = herd_sire;
        } else if (p.last_bull >= 0 && rng_.chance(kSameBullAgainPerMille)) {
          sire = p.last_bull;
        } else {
          sire = choose_bull(cumulative, active);
        }
      }
      p.last_bull = sire;
      const int32_t dam = rng_.chance(kDamUnknownPerMille) ? -1 : p.cow;
      const bool male = rng_.below(2) == 0;
      if (!male) {
        new_heifers_[static_cast<size_t>(p.herd)].push_back(add(sire, dam, year, p.herd, false));
      } else if (p.elite && sire >= 0 && dam >= 0 &&
                 static_cast<int32_t>(sons.size()) < bulls_per_year) {
        sons.push_back(add(sire, dam, year, p.herd, true));
      } else if (uniform() < male_share) {
        latest_male_[static_cast<size_t>(p.herd)] = add(sire, dam, year, p.herd, true);
      }
    }
    for (auto& pool : new_heifers_) {
      for (size_t k = pool.size(); k > 1; --k) {
        std::swap(pool[k - 1], pool[rng_.below(static_cast<uint32_t>(k))]);
      }
    }
    // Sons enter AI service after their progeny test, at 5 to 7 years old.
    if (year + 5 <= kYears) add_bulls(bulls_per_year, year, year + 5, std::min(kYears, year + 7), sons);
  }
}

int32_t Population::number_animals() {
  // Bull calves without offspring are dropped, youngest first, down to N.
  int64_t surplus = static_cast<int64_t>(animals_.size()) - wanted_;
  std::vector<char> dropped(animals_.size(), 0);
  for (size_t k = animals_.size(); k > 0 && surplus > 0; --k) {
    const Animal& a = animals_[k - 1];
    if (a.male && !a.parent) {
      dropped[k - 1] = 1;
      --surplus;
    }
  }
  // Numbers in birth-year order, random within a year.
  std::vector<std::vector<int32_t>> by_year(kYears + 1);
  for (size_t k = 0; k < animals_.size(); ++k) {
    if (!dropped[k]) by_year[static_cast<size_t>(animals_[k].year)].push_back(static_cast<int32_t>(k));
  }
  int32_t number = 0;
  for (auto& year : by_year) {
    for (size_t k = year.size(); k > 1; --k) std::swap(year[k - 1], year[rng_.below(static_cast<uint32_t>(k))]);
    for (const int32_t k : year) animals_[static_cast<size_t>(k)].number = ++number;
  }
  return number;
}

void Population::write_pedigree(const std::filesystem::path& file, int32_t largest) const {
  std::vector<int32_t> by_number(static_cast<size_t>(largest) + 1, -1);
  for (size_t i = 0; i < animals_.size(); ++i) {
    if (animals_[i].number > 0) by_number[static_cast<size_t>(animals_[i].number)] = static_cast<int32_t>(i);
  }
  Random groups(0x5EED);
  FILE* f = open_or_die(file);
  char line[128];
  for (int32_t number = 1; number <= largest; ++number) {
    const Animal& a = animals_[static_cast<size_t>(by_number[static_cast<size_t>(number)])];
    int64_t parent[2];
    int known = 0;
    for (int k = 0; k < 2; ++k) {
      const int32_t p = k == 0 ? a.sire : a.dam;
      if (p >= 0) {
        parent[k] = animals_[static_cast<size_t>(p)].number;
        ++known;
      } else {
        parent[k] = groups.chance(kGroupPerMille) ? int64_t{largest} + 1 + (a.year - 1) / 10 : 0;
      }
    }
    const int code = known == 2 ? 1 : known == 1 ? 2 : 3;
    const int n = std::snprintf(line, sizeof line, "%d %" PRId64 " %" PRId64 " %d %d N%02d-%d\n",
                                number, parent[0], parent[1], code, a.year, a.year, number);
    write_or_die(f, line, static_cast<size_t>(n));
  }
  std::fclose(f);
}

void Population::write_data(const std::filesystem::path& file) {
  FILE* f = open_or_die(file);
  char line[128];
  for (const Calving& c : calvings_) {
    const int32_t milk = 4000 + 40 * c.year + 400 * std::min(c.lactation, 3) +
                         static_cast<int32_t>(rng_.below(5000));
    const int n = std::snprintf(line, sizeof line, "%d %d %d %d %d\n", c.herd + 1, c.year,
                                animals_[static_cast<size_t>(c.cow)].number, c.lactation, milk);
    write_or_die(f, line, static_cast<size_t>(n));
  }
  std::fclose(f);
}

void write_case(uint64_t seed, int64_t animals, int64_t records, const std::filesystem::path& folder) {
  Population population(seed, animals, records);
  population.breed();
  const int32_t largest = population.number_animals();
  population.write_pedigree(folder / "ped.txt", largest);
  population.write_data(folder / "data.txt");
  write_text(folder / "par.txt",
             "data.txt\nped.txt\nnational dairy population, seed " + std::to_string(seed) + "\n4 " +
                 std::to_string(kRecordLength) + "\n1 " + std::to_string(population.herds()) +
                 " 0\n2 " + std::to_string(kYears) + " 0\n4 5 0\n" + std::to_string(kAnimalColumn) +
                 " " + std::to_string(largest) + " -1\n");
  write_text(folder / "answers", "par.txt\n1\n");
}

}  // namespace national

constexpr int32_t kLineSize = 400;
constexpr int32_t kLineSires = 4;
constexpr int32_t kSireYears = 2;  // sires from the males of the last two years
constexpr int32_t kDamYears = 5;   // dams from the females of the last five

// Closed lines; returns the number of lines.
int32_t write_lines_case(uint64_t seed, int32_t animals, int32_t years, int64_t records,
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
  std::fclose(f);
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
  std::fclose(f);
  return lines;
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: generate-case [--shape herds|lines|national] [--seed S] [--animals N]\n"
               "                     [--records R] [--years Y] DIR\n"
               "  herds (default): N animal numbers (1000..500000, default 500000),\n"
               "    R data records (default 2 per animal number)\n"
               "  lines: closed lines of 400 animals over Y birth years (1..100, default 20),\n"
               "    N animal numbers as for herds, R records (default 20000)\n"
               "  national: N animals (1000..5000000, default 5000000),\n"
               "    R lactation records (default 7 per 5 animals)\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t seed = 1;
  int64_t animals = -1;
  int64_t records = -1;
  std::string shape = "herds";
  int64_t years = 20;
  const char* dir = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> int64_t {
      if (i + 1 >= argc) usage();
      char* end = nullptr;
      const long long v = std::strtoll(argv[++i], &end, 10);
      if (*end != '\0' || v < 0) usage();
      return v;
    };
    if (arg == "--shape" && i + 1 < argc) {
      shape = argv[++i];
    } else if (arg == "--seed") {
      seed = static_cast<uint64_t>(value());
    } else if (arg == "--animals") {
      animals = value();
    } else if (arg == "--records") {
      records = value();
    } else if (arg == "--years") {
      years = value();
    } else if (!arg.empty() && arg[0] != '-' && dir == nullptr) {
      dir = argv[i];
    } else {
      usage();
    }
  }
  if (dir == nullptr) usage();
  const std::filesystem::path folder(dir);
  if (shape == "national") {
    if (animals < 0) animals = 5000000;
    if (animals < 1000 || animals > 5000000) usage();
    if (records < 0) records = animals / 5 * 7;
    std::filesystem::create_directories(folder);
    national::write_case(seed, animals, records, folder);
    return 0;
  }
  if ((shape != "herds" && shape != "lines") || years < 1 || years > kYears) usage();
  if (animals < 0) animals = 500000;
  if (animals < 1000 || animals > 500000) usage();

  std::filesystem::create_directories(folder);
  if (shape == "lines") {
    const int32_t lines = write_lines_case(seed, static_cast<int32_t>(animals),
                                           static_cast<int32_t>(years), records < 0 ? 20000 : records,
                                           folder);
    write_text(folder / "par.txt",
               "data.txt\nped.txt\nclosed lines over " + std::to_string(years) + " years, seed " +
                   std::to_string(seed) + "\n3 " + std::to_string(kRecordLength) + "\n1 " +
                   std::to_string(lines) + " 0\n2 100 0\n" + std::to_string(kAnimalColumn) + " " +
                   std::to_string(animals) + " -1\n");
    // One expansion pass: the ancestor pairs of line-bred animals fill the
    // combination table in the second.
    write_text(folder / "answers", "par.txt\n1\n");
    return 0;
  }
  if (records < 0) records = 2 * animals;
  Population population(seed, static_cast<int32_t>(animals));
  population.breed();
  population.number_animals();
  population.write_pedigree(folder / "ped.txt");
  population.write_data(folder / "data.txt", records);
  write_text(folder / "par.txt",
             "data.txt\nped.txt\nsynthetic herds, seed " + std::to_string(seed) + "\n3 " +
                 std::to_string(kRecordLength) + "\n1 " + std::to_string(animals / 250) +
                 " 0\n2 100 0\n" + std::to_string(kAnimalColumn) + " " +
                 std::to_string(animals) + " -1\n");
  write_text(folder / "answers", "par.txt\n10\n");
  return 0;
}
