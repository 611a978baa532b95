// What a field of a herdbook table holds: an integer, a number with
// decimals, a birth year or date, or other text. (The codes for an unknown
// value are in conventions.h.)
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace parclas::prep {

enum class ValueKind { Integer, Decimal, Text };

struct Value {
  ValueKind kind = ValueKind::Text;
  int64_t integer = 0;  // Integer: the value (fits 32 bits)
  double real = 0.0;    // Integer and Decimal: the value
};

// An integer that fits 32 bits, a decimal number (a decimal comma is taken
// as a point when `comma_is_decimal`), or text.
Value classify_value(std::string_view field, bool comma_is_decimal);
bool is_number(std::string_view field);

// The year of a birth-year or birth-date field: a whole number of up to four
// digits (a year, or a generation number), YYYYMMDD, or a date with a
// four-digit year between separators (2001-05-03, 03.05.2001, 5/3/2001).
std::optional<int32_t> parse_year(std::string_view field);

}  // namespace parclas::prep
