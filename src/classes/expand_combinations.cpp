#include "classes/classes.h"
#include "classes/combination_table.h"
#include "run/run.h"

namespace parclas {

namespace {
const Format kInTotal("(' In total',I8,' combinations')");

OnFull on_full(const RunTables& t) { return t.capacity.auto_classes ? OnFull::Grow : OnFull::Stop; }
}  // namespace

bool add_data_pair(Run& run, int32_t& sire, int32_t& dam) {
  RunTables& t = run.t;
  while (true) {
    try {
      const AddResult added = add_pair(run.io, sire, dam, t.combination, t.capacity.classes,
                                      t.combination_count, on_full(t));
      if (added.is_new) {
        t.combination[added.row].status = kPairNew;
        t.combination[added.row].number = t.combination_count;
        if (t.capacity.auto_classes) t.data_pairs.push_back({sire, dam});
      }
      return added.is_new;
    } catch (const ClassTableFull&) {
      grow_class_table(run, 0);
    }
  }
}

void grow_class_table(Run& run, int32_t passes) {
  RunTables& t = run.t;
  while (true) {
    if (t.capacity.classes > kMostClassRows / 2) stop_table_full(run.io, t.capacity.classes);
    t.capacity.classes *= 2;
    t.combination.assign_zero(t.capacity.classes);
    t.combination_count = 0;
    try {
      for (DataPair pair : t.data_pairs) {
        const AddResult added = add_pair(run.io, pair.sire, pair.dam, t.combination,
                                        t.capacity.classes, t.combination_count, OnFull::Grow);
        t.combination[added.row].status = kPairNew;
        t.combination[added.row].number = t.combination_count;
      }
      for (int32_t pass = 1; pass <= passes; ++pass) expansion_pass(run);
      return;
    } catch (const ClassTableFull&) {
      // still too small: twice as many rows again
    }
  }
}

void add_ancestor_pairs(Run& run, int32_t k) {
  RunTables& t = run.t;
  const Combination& record = t.combination[k];
  for (const FieldPair& pair : kAncestorPairs) {
    prefetch_pair(t.combination, t.capacity.classes, record.*pair.first, record.*pair.second);
  }
  for (const FieldPair& pair : kAncestorPairs) {
    int32_t a = record.*pair.first;
    int32_t b = record.*pair.second;
    order_pair(a, b);
    if (a == 0 || b == 0) continue;
    const bool same = a == b;
    const AddResult added = add_pair(run.io, a, b, t.combination, t.capacity.classes,
                                    t.combination_count, on_full(t));
    if (added.is_new) t.combination[added.row].status = same ? kPairExpanded : kPairNew;
  }
  t.combination[k].status = kPairExpanded;
}

void expansion_pass(Run& run) {
  RunTables& t = run.t;
  const int32_t rows = t.capacity.classes;
  for (int32_t k = 1; k <= rows; ++k) {
    Combination& c = t.combination[k];
    if (c.status != kPairNew) continue;
    const PedigreeRow& m1 = t.pedigree[c.member1];
    const PedigreeRow& m2 = t.pedigree[c.member2];
    c.m1sire = m1.sire;
    c.m1dam = m1.dam;
    c.m2sire = m2.sire;
    c.m2dam = m2.dam;
    c.status = kPairFilled;
  }
  for (int32_t k = 1; k <= rows; ++k) {
    if (t.combination[k].status == kPairFilled) add_ancestor_pairs(run, k);
  }
}

void expand_combinations(Run& run) {
  RunTables& t = run.t;
  for (int32_t pass = 1; pass <= t.maximum_passes; ++pass) {
    const int32_t before = t.combination_count;
    while (true) {
      try {
        expansion_pass(run);
        break;
      } catch (const ClassTableFull&) {
        grow_class_table(run, pass - 1);
      }
    }
    t.passes_done = pass;
    if (t.combination_count == before) break;
    run.io.write_list(kConsoleOut, {"after pass", pass, "; added", t.combination_count - before,
                                    " combinations"});
  }
  run.io.write_formatted(kConsoleOut, kInTotal, {t.combination_count});
}

}  // namespace parclas
