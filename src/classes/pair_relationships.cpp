#include "classes/pair_relationships.h"

#include <stdexcept>

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

// An animal as the indirect method sees it: its parents (0 unknown), its
// Mendelian sampling factor d = 1/2 - (F sire + F dam) / 4 (F of an unknown
// parent taken as -1), and x of the current pass. `stamp` is 2 * pass once
// the animal is known to be the pass's key or one of its ancestors (x then
// holds d times its share of the key), and 2 * pass + 1 once x is a(animal, key).
struct Node {
  int32_t sire;
  int32_t dam;
  uint32_t stamp;
  double d;
  double x;
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
                             std::vector<int32_t>& position) {
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
                        std::span<const double> inbreeding, std::span<const AnimalPair> pairs,
                        std::span<double> relationship) {
  if (relationship.size() != pairs.size() || pedigree.size() <= static_cast<size_t>(n) ||
      inbreeding.size() <= static_cast<size_t>(n)) {
    throw std::invalid_argument("pair_relationships: tables of the wrong size");
  }
  const auto count = static_cast<size_t>(n) + 1;
  auto in_range = [n](int32_t a) { return a >= 1 && a <= n; };

  // Each pair goes to the member that more pairs share, its key.
  std::vector<int32_t> partners(count, 0);
  for (const AnimalPair& p : pairs) {
    if (!in_range(p.first) || !in_range(p.second)) {
      throw std::invalid_argument("pair_relationships: a member outside the pedigree");
    }
    if (p.first == p.second) continue;
    ++partners[p.first];
    ++partners[p.second];
  }
  auto key_of = [&](const AnimalPair& p) {
    return partners[p.first] >= partners[p.second] ? p.first : p.second;
  };
  std::vector<int32_t> key_begin(count + 1, 0);
  for (const AnimalPair& p : pairs) {
    if (p.first != p.second) ++key_begin[static_cast<size_t>(key_of(p)) + 1];
  }
  for (size_t a = 1; a <= count; ++a) key_begin[a] += key_begin[a - 1];
  std::vector<int32_t> key_pairs(static_cast<size_t>(key_begin[count]));
  {
    std::vector<int32_t> next(key_begin.begin(), key_begin.end() - 1);
    for (size_t i = 0; i < pairs.size(); ++i) {
      const AnimalPair& p = pairs[i];
      if (p.first == p.second) {
        relationship[i] = 1.0 + inbreeding[static_cast<size_t>(p.first)];
      } else {
        key_pairs[static_cast<size_t>(next[key_of(p)]++)] = static_cast<int32_t>(i);
      }
    }
  }
  partners = std::vector<int32_t>();

  std::vector<Node> node(count, Node{0, 0, 0, 0.0, 0.0});
  for (int32_t a = 1; a <= n; ++a) {
    Node& row = node[a];
    row.sire = known(pedigree[a].sire, n);
    row.dam = known(pedigree[a].dam, n);
    const double f_sire = row.sire != 0 ? inbreeding[static_cast<size_t>(row.sire)] : -1.0;
    const double f_dam = row.dam != 0 ? inbreeding[static_cast<size_t>(row.dam)] : -1.0;
    row.d = 0.5 - 0.25 * (f_sire + f_dam);
  }

  std::vector<int32_t> ancestors;
  // An animal waits on the stack at most once per child that found it not
  // ready, and each animal looks at its parents once per walk.
  std::vector<int32_t> stack(2 * count + 1);
  uint32_t pass = 0;
  for (int32_t g = 1; g <= n; ++g) {
    const int32_t first = key_begin[g];
    const int32_t last = key_begin[static_cast<size_t>(g) + 1];
    if (first == last) continue;
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
    // g's share in each ancestor, offspring before parents, then times d.
    node[g].x = 1.0;
    for (size_t k = ancestors.size(); k-- > 0;) {
      Node& a = node[ancestors[k]];
      const double share = a.x;
      if (a.sire != 0) node[a.sire].x += 0.5 * share;
      if (a.dam != 0) node[a.dam].x += 0.5 * share;
      a.x = a.d * share;
    }

    // a(m, g) for each partner m, through its ancestors not yet reached in
    // this pass. Row 0 stands for unknown parents, related 0 to everybody.
    node[0].x = 0.0;
    node[0].stamp = done;
    auto partner = [&](int32_t k) {
      const AnimalPair& p = pairs[static_cast<size_t>(key_pairs[static_cast<size_t>(k)])];
      return p.first == g ? p.second : p.first;
    };
    for (int32_t k = first; k < last; ++k) {
      // Partners' rows, and their parents' a little later, lie anywhere.
      if (k + 8 < last) prefetch(&node[partner(k + 8)]);
      if (k + 4 < last) {
        const Node& ahead = node[partner(k + 4)];
        prefetch(&node[ahead.sire]);
        prefetch(&node[ahead.dam]);
      }
      const int32_t m = partner(k);
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
      relationship[static_cast<size_t>(key_pairs[static_cast<size_t>(k)])] = node[m].x;
    }
  }
}

}  // namespace parclas
