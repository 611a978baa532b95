// A whole preparation on a fuzzed herdbook. The input is cut at lines "--"
// into option letters, the pedigree file and the data file. Whatever the
// files, parclas-prep ends with 0, 1 or 2; a stop writes no output folder;
// a preparation writes a relationship file PARCLAS reads as meant: animals
// 1..n in order, parents before their offspring, codes that fit the parents.
#include <charconv>
#include <sstream>
#include <string>
#include <vector>

#include "prep/prep.h"
#include "support.h"

using namespace parclas;

namespace {

// Option letters: each letter of the first part adds its options.
std::vector<std::string> options_of(std::string_view letters, bool with_data) {
  std::vector<std::string> args = {"--pedigree", "ped.txt", "--out", "out"};
  if (with_data) args.insert(args.end(), {"--data", "data.txt"});
  for (const char c : letters.substr(0, 8)) {
    switch (c) {
      case 'b': args.push_back("--break-loops"); break;
      case 't': args.insert(args.end(), {"--trim", "--max-family", "4"}); break;
      case 's': args.push_back("--allow-selfing"); break;
      case 'u': args.push_back("--allow-unmatched"); break;
      case 'g': args.insert(args.end(), {"--groups", "year:3"}); break;
      case 'x': args.push_back("--strict"); break;
      case 'm': args.insert(args.end(), {"--missing", "x,-9"}); break;
      case 'k': args.insert(args.end(), {"--scale", "milk=10"}); break;
      case 'a': args.insert(args.end(), {"--animal-column", "1"}); break;
      case 'c': args.insert(args.end(), {"--columns", "id=1,sire=2,dam=3"}); break;
      case 'h': args.insert(args.end(), {"--header", "no"}); break;
      case 'y': args.insert(args.end(), {"--years-per-value", "5"}); break;
      default: break;
    }
  }
  return args;
}

long number(std::string_view s) {
  long v = -1;
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && p == s.data() + s.size() ? v : -1;
}

void check_relationship_file(const std::string& ped, bool groups) {
  std::vector<std::string> lines;
  std::istringstream in(ped);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const auto n = static_cast<long>(lines.size());
  long expected = 0;
  for (const std::string& line : lines) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    fuzz::check(w.size() == 6, "a relationship line without six fields");
    fuzz::check(line.size() <= 80, "a relationship line beyond 80 characters");
    const long a = number(w[0]), s = number(w[1]), d = number(w[2]), code = number(w[3]), year = number(w[4]);
    fuzz::check(a == ++expected, "animal numbers not 1..n in order");
    const auto known = [&](long p) {
      fuzz::check(p >= 0 && (p < a || (groups && p > n)), "a parent not before its offspring");
      return p > 0 && p < a;
    };
    fuzz::check(code == 3 - known(s) - known(d), "a code that does not fit the parents");
    fuzz::check(year >= 1 && year <= 100, "a year value outside 1..100");
    fuzz::check(w[5].size() <= 16, "an identifier beyond 16 characters");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> part =
      fuzz::carve(std::string_view(reinterpret_cast<const char*>(data), size), 3);
  fuzz::InScratch scratch;
  fuzz::write_file("ped.txt", part[1]);
  const bool with_data = !part[2].empty();
  if (with_data) fuzz::write_file("data.txt", part[2]);
  const std::vector<std::string> args = options_of(part[0], with_data);
  std::ostringstream out;
  std::ostringstream err;
  const int status = prep::run_prep(args, out, err);
  fuzz::check(status == prep::kPrepared || status == prep::kStopped || status == prep::kBadCommand,
              "an exit status other than 0, 1, 2");
  std::string ped;
  if (status != prep::kPrepared) {
    fuzz::check(!fuzz::read_file("out/ped.txt", ped), "a stop that wrote its output folder");
    fuzz::check(err.str().find("parclas-prep: ") == 0, "a stop without its reason");
    return 0;
  }
  fuzz::check(fuzz::read_file("out/ped.txt", ped), "a preparation without ped.txt");
  bool groups = false;
  for (const auto& a : args) groups = groups || a == "--groups";
  check_relationship_file(ped, groups);
  return 0;
}
