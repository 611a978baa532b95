// The line field splitter on the fuzz input as one line, and the integer
// splicer on the input read as 32-bit integers, with the properties that tie
// the two together.
#include <cstring>
#include <string_view>
#include <vector>

#include "run/tables.h"
#include "support.h"
#include "text/fields.h"

using namespace parclas;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);

  // Split: fields are the blank-separated runs of the line.
  static char text[kFieldCapacity + 1][kFieldWidth];
  static int32_t value[kFieldCapacity + 1];
  const int count = split_fields(line, &text[0][0], kFieldWidth, value, kFieldCapacity);
  int expected = 0;
  size_t at = 0;
  while (true) {
    while (at < line.size() && line[at] == ' ') ++at;
    if (at == line.size()) break;
    const size_t start = at;
    while (at < line.size() && line[at] != ' ') ++at;
    ++expected;
    if (expected > kFieldCapacity) continue;
    const std::string_view field = line.substr(start, at - start);
    const size_t keep = field.size() < kFieldWidth ? field.size() : kFieldWidth;
    fuzz::check(std::memcmp(text[expected], field.data(), keep) == 0, "field text");
    for (size_t k = keep; k < kFieldWidth; ++k) fuzz::check(text[expected][k] == ' ', "field padding");
    if (field.size() <= 10) fuzz::check(value[expected] == field_number(field), "field value");
  }
  fuzz::check(count == expected, "field count");

  // Splice: the text holds every integer in decimal, single blanks between.
  std::vector<int32_t> numbers(size / 4);
  if (!numbers.empty()) std::memcpy(numbers.data(), data, numbers.size() * 4);
  std::vector<char> out(numbers.size() * kSplicedWidth + 1, '#');
  const int p = splice_integers(out.data(), numbers);
  fuzz::check(p >= 0 && static_cast<size_t>(p) <= numbers.size() * kSplicedWidth, "spliced length");
  for (size_t k = static_cast<size_t>(p); k < out.size(); ++k) fuzz::check(out[k] == '#', "splice overran");
  const std::string_view spliced(out.data(), static_cast<size_t>(p));
  const int n = split_fields(spliced, &text[0][0], kFieldWidth, value, kFieldCapacity);
  fuzz::check(n == static_cast<int>(numbers.size()), "spliced field count");
  fuzz::check(spliced.empty() || (spliced.front() != ' ' && spliced.back() != ' '), "spliced blanks");
  fuzz::check(spliced.find("  ") == std::string_view::npos, "spliced blanks");
  for (int k = 1; k <= n && k <= kFieldCapacity; ++k) {
    const int32_t v = numbers[static_cast<size_t>(k - 1)];
    if (v >= -999999999) fuzz::check(value[k] == v, "spliced value reads back");  // at most 10 characters
  }
  return 0;
}
