#include "prep/family_limit.h"

#include <algorithm>

namespace parclas::prep {
namespace {

constexpr uint32_t kOver = UINT32_MAX;

class AncestorCounter {
 public:
  explicit AncestorCounter(uint32_t n) : mark_(n, 0) {}

  // Distinct ancestors of `a`, counted up to `limit`.
  uint32_t count(const Pedigree& p, const std::vector<int32_t>& year, int32_t cut_before, uint32_t a,
                 uint32_t limit) {
    if (++stamp_ == 0) {
      std::fill(mark_.begin(), mark_.end(), 0);
      stamp_ = 1;
    }
    uint32_t found = 0;
    stack_.clear();
    stack_.push_back(a);
    while (!stack_.empty()) {
      const uint32_t x = stack_.back();
      stack_.pop_back();
      if (year[x] < cut_before) continue;
      for (const int32_t q : {p.sire[x], p.dam[x]}) {
        if (q == kUnknown || mark_[static_cast<uint32_t>(q)] == stamp_) continue;
        mark_[static_cast<uint32_t>(q)] = stamp_;
        if (++found >= limit) return found;
        stack_.push_back(static_cast<uint32_t>(q));
      }
    }
    return found;
  }

 private:
  std::vector<uint32_t> mark_;
  std::vector<uint32_t> stack_;
  uint32_t stamp_ = 0;
};

}  // namespace

std::vector<uint8_t> animals_over_limit(const Pedigree& p, const std::vector<uint32_t>& order,
                                        const std::vector<int32_t>& year, int32_t cut_before,
                                        uint32_t limit, bool first_only) {
  std::vector<uint8_t> over(p.size(), 0);
  std::vector<uint32_t> bound(p.size(), 0);  // at least the animal's ancestor count
  AncestorCounter counter(p.size());
  for (const uint32_t a : order) {
    if (year[a] < cut_before) continue;  // a founder now
    uint64_t sum = 0;
    bool parent_over = false;
    for (const int32_t q : {p.sire[a], p.dam[a]}) {
      if (q == kUnknown) continue;
      const uint32_t b = bound[static_cast<uint32_t>(q)];
      if (b == kOver) parent_over = true;
      else sum += 1 + static_cast<uint64_t>(b);
    }
    if (p.sire[a] != kUnknown && p.sire[a] == p.dam[a]) sum /= 2;  // one parent in both places
    if (!parent_over && sum < limit) {
      bound[a] = static_cast<uint32_t>(sum);
      continue;
    }
    const uint32_t n = parent_over ? limit : counter.count(p, year, cut_before, a, limit);
    if (n < limit) {
      bound[a] = n;
      continue;
    }
    bound[a] = kOver;
    over[a] = 1;
    if (first_only) break;
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
  int32_t lo = first;      // does not fit
  int32_t hi = last + 1;   // fits: no links left
  while (hi - lo > 1) {
    const int32_t mid = lo + (hi - lo) / 2;
    (fits(mid) ? hi : lo) = mid;
  }
  return hi;
}

}  // namespace parclas::prep
