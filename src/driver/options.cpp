#include "driver/options.h"

#include <charconv>
#include <string_view>

namespace parclas {

const char* const kUsage =
    "usage: parclas [--max-animals N|auto] [--max-family N|auto] [--max-classes N|auto]\n"
    "               [--inbreeding family|exact] [--help] [--version]\n"
    "Asks for the parameter file name and the maximum expansion passes on standard input\n"
    "and works in the current folder.\n"
    "  --max-animals N|auto   animal numbers 1..N (default 500000); auto: the largest\n"
    "                         animal number of the relationship file\n"
    "  --max-family N|auto    members of one family in the family method (default 500);\n"
    "                         auto: no limit\n"
    "  --max-classes N|auto   rows of the class table (default 500000; not a multiple of 17);\n"
    "                         auto: the smallest 500000 x 2^k that holds every class\n"
    "  --inbreeding family|exact\n"
    "                         family by family in single precision (default), or exactly,\n"
    "                         animal by animal, with no family limit\n"
    "With auto, the sizes settled on are reported on the error stream.\n";

const char* const kVersion = "parclas 1.2 (PARCLAS Feb 08, 1999)\n";

namespace {

// A whole number from 1 to `most`, or "auto" where `automatic` is given.
bool read_size(std::string_view text, int32_t most, int32_t& value, bool* automatic) {
  if (automatic != nullptr && text == "auto") {
    *automatic = true;
    return true;
  }
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || text[0] == '-' ||
      text[0] == '+' || v < 1 || v > most) {
    return false;
  }
  value = static_cast<int32_t>(v);
  if (automatic != nullptr) *automatic = false;
  return true;
}

}  // namespace

Options parse_options(const std::vector<std::string>& arguments) {
  Options o;
  auto refuse = [&o](const std::string& message) {
    o.action = Options::Action::Refuse;
    o.refusal = message;
    return o;
  };
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::string value;
    bool has_value = false;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_value = true;
    }
    if (name == "--help" || name == "--version") {
      if (has_value) return refuse("option " + name + " takes no value");
      o.action = name == "--help" ? Options::Action::Help : Options::Action::Version;
      return o;
    }
    const bool takes_value = name == "--max-animals" || name == "--max-family" ||
                             name == "--max-classes" || name == "--inbreeding";
    if (!takes_value) return refuse("unknown option: " + name);
    if (!has_value) {
      if (i + 1 >= arguments.size()) return refuse("option " + name + " needs a value");
      value = arguments[++i];
    }
    const std::string bad = "bad value for " + name + ": '" + value + "'";
    if (name == "--max-animals") {
      if (!read_size(value, kMostAnimals, o.capacity.animals, &o.capacity.auto_animals)) {
        return refuse(bad + " (a whole number from 1 to " + std::to_string(kMostAnimals) +
                      ", or auto)");
      }
    } else if (name == "--max-family") {
      if (!read_size(value, kMostFamilyMembers, o.capacity.family, &o.auto_family)) {
        return refuse(bad + " (a whole number from 1 to " + std::to_string(kMostFamilyMembers) +
                      ", or auto)");
      }
      if (o.auto_family) o.capacity.family = 0;
    } else if (name == "--max-classes") {
      if (!read_size(value, kMostClassRows, o.capacity.classes, &o.capacity.auto_classes)) {
        return refuse(bad + " (a whole number from 1 to " + std::to_string(kMostClassRows) +
                      ", or auto)");
      }
      if (o.capacity.auto_classes) o.capacity.classes = kAutoFirstClassRows;
      if (!o.capacity.auto_classes && o.capacity.classes % 17 == 0) {
        return refuse(bad + " (a multiple of 17: the probe step of 17 rows would not reach "
                            "every row)");
      }
    } else {
      if (value == "family") {
        o.method = InbreedingMethod::Family;
      } else if (value == "exact") {
        o.method = InbreedingMethod::Exact;
      } else {
        return refuse(bad + " (family or exact)");
      }
    }
  }
  return o;
}

}  // namespace parclas
