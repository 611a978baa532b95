#include "text/text_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>
#include <stdexcept>

#include "text/fields.h"

namespace parclas {

namespace {

constexpr size_t kReadChunk = 1 << 20;
constexpr size_t kWriteChunk = 1 << 20;

const char* describe(IoError error) {
  switch (error) {
    case IoError::EndOfFile:
      return "end-of-file during read";
    case IoError::NotFound:
      return "file not found";
    case IoError::OpenFailure:
      return "open failure";
    case IoError::WriteFailure:
      return "error during write";
    case IoError::ReadFailure:
      return "error during read";
    case IoError::Syntax:
      return "list-directed I/O syntax error";
    case IoError::Conversion:
      return "input conversion error";
  }
  return "error";
}

bool is_separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '/'; }

// An integer value: optional sign and decimal digits only.
IoError parse_value(std::string_view tok, int32_t& out) {
  size_t i = 0;
  bool negative = false;
  if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) {
    negative = tok[i] == '-';
    ++i;
  }
  if (i == tok.size()) return IoError::Syntax;
  uint64_t v = 0;
  bool too_big = false;
  for (; i < tok.size(); ++i) {
    const unsigned d = static_cast<unsigned char>(tok[i]) - '0';
    if (d > 9) return IoError::Syntax;
    if (!too_big) {
      v = v * 10 + d;
      if (v > 2147483648ull) too_big = true;
    }
  }
  if (too_big || (!negative && v > 2147483647ull)) return IoError::Conversion;
  out = negative ? static_cast<int32_t>(0ll - static_cast<int64_t>(v)) : static_cast<int32_t>(v);
  return IoError{};
}

// A real value: an integer, a number with a decimal point, or either with an
// exponent (e, E, d or D).
IoError parse_value(std::string_view tok, float& out) {
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
  if (mantissa_digits == 0) return IoError::Syntax;
  const size_t mantissa_end = i;
  size_t exponent_begin = tok.size();
  if (i < tok.size()) {
    const char c = tok[i];
    if (c != 'e' && c != 'E' && c != 'd' && c != 'D') return IoError::Syntax;
    ++i;
    exponent_begin = i;
    if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) ++i;
    if (i == tok.size()) return IoError::Syntax;
    for (; i < tok.size(); ++i) {
      if (tok[i] < '0' || tok[i] > '9') return IoError::Syntax;
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
    if (std::fabs(d) >= 1.0 || std::isinf(d)) return IoError::Conversion;
    value = static_cast<float>(d);
  } else if (ec != std::errc() || end != text + n) {
    return IoError::Syntax;
  }
  out = value;
  return IoError{};
}

}  // namespace

struct TextIO::Unit {
  int number = 0;
  bool console = false;
  int fd = -1;
  bool open = false;
  std::string path;
  // reading: unread bytes are in[begin, end); `offset` is the file position of in[begin]
  std::vector<char> in;
  size_t begin = 0;
  size_t end = 0;
  bool at_eof = false;
  off_t offset = 0;
  // writing
  bool written = false;
  std::string out;
};

TextIO::TextIO(std::istream& console_in, std::ostream& console_out, std::ostream& console_err)
    : in_(console_in), out_(console_out), err_(console_err), units_(kMaxUnit + 1, nullptr) {
  Unit* cin = new Unit;
  cin->number = kConsoleIn;
  cin->console = true;
  cin->open = true;
  cin->path = "stdin";
  units_[kConsoleIn] = cin;
  Unit* cout = new Unit;
  cout->number = kConsoleOut;
  cout->console = true;
  cout->open = true;
  cout->path = "stdout";
  units_[kConsoleOut] = cout;
  line_.reserve(256);
}

TextIO::~TextIO() {
  for (Unit* u : units_) {
    if (u != nullptr && !u->console && u->open) ::close(u->fd);
    delete u;
  }
}

std::string TextIO::absolute_path(std::string_view name) {
  if (!name.empty() && name.front() == '/') return std::string(name);
  std::string path;
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd) != nullptr) path = cwd;
  path += '/';
  path += name;
  return path;
}

TextIO::Unit& TextIO::connected(int unit) {
  if (unit < 0 || unit > kMaxUnit || units_[static_cast<size_t>(unit)] == nullptr ||
      !units_[static_cast<size_t>(unit)]->open) {
    throw std::logic_error("unit not connected: " + std::to_string(unit));
  }
  return *units_[static_cast<size_t>(unit)];
}

void TextIO::connect(int unit, std::string_view raw_name, FileUse use) {
  if (unit < 0 || unit > kMaxUnit || unit == kConsoleIn || unit == kConsoleOut) {
    throw std::logic_error("bad unit");
  }
  Unit*& slot = units_[static_cast<size_t>(unit)];
  if (slot == nullptr) {
    slot = new Unit;
    slot->number = unit;
  }
  Unit& u = *slot;
  if (u.open) close(unit);
  const std::string_view name = trim_blanks(raw_name);
  const std::string file(name);
  u.path = absolute_path(name);
  u.begin = u.end = 0;
  u.at_eof = false;
  u.offset = 0;
  u.written = false;
  u.out.clear();
  if (name.empty()) fail(IoError::OpenFailure, unit);
  // The system would take the name only up to a NUL byte: two different
  // names could then open one file unnoticed.
  if (name.find('\0') != std::string_view::npos) fail(IoError::OpenFailure, unit);

  struct stat st {};
  int fd = -1;
  if (::stat(file.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) fail(IoError::OpenFailure, unit);
    fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == ETXTBSY || errno == EPERM)) {
      fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    }
  } else if (use == FileUse::Input) {
    // An input that is not there is never made up as an empty file: the run
    // would read nothing and end as if all were well.
    fail(errno == ENOENT || errno == ENOTDIR ? IoError::NotFound : IoError::OpenFailure, unit);
  } else {
    fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  }
  if (fd < 0) fail(IoError::OpenFailure, unit);
  u.fd = fd;
  u.open = true;
  if (u.in.size() < kReadChunk) u.in.resize(kReadChunk);
}

void TextIO::rewind(int unit) {
  Unit& u = connected(unit);
  if (u.console) return;
  flush(u);
  if (::lseek(u.fd, 0, SEEK_SET) < 0) fail(IoError::ReadFailure, unit);
  u.written = false;
  u.begin = u.end = 0;
  u.at_eof = false;
  u.offset = 0;
}

void TextIO::close(int unit) {
  Unit& u = connected(unit);
  if (u.console) return;
  flush(u);
  u.open = false;
  if (::close(u.fd) != 0 && u.written) {
    u.fd = -1;
    fail(IoError::WriteFailure, unit);
  }
  u.fd = -1;
}

bool TextIO::fill(Unit& u) {
  if (u.at_eof) return false;
  if (u.begin > 0) {
    std::memmove(u.in.data(), u.in.data() + u.begin, u.end - u.begin);
    u.end -= u.begin;
    u.begin = 0;
  }
  if (u.end == u.in.size()) u.in.resize(u.in.size() * 2);  // a line longer than the buffer
  while (true) {
    const ssize_t n = ::read(u.fd, u.in.data() + u.end, u.in.size() - u.end);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(IoError::ReadFailure, u.number);
    if (n == 0) {
      u.at_eof = true;
      return false;
    }
    u.end += static_cast<size_t>(n);
    return true;
  }
}

ReadResult TextIO::next_line(Unit& u, std::string_view& line) {
  if (u.console) {
    if (!std::getline(in_, console_line_)) return ReadResult::EndOfFile;
    if (!console_line_.empty() && console_line_.back() == '\r') console_line_.pop_back();
    line = console_line_;
    return ReadResult::Ok;
  }
  if (u.written) return ReadResult::EndOfFile;  // a written file ends after its last line
  size_t searched = u.begin;
  while (true) {
    const char* base = u.in.data();
    const void* hit = std::memchr(base + searched, '\n', u.end - searched);
    if (hit != nullptr) {
      const size_t lf = static_cast<size_t>(static_cast<const char*>(hit) - base);
      size_t stop = lf;
      if (stop > u.begin && base[stop - 1] == '\r') --stop;
      line = std::string_view(base + u.begin, stop - u.begin);
      u.offset += static_cast<off_t>(lf + 1 - u.begin);
      u.begin = lf + 1;
      return ReadResult::Ok;
    }
    const size_t scanned = u.end - u.begin;
    if (!fill(u)) {
      if (u.begin == u.end) return ReadResult::EndOfFile;
      line = std::string_view(u.in.data() + u.begin, u.end - u.begin);
      u.offset += static_cast<off_t>(u.end - u.begin);
      u.begin = u.end;
      return ReadResult::Ok;
    }
    searched = u.begin + scanned;
  }
}

ReadResult TextIO::read_line(int unit, std::string_view& line) {
  return next_line(connected(unit), line);
}

ReadResult TextIO::read_text(int unit, std::span<char> field) {
  std::string_view line;
  if (next_line(connected(unit), line) == ReadResult::EndOfFile) return ReadResult::EndOfFile;
  const size_t n = std::min(line.size(), field.size());
  std::memcpy(field.data(), line.data(), n);
  std::memset(field.data() + n, ' ', field.size() - n);
  return ReadResult::Ok;
}

ReadResult TextIO::skip_line(int unit) {
  std::string_view line;
  return next_line(connected(unit), line);
}

template <class T>
ReadResult TextIO::read_list(int unit, std::span<T> items) {
  Unit& u = connected(unit);
  if (items.empty()) return skip_line(unit);
  const size_t n = items.size();
  size_t k = 0;
  bool comma_is_null = true;  // a comma first in the read, or after a comma, is a null value
  std::string_view line;
  while (true) {
    if (next_line(u, line) == ReadResult::EndOfFile) return ReadResult::EndOfFile;
    const char* p = line.data();
    const char* const end = p + line.size();
    while (p < end) {
      const char c = *p;
      if (c == ' ' || c == '\t') {
        ++p;
        continue;
      }
      if (c == ',') {
        ++p;
        if (comma_is_null && ++k == n) return ReadResult::Ok;
        comma_is_null = true;
        continue;
      }
      if (c == '/') return ReadResult::Ok;
      const char* t = p;
      while (p < end && !is_separator(*p)) ++p;
      std::string_view tok(t, static_cast<size_t>(p - t));
      comma_is_null = false;
      size_t repeat = 1;
      const size_t star = tok.find('*');
      if (star != std::string_view::npos) {
        int32_t r = 0;
        const std::string_view count = tok.substr(0, star);
        if (count.empty() || count[0] == '+' || count[0] == '-' ||
            parse_value(count, r) != IoError{} || r <= 0) {
          fail(IoError::Syntax, unit);
        }
        repeat = static_cast<size_t>(r);
        tok.remove_prefix(star + 1);
        if (tok.empty()) {  // r* alone: r null values
          k = repeat >= n - k ? n : k + repeat;
          if (k == n) return ReadResult::Ok;
          continue;
        }
      }
      T value{};
      const IoError e = parse_value(tok, value);
      if (e != IoError{}) fail(e, unit);
      for (size_t r = 0; r < repeat && k < n; ++r) items[k++] = value;
      if (k == n) return ReadResult::Ok;
    }
  }
}

ReadResult TextIO::read_integers(int unit, std::span<int32_t> items) {
  return read_list(unit, items);
}

ReadResult TextIO::read_reals(int unit, std::span<float> items) { return read_list(unit, items); }

void TextIO::begin_writing(Unit& u) {
  // Writing makes the file end after the written lines: cut it at the
  // current position before the first line goes out.
  // Devices and pipes have no end to move.
  struct stat st {};
  const bool regular = ::fstat(u.fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular && (::ftruncate(u.fd, u.offset) != 0 || ::lseek(u.fd, u.offset, SEEK_SET) < 0)) {
    fail(IoError::WriteFailure, u.number);
  }
  u.begin = u.end = 0;
  u.written = true;
  if (u.out.capacity() < kWriteChunk) u.out.reserve(kWriteChunk + 1024);
}

void TextIO::flush(Unit& u) {
  if (u.console || u.out.empty()) return;
  const char* p = u.out.data();
  size_t left = u.out.size();
  while (left > 0) {
    const ssize_t n = ::write(u.fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      u.out.clear();
      fail(IoError::WriteFailure, u.number);
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  u.out.clear();
}

void TextIO::write_line(int unit, std::string_view text) {
  Unit& u = connected(unit);
  if (u.console) {
    if (console_muted_) return;
    out_.write(text.data(), static_cast<std::streamsize>(text.size()));
    out_.put('\n');
    return;
  }
  if (!u.written) begin_writing(u);
  u.out.append(text);
  u.out.append("\r\n", 2);
  if (u.out.size() >= kWriteChunk) flush(u);
}

void TextIO::write_formatted(int unit, const Format& layout, std::initializer_list<Item> items) {
  layout.apply(items, formatted_, formatted_ends_);
  size_t start = 0;
  for (const size_t end : formatted_ends_) {
    write_line(unit, std::string_view(formatted_).substr(start, end - start));
    start = end;
  }
}

void TextIO::write_list(int unit, std::initializer_list<Item> items) {
  line_.clear();
  std::string item;
  for (const Item& it : items) {
    item.clear();
    switch (it.kind) {
      case Item::Kind::Integer:
        put_list_integer(item, it.integer);
        break;
      case Item::Kind::Real:
        put_list_real(item, it.real);
        break;
      case Item::Kind::Text:
        item.assign(it.text);
        break;
    }
    if (!line_.empty() && line_.size() + item.size() > kListLineWidth) {
      write_line(unit, line_);
      line_.clear();
    }
    if (line_.empty() && it.kind == Item::Kind::Text) line_ += ' ';
    line_ += item;
  }
  write_line(unit, line_);
}

void TextIO::plain_stop() { throw RunEnd{kStopStatus, true}; }

void TextIO::fail(IoError error, int unit) {
  out_.flush();
  const Unit* u = (unit >= 0 && unit <= kMaxUnit) ? units_[static_cast<size_t>(unit)] : nullptr;
  const int code = static_cast<int>(error);
  err_ << "severe (" << code << "): " << describe(error) << ", unit " << unit << ", file "
       << (u != nullptr ? u->path : std::string()) << '\n';
  err_.flush();
  throw RunEnd{code};
}

void TextIO::empty_if_unwritten(int unit) {
  Unit& u = connected(unit);
  if (u.console || u.written) return;
  struct stat st {};
  if (::fstat(u.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return;
  if (::ftruncate(u.fd, 0) != 0) fail(IoError::WriteFailure, unit);
}

int TextIO::close_all() {
  for (size_t k = 0; k < units_.size(); ++k) {
    Unit* u = units_[k];
    if (u == nullptr || u->console || !u->open) continue;
    try {
      close(static_cast<int>(k));
    } catch (const RunEnd& end) {
      // One report: the remaining units are closed with what they hold.
      close_all_quietly();
      return end.status;
    }
  }
  out_.flush();
  if (!out_) {
    try {
      fail(IoError::WriteFailure, kConsoleOut);
    } catch (const RunEnd& end) {
      return end.status;
    }
  }
  return 0;
}

void TextIO::close_all_quietly() {
  for (Unit* u : units_) {
    if (u == nullptr || u->console || !u->open) continue;
    if (!u->out.empty()) {
      const char* p = u->out.data();
      size_t left = u->out.size();
      while (left > 0) {
        const ssize_t n = ::write(u->fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
      }
      u->out.clear();
    }
    ::close(u->fd);
    u->fd = -1;
    u->open = false;
  }
  out_.flush();
}

}  // namespace parclas
