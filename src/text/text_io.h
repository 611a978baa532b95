// The one text layer of the program: numbered units connected to files, line
// and list-directed reading, formatted and list-directed writing, and the two
// ways of ending a run early (plain stop, read-error report).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "text/format.h"

namespace parclas {

inline constexpr int kConsoleIn = 5;
inline constexpr int kConsoleOut = 6;
inline constexpr int kMaxUnit = 99;

// Exit statuses besides the error numbers of the read-error report: a run
// that ends normally, one that stops at a fatal condition, and one that meets
// an internal error of the program (or cannot get the memory it needs).
inline constexpr int kNormalEnd = 0;
inline constexpr int kStopStatus = 1;
inline constexpr int kInternalErrorStatus = 70;
inline constexpr int kOutOfMemoryStatus = 70;

// Thrown to end the run; the run's entry point catches it, closes the units
// and returns `status` as the exit status. A plain stop closes the units as
// the normal end does; after a read-error report they are closed quietly.
struct RunEnd {
  int status;
  bool plain = false;
};

// Error numbers and texts of the read-error report.
enum class IoError : int {
  EndOfFile = 24,
  NotFound = 29,
  OpenFailure = 30,
  WriteFailure = 38,
  ReadFailure = 39,
  Syntax = 59,
  Conversion = 64,
};

enum class ReadResult { Ok, EndOfFile };
// What a quick read of a record of plain integers gave: the record, the end
// of the file, or a line that list-directed input must read by its full
// rules (it is left unread).
enum class PlainRead { Record, EndOfFile, Other };

// What a connected file is to the run: an input is only read, and a name
// that names no file is an error; an output is created when it is missing.
enum class FileUse { Input, Output };

class TextIO {
 public:
  TextIO(std::istream& console_in, std::ostream& console_out, std::ostream& console_err);
  ~TextIO();
  TextIO(const TextIO&) = delete;
  TextIO& operator=(const TextIO&) = delete;

  // Connects `unit` to the file named by `name` (blanks around it ignored).
  // A missing input ends the run with error 29 and creates nothing; a missing
  // output is created empty, and an existing one is not emptied until the
  // first line is written to it. Any other failure ends the run with error
  // 30, as does a name holding a NUL byte.
  void connect(int unit, std::string_view name, FileUse use);
  void rewind(int unit);
  // As rewind, for a reader that works ahead of its turn: false, with
  // nothing changed and nothing reported, where the file cannot be read again
  // from its start (a pipe) or holds unwritten lines.
  bool try_rewind(int unit);
  void close(int unit);

  // Reads the next line into `field` (blank-padded, longer lines cut).
  [[nodiscard]] ReadResult read_text(int unit, std::span<char> field);
  // List-directed reads. The items keep their values where the input has
  // null values or a slash.
  [[nodiscard]] ReadResult read_integers(int unit, std::span<int32_t> items);
  [[nodiscard]] ReadResult read_reals(int unit, std::span<float> items);
  [[nodiscard]] ReadResult skip_line(int unit);
  // Reads the next line as a record of plain integers (see
  // read_plain_integers) without any report: a line that is not one is left
  // for the next read, and the items are untouched.
  [[nodiscard]] PlainRead read_plain_record(int unit, std::span<int32_t> items);
  // Fetches the next raw line (no CR before LF); valid until the next read.
  [[nodiscard]] ReadResult read_line(int unit, std::string_view& line);

  // Writes one line of text as it stands.
  void write_line(int unit, std::string_view text);
  // Writes the items by the layout; one or more lines.
  void write_formatted(int unit, const Format& layout, std::initializer_list<Item> items);
  // Writes the items list-directed; one line, more if it passes 80 columns.
  void write_list(int unit, std::initializer_list<Item> items);

  // While set, a read that the system refuses ends the line reads as the end
  // of the file would, without a report and without taking a partial line:
  // the next read, made without it, tries again and reports the failure in
  // its place. Lets a stage read ahead of what it has written.
  void defer_read_failures(bool deferred) { defer_read_failures_ = deferred; }

  // While muted, console lines are dropped: a stage that repeats work whose
  // lines the console already shows does it muted.
  void mute_console(bool muted) { console_muted_ = muted; }

  // Ends the run without a further message, exit status 1.
  [[noreturn]] void plain_stop();
  // Prints the read-error report for `unit` and ends the run.
  [[noreturn]] void fail(IoError error, int unit);
  // Read helpers for the callers that do not handle end of file themselves.
  void require(ReadResult result, int unit) {
    if (result == ReadResult::EndOfFile) fail(IoError::EndOfFile, unit);
  }

  // Empties a connected file that received no line in this run.
  void empty_if_unwritten(int unit);
  // Flushes and closes every unit. Returns 0, or the error number of the
  // first failed write or close after printing its report; the units after
  // it are still flushed and closed, without a report.
  int close_all();
  // As close_all, after a run that already failed: errors are not reported.
  void close_all_quietly();

 private:
  struct Unit;
  Unit& connected(int unit);
  Unit* find(int unit) const;
  void flush(Unit& u);
  void begin_writing(Unit& u);
  bool fill(Unit& u);
  ReadResult next_line(Unit& u, std::string_view& line);
  template <class T>
  ReadResult read_list(int unit, std::span<T> items);
  void emit(int unit, std::string_view text);
  static std::string absolute_path(std::string_view name);
  static void reset_reading(Unit& u);

  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  std::vector<std::unique_ptr<Unit>> units_;
  std::string line_;        // the line being built by a list-directed write
  std::string formatted_;   // the lines of a formatted write
  std::vector<size_t> formatted_ends_;
  std::string console_line_;  // the last console input line
  bool console_muted_ = false;
  bool defer_read_failures_ = false;
};

}  // namespace parclas
