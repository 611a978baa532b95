#include "inbreeding/exact_inbreeding.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace parclas {

namespace {

// The inbreeding of an offspring of s and d is a(s, d) / 2. For one parent g
// (the "key" of its matings) the column of the relationship matrix
// A = T D T' gives a(g, m) for every mate m at once (Colleau's indirect
// method): v = T' e_g holds the contribution of every ancestor j of g
// (v_g = 1, each animal passes half of its value to each parent), w = D v with
// D_j = 1/2 - (F_sire(j) + F_dam(j)) / 4 (F of an unknown parent taken as -1),
// and x = T w, x_i = w_i + (x_sire(i) + x_dam(i)) / 2, is a(i, g). x is formed
// only for the mates of g and their ancestors, on demand. Keys are taken in
// parents-first order, so the inbreeding of every ancestor of g, which D
// needs, is known when g's turn comes; full sibs share one pair. Only
// additions, halvings and the products D v are rounded, and all terms are
// at least 0, so the result is exact wherever double precision holds the
// dyadic fractions involved, and within a few units of the last place
// elsewhere.

// An animal in its storage slot: its parents' slots (0 unknown), x of the
// current pass, and where the pass stands with it: `stamp` is 2 * pass once
// the animal is known to be g or an ancestor of g (x then holds w), and
// 2 * pass + 1 once its x is computed.
struct Node {
  int32_t sire;
  int32_t dam;
  uint32_t stamp;
  double x;
};

// Asks for a row that a pass will read soon: rows lie anywhere in the table.
inline void prefetch(const Node* row) {
#if defined(__GNUC__)
  __builtin_prefetch(row);
#else
  (void)row;
#endif
}

int32_t known(int32_t parent, int32_t n) { return parent >= 1 && parent <= n ? parent : 0; }

// Fills `animal_at` (positions 1..) and `position` (by animal number, 0 when
// not placed) with a parents-first order, taking generation after
// generation. Returns the number of animals placed: fewer than n when a loop
// keeps some back.
int32_t order_parents_first(std::span<const PedigreeRow> ped, int32_t n,
                            std::vector<int32_t>& animal_at, std::vector<int32_t>& position) {
  const auto count = static_cast<size_t>(n) + 2;
  std::vector<int32_t> begin(count, 0);
  std::vector<int8_t> parents_left(count, 0);
  for (int32_t a = 1; a <= n; ++a) {
    for (const int32_t p : {known(ped[a].sire, n), known(ped[a].dam, n)}) {
      if (p == 0) continue;
      ++begin[p + 1];
      ++parents_left[a];
    }
  }
  for (int32_t a = 1; a <= n + 1; ++a) begin[a] += begin[a - 1];
  std::vector<int32_t> child(static_cast<size_t>(begin[n + 1]));
  {
    std::vector<int32_t> next(begin.begin(), begin.end() - 1);
    for (int32_t a = 1; a <= n; ++a) {
      for (const int32_t p : {known(ped[a].sire, n), known(ped[a].dam, n)}) {
        if (p != 0) child[next[p]++] = a;
      }
    }
  }
  int32_t tail = 0;
  for (int32_t a = 1; a <= n; ++a) {
    if (parents_left[a] == 0) animal_at[++tail] = a;
  }
  for (int32_t head = 1; head <= tail; ++head) {
    const int32_t a = animal_at[head];
    position[a] = head;
    for (int32_t k = begin[a]; k < begin[a + 1]; ++k) {
      if (--parents_left[child[k]] == 0) animal_at[++tail] = child[k];
    }
  }
  return tail;
}

// The smallest animal number on a loop (in a strongly connected set of more
// than one animal, or its own parent), among the animals not placed.
// Tarjan's algorithm without recursion.
int32_t smallest_own_ancestor(std::span<const PedigreeRow> ped, int32_t n,
                              const std::vector<int32_t>& position) {
  const auto count = static_cast<size_t>(n) + 1;
  std::vector<int32_t> index(count, 0);
  std::vector<int32_t> low(count, 0);
  std::vector<char> on_stack(count, 0);
  std::vector<int32_t> component;
  component.reserve(count);
  struct Frame {
    int32_t animal;
    int32_t next_parent;  // 0 sire, 1 dam, 2 done
  };
  std::vector<Frame> call;
  call.reserve(count);
  int32_t counter = 0;
  int32_t smallest = 0;
  auto enter = [&](int32_t a) {
    index[a] = low[a] = ++counter;
    component.push_back(a);
    on_stack[a] = 1;
    call.push_back({a, 0});
  };
  for (int32_t root = 1; root <= n; ++root) {
    if (position[root] != 0 || index[root] != 0) continue;
    enter(root);
    while (!call.empty()) {
      const int32_t a = call.back().animal;
      if (call.back().next_parent < 2) {
        const int32_t which = call.back().next_parent++;
        const int32_t p = known(which == 0 ? ped[a].sire : ped[a].dam, n);
        if (p == 0 || position[p] != 0) continue;
        if (index[p] == 0) {
          enter(p);
        } else if (on_stack[p]) {
          low[a] = std::min(low[a], index[p]);
        }
        continue;
      }
      call.pop_back();
      if (!call.empty()) {
        const int32_t up = call.back().animal;
        low[up] = std::min(low[up], low[a]);
      }
      if (low[a] != index[a]) continue;
      int32_t members = 0;
      int32_t least = a;
      int32_t b = 0;
      do {
        b = component.back();
        component.pop_back();
        on_stack[b] = 0;
        least = std::min(least, b);
        ++members;
      } while (b != a);
      const bool own_parent = known(ped[a].sire, n) == a || known(ped[a].dam, n) == a;
      if ((members > 1 || own_parent) && (smallest == 0 || least < smallest)) smallest = least;
    }
  }
  return smallest;
}

// The whole method, storing each animal's coefficient as a Value.
template <class Value>
ExactOutcome compute_exact_inbreeding(std::span<const PedigreeRow> pedigree, int32_t n,
                                      std::span<Value> coefficient) {
  if (n <= 0) return {};
  if (pedigree.size() <= static_cast<size_t>(n) || coefficient.size() <= static_cast<size_t>(n)) {
    throw std::invalid_argument("exact_inbreeding: tables shorter than the animal count");
  }
  const auto count = static_cast<size_t>(n) + 1;
  std::vector<int32_t> animal_at(count, 0);
  std::vector<int32_t> position(count, 0);
  if (order_parents_first(pedigree, n, animal_at, position) < n) {
    return {true, smallest_own_ancestor(pedigree, n, position)};
  }
  auto sire_of = [&](int32_t a) { return known(pedigree[static_cast<size_t>(a)].sire, n); };
  auto dam_of = [&](int32_t a) { return known(pedigree[static_cast<size_t>(a)].dam, n); };

  // Storage slots: animals with many descendants first, so that the part of
  // the pedigree that every pass goes through lies together and stays in
  // cache. The measure is the number of paths down to descendants, by its
  // binary exponent; within one exponent the parents-first order is kept.
  std::vector<int32_t> slot_at(count, 0);  // by position in parents-first order
  {
    std::vector<double> paths(count, 0.0);
    for (int32_t t = n; t >= 1; --t) {
      for (const int32_t p : {sire_of(animal_at[t]), dam_of(animal_at[t])}) {
        if (p != 0) paths[position[p]] += 1.0 + paths[t];
      }
    }
    constexpr int32_t kBuckets = 1100;  // beyond the largest double exponent
    std::vector<int32_t> first(kBuckets + 1, 0);
    std::vector<int16_t> bucket(count, 0);
    for (int32_t t = 1; t <= n; ++t) {
      const int e = std::ilogb(1.0 + paths[t]);
      bucket[t] = static_cast<int16_t>(kBuckets - 1 - std::clamp(e, 0, kBuckets - 1));
      ++first[bucket[t] + 1];
    }
    for (int32_t b = 1; b <= kBuckets; ++b) first[b] += first[b - 1];
    for (int32_t t = 1; t <= n; ++t) slot_at[t] = 1 + first[bucket[t]]++;
  }
  std::vector<int32_t> animal_in(count, 0);  // by slot
  std::vector<Node> node(count, Node{0, 0, 0, 0.0});
  for (int32_t t = 1; t <= n; ++t) {
    const int32_t a = animal_at[t];
    const int32_t s = slot_at[t];
    animal_in[s] = a;
    node[s].sire = sire_of(a) != 0 ? slot_at[position[sire_of(a)]] : 0;
    node[s].dam = dam_of(a) != 0 ? slot_at[position[dam_of(a)]] : 0;
  }
  position = std::vector<int32_t>();
  animal_at = std::vector<int32_t>();

  // The distinct sire x dam pairs, found through the offspring of each sire,
  // and each animal's pair (-1 with a parent unknown), by slot.
  std::vector<int32_t> pair_of(count, -1);
  std::vector<int32_t> pair_sire;
  std::vector<int32_t> pair_dam;
  {
    std::vector<int32_t> begin(count + 1, 0);
    for (int32_t s = 1; s <= n; ++s) {
      if (node[s].sire != 0 && node[s].dam != 0) ++begin[node[s].sire + 1];
    }
    for (int32_t s = 1; s <= n + 1; ++s) begin[s] += begin[s - 1];
    std::vector<int32_t> offspring(static_cast<size_t>(begin[n + 1]));
    {
      std::vector<int32_t> next(begin.begin(), begin.end() - 1);
      for (int32_t s = 1; s <= n; ++s) {
        if (node[s].sire != 0 && node[s].dam != 0) offspring[next[node[s].sire]++] = s;
      }
    }
    std::vector<int32_t> last_sire(count, 0);  // per dam: the sire and index of its latest pair
    std::vector<int32_t> latest(count, 0);
    pair_sire.reserve(offspring.size());
    pair_dam.reserve(offspring.size());
    for (int32_t sire = 1; sire <= n; ++sire) {
      for (int32_t k = begin[sire]; k < begin[sire + 1]; ++k) {
        const int32_t c = offspring[k];
        const int32_t d = node[c].dam;
        if (last_sire[d] != sire) {
          last_sire[d] = sire;
          latest[d] = static_cast<int32_t>(pair_sire.size());
          pair_sire.push_back(sire);
          pair_dam.push_back(d);
        }
        pair_of[c] = latest[d];
      }
    }
  }
  const auto pairs = static_cast<int32_t>(pair_sire.size());

  // Each pair goes to the parent with more distinct mates, its key: one pass
  // of that parent serves all of them.
  std::vector<int32_t> key_begin(count + 1, 0);
  std::vector<int32_t> key_pairs(static_cast<size_t>(pairs));
  {
    std::vector<int32_t> mates(count, 0);
    for (int32_t p = 0; p < pairs; ++p) {
      ++mates[pair_sire[p]];
      if (pair_dam[p] != pair_sire[p]) ++mates[pair_dam[p]];
    }
    auto key_of = [&](int32_t p) {
      return mates[pair_sire[p]] >= mates[pair_dam[p]] ? pair_sire[p] : pair_dam[p];
    };
    for (int32_t p = 0; p < pairs; ++p) ++key_begin[key_of(p) + 1];
    for (int32_t s = 1; s <= n + 1; ++s) key_begin[s] += key_begin[s - 1];
    std::vector<int32_t> next(key_begin.begin(), key_begin.end() - 1);
    for (int32_t p = 0; p < pairs; ++p) key_pairs[next[key_of(p)]++] = p;
  }

  std::vector<double> pair_f(static_cast<size_t>(pairs), 0.0);
  auto inbreeding_in = [&](int32_t s) { return pair_of[s] >= 0 ? pair_f[pair_of[s]] : 0.0; };
  std::vector<int32_t> ancestors;
  ancestors.reserve(count);
  // An animal waits on the stack at most once per child that found it not
  // ready, and only a child that is not ready itself looks.
  std::vector<int32_t> stack(2 * count);
  uint32_t pass = 0;
  for (int32_t t = 1; t <= n; ++t) {
    const int32_t g = slot_at[t];
    if (key_begin[g] == key_begin[g + 1]) continue;
    ++pass;
    const uint32_t member = 2 * pass;
    const uint32_t done = 2 * pass + 1;

    // g and its ancestors, parents before offspring.
    ancestors.clear();
    size_t top = 0;
    stack[top++] = g;
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
    // v, offspring before parents, held in x; then x = w = D v.
    node[g].x = 1.0;
    for (size_t k = ancestors.size(); k-- > 0;) {
      Node& a = node[ancestors[k]];
      const double v = a.x;
      if (a.sire != 0) node[a.sire].x += 0.5 * v;
      if (a.dam != 0) node[a.dam].x += 0.5 * v;
      const double f_sire = a.sire != 0 ? inbreeding_in(a.sire) : -1.0;
      const double f_dam = a.dam != 0 ? inbreeding_in(a.dam) : -1.0;
      a.x = (0.5 - 0.25 * (f_sire + f_dam)) * v;
    }

    // x = a(., g) for each mate, through its ancestors not yet computed.
    // Slot 0 stands for unknown parents: x = 0, always computed.
    node[0].x = 0.0;
    node[0].stamp = done;
    const int32_t first = key_begin[g];
    const int32_t last = key_begin[g + 1];
    auto mate = [&](int32_t k) {
      const int32_t p = key_pairs[k];
      return pair_sire[p] == g ? pair_dam[p] : pair_sire[p];
    };
    for (int32_t k = first; k < last; ++k) {
      // The mates' rows, and their parents' a little later, are fetched
      // ahead: they lie anywhere in the table.
      if (k + 8 < last) prefetch(&node[mate(k + 8)]);
      if (k + 4 < last) {
        const Node& ahead = node[mate(k + 4)];
        prefetch(&node[ahead.sire]);
        prefetch(&node[ahead.dam]);
      }
      const int32_t m = mate(k);
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
      pair_f[key_pairs[k]] = 0.5 * node[m].x;
    }
  }

  for (int32_t s = 1; s <= n; ++s) {
    coefficient[static_cast<size_t>(animal_in[s])] = static_cast<Value>(inbreeding_in(s));
  }
  return {};
}

}  // namespace

ExactOutcome exact_inbreeding(std::span<const PedigreeRow> pedigree, int32_t n,
                              std::span<float> coefficient) {
  return compute_exact_inbreeding(pedigree, n, coefficient);
}

ExactOutcome exact_inbreeding(std::span<const PedigreeRow> pedigree, int32_t n,
                              std::span<double> coefficient) {
  return compute_exact_inbreeding(pedigree, n, coefficient);
}

}  // namespace parclas
