// The herds shape, generate-case's default: a set of herds of about 250
// animals each that breed in litters over the years 1..100. Herds join the
// recording over the first four decades. A mating (sire x dam) is mostly
// repeated for a few years; a new one takes a dam of the herd and a sire of
// the herd or of a neighbouring herd. Bought-in dams and unrecorded sires are
// unknown parents, so pedigrees stay shallow. Parents are always born in an
// earlier year. A few matings are close (full sibs, sire and daughter, dam and
// son). No animal gets more than kAncestorCap ancestors: a parent that would
// exceed it is made unknown.
//
// Animal numbers run 1..N in order of birth year (random within a year), with
// 1% of the numbers left unused and N itself always used. About 30% of the
// unknown parents are written as a group number above N (one per decade).
// Data records are test-day records of six integers with the animal number in
// column 3, for the females of the last ten years.
#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "generate_case.h"

namespace generate_case {

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
  close_or_die(f, file);
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
  close_or_die(f, file);
}

}  // namespace

void write_herds_case(uint64_t seed, int32_t animals, int64_t records,
                      const std::filesystem::path& folder) {
  Population population(seed, animals);
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
}

}  // namespace generate_case
