#include "prep/table_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "prep/conventions.h"
#include "prep/values.h"

namespace parclas::prep {
namespace {

constexpr size_t kBlock = 1 << 20;
constexpr size_t kSampleLines = 50;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Without blanks, tabs and no-break spaces (U+00A0, as spreadsheets pad
// cells) at either end.
std::string_view trimmed(std::string_view s) {
  while (!s.empty()) {
    if (is_blank(s.front())) s.remove_prefix(1);
    else if (s.starts_with("\xC2\xA0")) s.remove_prefix(2);
    else break;
  }
  while (!s.empty()) {
    if (is_blank(s.back())) s.remove_suffix(1);
    else if (s.ends_with("\xC2\xA0")) s.remove_suffix(2);
    else break;
  }
  return s;
}

// Fields a line splits into at `c`, counting only separators outside quotes
// (all of them where a quote does not close).
size_t fields_at(std::string_view line, char c) {
  size_t n = 1;
  size_t all = 1;
  bool quoted = false;
  for (const char ch : line) {
    if (ch == '"') quoted = !quoted;
    all += ch == c;
    n += ch == c && !quoted;
  }
  return quoted ? all : n;
}

// The first of tab, semicolon and comma that every line holds the same
// number of times; else the first that every line holds; else blanks.
Separator detect_separator(const std::vector<std::string_view>& lines) {
  constexpr std::pair<char, Separator> kCandidates[] = {
      {'\t', Separator::Tab}, {';', Separator::Semicolon}, {',', Separator::Comma}};
  Separator everywhere = Separator::Blank;
  for (const auto& [c, s] : kCandidates) {
    bool in_all = !lines.empty();
    bool same_count = true;
    for (const auto line : lines) {
      const size_t n = fields_at(line, c);
      if (n == 1) in_all = false;
      if (n != fields_at(lines.front(), c)) same_count = false;
    }
    if (in_all && same_count) return s;
    if (in_all && everywhere == Separator::Blank) everywhere = s;
  }
  return everywhere;
}

bool all_empty(std::span<const std::string_view> fields) {
  return std::all_of(fields.begin(), fields.end(), [](std::string_view f) { return f.empty(); });
}

// Codes that stand for "no value" in any column, to tell text from numbers.
bool no_value(std::string_view v) {
  static const UnknownCodes codes;
  return codes.value(v);
}

}  // namespace

std::string_view separator_name(Separator s) {
  switch (s) {
    case Separator::Tab: return "tab";
    case Separator::Comma: return "comma";
    case Separator::Semicolon: return "semicolon";
    case Separator::Blank: return "blank";
    case Separator::Auto: break;
  }
  return "auto";
}

std::string_view encoding_name(Encoding e) {
  switch (e) {
    case Encoding::Utf8Bom: return "UTF-8 with byte-order mark";
    case Encoding::Utf16Le: return "UTF-16 LE";
    case Encoding::Utf16Be: return "UTF-16 BE";
    case Encoding::Utf8: break;
  }
  return "UTF-8";
}

// ---- lines ---------------------------------------------------------------

LineReader::~LineReader() {
  if (file_ != nullptr) std::fclose(file_);
}

void LineReader::fail(std::string why) {
  if (failure_.empty()) failure_ = std::move(why);
}

bool LineReader::open(const std::string& path) {
  path_ = path;
  errno = 0;
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) {
    fail("cannot read " + path + ": " + std::strerror(errno != 0 ? errno : ENOENT));
    return false;
  }
  buffer_.resize(kBlock);
  return true;
}

size_t LineReader::read_raw(char* to, size_t most) {
  errno = 0;
  const size_t got = std::fread(to, 1, most, file_);
  if (got < most) {
    if (std::ferror(file_) != 0) fail("cannot read " + path_ + ": " + std::strerror(errno != 0 ? errno : EIO));
    at_eof_ = true;
  }
  return got;
}

// Decodes the whole code units of raw_ onto the end of the text; a lone
// surrogate, or a file that ends inside a character, is a failure.
void LineReader::decode_utf16() {
  const size_t units = raw_kept_ / 2;
  if (buffer_.size() < end_ + units * 3 + 4) buffer_.resize(end_ + units * 3 + 4);
  char* out = buffer_.data() + end_;
  const bool little = encoding_ == Encoding::Utf16Le;
  const auto* in = reinterpret_cast<const unsigned char*>(raw_.data());
  auto broken = [&] { fail(path_ + ":" + std::to_string(decoded_lines_ + 1) + ": not valid UTF-16"); };
  for (size_t i = 0; i < units && failure_.empty(); ++i) {
    const uint32_t u = little ? in[2 * i] | uint32_t{in[2 * i + 1]} << 8 : uint32_t{in[2 * i]} << 8 | in[2 * i + 1];
    uint32_t cp = u;
    if (high_surrogate_ != 0) {
      if (u < 0xDC00 || u > 0xDFFF) {
        broken();
        break;
      }
      cp = 0x10000 + ((high_surrogate_ - 0xD800) << 10) + (u - 0xDC00);
      high_surrogate_ = 0;
    } else if (u >= 0xD800 && u <= 0xDBFF) {
      high_surrogate_ = u;
      continue;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      broken();
      break;
    }
    if (cp < 0x80) {
      *out++ = static_cast<char>(cp);
      if (cp == '\n') ++decoded_lines_;
    } else if (cp < 0x800) {
      *out++ = static_cast<char>(0xC0 | cp >> 6);
      *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *out++ = static_cast<char>(0xE0 | cp >> 12);
      *out++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *out++ = static_cast<char>(0xF0 | cp >> 18);
      *out++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      *out++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  end_ = static_cast<size_t>(out - buffer_.data());
  if (raw_kept_ % 2 == 1) raw_[0] = raw_[raw_kept_ - 1];
  raw_kept_ %= 2;
  if (at_eof_ && (raw_kept_ != 0 || high_surrogate_ != 0)) {
    fail(path_ + ":" + std::to_string(decoded_lines_ + 1) + ": the file ends inside a UTF-16 character");
  }
}

bool LineReader::fill() {
  if (file_ == nullptr || at_eof_ || !failure_.empty()) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);  // a line longer than the buffer
  const size_t had = end_;
  if (!started_) {
    started_ = true;
    end_ = read_raw(buffer_.data(), buffer_.size());
    const auto* b = reinterpret_cast<const unsigned char*>(buffer_.data());
    if (end_ >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
      encoding_ = b[0] == 0xFF ? Encoding::Utf16Le : Encoding::Utf16Be;
      raw_.assign(buffer_.begin() + 2, buffer_.begin() + static_cast<std::ptrdiff_t>(end_));
      raw_kept_ = raw_.size();
      end_ = 0;
      decode_utf16();
    } else if (end_ >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
      encoding_ = Encoding::Utf8Bom;
      begin_ = 3;
    }
    const std::string_view first(buffer_.data() + begin_, end_ - begin_);
    cr_only_ = first.find('\n') == std::string_view::npos && first.find('\r') != std::string_view::npos;
  } else if (encoding_ == Encoding::Utf16Le || encoding_ == Encoding::Utf16Be) {
    const size_t want = std::max<size_t>(2, (buffer_.size() - end_) / 3 * 2);
    if (raw_.size() < raw_kept_ + want) raw_.resize(raw_kept_ + want);
    raw_kept_ += read_raw(raw_.data() + raw_kept_, want);
    decode_utf16();
  } else {
    end_ += read_raw(buffer_.data() + end_, buffer_.size() - end_);
  }
  return end_ > had && failure_.empty();
}

bool LineReader::next(std::string_view& line) {
  while (failure_.empty()) {
    const char* start = buffer_.data() + begin_;
    const size_t available = end_ - begin_;
    const auto* end = static_cast<const char*>(std::memchr(start, cr_only_ ? '\r' : '\n', available));
    if (end != nullptr || (at_eof_ && available > 0)) {
      size_t length = end != nullptr ? static_cast<size_t>(end - start) : available;
      size_t advance = length + (end != nullptr ? 1 : 0);
      if (!cr_only_ && length > 0 && start[length - 1] == '\r') --length;
      // A line end of the other kind inside the line ends it too (files
      // pasted together from old and new systems).
      if (const auto* other = static_cast<const char*>(std::memchr(start, cr_only_ ? '\n' : '\r', length))) {
        length = static_cast<size_t>(other - start);
        advance = length + 1;
      }
      begin_ += advance;
      ++line_number_;
      line = std::string_view(start, length);
      // A byte-order mark at the start of a later line: files joined together.
      if (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
      if (std::memchr(start, '\0', length) != nullptr) {
        fail(path_ + ":" + std::to_string(line_number_) + ": a NUL byte: binary file, or UTF-16 without byte-order mark");
        return false;
      }
      return true;
    }
    if (!fill() && (!failure_.empty() || (at_eof_ && begin_ == end_))) return false;
  }
  return false;
}

// ---- fields --------------------------------------------------------------

size_t FieldSplitter::add_quoted(std::string_view line, size_t at) {
  const size_t start = text_.size();
  size_t i = at + 1;
  bool closed = false;
  for (; i < line.size(); ++i) {
    if (line[i] != '"') {
      text_.push_back(line[i]);
    } else if (i + 1 < line.size() && line[i + 1] == '"') {
      text_.push_back('"');
      ++i;
    } else {
      ++i;
      closed = true;
      break;
    }
  }
  if (!closed) bad_quote_ = true;
  const std::string_view inside = trimmed(std::string_view(text_).substr(start));
  copied_.push_back({fields_.size(), start + static_cast<size_t>(inside.data() - (text_.data() + start)), inside.size()});
  fields_.emplace_back();
  return i;
}

void FieldSplitter::add_separated(std::string_view line, char separator) {
  const size_t n = line.size();
  size_t i = 0;
  while (true) {
    size_t j = i;
    while (j < n && is_blank(line[j]) && line[j] != separator) ++j;
    size_t end;
    if (j < n && line[j] == '"') {
      end = add_quoted(line, j);
      const size_t rest = end;
      end = std::min(line.find(separator, end), n);
      if (!trimmed(line.substr(rest, end - rest)).empty()) bad_quote_ = true;
    } else {
      end = std::min(line.find(separator, i), n);
      fields_.push_back(trimmed(line.substr(i, end - i)));
    }
    if (end >= n) return;
    i = end + 1;
  }
}

void FieldSplitter::add_blank_separated(std::string_view line) {
  const size_t n = line.size();
  size_t i = 0;
  while (true) {
    while (i < n && is_blank(line[i])) ++i;
    if (i >= n) return;
    if (line[i] == '"') {
      i = add_quoted(line, i);
      if (i < n && !is_blank(line[i])) bad_quote_ = true;
    } else {
      const size_t start = i;
      while (i < n && !is_blank(line[i])) ++i;
      fields_.push_back(trimmed(line.substr(start, i - start)));
    }
  }
}

std::span<const std::string_view> FieldSplitter::split(std::string_view line, Separator separator) {
  text_.clear();
  copied_.clear();
  fields_.clear();
  bad_quote_ = false;
  if (!trimmed(line).empty()) {
    switch (separator) {
      case Separator::Tab: add_separated(line, '\t'); break;
      case Separator::Comma: add_separated(line, ','); break;
      case Separator::Semicolon: add_separated(line, ';'); break;
      default: add_blank_separated(line); break;
    }
  }
  for (const Copied& c : copied_) fields_[c.field] = std::string_view(text_.data() + c.start, c.length);
  return fields_;
}

// ---- table ---------------------------------------------------------------

std::string TableReader::at(long line) const { return path_ + ":" + std::to_string(line); }

bool TableReader::open(const std::string& path, Separator separator, HeaderMode header,
                       bool (*known_name)(std::string_view), std::string& error) {
  path_ = path;
  if (!lines_.open(path)) {
    error = lines_.failure();
    return false;
  }
  std::string_view line;
  while (sample_.size() < kSampleLines && lines_.next(line)) {
    if (!trimmed(line).empty()) sample_.push_back({std::string(line), lines_.line_number()});
  }
  if (!lines_.failure().empty()) {
    error = lines_.failure();
    return false;
  }
  layout_.encoding = lines_.encoding();
  settle_layout(separator, header, known_name);
  return true;
}

void TableReader::settle_layout(Separator separator, HeaderMode header, bool (*known_name)(std::string_view)) {
  std::vector<std::string_view> content;
  for (const auto& s : sample_) content.emplace_back(s.text);
  layout_.separator = separator == Separator::Auto ? detect_separator(content) : separator;
  std::vector<std::vector<std::string>> rows;
  long first_line = 0;
  for (const auto& s : sample_) {
    const auto fields = splitter_.split(s.text, layout_.separator);
    if (fields.empty() || all_empty(fields)) continue;
    if (rows.empty()) first_line = s.number;
    rows.emplace_back(fields.begin(), fields.end());
  }
  if (rows.empty()) return;
  const auto& first = rows[0];
  // R writes one name fewer than the fields of its records: the row names.
  size_t one_more = 0;
  for (size_t r = 1; r < rows.size(); ++r) one_more += rows[r].size() == first.size() + 1;
  const bool names_only = std::none_of(first.begin(), first.end(), [](const std::string& f) { return no_value(f) || is_number(f); });
  const bool r_style = names_only && rows.size() > 1 && one_more * 2 > rows.size() - 1;
  bool is_header = header == HeaderMode::Yes;
  if (header == HeaderMode::Auto) {
    is_header = r_style;
    for (const auto& f : first) is_header = is_header || known_name(f);
    for (size_t c = 0; c < first.size() && !is_header; ++c) {
      if (no_value(first[c]) || is_number(first[c])) continue;
      bool numbers_below = false;
      bool all_numbers_below = rows.size() > 1;
      for (size_t r = 1; r < rows.size(); ++r) {
        const size_t k = c + (r_style && rows[r].size() == first.size() + 1 ? 1 : 0);
        const std::string_view v = k < rows[r].size() ? std::string_view(rows[r][k]) : "";
        if (is_number(v)) numbers_below = true;
        else if (!no_value(v)) all_numbers_below = false;
      }
      is_header = numbers_below && all_numbers_below;
    }
  }
  layout_.header = is_header;
  if (is_header) {
    layout_.header_line = first_line;
    layout_.names = first;
    header_fields_ = first;
    if (r_style) {
      layout_.row_names = true;
    } else if (!first.empty() && first[0].empty() && rows.size() > 1) {
      layout_.row_names = true;  // a header with an empty name over the row names
      layout_.names.erase(layout_.names.begin());
    }
    layout_.fields = layout_.names.size();
    return;
  }
  // Without header: the field count of most of the first lines.
  std::map<size_t, size_t> seen;
  for (const auto& row : rows) ++seen[row.size()];
  layout_.fields = rows[0].size();
  for (const auto& [count, lines] : seen) {
    if (lines > seen[layout_.fields]) layout_.fields = count;
  }
}

std::vector<std::vector<std::string>> TableReader::first_records() {
  std::vector<std::vector<std::string>> records;
  for (const auto& s : sample_) {
    if (layout_.header && s.number == layout_.header_line) continue;
    auto fields = splitter_.split(s.text, layout_.separator);
    if (fields.empty() || all_empty(fields) || repeats_header(fields) || splitter_.bad_quote()) continue;
    if (layout_.row_names) fields = fields.subspan(1);
    if (fields.size() == layout_.fields) records.emplace_back(fields.begin(), fields.end());
  }
  return records;
}

bool TableReader::repeats_header(std::span<const std::string_view> fields) const {
  return layout_.header && fields.size() == header_fields_.size() &&
         std::equal(fields.begin(), fields.end(), header_fields_.begin());
}

bool TableReader::next_line(std::string_view& line) {
  if (replayed_ < sample_.size()) {
    line = sample_[replayed_].text;
    line_number_ = sample_[replayed_++].number;
    return true;
  }
  if (!lines_.next(line)) return false;
  line_number_ = lines_.line_number();
  return true;
}

bool TableReader::next(std::span<const std::string_view>& fields) {
  std::string_view line;
  while (next_line(line)) {
    fields = splitter_.split(line, layout_.separator);
    if (fields.empty() || all_empty(fields)) continue;
    if (layout_.header && line_number_ == layout_.header_line) continue;
    if (repeats_header(fields)) {
      ++repeated_headers_;  // files joined together, each with its header
      continue;
    }
    if (splitter_.bad_quote()) {
      if (bad_quotes_.first.size() < kFirstFaults) bad_quotes_.first.push_back(at(line_number_) + ": " + std::string(line.substr(0, 60)));
      ++bad_quotes_.count;
      continue;
    }
    if (layout_.row_names) fields = fields.subspan(1);
    CountTally& tally = fields.size() == layout_.fields ? matching_ : counts_[fields.size()];
    ++tally.lines;
    if (tally.first.size() < kFirstFaults) tally.first.push_back(line_number_);
    if (fields.size() == layout_.fields) return true;
  }
  return false;
}

std::vector<std::pair<std::string, LineFaults>> TableReader::faults() const {
  std::vector<std::pair<std::string, LineFaults>> out;
  if (counts_.empty() && bad_quotes_.count == 0) return out;
  std::map<size_t, CountTally> counts = counts_;
  if (matching_.lines > 0) counts[layout_.fields] = matching_;
  if (bad_quotes_.count > 0) out.emplace_back("lines with a quote that does not close, or text after a closing quote", bad_quotes_);
  // The table's count: the header's, unless most records have another;
  // without header, that of most records.
  uint64_t records = 0;
  size_t table = layout_.fields;
  uint64_t most = 0;
  for (const auto& [count, tally] : counts) {
    records += tally.lines;
    if (tally.lines > most) {
      most = tally.lines;
      if (!layout_.header) table = count;
    }
  }
  if (layout_.header) {
    for (const auto& [count, tally] : counts) {
      if (count != layout_.fields && tally.lines * 2 > records) table = count;
    }
  }
  if (counts.size() <= 1 && (counts.empty() || counts.begin()->first == layout_.fields)) return out;
  LineFaults wrong;
  std::vector<std::pair<long, size_t>> lines;  // line, field count
  const bool header_wrong = layout_.header && table != layout_.fields;
  if (header_wrong) {
    ++wrong.count;
    wrong.first.push_back(at(layout_.header_line) + ": the header has " + std::to_string(layout_.fields) +
                          " fields, most lines " + std::to_string(table));
  }
  for (const auto& [count, tally] : counts) {
    if (count == table) continue;
    wrong.count += tally.lines;
    for (const long l : tally.first) lines.emplace_back(l, count);
  }
  std::sort(lines.begin(), lines.end());
  const std::string against = layout_.header && !header_wrong ? "the header has " : "most lines have ";
  for (const auto& [l, count] : lines) {
    if (wrong.first.size() >= kFirstFaults) break;
    wrong.first.push_back(at(l) + ": " + std::to_string(count) + (count == 1 ? " field, " : " fields, ") + against +
                          std::to_string(table));
  }
  out.emplace_back("lines with another number of fields than " +
                       std::string(layout_.header && !header_wrong ? "the header" : "most lines") + " (" +
                       std::to_string(table) + "; a trailing separator makes an empty field)",
                   std::move(wrong));
  return out;
}

}  // namespace parclas::prep
