#include "prep/birth_years.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace parclas::prep {
namespace {

int32_t mean_interval(const Pedigree& p) {
  double sum = 0;
  uint64_t n = 0;
  for (uint32_t a = 0; a < p.size(); ++a) {
    for (const int32_t q : {p.sire[a], p.dam[a]}) {
      if (q == kUnknown || p.birth[a] == kNoYear || p.birth[static_cast<uint32_t>(q)] == kNoYear) continue;
      sum += static_cast<double>(p.birth[a]) - p.birth[static_cast<uint32_t>(q)];
      ++n;
    }
  }
  return n == 0 ? 1 : std::max<int32_t>(1, static_cast<int32_t>(std::lround(sum / static_cast<double>(n))));
}

void from_parents(const Pedigree& p, const std::vector<uint32_t>& order, int32_t gap, std::vector<int32_t>& year) {
  for (const uint32_t a : order) {
    if (year[a] != kNoYear) continue;
    for (const int32_t q : {p.sire[a], p.dam[a]}) {
      if (q != kUnknown && year[static_cast<uint32_t>(q)] != kNoYear) {
        year[a] = std::max(year[a], year[static_cast<uint32_t>(q)] + gap);
      }
    }
  }
}

void from_offspring(const Pedigree& p, const std::vector<uint32_t>& order, int32_t gap, std::vector<int32_t>& year) {
  std::vector<int32_t> earliest(p.size(), INT32_MAX);
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    const uint32_t a = *it;
    if (year[a] == kNoYear && earliest[a] != INT32_MAX) year[a] = earliest[a] - gap;
    if (year[a] == kNoYear) continue;
    for (const int32_t q : {p.sire[a], p.dam[a]}) {
      if (q != kUnknown) earliest[static_cast<uint32_t>(q)] = std::min(earliest[static_cast<uint32_t>(q)], year[a]);
    }
  }
}

}  // namespace

BirthYears settle_birth_years(const Pedigree& p, const std::vector<uint32_t>& order,
                              const std::vector<int32_t>& depth, Report& report) {
  BirthYears y;
  y.year = p.birth;
  y.first = INT32_MAX;
  y.last = INT32_MIN;
  for (const int32_t b : p.birth) {
    if (b == kNoYear) continue;
    y.first = std::min(y.first, b);
    y.last = std::max(y.last, b);
  }
  y.calendar = y.first <= y.last;
  if (!y.calendar) {
    report.line("birth years: none given; year values are generations + 1");
    for (uint32_t a = 0; a < p.size(); ++a) y.year[a] = depth[a] + 1;
    return y;
  }
  const int32_t gap = mean_interval(p);
  from_parents(p, order, gap, y.year);
  from_offspring(p, order, gap, y.year);
  from_parents(p, order, gap, y.year);
  Check& estimated = report.check("birth years estimated from relatives (interval " + std::to_string(gap) + " years)",
                                  Severity::Note);
  Check& unrelated = report.check("birth years unknown without dated relatives, set to the first year", Severity::Note);
  for (uint32_t a = 0; a < p.size(); ++a) {
    if (p.birth[a] != kNoYear) continue;
    if (y.year[a] == kNoYear) {
      y.year[a] = y.first;
      report.add(unrelated, std::string(p.ids[a]));
    } else {
      y.year[a] = std::clamp(y.year[a], y.first, y.last);
      report.add(estimated, std::string(p.ids[a]) + " " + std::to_string(y.year[a]));
    }
  }
  report.line("birth years: " + std::to_string(y.first) + ".." + std::to_string(y.last));
  return y;
}

}  // namespace parclas::prep
