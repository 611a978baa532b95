#include "inbreeding/exact_inbreeding.h"

#include <algorithm>
#include <functional>
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
// needs, is known when g's turn comes; full sibs share one pair.

// An animal by its position in parents-first order; its parents by theirs
// (0 unknown). x and w of the current key's pass, valid where the pass
// stamps say so.
struct Node {
  int32_t sire;
  int32_t dam;
  uint32_t x_pass;
  uint32_t w_pass;
  double x;
  double w;
};

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

}  // namespace

ExactOutcome exact_inbreeding(std::span<const PedigreeRow> pedigree, int32_t n,
                              std::span<float> coefficient) {
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

  std::vector<Node> node(count, Node{0, 0, 0, 0, 0.0, 0.0});
  for (int32_t t = 1; t <= n; ++t) {
    const PedigreeRow& row = pedigree[static_cast<size_t>(animal_at[t])];
    node[t].sire = position[known(row.sire, n)];
    node[t].dam = position[known(row.dam, n)];
  }
  position = std::vector<int32_t>();

  // The distinct sire x dam pairs, found through the offspring of each sire,
  // and each animal's pair (-1 with a parent unknown).
  std::vector<int32_t> pair_of(count, -1);
  std::vector<int32_t> pair_sire;
  std::vector<int32_t> pair_dam;
  {
    std::vector<int32_t> begin(count + 1, 0);
    for (int32_t t = 1; t <= n; ++t) {
      if (node[t].sire != 0 && node[t].dam != 0) ++begin[node[t].sire + 1];
    }
    for (int32_t t = 1; t <= n + 1; ++t) begin[t] += begin[t - 1];
    std::vector<int32_t> offspring(static_cast<size_t>(begin[n + 1]));
    {
      std::vector<int32_t> next(begin.begin(), begin.end() - 1);
      for (int32_t t = 1; t <= n; ++t) {
        if (node[t].sire != 0 && node[t].dam != 0) offspring[next[node[t].sire]++] = t;
      }
    }
    std::vector<int32_t> last_sire(count, 0);  // per dam: the sire and slot of its latest pair
    std::vector<int32_t> slot(count, 0);
    for (int32_t s = 1; s <= n; ++s) {
      for (int32_t k = begin[s]; k < begin[s + 1]; ++k) {
        const int32_t c = offspring[k];
        const int32_t d = node[c].dam;
        if (last_sire[d] != s) {
          last_sire[d] = s;
          slot[d] = static_cast<int32_t>(pair_sire.size());
          pair_sire.push_back(s);
          pair_dam.push_back(d);
        }
        pair_of[c] = slot[d];
      }
    }
  }
  const auto pairs = static_cast<int32_t>(pair_sire.size());

  // Each pair goes to the parent with more distinct mates: one pass of that
  // parent serves all of them.
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
    for (int32_t t = 1; t <= n + 1; ++t) key_begin[t] += key_begin[t - 1];
    std::vector<int32_t> next(key_begin.begin(), key_begin.end() - 1);
    for (int32_t p = 0; p < pairs; ++p) key_pairs[next[key_of(p)]++] = p;
  }

  std::vector<double> pair_f(static_cast<size_t>(pairs), 0.0);
  auto inbreeding_at = [&](int32_t t) { return pair_of[t] >= 0 ? pair_f[pair_of[t]] : 0.0; };
  std::vector<int32_t> ancestors;
  ancestors.reserve(count);
  // A node waits on the stack at most once per child that found it not ready.
  std::vector<int32_t> stack(2 * count);
  uint32_t pass = 0;
  for (int32_t g = 1; g <= n; ++g) {
    if (key_begin[g] == key_begin[g + 1]) continue;
    ++pass;
    // Position 0 stands for unknown parents: x = 0, always computed.
    node[0].x = 0.0;
    node[0].x_pass = pass;

    // v over g and its ancestors, children before parents (higher positions
    // first), kept in x; then w = D v.
    ancestors.clear();
    ancestors.push_back(g);
    node[g].w_pass = pass;
    for (size_t k = 0; k < ancestors.size(); ++k) {
      const Node& a = node[ancestors[k]];
      for (const int32_t p : {a.sire, a.dam}) {
        if (p != 0 && node[p].w_pass != pass) {
          node[p].w_pass = pass;
          ancestors.push_back(p);
        }
      }
    }
    std::sort(ancestors.begin(), ancestors.end(), std::greater<>());
    for (const int32_t j : ancestors) node[j].x = 0.0;
    node[g].x = 1.0;
    for (const int32_t j : ancestors) {
      const double half = 0.5 * node[j].x;
      if (node[j].sire != 0) node[node[j].sire].x += half;
      if (node[j].dam != 0) node[node[j].dam].x += half;
    }
    for (const int32_t j : ancestors) {
      Node& a = node[j];
      const double f_sire = a.sire != 0 ? inbreeding_at(a.sire) : -1.0;
      const double f_dam = a.dam != 0 ? inbreeding_at(a.dam) : -1.0;
      a.w = (0.5 - 0.25 * (f_sire + f_dam)) * a.x;
    }

    // x = a(., g) for each mate, through its ancestors not yet computed.
    for (int32_t k = key_begin[g]; k < key_begin[g + 1]; ++k) {
      const int32_t p = key_pairs[k];
      const int32_t mate = pair_sire[p] == g ? pair_dam[p] : pair_sire[p];
      size_t top = 0;
      stack[top++] = mate;
      while (top > 0) {
        const int32_t i = stack[top - 1];
        Node& a = node[i];
        if (a.x_pass == pass) {
          --top;
          continue;
        }
        const bool sire_ready = node[a.sire].x_pass == pass;
        const bool dam_ready = node[a.dam].x_pass == pass;
        if (sire_ready && dam_ready) {
          double x = (node[a.sire].x + node[a.dam].x) * 0.5;
          if (a.w_pass == pass) x += a.w;
          a.x = x;
          a.x_pass = pass;
          --top;
        } else {
          if (!sire_ready) stack[top++] = a.sire;
          if (!dam_ready && a.dam != a.sire) stack[top++] = a.dam;
        }
      }
      pair_f[p] = 0.5 * node[mate].x;
    }
  }

  for (int32_t t = 1; t <= n; ++t) {
    coefficient[static_cast<size_t>(animal_at[t])] = static_cast<float>(inbreeding_at(t));
  }
  return {};
}

}  // namespace parclas
