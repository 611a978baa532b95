// The findings of a preparation: report lines, warnings, and each check
// with its count and the lines or identifiers concerned; written whole to
// report.txt and summarized on the console.
#pragma once

#include <cstdint>
#include <deque>
#include <iosfwd>
#include <string>
#include <vector>

namespace parclas::prep {

enum class Severity { Note, Warning, Error };

struct Check {
  std::string title;
  Severity severity = Severity::Note;
  uint64_t count = 0;
  std::vector<std::string> items;  // at most Report::kListed
  size_t shown = 0;                // items on the console
};

class Report {
 public:
  static constexpr size_t kListed = 1000;   // items kept for report.txt
  static constexpr size_t kOnConsole = 10;  // items of a warning or error on the console

  // A check that is always reported, with count 0 when nothing was found.
  Check& check(const std::string& title, Severity severity);
  void add(Check& c, std::string item) {
    ++c.count;
    if (c.items.size() < kListed) c.items.push_back(std::move(item));
  }
  void line(std::string text) { lines_.push_back(std::move(text)); }
  void warn(const std::string& text) { lines_.push_back("warning: " + text); }
  // A line after the checks, last in the report and on the console.
  void closing(std::string text) { closing_.push_back(std::move(text)); }
  void drop_closing() { closing_.clear(); }
  bool has_errors() const;

  std::string text() const;  // report.txt
  // The console summary: every line, and each check that found something,
  // with the first items of warnings and errors.
  void summarize(std::ostream& out) const;
  // One line per error found, for the error stream of a stop.
  void stop_reasons(std::ostream& err) const;

 private:
  std::vector<std::string> lines_;
  std::vector<std::string> closing_;
  std::deque<Check> checks_;  // a deque: the references handed out stay valid
};

// "a, b, c" of the first `most` items, then ", ..." when there are more.
std::string first_of(const std::vector<std::string>& items, uint64_t count, size_t most);

}  // namespace parclas::prep
