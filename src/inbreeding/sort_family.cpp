#include <utility>
#include <vector>

#include "inbreeding/inbreeding.h"

namespace parclas {

// Iterative quicksort with the pivot key copied out of the middle member.
// Ranges waiting on the stack are disjoint and hold two members or more, so
// count / 2 entries are always enough.
void sort_family(FamilyMember* members, int32_t count) {
  if (count < 2) return;
  struct Range {
    int32_t low;
    int32_t high;
  };
  thread_local std::vector<Range> stack;
  if (stack.size() < static_cast<size_t>(count) / 2 + 1) stack.resize(static_cast<size_t>(count) / 2 + 1);
  int top = 0;
  stack[top++] = {1, count};
  while (top > 0) {
    const Range range = stack[--top];
    const int32_t low = range.low;
    int32_t high = range.high;
    while (true) {
      int32_t i = low;
      int32_t j = high;
      const int32_t pivot = members[(low + high) / 2].year;
      do {
        while (members[i].year < pivot) ++i;
        while (members[j].year > pivot) --j;
        if (i <= j) {
          std::swap(members[i], members[j]);
          ++i;
          --j;
        }
      } while (i <= j);
      if (i < high) stack[top++] = {i, high};
      high = j;
      if (!(low < high)) break;
    }
  }
}

}  // namespace parclas
