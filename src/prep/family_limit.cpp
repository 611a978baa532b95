#include "prep/family_limit.h"

#include <algorithm>
#include <array>

#include "run/table_memory.h"

namespace parclas::prep {
namespace {

constexpr uint32_t kOver = UINT32_MAX;

using Parents = std::array<int32_t, 2>;

// What the count needs of an animal, in one 16-byte block: a walk that
// checks an ancestor's mark then reads its parents touches one cache line.
struct alignas(16) Node {
  Parents parents;
  uint32_t mark;
  uint32_t bound;  // at least the animal's ancestor count; kOver beyond the limit
};

// Counts ancestors with early exit at the limit. Offspring of one parent are
// counted together: that parent's ancestors are marked once, and for each
// offspring only the other parent's side is walked, up to the marked ones.
class AncestorCounter {
 public:
  AncestorCounter(TableVector<Node>& nodes, uint32_t limit) : nodes_(nodes), limit_(limit) {}

  // Marks `k` with its ancestors as the shared side; returns their number.
  uint32_t mark_shared(uint32_t k) {
    shared_ = next_stamp();
    nodes_[k].mark = shared_;
    return walk(k, shared_, 1);
  }

  // Ancestors of an offspring of the shared parent whose other parent is `o`.
  uint32_t count_with(uint32_t shared_count, int32_t o) {
    if (o == kUnknown || nodes_[static_cast<uint32_t>(o)].mark == shared_) return shared_count;
    const uint32_t own = next_stamp();
    nodes_[static_cast<uint32_t>(o)].mark = own;
    return walk(static_cast<uint32_t>(o), own, shared_count + 1);
  }

 private:
  uint32_t next_stamp() {
    if (++stamp_ == 0) {
      for (Node& n : nodes_) n.mark = 0;
      stamp_ = 1;
    }
    return stamp_;
  }

  // Walks the ancestors of `from` not yet marked with `shared_` or `stamp`,
  // marking them; returns `found` plus their number, at most the limit.
  uint32_t walk(uint32_t from, uint32_t stamp, uint32_t found) {
    if (found >= limit_) return found;
    stack_.clear();
    stack_.push_back(from);
    while (!stack_.empty()) {
      const Parents pp = nodes_[stack_.back()].parents;
      stack_.pop_back();
      for (const int32_t q : pp) {
        if (q == kUnknown) continue;
        uint32_t& m = nodes_[static_cast<uint32_t>(q)].mark;
        if (m == stamp || m == shared_) continue;
        m = stamp;
        if (++found >= limit_) return found;
        stack_.push_back(static_cast<uint32_t>(q));
      }
    }
    return found;
  }

  TableVector<Node>& nodes_;
  std::vector<uint32_t> stack_;
  uint32_t limit_;
  uint32_t stamp_ = 0;
  uint32_t shared_ = 0;
};

// Parents with the cut applied; animals by generation with it.
struct CutPedigree {
  TableVector<Node> nodes;
  std::vector<uint32_t> by_generation;  // generation by generation
  std::vector<size_t> generation_start;
};

CutPedigree cut_pedigree(const Pedigree& p, const std::vector<uint32_t>& order, const std::vector<int32_t>& year,
                         int32_t cut_before) {
  CutPedigree c;
  c.nodes.resize(p.size());
  std::vector<int32_t> depth(p.size(), 0);
  int32_t deepest = 0;
  for (const uint32_t a : order) {
    Node& n = c.nodes[a];
    n = {year[a] < cut_before ? Parents{kUnknown, kUnknown} : Parents{p.sire[a], p.dam[a]}, 0, 0};
    for (const int32_t q : n.parents) {
      if (q != kUnknown) depth[a] = std::max(depth[a], depth[static_cast<uint32_t>(q)] + 1);
    }
    deepest = std::max(deepest, depth[a]);
  }
  c.generation_start.assign(static_cast<size_t>(deepest) + 2, 0);
  for (const int32_t d : depth) ++c.generation_start[static_cast<size_t>(d) + 1];
  for (size_t g = 1; g < c.generation_start.size(); ++g) c.generation_start[g] += c.generation_start[g - 1];
  c.by_generation.resize(p.size());
  std::vector<size_t> next(c.generation_start.begin(), c.generation_start.end() - 1);
  for (uint32_t a = 0; a < p.size(); ++a) c.by_generation[next[static_cast<size_t>(depth[a])]++] = a;
  return c;
}

}  // namespace

std::vector<uint8_t> animals_over_limit(const Pedigree& p, const std::vector<uint32_t>& order,
                                        const std::vector<int32_t>& year, int32_t cut_before,
                                        uint32_t limit, bool first_only) {
  CutPedigree c = cut_pedigree(p, order, year, cut_before);
  std::vector<uint8_t> over(p.size(), 0);
  AncestorCounter counter(c.nodes, limit);
  struct Pending {
    uint32_t shared;  // the parent whose ancestors are marked once for all its offspring
    int32_t other;
    uint32_t animal;
  };
  std::vector<Pending> pending;
  auto settle = [&](uint32_t a, uint32_t n) {
    c.nodes[a].bound = n < limit ? n : kOver;
    over[a] = n >= limit;
    return n >= limit && first_only;
  };
  for (size_t g = 0; g + 1 < c.generation_start.size(); ++g) {
    pending.clear();
    for (size_t i = c.generation_start[g]; i < c.generation_start[g + 1]; ++i) {
      const uint32_t a = c.by_generation[i];
      const auto [s, d] = c.nodes[a].parents;
      uint64_t sum = 0;
      bool parent_over = false;
      for (const int32_t q : {s, d}) {
        if (q == kUnknown) continue;
        const uint32_t b = c.nodes[static_cast<uint32_t>(q)].bound;
        if (b == kOver) parent_over = true;
        else sum += 1 + static_cast<uint64_t>(b);
      }
      if (s != kUnknown && s == d) sum /= 2;  // one parent in both places
      if (parent_over || sum < limit) {
        if (settle(a, parent_over ? limit : static_cast<uint32_t>(sum))) return over;
      } else if (s != kUnknown) {
        pending.push_back({static_cast<uint32_t>(s), d, a});
      } else {
        pending.push_back({static_cast<uint32_t>(d), s, a});
      }
    }
    std::sort(pending.begin(), pending.end(),
              [](const Pending& x, const Pending& y) { return x.shared != y.shared ? x.shared < y.shared : x.animal < y.animal; });
    uint32_t marked = kNoEntry;
    uint32_t shared_count = 0;
    for (const Pending& w : pending) {
      if (w.shared != marked) {
        marked = w.shared;
        shared_count = counter.mark_shared(marked);
      }
      if (settle(w.animal, counter.count_with(shared_count, w.other))) return over;
    }
  }
  return over;
}

int32_t earliest_fitting_year(const Pedigree& p, const std::vector<uint32_t>& order,
                              const std::vector<int32_t>& year, uint32_t limit) {
  int32_t first = INT32_MAX;
  int32_t last = INT32_MIN;
  for (const int32_t y : year) {
    first = std::min(first, y);
    last = std::max(last, y);
  }
  if (first > last) return 0;
  auto fits = [&](int32_t cut_before) {
    const auto over = animals_over_limit(p, order, year, cut_before, limit, true);
    return std::find(over.begin(), over.end(), 1) == over.end();
  };
  if (fits(first)) return first;
  int32_t lo = first;     // does not fit
  int32_t hi = last + 1;  // fits: no links left
  while (hi - lo > 1) {
    const int32_t mid = lo + (hi - lo) / 2;
    (fits(mid) ? hi : lo) = mid;
  }
  return hi;
}

}  // namespace parclas::prep
