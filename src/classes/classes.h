// The parental-subclass stages after the data scan: expansion through the
// ancestor pairs, tagging, pruning and numbering, and the two class files.
#pragma once

#include <cstdint>

namespace parclas {

struct Run;

// Class rows "auto": counts the pairs the table will hold after the first
// pass, which depends only on the pairs of the data scan and the pedigree
// (counted while the exact inbreeding may still run on another thread).
void count_first_pass_pairs(Run& run);
// Adds the ancestor pairs of the stored pairs, pass by pass, at most the
// maximum passes; prints "after pass" lines and the " In total" line.
void expand_combinations(Run& run);
// One expansion pass: fills the new pairs from the pedigree, then adds the
// ancestor pairs of every filled one.
void expansion_pass(Run& run);

// Inserts a pair of the data scan (status new, its arrival number), growing
// the table when class rows are "auto"; returns whether it was new.
bool add_data_pair(Run& run, int32_t& sire, int32_t& dam);
// Class rows "auto": rebuilds the table with twice the rows (again, while a
// search meets the probe limit) from the data pairs and `passes` expansion
// passes, as a run with that many rows would have built it. Sizes below
// `at_least` rows are passed over as too small.
void grow_class_table(Run& run, int32_t passes, int64_t at_least = 0);
// The same from the table's present row count: that count first, unless it
// is below `at_least`.
void build_class_table(Run& run, int32_t passes, int64_t at_least = 0);
// Fills nothing: adds the eight ancestor pairs of the filled record in row k
// and marks it expanded.
void add_ancestor_pairs(Run& run, int32_t k);

// Marks, tags, prunes and numbers the stored pairs; prints the four counts.
void number_classes(Run& run);
// Adds the references of the record in row k to the status of its ancestor
// pairs: 1 per parental reference, 2 per grand-parental one.
void tag_ancestor_pairs(Run& run, int32_t k);

// Writes the class identifier file and the class pedigree file.
void write_class_files(Run& run);

}  // namespace parclas
