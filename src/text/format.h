// Number and text layouts of every console and file line: the fixed-width
// fields of formatted lines (Iw, Iw.m, Fw.d, A, nX, literals, /, repeat counts
// and groups) and the item widths of list-directed lines.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace parclas {

// One item of a write: a 32-bit integer, a single-precision real or a text.
struct Item {
  enum class Kind { Integer, Real, Text };
  Kind kind;
  int32_t integer = 0;
  float real = 0.0f;
  std::string_view text;

  Item(int32_t v) : kind(Kind::Integer), integer(v) {}
  Item(float v) : kind(Kind::Real), real(v) {}
  Item(std::string_view v) : kind(Kind::Text), text(v) {}
  Item(const char* v) : kind(Kind::Text), text(v) {}
  Item(const std::string& v) : kind(Kind::Text), text(v) {}
  Item(double) = delete;  // reals are single precision throughout
};

// A parsed layout such as "(' read',I8,' pedigree records')".
class Format {
 public:
  explicit Format(std::string_view layout);
  // Writes the lines the layout produces for `items` into `text`, one after
  // the other, and the end offset of each line into `line_ends`.
  void apply(std::initializer_list<Item> items, std::string& text,
             std::vector<size_t>& line_ends) const;

  struct Node {
    enum class Kind { Literal, Integer, Fixed, Text, Blanks, Slash, Group };
    Kind kind;
    int repeat = 1;
    int width = 0;   // w of Iw, Fw.d, Aw (0: A at full length); n of nX
    int digits = 0;  // m of Iw.m, d of Fw.d
    std::string literal;
    std::vector<Node> children;
  };

 private:
  std::vector<Node> nodes_;
  size_t reversion_ = 0;  // first node of the last top-level group
};

// Iw.m: right-aligned in w, at least m digits, asterisks when it does not fit.
void put_integer(std::string& out, int32_t value, int width, int min_digits = 1);
// Iw into a character buffer: exactly `width` characters at `out`.
void put_integer_field(char* out, int32_t value, int width);
// Fw.d: rounded to d decimals (to nearest, ties to even, on the exact value).
void put_fixed(std::string& out, float value, int width, int decimals);
// List-directed items: integers in 12 characters, reals in 15.
void put_list_integer(std::string& out, int32_t value);
void put_list_real(std::string& out, float value);

inline constexpr int kListLineWidth = 80;

}  // namespace parclas

namespace parclas {

// A real converted to an integer: truncated toward zero; values beyond the
// 32-bit range give the nearest 32-bit limit.
inline int32_t truncate_to_integer(float value) {
  if (!(value == value)) return 0;
  if (value >= 2147483648.0f) return 2147483647;
  if (value <= -2147483648.0f) return -2147483647 - 1;
  return static_cast<int32_t>(value);
}

}  // namespace parclas
