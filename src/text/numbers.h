// Decimal numbers in and out: the values of list-directed input (integers
// and reals), a quick reader for the common line of plain integers, and the
// one routine that turns an integer into its digits.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace parclas {

// What reading a value gave: the value, text that is not a number of the
// item's kind, or a number outside the item's range.
enum class Lexed { Ok, Syntax, Conversion };

// An integer value: an optional sign and decimal digits only, in 32 bits.
Lexed lex_integer(std::string_view token, int32_t& value);
// A real value: an integer, a number with a decimal point, or either with an
// exponent (e, E, d or D), in single precision.
Lexed lex_real(std::string_view token, float& value);

// Reads `items` from a line that holds them as plain integers (an optional
// sign and at most 10 digits each, separated by blanks or tabs, the last one
// followed by the end of the line or any separator); the rest of the line is
// passed over, as list-directed input does. Returns false, and sets nothing,
// for any other line: list-directed input then reads it by its full rules.
bool read_plain_integers(std::string_view line, std::span<int32_t> items);

// The decimal digits of `value`, most significant first, no leading zeros (0
// is the digit 0), written from `out`; returns their count (1 to 10).
int put_digits(uint32_t value, char* out);

// The magnitude of a 32-bit integer, also of the most negative one.
inline uint32_t magnitude(int32_t value) {
  return value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
}

}  // namespace parclas
