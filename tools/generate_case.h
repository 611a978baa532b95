// The shapes of generate-case and what they share: this program's rules for
// drawing from the shared generator, and file writes that stop the program
// when they fail. Each shape writes a whole run folder: ped.txt, data.txt,
// par.txt and answers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "splitmix.h"

namespace generate_case {

// The shared generator with this program's start and range rules.
class Random {
 public:
  explicit Random(uint64_t seed) : core_(parclas::SplitMix64::seeded(seed, 0x632BE59BD9B4E019ull)) {}
  // 0 .. n-1 for n >= 1.
  uint32_t below(uint32_t n) { return core_.scaled_below(n); }
  // True with probability per_mille / 1000.
  bool chance(uint32_t per_mille) { return below(1000) < per_mille; }
  // Uniform in [0, 1).
  double unit() { return core_.unit(); }

 private:
  parclas::SplitMix64 core_;
};

FILE* open_or_die(const std::filesystem::path& file);
void write_or_die(FILE* f, const char* text, size_t n);
void close_or_die(FILE* f, const std::filesystem::path& file);
void write_text(const std::filesystem::path& file, const std::string& text);

// Herds breeding in litters over 100 years (generate_case_herds.cpp).
void write_herds_case(uint64_t seed, int32_t animals, int64_t records,
                      const std::filesystem::path& folder);

// Closed lines of 400 animals over `years` birth years (generate_case_lines.cpp).
void write_lines_case(uint64_t seed, int32_t animals, int32_t years, int64_t records,
                      const std::filesystem::path& folder);

// A national dairy population over 60 years (generate_case_national.cpp).
// Zero for ai_bulls, skew and career keeps the shape's own rule.
struct NationalShape {
  int32_t ai_bulls = 0;         // AI bulls entering service a year; 0: one per 3,000 cow places
  double skew = 0.0;            // Zipf exponent of the bulls' popularity; 0: 1 / (0.03 + U)
  int32_t career = 0;           // years in AI service; 0: 2 to 6
  uint32_t missing_sire = 50;   // calves with an unknown sire, per 1000
  uint32_t missing_dam = 30;    // calves with an unknown dam, per 1000
};
void write_national_case(uint64_t seed, int64_t animals, int64_t records, const NationalShape& shape,
                         const std::filesystem::path& folder);

}  // namespace generate_case
