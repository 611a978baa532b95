#include <cstring>

#include "classes/classes.h"
#include "classes/combination_table.h"
#include "run/run.h"
#include "text/fields.h"

namespace parclas {

namespace {
// The class identifier line: the class number in 8 columns, a blank, the
// identifier of each member (16 characters) after a blank.
constexpr int kNumberWidth = 8;
constexpr size_t kIdLineWidth = kNumberWidth + 2 * (1 + kIdWidth);
constexpr int kPedigreeItems = 10;
}  // namespace

void write_class_files(Run& run) {
  RunTables& t = run.t;
  TextIO& io = run.io;
  const PairTable table = pair_table(t);
  char line[kPedigreeItems * kSplicedWidth];
  int32_t item[kPedigreeItems];
  char id_line[kIdLineWidth];
  id_line[kNumberWidth] = ' ';
  id_line[kNumberWidth + 1 + kIdWidth] = ' ';
  // A row without grandparents collects no references: the look-ahead then
  // asks for nothing.
  for_each_row_found(
      io, table, t.combination_count, [](const Combination& c) { return c.status != kNoPair; },
      [&](const Combination& c) {
        __builtin_prefetch(&t.identifier[c.member1]);
        __builtin_prefetch(&t.identifier[c.member2]);
      },
      [&](int32_t k, const References& refs, const int32_t* found) {
        const Combination& c = table.rows[k];
        put_integer_field(id_line, c.number, kNumberWidth);
        std::memcpy(id_line + kNumberWidth + 1, t.identifier[c.member1].data(), kIdWidth);
        std::memcpy(id_line + kNumberWidth + 2 + kIdWidth, t.identifier[c.member2].data(), kIdWidth);
        io.write_line(kClassIdUnit, std::string_view(id_line, kIdLineWidth));
        if (!has_grandparents(c)) return;
        item[0] = c.number;
        int32_t mask = 0;
        for (int n = 1; n <= 8; ++n) item[n] = 0;
        for (int i = 0; i < refs.count; ++i) {
          if (found[i] == kSearchFull) stop_table_full(io, table.row_count);
          const int32_t row = found[i];
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
