#include "classes/pair_relationships.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace parclas {

namespace {

int32_t known(int32_t parent, int32_t n) { return parent >= 1 && parent <= n ? parent : 0; }

// Offspring lists of every animal 1..n (children of a in child[begin[a] .. begin[a + 1])).
void offspring_lists(std::span<const PedigreeRow> pedigree, int32_t n, std::vector<int32_t>& begin,
                     std::vector<int32_t>& child) {
  begin.assign(static_cast<size_t>(n) + 2, 0);
  for (int32_t a = 1; a <= n; ++a) {
    for (const int32_t p : {known(pedigree[a].sire, n), known(pedigree[a].dam, n)}) {
      if (p != 0) ++begin[static_cast<size_t>(p) + 1];
    }
  }
  for (int32_t a = 1; a <= n + 1; ++a) begin[a] += begin[a - 1];
  child.assign(static_cast<size_t>(begin[static_cast<size_t>(n) + 1]), 0);
  std::vector<int32_t> next(begin.begin(), begin.end() - 1);
  for (int32_t a = 1; a <= n; ++a) {
    for (const int32_t p : {known(pedigree[a].sire, n), known(pedigree[a].dam, n)}) {
      if (p != 0) child[static_cast<size_t>(next[p]++)] = a;
    }
  }
}

// An animal in its storage slot as the indirect method sees it: its
// parents' slots (0 unknown) and x of the current pass. `stamp` is 2 * pass once
// the animal is known to be the pass's key or one of its ancestors (x then
// holds d times its share of the key), and 2 * pass + 1 once x is a(animal, key).
struct Node {
  double x;
  int32_t sire;
  int32_t dam;
  uint32_t stamp;
};

inline void prefetch(const Node* row) {
#if defined(__GNUC__)
  __builtin_prefetch(row);
#else
  (void)row;
#endif
}

}  // namespace

bool parents_first_positions(std::span<const PedigreeRow> pedigree, int32_t n,
                             TableVector<int32_t>& position) {
  position.assign(static_cast<size_t>(n) + 1, 0);
  if (n <= 0) return true;
  std::vector<int32_t> begin;
  std::vector<int32_t> child;
  offspring_lists(pedigree, n, begin, child);
  std::vector<int8_t> parents_left(static_cast<size_t>(n) + 1, 0);
  std::vector<int32_t> order;
  order.reserve(static_cast<size_t>(n));
  for (int32_t a = 1; a <= n; ++a) {
    parents_left[a] = static_cast<int8_t>((known(pedigree[a].sire, n) != 0) +
                                          (known(pedigree[a].dam, n) != 0));
    if (parents_left[a] == 0) order.push_back(a);
  }
  for (size_t head = 0; head < order.size(); ++head) {
    const int32_t a = order[head];
    position[a] = static_cast<int32_t>(head) + 1;
    for (int32_t k = begin[a]; k < begin[a + 1]; ++k) {
      if (--parents_left[child[k]] == 0) order.push_back(child[k]);
    }
  }
  return order.size() == static_cast<size_t>(n);
}

void pair_relationships(std::span<const PedigreeRow> pedigree, int32_t n,
                        std::span<const double> inbreeding, std::span<const int32_t> position,
                        std::span<const AnimalPair> pairs, std::span<double> relationship) {
  if (relationship.size() != pairs.size() || pedigree.size() <= static_cast<size_t>(n) ||
      inbreeding.size() <= static_cast<size_t>(n) || position.size() <= static_cast<size_t>(n)) {
    throw std::invalid_argument("pair_relationships: tables of the wrong size");
  }
  const auto count = static_cast<size_t>(n) + 1;
  for (const AnimalPair& p : pairs) {
    if (p.first < 1 || p.first > n || p.second < 1 || p.second > n) {
      throw std::invalid_argument("pair_relationships: a member outside the pedigree");
    }
  }
  auto sire_of = [&](int32_t a) { return known(pedigree[a].sire, n); };
  auto dam_of = [&](int32_t a) { return known(pedigree[a].dam, n); };

  // Storage slots: animals with many descendants first, so that the old
  // ancestors that every walk goes through lie together and stay in cache.
  // The measure is the number of paths down to descendants, by its binary
  // exponent; within one exponent the parents-first order is kept.
  std::vector<int32_t> slot(count, 0);  // by animal
  {
    std::vector<int32_t> animal_at(count, 0);
    for (int32_t a = 1; a <= n; ++a) animal_at[position[a]] = a;
    std::vector<double> paths(count, 0.0);  // by animal
    for (int32_t t = n; t >= 1; --t) {
      const int32_t a = animal_at[t];
      for (const int32_t p : {sire_of(a), dam_of(a)}) {
        if (p != 0) paths[p] += 1.0 + paths[a];
      }
    }
    constexpr int kBuckets = 1100;  // beyond the largest exponent of a double
    std::vector<int32_t> first(kBuckets + 1, 0);
    std::vector<int16_t> bucket(count, 0);
    for (int32_t a = 1; a <= n; ++a) {
      const int e = std::ilogb(1.0 + paths[a]);
      bucket[a] = static_cast<int16_t>(kBuckets - 1 - std::clamp(e, 0, kBuckets - 1));
      ++first[bucket[a] + 1];
    }
    for (int b = 1; b <= kBuckets; ++b) first[b] += first[b - 1];
    for (int32_t t = 1; t <= n; ++t) {
      const int32_t a = animal_at[t];
      slot[a] = 1 + first[bucket[a]]++;
    }
  }

  TableVector<Node> node(count, Node{0.0, 0, 0, 0});
  TableVector<double> d(count, 0.0);  // by slot
  for (int32_t a = 1; a <= n; ++a) {
    const int32_t s = slot[a];
    const int32_t sire = sire_of(a);
    const int32_t dam = dam_of(a);
    node[s].sire = sire != 0 ? slot[sire] : 0;
    node[s].dam = dam != 0 ? slot[dam] : 0;
    const double f_sire = sire != 0 ? inbreeding[static_cast<size_t>(sire)] : -1.0;
    const double f_dam = dam != 0 ? inbreeding[static_cast<size_t>(dam)] : -1.0;
    d[s] = 0.5 - 0.25 * (f_sire + f_dam);
  }

  // Each pair goes to the member that more pairs share, its key; the pairs
  // of one key are taken in the slot order of their partners, which keeps
  // successive walks near each other.
  std::vector<int32_t> partners(count, 0);  // by slot
  for (const AnimalPair& p : pairs) {
    if (p.first == p.second) continue;
    ++partners[slot[p.first]];
    ++partners[slot[p.second]];
  }
  struct Sides {
    int32_t key;
    int32_t partner;
  };
  auto sides_of = [&](const AnimalPair& p) {
    const int32_t a = slot[p.first];
    const int32_t b = slot[p.second];
    return partners[a] > partners[b] || (partners[a] == partners[b] && a < b) ? Sides{a, b}
                                                                              : Sides{b, a};
  };
  std::vector<int32_t> by_partner(pairs.size());
  {
    std::vector<int32_t> start(count + 1, 0);
    for (const AnimalPair& p : pairs) {
      if (p.first != p.second) ++start[static_cast<size_t>(sides_of(p).partner) + 1];
    }
    for (size_t s = 1; s <= count; ++s) start[s] += start[s - 1];
    for (size_t i = 0; i < pairs.size(); ++i) {
      const AnimalPair& p = pairs[i];
      if (p.first == p.second) {
        relationship[i] = 1.0 + inbreeding[static_cast<size_t>(p.first)];
      } else {
        by_partner[static_cast<size_t>(start[sides_of(p).partner]++)] = static_cast<int32_t>(i);
      }
    }
    by_partner.resize(static_cast<size_t>(start[count]));
  }
  std::vector<int32_t> key_begin(count + 1, 0);
  for (const int32_t i : by_partner) ++key_begin[static_cast<size_t>(sides_of(pairs[i]).key) + 1];
  for (size_t s = 1; s <= count; ++s) key_begin[s] += key_begin[s - 1];
  struct KeyPair {
    int32_t partner;
    int32_t pair;
  };
  std::vector<KeyPair> key_pairs(by_partner.size());
  {
    std::vector<int32_t> next(key_begin.begin(), key_begin.end() - 1);
    for (const int32_t i : by_partner) {
      const Sides sides = sides_of(pairs[static_cast<size_t>(i)]);
      key_pairs[static_cast<size_t>(next[sides.key]++)] = {sides.partner, i};
    }
  }
  by_partner = std::vector<int32_t>();
  partners = std::vector<int32_t>();
  slot = std::vector<int32_t>();

  std::vector<int32_t> ancestors;
  // An animal waits on the stack at most once per child that found it not
  // ready, and each animal looks at its parents once per walk.
  std::vector<int32_t> stack(2 * count + 1);
  uint32_t pass = 0;
  for (size_t g = 1; g < count; ++g) {
    const int32_t first = key_begin[g];
    const int32_t last = key_begin[g + 1];
    if (first == last) continue;
    ++pass;
    const uint32_t member = 2 * pass;
    const uint32_t done = 2 * pass + 1;

    // g and its ancestors, parents before offspring.
    ancestors.clear();
    size_t top = 0;
    stack[top++] = static_cast<int32_t>(g);
    while (top > 0) {
      Node& a = node[stack[top - 1]];
      if (a.stamp == member) {
        --top;
        continue;
      }
      const bool sire_ready = a.sire == 0 || node[a.sire].stamp == member;
      const bool dam_ready = a.dam == 0 || node[a.dam].stamp == member;
      if (sire_ready && dam_ready) {
        a.stamp = member;
        a.x = 0.0;
        ancestors.push_back(stack[top - 1]);
        --top;
      } else {
        if (!sire_ready) stack[top++] = a.sire;
        if (!dam_ready && a.dam != a.sire) stack[top++] = a.dam;
      }
    }
    // g's share in each ancestor, offspring before parents, then times d.
    node[g].x = 1.0;
    for (size_t k = ancestors.size(); k-- > 0;) {
      Node& a = node[ancestors[k]];
      const double share = a.x;
      if (a.sire != 0) node[a.sire].x += 0.5 * share;
      if (a.dam != 0) node[a.dam].x += 0.5 * share;
      a.x = d[ancestors[k]] * share;
    }

    // a(m, g) for each partner m, through its ancestors not yet reached in
    // this pass. Slot 0 stands for unknown parents, related 0 to everybody.
    node[0].x = 0.0;
    node[0].stamp = done;
    for (int32_t k = first; k < last; ++k) {
      // Partners' rows, and their parents' a little later, lie anywhere.
      if (k + 8 < last) prefetch(&node[key_pairs[k + 8].partner]);
      if (k + 4 < last) {
        const Node& ahead = node[key_pairs[k + 4].partner];
        prefetch(&node[ahead.sire]);
        prefetch(&node[ahead.dam]);
      }
      const int32_t m = key_pairs[k].partner;
      top = 0;
      stack[top++] = m;
      while (top > 0) {
        Node& a = node[stack[top - 1]];
        if (a.stamp == done) {
          --top;
          continue;
        }
        const bool sire_ready = node[a.sire].stamp == done;
        const bool dam_ready = node[a.dam].stamp == done;
        if (sire_ready && dam_ready) {
          double x = (node[a.sire].x + node[a.dam].x) * 0.5;
          if (a.stamp == member) x += a.x;
          a.x = x;
          a.stamp = done;
          --top;
        } else {
          if (!sire_ready) stack[top++] = a.sire;
          if (!dam_ready && a.dam != a.sire) stack[top++] = a.dam;
        }
      }
      relationship[static_cast<size_t>(key_pairs[k].pair)] = node[m].x;
    }
  }
}

}  // namespace parclas
