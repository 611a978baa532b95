// The pedigree checks breeders need before a run: animals that are their own
// parent, loops, parents younger than their offspring, animals used both as
// sire and as dam, and parents without a line of their own.
#pragma once

#include "prep/pedigree.h"
#include "prep/report.h"

namespace parclas::prep {

// Removes each link from an animal to itself.
void remove_self_parents(Pedigree& p, Report& report);

// Finds every loop (an animal that is its own ancestor) and lists it from
// its first animal in input order. Each loop is cut at its link to the
// youngest parent; that is an error unless `break_loops`.
void resolve_loops(Pedigree& p, bool break_loops, Report& report);

// Parents born after their offspring (by birth year): a warning, an error
// when `strict`.
void check_parent_ages(const Pedigree& p, bool strict, Report& report);

// Identifiers used both as sire and as dam, each with up to ten offspring.
void check_parent_roles(const Pedigree& p, Report& report);

// Animals added without a line: parents (most offspring first) and data
// animals. A parent named like an unknown-parent code is an error.
void count_added_animals(const Pedigree& p, Report& report);

}  // namespace parclas::prep
