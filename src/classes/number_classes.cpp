#include "classes/classes.h"
#include "classes/combination_table.h"
#include "run/run.h"

namespace parclas {

namespace {
const Format kEliminated("(' eliminated',I8,' combinations; left ',I8)");
const Format kPerhaps("(' perhaps could eliminate',I8,' more')");

void add_reference(Run& run, const Combination& record, const FieldPair& pair, int32_t weight) {
  RunTables& t = run.t;
  int32_t key[2] = {record.*pair.first, record.*pair.second};
  ordpair(key[0], key[1]);
  if (key[0] == 0 || key[1] == 0) return;
  const int32_t row =
      hashfind(run.io, key, t.combination, kCombinationRows, HashMode::Look, t.combination_count);
  if (row != 0) t.combination[row].status += weight;
}
}  // namespace

void tagcomb(Run& run, int32_t k) {
  const Combination& record = run.t.combination[k];
  for (int n = 0; n < 8; ++n) {
    add_reference(run, record, kAncestorPairs[n],
                  n < kParentalPositions ? kParentalReference : kGrandParentalReference);
  }
}

void number_classes(Run& run) {
  RunTables& t = run.t;
  Combination* table = t.combination;
  for (int32_t k = 1; k <= kCombinationRows; ++k) {
    if (table[k].status != kNoPair) {
      table[k].status = table[k].number != 0 ? kPairRecorded : kPairAncestorOnly;
    }
  }
  for (int32_t k = 1; k <= kCombinationRows; ++k) {
    if (table[k].status != kNoPair) tagcomb(run, k);
  }
  int32_t eliminated = 0;
  int32_t candidates = 0;
  for (int32_t k = 1; k <= kCombinationRows; ++k) {
    Combination& c = table[k];
    if (c.status == kPairAncestorOnly) {
      run.io.write_list(kConsoleOut, {"error 234"});
    } else if (c.status == kAncestorReferredOnceAsParent) {
      if (has_grandparents(c)) {
        ++candidates;
      } else {
        c.status = kNoPair;
        c.member1 = -1;
        ++eliminated;
      }
    }
  }
  run.io.write_formatted(kConsoleOut, kEliminated,
                         {eliminated, t.combination_count - eliminated});
  run.io.write_formatted(kConsoleOut, kPerhaps, {candidates});

  t.classes_with_parents = 0;
  for (int32_t k = 1; k <= kCombinationRows; ++k) {
    if (table[k].status != kNoPair && has_grandparents(table[k])) {
      table[k].number = ++t.classes_with_parents;
    }
  }
  t.classes_without_parents = 0;
  for (int32_t k = 1; k <= kCombinationRows; ++k) {
    if (table[k].status != kNoPair && !has_grandparents(table[k])) {
      table[k].number = t.classes_with_parents + ++t.classes_without_parents;
    }
  }
  run.io.write_list(kConsoleOut, {"created ", t.classes_with_parents, " dominance pedigrees"});
  run.io.write_list(kConsoleOut, {t.classes_without_parents, " classes have no parent classes"});
}

}  // namespace parclas
