// splitmix64: a small, fast generator that draws the same numbers on every
// machine, so that a seed names one generated file or test case for good.
// The generators, tests and benchmarks share this one generator; they differ
// only in how they start its state and how they cut a draw down to a range,
// and each keeps its own rule there, since another rule would change every
// file and case drawn so far.
#pragma once

#include <cstdint>

namespace parclas {

class SplitMix64 {
 public:
  static constexpr uint64_t kGamma = 0x9E3779B97F4A7C15ull;

  // Starts at the given state.
  explicit constexpr SplitMix64(uint64_t state) : state_(state) {}
  // Starts at seed times the gamma plus an offset of the caller's.
  static constexpr SplitMix64 seeded(uint64_t seed, uint64_t offset) {
    return SplitMix64(seed * kGamma + offset);
  }

  uint64_t next() {
    uint64_t z = (state_ += kGamma);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1 for n >= 1, from the high 32 bits of a draw scaled to n.
  uint32_t scaled_below(uint32_t n) { return static_cast<uint32_t>(((next() >> 32) * n) >> 32); }
  // 0 .. n-1 for n >= 1, the remainder of a whole draw.
  uint64_t remainder_below(uint64_t n) { return next() % n; }
  // Uniform in [0, 1), 53 bits.
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

 private:
  uint64_t state_;
};

}  // namespace parclas
