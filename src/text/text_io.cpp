#include "text/text_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "text/fields.h"
#include "text/numbers.h"
#include "text/progress.h"

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

IoError error_of(Lexed lexed) {
  return lexed == Lexed::Conversion ? IoError::Conversion : IoError::Syntax;
}
Lexed lex_value(std::string_view token, int32_t& value) { return lex_integer(token, value); }
Lexed lex_value(std::string_view token, float& value) { return lex_real(token, value); }

// Writes all `size` bytes; false when the system refuses some of them.
bool write_all(int fd, const char* p, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
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
  // a line read and given back: the next read takes it again
  off_t file_size = 0;  // for the share of the file read
  bool read_failed = false;  // a read refused while failures were deferred
  bool held = false;
  std::string_view held_line;
  // writing
  bool written = false;
  std::string out;
};

TextIO::TextIO(std::istream& console_in, std::ostream& console_out, std::ostream& console_err)
    : in_(console_in), out_(console_out), err_(console_err), units_(kMaxUnit + 1) {
  for (const auto& [number, path] : {std::pair{kConsoleIn, "stdin"}, {kConsoleOut, "stdout"}}) {
    auto u = std::make_unique<Unit>();
    u->number = number;
    u->console = true;
    u->open = true;
    u->path = path;
    units_[static_cast<size_t>(number)] = std::move(u);
  }
  line_.reserve(256);
}

TextIO::~TextIO() {
  for (const auto& u : units_) {
    if (u != nullptr && !u->console && u->open) ::close(u->fd);
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

TextIO::Unit* TextIO::find(int unit) const {
  return unit >= 0 && unit <= kMaxUnit ? units_[static_cast<size_t>(unit)].get() : nullptr;
}

TextIO::Unit& TextIO::connected(int unit) {
  Unit* u = find(unit);
  if (u == nullptr || !u->open) throw std::logic_error("unit not connected: " + std::to_string(unit));
  return *u;
}

void TextIO::reset_reading(Unit& u) {
  u.begin = u.end = 0;
  u.at_eof = false;
  u.offset = 0;
  u.held = false;
}

void TextIO::connect(int unit, std::string_view raw_name, FileUse use) {
  if (unit < 0 || unit > kMaxUnit || unit == kConsoleIn || unit == kConsoleOut) {
    throw std::logic_error("bad unit");
  }
  std::unique_ptr<Unit>& slot = units_[static_cast<size_t>(unit)];
  if (slot == nullptr) {
    slot = std::make_unique<Unit>();
    slot->number = unit;
  }
  Unit& u = *slot;
  if (u.open) close(unit);
  const std::string_view name = trim_blanks(raw_name);
  const std::string file(name);
  u.path = absolute_path(name);
  reset_reading(u);
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
  struct stat opened {};
  u.file_size = ::fstat(fd, &opened) == 0 ? opened.st_size : 0;
  if (u.in.size() < kReadChunk) u.in.resize(kReadChunk);
}

void TextIO::rewind(int unit) {
  Unit& u = connected(unit);
  if (u.console) return;
  flush(u);
  if (::lseek(u.fd, 0, SEEK_SET) < 0) fail(IoError::ReadFailure, unit);
  u.written = false;
  reset_reading(u);
}

bool TextIO::try_rewind(int unit) {
  Unit& u = connected(unit);
  if (u.console || u.written || !u.out.empty() || ::lseek(u.fd, 0, SEEK_SET) < 0) return false;
  reset_reading(u);
  return true;
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
    if (n < 0 && defer_read_failures_) {
      u.read_failed = true;
      return false;
    }
    if (n < 0) fail(IoError::ReadFailure, u.number);
    if (n == 0) {
      u.at_eof = true;
      return false;
    }
    u.end += static_cast<size_t>(n);
    stage_progress().set(u.offset + static_cast<off_t>(u.end - u.begin), u.file_size);
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
  if (u.held) {
    u.held = false;
    line = u.held_line;
    return ReadResult::Ok;
  }
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
      if (u.read_failed) {  // deferred: nothing is taken, the next read tries again
        u.read_failed = false;
        return ReadResult::EndOfFile;
      }
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
  if (next_line(u, line) == ReadResult::EndOfFile) return ReadResult::EndOfFile;
  if constexpr (std::is_same_v<T, int32_t>) {
    if (read_plain_integers(line, items)) return ReadResult::Ok;
  }
  for (bool first = true;; first = false) {
    if (!first && next_line(u, line) == ReadResult::EndOfFile) return ReadResult::EndOfFile;
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
            lex_integer(count, r) != Lexed::Ok || r <= 0) {
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
      const Lexed lexed = lex_value(tok, value);
      if (lexed != Lexed::Ok) fail(error_of(lexed), unit);
      for (size_t r = 0; r < repeat && k < n; ++r) items[k++] = value;
      if (k == n) return ReadResult::Ok;
    }
  }
}

PlainRead TextIO::read_plain_record(int unit, std::span<int32_t> items) {
  Unit& u = connected(unit);
  std::string_view line;
  if (u.console) throw std::logic_error("plain records are read from files only");
  if (next_line(u, line) == ReadResult::EndOfFile) return PlainRead::EndOfFile;
  if (read_plain_integers(line, items)) return PlainRead::Record;
  // The line stays in the buffer until the next read, which takes it again.
  u.held = true;
  u.held_line = line;
  return PlainRead::Other;
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
  const bool written = write_all(u.fd, u.out.data(), u.out.size());
  u.out.clear();
  if (!written) fail(IoError::WriteFailure, u.number);
}

void TextIO::write_line(int unit, std::string_view text) {
  Unit& u = connected(unit);
  if (u.console) {
    if (console_muted_) return;
    // Each console line goes out at once: a log that is redirected to a
    // file shows how far the run has come.
    out_.write(text.data(), static_cast<std::streamsize>(text.size()));
    out_.put('\n');
    out_.flush();
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
  erase_progress_line();
  const Unit* u = find(unit);
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
    const Unit* u = units_[k].get();
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
  for (const auto& u : units_) {
    if (u == nullptr || u->console || !u->open) continue;
    (void)write_all(u->fd, u->out.data(), u->out.size());
    u->out.clear();
    ::close(u->fd);
    u->fd = -1;
    u->open = false;
  }
  out_.flush();
}

}  // namespace parclas
