#include "text/progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace parclas {

StageProgress& stage_progress() {
  static StageProgress progress;
  return progress;
}

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kQuiet = std::chrono::seconds(2);  // a stage shorter than this shows nothing
constexpr auto kEvery = std::chrono::milliseconds(250);

void to_terminal(const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n <= 0) return;  // the line is a courtesy: a failed write is not an error
    p += n;
    left -= static_cast<size_t>(n);
  }
}
}  // namespace

struct ProgressLine::Shown {
  std::mutex mutex;
  std::condition_variable wake;
  const char* name = nullptr;
  Clock::time_point began;
  bool visible = false;
  bool ending = false;
  std::thread thread;

  void erase() {
    if (visible) to_terminal("\r\x1b[K");
    visible = false;
  }

  void run() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!ending) {
      wake.wait_for(lock, kEvery);
      if (ending || name == nullptr || Clock::now() - began < kQuiet) continue;
      const StageProgress& p = stage_progress();
      const int64_t total = p.total.load(std::memory_order_relaxed);
      const int64_t done = p.done.load(std::memory_order_relaxed);
      std::string line = "\r  " + std::string(name);
      if (total > 0) {
        char share[16];
        std::snprintf(share, sizeof share, " %3d%%",
                      static_cast<int>(100 * std::min(done, total) / total));
        line += share;
      }
      line += "\x1b[K";
      to_terminal(line);
      visible = true;
    }
    erase();
  }
};

namespace {
std::atomic<ProgressLine::Shown*> active{nullptr};
}

ProgressLine::ProgressLine(bool terminal) {
  if (!terminal) return;
  shown_ = std::make_unique<Shown>();
  shown_->thread = std::thread([s = shown_.get()] { s->run(); });
  active.store(shown_.get());
}

ProgressLine::~ProgressLine() {
  if (shown_ == nullptr) return;
  active.store(nullptr);
  {
    std::lock_guard<std::mutex> lock(shown_->mutex);
    shown_->ending = true;
  }
  shown_->wake.notify_all();
  shown_->thread.join();
}

void erase_progress_line() {
  ProgressLine::Shown* shown = active.load();
  if (shown == nullptr) return;
  std::lock_guard<std::mutex> lock(shown->mutex);
  shown->erase();
  shown->name = nullptr;  // nothing more of this stage
}

void ProgressLine::stage(const char* name) {
  stage_progress().set(0, 0);
  if (shown_ == nullptr) return;
  std::lock_guard<std::mutex> lock(shown_->mutex);
  shown_->erase();
  shown_->name = name;
  shown_->began = Clock::now();
}

}  // namespace parclas
