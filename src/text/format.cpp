#include "text/format.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "text/numbers.h"

namespace parclas {

namespace {

void put_right_aligned(std::string& out, std::string_view text, int width) {
  if (static_cast<int>(text.size()) > width) {
    out.append(static_cast<size_t>(width), '*');
    return;
  }
  out.append(static_cast<size_t>(width) - text.size(), ' ');
  out.append(text);
}

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  std::vector<Format::Node> parse_all() {
    skip_blanks();
    expect('(');
    auto nodes = parse_list();
    expect(')');
    skip_blanks();
    if (pos_ != s_.size()) bad();
    return nodes;
  }

 private:
  [[noreturn]] void bad() const {
    throw std::logic_error("bad layout: " + std::string(s_));
  }
  void skip_blanks() {
    while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
  }
  char peek() {
    skip_blanks();
    return pos_ < s_.size() ? s_[pos_] : '\0';
  }
  void expect(char c) {
    if (peek() != c) bad();
    ++pos_;
  }
  int number() {
    skip_blanks();
    if (pos_ >= s_.size() || !std::isdigit(static_cast<unsigned char>(s_[pos_]))) bad();
    int v = 0;
    while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) {
      v = v * 10 + (s_[pos_++] - '0');
    }
    return v;
  }

  std::vector<Format::Node> parse_list() {
    std::vector<Format::Node> nodes;
    while (true) {
      char c = peek();
      if (c == ')' || c == '\0') return nodes;
      if (c == ',') {
        ++pos_;
        continue;
      }
      nodes.push_back(parse_item());
    }
  }

  Format::Node parse_item() {
    using K = Format::Node::Kind;
    Format::Node node{};
    char c = peek();
    if (c == '\'') {
      ++pos_;
      node.kind = K::Literal;
      while (true) {
        if (pos_ >= s_.size()) bad();
        char ch = s_[pos_++];
        if (ch == '\'') {
          if (pos_ < s_.size() && s_[pos_] == '\'') {
            node.literal += '\'';
            ++pos_;
            continue;
          }
          break;
        }
        node.literal += ch;
      }
      return node;
    }
    if (c == '/') {
      ++pos_;
      node.kind = K::Slash;
      return node;
    }
    int repeat = 1;
    bool has_repeat = false;
    if (std::isdigit(static_cast<unsigned char>(c))) {
      repeat = number();
      has_repeat = true;
    }
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(peek())));
    ++pos_;
    node.repeat = repeat;
    switch (c) {
      case '(':
        node.kind = K::Group;
        node.children = parse_list();
        expect(')');
        break;
      case 'I':
        node.kind = K::Integer;
        node.width = number();
        node.digits = 1;
        if (peek() == '.') {
          ++pos_;
          node.digits = number();
        }
        break;
      case 'F':
        node.kind = K::Fixed;
        node.width = number();
        expect('.');
        node.digits = number();
        break;
      case 'A':
        node.kind = K::Text;
        if (std::isdigit(static_cast<unsigned char>(peek()))) node.width = number();
        break;
      case 'X':
        if (!has_repeat) bad();
        node.kind = K::Blanks;
        node.width = repeat;
        node.repeat = 1;
        break;
      default:
        bad();
    }
    return node;
  }

  std::string_view s_;
  size_t pos_ = 0;
};

// Walks the layout, taking items in order; stops at a field that needs an
// item when none is left.
class Writer {
 public:
  Writer(std::initializer_list<Item> items, std::string& text, std::vector<size_t>& line_ends)
      : items_(items), line_(text), ends_(line_ends) {
    line_.clear();
    ends_.clear();
  }
  ~Writer() { ends_.push_back(line_.size()); }

  bool run(const std::vector<Format::Node>& nodes, size_t from) {
    for (size_t k = from; k < nodes.size(); ++k) {
      const Format::Node& node = nodes[k];
      for (int r = 0; r < node.repeat; ++r) {
        if (!step(node)) return false;
      }
    }
    return true;
  }

  bool items_left() const { return next_ < items_.size(); }
  size_t used() const { return next_; }
  void new_line() { ends_.push_back(line_.size()); }

 private:
  bool step(const Format::Node& node) {
    using K = Format::Node::Kind;
    std::string& line = line_;
    switch (node.kind) {
      case K::Literal:
        line += node.literal;
        return true;
      case K::Blanks:
        line.append(static_cast<size_t>(node.width), ' ');
        return true;
      case K::Slash:
        new_line();
        return true;
      case K::Group:
        return run(node.children, 0);
      case K::Integer:
      case K::Fixed:
      case K::Text:
        break;
    }
    if (!items_left()) return false;
    const Item& item = items_.begin()[next_++];
    if (node.kind == K::Integer && item.kind == Item::Kind::Integer) {
      put_integer(line, item.integer, node.width, node.digits);
    } else if (node.kind == K::Fixed && item.kind == Item::Kind::Real) {
      put_fixed(line, item.real, node.width, node.digits);
    } else if (node.kind == K::Text && item.kind == Item::Kind::Text) {
      if (node.width == 0) {
        line += item.text;
      } else if (static_cast<size_t>(node.width) <= item.text.size()) {
        line += item.text.substr(0, static_cast<size_t>(node.width));
      } else {
        line.append(static_cast<size_t>(node.width) - item.text.size(), ' ');
        line += item.text;
      }
    } else {
      throw std::logic_error("layout field does not match its item");
    }
    return true;
  }

  std::initializer_list<Item> items_;
  std::string& line_;
  std::vector<size_t>& ends_;
  size_t next_ = 0;
};

}  // namespace

Format::Format(std::string_view layout) : nodes_(Parser(layout).parse_all()) {
  for (size_t k = 0; k < nodes_.size(); ++k) {
    if (nodes_[k].kind == Node::Kind::Group) reversion_ = k;
  }
}

void Format::apply(std::initializer_list<Item> items, std::string& text,
                   std::vector<size_t>& line_ends) const {
  Writer w(items, text, line_ends);
  if (!w.run(nodes_, 0)) return;
  // End of the layout with items left: a new line, and the layout again from
  // its last top-level group (or its start). A pass that takes no item ends it.
  while (w.items_left()) {
    size_t before = w.used();
    w.new_line();
    if (!w.run(nodes_, reversion_)) return;
    if (w.used() == before) return;
  }
}

void put_integer(std::string& out, int32_t value, int width, int min_digits) {
  char digits[10];
  const int n = put_digits(magnitude(value), digits);
  char buf[32];
  int len = 0;
  if (value < 0) buf[len++] = '-';
  for (int i = n; i < min_digits && len < 20; ++i) buf[len++] = '0';
  for (int i = 0; i < n; ++i) buf[len++] = digits[i];
  put_right_aligned(out, std::string_view(buf, static_cast<size_t>(len)), width);
}

void put_integer_field(char* out, int32_t value, int width) {
  char digits[10];
  const int n = put_digits(magnitude(value), digits);
  const int len = n + (value < 0 ? 1 : 0);
  if (len > width) {
    std::memset(out, '*', static_cast<size_t>(width));
    return;
  }
  std::memset(out, ' ', static_cast<size_t>(width - len));
  char* p = out + width - n;
  std::memcpy(p, digits, static_cast<size_t>(n));
  if (value < 0) p[-1] = '-';
}

void put_fixed(std::string& out, float value, int width, int decimals) {
  char buf[64];
  std::string_view text;
  if (std::isnan(value)) {
    text = "NaN";
  } else if (std::isinf(value)) {
    text = value < 0 ? "-Infinity" : "Infinity";
  } else {
    int len = std::snprintf(buf, sizeof buf, "%.*f", decimals, static_cast<double>(value));
    text = std::string_view(buf, static_cast<size_t>(len));
    // A value below 1 in magnitude drops its leading 0 when the field has no room for it.
    if (static_cast<int>(text.size()) > width) {
      size_t zero = text[0] == '-' ? 1 : 0;
      if (text.size() > zero + 1 && text[zero] == '0' && text[zero + 1] == '.') {
        for (size_t i = zero; i + 1 < text.size(); ++i) buf[i] = buf[i + 1];
        text = std::string_view(buf, text.size() - 1);
      }
    }
  }
  put_right_aligned(out, text, width);
}

void put_list_integer(std::string& out, int32_t value) { put_integer(out, value, 12); }

void put_list_real(std::string& out, float value) {
  char buf[64];
  const double v = value;
  int len;
  if (std::isnan(value)) {
    len = std::snprintf(buf, sizeof buf, "%s", "NaN");
  } else if (std::isinf(value)) {
    len = std::snprintf(buf, sizeof buf, "%s", value < 0 ? "-Infinity" : "Infinity");
  } else {
    // The decimal exponent of the value rounded to 7 significant digits picks the form.
    char e[32];
    std::snprintf(e, sizeof e, "%.6e", v);
    const char* exp_text = std::strchr(e, 'e');
    int exponent = exp_text ? std::atoi(exp_text + 1) : 0;
    if (value != 0.0f && exponent >= -1 && exponent <= 6) {
      len = std::snprintf(buf, sizeof buf, "%#11.*f    ", 6 - exponent, v);
    } else {
      len = std::snprintf(buf, sizeof buf, "%15.7E", v);
    }
  }
  put_right_aligned(out, std::string_view(buf, static_cast<size_t>(len)), 15);
}

}  // namespace parclas
