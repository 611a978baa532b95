// Splitting a fixed-width line into blank-separated fields, and writing a
// list of integers back into a line.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace parclas {

// Splits `line` at blanks. Field k (1-based) goes to text[k] (cut to `width`
// characters or blank-padded) and, when it has at most 10 characters, its
// numeric value to value[k]; value entries of longer fields keep what they
// held. Text entries 1..capacity are blanked first. Returns the field count.
int split_fields(std::string_view line, char* text, int width, int32_t* value, int capacity);

// The same without the text array: the numeric values only, and the text of
// the last field (of fields 1..capacity) in `last`.
int split_values(std::string_view line, int32_t* value, int capacity, std::string_view& last);

// The numeric value of a field: an optional minus sign, then the leading
// digits (accumulated with 32-bit wrap-around); 0 when there are none.
int32_t field_number(std::string_view field);

// Writes the integers as decimal numbers separated by single blanks from the
// first character of `out`; returns the number of characters written.
// `out` must hold 12 characters per integer.
int splice_integers(char* out, std::span<const int32_t> values);

inline constexpr int kSplicedWidth = 12;  // room one integer needs, with its blank

// `s` without the characters of `blanks` at either end: names and fields
// are compared and opened without the blanks that pad them.
constexpr std::string_view trim_blanks(std::string_view s, std::string_view blanks = " ") {
  const size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

}  // namespace parclas
