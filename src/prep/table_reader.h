// Reading a delimited text table as herdbooks, spreadsheets and statistics
// programs write them: UTF-8 (with or without byte-order mark) or UTF-16
// with byte-order mark, LF, CR LF or CR line ends, blank, tab, comma or
// semicolon separated, an optional header line, double quotes around fields,
// and R's row-name column. Every record must have the table's field count;
// what does not read as it means is collected, by line, for the caller.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace parclas::prep {

enum class Separator { Auto, Blank, Tab, Comma, Semicolon };
enum class HeaderMode { Auto, Yes, No };
enum class Encoding { Utf8, Utf8Bom, Utf16Le, Utf16Be };

std::string_view separator_name(Separator s);
std::string_view encoding_name(Encoding e);

// Hands out the lines of a file, read in large blocks, as UTF-8 without
// their line end and without a byte-order mark. UTF-16 is converted. A NUL
// byte, or UTF-16 that does not decode, ends the reading with failure().
class LineReader {
 public:
  LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader();
  // False with failure() when the file cannot be opened.
  bool open(const std::string& path);
  // False at the end of the file or on a failure.
  bool next(std::string_view& line);
  long line_number() const { return line_number_; }  // of the last line handed out
  Encoding encoding() const { return encoding_; }
  // Empty, or why the file cannot be read on: "cannot read PATH: reason",
  // "PATH:LINE: ...".
  const std::string& failure() const { return failure_; }

 private:
  bool fill();
  size_t read_raw(char* to, size_t most);
  void decode_utf16();
  void fail(std::string why);
  std::FILE* file_ = nullptr;
  std::string path_;
  std::vector<char> buffer_;  // UTF-8 text; [begin_, end_) not handed out yet
  size_t begin_ = 0;
  size_t end_ = 0;
  std::vector<char> raw_;  // UTF-16: bytes read, not yet decoded
  size_t raw_kept_ = 0;
  uint32_t high_surrogate_ = 0;
  long decoded_lines_ = 0;  // UTF-16: line ends decoded so far, to place a fault
  bool at_eof_ = false;
  bool started_ = false;
  bool cr_only_ = false;  // lines end with CR alone
  Encoding encoding_ = Encoding::Utf8;
  long line_number_ = 0;
  std::string failure_;
};

// Splits one line into fields, each without blanks at its ends. Plain
// fields are views into the line, quoted ones into a buffer of their
// unquoted text; all stay valid until the next split and as long as the
// line. `bad_quote()` tells that a quote of the line did not close, or that
// text followed a closing quote.
class FieldSplitter {
 public:
  std::span<const std::string_view> split(std::string_view line, Separator separator);
  bool bad_quote() const { return bad_quote_; }

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
  bool bad_quote_ = false;
};

struct TableLayout {
  Encoding encoding = Encoding::Utf8;
  Separator separator = Separator::Blank;
  bool header = false;
  bool row_names = false;          // the records carry a leading row-name field
  std::vector<std::string> names;  // header names, without the row-name column
  size_t fields = 0;               // fields of a record, row name dropped
  long header_line = 0;
};

// A fault of one kind, by line: how many lines, and the first of them.
struct LineFaults {
  uint64_t count = 0;
  std::vector<std::string> first;  // "PATH:LINE: what", at most kFirstFaults
};
inline constexpr size_t kFirstFaults = 10;

class TableReader {
 public:
  // Opens `path` and settles encoding, separator, header and field count
  // from its first lines (where `separator` and `header` leave them open).
  // A first line is a header when `known_name` holds for one of its fields,
  // or when a field holds text where the lines below hold numbers.
  bool open(const std::string& path, Separator separator, HeaderMode header,
            bool (*known_name)(std::string_view field), std::string& error);
  const TableLayout& layout() const { return layout_; }
  const std::string& path() const { return path_; }
  // The records among the first lines, as the records themselves will come.
  std::vector<std::vector<std::string>> first_records();
  // The fields of the next record with the table's field count, row name
  // dropped. Empty lines, lines of empty fields only, and lines with
  // another field count or a broken quote are passed over (see faults()).
  bool next(std::span<const std::string_view>& fields);
  long line_number() const { return line_number_; }  // of the last record or line read
  // After the last record: what kept lines from being read, each kind with
  // its lines; empty when every line read as it means. A read failure is
  // the first entry.
  std::vector<std::pair<std::string, LineFaults>> faults() const;
  const std::string& failure() const { return lines_.failure(); }
  // Lines below the first that repeat the header, passed over.
  uint64_t repeated_headers() const { return repeated_headers_; }

 private:
  bool next_line(std::string_view& line);
  // A line below the first that repeats the header, as joined files have.
  bool repeats_header(std::span<const std::string_view> fields) const;
  void settle_layout(Separator separator, HeaderMode header, bool (*known_name)(std::string_view));
  std::string at(long line) const;  // "PATH:LINE"

  struct CountTally {
    uint64_t lines = 0;
    std::vector<long> first;  // at most kFirstFaults line numbers
  };

  std::string path_;
  LineReader lines_;
  FieldSplitter splitter_;
  TableLayout layout_;
  struct SampleLine {
    std::string text;
    long number;
  };
  std::vector<SampleLine> sample_;  // the first lines, served again before the rest
  size_t replayed_ = 0;
  long line_number_ = 0;
  CountTally matching_;                  // records with the table's field count
  std::map<size_t, CountTally> counts_;  // the other field counts, header excluded
  LineFaults bad_quotes_;
  std::vector<std::string> header_fields_;  // the header line as split
  uint64_t repeated_headers_ = 0;
};

}  // namespace parclas::prep
