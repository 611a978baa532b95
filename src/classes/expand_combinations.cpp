#include "classes/classes.h"
#include "classes/combination_table.h"
#include "run/run.h"

namespace parclas {

namespace {
const Format kInTotal("(' In total',I8,' combinations')");
}  // namespace

void addanc(Run& run, int32_t k) {
  RunTables& t = run.t;
  const Combination& record = t.combination[k];
  for (const FieldPair& pair : kAncestorPairs) {
    int32_t a = record.*pair.first;
    int32_t b = record.*pair.second;
    ordpair(a, b);
    if (a == 0 || b == 0) continue;
    const bool same = a == b;
    const AddResult added =
        addcomb(run.io, a, b, t.combination, kCombinationRows, t.combination_count);
    if (added.is_new) t.combination[added.row].status = same ? kPairExpanded : kPairNew;
  }
  t.combination[k].status = kPairExpanded;
}

void expand_combinations(Run& run) {
  RunTables& t = run.t;
  for (int32_t pass = 1; pass <= t.maximum_passes; ++pass) {
    const int32_t before = t.combination_count;
    for (int32_t k = 1; k <= kCombinationRows; ++k) {
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
    for (int32_t k = 1; k <= kCombinationRows; ++k) {
      if (t.combination[k].status == kPairFilled) addanc(run, k);
    }
    if (t.combination_count == before) break;
    run.io.write_list(kConsoleOut, {"after pass", pass, "; added", t.combination_count - before,
                                    " combinations"});
  }
  run.io.write_formatted(kConsoleOut, kInTotal, {t.combination_count});
}

}  // namespace parclas
