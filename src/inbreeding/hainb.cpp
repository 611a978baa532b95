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

// The index of an animal number or member position, never negative where
// it is used as one.
inline size_t at(int32_t number) { return static_cast<size_t>(number); }

// Asks for the pedigree row and the mark of an animal that the family
// building will look at soon: the rows of a family lie anywhere in the table.
inline void prefetch_animal(const InbreedingWork::AnimalState* state, int32_t animal) {
#if defined(__GNUC__)
  __builtin_prefetch(&state[animal]);
#endif
}

// Orders a family that the family sort does not put parents first in, by
// animal numbers, and renumbers parents as member positions. Members are
// marked with their positions in rentab, 1..size.
struct FamilyOrder {
  Run& run;
  InbreedingWork& w;
  int32_t n;  // largest animal number
  size_t size;

  bool is_member(int32_t animal) const {
    return animal >= 1 && animal <= n && w.state[at(animal)].mark > 0;
  }
  size_t position_of(int32_t animal) const { return at(w.state[at(animal)].mark); }

  void index_positions() {
    for (size_t k = 1; k <= size; ++k) w.state[at(w.rentab[k].animal)].mark = static_cast<int32_t>(k);
  }

  bool parents_come_first() const {
    for (size_t k = 1; k <= size; ++k) {
      for (const int32_t parent : {w.rentab[k].sire, w.rentab[k].dam}) {
        if (parent != 0 && is_member(parent) && position_of(parent) >= k) return false;
      }
    }
    return true;
  }

  bool ready(size_t k) const {
    for (const int32_t parent : {w.rentab[k].sire, w.rentab[k].dam}) {
      if (parent != 0 && is_member(parent) && !w.placed[position_of(parent)]) return false;
    }
    return true;
  }

  // Whether member k is reached again by following parents from it.
  bool own_ancestor(size_t k) {
    for (size_t q = 1; q <= size; ++q) w.visited[q] = false;
    size_t top = 0;
    w.stack[top++] = static_cast<int32_t>(k);
    while (top > 0) {
      const size_t q = at(w.stack[--top]);
      for (const int32_t parent : {w.rentab[q].sire, w.rentab[q].dam}) {
        if (parent == 0 || !is_member(parent)) continue;
        const size_t p = position_of(parent);
        if (p == k) return true;
        if (!w.visited[p]) {
          w.visited[p] = true;
          w.stack[top++] = static_cast<int32_t>(p);
        }
      }
    }
    return false;
  }

  // Puts parents before offspring: repeatedly the first member, in the
  // sorted order, whose parents are all placed. A loop makes it impossible
  // and stops the run, naming the first member that is its own ancestor.
  void place_parents_first() {
    for (size_t k = 1; k <= size; ++k) w.placed[k] = false;
    for (size_t out = 1; out <= size; ++out) {
      size_t pick = 0;
      for (size_t k = 1; k <= size && pick == 0; ++k) {
        if (!w.placed[k] && ready(k)) pick = k;
      }
      if (pick == 0) {
        for (size_t k = 1; k <= size; ++k) {
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
    for (size_t k = 1; k <= size; ++k) w.rentab[k] = w.reordered[k];
    index_positions();
  }

  // Parent animal numbers become member positions.
  void renumber() {
    for (int32_t FamilyMember::*field : {&FamilyMember::sire, &FamilyMember::dam}) {
      for (size_t k = 1; k <= size; ++k) {
        const int32_t parent = w.rentab[k].*field;
        if (parent > 0 && !is_member(parent)) {
          run.io.write_list(kConsoleOut, {"HAINB:number not renumbered in rentab:", parent});
          run.io.plain_stop();
        }
      }
    }
    for (size_t k = 1; k <= size; ++k) {
      FamilyMember& m = w.rentab[k];
      if (m.sire > 0) m.sire = w.state[at(m.sire)].mark;
      if (m.dam > 0) m.dam = w.state[at(m.dam)].mark;
    }
  }

  // Unknown parents become the group code of the member's year.
  void code_groups() {
    for (size_t k = 1; k <= size; ++k) {
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
// Returns false if some animals are never taken: the pedigree has a loop.
bool find_last_families(PedigreeRow* ped, int32_t n, InbreedingWork& w) {
  const int32_t kNone = n + 1;
  for (int32_t a = 1; a <= n; ++a) {
    w.children_left[at(a)] = 0;
    w.smallest_descendant[at(a)] = kNone;
    ped[a].inbreeding = 0;
  }
  for (int32_t a = 1; a <= n; ++a) {
    // Parents are 0 or 1..n after the load; anything else takes the way of
    // a loop, where every family computes all its members.
    if (ped[a].sire < 0 || ped[a].sire > n || ped[a].dam < 0 || ped[a].dam > n) return false;
    if (ped[a].sire != 0) ++w.children_left[at(ped[a].sire)];
    if (ped[a].dam != 0) ++w.children_left[at(ped[a].dam)];
  }
  size_t tail = 0;
  for (int32_t a = 1; a <= n; ++a) {
    if (w.children_left[at(a)] == 0) w.queue[tail++] = a;
  }
  for (size_t head = 0; head < tail; ++head) {
    const int32_t c = w.queue[head];
    int32_t& last = ped[c].inbreeding;
    const int32_t below = w.smallest_descendant[at(c)];
    if (below > c && last < c) last = c;
    const int32_t smallest = std::min(below, c);
    for (const int32_t parent : {ped[c].sire, ped[c].dam}) {
      if (parent == 0) continue;
      int32_t& parent_smallest = w.smallest_descendant[at(parent)];
      if (smallest < parent_smallest) parent_smallest = smallest;
      if (last > ped[parent].inbreeding) ped[parent].inbreeding = last;
      if (--w.children_left[at(parent)] == 0) w.queue[tail++] = parent;
    }
  }
  if (tail != at(n)) return false;
  for (size_t k = tail; k-- > 0;) {
    const int32_t a = w.queue[k];
    int32_t depth = 0;
    for (const int32_t parent : {ped[a].sire, ped[a].dam}) {
      if (parent != 0) depth = std::max(depth, w.state[at(parent)].depth + 1);
    }
    w.state[at(a)].depth = depth;
  }
  return true;
}

// The slot of a parent pair in the pair table: its own, or a free one where
// it can go; nullptr when neither is found within a few probes.
InbreedingWork::PairEntry* find_pair(InbreedingWork& w, int32_t sire, int32_t dam) {
  const uint32_t kMask = static_cast<uint32_t>(w.pairs.size()) - 1;
  uint32_t h = (static_cast<uint32_t>(sire) * 0x9E3779B1u) ^ (static_cast<uint32_t>(dam) * 0x85EBCA77u);
  h ^= h >> 15;
  for (uint32_t probe = 0; probe < 8; ++probe) {
    InbreedingWork::PairEntry& e = w.pairs[(h + probe) & kMask];
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
    members[k] = {w.arrival_sire[at(k)], w.arrival_dam[at(k)], k, w.rentab[at(k)].year};
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

// HAINB's walk over the families, one named step per function. A family
// holds its starting animal and all its ancestors; each is built, sorted and
// computed in turn, and gives its values to the members it is the last to
// hold.
class FamilyWalk {
 public:
  FamilyWalk(Run& run, int32_t n, std::span<const float> prior)
      : run_(run), w_(run.work), ped_(run.t.pedigree), n_(n), prior_(prior) {
    run_.t.largest_family = 0;
    // The family limit, and the kernel's matrix with room for the groups and
    // a family of that size; without a limit both grow with the families.
    limit_ = run_.t.capacity.family > 0 ? run_.t.capacity.family : 0;
    w_.maxped = limit_ > 0 ? limit_ + kGroups : 0;
    w_.size_for_animals(n_);
    w_.size_for_family(limit_ > 0 ? std::min(limit_, fammax) : fammax);
    // The group block from the prior inbreeding of the unknown-parent groups.
    tabular(run_.io, w_, w_.rentab.data(), 0, prior_, kGroups, {}, w_.member_inbreeding.data());
    state_ = w_.state.data();
    for (int32_t a = 1; a <= n_; ++a) {
      state_[a] = {kNoCoefficient, 0, ped_[a].sire, ped_[a].dam, ped_[a].year, 0};
    }
    // Each animal's stored value is the one of the last family holding it, so
    // a family computes only the members it is the last to hold. With a
    // pedigree loop (which stops the run at its family) it computes them all.
    known_last_ = find_last_families(ped_, n_, w_);
    // With every group unrelated and not inbred, a member whose parents'
    // depths add up to at most kExactDepthSum has a value that no member
    // order changes. In the program the prior is always all zero (the yearly
    // report hands in its year sums before it sums them); only tests hand in
    // others.
    exact_possible_ = known_last_ && all_zero(prior_);
    if (known_last_) {
      for (int32_t a = 1; a <= n_; ++a) w_.finals[at(a)] = 0;
      for (int32_t a = 1; a <= n_; ++a) {
        state_[a].last = ped_[a].inbreeding;
        ++w_.finals[at(ped_[a].inbreeding)];
      }
      std::fill(w_.pairs.begin(), w_.pairs.end(), PairEntry{});
    }
  }

  // Without a loop, families start at the animals that no lower-numbered
  // descendant holds in its family; with one, at the animals that no
  // earlier family held.
  bool starts_family(int32_t i) const {
    return known_last_ ? w_.smallest_descendant[at(i)] >= i : state_[i].mark == kNoCoefficient;
  }

  void take_family(int32_t i) {
    PairEntry* pair = pair_to_reuse(i);
    if (pair != nullptr && reuses(*pair, i)) {
      reuse_family(*pair, i);
      return;
    }
    const int32_t size = build_family(i);
    count_family(size);
    const int32_t latest = pair != nullptr ? latest_ancestor_year(size) : INT32_MIN;
    const int32_t wanted = compute_family(i, size);
    store_family(size, wanted);
    if (pair != nullptr) remember_pair(*pair, i, size, latest);
  }

  // The summary line.
  void report() const {
    run_.t.largest_family = largest_;
    const float average = families_ > 0 ? size_sum_ / static_cast<float>(families_) : 0.0f;
    run_.io.write_formatted(kConsoleOut, kProcessed, {families_, largest_, average});
  }

 private:
  using AnimalState = InbreedingWork::AnimalState;
  using PairEntry = InbreedingWork::PairEntry;

  int32_t depth_of(int32_t animal) const { return animal != 0 ? state_[animal].depth : 0; }
  bool own_last(int32_t i) const { return known_last_ && state_[i].last == i; }

  // A family that is the last to hold no member but perhaps its own animal
  // has the size of any full sib's family. Where the animal's coefficient is
  // exact, so is that coefficient; and also where both animals are born
  // after all their ancestors: the two families then differ only in the
  // first member, which every comparison of the family sort finds the
  // greatest, so both are sorted alike and computed alike. The pair table
  // keeps, per parent pair, what the first such family found.
  PairEntry* pair_to_reuse(int32_t i) {
    const bool own = own_last(i);
    if (!known_last_ || w_.finals[at(i)] != (own ? 1 : 0) || (own && !exact_possible_)) {
      return nullptr;
    }
    return find_pair(w_, ped_[i].sire, ped_[i].dam);
  }

  bool reuses(const PairEntry& pair, int32_t i) const {
    return pair.size > 0 &&
           (!own_last(i) || pair.coefficient_for == kAnySib ||
            (pair.coefficient_for == kYoungestSib && state_[i].year > pair.latest_ancestor_year));
  }

  // A full sib's family counted again, and its coefficient taken.
  void reuse_family(const PairEntry& pair, int32_t i) {
    size_sum_ = size_sum_ + static_cast<float>(pair.size);
    ++families_;
    largest_ = std::max(largest_, pair.size);
    if (own_last(i)) {
      ped_[i].inbreeding = truncate_to_integer(pair.coefficient * 1000.0f);
      w_.coefficient[at(i)] = pair.coefficient;
    }
  }

  // The family of i in rentab, breadth first, each member marked with its
  // arrival number; each member's parents are also noted by their arrival
  // numbers (0 unknown), and its depth. Stops the run when the family
  // outgrows the limit.
  int32_t build_family(int32_t i) {
    FamilyMember* rentab = w_.rentab.data();
    int32_t size = 1;
    rentab[1] = {state_[i].sire, state_[i].dam, i, state_[i].year};
    state_[i].mark = 1;
    w_.member_depth[1] = state_[i].depth;
    for (int32_t p = 1; p <= size; ++p) {
      for (int32_t FamilyMember::*field : {&FamilyMember::sire, &FamilyMember::dam}) {
        const int32_t parent = rentab[p].*field;
        int32_t arrival = 0;
        // The load leaves parents at 0..n; another number is not followed
        // and stops the run when the family is renumbered.
        if (parent >= 1 && parent <= n_) {
          AnimalState& ancestor = state_[parent];
          if (ancestor.mark > 0) {
            arrival = ancestor.mark;
          } else {
            if (++size > limit_ && limit_ > 0) {
              run_.t.largest_family = std::max(largest_, size);
              run_.io.write_list(kConsoleOut, {"increase fammax in HAINB"});
              run_.io.plain_stop();
            }
            if (at(size) + 1 >= w_.rentab.size()) {
              w_.size_for_family(size + 1);
              rentab = w_.rentab.data();
            }
            rentab[size] = {ancestor.sire, ancestor.dam, parent, ancestor.year};
            ancestor.mark = size;
            w_.member_depth[at(size)] = ancestor.depth;
            prefetch_animal(state_, ancestor.sire);
            prefetch_animal(state_, ancestor.dam);
            arrival = size;
          }
        }
        (field == &FamilyMember::sire ? w_.arrival_sire : w_.arrival_dam)[at(p)] = arrival;
      }
    }
    return size;
  }

  void count_family(int32_t size) {
    size_sum_ = size_sum_ + static_cast<float>(size);
    ++families_;
    largest_ = std::max(largest_, size);
    // Kept up to date: a loop found while ordering this family stops the run,
    // and the sizes of an "auto" run must then still name a limit it fits.
    run_.t.largest_family = largest_;
  }

  // The latest year among the ancestors: members 2.. while the family is in
  // arrival order.
  int32_t latest_ancestor_year(int32_t size) const {
    int32_t latest = INT32_MIN;
    for (int32_t k = 2; k <= size; ++k) latest = std::max(latest, w_.rentab[at(k)].year);
    return latest;
  }

  // The positions of the members this family is the last to hold (all of
  // them where a loop leaves the last families unknown), in w.wanted.
  int32_t members_to_compute(int32_t i, int32_t size) {
    int32_t wanted = 0;
    for (int32_t k = 1; k <= size; ++k) {
      if (!known_last_ || state_[w_.rentab[at(k)].animal].last == i) w_.wanted[at(wanted++)] = k;
    }
    return wanted;
  }

  // Whether every wanted member's parents have depths that add up to at most
  // kExactDepthSum (positions in arrival order).
  bool all_wanted_exact(int32_t wanted) const {
    for (int32_t j = 0; j < wanted; ++j) {
      const int32_t k = w_.wanted[at(j)];
      int32_t sum = 0;
      for (const int32_t parent : {w_.arrival_sire[at(k)], w_.arrival_dam[at(k)]}) {
        if (parent != 0) sum += w_.member_depth[at(parent)];
      }
      if (sum > kExactDepthSum) return false;
    }
    return true;
  }

  // Computes the wanted members' values into w.member_inbreeding by their
  // positions in rentab, and returns how many are wanted (w.wanted). Without
  // a pedigree loop, ordering a family cannot stop the run, so a family with
  // no wanted member is only counted, one whose wanted members all have exact
  // values is computed in the order of arrival, and any other is sorted by
  // arrival numbers. With a loop, or where the sorted order puts an offspring
  // before a parent, the family is sorted and reordered by animal numbers,
  // where a loop stops the run.
  int32_t compute_family(int32_t i, int32_t size) {
    int32_t wanted = members_to_compute(i, size);
    const std::span<const int32_t> wanted_positions(w_.wanted.data(), at(wanted));
    if (wanted == 0) return 0;
    if (exact_possible_ && all_wanted_exact(wanted)) {
      tabular_exact(w_, w_.arrival_sire.data(), w_.arrival_dam.data(), w_.member_depth.data(), size,
                    wanted_positions, w_.member_inbreeding.data());
    } else if (known_last_ && sort_by_arrival(w_, size)) {
      // Positions of the wanted members in the sorted family, and their
      // values back by arrival.
      for (size_t j = 0; j < wanted_positions.size(); ++j) {
        w_.wanted_position[j] = w_.order_position[at(wanted_positions[j])];
      }
      tabular(run_.io, w_, w_.ordered.data(), size, prior_, 0,
              std::span<const int32_t>(w_.wanted_position.data(), wanted_positions.size()),
              w_.ordered_inbreeding.data());
      for (size_t j = 0; j < wanted_positions.size(); ++j) {
        w_.member_inbreeding[at(wanted_positions[j])] =
            w_.ordered_inbreeding[at(w_.wanted_position[j])];
      }
    } else {
      FamilyOrder order{run_, w_, n_, at(size)};
      sort_family(w_.rentab.data(), size);
      order.index_positions();
      if (!order.parents_come_first()) order.place_parents_first();
      order.renumber();
      order.code_groups();
      wanted = members_to_compute(i, size);
      tabular(run_.io, w_, w_.rentab.data(), size, prior_, 0,
              std::span<const int32_t>(w_.wanted.data(), at(wanted)), w_.member_inbreeding.data());
    }
    return wanted;
  }

  // The wanted members' values into the pedigree table (thousandths, cut
  // toward zero) and the coefficient table; every member marked as done.
  void store_family(int32_t size, int32_t wanted) {
    for (int32_t j = 0; j < wanted; ++j) {
      const int32_t k = w_.wanted[at(j)];
      const int32_t animal = w_.rentab[at(k)].animal;
      const float f = w_.member_inbreeding[at(k)];
      ped_[animal].inbreeding = truncate_to_integer(f * 1000.0f);
      w_.coefficient[at(animal)] = f;
    }
    for (int32_t k = 1; k <= size; ++k) state_[w_.rentab[at(k)].animal].mark = kHasCoefficient;
  }

  // What the family of i found, for the later full sibs of i.
  void remember_pair(PairEntry& pair, int32_t i, int32_t size, int32_t latest) {
    const bool own = own_last(i);
    const bool own_exact =
        exact_possible_ && depth_of(ped_[i].sire) + depth_of(ped_[i].dam) <= kExactDepthSum;
    const int32_t coefficient_for = !own        ? kNoSib
                                    : own_exact ? kAnySib
                                    : state_[i].year > latest ? kYoungestSib
                                                              : kNoSib;
    pair = {ped_[i].sire, ped_[i].dam, size, coefficient_for, latest,
            own ? w_.coefficient[at(i)] : 0.0f};
  }

  Run& run_;
  InbreedingWork& w_;
  PedigreeRow* ped_;
  AnimalState* state_ = nullptr;
  int32_t n_;  // largest animal number
  int32_t limit_ = 0;
  std::span<const float> prior_;
  bool known_last_ = false;
  bool exact_possible_ = false;
  // The summary line's counts.
  int32_t families_ = 0;
  int32_t largest_ = 0;
  float size_sum_ = 0.0f;
};

}  // namespace

void hainb(Run& run, int32_t n, std::span<const float> prior) {
  FamilyWalk walk(run, n, prior);
  for (int32_t i = 1; i <= n; ++i) {
    if (walk.starts_family(i)) walk.take_family(i);
  }
  walk.report();
}

}  // namespace parclas
