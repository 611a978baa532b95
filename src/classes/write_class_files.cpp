#include <cstring>

#include "classes/classes.h"
#include "classes/combination_table.h"
#include "run/run.h"
#include "text/fields.h"
#include "text/line_blocks.h"

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
  const int32_t rows = t.capacity.classes;
  int32_t no_count = t.combination_count;  // the searches only look
  // Blocks of rows are made on the run's threads and written in row order:
  // the identifier line of each class, then its pedigree line.
  auto make = [&](int64_t b, LineBlock& block) {
    char line[kPedigreeItems * kSplicedWidth];
    int32_t item[kPedigreeItems];
    char id_line[kIdLineWidth];
    id_line[kNumberWidth] = ' ';
    id_line[kNumberWidth + 1 + kIdWidth] = ' ';
    int32_t count = no_count;
    for_each_row_found(
        io, table, count, block_first_row(b), block_last_row(b, rows),
        [](const Combination& c) { return c.status != kNoPair; },
        [&](const Combination& c) {
          __builtin_prefetch(&t.identifier[c.member1]);
          __builtin_prefetch(&t.identifier[c.member2]);
        },
        [&](int32_t k, const References& refs, const int32_t* found) {
          if (block.stop != 0) return;
          const Combination& c = table.rows[k];
          put_integer_field(id_line, c.number, kNumberWidth);
          std::memcpy(id_line + kNumberWidth + 1, t.identifier[c.member1].data(), kIdWidth);
          std::memcpy(id_line + kNumberWidth + 2 + kIdWidth, t.identifier[c.member2].data(),
                      kIdWidth);
          block.add(kClassIdUnit, std::string_view(id_line, kIdLineWidth));
          if (!has_grandparents(c)) return;
          item[0] = c.number;
          int32_t mask = 0;
          for (int n = 1; n <= 8; ++n) item[n] = 0;
          for (int i = 0; i < refs.count; ++i) {
            if (found[i] == kSearchFull) {
              block.stop = 1;  // the search meets the probe limit: the run stops there
              return;
            }
            if (found[i] != 0) {
              item[refs.position[i] + 1] = table.rows[found[i]].number;
              mask |= 1 << refs.position[i];
            }
          }
          item[9] = mask;
          const int p = splice_integers(line, item);
          block.add(kClassPedigreeUnit, std::string_view(line, static_cast<size_t>(p)));
        });
  };
  make_and_write_blocks(t.threads, row_blocks(rows), make, [&](int64_t, const LineBlock& block) {
    block.write([&](int unit, std::string_view line) { io.write_line(unit, line); });
    if (block.stop != 0) stop_table_full(io, rows);
  });
}

}  // namespace parclas
