// Meuwissen and Luo's (1992) inbreeding, written plainly in double
// precision: every animal's ancestors are traced anew (full sibs excepted),
// so the cost grows with the number of ancestors per animal. The tests and
// the benchmark hold the program's exact inbreeding against it.
#pragma once

#include <cstdint>
#include <span>

#include "inbreeding/exact_inbreeding.h"
#include "run/tables.h"

namespace parclas::reference {

// Inbreeding of animals 1..n of `pedigree` into f[1..n] (parents 0 or 1..n,
// in any numbering order). On a loop, the smallest animal number that is its
// own ancestor, found by following the parents of each animal in turn.
ExactOutcome meuwissen_luo(std::span<const PedigreeRow> pedigree, int32_t n, std::span<double> f);

}  // namespace parclas::reference
