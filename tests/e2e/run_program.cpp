#include "e2e/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace parclas {

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

ScratchDir::ScratchDir(const std::string& label) {
  std::string pattern = (fs::temp_directory_path() / ("parclas-" + label + "-XXXXXX")).string();
  for (char& c : pattern) {
    if (c == ' ') c = '_';
  }
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = fs::canonical(pattern);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Folders made unreadable or unwritable by a test must be removable.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it); ++it) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

bool user_can_run_in(int user, const fs::path& dir) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const bool ok = ::setgroups(0, nullptr) == 0 && ::setgid(static_cast<gid_t>(user)) == 0 &&
                    ::setuid(static_cast<uid_t>(user)) == 0 &&
                    ::access(PARCLAS_PROGRAM, X_OK) == 0 && ::access(dir.c_str(), W_OK | X_OK) == 0;
    ::_exit(ok ? 0 : 1);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  return WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0;
}

Outcome run_program(const fs::path& dir, const std::string& answers, const RunOptions& options) {
  const fs::path in = dir.parent_path() / (dir.filename().string() + ".stdin");
  write_file(in, answers);
  // The console and the error stream go through pipes, so that a file size
  // limit does not cut them.
  int console[2];
  int errors[2];
  if (::pipe(console) != 0 || ::pipe(errors) != 0) throw std::runtime_error("pipe failed");
  std::vector<char*> argv{const_cast<char*>(PARCLAS_PROGRAM)};
  for (const std::string& a : options.arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    const int fin = ::open(in.c_str(), O_RDONLY);
    const int fout = options.console_path.empty()
                         ? console[1]
                         : ::open(options.console_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fin < 0 || fout < 0) ::_exit(127);
    ::dup2(fin, 0);
    ::dup2(fout, 1);
    ::dup2(errors[1], 2);
    for (const int fd : {console[0], console[1], errors[0], errors[1]}) ::close(fd);
    if (options.user >= 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(static_cast<gid_t>(options.user)) != 0 ||
         ::setuid(static_cast<uid_t>(options.user)) != 0)) {
      ::_exit(127);
    }
    if (options.file_size_limit >= 0) {
      // The program itself must turn a write past the limit into its report:
      // the signal that would end it keeps its default action here.
      std::signal(SIGXFSZ, SIG_DFL);
      const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                         static_cast<rlim_t>(options.file_size_limit)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(127);
    }
    if (options.memory_limit >= 0) {
      const rlimit limit{static_cast<rlim_t>(options.memory_limit),
                         static_cast<rlim_t>(options.memory_limit)};
      if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(127);
    }
    ::execv(PARCLAS_PROGRAM, argv.data());
    ::_exit(127);
  }
  ::close(console[1]);
  ::close(errors[1]);
  Outcome o;
  pollfd streams[2] = {{console[0], POLLIN, 0}, {errors[0], POLLIN, 0}};
  std::string* text[2] = {&o.console, &o.errors};
  char buf[65536];
  for (int open_streams = 2; open_streams > 0;) {
    if (::poll(streams, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    for (int k = 0; k < 2; ++k) {
      if (streams[k].fd < 0 || streams[k].revents == 0) continue;
      const ssize_t n = ::read(streams[k].fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) {
        text[k]->append(buf, static_cast<size_t>(n));
      } else {
        ::close(streams[k].fd);
        streams[k].fd = -1;
        --open_streams;
      }
    }
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  o.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  const std::string where = dir.string();
  for (size_t at; (at = o.errors.find(where)) != std::string::npos;) {
    o.errors.replace(at, where.size(), "$WORK");
  }
  fs::remove(in);
  return o;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace parclas
