// The pedigree as read from a herdbook: every animal under its original
// identifier, with its parents as indices into the same table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "prep/id_table.h"

namespace parclas::prep {

inline constexpr int32_t kUnknown = -1;            // no parent
inline constexpr int32_t kNoYear = INT32_MIN;      // no birth year

enum class Origin : uint8_t { Line, Parent, Data };  // own line, named as parent only, data only

struct Pedigree {
  std::string source;  // the file read, to name lines in messages
  IdTable ids;
  std::vector<int32_t> sire;
  std::vector<int32_t> dam;
  std::vector<int32_t> birth;
  std::vector<Origin> origin;
  std::vector<uint32_t> line;  // line number of the animal's own line; 0 for added animals

  uint32_t size() const { return ids.size(); }
  // The animal's index; a new animal is added with no parents and `origin`.
  uint32_t animal(std::string_view id, Origin origin_if_new);
};

// Parents before offspring: every animal after its known parents. The
// pedigree must hold no loop.
std::vector<uint32_t> parents_first_order(const Pedigree& p);

// Generations: 0 without known parents, else one more than the later parent.
std::vector<int32_t> generation_depths(const Pedigree& p, const std::vector<uint32_t>& order);

}  // namespace parclas::prep
