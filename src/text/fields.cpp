#include "text/fields.h"

#include <algorithm>
#include <cstring>

#include "text/numbers.h"

namespace parclas {

int32_t field_number(std::string_view field) {
  size_t i = 0;
  bool negative = false;
  if (!field.empty() && field[0] == '-') {
    negative = true;
    i = 1;
  }
  uint32_t v = 0;
  for (; i < field.size(); ++i) {
    const unsigned d = static_cast<unsigned char>(field[i]) - '0';
    if (d > 9) break;
    v = v * 10u + d;
  }
  return static_cast<int32_t>(negative ? 0u - v : v);
}

namespace {
// Calls on_field(k, field) for the blank-separated fields k = 1, 2, ... of
// the line; returns their count.
template <class OnField>
int for_each_field(std::string_view line, OnField&& on_field) {
  int count = 0;
  const size_t n = line.size();
  size_t i = 0;
  while (true) {
    while (i < n && line[i] == ' ') ++i;
    if (i == n) return count;
    const size_t start = i;
    while (i < n && line[i] != ' ') ++i;
    on_field(++count, line.substr(start, i - start));
  }
}
}  // namespace

int split_fields(std::string_view line, char* text, int width, int32_t* value, int capacity) {
  std::memset(text + width, ' ', static_cast<size_t>(capacity) * static_cast<size_t>(width));
  return for_each_field(line, [&](int count, std::string_view field) {
    if (count > capacity) return;
    const size_t keep = std::min(field.size(), static_cast<size_t>(width));
    std::memcpy(text + static_cast<size_t>(count) * static_cast<size_t>(width), field.data(), keep);
    if (field.size() <= 10) value[count] = field_number(field);
  });
}

int split_values(std::string_view line, int32_t* value, int capacity, std::string_view& last) {
  last = {};
  return for_each_field(line, [&](int count, std::string_view field) {
    if (count > capacity) return;
    if (field.size() <= 10) value[count] = field_number(field);
    last = field;
  });
}

int splice_integers(char* out, std::span<const int32_t> values) {
  int p = 0;
  for (size_t k = 0; k < values.size(); ++k) {
    if (values[k] < 0) out[p++] = '-';
    p += put_digits(magnitude(values[k]), out + p);
    if (k + 1 < values.size()) out[p++] = ' ';
  }
  return p;
}

}  // namespace parclas
