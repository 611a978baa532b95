// A file of records turned into lines of another file: records of plain
// integers read in chunks, and while this thread reads one chunk, a second
// makes the lines of the one before; the lines are written in order. The
// files receive exactly the lines, and the stops, of reading and writing one
// record after the other.
#pragma once

#include <cstdint>
#include <cstring>
#include <exception>
#include <span>
#include <thread>
#include <vector>

#include "text/line_blocks.h"
#include "text/text_io.h"

namespace parclas {

// Reads `records` records of `length` integers from `unit`, each stored with
// room for `width` integers, and hands them to make(records, count, block),
// which adds their lines to `block` (on the second thread when `two_threads`)
// and may end the block early; write(block) writes them on this thread and
// makes any stop the block holds. `buffer` (`width` integers) is the record
// buffer of list-directed input: it holds the last record read, and a record
// that is not plain integers is read into it by the full rules, when every
// record before it is written.
template <class Make, class Write>
void lines_from_records(TextIO& io, int unit, int32_t records, size_t length, size_t width,
                        int32_t* buffer, bool two_threads, Make&& make, Write&& write) {
  constexpr int kRecordsPerChunk = 1 << 15;
  struct Chunk {
    std::vector<int32_t> records;
    int count = 0;
    PlainRead ended = PlainRead::Record;  // why the chunk ended before it was full
    LineBlock lines;
  };
  int32_t left = records;
  Chunk chunks[2];
  for (Chunk& c : chunks) c.records.resize(width * kRecordsPerChunk);
  auto read_chunk = [&](Chunk& c) {
    c.count = 0;
    c.ended = PlainRead::Record;
    c.lines.clear();
    while (c.count < kRecordsPerChunk && c.count < left) {
      c.ended = io.read_plain_record(
          unit, std::span<int32_t>(c.records.data() + static_cast<size_t>(c.count) * width, length));
      if (c.ended != PlainRead::Record) break;
      ++c.count;
    }
    left -= c.count;
  };
  auto make_chunk = [&](Chunk& c) {
    try {
      make(c.records.data(), c.count, c.lines);
    } catch (...) {
      c.lines.failure = std::current_exception();
    }
  };
  auto finish = [&](Chunk& c) {
    if (c.lines.failure) std::rethrow_exception(c.lines.failure);
    write(c.lines);
    if (c.count > 0) {
      std::memcpy(buffer, c.records.data() + static_cast<size_t>(c.count - 1) * width,
                  width * sizeof(int32_t));
    }
  };
  if (left <= 0) return;
  int current = 0;
  read_chunk(chunks[current]);
  while (true) {
    Chunk& c = chunks[current];
    Chunk& next = chunks[1 - current];
    const bool more = c.ended == PlainRead::Record && left > 0;
    if (two_threads && more) {
      // The next records are read while this chunk's lines are made; a read
      // the system refuses is reported by the read after this chunk's lines.
      std::thread maker([&] { make_chunk(c); });
      struct Join {
        std::thread& thread;
        ~Join() { thread.join(); }
      } join{maker};
      io.defer_read_failures(true);
      read_chunk(next);
      io.defer_read_failures(false);
    } else {
      make_chunk(c);
      if (more) read_chunk(next);
    }
    finish(c);
    if (!more) {
      if (left == 0) return;
      // The end of the file, or a record read by the full rules.
      io.require(io.read_integers(unit, std::span<int32_t>(buffer, length)), unit);
      --left;
      LineBlock one;
      make(buffer, 1, one);
      write(one);
      if (left == 0) return;
      read_chunk(chunks[current]);
      continue;
    }
    current = 1 - current;
  }
}

}  // namespace parclas
