#include "support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "inbreeding/inbreeding.h"
#include "driver/driver.h"
#include "run/run.h"

namespace fs = std::filesystem;

namespace parclas::fuzz {

namespace {

const fs::path& scratch() {
  static const fs::path path = [] {
    std::string pattern = (fs::temp_directory_path() / "parclas-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    return fs::path(pattern);
  }();
  return path;
}

}  // namespace

InScratch::InScratch() {
  const fs::path& dir = scratch();
  for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
  previous_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  check(previous_ >= 0 && ::chdir(dir.c_str()) == 0, "cannot enter the scratch folder");
}

InScratch::~InScratch() {
  if (previous_ >= 0) {
    check(::fchdir(previous_) == 0, "cannot leave the scratch folder");
    ::close(previous_);
  }
}

void write_file(const std::string& name, std::string_view content) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;  // a name such as "." that cannot be a file
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    check(n > 0, "cannot write an input file");
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

bool read_file(const std::string& name, std::string& content) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  content.clear();
  char buf[65536];
  while (true) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) {
      ::close(fd);
      return n == 0;
    }
    content.append(buf, static_cast<size_t>(n));
  }
}

std::string name_from_line(std::string_view line) {
  const size_t lf = line.find('\n');
  if (lf != std::string_view::npos) line = line.substr(0, lf);
  if (!line.empty() && line.back() == '\r' && lf != std::string_view::npos) line.remove_suffix(1);
  line = line.substr(0, kNameWidth);
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
  return std::string(line);
}

void confine_name(std::string& text, size_t at) {
  for (size_t k = at; k < text.size() && k < at + kNameWidth && text[k] != '\n'; ++k) {
    if (text[k] == '/') text[k] = '_';
  }
}

size_t line_start(std::string_view text, int n) {
  size_t at = 0;
  for (int k = 0; k < n; ++k) {
    const size_t lf = text.find('\n', at);
    if (lf == std::string_view::npos) return std::string_view::npos;
    at = lf + 1;
  }
  return at;
}

std::vector<std::string> carve(std::string_view data, size_t parts) {
  static constexpr std::string_view kSeparator = "\n--\n";
  std::vector<std::string> out;
  while (out.size() + 1 < parts) {
    const size_t at = data.find(kSeparator);
    if (at == std::string_view::npos) break;
    out.emplace_back(data.substr(0, at + 1));  // the part keeps its final line feed
    data.remove_prefix(at + kSeparator.size());
  }
  out.emplace_back(data);
  out.resize(parts);
  return out;
}

RunTables& tables() {
  static const std::unique_ptr<RunTables> t = std::make_unique_for_overwrite<RunTables>();
  return *t;
}

InbreedingWork& work() {
  static const std::unique_ptr<InbreedingWork> w = std::make_unique_for_overwrite<InbreedingWork>();
  return *w;
}

int run_program(const std::string& answers, std::string& console, std::string& errors) {
  std::istringstream in(answers);
  std::ostringstream out;
  std::ostringstream err;
  const int status = run_parclas(in, out, err, tables(), work());
  console = out.str();
  errors = err.str();
  return status;
}

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

}  // namespace parclas::fuzz

namespace parclas::fuzz {

std::vector<std::pair<std::string, std::string>> snapshot() {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : fs::directory_iterator(".")) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    std::string content;
    if (read_file(name, content)) files.emplace_back(name, std::move(content));
  }
  return files;
}

void check_run(int status, const std::string& errors,
               const std::vector<std::pair<std::string, std::string>>& before) {
  check(status == 0 || status == 1 || status == 24 || status == 29 || status == 30 ||
            status == 38 || status == 59 || status == 64,
        "unexpected exit status");
  if (status == 0 || status == 1) {
    check(errors.empty(), "error text after a run that ended well");
  } else {
    const std::string head = "severe (" + std::to_string(status) + "): ";
    check(errors.compare(0, head.size(), head) == 0, "read-error report does not match status");
    check(errors.find('\n') == errors.size() - 1, "read-error report is not one line");
  }
  for (const auto& [name, content] : before) {
    std::string now;
    check(read_file(name, now) && now == content, "a file that existed before the run changed");
  }
  if (status == 29) {
    // A missing input ends the run before any file is made.
    check(snapshot().size() == before.size(), "a run that missed an input created a file");
  }
}

}  // namespace parclas::fuzz
