#include <algorithm>
#include <vector>

#include "inbreeding/inbreeding.h"
#include "text/text_io.h"

namespace parclas {

// The inbreeding stage fills every other table of the work before reading
// it; a family call without a set-up finds no groups and a zero matrix.
void InbreedingWork::reset() {
  wait_for_threads();
  exact_failure = nullptr;
  coefficients_ahead = CoefficientsAhead{};
  maxped = parclas::maxped;
  groups = 0;
  group_block.assign(1, 0.0f);
  group_member.assign(1, 0.0f);
}

void InbreedingWork::wait_for_threads() {
  if (exact_thread.joinable()) exact_thread.join();
  if (coefficients_ahead.thread.joinable()) coefficients_ahead.thread.join();
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
  ordered.resize(rows);
  order_position.resize(rows);
  wanted_position.resize(rows);
  ordered_inbreeding.resize(rows);
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

// The member block of one family, kept as its lower triangle: row i holds
// the relationships of member i with members 1..i, the diagonal last. Entry
// (x, i) with x < i is (entry (x, Si) + entry (x, Di)) * 0.5, the later
// member i expanded into its parents, and the diagonal entry (i, i) is
// entry (Si, Di) * 0.5 + 1.0; entries with a group position or position 0
// are those of the set-up. These are the single-precision operations, on the
// same operands, that filling the member block row by row performs, so every
// entry has the value the full table would give it. Taken by rows, the part
// of a row before both parents is the mean of the parents' rows, a plain
// loop over contiguous entries; only the few members between a parent and
// the row's member are read across rows. Rows after the last wanted member
// are not needed.
class MemberBlock {
 public:
  MemberBlock(InbreedingWork& w, const FamilyMember* members, int32_t n, int32_t last)
      : m_(w.groups), block_(w.group_block.data()), member_(w.group_member.data()),
        sire_(w.kernel_sire.data()), dam_(w.kernel_dam.data()) {
    for (int32_t k = 1; k <= last; ++k) {
      sire_[k] = reference_of(members[k].sire, n);
      dam_[k] = reference_of(members[k].dam, n);
    }
    const size_t needed = static_cast<size_t>(last) * (static_cast<size_t>(last) + 1) / 2;
    if (w.lower.size() < needed) w.lower.resize(needed);
    lower_ = w.lower.data();
    for (int32_t i = 1; i <= last; ++i) fill_row(i);
  }

  float diagonal(int32_t k) const { return row(k)[k - 1]; }

 private:
  // A member 1..n, or -(matrix position) for a group or position 0.
  int32_t reference_of(int32_t reference, int32_t n) const {
    if (reference > 0) return reference <= n ? reference : 0;
    return -position(reference, m_, n);
  }

  float* row(int32_t i) const {
    return lower_ + static_cast<size_t>(i) * static_cast<size_t>(i - 1) / 2;
  }
  // Members x and p.
  float at(int32_t x, int32_t p) const { return x <= p ? row(p)[x - 1] : row(x)[p - 1]; }
  // Relationship of two parent references.
  float parents(int32_t s, int32_t d) const {
    if (s > 0 && d > 0) return at(s, d);
    if (s > 0) return member_[-d];
    if (d > 0) return member_[-s];
    return block_[static_cast<size_t>(-s) * static_cast<size_t>(m_ + 1) + static_cast<size_t>(-d)];
  }

  void fill_row(int32_t i) {
    const int32_t s = sire_[i];
    const int32_t d = dam_[i];
    float* out = row(i);
    if (s > 0 && d > 0) {
      const int32_t lo = std::min(s, d);
      const int32_t hi = std::max(s, d);
      const float* a = row(lo);
      const float* b = row(hi);
      for (int32_t x = 0; x < lo; ++x) out[x] = (a[x] + b[x]) * 0.5f;
      // Row x + 1 starts x entries after row x.
      const float* r = row(lo + 1);
      for (int32_t x = lo + 1; x <= hi; r += x, ++x) out[x - 1] = (r[lo - 1] + b[x - 1]) * 0.5f;
      for (int32_t x = hi + 1; x < i; r += x, ++x) out[x - 1] = (r[lo - 1] + r[hi - 1]) * 0.5f;
    } else if (s > 0 || d > 0) {
      const int32_t p = s > 0 ? s : d;
      const float c = member_[s > 0 ? -d : -s];
      const float* a = row(p);
      for (int32_t x = 0; x < p; ++x) out[x] = (a[x] + c) * 0.5f;
      const float* r = row(p + 1);
      for (int32_t x = p + 1; x < i; r += x, ++x) out[x - 1] = (r[p - 1] + c) * 0.5f;
    } else {
      const float c = (member_[-s] + member_[-d]) * 0.5f;
      for (int32_t x = 0; x < i - 1; ++x) out[x] = c;
    }
    out[i - 1] = parents(s, d) * 0.5f + 1.0f;
  }

  int32_t m_;
  const float* block_;
  const float* member_;
  int32_t* sire_;
  int32_t* dam_;
  float* lower_;
};

}  // namespace

// Every value of such a family is exact, so any order with parents first
// gives it: the members are taken by depth.
void tabular_exact(InbreedingWork& w, const int32_t* sire, const int32_t* dam,
                   const int32_t* depth, int32_t n, std::span<const int32_t> wanted,
                   float* inbreeding) {
  int32_t deepest = 0;
  for (int32_t k = 1; k <= n; ++k) deepest = std::max(deepest, depth[k]);
  std::vector<int32_t>& start = w.depth_start;
  start.assign(static_cast<size_t>(deepest) + 2, 0);
  for (int32_t k = 1; k <= n; ++k) ++start[static_cast<size_t>(depth[k]) + 1];
  start[0] = 1;
  for (size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
  int32_t* position = w.order_position.data();
  for (int32_t k = 1; k <= n; ++k) position[k] = start[static_cast<size_t>(depth[k])]++;
  // Unknown parents point below the group block: related 0 to everybody.
  constexpr int32_t kUnrelated = INT32_MIN;
  FamilyMember* members = w.ordered.data();
  for (int32_t k = 1; k <= n; ++k) {
    members[position[k]] = {sire[k] != 0 ? position[sire[k]] : kUnrelated,
                            dam[k] != 0 ? position[dam[k]] : kUnrelated, k, depth[k]};
  }
  int32_t last = 0;
  for (const int32_t k : wanted) last = std::max(last, position[k]);
  const MemberBlock block(w, members, n, last);
  for (const int32_t k : wanted) inbreeding[k] = block.diagonal(position[k]) - 1.0f;
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
  if (wanted.empty() || n < 1) return;
  w.size_for_family(n);
  int32_t last = 0;
  for (const int32_t k : wanted) last = std::max(last, k);
  const MemberBlock block(w, members, n, std::min(last, n));
  for (const int32_t k : wanted) {
    if (k >= 1 && k <= n) inbreeding[k] = block.diagonal(k) - 1.0f;
  }
}

void tabular(TextIO& io, InbreedingWork& w, const FamilyMember* members, int32_t n,
             std::span<const float> prior, int32_t group_count, float* inbreeding) {
  std::vector<int32_t> every(static_cast<size_t>(n < 0 ? 0 : n));
  for (size_t k = 0; k < every.size(); ++k) every[k] = static_cast<int32_t>(k) + 1;
  tabular(io, w, members, n, prior, group_count, every, inbreeding);
}

}  // namespace parclas
