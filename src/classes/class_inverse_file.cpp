// The inverse is written beside the file asked for and takes its name only
// at the normal end of the run: a run that stops leaves that file as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>

#include "classes/class_inverse.h"
#include "run/run.h"

namespace parclas {

void open_class_inverse(Run& run) {
  RunTables& t = run.t;
  ClassInverseOutput& out = t.class_inverse_output;
  out = {};
  const std::string& file = t.class_inverse.file;
  if (file.empty()) return;
  // A symbolic link stays: the file it leads to is replaced.
  std::string target = file;
  struct stat st {};
  if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = ::realpath(file.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  const std::filesystem::path folder = std::filesystem::path(target).parent_path();
  std::error_code ec;
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if ((exists && !S_ISREG(st.st_mode)) ||
      (!exists && !folder.empty() && !std::filesystem::is_directory(folder, ec))) {
    // A device or a pipe takes the lines as they come. A folder, or a name
    // in a folder that does not exist, is refused by the connection with the
    // open failure that names the file, and nothing is created.
    run.io.connect(kClassInverseUnit, target, FileUse::Output);
    out.target = target;
    return;
  }
  std::string partial;
  for (int k = 0;; ++k) {
    partial = target + ".partial-" + std::to_string(::getpid());
    if (k > 0) partial += "-" + std::to_string(k);
    struct stat any {};
    if (::lstat(partial.c_str(), &any) != 0) break;
  }
  run.io.connect(kClassInverseUnit, partial, FileUse::Output);
  out.target = target;
  out.partial = partial;
}

int commit_class_inverse(TextIO& io, RunTables& t, std::ostream& err) {
  ClassInverseOutput& out = t.class_inverse_output;
  if (t.class_inverse.file.empty()) return kNormalEnd;
  if (!out.partial.empty()) {
    struct stat st {};
    if (::stat(out.target.c_str(), &st) == 0) ::chmod(out.partial.c_str(), st.st_mode & 07777);
    if (::rename(out.partial.c_str(), out.target.c_str()) != 0) {
      discard_class_inverse(t);
      try {
        io.fail(IoError::WriteFailure, kClassInverseUnit);
      } catch (const RunEnd& end) {
        return end.status;
      }
    }
    out.partial.clear();
  }
  err << out.report << '\n';
  return kNormalEnd;
}

void discard_class_inverse(RunTables& t) noexcept {
  std::string& partial = t.class_inverse_output.partial;
  if (partial.empty()) return;
  ::unlink(partial.c_str());
  partial.clear();
}

}  // namespace parclas
