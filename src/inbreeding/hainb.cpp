#include <algorithm>
#include <stdexcept>

#include "inbreeding/inbreeding.h"
#include "run/run.h"

namespace parclas {

namespace {

const Format kProcessed("('   processed ',I6,' families of size max, ave:',I4,F7.1)");

// The work mark of every animal while HAINB runs: no coefficient yet, a
// coefficient given, or the member position in the family being built (the
// order of arrival while it is built, the position in the sorted family
// after). The marks are kept apart from the pedigree table, whose inbreeding
// field holds the animal's last family until that family gives it its value.
constexpr int32_t kNoCoefficient = -1;
constexpr int32_t kHasCoefficient = 0;
// Group code for an unknown parent of a member whose year has no group: it
// points below the group block, where every relationship is 0.
constexpr int32_t kNoGroup = -kGroups;
// Which full sibs a parent pair's coefficient holds for: none, all, or those
// born after every ancestor.
constexpr int32_t kNoSib = 0;
constexpr int32_t kAnySib = 1;
constexpr int32_t kYoungestSib = 2;

// Asks for the pedigree row and the mark of an animal that the family
// building will look at soon: the rows of a family lie anywhere in the table.
inline void prefetch_animal(const InbreedingWork::AnimalState* state, int32_t animal) {
#if defined(__GNUC__)
  __builtin_prefetch(&state[animal]);
#endif
}

struct Family {
  Run& run;
  InbreedingWork& w;
  int32_t n;  // largest animal number
  int32_t size = 0;

  bool is_member(int32_t animal) const {
    return animal >= 1 && animal <= n && w.state[static_cast<size_t>(animal)].mark > 0;
  }
  int32_t position_of(int32_t animal) const { return w.state[static_cast<size_t>(animal)].mark; }

  void index_positions() {
    for (int32_t k = 1; k <= size; ++k) w.state[static_cast<size_t>(w.rentab[k].animal)].mark = k;
  }

  bool parents_come_first() const {
    for (int32_t k = 1; k <= size; ++k) {
      for (const int32_t parent : {w.rentab[k].sire, w.rentab[k].dam}) {
        if (parent != 0 && is_member(parent) && position_of(parent) >= k) return false;
      }
    }
    return true;
  }

  bool ready(int32_t k) const {
    for (const int32_t parent : {w.rentab[k].sire, w.rentab[k].dam}) {
      if (parent != 0 && is_member(parent) && !w.placed[position_of(parent)]) return false;
    }
    return true;
  }

  // Whether member k is reached again by following parents from it.
  bool own_ancestor(int32_t k) {
    int32_t top = 0;
    for (int32_t q = 1; q <= size; ++q) w.visited[q] = false;
    w.stack[top++] = k;
    bool first = true;
    while (top > 0) {
      const int32_t q = w.stack[--top];
      if (!first && q == k) return true;
      first = false;
      for (const int32_t parent : {w.rentab[q].sire, w.rentab[q].dam}) {
        if (parent == 0 || !is_member(parent)) continue;
        const int32_t p = position_of(parent);
        if (p == k) return true;
        if (!w.visited[p]) {
          w.visited[p] = true;
          w.stack[top++] = p;
        }
      }
    }
    return false;
  }

  // Puts parents before offspring: repeatedly the first member, in the
  // sorted order, whose parents are all placed. A loop makes it impossible.
  void place_parents_first() {
    for (int32_t k = 1; k <= size; ++k) w.placed[k] = false;
    for (int32_t out = 1; out <= size; ++out) {
      int32_t pick = 0;
      for (int32_t k = 1; k <= size && pick == 0; ++k) {
        if (!w.placed[k] && ready(k)) pick = k;
      }
      if (pick == 0) {
        for (int32_t k = 1; k <= size; ++k) {
          if (!w.placed[k] && own_ancestor(k)) {
            run.io.write_list(kConsoleOut, {"pedigree loop: animal is its own ancestor: ",
                                            w.rentab[k].animal});
            run.io.plain_stop();
          }
        }
        throw std::logic_error("no member to place and no loop");
      }
      w.placed[pick] = true;
      w.reordered[out] = w.rentab[pick];
    }
    for (int32_t k = 1; k <= size; ++k) w.rentab[k] = w.reordered[k];
    index_positions();
  }

  // Parent animal numbers become member positions.
  void renumber() {
    for (int32_t FamilyMember::*field : {&FamilyMember::sire, &FamilyMember::dam}) {
      for (int32_t k = 1; k <= size; ++k) {
        const int32_t parent = w.rentab[k].*field;
        if (parent > 0 && !is_member(parent)) {
          run.io.write_list(kConsoleOut, {"HAINB:number not renumbered in rentab:", parent});
          run.io.plain_stop();
        }
      }
    }
    for (int32_t k = 1; k <= size; ++k) {
      FamilyMember& m = w.rentab[k];
      if (m.sire > 0) m.sire = position_of(m.sire);
      if (m.dam > 0) m.dam = position_of(m.dam);
    }
  }

  void code_groups() {
    for (int32_t k = 1; k <= size; ++k) {
      FamilyMember& m = w.rentab[k];
      const int32_t code = (m.year >= 1 && m.year <= kGroups) ? m.year - kGroups : kNoGroup;
      if (m.sire == 0) m.sire = code;
      if (m.dam == 0) m.dam = code;
    }
  }
};

// Which family is the last to hold each animal, written to the inbreeding
// field of the pedigree table. Families start, in ascending order, at the
// animals that have no descendant with a lower number (any other animal is an
// ancestor of such a descendant and is taken into its family first); a family
// holds its starting animal and all its ancestors. So the last family holding
// animal x is the one of the highest-numbered starting animal among x and its
// descendants. Animals are taken children first, each handing its smallest
// descendant and its last family on to its parents. Taken the other way
// round, parents first, the same order gives every animal its pedigree depth.
// Returns false if some animals are
// never taken: the pedigree has a loop.
bool find_last_families(PedigreeRow* ped, int32_t n, InbreedingWork& w) {
  const int32_t kNone = n + 1;
  for (int32_t a = 1; a <= n; ++a) {
    w.children_left[a] = 0;
    w.smallest_descendant[a] = kNone;
    ped[a].inbreeding = 0;
  }
  for (int32_t a = 1; a <= n; ++a) {
    // Parents are 0 or 1..n after the load; anything else takes the way of
    // a loop, where every family computes all its members.
    if (ped[a].sire < 0 || ped[a].sire > n || ped[a].dam < 0 || ped[a].dam > n) return false;
    if (ped[a].sire != 0) ++w.children_left[ped[a].sire];
    if (ped[a].dam != 0) ++w.children_left[ped[a].dam];
  }
  int32_t tail = 0;
  for (int32_t a = 1; a <= n; ++a) {
    if (w.children_left[a] == 0) w.queue[tail++] = a;
  }
  for (int32_t head = 0; head < tail; ++head) {
    const int32_t c = w.queue[head];
    int32_t& last = ped[c].inbreeding;
    if (w.smallest_descendant[c] > c && last < c) last = c;
    const int32_t smallest = w.smallest_descendant[c] < c ? w.smallest_descendant[c] : c;
    for (const int32_t parent : {ped[c].sire, ped[c].dam}) {
      if (parent == 0) continue;
      if (smallest < w.smallest_descendant[parent]) w.smallest_descendant[parent] = smallest;
      if (last > ped[parent].inbreeding) ped[parent].inbreeding = last;
      if (--w.children_left[parent] == 0) w.queue[tail++] = parent;
    }
  }
  if (tail != n) return false;
  for (int32_t k = n - 1; k >= 0; --k) {
    const int32_t a = w.queue[k];
    int32_t depth = 0;
    for (const int32_t parent : {ped[a].sire, ped[a].dam}) {
      if (parent != 0) depth = std::max(depth, w.state[parent].depth + 1);
    }
    w.state[a].depth = depth;
  }
  return true;
}

// The slot of a parent pair in the pair table: its own, or a free one where
// it can go; nullptr when neither is found within a few probes.
InbreedingWork::PairEntry* find_pair(InbreedingWork& w, int32_t sire, int32_t dam) {
  const uint32_t kMask = static_cast<uint32_t>(w.pairs.size()) - 1;
  uint32_t h = (static_cast<uint32_t>(sire) * 0x9E3779B1u) ^ (static_cast<uint32_t>(dam) * 0x85EBCA77u);
  h ^= h >> 15;
  for (int probe = 0; probe < 8; ++probe) {
    InbreedingWork::PairEntry& e = w.pairs[(h + static_cast<uint32_t>(probe)) & kMask];
    if (e.size == 0 || (e.sire == sire && e.dam == dam)) return &e;
  }
  return nullptr;
}

// The family sorted by year as the family sort orders it, by arrival
// numbers, into w.ordered with parents as positions and unknown parents
// coded as groups; w.order_position gives each arrival's position. False if
// some parent does not come before its offspring: the family must then be
// reordered by animal numbers.
bool sort_by_arrival(InbreedingWork& w, int32_t size) {
  FamilyMember* members = w.ordered.data();
  for (int32_t k = 1; k <= size; ++k) {
    members[k] = {w.arrival_sire[k], w.arrival_dam[k], k, w.rentab[k].year};
  }
  sort_family(members, size);
  int32_t* position = w.order_position.data();
  for (int32_t p = 1; p <= size; ++p) position[members[p].animal] = p;
  for (int32_t p = 1; p <= size; ++p) {
    FamilyMember& m = members[p];
    const int32_t code = (m.year >= 1 && m.year <= kGroups) ? m.year - kGroups : kNoGroup;
    m.sire = m.sire != 0 ? position[m.sire] : code;
    m.dam = m.dam != 0 ? position[m.dam] : code;
    if (m.sire >= p || m.dam >= p) return false;
  }
  return true;
}

bool all_zero(std::span<const float> prior) {
  for (const float p : prior) {
    if (p != 0.0f) return false;
  }
  return true;
}

}  // namespace

void hainb(Run& run, int32_t n, std::span<const float> prior) {
  InbreedingWork& w = run.work;
  PedigreeRow* ped = run.t.pedigree;
  int32_t families = 0;
  int32_t largest = 0;
  float size_sum = 0.0f;
  run.t.largest_family = 0;
  // The family limit, and the kernel's matrix with room for the groups and
  // a family of that size; without a limit both grow with the families.
  const int32_t limit = run.t.capacity.family > 0 ? run.t.capacity.family : 0;
  w.maxped = limit > 0 ? limit + kGroups : 0;
  w.size_for_animals(n);
  w.size_for_family(limit > 0 ? std::min(limit, fammax) : fammax);
  tabular(run.io, w, w.rentab.data(), 0, prior, kGroups, {}, w.member_inbreeding.data());
  InbreedingWork::AnimalState* const state = w.state.data();
  for (int32_t a = 1; a <= n; ++a) state[a] = {kNoCoefficient, 0, ped[a].sire, ped[a].dam, ped[a].year, 0};
  // Each animal's stored value is the one of the last family holding it, so
  // a family computes only the members it is the last to hold. With a
  // pedigree loop (which stops the run at its family) it computes them all.
  const bool known_last = find_last_families(ped, n, w);
  // Where every group relationship is 0, a member whose parents' depths add
  // up to at most kExactDepthSum has a value that no member order changes.
  const bool exact_possible = known_last && all_zero(prior);
  if (known_last) {
    for (int32_t a = 1; a <= n; ++a) w.finals[a] = 0;
    for (int32_t a = 1; a <= n; ++a) {
      state[a].last = ped[a].inbreeding;
      ++w.finals[ped[a].inbreeding];
    }
    std::fill(w.pairs.begin(), w.pairs.end(), InbreedingWork::PairEntry{});
  }
  auto depth_of = [state](int32_t animal) { return animal != 0 ? int32_t{state[animal].depth} : 0; };

  Family family{run, w, n};
  FamilyMember* rentab = w.rentab.data();
  for (int32_t i = 1; i <= n; ++i) {
    // Without a loop, families start at the animals that no lower-numbered
    // descendant holds in its family; with one, the marks tell.
    if (known_last ? w.smallest_descendant[i] < i : state[i].mark != kNoCoefficient) continue;
    // A family that is the last to hold no member but perhaps its own
    // animal: its size is that of any full sib's family. So is the animal's
    // coefficient where it is exact, and also where both animals are born
    // after all their ancestors: the two families then differ only in the
    // first member, which every comparison of the family sort finds the
    // greatest, so both are sorted alike and computed alike.
    const int32_t sire = ped[i].sire;
    const int32_t dam = ped[i].dam;
    const int32_t year = state[i].year;
    const bool own_last = known_last && state[i].last == i;
    const bool own_exact = exact_possible && depth_of(sire) + depth_of(dam) <= kExactDepthSum;
    InbreedingWork::PairEntry* pair = nullptr;
    if (known_last && w.finals[i] == (own_last ? 1 : 0) && (!own_last || exact_possible)) {
      pair = find_pair(w, sire, dam);
    }
    const bool reuse = pair != nullptr && pair->size > 0 &&
                       (!own_last || pair->coefficient_for == kAnySib ||
                        (pair->coefficient_for == kYoungestSib && year > pair->latest_ancestor_year));
    if (reuse) {
      size_sum = size_sum + static_cast<float>(pair->size);
      ++families;
      if (pair->size > largest) largest = pair->size;
      if (own_last) {
        ped[i].inbreeding = truncate_to_integer(pair->coefficient * 1000.0f);
        w.coefficient[i] = pair->coefficient;
      }
      continue;
    }
    // The family of i, breadth first; each member's parents are also noted
    // by their arrival numbers (0 unknown), and its depth.
    int32_t size = 1;
    rentab[1] = {state[i].sire, state[i].dam, i, state[i].year};
    state[i].mark = 1;
    w.member_depth[1] = state[i].depth;
    for (int32_t p = 1; p <= size; ++p) {
      for (int32_t FamilyMember::*field : {&FamilyMember::sire, &FamilyMember::dam}) {
        const int32_t parent = rentab[p].*field;
        int32_t arrival = 0;
        // The load leaves parents at 0..n; another number is not followed
        // and stops the run when the family is renumbered.
        if (parent >= 1 && parent <= n) {
          InbreedingWork::AnimalState& ancestor = state[parent];
          if (ancestor.mark > 0) {
            arrival = ancestor.mark;
          } else {
            if (++size > limit && limit > 0) {
              run.t.largest_family = std::max(largest, size);
              run.io.write_list(kConsoleOut, {"increase fammax in HAINB"});
              run.io.plain_stop();
            }
            if (static_cast<size_t>(size) + 1 >= w.rentab.size()) {
              w.size_for_family(size + 1);
              rentab = w.rentab.data();
            }
            rentab[size] = {ancestor.sire, ancestor.dam, parent, ancestor.year};
            ancestor.mark = size;
            w.member_depth[size] = ancestor.depth;
            prefetch_animal(state, ancestor.sire);
            prefetch_animal(state, ancestor.dam);
            arrival = size;
          }
        }
        (field == &FamilyMember::sire ? w.arrival_sire : w.arrival_dam)[p] = arrival;
      }
    }
    size_sum = size_sum + static_cast<float>(size);
    ++families;
    if (size > largest) largest = size;
    // Kept up to date: a loop found while ordering this family stops the run,
    // and the sizes of an "auto" run must then still name a limit it fits.
    run.t.largest_family = largest;

    // Members 2.. are the ancestors while the family is in arrival order.
    int32_t latest_ancestor_year = INT32_MIN;
    if (pair != nullptr) {
      for (int32_t k = 2; k <= size; ++k) {
        latest_ancestor_year = std::max(latest_ancestor_year, rentab[k].year);
      }
    }

    // The members this family is the last to hold.
    int32_t wanted = 0;
    for (int32_t k = 1; k <= size; ++k) {
      if (!known_last || state[rentab[k].animal].last == i) w.wanted[wanted++] = k;
    }
    // Without a pedigree loop, ordering a family cannot stop the run, so a
    // family with no such member is only counted, and one whose members all
    // have exact values is computed in the order of arrival.
    bool exact = exact_possible;
    for (int32_t j = 0; j < wanted && exact; ++j) {
      const int32_t k = w.wanted[j];
      int32_t sum = 0;
      for (const int32_t parent : {w.arrival_sire[k], w.arrival_dam[k]}) {
        if (parent != 0) sum += w.member_depth[parent];
      }
      exact = sum <= kExactDepthSum;
    }
    if (wanted == 0) {
      // nothing to compute
    } else if (exact) {
      tabular_exact(w, w.arrival_sire.data(), w.arrival_dam.data(), w.member_depth.data(), size,
                    std::span<const int32_t>(w.wanted.data(), static_cast<size_t>(wanted)),
                    w.member_inbreeding.data());
    } else if (known_last && sort_by_arrival(w, size)) {
      // Positions of the wanted members in the sorted family, and their
      // values back by arrival.
      const int32_t* position = w.order_position.data();
      int32_t* at = w.wanted_position.data();
      for (int32_t j = 0; j < wanted; ++j) at[j] = position[w.wanted[j]];
      tabular(run.io, w, w.ordered.data(), size, prior, 0,
              std::span<const int32_t>(at, static_cast<size_t>(wanted)), w.ordered_inbreeding.data());
      for (int32_t j = 0; j < wanted; ++j) w.member_inbreeding[w.wanted[j]] = w.ordered_inbreeding[at[j]];
    } else {
      sort_family(rentab, size);
      family.size = size;
      family.index_positions();
      if (!family.parents_come_first()) family.place_parents_first();
      family.renumber();
      family.code_groups();
      wanted = 0;
      for (int32_t k = 1; k <= size; ++k) {
        if (!known_last || state[rentab[k].animal].last == i) w.wanted[wanted++] = k;
      }
      tabular(run.io, w, rentab, size, prior, 0,
              std::span<const int32_t>(w.wanted.data(), static_cast<size_t>(wanted)),
              w.member_inbreeding.data());
    }
    for (int32_t j = 0; j < wanted; ++j) {
      const int32_t k = w.wanted[j];
      const float f = w.member_inbreeding[k];
      ped[rentab[k].animal].inbreeding = truncate_to_integer(f * 1000.0f);
      w.coefficient[rentab[k].animal] = f;
    }
    for (int32_t k = 1; k <= size; ++k) state[rentab[k].animal].mark = kHasCoefficient;
    if (pair != nullptr) {
      const int32_t coefficient_for = !own_last ? kNoSib
                                      : own_exact ? kAnySib
                                      : year > latest_ancestor_year ? kYoungestSib
                                                                    : kNoSib;
      *pair = {sire, dam, size, coefficient_for, latest_ancestor_year,
               own_last ? w.coefficient[i] : 0.0f};
    }
  }
  run.t.largest_family = largest;
  const float average = families > 0 ? size_sum / static_cast<float>(families) : 0.0f;
  run.io.write_formatted(kConsoleOut, kProcessed, {families, largest, average});
}

}  // namespace parclas
