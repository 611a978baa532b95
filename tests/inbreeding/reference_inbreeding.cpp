// The program's first inbreeding computation: every family built and
// computed in full, with a family ordering written independently of the
// program's, and the record of each animal's single-precision coefficient.
#include "inbreeding/reference_inbreeding.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <queue>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "run/run.h"
#include "text/text_io.h"

namespace parclas::reference {

void Work::reset() { *this = Work{}; }

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

// A zero matrix of positions 0..last with the group entries of the set-up.
void lay_out(Work& w, int32_t last) {
  w.side = last + 1;
  w.matrix.assign(static_cast<size_t>(w.side) * static_cast<size_t>(w.side), 0.0f);
  const std::span<const float> prior = w.group_prior;
  const int32_t m = w.groups;
  for (int32_t i = 1; i <= m; ++i) {
    for (int32_t j = 1; j <= m; ++j) w.row(i)[j] = 2.0f * prior_of(prior, i > j ? i : j);
  }
  for (int32_t i = 1; i <= m; ++i) {
    for (int32_t j = m + 1; j <= last; ++j) w.row(i)[j] = w.row(j)[i] = 2.0f * prior_of(prior, i);
  }
}

}  // namespace

void tabular(TextIO& io, Work& w, const FamilyMember* members, int32_t n,
             std::span<const float> prior, int32_t group_count, float* inbreeding) {
  if (group_count > 0) {
    w.groups = 0;
    lay_out(w, w.maxped);
    if (w.maxped > 0 && group_count > w.maxped) {
      io.write_list(kConsoleOut, {"TABULAR: maxped should be >> ", group_count});
      io.plain_stop();
    }
    w.groups = group_count;
    w.group_prior.assign(prior.begin(), prior.end());
    lay_out(w, w.maxped > 0 ? w.maxped : group_count);
  }
  const int32_t m = w.groups;
  if (w.maxped > 0 && n + m > w.maxped) {
    io.write_list(kConsoleOut, {"MAXPED in TABULAR should be at least ", n + m});
    io.plain_stop();
  }
  if (m + n >= w.side) lay_out(w, 2 * (m + n));
  auto a = [&w](int32_t p) { return w.row(p); };
  for (int32_t p = m + 1; p <= m + n; ++p) {
    a(p)[p] = 1.0f;
    for (int32_t q = p + 1; q <= m + n; ++q) a(p)[q] = 0.0f;
  }
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t I = m + i;
    const int32_t S = position(members[i].sire, m, n);
    const int32_t D = position(members[i].dam, m, n);
    a(I)[I] = a(S)[D] * 0.5f + a(I)[I];
    float* row = a(I);
    for (int32_t j = i + 1; j <= n; ++j) {
      const int32_t J = m + j;
      const int32_t Sj = position(members[j].sire, m, n);
      const int32_t Dj = position(members[j].dam, m, n);
      row[J] = (row[Sj] + row[Dj]) * 0.5f;
      a(J)[I] = row[J];
    }
  }
  for (int32_t i = 1; i <= n; ++i) inbreeding[i] = a(m + i)[m + i] - 1.0f;
}

// Iterative quicksort with the pivot key copied out of the middle member.
// Ranges waiting on the stack are disjoint and hold two members or more, so
// count / 2 entries are always enough.
void sort_family(FamilyMember* members, int32_t count) {
  if (count < 2) return;
  struct Range {
    int32_t low;
    int32_t high;
  };
  thread_local std::vector<Range> stack;
  if (stack.size() < static_cast<size_t>(count) / 2 + 1) stack.resize(static_cast<size_t>(count) / 2 + 1);
  int top = 0;
  stack[top++] = {1, count};
  while (top > 0) {
    const Range range = stack[--top];
    const int32_t low = range.low;
    int32_t high = range.high;
    while (true) {
      int32_t i = low;
      int32_t j = high;
      const int32_t pivot = members[(low + high) / 2].year;
      do {
        while (members[i].year < pivot) ++i;
        while (members[j].year > pivot) --j;
        if (i <= j) {
          std::swap(members[i], members[j]);
          ++i;
          --j;
        }
      } while (i <= j);
      if (i < high) stack[top++] = {i, high};
      high = j;
      if (!(low < high)) break;
    }
  }
}

namespace {

const Format kProcessed("('   processed ',I6,' families of size max, ave:',I4,F7.1)");

constexpr int32_t kNoCoefficient = -1;
constexpr int32_t kInFamily = -2;
// Group code for an unknown parent of a member whose year has no group: it
// points below the group block, where every relationship is 0.
constexpr int32_t kNoGroup = -kGroups;

// The family in the order the kernel needs, found in a way of its own: a
// topological sort of the sorted family that always takes, of the members
// whose parents are all taken, the one first in the sorted order (a heap of
// sorted positions). Where the sorted order already puts every parent first
// this leaves it as it is; otherwise it is the order "repeatedly the first
// member whose parents are all placed". A loop stops the run, naming the
// first member in the sorted order that is its own ancestor. Then parents
// become member positions and unknown parents group codes.
void order_family(Run& run, FamilyMember* rentab, int32_t size) {
  std::unordered_map<int32_t, int32_t> sorted_position;
  for (int32_t k = 1; k <= size; ++k) sorted_position[rentab[k].animal] = k;
  auto member_parents = [&](int32_t k) {
    std::vector<int32_t> parents;
    for (const int32_t parent : {rentab[k].sire, rentab[k].dam}) {
      const auto found = sorted_position.find(parent);
      if (parent != 0 && found != sorted_position.end() &&
          std::find(parents.begin(), parents.end(), found->second) == parents.end()) {
        parents.push_back(found->second);
      }
    }
    return parents;
  };
  std::vector<std::vector<int32_t>> children(static_cast<size_t>(size) + 1);
  std::vector<int32_t> waiting_for(static_cast<size_t>(size) + 1, 0);
  for (int32_t k = 1; k <= size; ++k) {
    for (const int32_t p : member_parents(k)) {
      children[static_cast<size_t>(p)].push_back(k);
      ++waiting_for[static_cast<size_t>(k)];
    }
  }
  std::priority_queue<int32_t, std::vector<int32_t>, std::greater<>> ready;
  for (int32_t k = 1; k <= size; ++k) {
    if (waiting_for[static_cast<size_t>(k)] == 0) ready.push(k);
  }
  std::vector<FamilyMember> ordered;
  while (!ready.empty()) {
    const int32_t k = ready.top();
    ready.pop();
    ordered.push_back(rentab[k]);
    for (const int32_t c : children[static_cast<size_t>(k)]) {
      if (--waiting_for[static_cast<size_t>(c)] == 0) ready.push(c);
    }
  }
  if (static_cast<int32_t>(ordered.size()) < size) {
    for (int32_t k = 1; k <= size; ++k) {
      std::vector<char> seen(static_cast<size_t>(size) + 1, 0);
      std::vector<int32_t> todo = member_parents(k);
      bool own_ancestor = false;
      while (!todo.empty() && !own_ancestor) {
        const int32_t q = todo.back();
        todo.pop_back();
        own_ancestor = q == k;
        if (seen[static_cast<size_t>(q)]) continue;
        seen[static_cast<size_t>(q)] = 1;
        for (const int32_t p : member_parents(q)) todo.push_back(p);
      }
      if (own_ancestor) {
        run.io.write_list(kConsoleOut, {"pedigree loop: animal is its own ancestor: ",
                                        rentab[k].animal});
        run.io.plain_stop();
      }
    }
    throw std::logic_error("reference: no member to place and no loop");
  }
  std::unordered_map<int32_t, int32_t> position;
  for (int32_t k = 1; k <= size; ++k) {
    rentab[k] = ordered[static_cast<size_t>(k - 1)];
    position[rentab[k].animal] = k;
  }
  for (int32_t FamilyMember::*field : {&FamilyMember::sire, &FamilyMember::dam}) {
    for (int32_t k = 1; k <= size; ++k) {
      const int32_t parent = rentab[k].*field;
      if (parent > 0 && position.count(parent) == 0) {
        run.io.write_list(kConsoleOut, {"HAINB:number not renumbered in rentab:", parent});
        run.io.plain_stop();
      }
    }
  }
  for (int32_t k = 1; k <= size; ++k) {
    FamilyMember& m = rentab[k];
    const int32_t code = (m.year >= 1 && m.year <= kGroups) ? m.year - kGroups : kNoGroup;
    m.sire = m.sire > 0 ? position[m.sire] : m.sire == 0 ? code : m.sire;
    m.dam = m.dam > 0 ? position[m.dam] : m.dam == 0 ? code : m.dam;
  }
}

}  // namespace

// Room for families of `members` members.
void size_for_family(Work& w, int32_t members) {
  const size_t rows = static_cast<size_t>(members) + 2;
  if (w.rentab.size() >= rows) return;
  w.rentab.resize(rows);
  w.member_inbreeding.resize(rows);
}

void hainb(Run& run, Work& w, int32_t n, std::span<const float> prior, int32_t family_limit) {
  PedigreeRow* ped = run.t.pedigree;
  int32_t families = 0;
  int32_t largest = 0;
  float size_sum = 0.0f;
  w.maxped = family_limit > 0 ? family_limit + kGroups : 0;
  w.coefficient.assign(static_cast<size_t>(n) + 1, 0.0f);
  size_for_family(w, family_limit > 0 ? family_limit : 1);
  reference::tabular(run.io, w, w.rentab.data(), 0, prior, kGroups, w.member_inbreeding.data());
  for (int32_t a = 1; a <= n; ++a) ped[a].inbreeding = kNoCoefficient;

  for (int32_t i = 1; i <= n; ++i) {
    if (ped[i].inbreeding >= 0) continue;
    FamilyMember* rentab = w.rentab.data();
    int32_t size = 1;
    rentab[1] = {ped[i].sire, ped[i].dam, i, ped[i].year};
    ped[i].inbreeding = kInFamily;
    for (int32_t p = 1; p <= size; ++p) {
      for (const int32_t parent : {rentab[p].sire, rentab[p].dam}) {
        if (parent == 0 || ped[parent].inbreeding == kInFamily) continue;
        if (++size > family_limit && family_limit > 0) {
          run.io.write_list(kConsoleOut, {"increase fammax in HAINB"});
          run.io.plain_stop();
        }
        if (family_limit == 0 && static_cast<size_t>(size) + 2 > w.rentab.size()) {
          size_for_family(w, 2 * size);
          rentab = w.rentab.data();
        }
        rentab[size] = {ped[parent].sire, ped[parent].dam, parent, ped[parent].year};
        ped[parent].inbreeding = kInFamily;
      }
    }
    size_sum = size_sum + static_cast<float>(size);
    ++families;
    if (size > largest) largest = size;

    reference::sort_family(rentab, size);
    order_family(run, rentab, size);
    reference::tabular(run.io, w, rentab, size, prior, 0, w.member_inbreeding.data());
    for (int32_t k = 1; k <= size; ++k) {
      ped[rentab[k].animal].inbreeding = truncate_to_integer(w.member_inbreeding[k] * 1000.0f);
      w.coefficient[rentab[k].animal] = w.member_inbreeding[k];
    }
  }
  const float average = families > 0 ? size_sum / static_cast<float>(families) : 0.0f;
  run.io.write_formatted(kConsoleOut, kProcessed, {families, largest, average});
}

}  // namespace parclas::reference
