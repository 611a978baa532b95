#include "classes/classes.h"
#include "classes/combination_table.h"
#include <atomic>

#include "run/run.h"
#include "text/line_blocks.h"

namespace parclas {

namespace {
const Format kEliminated("(' eliminated',I8,' combinations; left ',I8)");
const Format kPerhaps("(' perhaps could eliminate',I8,' more')");

// Adds the weight of each reference to the status of the row it names; the
// sums do not depend on the order of the additions, so blocks of rows may be
// tagged side by side. Returns false where a search met the probe limit.
bool add_references(const PairTable& table, const References& refs, const int32_t* found) {
  for (int i = 0; i < refs.count; ++i) {
    if (found[i] == kSearchFull) return false;
    if (found[i] != 0) {
      std::atomic_ref<int32_t>(table.rows[found[i]].status)
          .fetch_add(refs.position[i] < kParentalPositions ? kParentalReference
                                                           : kGrandParentalReference,
                     std::memory_order_relaxed);
    }
  }
  return true;
}

int32_t status_of(const Combination& c) {
  return std::atomic_ref<int32_t>(const_cast<int32_t&>(c.status)).load(std::memory_order_relaxed);
}
}  // namespace

void tag_ancestor_pairs(Run& run, int32_t k) {
  const PairTable table = pair_table(run.t);
  References refs;
  collect_references(table, table.rows[k], refs);
  int32_t found[8];
  for (int i = 0; i < refs.count; ++i) {
    found[i] = find_row_from(run.io, refs.key[i], refs.slot[i], table, HashMode::Look,
                             run.t.combination_count);
  }
  if (!add_references(table, refs, found)) stop_table_full(run.io, table.row_count);
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
  const PairTable pairs = pair_table(t);
  // Tagging only adds to the status of stored rows (a row with no
  // grandparents refers to nothing), and the additions may come in any order:
  // blocks of rows are tagged on the run's threads. No search can meet the
  // probe limit (every pair searched is stored), but one that did stops the
  // run as it would have.
  const int32_t count = t.combination_count;
  make_and_write_blocks(
      t.threads, row_blocks(rows),
      [&](int64_t b, LineBlock& block) {
        int32_t no_count = count;
        for_each_row_found(
            run.io, pairs, no_count, block_first_row(b), block_last_row(b, rows),
            [](const Combination& c) { return status_of(c) != kNoPair && has_grandparents(c); },
            [](const Combination&) {},
            [&](int32_t, const References& refs, const int32_t* found) {
              if (block.stop == 0 && !add_references(pairs, refs, found)) block.stop = 1;
            });
      },
      [&](int64_t, const LineBlock& block) {
        if (block.stop != 0) stop_table_full(run.io, rows);
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
// make ends before the probe limit. They search the ancestor pairs of the
// classes with parent classes and the data pairs, all stored: a pair still
// stored is found where its insertion found it, within the limit. Only a
// search that finds nothing can meet it, one for an eliminated pair (each is
// the ancestor of one class) or for the pair (0, 0) of a data animal without
// pedigree, and such a search goes on to the first empty slot.
bool later_searches_fit(Run& run) {
  RunTables& t = run.t;
  const PairIndex& index = t.pair_index;
  const uint64_t* const keys = index.keys.data();
  const uint32_t rows = index.rows;
  const bool zero_pair_searched = t.records_without_pedigree > 0;
  // Slots examined from `first` up to and including the empty one.
  auto fits = [&](uint32_t first, uint32_t empty) {
    return (empty + rows - first) % rows < static_cast<uint32_t>(kProbeLimit);
  };
  uint32_t empty = rows;
  for (uint32_t i = 0; i < rows && empty == rows; ++i) {
    if (keys[i] == 0) empty = i;
  }
  if (empty == rows) {  // no empty slot: every search that finds nothing fails
    if (zero_pair_searched) return false;
    for (uint32_t i = 0; i < rows; ++i) {
      if (is_eliminated(keys[i])) return false;
    }
    return true;
  }
  const PairTable table = pair_table(t);
  // Backwards round the index from an empty slot: `next_empty` is the first
  // empty slot at or after slot i.
  uint32_t next_empty = empty;
  for (uint32_t step = 1; step < rows; ++step) {
    const uint32_t i = (empty + rows - step) % rows;
    const uint64_t k = keys[i];
    if (k == 0) {
      next_empty = i;
    } else if (is_eliminated(k)) {
      const auto member1 = static_cast<int32_t>(static_cast<uint32_t>(k) & ~uint32_t{1u << 31});
      const auto member2 = static_cast<int32_t>(k >> 32);
      if (!fits(first_slot(table, member1, member2), next_empty)) return false;
    }
  }
  // `empty` is the first empty slot from slot 0 on.
  return !zero_pair_searched || fits(first_slot(table, 0, 0), empty);
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
