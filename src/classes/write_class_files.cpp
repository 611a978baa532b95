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
  const PairTable table = pair_table(t);
  char line[kPedigreeItems * kSplicedWidth];
  int32_t item[kPedigreeItems];
  // A row without grandparents collects no references: the look-ahead then
  // asks for nothing.
  for_each_row_ahead(
      table, [](const Combination& c) { return c.status != kNoPair; },
      [&](int32_t k, const References& refs) {
        const Combination& c = table.rows[k];
        io.write_formatted(kClassIdUnit, kIdLine,
                           {c.number, text_of(t.identifier[c.member1]),
                            text_of(t.identifier[c.member2])});
        if (!has_grandparents(c)) return;
        item[0] = c.number;
        int32_t mask = 0;
        for (int n = 1; n <= 8; ++n) item[n] = 0;
        for (int i = 0; i < refs.count; ++i) {
          const int32_t row = find_row_from(io, refs.key[i], refs.slot[i], table, HashMode::Look,
                                            t.combination_count);
          if (row != 0) {
            item[refs.position[i] + 1] = table.rows[row].number;
            mask |= 1 << refs.position[i];
          }
        }
        item[9] = mask;
        const int p = splice_integers(line, item);
        io.write_line(kClassPedigreeUnit, std::string_view(line, static_cast<size_t>(p)));
      });
}

}  // namespace parclas
