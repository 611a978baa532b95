// parclas-prep: from a herdbook's own pedigree and data files to the input
// files of PARCLAS, with the pedigree checks.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace parclas::prep {

inline constexpr int kPrepared = 0;
inline constexpr int kStopped = 1;      // an error in the files; nothing written
inline constexpr int kBadCommand = 2;   // a bad command line; nothing written

// Runs the preparation for the arguments (without the program name); the
// summary goes to `out`, errors and usage to `err`. Returns the exit status.
int run_prep(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace parclas::prep
