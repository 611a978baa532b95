#include "inbreeding/reference_meuwissen_luo.h"

#include <algorithm>
#include <queue>
#include <stdexcept>
#include <vector>

namespace parclas::reference {

namespace {

int32_t known(int32_t parent, int32_t n) { return parent >= 1 && parent <= n ? parent : 0; }

// Whether following the parents from animal a leads back to a.
bool own_ancestor(std::span<const PedigreeRow> ped, int32_t n, int32_t a, std::vector<int32_t>& seen,
                  std::vector<int32_t>& stack) {
  stack.assign({a});
  while (!stack.empty()) {
    const int32_t b = stack.back();
    stack.pop_back();
    for (const int32_t p : {known(ped[b].sire, n), known(ped[b].dam, n)}) {
      if (p == a) return true;
      if (p != 0 && seen[p] != a) {
        seen[p] = a;
        stack.push_back(p);
      }
    }
  }
  return false;
}

}  // namespace

ExactOutcome meuwissen_luo(std::span<const PedigreeRow> ped, int32_t n, std::span<double> f) {
  if (n <= 0) return {};
  if (ped.size() <= static_cast<size_t>(n) || f.size() <= static_cast<size_t>(n)) {
    throw std::invalid_argument("meuwissen_luo: tables shorter than the animal count");
  }
  const auto count = static_cast<size_t>(n) + 1;
  auto sire = [&](int32_t a) { return known(ped[a].sire, n); };
  auto dam = [&](int32_t a) { return known(ped[a].dam, n); };

  // Generation depths, parents before offspring; animals never reached are
  // on a loop or descend from one.
  std::vector<int32_t> depth(count, 0);
  std::vector<int32_t> parents_left(count, 0);
  std::vector<std::vector<int32_t>> children(count);
  std::vector<int32_t> ready;
  for (int32_t a = 1; a <= n; ++a) {
    for (const int32_t p : {sire(a), dam(a)}) {
      if (p == 0) continue;
      children[p].push_back(a);
      ++parents_left[a];
    }
    if (parents_left[a] == 0) ready.push_back(a);
  }
  for (size_t k = 0; k < ready.size(); ++k) {
    const int32_t a = ready[k];
    for (const int32_t c : children[a]) {
      depth[c] = std::max(depth[c], depth[a] + 1);
      if (--parents_left[c] == 0) ready.push_back(c);
    }
  }
  if (ready.size() < static_cast<size_t>(n)) {
    std::vector<int32_t> seen(count, 0);
    std::vector<int32_t> stack;
    for (int32_t b = 1; b <= n; ++b) {
      if (own_ancestor(ped, n, b, seen, stack)) return {true, b};
    }
    throw std::logic_error("meuwissen_luo: no animal is its own ancestor");
  }

  // Parents first, full sibs next to each other.
  std::vector<int32_t> order(static_cast<size_t>(n));
  for (int32_t a = 1; a <= n; ++a) order[static_cast<size_t>(a - 1)] = a;
  std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    if (depth[a] != depth[b]) return depth[a] < depth[b];
    if (sire(a) != sire(b)) return sire(a) < sire(b);
    if (dam(a) != dam(b)) return dam(a) < dam(b);
    return a < b;
  });
  std::vector<int32_t> position(count, 0);
  for (int32_t k = 0; k < n; ++k) position[order[static_cast<size_t>(k)]] = k + 1;

  // D_j = 1/2 - (F_sire + F_dam) / 4 with F = -1 for an unknown parent. The
  // ancestors of the parents are traced from the youngest, each passing half
  // of its contributions to either parent on to its own parents; then
  // a(s, d) = sum over them of L_s(j) L_d(j) D_j, and F = a(s, d) / 2. (The
  // animal's own sum of L(j)^2 D_j, which is 1 + F, would lose in double
  // precision every part of F below 2^-52 when 1 is taken off.)
  std::vector<double> d(count, 0.0);
  std::vector<double> from_sire(count, 0.0);
  std::vector<double> from_dam(count, 0.0);
  std::vector<int32_t> reached(count, 0);
  std::priority_queue<std::pair<int32_t, int32_t>> youngest_first;  // (position, animal)
  int32_t previous = 0;
  for (const int32_t i : order) {
    const int32_t s = sire(i);
    const int32_t m = dam(i);
    d[i] = 0.5 - 0.25 * ((s != 0 ? f[s] : -1.0) + (m != 0 ? f[m] : -1.0));
    if (previous != 0 && s == sire(previous) && m == dam(previous)) {
      f[i] = f[previous];
      continue;
    }
    previous = i;
    if (s == 0 || m == 0) {
      f[i] = 0.0;
      continue;
    }
    for (const int32_t p : {s, m}) {
      if (reached[p] != i) {
        reached[p] = i;
        from_sire[p] = from_dam[p] = 0.0;
        youngest_first.push({position[p], p});
      }
    }
    from_sire[s] += 1.0;
    from_dam[m] += 1.0;
    double sum = 0.0;
    while (!youngest_first.empty()) {
      const int32_t j = youngest_first.top().second;
      youngest_first.pop();
      sum += from_sire[j] * from_dam[j] * d[j];
      for (const int32_t p : {sire(j), dam(j)}) {
        if (p == 0) continue;
        if (reached[p] != i) {
          reached[p] = i;
          from_sire[p] = from_dam[p] = 0.0;
          youngest_first.push({position[p], p});
        }
        from_sire[p] += 0.5 * from_sire[j];
        from_dam[p] += 0.5 * from_dam[j];
      }
    }
    f[i] = 0.5 * sum;
  }
  return {};
}

}  // namespace parclas::reference
