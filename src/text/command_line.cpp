#include "text/command_line.h"

#include <charconv>

namespace parclas {

SplitArgument split_argument(std::string_view argument) {
  const size_t eq = argument.find('=');
  if (!argument.starts_with("--") || eq == std::string_view::npos) return {argument, {}, false};
  return {argument.substr(0, eq), argument.substr(eq + 1), true};
}

bool read_count(std::string_view text, int64_t most, int64_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < 1 || v > most) return false;
  value = v;
  return true;
}

std::string option_lines(std::span<const HelpEntry> entries, size_t help_column) {
  std::string out;
  std::string_view section;
  for (const HelpEntry& entry : entries) {
    if (entry.help.empty()) continue;
    if (entry.section != section) {
      section = entry.section;
      if (!section.empty()) out.append(section).append("\n");
    }
    std::string line = "  " + entry.label;
    if (line.size() + 1 > help_column) {
      out.append(line).append("\n");
      line.clear();
    }
    line.resize(help_column, ' ');
    std::string_view help = entry.help;
    while (true) {
      const size_t lf = help.find('\n');
      out.append(line).append(help.substr(0, lf)).append("\n");
      if (lf == std::string_view::npos) break;
      help.remove_prefix(lf + 1);
      line.assign(help_column, ' ');
    }
  }
  return out;
}

std::string synopsis(std::string_view program, std::span<const HelpEntry> entries, size_t width) {
  std::string out = "usage: " + std::string(program);
  const size_t indent = out.size() + 1;
  size_t line_start = 0;
  for (const HelpEntry& entry : entries) {
    const std::string item = "[" + entry.label + "]";
    if (out.size() - line_start + 1 + item.size() > width) {
      out.append("\n");
      line_start = out.size();
      out.append(indent - 1, ' ');
    }
    out.append(" ").append(item);
  }
  return out + "\n";
}

}  // namespace parclas
