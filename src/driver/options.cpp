#include "driver/options.h"

#include <algorithm>
#include <string_view>
#include <thread>

#include "text/command_line.h"

namespace parclas {

namespace {

using Row = OptionRow<Options>;

// A size from 1 to `most`, or auto.
std::string read_size(std::string_view text, int32_t most, int32_t& value, bool& automatic) {
  automatic = text == "auto";
  int64_t v = 0;
  if (automatic) return {};
  if (!read_count(text, most, v)) {
    return "a whole number from 1 to " + std::to_string(most) + ", or auto";
  }
  value = static_cast<int32_t>(v);
  return {};
}

constexpr Row kOptions[] = {
    {"--max-animals", "N|auto",
     [](Options& o, std::string_view v) {
       return read_size(v, kMostAnimals, o.capacity.animals, o.capacity.auto_animals);
     },
     "animal numbers 1..N (default 500000); auto: the largest\n"
     "animal number of the relationship file"},
    {"--max-family", "N|auto",
     [](Options& o, std::string_view v) {
       std::string wrong =
           read_size(v, kMostFamilyMembers, o.capacity.family, o.capacity.auto_family);
       if (o.capacity.auto_family) o.capacity.family = 0;
       return wrong;
     },
     "members of one family in the family method (default 500);\n"
     "auto: no limit"},
    {"--max-classes", "N|auto",
     [](Options& o, std::string_view v) {
       std::string wrong =
           read_size(v, kMostClassRows, o.capacity.classes, o.capacity.auto_classes);
       if (o.capacity.auto_classes) o.capacity.classes = kAutoFirstClassRows;
       if (wrong.empty() && !o.capacity.auto_classes && o.capacity.classes % 17 == 0) {
         wrong = "a multiple of 17: the probe step of 17 rows would not reach every row";
       }
       return wrong;
     },
     "rows of the class table (default 500000; not a multiple of 17);\n"
     "auto: the smallest 500000 x 2^k that holds every class"},
    {"--inbreeding", "family|exact",
     [](Options& o, std::string_view v) -> std::string {
       if (v == "family") {
         o.method = InbreedingMethod::Family;
       } else if (v == "exact") {
         o.method = InbreedingMethod::Exact;
       } else {
         return "family or exact";
       }
       return {};
     },
     "family by family in single precision (default), or exactly,\n"
     "animal by animal, with no family limit"},
    {"--threads", "N",
     [](Options& o, std::string_view v) -> std::string {
       int64_t n = 0;
       if (!read_count(v, kMostThreads, n)) return "a whole number from 1 to 64";
       o.threads = static_cast<int32_t>(n);
       return {};
     },
     "threads for the stages that can share their work (default:\n"
     "the processors of the machine); any number gives the same bytes"},
    {"--class-inverse", "FILE",
     [](Options& o, std::string_view v) -> std::string {
       if (v.empty() || v.front() == ' ' || v.back() == ' ') {
         return "a file name, without blanks at its ends";
       }
       o.class_inverse.file = std::string(v);
       return {};
     },
     "also writes the inverse of the class covariance matrix to FILE:\n"
     "row col value, lower triangle; FILE.gin starts with the\n"
     "log-determinant"},
    {"--class-inverse-rule", "exact|mask",
     [](Options& o, std::string_view v) -> std::string {
       if (v == "exact") {
         o.class_inverse.rule = ClassInverseRule::Exact;
       } else if (v == "mask") {
         o.class_inverse.rule = ClassInverseRule::Mask;
       } else {
         return "exact or mask";
       }
       o.class_inverse_rule_given = true;
       return {};
     },
     "each class regressed on its ancestor classes by their\n"
     "covariances (default), or by the fixed coefficients of the mask"},
    help_row<Options>(),
    version_row<Options>(),
};

constexpr size_t kHelpColumn = 25;
constexpr size_t kSynopsisWidth = 90;

std::string usage_text() {
  const std::vector<HelpEntry> entries = help_entries<Options>(kOptions);
  return synopsis("parclas", entries, kSynopsisWidth) +
         "Asks for the parameter file name and the maximum expansion passes on standard input\n"
         "and works in the current folder.\n" +
         option_lines(entries, kHelpColumn) +
         "With auto, the sizes settled on are reported on the error stream.\n";
}

}  // namespace

int32_t default_threads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int32_t>(std::min<unsigned>(n, kMostThreads));
}

const std::string kUsage = usage_text();
const char* const kVersion = "parclas 1.3 (PARCLAS Feb 08, 1999)\n";

Options parse_options(const std::vector<std::string>& arguments) {
  Options o;
  std::string refusal = apply_options<Options>(kOptions, arguments, o);
  if (refusal.empty() && o.action == Options::Action::Run && o.class_inverse_rule_given &&
      o.class_inverse.file.empty()) {
    refusal = "option --class-inverse-rule needs --class-inverse FILE";
  }
  if (!refusal.empty()) {
    o = Options{};
    o.action = Options::Action::Refuse;
    o.refusal = std::move(refusal);
  }
  return o;
}

}  // namespace parclas
