// Random pedigrees of many shapes for the differential inbreeding tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "run/tables.h"
#include "splitmix.h"

namespace parclas::testing_support {

// The shared generator with the tests' start and range rules.
class Random {
 public:
  explicit Random(uint64_t seed) : core_(SplitMix64::seeded(seed, 1)) {}
  uint64_t next() { return core_.next(); }
  int32_t below(int32_t n) { return static_cast<int32_t>((next() >> 33) % static_cast<uint64_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }

 private:
  SplitMix64 core_;
};

// How a random pedigree is drawn.
struct Shape {
  int generations = 6;
  int per_generation = 10;     // animals born per generation (varies +-50%)
  int breeders = 6;            // animals of a generation that get offspring
  int unknown_percent = 20;    // parents left unknown
  int close_percent = 5;       // full-sib, parent-offspring and selfing matings
  int reach_back = 2;          // generations a parent may lie back
  int hole_percent = 3;        // numbers without an animal
  int odd_year_percent = 0;    // years equal to or after a parent's, or outside 1..100
  bool shuffled = true;        // animal numbers in random order, else by birth
  int loop_percent = 0;        // pedigrees given a loop
};

struct Pedigree {
  std::vector<PedigreeRow> rows;  // rows 1..n, as the loader leaves them
  int32_t n = 0;
};

inline Pedigree draw(const Shape& shape, Random& rng) {
  struct Animal {
    int32_t sire = -1;
    int32_t dam = -1;
    int32_t year = 0;
    int32_t generation = 0;
  };
  std::vector<Animal> animals;
  std::vector<std::vector<int32_t>> by_generation(static_cast<size_t>(shape.generations));
  const int interval = 1 + rng.below(3);
  for (int g = 0; g < shape.generations; ++g) {
    const int count = std::max(1, shape.per_generation / 2 + rng.below(shape.per_generation + 1));
    for (int c = 0; c < count; ++c) {
      Animal a;
      a.generation = g;
      a.year = 1 + g * interval + rng.below(interval);
      if (g > 0) {
        auto pick = [&]() -> int32_t {
          const int back = 1 + rng.below(std::min(g, shape.reach_back));
          const auto& pool = by_generation[static_cast<size_t>(g - back)];
          const int limit = std::min<int>(shape.breeders, static_cast<int>(pool.size()));
          return pool[static_cast<size_t>(rng.below(limit))];
        };
        a.sire = rng.chance(shape.unknown_percent) ? -1 : pick();
        a.dam = rng.chance(shape.unknown_percent) ? -1 : pick();
        if (rng.chance(shape.close_percent)) {
          const int kind = rng.below(3);
          if (kind == 0 && a.sire >= 0) {
            a.dam = a.sire;  // selfing
          } else if (kind == 1 && a.sire >= 0 && animals[static_cast<size_t>(a.sire)].dam >= 0) {
            a.dam = animals[static_cast<size_t>(a.sire)].dam;  // son and his dam
          } else if (a.dam >= 0) {
            // a full sib of the dam, if the same pair had another offspring
            const Animal& d = animals[static_cast<size_t>(a.dam)];
            for (size_t k = 0; k < animals.size(); ++k) {
              if (static_cast<int32_t>(k) != a.dam && animals[k].sire == d.sire &&
                  animals[k].dam == d.dam && d.sire >= 0) {
                a.sire = static_cast<int32_t>(k);
                break;
              }
            }
          }
        }
      }
      if (rng.chance(shape.odd_year_percent)) {
        const int kind = rng.below(4);
        const int32_t parent = a.sire >= 0 ? a.sire : a.dam;
        if (kind == 0 && parent >= 0) a.year = animals[static_cast<size_t>(parent)].year;
        if (kind == 1 && parent >= 0) a.year = animals[static_cast<size_t>(parent)].year - 1 - rng.below(3);
        if (kind == 2) a.year = 101 + rng.below(5);
        if (kind == 3) a.year = -rng.below(3);
      }
      by_generation[static_cast<size_t>(g)].push_back(static_cast<int32_t>(animals.size()));
      animals.push_back(a);
    }
  }
  // Numbers: some left as holes, the animals in birth or random order.
  const int32_t count = static_cast<int32_t>(animals.size());
  std::vector<int32_t> order(static_cast<size_t>(count));
  for (int32_t k = 0; k < count; ++k) order[static_cast<size_t>(k)] = k;
  if (shape.shuffled) {
    for (int32_t k = count - 1; k > 0; --k) std::swap(order[static_cast<size_t>(k)], order[static_cast<size_t>(rng.below(k + 1))]);
  }
  std::vector<int32_t> number(static_cast<size_t>(count));
  int32_t next = 0;
  for (const int32_t k : order) {
    while (rng.chance(shape.hole_percent)) ++next;
    number[static_cast<size_t>(k)] = ++next;
  }
  Pedigree p;
  p.n = next;
  p.rows.assign(static_cast<size_t>(next) + 1, PedigreeRow{});
  for (int32_t k = 0; k < count; ++k) {
    const Animal& a = animals[static_cast<size_t>(k)];
    PedigreeRow& row = p.rows[static_cast<size_t>(number[static_cast<size_t>(k)])];
    row.sire = a.sire >= 0 ? number[static_cast<size_t>(a.sire)] : 0;
    row.dam = a.dam >= 0 ? number[static_cast<size_t>(a.dam)] : 0;
    row.year = a.year;
  }
  if (rng.chance(shape.loop_percent) && count > 0) {
    // An animal made its own sire, or an early animal given a late one as dam.
    const int32_t late = number[static_cast<size_t>(count - 1)];
    if (rng.chance(30)) {
      p.rows[static_cast<size_t>(late)].sire = late;
    } else {
      p.rows[static_cast<size_t>(number[static_cast<size_t>(rng.below(count))])].dam = late;
    }
  }
  return p;
}

}  // namespace parclas::testing_support
