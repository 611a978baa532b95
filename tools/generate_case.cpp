// Writes a synthetic run folder for timing the program at its capacity: a
// relationship file, a data file, a parameter file and the console answers.
// The shapes (herds, the default; closed lines; a national dairy
// population) are described in their own files. The files are the same for
// the same arguments on every platform (own random generator, no library
// distributions, only exactly rounded operations).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "generate_case.h"

namespace generate_case {

FILE* open_or_die(const std::filesystem::path& file) {
  FILE* f = std::fopen(file.c_str(), "wb");
  if (f == nullptr) {
    std::perror(file.c_str());
    std::exit(1);
  }
  return f;
}

void write_or_die(FILE* f, const char* text, size_t n) {
  if (std::fwrite(text, 1, n, f) != n) {
    std::perror("write");
    std::exit(1);
  }
}

void close_or_die(FILE* f, const std::filesystem::path& file) {
  if (std::fclose(f) != 0) {
    std::perror(file.c_str());
    std::exit(1);
  }
}

void write_text(const std::filesystem::path& file, const std::string& text) {
  FILE* f = open_or_die(file);
  write_or_die(f, text.data(), text.size());
  close_or_die(f, file);
}

}  // namespace generate_case

namespace {

constexpr const char* kUsage =
    "usage: generate-case [--shape herds|lines|national] [--seed S] [--animals N]\n"
    "                     [--records R] [--years Y] [national options] DIR\n"
    "  herds (default): N animal numbers (1000..500000, default 500000),\n"
    "    R data records (default 2 per animal number)\n"
    "  lines: closed lines of 400 animals over Y birth years (1..100, default 20),\n"
    "    N animal numbers as for herds, R records (default 20000)\n"
    "  national: N animals (1000..5000000, default 5000000),\n"
    "    R lactation records (default 7 per 5 animals); the hard shapes:\n"
    "    --ai-bulls B      AI bulls entering service a year (1..10000,\n"
    "                      default one per 3000 cow places)\n"
    "    --skew S          Zipf popularity: the bull ranked r in its year's\n"
    "                      intake weighs 1 / r^S (0 < S <= 8; default 1 / (0.03 + U))\n"
    "    --career Y        years in AI service (1..20, default 2 to 6)\n"
    "    --missing-sire M  calves with an unknown sire per 1000 (default 50)\n"
    "    --missing-dam M   calves with an unknown dam per 1000 (default 30)\n";

[[noreturn]] void usage() {
  std::fputs(kUsage, stderr);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t seed = 1;
  int64_t animals = -1;
  int64_t records = -1;
  std::string shape = "herds";
  int64_t years = 20;
  generate_case::NationalShape national;
  bool national_option = false;
  const char* dir = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto text = [&]() -> const char* {
      if (i + 1 >= argc) usage();
      return argv[++i];
    };
    auto value = [&](int64_t least, int64_t most) -> int64_t {
      char* end = nullptr;
      const long long v = std::strtoll(text(), &end, 10);
      if (*end != '\0' || v < least || v > most) usage();
      return v;
    };
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    } else if (arg == "--shape") {
      shape = text();
    } else if (arg == "--seed") {
      seed = static_cast<uint64_t>(value(0, INT64_MAX));
    } else if (arg == "--animals") {
      animals = value(0, INT64_MAX);
    } else if (arg == "--records") {
      records = value(0, INT64_MAX);
    } else if (arg == "--years") {
      years = value(0, INT64_MAX);
    } else if (arg == "--ai-bulls") {
      national.ai_bulls = static_cast<int32_t>(value(1, 10000));
      national_option = true;
    } else if (arg == "--skew") {
      char* end = nullptr;
      national.skew = std::strtod(text(), &end);
      if (*end != '\0' || !(national.skew > 0.0 && national.skew <= 8.0)) usage();
      national_option = true;
    } else if (arg == "--career") {
      national.career = static_cast<int32_t>(value(1, 20));
      national_option = true;
    } else if (arg == "--missing-sire") {
      national.missing_sire = static_cast<uint32_t>(value(0, 1000));
      national_option = true;
    } else if (arg == "--missing-dam") {
      national.missing_dam = static_cast<uint32_t>(value(0, 1000));
      national_option = true;
    } else if (!arg.empty() && arg[0] != '-' && dir == nullptr) {
      dir = argv[i];
    } else {
      usage();
    }
  }
  if (dir == nullptr) usage();
  const std::filesystem::path folder(dir);
  if (shape == "national") {
    if (animals < 0) animals = 5000000;
    if (animals < 1000 || animals > 5000000) usage();
    if (records < 0) records = animals / 5 * 7;
    std::filesystem::create_directories(folder);
    generate_case::write_national_case(seed, animals, records, national, folder);
    return 0;
  }
  if ((shape != "herds" && shape != "lines") || national_option || years < 1 || years > 100) usage();
  if (animals < 0) animals = 500000;
  if (animals < 1000 || animals > 500000) usage();
  std::filesystem::create_directories(folder);
  if (shape == "lines") {
    generate_case::write_lines_case(seed, static_cast<int32_t>(animals), static_cast<int32_t>(years),
                                    records < 0 ? 20000 : records, folder);
  } else {
    generate_case::write_herds_case(seed, static_cast<int32_t>(animals),
                                    records < 0 ? 2 * animals : records, folder);
  }
  return 0;
}
