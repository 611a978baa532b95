// Lines made block by block, on several threads at once, and written in the
// order of the blocks: the files receive exactly the lines, and the stops, of
// making and writing every block in turn on one thread. Making a block only
// reads shared tables and fills its own LineBlock; writing (on the calling
// thread) does everything the run shows.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace parclas {

// The lines of one block, each with its unit, and where the block ends early.
struct LineBlock {
  std::string text;
  std::vector<uint32_t> ends;  // end of each line in `text`
  std::vector<int> units;      // the unit of each line
  int stop = 0;                // why the block ended early (0: it did not), after all its lines
  int32_t stop_value = 0;
  std::exception_ptr failure;  // what making it threw

  void clear() {
    text.clear();
    ends.clear();
    units.clear();
    stop = 0;
    stop_value = 0;
    failure = nullptr;
  }
  void add(int unit, std::string_view line) {
    text.append(line);
    ends.push_back(static_cast<uint32_t>(text.size()));
    units.push_back(unit);
  }
  template <class WriteLine>
  void write(WriteLine&& write_line) const {
    uint32_t start = 0;
    for (size_t i = 0; i < ends.size(); ++i) {
      write_line(units[i], std::string_view(text).substr(start, ends[i] - start));
      start = ends[i];
    }
  }
};

// Makes blocks 0..count-1 with make(b, block) on `threads` threads and hands
// each to write(b, block) on this thread in order. A block that threw is
// rethrown when its turn comes; no block after it is written.
template <class Make, class Write>
void make_and_write_blocks(int threads, int64_t count, Make&& make, Write&& write) {
  if (threads <= 1 || count <= 1) {
    LineBlock block;
    for (int64_t b = 0; b < count; ++b) {
      block.clear();
      make(b, block);
      write(b, block);
    }
    return;
  }
  // A ring of blocks: at most `window` made ahead of the one being written.
  const int64_t window = 4 * static_cast<int64_t>(threads);
  std::vector<LineBlock> ring(static_cast<size_t>(window));
  std::vector<char> ready(static_cast<size_t>(window), 0);
  std::mutex mutex;
  std::condition_variable changed;
  int64_t next_to_make = 0;
  int64_t written = 0;  // blocks before this one are written
  bool ending = false;
  auto worker = [&] {
    while (true) {
      int64_t b;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return ending || (next_to_make < count && next_to_make < written + window); });
        if (ending || next_to_make >= count) return;
        b = next_to_make++;
      }
      LineBlock& block = ring[static_cast<size_t>(b % window)];
      block.clear();
      try {
        make(b, block);
      } catch (...) {
        block.failure = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        ready[static_cast<size_t>(b % window)] = 1;
      }
      changed.notify_all();
    }
  };
  std::vector<std::thread> workers;
  auto finish = [&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ending = true;
    }
    changed.notify_all();
    for (std::thread& w : workers) w.join();
  };
  for (int k = 0; k < threads; ++k) workers.emplace_back(worker);
  try {
    for (int64_t b = 0; b < count; ++b) {
      const size_t at = static_cast<size_t>(b % window);
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return ready[at] != 0; });
      }
      if (ring[at].failure) std::rethrow_exception(ring[at].failure);
      write(b, ring[at]);
      {
        std::lock_guard<std::mutex> lock(mutex);
        ready[at] = 0;
        written = b + 1;
      }
      changed.notify_all();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

}  // namespace parclas
