// What parclas-prep knows about herdbook files and about PARCLAS, in one
// place: the column names of every role, the codes for an unknown value,
// the names of the files it writes and that a PARCLAS run on them writes,
// and the limits it prepares for (PARCLAS's own constants).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "parameters/parameter_file.h"
#include "run/tables.h"

namespace parclas::prep {

// ---- limits of the PARCLAS run the files are prepared for -------------------

inline constexpr int32_t kDefaultAnimalLimit = relmax;
inline constexpr int32_t kDefaultFamilyLimit = Capacities{}.family;
inline constexpr size_t kIdentifierWidth = kIdWidth;  // characters kept of an identifier
inline constexpr int32_t kYearValues = kYears;        // year values 1..kYearValues
inline constexpr size_t kMostEffects = kMaxEffects;
inline constexpr size_t kMostRecordLength = kMaxRecordLength;
inline constexpr int32_t kDefaultPasses = 2;

// ---- column names ------------------------------------------------------------

enum class Role { Id, Sire, Dam, Birth };
inline constexpr Role kRoles[] = {Role::Id, Role::Sire, Role::Dam, Role::Birth};
std::string_view role_name(Role r);  // "id", "sire", "dam", "birth"

// A header name as it is compared: lowercase, accents dropped (UTF-8 or
// Latin-1), without blanks and '_', '.', '-', '/', '#': "Geburts-Datum",
// "geburtsdatum" and "Père" / "pere" match.
std::string normalized_name(std::string_view name);

// The known names of a role (normalized), most specific first: English,
// German, French, Spanish, Italian, Dutch, Danish, Norwegian, Swedish and
// Finnish.
std::span<const std::string_view> names_of(Role r);

// The role a header name is known for, if any. One-letter names ("s", "d")
// count only when `one_letter` is set: as a field of a first line they may
// as well be identifiers.
std::optional<Role> role_of(std::string_view header_name, bool one_letter = true);

// ---- unknown values ----------------------------------------------------------

// The codes that stand for an unknown parent or value, in any case: an empty
// field, NA, N/A, '.', '-', '?', NULL, unknown, unk, none, and for parents
// also 0 or zeros only; and those the user adds (--missing), also in any case.
class UnknownCodes {
 public:
  void add(std::string_view code);
  bool parent(std::string_view field) const;  // an unknown parent
  bool value(std::string_view field) const;   // an unknown data value (0 is a value)
  const std::vector<std::string>& added() const { return added_; }

 private:
  bool listed(std::string_view field) const;
  std::vector<std::string> added_;  // lowercase
};

// The default codes as the README lists them.
std::span<const std::string_view> default_unknown_codes();

// A parent identifier without a line of its own that reads like a code for
// an unknown parent the user has not declared: no letter or digit at all,
// "nan", "missing", a word for "unknown" in the languages above, or a
// number not above 0.
bool looks_like_unknown_code(std::string_view id);

// ---- files -------------------------------------------------------------------

// The files parclas-prep writes, in the order the console lists them.
inline constexpr std::string_view kPedigreeOut = "ped.txt";
inline constexpr std::string_view kDataOut = "data.txt";
inline constexpr std::string_view kParameterOut = "par.txt";
inline constexpr std::string_view kAnswersOut = "answers";
inline constexpr std::string_view kAnimalsOut = "animals.txt";
inline constexpr std::string_view kLevelsOut = "levels.txt";
inline constexpr std::string_view kReportOut = "report.txt";
inline constexpr std::string_view kOutputNames[] = {kPedigreeOut, kDataOut,   kParameterOut, kAnswersOut,
                                                    kAnimalsOut,  kLevelsOut, kReportOut};

// The files a PARCLAS run on them writes beside them: its output prefixes
// in front of the names above.
std::vector<std::string> parclas_output_names();

}  // namespace parclas::prep
