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
  order_pair(key[0], key[1]);
  if (key[0] == 0 || key[1] == 0) return;
  const int32_t row =
      find_row(run.io, key, t.combination, t.capacity.classes, HashMode::Look, t.combination_count);
  if (row != 0) t.combination[row].status += weight;
}
}  // namespace

void tag_ancestor_pairs(Run& run, int32_t k) {
  const Combination& record = run.t.combination[k];
  for (const FieldPair& pair : kAncestorPairs) {
    prefetch_pair(run.t.combination, run.t.capacity.classes, record.*pair.first,
                  record.*pair.second);
  }
  for (int n = 0; n < 8; ++n) {
    add_reference(run, record, kAncestorPairs[n],
                  n < kParentalPositions ? kParentalReference : kGrandParentalReference);
  }
}

namespace {

// Marking, tagging, pruning and numbering, with their console lines.
void mark_tag_prune_and_number(Run& run) {
  RunTables& t = run.t;
  Combination* table = t.combination;
  const int32_t rows = t.capacity.classes;
  for (int32_t k = 1; k <= rows; ++k) {
    if (table[k].status != kNoPair) {
      table[k].status = table[k].number != 0 ? kPairRecorded : kPairAncestorOnly;
    }
  }
  for (int32_t k = 1; k <= rows; ++k) {
    if (table[k].status != kNoPair) tag_ancestor_pairs(run, k);
  }
  int32_t eliminated = 0;
  int32_t candidates = 0;
  for (int32_t k = 1; k <= rows; ++k) {
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
  for (int32_t k = 1; k <= rows; ++k) {
    if (table[k].status != kNoPair && has_grandparents(table[k])) {
      table[k].number = ++t.classes_with_parents;
    }
  }
  t.classes_without_parents = 0;
  for (int32_t k = 1; k <= rows; ++k) {
    if (table[k].status != kNoPair && !has_grandparents(table[k])) {
      table[k].number = t.classes_with_parents + ++t.classes_without_parents;
    }
  }
  run.io.write_list(kConsoleOut, {"created ", t.classes_with_parents, " dominance pedigrees"});
  run.io.write_list(kConsoleOut, {t.classes_without_parents, " classes have no parent classes"});
}

// Whether every search that the class files and the recoded data file will
// make ends before the probe limit: the ancestor pairs of every class with
// parent classes, and the pair (0, 0) of a data animal without pedigree.
bool later_searches_fit(Run& run) {
  RunTables& t = run.t;
  const Combination* table = t.combination;
  try {
    for (int32_t k = 1; k <= t.capacity.classes; ++k) {
      if (table[k].status == kNoPair || !has_grandparents(table[k])) continue;
      for (const FieldPair& pair : kAncestorPairs) {
        int32_t key[2] = {table[k].*pair.first, table[k].*pair.second};
        order_pair(key[0], key[1]);
        if (key[0] == 0 || key[1] == 0) continue;
        find_row(run.io, key, t.combination, t.capacity.classes, HashMode::Look,
                 t.combination_count, OnFull::Grow);
      }
    }
    if (t.records_without_pedigree > 0) {
      const int32_t none[2] = {0, 0};
      find_row(run.io, none, t.combination, t.capacity.classes, HashMode::Look,
               t.combination_count, OnFull::Grow);
    }
  } catch (const ClassTableFull&) {
    return false;
  }
  return true;
}

}  // namespace

void number_classes(Run& run) {
  mark_tag_prune_and_number(run);
  if (!run.t.capacity.auto_classes) return;
  // The numbering's lines do not depend on the table's rows: a larger table
  // is numbered again without them.
  while (!later_searches_fit(run)) {
    grow_class_table(run, run.t.passes_done);
    run.io.mute_console(true);
    mark_tag_prune_and_number(run);
    run.io.mute_console(false);
  }
}

}  // namespace parclas
