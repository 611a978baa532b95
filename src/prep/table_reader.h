// Reading a delimited text table as herdbooks and statistics programs write
// them: blank, tab, comma or semicolon separated, an optional header line,
// double quotes around fields, and R's row-name column.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace parclas::prep {

enum class Separator { Auto, Blank, Tab, Comma, Semicolon };
enum class HeaderMode { Auto, Yes, No };

std::string_view separator_name(Separator s);

// Hands out the lines of a file, read in large blocks, without their line
// end (LF, CR LF) and without a leading UTF-8 byte-order mark.
class LineReader {
 public:
  LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader();
  bool open(const std::string& path);
  // False at the end of the file or after a read error (failed() then).
  bool next(std::string_view& line);
  bool failed() const { return error_; }

 private:
  bool fill();
  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool at_eof_ = false;
  bool error_ = false;
  bool first_ = true;
};

// Splits one line into fields. Plain fields are views into the line, quoted
// ones into a buffer of their unquoted text; all stay valid until the next
// split and as long as the line.
class FieldSplitter {
 public:
  std::span<const std::string_view> split(std::string_view line, Separator separator);

 private:
  void add_separated(std::string_view line, char separator);
  void add_blank_separated(std::string_view line);
  size_t add_quoted(std::string_view line, size_t at);  // returns the index after the quote

  struct Copied {
    size_t field, start, length;
  };
  std::string text_;
  std::vector<Copied> copied_;
  std::vector<std::string_view> fields_;
};

struct TableLayout {
  Separator separator = Separator::Blank;
  bool header = false;
  bool row_names = false;  // the records carry a leading row-name field
  std::vector<std::string> names;  // header names, without the row-name column
};

// Lowercase, without blanks, '_', '.' and '-': "Birth_Year" and "birthyear" match.
std::string normalized_name(std::string_view name);

class TableReader {
 public:
  // Opens `path` and settles separator and header from its first lines
  // (where `separator` or `header` leave them open); `header_words` are the
  // normalized column names whose presence marks a header line.
  bool open(const std::string& path, Separator separator, HeaderMode header,
            std::span<const std::string_view> header_words, std::string& error);
  const TableLayout& layout() const { return layout_; }
  // The records among the first lines, as the records themselves will come.
  std::vector<std::vector<std::string>> first_records();
  // The fields of the next non-empty record, row name dropped.
  bool next(std::span<const std::string_view>& fields);
  long line_number() const { return line_number_; }
  bool failed() const { return lines_.failed(); }

 private:
  bool next_line(std::string_view& line);
  void settle_layout(Separator separator, HeaderMode header,
                     std::span<const std::string_view> header_words);

  LineReader lines_;
  FieldSplitter splitter_;
  TableLayout layout_;
  std::vector<std::string> sample_;  // the first lines, served again before the rest
  size_t replayed_ = 0;
  long line_number_ = 0;
};

}  // namespace parclas::prep
