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
//
// NationalShape gives harder shapes: fewer or more AI bulls a year, all in
// service for the same number of years, with a Zipf popularity (the bull
// ranked r in its year's intake, sons first, weighs 1 / r^skew), and other
// rates of unknown parents. Its defaults draw exactly the files above.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "generate_case.h"

namespace generate_case {

namespace {

constexpr int32_t kYears = 60;
constexpr int32_t kFirstCalvingYear = 3;  // the base cows are born in years 1 and 2
constexpr int32_t kCowsPerHerd = 60;
constexpr uint32_t kHerdBullPerMille = 20;
constexpr int32_t kHerdBullYears = 4;
constexpr uint32_t kSameBullAgainPerMille = 200;
constexpr uint32_t kElitePerMille = 20;
constexpr uint32_t kGroupPerMille = 300;
constexpr int kRecordLength = 5;
constexpr int kAnimalColumn = 3;

// base^exponent for base >= 1 and exponent >= 0 from square roots and
// products alone, which IEEE arithmetic rounds alike everywhere: the whole
// part by products, the fraction bit by bit down to 2^-30.
double power(double base, double exponent) {
  double result = 1.0;
  const auto whole = static_cast<int32_t>(exponent);
  for (int32_t k = 0; k < whole; ++k) result *= base;
  double fraction = exponent - whole;
  double root = base;
  for (int bit = 0; bit < 30; ++bit) {
    root = std::sqrt(root);
    fraction *= 2.0;
    if (fraction >= 1.0) {
      result *= root;
      fraction -= 1.0;
    }
  }
  return result;
}

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
  Population(uint64_t seed, int64_t animals, int64_t records, const NationalShape& shape)
      : rng_(seed),
        shape_(shape),
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
  NationalShape shape_;
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
    const int32_t years = shape_.career > 0 ? shape_.career : 2 + static_cast<int32_t>(rng_.below(5));
    // Popularity from 1 to 33, a few bulls far above the typical 2 to 3, or
    // Zipf's; only exactly rounded operations, so the files are the same
    // everywhere.
    const double weight = shape_.skew > 0.0 ? 1.0 / power(1.0 + k, shape_.skew) : 1.0 / (0.03 + uniform());
    bulls_.push_back({animal, first, first + years - 1, weight});
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
  const int32_t bulls_per_year =
      shape_.ai_bulls > 0 ? shape_.ai_bulls : static_cast<int32_t>(std::max<int64_t>(3, places / 3000));
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
      if (!rng_.chance(shape_.missing_sire)) {
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
      const int32_t dam = rng_.chance(shape_.missing_dam) ? -1 : p.cow;
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
  close_or_die(f, file);
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
  close_or_die(f, file);
}

}  // namespace

void write_national_case(uint64_t seed, int64_t animals, int64_t records, const NationalShape& shape,
                         const std::filesystem::path& folder) {
  Population population(seed, animals, records, shape);
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


}  // namespace generate_case
