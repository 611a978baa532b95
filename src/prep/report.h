// The findings of a preparation: each check with its count and the
// identifiers concerned, written to report.txt and summarized on the console.
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
  std::vector<std::string> items;  // at most kListed
};

class Report {
 public:
  static constexpr size_t kListed = 1000;

  // A check that is always reported, with count 0 when nothing was found.
  Check& check(const std::string& title, Severity severity);
  void add(Check& c, std::string item) {
    ++c.count;
    if (c.items.size() < kListed) c.items.push_back(std::move(item));
  }
  void line(std::string text) { lines_.push_back(std::move(text)); }
  bool has_errors() const;

  std::string text() const;                    // report.txt
  void summarize(std::ostream& out, size_t items_shown) const;  // the console summary

 private:
  std::vector<std::string> lines_;
  std::deque<Check> checks_;  // a deque: the references handed out stay valid
};

}  // namespace parclas::prep
