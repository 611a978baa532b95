#include "prep/report.h"

#include <algorithm>
#include <ostream>

namespace parclas::prep {
namespace {

std::string heading(const Check& c) {
  std::string h = c.title + ": " + std::to_string(c.count);
  if (c.count > 0 && c.severity == Severity::Error) h += " (error)";
  if (c.count > 0 && c.severity == Severity::Warning) h += " (warning)";
  return h;
}

}  // namespace

Check& Report::check(const std::string& title, Severity severity) {
  checks_.push_back(Check{title, severity, 0, {}, severity == Severity::Note ? 0 : kOnConsole});
  return checks_.back();
}

bool Report::has_errors() const {
  for (const auto& c : checks_) {
    if (c.severity == Severity::Error && c.count > 0) return true;
  }
  return false;
}

std::string Report::text() const {
  std::string t;
  for (const auto& l : lines_) t += l + "\n";
  t += "\n";
  for (const auto& c : checks_) {
    t += heading(c) + "\n";
    for (const auto& item : c.items) t += "  " + item + "\n";
    if (c.count > c.items.size()) t += "  ... and " + std::to_string(c.count - c.items.size()) + " more\n";
  }
  for (const auto& l : closing_) t += l + "\n";
  return t;
}

void Report::summarize(std::ostream& out) const {
  for (const auto& l : lines_) out << l << '\n';
  for (const auto& c : checks_) {
    if (c.count == 0) continue;
    out << heading(c) << '\n';
    if (c.shown == 0) continue;
    size_t shown = 0;
    for (; shown < c.items.size() && shown < c.shown; ++shown) out << "  " << c.items[shown] << '\n';
    if (c.count > shown) out << "  ... and " << (c.count - shown) << " more\n";
  }
  for (const auto& l : closing_) out << l << '\n';
}

void Report::stop_reasons(std::ostream& err) const {
  for (const auto& c : checks_) {
    if (c.severity == Severity::Error && c.count > 0) err << "parclas-prep: " << heading(c) << '\n';
  }
}

std::string first_of(const std::vector<std::string>& items, uint64_t count, size_t most) {
  std::string s;
  for (size_t k = 0; k < items.size() && k < most; ++k) s += (k == 0 ? "" : ", ") + items[k];
  if (count > std::min<uint64_t>(most, items.size())) s += ", ...";
  return s;
}

}  // namespace parclas::prep
