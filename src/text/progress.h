// How far the running stage has come, and the one progress line that shows
// it on a terminal. The share is only ever shown on the error stream of a
// terminal: it changes no byte of the console output or of any file.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace parclas {

// The share done of the running stage: `done` of `total` (bytes read of the
// file being read, or rows visited of a table). Stages set it as they go.
// A thread that works ahead for a later stage sets `quiet`: the share shown
// is that of the running stage only.
struct StageProgress {
  std::atomic<int64_t> done{0};
  std::atomic<int64_t> total{0};
  static inline thread_local bool quiet = false;
  void set(int64_t d, int64_t t) {
    if (quiet) return;
    total.store(t, std::memory_order_relaxed);
    done.store(d, std::memory_order_relaxed);
  }
};
StageProgress& stage_progress();

// For a loop over rows 1..rows: the share, set every 65536 rows.
inline void note_rows(int64_t row, int64_t rows) {
  if ((row & 0xffff) == 0) stage_progress().set(row, rows);
}

// While it exists, and only when the error stream is a terminal: a stage
// that has run for more than about 2 seconds shows one line there, its name
// and the share done, erased when the stage ends.
class ProgressLine {
 public:
  explicit ProgressLine(bool terminal);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  // A new stage begins (nullptr: the run's stages have ended).
  void stage(const char* name);

  struct Shown;

 private:
  std::unique_ptr<Shown> shown_;
};

// Erases the progress line, if one shows, before a message goes to the
// error stream.
void erase_progress_line();

}  // namespace parclas
