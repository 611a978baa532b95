#include "text/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace parclas {

Lexed lex_integer(std::string_view tok, int32_t& out) {
  size_t i = 0;
  bool negative = false;
  if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) {
    negative = tok[i] == '-';
    ++i;
  }
  if (i == tok.size()) return Lexed::Syntax;
  uint64_t v = 0;
  bool too_big = false;
  for (; i < tok.size(); ++i) {
    const unsigned d = static_cast<unsigned char>(tok[i]) - '0';
    if (d > 9) return Lexed::Syntax;
    if (!too_big) {
      v = v * 10 + d;
      if (v > 2147483648ull) too_big = true;
    }
  }
  if (too_big || (!negative && v > 2147483647ull)) return Lexed::Conversion;
  out = negative ? static_cast<int32_t>(0ll - static_cast<int64_t>(v)) : static_cast<int32_t>(v);
  return Lexed::Ok;
}

Lexed lex_real(std::string_view tok, float& out) {
  char buf[128];
  size_t n = 0;
  size_t i = 0;
  if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) {
    if (tok[i] == '-') buf[n++] = '-';
    ++i;
  }
  size_t mantissa_digits = 0;
  bool point = false;
  for (; i < tok.size(); ++i) {
    const char c = tok[i];
    if (c >= '0' && c <= '9') {
      ++mantissa_digits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (mantissa_digits == 0) return Lexed::Syntax;
  const size_t mantissa_end = i;
  size_t exponent_begin = tok.size();
  if (i < tok.size()) {
    const char c = tok[i];
    if (c != 'e' && c != 'E' && c != 'd' && c != 'D') return Lexed::Syntax;
    ++i;
    exponent_begin = i;
    if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) ++i;
    if (i == tok.size()) return Lexed::Syntax;
    for (; i < tok.size(); ++i) {
      if (tok[i] < '0' || tok[i] > '9') return Lexed::Syntax;
    }
  }
  // Long mantissas are rare; from_chars reads any length, so use a copy only
  // when the token fits the local buffer and the string view otherwise.
  std::string long_copy;
  char* text = buf;
  const size_t start = (tok[0] == '+' || tok[0] == '-') ? 1 : 0;
  const size_t need = n + (mantissa_end - start) + 1 + (tok.size() - exponent_begin) + 1;
  if (need > sizeof buf) {
    long_copy.assign(buf, n);
    long_copy.resize(need);
    text = long_copy.data();
  }
  std::memcpy(text + n, tok.data() + start, mantissa_end - start);
  n += mantissa_end - start;
  if (exponent_begin < tok.size()) {
    text[n++] = 'e';
    std::memcpy(text + n, tok.data() + exponent_begin, tok.size() - exponent_begin);
    n += tok.size() - exponent_begin;
  }
  float value = 0.0f;
  auto [end, ec] = std::from_chars(text, text + n, value);
  if (ec == std::errc::result_out_of_range) {
    // Too large is an error; too small goes to zero (or a subnormal). strtod
    // tells the two apart also beyond the double range (it gives HUGE_VAL
    // there), where from_chars would leave its result untouched. The text
    // holds only digits, a point, an exponent and a sign, and `need` left
    // room for the terminating NUL.
    text[n] = '\0';
    const double d = std::strtod(text, nullptr);
    if (std::fabs(d) >= 1.0 || std::isinf(d)) return Lexed::Conversion;
    value = static_cast<float>(d);
  } else if (ec != std::errc() || end != text + n) {
    return Lexed::Syntax;
  }
  out = value;
  return Lexed::Ok;
}

bool read_plain_integers(std::string_view line, std::span<int32_t> items) {
  constexpr size_t kMostItems = 64;
  if (items.size() > kMostItems) return false;
  int32_t value[kMostItems];
  const char* p = line.data();
  const char* const end = p + line.size();
  for (size_t k = 0; k < items.size(); ++k) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (p == end) return false;  // the list goes on on the next line
    bool negative = false;
    if (*p == '-' || *p == '+') {
      negative = *p == '-';
      ++p;
    }
    const char* const digits = p;
    uint64_t v = 0;
    while (p < end && static_cast<unsigned>(*p - '0') <= 9) {
      v = v * 10 + static_cast<unsigned>(*p - '0');
      ++p;
    }
    const auto count = p - digits;
    if (count == 0 || count > 10) return false;
    if (v > (negative ? 2147483648ull : 2147483647ull)) return false;
    if (p < end) {
      const char c = *p;
      // A comma or slash after the last item ends it like a blank; before
      // it, it may stand for null values or end the read.
      const bool separator = c == ' ' || c == '\t' || c == ',' || c == '/';
      if (!separator || ((c == ',' || c == '/') && k + 1 < items.size())) return false;
    }
    value[k] = negative ? static_cast<int32_t>(0ll - static_cast<int64_t>(v))
                        : static_cast<int32_t>(v);
  }
  std::memcpy(items.data(), value, items.size() * sizeof(int32_t));
  return true;
}

namespace {
// "00" "01" ... "99": two digits a step.
constexpr char kPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";
}  // namespace

int put_digits(uint32_t v, char* out) {
  int n = 1;
  for (uint32_t bound = 10; n < 10 && v >= bound; bound *= 10) ++n;
  char* p = out + n;
  while (v >= 100) {
    const uint32_t r = v % 100;
    v /= 100;
    p -= 2;
    std::memcpy(p, kPairs + 2 * r, 2);
  }
  if (v >= 10) {
    p -= 2;
    std::memcpy(p, kPairs + 2 * v, 2);
  } else {
    *--p = static_cast<char>('0' + v);
  }
  return n;
}

}  // namespace parclas
