#include "text/fields.h"

#include <cstring>

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

int split_fields(std::string_view line, char* text, int width, int32_t* value, int capacity) {
  std::memset(text + width, ' ', static_cast<size_t>(capacity) * static_cast<size_t>(width));
  int count = 0;
  const size_t n = line.size();
  size_t i = 0;
  while (true) {
    while (i < n && line[i] == ' ') ++i;
    if (i == n) return count;
    const size_t start = i;
    while (i < n && line[i] != ' ') ++i;
    ++count;
    const std::string_view field = line.substr(start, i - start);
    if (count <= capacity) {
      const size_t keep = field.size() < static_cast<size_t>(width) ? field.size() : static_cast<size_t>(width);
      std::memcpy(text + static_cast<size_t>(count) * static_cast<size_t>(width), field.data(), keep);
      if (field.size() <= 10) value[count] = field_number(field);
    }
  }
}

int splice_integers(char* out, std::span<const int32_t> values) {
  int p = 0;
  for (size_t k = 0; k < values.size(); ++k) {
    uint32_t v = static_cast<uint32_t>(values[k]);
    if (values[k] < 0) {
      out[p++] = '-';
      v = 0u - v;
    }
    char digits[10];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (n > 0) out[p++] = digits[--n];
    if (k + 1 < values.size()) out[p++] = ' ';
  }
  return p;
}

}  // namespace parclas
