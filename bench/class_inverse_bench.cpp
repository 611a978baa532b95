// What --class-inverse adds to a whole run: the built program run in a run
// folder (answers in DIR/answers) without the option and with each rule, in
// turn, several rounds, each run timed as a whole process (wall time, peak
// memory). Prints the medians side by side, and the medians of the round by
// round differences to the run without the option.
//
//   parclas-class-inverse-bench [--rounds N] [--program PATH] DIR [OPTION ...]
//
// The OPTIONs go to every run (for example --max-animals auto --max-classes
// auto --inbreeding exact). The inverse goes to DIR/bench-inverse.giv and is
// removed after each run.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Figures {
  double seconds;
  double megabytes;
  int status;
};

Figures run_once(const std::string& program, const std::string& dir,
                 const std::vector<std::string>& arguments) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open((dir + "/answers").c_str(), O_RDONLY);
    const int none = ::open("/dev/null", O_WRONLY);
    if (::chdir(dir.c_str()) != 0 || in < 0 || none < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(none, 1);
    ::dup2(none, 2);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return {seconds, static_cast<double>(usage.ru_maxrss) / 1024.0,
          WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t h = v.size() / 2;
  return v.size() % 2 == 1 ? v[h] : (v[h - 1] + v[h]) / 2.0;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3;
  std::string program = PARCLAS_PROGRAM;
  int k = 1;
  for (; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--rounds" && k + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++k]));
    } else if (a == "--program" && k + 1 < argc) {
      program = argv[++k];
    } else {
      break;
    }
  }
  if (k >= argc) {
    std::fprintf(stderr, "usage: %s [--rounds N] [--program PATH] DIR [OPTION ...]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[k++];
  const std::vector<std::string> common(argv + k, argv + argc);
  const std::string inverse = dir + "/bench-inverse.giv";
  struct Variant {
    const char* name;
    std::vector<std::string> extra;
    std::vector<double> seconds;
    std::vector<double> megabytes;
  };
  std::vector<Variant> variants = {
      {"without the option", {}, {}, {}},
      {"--class-inverse-rule exact", {"--class-inverse", "bench-inverse.giv"}, {}, {}},
      {"--class-inverse-rule mask",
       {"--class-inverse", "bench-inverse.giv", "--class-inverse-rule", "mask"}, {}, {}},
  };
  for (int round = 1; round <= rounds; ++round) {
    for (Variant& v : variants) {
      std::vector<std::string> arguments = common;
      arguments.insert(arguments.end(), v.extra.begin(), v.extra.end());
      const Figures f = run_once(program, dir, arguments);
      std::remove(inverse.c_str());
      if (f.status != 0) {
        std::fprintf(stderr, "%s: exit status %d\n", v.name, f.status);
        return 1;
      }
      v.seconds.push_back(f.seconds);
      v.megabytes.push_back(f.megabytes);
      std::fprintf(stderr, "round %d, %s: %.2f s, %.0f MB\n", round, v.name, f.seconds,
                   f.megabytes);
    }
  }
  std::printf("medians of %d rounds, whole process\n", rounds);
  std::printf("%-28s %9s %9s %10s %10s\n", "run", "wall s", "added s", "peak MB", "added MB");
  for (const Variant& v : variants) {
    std::vector<double> added_s;
    std::vector<double> added_mb;
    for (int r = 0; r < rounds; ++r) {
      added_s.push_back(v.seconds[r] - variants[0].seconds[r]);
      added_mb.push_back(v.megabytes[r] - variants[0].megabytes[r]);
    }
    std::printf("%-28s %9.2f %9.2f %10.0f %10.0f\n", v.name, median(v.seconds), median(added_s),
                median(v.megabytes), median(added_mb));
  }
  return 0;
}
