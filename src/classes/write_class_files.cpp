#include "classes/classes.h"
#include "classes/combination_table.h"
#include "run/run.h"
#include "text/fields.h"

namespace parclas {

namespace {
const Format kIdLine("(I8,1X,A,1X,A)");
constexpr int kPedigreeItems = 10;
}  // namespace

void write_class_files(Run& run) {
  RunTables& t = run.t;
  TextIO& io = run.io;
  Combination* table = t.combination;
  char line[kPedigreeItems * kSplicedWidth];
  int32_t item[kPedigreeItems];
  for (int32_t k = 1; k <= t.capacity.classes; ++k) {
    const Combination& c = table[k];
    if (c.status == kNoPair) continue;
    io.write_formatted(kClassIdUnit, kIdLine,
                       {c.number, text_of(t.identifier[c.member1]), text_of(t.identifier[c.member2])});
    if (!has_grandparents(c)) continue;
    for (const FieldPair& pair : kAncestorPairs) {
      prefetch_pair(table, t.capacity.classes, c.*pair.first, c.*pair.second);
    }
    item[0] = c.number;
    int32_t mask = 0;
    for (int n = 0; n < 8; ++n) {
      int32_t a = c.*kAncestorPairs[n].first;
      int32_t b = c.*kAncestorPairs[n].second;
      item[n + 1] = 0;
      if (a == 0 || b == 0) continue;
      const int32_t row = find_pair(io, a, b, table, t.capacity.classes, t.combination_count);
      if (row != 0) {
        item[n + 1] = table[row].number;
        mask |= 1 << n;
      }
    }
    item[9] = mask;
    const int p = splice_integers(line, item);
    io.write_line(kClassPedigreeUnit, std::string_view(line, static_cast<size_t>(p)));
  }
}

}  // namespace parclas
