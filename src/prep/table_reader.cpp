#include "prep/table_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "prep/values.h"

namespace parclas::prep {
namespace {

constexpr size_t kBlock = 1 << 20;
constexpr size_t kSampleLines = 50;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// Separator occurrences outside double quotes.
size_t count_outside_quotes(std::string_view line, char c) {
  size_t n = 0;
  bool quoted = false;
  for (const char ch : line) {
    if (ch == '"') quoted = !quoted;
    else if (ch == c && !quoted) ++n;
  }
  return n;
}

Separator detect_separator(const std::vector<std::string>& lines) {
  for (const auto& [c, s] : {std::pair{'\t', Separator::Tab}, std::pair{';', Separator::Semicolon},
                             std::pair{',', Separator::Comma}}) {
    bool everywhere = !lines.empty();
    for (const auto& line : lines) {
      if (!trimmed(line).empty() && count_outside_quotes(line, c) == 0) everywhere = false;
    }
    if (everywhere) return s;
  }
  return Separator::Blank;
}

bool missing_like(std::string_view v) { return v.empty() || v == "NA" || v == "." ; }

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

std::string normalized_name(std::string_view name) {
  std::string out;
  for (const char c : name) {
    if (c == ' ' || c == '_' || c == '.' || c == '-') continue;
    out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return out;
}

// ---- lines ---------------------------------------------------------------

LineReader::~LineReader() {
  if (file_ != nullptr) std::fclose(file_);
}

bool LineReader::open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) return false;
  buffer_.resize(kBlock);
  return true;
}

bool LineReader::fill() {
  if (at_eof_ || file_ == nullptr) return false;
  if (begin_ > 0) {
    std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
              buffer_.begin() + static_cast<std::ptrdiff_t>(end_), buffer_.begin());
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);  // a line longer than the block
  const size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
  end_ += got;
  if (got == 0) {
    at_eof_ = true;
    error_ = std::ferror(file_) != 0;
  }
  return got > 0;
}

bool LineReader::next(std::string_view& line) {
  while (true) {
    const char* start = buffer_.data() + begin_;
    const auto* nl = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    if (nl != nullptr || (at_eof_ && begin_ < end_)) {
      const size_t length = nl != nullptr ? static_cast<size_t>(nl - start) : end_ - begin_;
      begin_ += length + (nl != nullptr ? 1 : 0);
      line = std::string_view(start, length);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (first_) {
        first_ = false;
        if (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
      }
      return true;
    }
    if (!fill() && begin_ == end_) return false;
  }
}

// ---- fields --------------------------------------------------------------

size_t FieldSplitter::add_quoted(std::string_view line, size_t at) {
  const size_t start = text_.size();
  size_t i = at + 1;
  for (; i < line.size(); ++i) {
    if (line[i] != '"') {
      text_.push_back(line[i]);
    } else if (i + 1 < line.size() && line[i + 1] == '"') {
      text_.push_back('"');
      ++i;
    } else {
      ++i;
      break;
    }
  }  // an unclosed quote runs to the end of the line
  copied_.push_back({fields_.size(), start, text_.size() - start});
  fields_.emplace_back();
  return i;
}

void FieldSplitter::add_separated(std::string_view line, char separator) {
  const size_t n = line.size();
  size_t i = 0;
  while (true) {
    size_t j = i;
    while (j < n && line[j] == ' ') ++j;
    size_t end;
    if (j < n && line[j] == '"') {
      end = add_quoted(line, j);
      while (end < n && line[end] != separator) ++end;
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
    } else {
      const size_t start = i;
      while (i < n && !is_blank(line[i])) ++i;
      fields_.push_back(line.substr(start, i - start));
    }
  }
}

std::span<const std::string_view> FieldSplitter::split(std::string_view line, Separator separator) {
  text_.clear();
  copied_.clear();
  fields_.clear();
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

bool TableReader::open(const std::string& path, Separator separator, HeaderMode header,
                       std::span<const std::string_view> header_words, std::string& error) {
  if (!lines_.open(path)) {
    error = "cannot open " + path;
    return false;
  }
  std::string_view line;
  while (sample_.size() < kSampleLines && lines_.next(line)) sample_.emplace_back(line);
  if (lines_.failed()) {
    error = "cannot read " + path;
    return false;
  }
  settle_layout(separator, header, header_words);
  if (layout_.header) {  // the header line itself is not a record
    while (next_line(line)) {
      ++line_number_;
      if (!trimmed(line).empty()) break;
    }
  }
  return true;
}

void TableReader::settle_layout(Separator separator, HeaderMode header,
                                std::span<const std::string_view> header_words) {
  std::vector<std::string> content;
  for (const auto& s : sample_) {
    if (!trimmed(s).empty()) content.push_back(s);
  }
  layout_.separator = separator == Separator::Auto ? detect_separator(content) : separator;
  if (content.empty()) return;
  std::vector<std::vector<std::string>> rows;
  for (const auto& s : content) {
    const auto fields = splitter_.split(s, layout_.separator);
    rows.emplace_back(fields.begin(), fields.end());
  }
  const auto& first = rows[0];
  bool is_header = header == HeaderMode::Yes;
  if (header == HeaderMode::Auto) {
    for (const auto& f : first) {
      const std::string n = normalized_name(f);
      if (std::find(header_words.begin(), header_words.end(), n) != header_words.end()) is_header = true;
    }
    const bool one_fewer = rows.size() > 1 && rows[1].size() == first.size() + 1;
    for (size_t c = 0; c < first.size() && !is_header; ++c) {
      if (missing_like(first[c]) || is_number(first[c])) continue;
      if (one_fewer) is_header = true;
      bool numbers_below = false;
      bool all_numbers_below = rows.size() > 1;
      for (size_t r = 1; r < rows.size(); ++r) {
        const std::string_view v = c < rows[r].size() ? std::string_view(rows[r][c]) : "";
        if (is_number(v)) numbers_below = true;
        else if (!missing_like(v)) all_numbers_below = false;
      }
      if (numbers_below && all_numbers_below) is_header = true;
    }
  }
  layout_.header = is_header;
  if (!is_header) return;
  layout_.names = first;
  if (rows.size() > 1 && rows[1].size() == first.size() + 1) {
    layout_.row_names = true;
  } else if (!first.empty() && first[0].empty()) {
    layout_.row_names = true;
    layout_.names.erase(layout_.names.begin());
  }
}

std::vector<std::vector<std::string>> TableReader::first_records() {
  std::vector<std::vector<std::string>> records;
  bool header_seen = !layout_.header;
  for (const auto& line : sample_) {
    auto fields = splitter_.split(line, layout_.separator);
    if (fields.empty()) continue;
    if (!header_seen) {
      header_seen = true;
      continue;
    }
    if (layout_.row_names) fields = fields.subspan(1);
    records.emplace_back(fields.begin(), fields.end());
  }
  return records;
}

bool TableReader::next_line(std::string_view& line) {
  if (replayed_ < sample_.size()) {
    line = sample_[replayed_++];
    return true;
  }
  return lines_.next(line);
}

bool TableReader::next(std::span<const std::string_view>& fields) {
  std::string_view line;
  while (next_line(line)) {
    ++line_number_;
    fields = splitter_.split(line, layout_.separator);
    if (fields.empty()) continue;
    if (layout_.row_names) fields = fields.subspan(1);
    return true;
  }
  return false;
}

}  // namespace parclas::prep
