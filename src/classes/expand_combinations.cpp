#include <algorithm>
#include <bit>
#include <array>
#include <vector>

#include "classes/classes.h"
#include "classes/combination_table.h"
#include "classes/pair_set.h"
#include "run/run.h"
#include "run/table_memory.h"
#include "text/progress.h"

namespace parclas {

namespace {
const Format kInTotal("(' In total',I8,' combinations')");

OnFull on_full(const RunTables& t) { return t.capacity.auto_classes ? OnFull::Grow : OnFull::Stop; }

// Filled rows whose eight searches are asked for ahead of their turn, so
// that the memory of several searches is on its way at once.
constexpr int kRowsAhead = 8;

// A filled row with the first slots of its eight ancestor-pair searches.
struct QueuedRow {
  int32_t row;
  std::array<uint32_t, 8> slot;
};

// The eight ancestor pairs of the filled record in row k, each searched from
// its first slot; the record is then marked expanded.
void add_ancestors_from(Run& run, const PairTable& table, int32_t k,
                        const std::array<uint32_t, 8>& slot) {
  RunTables& t = run.t;
  const Combination record = table.rows[k];
  for (int n = 0; n < 8; ++n) {
    int32_t key[2] = {record.*kAncestorPairs[n].first, record.*kAncestorPairs[n].second};
    order_pair(key[0], key[1]);
    if (key[0] == 0 || key[1] == 0) continue;
    const int32_t before = t.combination_count;
    const int32_t row = find_row_from(run.io, key, slot[static_cast<size_t>(n)], table,
                                      HashMode::Insert, t.combination_count, on_full(t));
    if (t.combination_count != before) {
      table.rows[row].status = key[0] == key[1] ? kPairExpanded : kPairNew;
    }
  }
  table.rows[k].status = kPairExpanded;
}

std::array<uint32_t, 8> first_slots(const PairTable& table, const Combination& record) {
  std::array<uint32_t, 8> slot{};
  for (int n = 0; n < 8; ++n) {
    const int32_t a = record.*kAncestorPairs[n].first;
    const int32_t b = record.*kAncestorPairs[n].second;
    if (a == 0 || b == 0) continue;
    slot[static_cast<size_t>(n)] = first_slot(table, a, b);
    prefetch_slot(table, slot[static_cast<size_t>(n)]);
    // A new pair mostly lands on its first row, which the insertion writes.
    __builtin_prefetch(&table.rows[table.index->row_at(slot[static_cast<size_t>(n)])], 1);
  }
  return slot;
}

// How many pairs the table holds after the next pass. That does not depend
// on the table's rows: the stored pairs and the ancestor pairs of the pairs
// the pass fills. A table with fewer rows cannot hold them; returns 0 when
// the table surely can (its rows are at least the stored pairs and eight per
// pair to fill).
int64_t pairs_after_pass(const RunTables& t) {
  const Combination* const c = t.combination;
  const int32_t rows = t.capacity.classes;
  int64_t to_fill = 0;
  for (int32_t k = 1; k <= rows; ++k) to_fill += c[k].status == kPairNew ? 1 : 0;
  if (t.combination_count + 8 * to_fill <= rows) return 0;
  // The keys go into a set as they are made, the set's slots of a batch of
  // keys asked for ahead of their insertion, and the parents of the rows a
  // little further ahead asked for before the batch is made.
  PairSet set(static_cast<size_t>(t.combination_count));
  constexpr int32_t kAhead = 32;
  constexpr size_t kBatch = 9 * 16;
  uint64_t batch[kBatch + 9];
  size_t queued = 0;
  auto flush = [&] {
    for (size_t i = 0; i < queued; ++i) set.prefetch(batch[i]);
    for (size_t i = 0; i < queued; ++i) set.insert(batch[i]);
    queued = 0;
  };
  for (int32_t k = 1; k <= rows; ++k) {
    if (k + kAhead <= rows && c[k + kAhead].status == kPairNew) {
      __builtin_prefetch(&t.pedigree[c[k + kAhead].member1]);
      __builtin_prefetch(&t.pedigree[c[k + kAhead].member2]);
    }
    if (c[k].status == kNoPair) continue;
    batch[queued++] = PairIndex::key_of(c[k].member1, c[k].member2);
    if (c[k].status == kPairNew) {
      Combination filled = c[k];
      filled.m1sire = t.pedigree[filled.member1].sire;
      filled.m1dam = t.pedigree[filled.member1].dam;
      filled.m2sire = t.pedigree[filled.member2].sire;
      filled.m2dam = t.pedigree[filled.member2].dam;
      for (const FieldPair& pair : kAncestorPairs) {
        int32_t a = filled.*pair.first;
        int32_t b = filled.*pair.second;
        order_pair(a, b);
        if (a != 0 && b != 0) batch[queued++] = PairIndex::key_of(a, b);
      }
    }
    if (queued >= kBatch) flush();
  }
  flush();
  return static_cast<int64_t>(set.size());
}

}  // namespace

bool add_data_pair(Run& run, int32_t& sire, int32_t& dam) {
  RunTables& t = run.t;
  while (true) {
    try {
      const AddResult added =
          add_pair(run.io, sire, dam, pair_table(t), t.combination_count, on_full(t));
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

void grow_class_table(Run& run, int32_t passes, int64_t at_least) {
  RunTables& t = run.t;
  if (t.capacity.classes > kMostClassRows / 2) stop_table_full(run.io, t.capacity.classes);
  t.capacity.classes *= 2;
  build_class_table(run, passes, at_least);
}

void build_class_table(Run& run, int32_t passes, int64_t at_least) {
  RunTables& t = run.t;
  while (true) {
    if (t.capacity.classes >= at_least) {  // fewer rows than pairs would surely fail
      t.size_combination(t.capacity.classes);
      t.combination_count = 0;
      const PairTable table = pair_table(t);
      try {
        for (DataPair pair : t.data_pairs) {
          const AddResult added =
              add_pair(run.io, pair.sire, pair.dam, table, t.combination_count, OnFull::Grow);
          t.combination[added.row].status = kPairNew;
          t.combination[added.row].number = t.combination_count;
        }
        for (int32_t pass = 1; pass <= passes; ++pass) expansion_pass(run);
        return;
      } catch (const ClassTableFull&) {
        // still too small: twice as many rows again
      }
    }
    if (t.capacity.classes > kMostClassRows / 2) stop_table_full(run.io, t.capacity.classes);
    t.capacity.classes *= 2;
  }
}

void add_ancestor_pairs(Run& run, int32_t k) {
  const PairTable table = pair_table(run.t);
  add_ancestors_from(run, table, k, first_slots(table, table.rows[k]));
}

void expansion_pass(Run& run) {
  RunTables& t = run.t;
  const PairTable table = pair_table(t);
  const int32_t rows = t.capacity.classes;
  Combination* const c = table.rows;
  constexpr int32_t kFillAhead = 16;
  for (int32_t k = 1; k <= rows; ++k) {
    note_rows(k, 2 * int64_t{rows});
    if (k + kFillAhead <= rows && c[k + kFillAhead].status == kPairNew) {
      __builtin_prefetch(&t.pedigree[c[k + kFillAhead].member1]);
      __builtin_prefetch(&t.pedigree[c[k + kFillAhead].member2]);
    }
    if (c[k].status != kPairNew) continue;
    const PedigreeRow& m1 = t.pedigree[c[k].member1];
    const PedigreeRow& m2 = t.pedigree[c[k].member2];
    c[k].m1sire = m1.sire;
    c[k].m1dam = m1.dam;
    c[k].m2sire = m2.sire;
    c[k].m2dam = m2.dam;
    c[k].status = kPairFilled;
  }
  // Rows are expanded in row order. No row becomes filled while this runs
  // (new pairs are new or expanded), so the filled rows ahead can be found,
  // and their searches asked for, before their turn.
  std::array<QueuedRow, kRowsAhead> queue;
  int head = 0;
  int queued = 0;
  int32_t next = 1;
  while (true) {
    while (queued < kRowsAhead && next <= rows) {
      note_rows(rows + int64_t{next}, 2 * int64_t{rows});
      if (c[next].status == kPairFilled) {
        queue[static_cast<size_t>((head + queued) % kRowsAhead)] = {next, first_slots(table, c[next])};
        ++queued;
      }
      ++next;
    }
    if (queued == 0) break;
    const QueuedRow& q = queue[static_cast<size_t>(head)];
    add_ancestors_from(run, table, q.row, q.slot);
    head = (head + 1) % kRowsAhead;
    --queued;
  }
}

void count_first_pass_pairs(Run& run) {
  RunTables& t = run.t;
  if (t.capacity.auto_classes && t.maximum_passes >= 1) t.first_pass_pairs = pairs_after_pass(t);
}

void expand_combinations(Run& run) {
  RunTables& t = run.t;
  for (int32_t pass = 1; pass <= t.maximum_passes; ++pass) {
    const int32_t before = t.combination_count;
    if (t.capacity.auto_classes) {
      // The sizes too small to hold the pass's pairs are passed over: a run
      // with that many rows would find them too small, in this pass or before.
      const int64_t pairs = pass == 1 && t.first_pass_pairs >= 0 ? t.first_pass_pairs : pairs_after_pass(t);
      if (pairs > t.capacity.classes) grow_class_table(run, pass - 1, pairs);
    }
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
