#include "classes/combination_table.h"
#include "recode/data_file.h"
#include "recode/records.h"
#include "run/run.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "text/fields.h"
#include "text/line_blocks.h"

namespace parclas {

namespace {

// What the look-up of a record found: the class number, or why there is
// none (no pair in the table, or a search that met the probe limit).
constexpr int32_t kNoClass = -1;
constexpr int32_t kTableFull = -2;

struct Recoding {
  Run& run;
  int32_t combination_classes;
  size_t length;
  size_t column;

  // The class of the record's animal; the search of its pair ends at the
  // probe limit without a stop, so that the records before it are written
  // first.
  int32_t class_of(int32_t animal) const {
    RunTables& t = run.t;
    const bool known = animal >= 1 && animal <= t.capacity.animals;
    if (known && t.animal_status[animal] > 0) return combination_classes + t.animal_status[animal];
    int32_t unknown[2] = {0, 0};
    int32_t& first = known ? t.pedigree[animal].sire : unknown[0];
    int32_t& second = known ? t.pedigree[animal].dam : unknown[1];
    order_pair(first, second);
    const int32_t key[2] = {first, second};
    int32_t no_count = t.combination_count;  // a look-up counts nothing
    try {
      const int32_t row =
          find_row(run.io, key, pair_table(t), HashMode::Look, no_count, OnFull::Grow);
      if (row == 0) return kNoClass;
      __builtin_prefetch(&t.combination[row].number);
      return -3 - row;  // the row, read when the line is made
    } catch (const ClassTableFull&) {
      return kTableFull;
    }
  }

  // The records of `records` (each with room for two more integers) as
  // lines of `block`, up to the first whose class is missing (block.stop
  // then says why).
  void make_lines(int32_t* records, int count, LineBlock& block) const {
    RunTables& t = run.t;
    const size_t width = length + 2;
    int32_t found[kRecordBatch];
    char line[kFieldCapacity * kSplicedWidth];
    for (int begin = 0; begin < count; begin += kRecordBatch) {
      const int n = std::min(kRecordBatch, count - begin);
      int32_t* const batch = records + static_cast<size_t>(begin) * width;
      for (int i = 0; i < n; ++i) prefetch_animal(t, batch[static_cast<size_t>(i) * width + column]);
      const PairTable table = pair_table(t);
      for (int i = 0; i < n; ++i) {
        prefetch_animal_pair(t, table, batch[static_cast<size_t>(i) * width + column]);
      }
      for (int i = 0; i < n; ++i) found[i] = class_of(batch[static_cast<size_t>(i) * width + column]);
      for (int i = 0; i < n; ++i) {
        int32_t* const record = batch + static_cast<size_t>(i) * width;
        if (found[i] == kTableFull || found[i] == kNoClass) {
          block.stop = found[i];
          return;
        }
        const int32_t animal = record[column];
        const bool known = animal >= 1 && animal <= t.capacity.animals;
        record[length] = known ? t.pedigree[animal].inbreeding : 0;
        record[length + 1] = found[i] <= -3 ? t.combination[-3 - found[i]].number : found[i];
        const int p = splice_integers(line, std::span<const int32_t>(record, length + 2));
        block.add(kRecodedDataUnit, std::string_view(line, static_cast<size_t>(p)));
      }
    }
  }

  // Writes the lines of a block, then stops the run where its class was missing.
  void write(const LineBlock& block) const {
    block.write([&](int unit, std::string_view text) { run.io.write_line(unit, text); });
    if (block.stop == kTableFull) stop_table_full(run.io, run.t.capacity.classes);
    if (block.stop == kNoClass) {
      run.io.write_list(kConsoleOut, {"this should not happen:245"});
      run.io.plain_stop();
    }
  }
};

// Records read while the lines of the ones before are made.
constexpr int kRecordsPerChunk = 1 << 15;

struct Chunk {
  std::vector<int32_t> records;
  int count = 0;
  PlainRead ended = PlainRead::Record;  // why the chunk ended before it was full
  LineBlock lines;
};

}  // namespace

void write_recoded_data(Run& run) {
  TextIO& io = run.io;
  RunTables& t = run.t;
  io.rewind(kDataUnit);
  const size_t length = static_cast<size_t>(t.record_length);
  const size_t column = static_cast<size_t>(t.animal_column - 1);
  const size_t width = length + 2;  // with the two appended integers
  const Recoding recoding{run, t.classes_with_parents + t.classes_without_parents, length, column};
  int32_t* const buffer = &t.field_value[1];
  int32_t left = t.data_records;
  // Records of plain integers are read in chunks; while the main thread reads
  // one chunk, another makes the lines of the one before (searching its
  // classes); the lines are written in order. A record read by the full
  // rules is read, and written, when every record before it is written.
  Chunk chunks[2];
  for (Chunk& c : chunks) c.records.resize(width * kRecordsPerChunk);
  auto read_chunk = [&](Chunk& c) {
    c.count = 0;
    c.ended = PlainRead::Record;
    c.lines.clear();
    while (c.count < kRecordsPerChunk && c.count < left) {
      c.ended = io.read_plain_record(
          kDataUnit, std::span<int32_t>(c.records.data() + static_cast<size_t>(c.count) * width, length));
      if (c.ended != PlainRead::Record) break;
      ++c.count;
    }
    left -= c.count;
  };
  auto make = [&](Chunk& c) {
    try {
      recoding.make_lines(c.records.data(), c.count, c.lines);
    } catch (...) {
      c.lines.failure = std::current_exception();
    }
  };
  auto finish = [&](Chunk& c) {
    if (c.lines.failure) std::rethrow_exception(c.lines.failure);
    recoding.write(c.lines);
    if (c.count > 0) {
      std::memcpy(buffer, c.records.data() + static_cast<size_t>(c.count - 1) * width,
                  width * sizeof(int32_t));
    }
  };
  const bool side_by_side = t.threads > 1;
  int current = 0;
  read_chunk(chunks[current]);
  while (true) {
    Chunk& c = chunks[current];
    Chunk& next = chunks[1 - current];
    const bool more = c.ended == PlainRead::Record && left > 0;
    if (side_by_side && more) {
      // The next records are read while this chunk's lines are made; a read
      // the system refuses is reported by the read after this chunk's lines.
      std::thread maker([&] { make(c); });
      struct Join {
        std::thread& thread;
        ~Join() { thread.join(); }
      } join{maker};
      io.defer_read_failures(true);
      read_chunk(next);
      io.defer_read_failures(false);
    } else {
      make(c);
      if (more) read_chunk(next);
    }
    finish(c);
    if (!more) {
      if (left == 0) return;
      // The end of the file, or a record read by the full rules.
      io.require(io.read_integers(kDataUnit, std::span<int32_t>(buffer, length)), kDataUnit);
      --left;
      LineBlock one;
      recoding.make_lines(buffer, 1, one);
      recoding.write(one);
      if (left == 0) return;
      read_chunk(chunks[current]);
      continue;
    }
    current = 1 - current;
  }
}

}  // namespace parclas
