#include <stdexcept>

#include "inbreeding/inbreeding.h"
#include "run/run.h"

namespace parclas {

namespace {

const Format kProcessed("('   processed ',I6,' families of size max, ave:',I4,F7.1)");

constexpr int32_t kNoCoefficient = -1;
constexpr int32_t kInFamily = -2;
// Group code for an unknown parent of a member whose year has no group: it
// points below the group block, where every relationship is 0.
constexpr int32_t kNoGroup = -kGroups;

struct Family {
  Run& run;
  InbreedingWork& w;
  int32_t size = 0;
  int32_t id = 0;

  bool is_member(int32_t animal) const {
    return animal >= 1 && animal <= relmax && w.family_of[animal] == id;
  }

  void index_positions() {
    for (int32_t k = 1; k <= size; ++k) {
      w.family_of[w.rentab[k].animal] = id;
      w.position_of[w.rentab[k].animal] = k;
    }
  }

  bool parents_come_first() const {
    for (int32_t k = 1; k <= size; ++k) {
      for (const int32_t parent : {w.rentab[k].sire, w.rentab[k].dam}) {
        if (parent != 0 && is_member(parent) && w.position_of[parent] >= k) return false;
      }
    }
    return true;
  }

  bool ready(int32_t k) const {
    for (const int32_t parent : {w.rentab[k].sire, w.rentab[k].dam}) {
      if (parent != 0 && is_member(parent) && !w.placed[w.position_of[parent]]) return false;
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
        const int32_t p = w.position_of[parent];
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
      if (m.sire > 0) m.sire = w.position_of[m.sire];
      if (m.dam > 0) m.dam = w.position_of[m.dam];
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

}  // namespace

void hainb(Run& run, int32_t n, std::span<const float> prior) {
  InbreedingWork& w = run.work;
  PedigreeRow* ped = run.t.pedigree;
  int32_t families = 0;
  int32_t largest = 0;
  float size_sum = 0.0f;
  tabular(run.io, w, w.rentab, 0, prior, kGroups, w.member_inbreeding);
  for (int32_t a = 1; a <= n; ++a) ped[a].inbreeding = kNoCoefficient;

  Family family{run, w};
  for (int32_t i = 1; i <= n; ++i) {
    if (ped[i].inbreeding >= 0) continue;
    FamilyMember* rentab = w.rentab;
    int32_t size = 1;
    rentab[1] = {ped[i].sire, ped[i].dam, i, ped[i].year};
    ped[i].inbreeding = kInFamily;
    for (int32_t p = 1; p <= size; ++p) {
      for (const int32_t parent : {rentab[p].sire, rentab[p].dam}) {
        if (parent == 0 || ped[parent].inbreeding == kInFamily) continue;
        if (++size > fammax) {
          run.io.write_list(kConsoleOut, {"increase fammax in HAINB"});
          run.io.plain_stop();
        }
        rentab[size] = {ped[parent].sire, ped[parent].dam, parent, ped[parent].year};
        ped[parent].inbreeding = kInFamily;
      }
    }
    size_sum = size_sum + static_cast<float>(size);
    ++families;
    if (size > largest) largest = size;

    sort_family(rentab, size);
    family.size = size;
    family.id = families;
    family.index_positions();
    if (!family.parents_come_first()) family.place_parents_first();
    family.renumber();
    family.code_groups();
    tabular(run.io, w, rentab, size, prior, 0, w.member_inbreeding);
    for (int32_t k = 1; k <= size; ++k) {
      ped[rentab[k].animal].inbreeding = truncate_to_integer(w.member_inbreeding[k] * 1000.0f);
    }
  }
  const float average = families > 0 ? size_sum / static_cast<float>(families) : 0.0f;
  run.io.write_formatted(kConsoleOut, kProcessed, {families, largest, average});
}

}  // namespace parclas
