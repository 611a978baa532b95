// List-directed reading, line reading and rewinding on a file (or the
// console) whose bytes are the fuzz input. Byte 0 chooses the source and the
// kind of reads, byte 1 the number of items per read.
#include <array>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <type_traits>

#include "text/text_io.h"
#include "support.h"

using namespace parclas;

namespace {

// Reads the one value of the file "one.txt" as an integer or a real item;
// returns 0 or the error number.
template <class T>
int read_one(T& value) {
  std::istringstream console;
  std::ostringstream out;
  std::ostringstream err;
  TextIO io(console, out, err);
  int status = 0;
  try {
    io.connect(11, "one.txt", FileUse::Input);
    ReadResult r;
    if constexpr (std::is_same_v<T, float>) {
      r = io.read_reals(11, std::span<float>(&value, 1));
    } else {
      r = io.read_integers(11, std::span<int32_t>(&value, 1));
    }
    fuzz::check(r == ReadResult::Ok, "a line with one value read as end of file");
  } catch (const RunEnd& end) {
    status = end.status;
  }
  io.close_all_quietly();
  return status;
}

bool all_digits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// When the input's first line holds one plain number, the value read must be
// the C library's reading of it: the same integer or the error for a value
// outside 32 bits, the same correctly rounded real or the error for an
// overflow.
void compare_with_c_library(std::string_view content) {
  std::string_view tok = content.substr(0, content.find('\n'));
  while (!tok.empty() && tok.front() == ' ') tok.remove_prefix(1);
  while (!tok.empty() && tok.back() == ' ') tok.remove_suffix(1);
  if (tok.size() > 400) return;
  std::string_view body = tok;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) body.remove_prefix(1);
  const size_t exponent = body.find_first_of("eEdD");
  std::string_view mantissa = body.substr(0, exponent);
  const size_t point = mantissa.find('.');
  const std::string_view whole = mantissa.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : mantissa.substr(point + 1);
  if (whole.empty() && fraction.empty()) return;
  if ((!whole.empty() && !all_digits(whole)) || (!fraction.empty() && !all_digits(fraction))) return;
  if (exponent != std::string_view::npos) {
    std::string_view e = body.substr(exponent + 1);
    if (!e.empty() && (e[0] == '+' || e[0] == '-')) e.remove_prefix(1);
    if (!all_digits(e)) return;
  }
  fuzz::write_file("one.txt", std::string(tok) + "\n");

  std::string text(tok);
  for (char& c : text) {
    if (c == 'd' || c == 'D') c = 'e';
  }
  errno = 0;
  const float expected = std::strtof(text.c_str(), nullptr);
  const bool overflow = errno == ERANGE && std::isinf(expected);
  float real = 0.0f;
  const int real_status = read_one(real);
  if (overflow) {
    fuzz::check(real_status == 64, "a real beyond single precision is not error 64");
  } else {
    fuzz::check(real_status == 0, "a plain real is not read");
    // Below the normal range the result may be one unit off (rounded twice).
    if (std::fabs(expected) >= FLT_MIN) fuzz::check(real == expected, "real value differs");
  }

  int32_t integer = 0;
  const int integer_status = read_one(integer);
  if (point != std::string_view::npos || exponent != std::string_view::npos) {
    fuzz::check(integer_status == 59, "a real read as an integer is not error 59");
    return;
  }
  errno = 0;
  const long long wide = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || wide < INT32_MIN || wide > INT32_MAX) {
    fuzz::check(integer_status == 64, "an integer beyond 32 bits is not error 64");
  } else {
    fuzz::check(integer_status == 0 && integer == wide, "integer value differs");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const unsigned mode = data[0];
  const size_t count = 1 + data[1] % 24;
  const std::string content(reinterpret_cast<const char*>(data + 2), size - 2);
  fuzz::InScratch scratch;
  fuzz::write_file("input.txt", content);

  std::istringstream console(content);
  std::ostringstream out;
  std::ostringstream err;
  TextIO io(console, out, err);
  const bool from_console = (mode & 1) != 0;
  const int unit = from_console ? kConsoleIn : 11;
  const int passes = (mode & 2) != 0 && !from_console ? 2 : 1;
  int32_t integers[24];
  float reals[24];
  std::array<char, 20> text;
  try {
    if (!from_console) io.connect(unit, "input.txt", FileUse::Input);
    for (int pass = 0; pass < passes; ++pass) {
      for (unsigned read = 0;; ++read) {
        ReadResult r = ReadResult::Ok;
        const unsigned first = (mode >> 2) & 3;
        switch ((mode & 64) != 0 ? first : (first + read) % 4) {
          case 0:
            r = io.read_integers(unit, std::span<int32_t>(integers, count));
            break;
          case 1:
            r = io.read_reals(unit, std::span<float>(reals, count));
            break;
          case 2:
            r = (mode & 16) != 0 ? io.read_text(unit, text) : io.skip_line(unit);
            break;
          default:
            r = (mode & 32) != 0 ? io.read_integers(unit, std::span<int32_t>(integers, count))
                                 : io.read_reals(unit, std::span<float>(reals, count));
            break;
        }
        if (r == ReadResult::EndOfFile) break;
      }
      if (!from_console) io.rewind(unit);
    }
  } catch (const RunEnd& end) {
    const std::string report = err.str();
    fuzz::check(end.status == 59 || end.status == 64, "unexpected read error");
    fuzz::check(report.rfind("severe (" + std::to_string(end.status) + "): ", 0) == 0,
                "read-error report does not match status");
  }
  io.close_all_quietly();
  std::string after;
  fuzz::check(fuzz::read_file("input.txt", after) && after == content, "reading changed the file");
  compare_with_c_library(content);
  return 0;
}
