#include "prep/checks.h"

#include "prep/conventions.h"

#include <algorithm>
#include <string>

namespace parclas::prep {
namespace {

// "PATH:LINE: " of the animal's own line.
std::string where(const Pedigree& p, uint32_t a) {
  return p.line[a] == 0 ? std::string() : p.source + ":" + std::to_string(p.line[a]) + ": ";
}

std::string with_year(const Pedigree& p, uint32_t a) {
  std::string s(p.ids[a]);
  if (p.birth[a] != kNoYear) s += " (" + std::to_string(p.birth[a]) + ")";
  return s;
}

int32_t& parent_link(Pedigree& p, uint32_t child, int which) { return which == 0 ? p.sire[child] : p.dam[child]; }

// A link of a loop: the child and which of its parents (0 sire, 1 dam).
struct Link {
  uint32_t child;
  int which;
};

// Animals that are ancestors of nobody outside loops are peeled off; what is
// left holds every loop with the ancestors of its members.
std::vector<uint8_t> loop_candidates(const Pedigree& p) {
  std::vector<uint32_t> children(p.size(), 0);
  for (uint32_t a = 0; a < p.size(); ++a) {
    for (const int32_t q : {p.sire[a], p.dam[a]}) {
      if (q != kUnknown) ++children[static_cast<uint32_t>(q)];
    }
  }
  std::vector<uint8_t> left(p.size(), 1);
  std::vector<uint32_t> free;
  for (uint32_t a = 0; a < p.size(); ++a) {
    if (children[a] == 0) free.push_back(a);
  }
  while (!free.empty()) {
    const uint32_t a = free.back();
    free.pop_back();
    left[a] = 0;
    for (const int32_t q : {p.sire[a], p.dam[a]}) {
      if (q != kUnknown && --children[static_cast<uint32_t>(q)] == 0) free.push_back(static_cast<uint32_t>(q));
    }
  }
  return left;
}

// One loop among the candidates, as its links in parent direction; empty
// when there is none.
std::vector<Link> find_one_loop(const Pedigree& p, const std::vector<uint8_t>& candidate) {
  enum : uint8_t { kNew, kOpen, kDone };
  std::vector<uint8_t> state(p.size(), kNew);
  struct Frame {
    uint32_t animal;
    int next;  // the parent to look at next: 0 sire, 1 dam, 2 none left
  };
  std::vector<Frame> stack;
  for (uint32_t root = 0; root < p.size(); ++root) {
    if (!candidate[root] || state[root] != kNew) continue;
    stack.push_back({root, 0});
    state[root] = kOpen;
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next == 2) {
        state[top.animal] = kDone;
        stack.pop_back();
        continue;
      }
      const int which = top.next++;
      const int32_t q = which == 0 ? p.sire[top.animal] : p.dam[top.animal];
      if (q == kUnknown || !candidate[static_cast<uint32_t>(q)]) continue;
      const auto parent = static_cast<uint32_t>(q);
      if (state[parent] == kNew) {
        state[parent] = kOpen;
        stack.push_back({parent, 0});
      } else if (state[parent] == kOpen) {
        std::vector<Link> loop;
        size_t k = stack.size();
        while (stack[k - 1].animal != parent) --k;
        for (; k <= stack.size(); ++k) loop.push_back({stack[k - 1].animal, stack[k - 1].next - 1});
        return loop;
      }
    }
  }
  return {};
}

std::string describe_loop(const Pedigree& p, std::vector<Link> loop) {
  const auto first = std::min_element(loop.begin(), loop.end(), [&](const Link& x, const Link& y) {
    const auto rank = [&](uint32_t a) { return p.line[a] != 0 ? p.line[a] : UINT32_MAX; };
    return std::pair(rank(x.child), x.child) < std::pair(rank(y.child), y.child);
  });
  std::rotate(loop.begin(), first, loop.end());
  std::string s = where(p, loop[0].child) + with_year(p, loop[0].child);
  for (const Link& l : loop) {
    const auto parent = static_cast<uint32_t>(l.which == 0 ? p.sire[l.child] : p.dam[l.child]);
    s += std::string(l.which == 0 ? " -> sire " : " -> dam ") + with_year(p, parent);
  }
  return s;
}

// The link to the youngest parent: the latest birth year; without years, the
// parent that comes last in input order.
Link youngest_parent_link(const Pedigree& p, const std::vector<Link>& loop) {
  auto key = [&](const Link& l) {
    const auto parent = static_cast<uint32_t>(l.which == 0 ? p.sire[l.child] : p.dam[l.child]);
    return std::pair(p.birth[parent], p.line[parent]);
  };
  return *std::max_element(loop.begin(), loop.end(), [&](const Link& x, const Link& y) { return key(x) < key(y); });
}

}  // namespace

void remove_self_parents(Pedigree& p, Report& report) {
  Check& self = report.check("animals that are their own parent, link removed", Severity::Warning);
  for (uint32_t a = 0; a < p.size(); ++a) {
    for (int which = 0; which < 2; ++which) {
      int32_t& q = parent_link(p, a, which);
      if (q == static_cast<int32_t>(a)) {
        q = kUnknown;
        report.add(self, where(p, a) + std::string(p.ids[a]) + (which == 0 ? " (sire)" : " (dam)"));
      }
    }
  }
}

void resolve_loops(Pedigree& p, bool break_loops, Report& report) {
  Check& loops = report.check(break_loops ? "pedigree loops, cut at the link to the youngest parent"
                                          : "pedigree loops (--break-loops cuts them)",
                              break_loops ? Severity::Warning : Severity::Error);
  const std::vector<uint8_t> candidate = loop_candidates(p);
  while (true) {
    const std::vector<Link> loop = find_one_loop(p, candidate);
    if (loop.empty()) break;
    const Link cut = youngest_parent_link(p, loop);
    const auto parent = static_cast<uint32_t>(parent_link(p, cut.child, cut.which));
    report.add(loops, describe_loop(p, loop) + (break_loops ? "; cut: " : "; youngest parent: ") +
                          std::string(cut.which == 0 ? "sire " : "dam ") + std::string(p.ids[parent]) + " of " +
                          std::string(p.ids[cut.child]));
    parent_link(p, cut.child, cut.which) = kUnknown;  // also without --break-loops, to find the next loop
  }
}

void check_parent_ages(const Pedigree& p, bool strict, Report& report) {
  Check& younger = report.check("parents born after their offspring", strict ? Severity::Error : Severity::Warning);
  for (uint32_t a = 0; a < p.size(); ++a) {
    for (int which = 0; which < 2; ++which) {
      const int32_t q = which == 0 ? p.sire[a] : p.dam[a];
      if (q == kUnknown || p.birth[a] == kNoYear || p.birth[static_cast<uint32_t>(q)] == kNoYear) continue;
      if (p.birth[static_cast<uint32_t>(q)] > p.birth[a]) {
        report.add(younger, where(p, a) + with_year(p, a) + (which == 0 ? ": sire " : ": dam ") + with_year(p, static_cast<uint32_t>(q)));
      }
    }
  }
}

void check_parent_roles(const Pedigree& p, Report& report) {
  Check& both = report.check("identifiers used both as sire and as dam", Severity::Warning);
  std::vector<uint8_t> role(p.size(), 0);
  for (uint32_t a = 0; a < p.size(); ++a) {
    if (p.sire[a] != kUnknown) role[static_cast<uint32_t>(p.sire[a])] |= 1;
    if (p.dam[a] != kUnknown) role[static_cast<uint32_t>(p.dam[a])] |= 2;
  }
  // Up to ten offspring of each such identifier, by role.
  constexpr size_t kOffspringShown = 10;
  struct Offspring {
    std::vector<uint32_t> as_sire, as_dam;
  };
  std::vector<uint32_t> slot(p.size(), kNoEntry);
  std::vector<Offspring> offspring;
  for (uint32_t a = 0; a < p.size(); ++a) {
    if (role[a] == 3) {
      slot[a] = static_cast<uint32_t>(offspring.size());
      offspring.emplace_back();
    }
  }
  if (offspring.empty()) return;
  for (uint32_t a = 0; a < p.size(); ++a) {
    for (int which = 0; which < 2; ++which) {
      const int32_t q = which == 0 ? p.sire[a] : p.dam[a];
      if (q == kUnknown || slot[static_cast<uint32_t>(q)] == kNoEntry) continue;
      Offspring& o = offspring[slot[static_cast<uint32_t>(q)]];
      if (o.as_sire.size() + o.as_dam.size() < kOffspringShown) (which == 0 ? o.as_sire : o.as_dam).push_back(a);
    }
  }
  auto names = [&](const std::vector<uint32_t>& animals) {
    std::string s;
    for (const uint32_t a : animals) s += (s.empty() ? "" : ", ") + std::string(p.ids[a]);
    return s;
  };
  for (uint32_t a = 0; a < p.size(); ++a) {
    if (slot[a] == kNoEntry) continue;
    const Offspring& o = offspring[slot[a]];
    report.add(both, std::string(p.ids[a]) + ": sire of " + names(o.as_sire) + "; dam of " + names(o.as_dam));
  }
}

void count_added_animals(const Pedigree& p, Report& report) {
  Check& parents = report.check("parents without a line, added as founders (most offspring first)", Severity::Note);
  Check& data = report.check("data animals missing from the pedigree, added as founders", Severity::Note);
  Check& codes = report.check("parents without a line named like a code for an unknown parent (--missing CODE "
                              "makes them unknown)",
                              Severity::Error);
  std::vector<uint32_t> children(p.size(), 0);
  std::vector<uint32_t> first_line(p.size(), UINT32_MAX);  // of a child naming the parent
  for (uint32_t a = 0; a < p.size(); ++a) {
    for (const int32_t q : {p.sire[a], p.dam[a]}) {
      if (q == kUnknown) continue;
      ++children[static_cast<uint32_t>(q)];
      first_line[static_cast<uint32_t>(q)] = std::min(first_line[static_cast<uint32_t>(q)], p.line[a]);
    }
  }
  std::vector<uint32_t> added;
  for (uint32_t a = 0; a < p.size(); ++a) {
    if (p.origin[a] == Origin::Data) report.add(data, std::string(p.ids[a]));
    if (p.origin[a] != Origin::Parent) continue;
    added.push_back(a);
    if (looks_like_unknown_code(p.ids[a])) {
      report.add(codes, p.source + ":" + std::to_string(first_line[a]) + ": '" + std::string(p.ids[a]) +
                            "', parent of " + std::to_string(children[a]));
    }
  }
  std::stable_sort(added.begin(), added.end(), [&](uint32_t x, uint32_t y) { return children[x] > children[y]; });
  for (const uint32_t a : added) {
    report.add(parents, std::string(p.ids[a]) + " (" + std::to_string(children[a]) + " offspring)");
  }
  parents.shown = 5;
}

}  // namespace parclas::prep
