// A text file written through a large buffer; every write and the close are
// checked, so a full disk is an error and never a silently short file.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace parclas::prep {

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();
  bool open(const std::string& path);
  void write(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= kFlushAt) flush();
  }
  // False, with error(), when any write or the close failed.
  bool close();
  const std::string& error() const { return error_; }

 private:
  static constexpr size_t kFlushAt = 1 << 20;
  void flush();
  void fail(const char* what);
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string buffer_;
  std::string error_;
};

// Writes `content` into a new file at `path`; false with `error` on failure.
bool write_whole_file(const std::string& path, std::string_view content, std::string& error);

}  // namespace parclas::prep
