#include <cstring>

#include "inbreeding/inbreeding.h"
#include "run/text_io.h"

namespace parclas {

void InbreedingWork::reset() { std::memset(static_cast<void*>(this), 0, sizeof *this); }

namespace {

// Matrix position of a parent reference: a member position after the groups,
// a group position, or position 0 for a group code outside the group block.
inline int32_t position(int32_t reference, int32_t groups, int32_t members) {
  if (reference > 0) return reference <= members ? groups + reference : 0;
  if (reference < -groups) return 0;
  const int32_t p = groups + reference;
  return p >= 1 ? p : 0;
}

float prior_of(std::span<const float> prior, int32_t group) {
  return static_cast<size_t>(group) <= prior.size() ? prior[static_cast<size_t>(group - 1)] : 0.0f;
}

}  // namespace

void tabular(TextIO& io, InbreedingWork& w, const FamilyMember* members, int32_t n,
             std::span<const float> prior, int32_t group_count, float* inbreeding) {
  auto& a = w.matrix;
  if (group_count > 0) {
    std::memset(a, 0, sizeof a);
    if (group_count > maxped) {
      io.write_list(kConsoleOut, {"TABULAR: maxped should be >> ", group_count});
      io.plain_stop();
    }
    w.groups = group_count;
    const int32_t m = group_count;
    for (int32_t i = 1; i <= m; ++i) {
      for (int32_t j = 1; j <= m; ++j) a[i][j] = 2.0f * prior_of(prior, i > j ? i : j);
    }
    for (int32_t i = 1; i <= m; ++i) {
      for (int32_t j = m + 1; j <= maxped; ++j) a[i][j] = a[j][i] = 2.0f * prior_of(prior, i);
    }
  }
  const int32_t m = w.groups;
  if (n + m > maxped) {
    io.write_list(kConsoleOut, {"MAXPED in TABULAR should be at least ", n + m});
    io.plain_stop();
  }
  for (int32_t p = m + 1; p <= m + n; ++p) {
    a[p][p] = 1.0f;
    for (int32_t q = p + 1; q <= m + n; ++q) a[p][q] = 0.0f;
  }
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t I = m + i;
    const int32_t S = position(members[i].sire, m, n);
    const int32_t D = position(members[i].dam, m, n);
    a[I][I] = a[S][D] * 0.5f + a[I][I];
    float* row = a[I];
    for (int32_t j = i + 1; j <= n; ++j) {
      const int32_t J = m + j;
      const int32_t Sj = position(members[j].sire, m, n);
      const int32_t Dj = position(members[j].dam, m, n);
      row[J] = (row[Sj] + row[Dj]) * 0.5f;
      a[J][I] = row[J];
    }
  }
  for (int32_t i = 1; i <= n; ++i) inbreeding[i] = a[m + i][m + i] - 1.0f;
}

}  // namespace parclas
