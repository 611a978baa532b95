#include "classes/classes.h"
#include "classes/combination_table.h"
#include "run/run.h"

namespace parclas {

namespace {
const Format kEliminated("(' eliminated',I8,' combinations; left ',I8)");
const Format kPerhaps("(' perhaps could eliminate',I8,' more')");

// Adds the weight of each reference to the status of the row it names.
void add_references(Run& run, const PairTable& table, const References& refs) {
  for (int i = 0; i < refs.count; ++i) {
    const int32_t row = find_row_from(run.io, refs.key[i], refs.slot[i], table, HashMode::Look,
                                      run.t.combination_count);
    if (row != 0) {
      table.rows[row].status +=
          refs.position[i] < kParentalPositions ? kParentalReference : kGrandParentalReference;
    }
  }
}
}  // namespace

void tag_ancestor_pairs(Run& run, int32_t k) {
  const PairTable table = pair_table(run.t);
  References refs;
  collect_references(table, table.rows[k], refs);
  add_references(run, table, refs);
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
  // Tagging only adds to the status of stored rows (a row with no
  // grandparents refers to nothing), so the rows it visits are known ahead.
  const PairTable pairs = pair_table(t);
  for_each_class_with_parents(pairs, [&](int32_t, const References& refs) {
    add_references(run, pairs, refs);
  });
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
        eliminate_row(pairs, k);
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
  const PairTable pairs = pair_table(t);
  try {
    for_each_class_with_parents(pairs, [&](int32_t, const References& refs) {
      for (int i = 0; i < refs.count; ++i) {
        find_row_from(run.io, refs.key[i], refs.slot[i], pairs, HashMode::Look,
                      t.combination_count, OnFull::Grow);
      }
    });
    if (t.records_without_pedigree > 0) {
      const int32_t none[2] = {0, 0};
      find_row(run.io, none, pair_table(t), HashMode::Look, t.combination_count, OnFull::Grow);
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
