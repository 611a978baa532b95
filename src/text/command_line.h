// The command-line conventions of the programs: options written `--name
// value` or `--name=value`, each named once in its program's table together
// with what it does and its help text, from which the usage text is made.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace parclas {

// One option of a program that keeps its settings in `Settings`.
template <class Settings>
struct OptionRow {
  std::string_view name;        // with its dashes: "--max-animals"
  std::string_view value_name;  // as the help shows the value ("N|auto"); empty: no value
  // Sets the option; returns what is wrong with the value ("a whole number
  // from 1 to 9"), or an empty text when it is taken.
  std::string (*apply)(Settings& settings, std::string_view value);
  std::string_view help;          // lines joined by '\n'; empty: listed in the synopsis only
  bool ends_reading = false;      // the rest of the command line is not read (--help)
  std::string_view section = {};  // a heading printed above the first row of a group

  bool takes_value() const { return !value_name.empty(); }
};

// The --help and --version rows every program ends its table with, for
// settings whose `action` has the values Help and Version.
template <class Settings>
constexpr OptionRow<Settings> help_row() {
  return {"--help", "",
          [](Settings& s, std::string_view) {
            s.action = Settings::Action::Help;
            return std::string();
          },
          "", true};
}
template <class Settings>
constexpr OptionRow<Settings> version_row() {
  return {"--version", "",
          [](Settings& s, std::string_view) {
            s.action = Settings::Action::Version;
            return std::string();
          },
          "", true};
}

// An argument as written: `--name=value` gives both parts, anything else a
// name alone.
struct SplitArgument {
  std::string_view name;
  std::string_view value;
  bool has_value = false;
};
SplitArgument split_argument(std::string_view argument);

// A whole number from 1 to `most`, as digits only.
bool read_count(std::string_view text, int64_t most, int64_t& value);

// The option lines of a usage text: two blanks, the name and value, the help
// from column `help_column` (on a line of its own when the name is longer),
// its further lines indented alike; a section heading above its group.
struct HelpEntry {
  std::string label;  // "--name VALUE"
  std::string_view help;
  std::string_view section;
};
std::string option_lines(std::span<const HelpEntry> entries, size_t help_column);
// "usage: PROGRAM [--a A] [--b] ...", wrapped before `width` columns.
std::string synopsis(std::string_view program, std::span<const HelpEntry> entries, size_t width);

template <class Settings>
std::vector<HelpEntry> help_entries(std::span<const OptionRow<Settings>> table) {
  std::vector<HelpEntry> entries;
  for (const OptionRow<Settings>& row : table) {
    std::string label(row.name);
    if (row.takes_value()) label.append(" ").append(row.value_name);
    entries.push_back({std::move(label), row.help, row.section});
  }
  return entries;
}

// Applies the arguments in order through `table`. Returns an empty text, or
// why the command line is refused.
template <class Settings>
std::string apply_options(std::span<const OptionRow<Settings>> table,
                          const std::vector<std::string>& arguments, Settings& settings) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const SplitArgument argument = split_argument(arguments[i]);
    const std::string name(argument.name);
    const OptionRow<Settings>* row = nullptr;
    for (const OptionRow<Settings>& candidate : table) {
      if (candidate.name == argument.name) row = &candidate;
    }
    if (row == nullptr) return "unknown option: " + name;
    std::string_view value = argument.value;
    if (!row->takes_value()) {
      if (argument.has_value) return "option " + name + " takes no value";
    } else if (!argument.has_value) {
      if (i + 1 >= arguments.size()) return "option " + name + " needs a value";
      value = arguments[++i];
    }
    if (const std::string wrong = row->apply(settings, value); !wrong.empty()) {
      return "bad value for " + name + ": '" + std::string(value) + "' (" + wrong + ")";
    }
    if (row->ends_reading) break;
  }
  return {};
}

}  // namespace parclas
