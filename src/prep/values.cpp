#include "prep/values.h"

#include <charconv>
#include <cmath>

namespace parclas::prep {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (const char c : s) {
    if (!is_digit(c)) return false;
  }
  return true;
}

int32_t digits_value(std::string_view s) {
  int32_t v = 0;
  for (const char c : s) v = v * 10 + (c - '0');
  return v;
}

}  // namespace

Value classify_value(std::string_view field, bool comma_is_decimal) {
  Value v;
  if (field.size() <= 9 && all_digits(field)) {  // the common case, without parsing twice
    v.kind = ValueKind::Integer;
    v.integer = digits_value(field);
    v.real = static_cast<double>(v.integer);
    return v;
  }
  char buffer[64];
  if (field.empty() || field.size() >= sizeof buffer) return v;
  size_t n = 0;
  size_t start = field[0] == '+' ? 1 : 0;
  for (size_t i = start; i < field.size(); ++i) {
    char c = field[i];
    if (c == ',' && comma_is_decimal) c = '.';
    if (!is_digit(c) && c != '.' && c != '-' && c != 'e' && c != 'E' && c != '+') return v;
    buffer[n++] = c;
  }
  if (n == 0) return v;
  const char* end = buffer + n;
  int64_t integer = 0;
  auto [p, ec] = std::from_chars(buffer, end, integer);
  if (ec == std::errc() && p == end) {
    if (integer < INT32_MIN || integer > INT32_MAX) return v;  // a code, not a quantity
    v.kind = ValueKind::Integer;
    v.integer = integer;
    v.real = static_cast<double>(integer);
    return v;
  }
  double real = 0.0;
  auto [q, ec2] = std::from_chars(buffer, end, real);
  if (ec2 == std::errc() && q == end && std::isfinite(real)) {
    v.kind = ValueKind::Decimal;
    v.real = real;
  }
  return v;
}

bool is_number(std::string_view field) {
  return classify_value(field, false).kind != ValueKind::Text;
}

std::optional<int32_t> parse_year(std::string_view field) {
  if (field.size() <= 4 && all_digits(field)) return digits_value(field);
  if (field.size() == 8 && all_digits(field)) return digits_value(field.substr(0, 4));
  // A date: the one run of exactly four digits between separators.
  std::optional<int32_t> year;
  size_t i = 0;
  while (i < field.size()) {
    if (!is_digit(field[i])) {
      const char c = field[i];
      if (c != '-' && c != '.' && c != '/' && c != ' ' && c != 'T' && c != ':') return std::nullopt;
      ++i;
      continue;
    }
    size_t j = i;
    while (j < field.size() && is_digit(field[j])) ++j;
    if (j - i == 4) {
      if (year) return std::nullopt;
      year = digits_value(field.substr(i, 4));
    } else if (j - i > 4) {
      return std::nullopt;
    }
    i = j;
  }
  return year;
}

}  // namespace parclas::prep
