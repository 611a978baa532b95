#include <algorithm>
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
  family_limit = fammax;
  maxped = parclas::maxped;
  groups = 0;
  group_block.assign(1, 0.0f);
  group_member.assign(1, 0.0f);
  entry.clear();
  kernel_calls = 0;
}

void InbreedingWork::size_for_animals(int32_t n) {
  const size_t rows = static_cast<size_t>(n < 0 ? 0 : n) + 1;
  state.resize(rows);
  children_left.resize(rows);
  smallest_descendant.resize(rows);
  queue.resize(rows);
  finals.resize(rows);
  coefficient.resize(rows);
  size_t slots = 1024;
  while (slots < rows) slots *= 2;
  pairs.resize(slots);
}

void InbreedingWork::size_for_family(int32_t members) {
  const size_t needed = static_cast<size_t>(members) + 2;
  if (rentab.size() >= needed) return;
  const size_t rows = std::max(needed, 2 * rentab.size());
  rentab.resize(rows);
  member_inbreeding.resize(rows);
  wanted.resize(rows);
  arrival_sire.resize(rows);
  arrival_dam.resize(rows);
  member_depth.resize(rows);
  placed.resize(rows);
  reordered.resize(rows);
  visited.resize(rows);
  stack.resize(rows);
  kernel_sire.resize(rows);
  kernel_dam.resize(rows);
}

uint32_t InbreedingWork::begin_kernel_call(int32_t n) {
  const size_t needed = static_cast<size_t>(n) * (static_cast<size_t>(n) + 1) / 2;
  if (entry.size() < needed) entry.resize(needed, Entry{0.0f, 0});
  if (kernel_calls == UINT32_MAX) {
    for (Entry& e : entry) e.call = 0;
    kernel_calls = 0;
  }
  return ++kernel_calls;
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

inline size_t slot_of(int32_t p, int32_t q) {
  return static_cast<size_t>(q) * static_cast<size_t>(q - 1) / 2 + static_cast<size_t>(p - 1);
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
      : w_(w), m_(w.groups), call_(w.begin_kernel_call(n)), entry_(w.entry.data()),
        sire_(w.kernel_sire.data()), dam_(w.kernel_dam.data()) {
    for (int32_t k = 1; k <= n; ++k) {
      sire_[k] = position(members[k].sire, m_, n);
      dam_[k] = position(members[k].dam, m_, n);
    }
  }

  // Matrix positions p and q.
  float entry(int32_t p, int32_t q) {
    if (p > q) std::swap(p, q);
    if (p <= m_) {
      return q <= m_ ? w_.group_block[static_cast<size_t>(p) * static_cast<size_t>(m_ + 1) +
                                      static_cast<size_t>(q)]
                     : w_.group_member[static_cast<size_t>(p)];
    }
    const int32_t k = q - m_;
    InbreedingWork::Entry& e = entry_[slot_of(p - m_, k)];
    if (e.call == call_) return e.value;
    const float value = p == q ? entry(sire_[k], dam_[k]) * 0.5f + 1.0f
                               : (entry(p, sire_[k]) + entry(p, dam_[k])) * 0.5f;
    e = {value, call_};
    return value;
  }

 private:
  InbreedingWork& w_;
  int32_t m_;
  uint32_t call_;
  InbreedingWork::Entry* entry_;
  int32_t* sire_;
  int32_t* dam_;
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
      : sire_(sire), dam_(dam), depth_(depth), call_(w.begin_kernel_call(n)),
        entry_(w.entry.data()) {}

  // Member numbers p and q, 0 for an unknown parent.
  float entry(int32_t p, int32_t q) {
    if (p == 0 || q == 0) return 0.0f;
    if (depth_[p] > depth_[q] || (depth_[p] == depth_[q] && p > q)) std::swap(p, q);
    const size_t slot = p < q ? slot_of(p, q) : slot_of(q, p);
    if (entry_[slot].call == call_) return entry_[slot].value;
    const float value = p == q ? entry(sire_[q], dam_[q]) * 0.5f + 1.0f
                               : (entry(p, sire_[q]) + entry(p, dam_[q])) * 0.5f;
    entry_[slot] = {value, call_};
    return value;
  }

 private:
  const int32_t* sire_;
  const int32_t* dam_;
  const int32_t* depth_;
  uint32_t call_;
  InbreedingWork::Entry* entry_;
};

}  // namespace

void tabular_exact(InbreedingWork& w, const int32_t* sire, const int32_t* dam,
                   const int32_t* depth, int32_t n, std::span<const int32_t> wanted,
                   float* inbreeding) {
  ExactRecursion recursion(w, sire, dam, depth, n);
  for (const int32_t k : wanted) inbreeding[k] = recursion.entry(k, k) - 1.0f;
}

void tabular(TextIO& io, InbreedingWork& w, const FamilyMember* members, int32_t n,
             std::span<const float> prior, int32_t group_count, std::span<const int32_t> wanted,
             float* inbreeding) {
  if (group_count > 0) {
    w.groups = 0;
    w.group_block.assign(1, 0.0f);
    w.group_member.assign(1, 0.0f);
    if (w.maxped > 0 && group_count > w.maxped) {
      io.write_list(kConsoleOut, {"TABULAR: maxped should be >> ", group_count});
      io.plain_stop();
    }
    const int32_t m = group_count;
    const size_t side = static_cast<size_t>(m) + 1;
    w.group_block.assign(side * side, 0.0f);
    w.group_member.assign(side, 0.0f);
    for (int32_t i = 1; i <= m; ++i) {
      for (int32_t j = 1; j <= m; ++j) {
        w.group_block[static_cast<size_t>(i) * side + static_cast<size_t>(j)] =
            2.0f * prior_of(prior, i > j ? i : j);
      }
      // Every member position, as far as the matrix reaches.
      if (w.maxped == 0 || m < w.maxped) w.group_member[static_cast<size_t>(i)] = 2.0f * prior_of(prior, i);
    }
    w.groups = m;
  }
  const int32_t m = w.groups;
  if (w.maxped > 0 && int64_t{n} + m > w.maxped) {
    io.write_list(kConsoleOut, {"MAXPED in TABULAR should be at least ", n + m});
    io.plain_stop();
  }
  if (wanted.empty()) return;
  w.size_for_family(n);
  Recursion recursion(w, members, n);
  for (const int32_t k : wanted) inbreeding[k] = recursion.entry(m + k, m + k) - 1.0f;
}

void tabular(TextIO& io, InbreedingWork& w, const FamilyMember* members, int32_t n,
             std::span<const float> prior, int32_t group_count, float* inbreeding) {
  std::vector<int32_t> every(static_cast<size_t>(n < 0 ? 0 : n));
  for (size_t k = 0; k < every.size(); ++k) every[k] = static_cast<int32_t>(k) + 1;
  tabular(io, w, members, n, prior, group_count, every, inbreeding);
}

}  // namespace parclas
