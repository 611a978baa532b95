#include <cstring>
#include <stdexcept>
#include <utility>

#include "inbreeding/inbreeding.h"
#include "text/text_io.h"

namespace parclas {

// The inbreeding stage fills every other table of the work before reading
// it; the kernel's stamps must not match a new call, and a family call
// without a set-up finds no groups and a zero matrix.
void InbreedingWork::reset() {
  std::memset(matrix, 0, sizeof matrix);
  std::memset(entry_call, 0, sizeof entry_call);
  kernel_calls = 0;
  groups = 0;
}

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

// The tabular recursion of one family, evaluated on demand. Entry (p, q) of
// the member block with p < q is (entry (p, Sq) + entry (p, Dq)) * 0.5, the
// later position q expanded into its parents; the diagonal entry (p, p) is
// entry (Sp, Dp) * 0.5 + 1.0; entries with a group position or position 0
// are those of the set-up. These are the single-precision operations, on the
// same operands, that filling the whole member block row by row performs, so
// every entry has the value the full table would give it; but only the
// entries the wanted members need are computed, each once per family.
class Recursion {
 public:
  Recursion(InbreedingWork& w, const FamilyMember* members, int32_t n)
      : w_(w), m_(w.groups), n_(n), call_(++w.kernel_calls) {
    for (int32_t k = 1; k <= n; ++k) {
      sire_[k] = position(members[k].sire, m_, n);
      dam_[k] = position(members[k].dam, m_, n);
    }
  }

  // Matrix positions p and q.
  float entry(int32_t p, int32_t q) {
    if (p > q) std::swap(p, q);
    if (p <= m_) return w_.matrix[p][q];
    const size_t slot = static_cast<size_t>(p - m_ - 1) * static_cast<size_t>(n_) +
                        static_cast<size_t>(q - m_ - 1);
    if (w_.entry_call[slot] == call_) return w_.entry[slot];
    const int32_t k = q - m_;
    const float value = p == q ? entry(sire_[k], dam_[k]) * 0.5f + 1.0f
                               : (entry(p, sire_[k]) + entry(p, dam_[k])) * 0.5f;
    w_.entry[slot] = value;
    w_.entry_call[slot] = call_;
    return value;
  }

 private:
  InbreedingWork& w_;
  int32_t m_;
  int32_t n_;
  uint32_t call_;
  int32_t sire_[maxped + 1];
  int32_t dam_[maxped + 1];
};

// The same recursion over members whose relationships are all exact, with
// unknown parents related 0 to everybody. Which member of a pair is
// expanded does not change an exact value, so it is the deeper one (the one
// with the higher number when they are equally deep), whose parents always
// lie at a lower depth.
class ExactRecursion {
 public:
  ExactRecursion(InbreedingWork& w, const int32_t* sire, const int32_t* dam, const int32_t* depth,
                 int32_t n)
      : w_(w), sire_(sire), dam_(dam), depth_(depth), n_(n), call_(++w.kernel_calls) {}

  // Member numbers p and q, 0 for an unknown parent.
  float entry(int32_t p, int32_t q) {
    if (p == 0 || q == 0) return 0.0f;
    if (depth_[p] > depth_[q] || (depth_[p] == depth_[q] && p > q)) std::swap(p, q);
    const size_t slot = static_cast<size_t>(p - 1) * static_cast<size_t>(n_) +
                        static_cast<size_t>(q - 1);
    if (w_.entry_call[slot] == call_) return w_.entry[slot];
    const float value = p == q ? entry(sire_[q], dam_[q]) * 0.5f + 1.0f
                               : (entry(p, sire_[q]) + entry(p, dam_[q])) * 0.5f;
    w_.entry[slot] = value;
    w_.entry_call[slot] = call_;
    return value;
  }

 private:
  InbreedingWork& w_;
  const int32_t* sire_;
  const int32_t* dam_;
  const int32_t* depth_;
  int32_t n_;
  uint32_t call_;
};

}  // namespace

void tabular_exact(InbreedingWork& w, const int32_t* sire, const int32_t* dam,
                   const int32_t* depth, int32_t n, std::span<const int32_t> wanted,
                   float* inbreeding) {
  if (n > fammax) throw std::logic_error("family larger than fammax");
  ExactRecursion recursion(w, sire, dam, depth, n);
  for (const int32_t k : wanted) inbreeding[k] = recursion.entry(k, k) - 1.0f;
}

void tabular(TextIO& io, InbreedingWork& w, const FamilyMember* members, int32_t n,
             std::span<const float> prior, int32_t group_count, std::span<const int32_t> wanted,
             float* inbreeding) {
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
  if (wanted.empty()) return;
  Recursion recursion(w, members, n);
  for (const int32_t k : wanted) inbreeding[k] = recursion.entry(m + k, m + k) - 1.0f;
}

void tabular(TextIO& io, InbreedingWork& w, const FamilyMember* members, int32_t n,
             std::span<const float> prior, int32_t group_count, float* inbreeding) {
  int32_t every[maxped];
  const int32_t count = n < 0 ? 0 : n > maxped ? maxped : n;
  for (int32_t k = 0; k < count; ++k) every[k] = k + 1;
  tabular(io, w, members, n, prior, group_count,
          std::span<const int32_t>(every, static_cast<size_t>(count)), inbreeding);
}

}  // namespace parclas
