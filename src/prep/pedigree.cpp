#include "prep/pedigree.h"

#include <algorithm>

namespace parclas::prep {

uint32_t Pedigree::animal(std::string_view id, Origin origin_if_new) {
  bool added = false;
  const uint32_t a = ids.find_or_add(id, added);
  if (added) {
    sire.push_back(kUnknown);
    dam.push_back(kUnknown);
    birth.push_back(kNoYear);
    origin.push_back(origin_if_new);
    line.push_back(0);
  }
  return a;
}

std::vector<uint32_t> parents_first_order(const Pedigree& p) {
  enum : uint8_t { kNew, kOpen, kDone };
  std::vector<uint8_t> state(p.size(), kNew);
  std::vector<uint32_t> order;
  order.reserve(p.size());
  std::vector<uint32_t> stack;
  for (uint32_t root = 0; root < p.size(); ++root) {
    if (state[root] != kNew) continue;
    stack.push_back(root);
    while (!stack.empty()) {
      const uint32_t a = stack.back();
      if (state[a] == kNew) {
        state[a] = kOpen;
        for (const int32_t q : {p.sire[a], p.dam[a]}) {
          if (q != kUnknown && state[static_cast<uint32_t>(q)] == kNew) stack.push_back(static_cast<uint32_t>(q));
        }
      } else {
        stack.pop_back();
        if (state[a] == kOpen) {
          state[a] = kDone;
          order.push_back(a);
        }
      }
    }
  }
  return order;
}

std::vector<int32_t> generation_depths(const Pedigree& p, const std::vector<uint32_t>& order) {
  std::vector<int32_t> depth(p.size(), 0);
  for (const uint32_t a : order) {
    int32_t d = 0;
    for (const int32_t q : {p.sire[a], p.dam[a]}) {
      if (q != kUnknown) d = std::max(d, depth[static_cast<uint32_t>(q)] + 1);
    }
    depth[a] = d;
  }
  return depth;
}

}  // namespace parclas::prep
