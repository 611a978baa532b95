#include "prep/output_file.h"

#include <cerrno>
#include <cstring>

namespace parclas::prep {

OutputFile::~OutputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool OutputFile::open(const std::string& path) {
  path_ = path;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) fail("cannot create");
  buffer_.reserve(kFlushAt + 4096);
  return file_ != nullptr;
}

void OutputFile::fail(const char* what) {
  if (error_.empty()) error_ = std::string(what) + " " + path_ + ": " + std::strerror(errno);
}

void OutputFile::flush() {
  if (file_ != nullptr && error_.empty() && !buffer_.empty() &&
      std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
    fail("cannot write");
  }
  buffer_.clear();
}

bool OutputFile::close() {
  flush();
  if (file_ != nullptr) {
    if (std::fclose(file_) != 0) fail("cannot write");
    file_ = nullptr;
  }
  return error_.empty();
}

bool write_whole_file(const std::string& path, std::string_view content, std::string& error) {
  OutputFile f;
  f.open(path);
  f.write(content);
  if (f.close()) return true;
  error = f.error();
  return false;
}

}  // namespace parclas::prep
