#include "classes/class_inverse.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "classes/combination_table.h"
#include "classes/pair_relationships.h"
#include "inbreeding/exact_inbreeding.h"
#include "run/run.h"

namespace parclas {

namespace {

constexpr int kPositions = 8;

// The six animals of a class with a class pedigree line, as indices: its
// members X (member1) and Y (member2) and their parents; and the two of them
// that each ancestor position pairs (the order of kAncestorPairs).
enum AnimalIndex { kX, kY, kSireX, kDamX, kSireY, kDamY, kAnimals };
constexpr int kPositionMembers[kPositions][2] = {
    {kX, kSireY},     {kX, kDamY},     {kY, kSireX},     {kY, kDamX},
    {kSireX, kSireY}, {kSireX, kDamY}, {kDamX, kSireY}, {kDamX, kDamY},
};

// The classes of the run by class number: 1..with_line have a class pedigree
// line, with_line + 1..pairs are the other pairs of the class table, and
// pairs + 1..total the own classes.
struct Classes {
  int32_t with_line = 0;
  int32_t pairs = 0;
  int32_t total = 0;
  std::vector<int32_t> row;  // row of each pair class in the class table
  // Per class with a line, per ancestor position: the class number there; 0
  // where a member is unknown; -(k + 1) for a pair of known members that is
  // not stored (eliminated), when those are kept as unstored[k].
  std::vector<std::array<int32_t, kPositions>> line;
  std::vector<AnimalPair> unstored;
};

[[noreturn]] void fault(const std::string& what) {
  throw std::logic_error("class inverse: " + what);
}

Classes collect_classes(Run& run, bool keep_unstored) {
  RunTables& t = run.t;
  Classes k;
  k.with_line = t.classes_with_parents;
  k.pairs = t.classes_with_parents + t.classes_without_parents;
  k.total = k.pairs + t.own_class_animals;
  k.row.assign(static_cast<size_t>(k.pairs) + 1, 0);
  const Combination* table = t.combination;
  for (int32_t r = 1; r <= t.capacity.classes; ++r) {
    if (table[r].status == kNoPair) continue;
    const int32_t c = table[r].number;
    if (c < 1 || c > k.pairs || k.row[c] != 0) fault("class numbers do not run 1..C");
    k.row[c] = r;
  }
  k.line.resize(static_cast<size_t>(k.with_line) + 1);
  for (int32_t c = 1; c <= k.with_line; ++c) {
    if (k.row[c] == 0) fault("class numbers do not run 1..C");
    const Combination& record = table[k.row[c]];
    if (!has_grandparents(record)) fault("a class pedigree line without parent classes");
    for (const FieldPair& pair : kAncestorPairs) {
      prefetch_pair(table, t.capacity.classes, record.*pair.first, record.*pair.second);
    }
    for (int n = 0; n < kPositions; ++n) {
      int32_t a = record.*kAncestorPairs[n].first;
      int32_t b = record.*kAncestorPairs[n].second;
      int32_t& code = k.line[c][n];
      code = 0;
      if (a == 0 || b == 0) continue;
      const int32_t found =
          find_pair(run.io, a, b, t.combination, t.capacity.classes, t.combination_count);
      if (found != 0) {
        code = table[found].number;
      } else if (keep_unstored) {
        k.unstored.push_back({a, b});
        code = -static_cast<int32_t>(k.unstored.size());
      }
    }
  }
  return k;
}

// The animal of each own class, pairs + 1..total.
std::vector<int32_t> own_class_animals(const RunTables& t, const Classes& k) {
  std::vector<int32_t> animal(static_cast<size_t>(k.total - k.pairs) + 1, 0);
  const int32_t last = std::min(t.largest_animal, t.capacity.animals);
  for (int32_t a = 1; a <= last; ++a) {
    const int32_t own = t.animal_status[a];
    if (own <= 0) continue;
    if (own > k.total - k.pairs || animal[own] != 0) fault("own classes do not run 1..N");
    animal[own] = a;
  }
  return animal;
}

// The regression of each class on its distinct ancestor classes: entries
// begin[c] .. begin[c + 1] of `ancestor` and `coefficient` (classes with a
// line only), and every class's residual variance.
struct Regressions {
  std::vector<int64_t> begin;  // classes 1..with_line + 1
  std::vector<int32_t> ancestor;
  std::vector<double> coefficient;
  std::vector<double> residual;  // classes 1..total
};

// One distinct ancestor class of a class: its number and the indices of its
// two members among the six animals.
struct Ancestor {
  int32_t number;
  int first;
  int second;
  double mask;  // the sum of the mask coefficients of its positions
};

int distinct_ancestors(const std::array<int32_t, kPositions>& line, Ancestor (&out)[kPositions],
                       int& parental, int& grand_parental) {
  int count = 0;
  parental = grand_parental = 0;
  for (int n = 0; n < kPositions; ++n) {
    if (line[n] <= 0) continue;
    const bool is_parental = n < kParentalPositions;
    (is_parental ? parental : grand_parental) += 1;
    const double b = is_parental ? 0.5 : -0.25;
    int k = 0;
    while (k < count && out[k].number != line[n]) ++k;
    if (k == count) out[count++] = {line[n], kPositionMembers[n][0], kPositionMembers[n][1], 0.0};
    out[k].mask += b;
  }
  return count;
}

void check_residual(double r, int32_t c) {
  if (!(r > 0.0) || !std::isfinite(r)) {
    fault("the residual variance of class " + std::to_string(c) + " is not positive");
  }
}

Regressions mask_regressions(const Classes& k) {
  Regressions g;
  g.begin.assign(static_cast<size_t>(k.with_line) + 2, 0);
  g.residual.assign(static_cast<size_t>(k.total) + 1, 1.0);
  g.ancestor.reserve(static_cast<size_t>(k.with_line) * kPositions);
  g.coefficient.reserve(static_cast<size_t>(k.with_line) * kPositions);
  Ancestor ancestors[kPositions];
  for (int32_t c = 1; c <= k.with_line; ++c) {
    g.begin[c] = static_cast<int64_t>(g.ancestor.size());
    int parental = 0;
    int grand_parental = 0;
    const int count = distinct_ancestors(k.line[c], ancestors, parental, grand_parental);
    for (int a = 0; a < count; ++a) {
      if (ancestors[a].mask == 0.0) continue;
      g.ancestor.push_back(ancestors[a].number);
      g.coefficient.push_back(ancestors[a].mask);
    }
    g.residual[c] = 1.0 - parental / 4.0 + grand_parental / 16.0;
  }
  g.begin[static_cast<size_t>(k.with_line) + 1] = static_cast<int64_t>(g.ancestor.size());
  return g;
}

// The additive relationship of each pair class's members: directly for the
// classes without a line and the unstored pairs that lines name, then, for
// the classes with a line, from their ancestor classes, taken in the order of
// their later member in a parents-first order of the animals: expanding that
// member, a(X, Y) = (a(X, sire Y) + a(X, dam Y)) / 2, which are the
// relationships at positions 1 and 2 (3 and 4 when X is the later one).
struct Relationships {
  std::vector<double> inbreeding;  // F of animals 0..n
  std::vector<double> of_class;    // classes 1..pairs
  std::vector<double> unstored;    // as Classes::unstored

  double at(int32_t code) const {
    if (code > 0) return of_class[static_cast<size_t>(code)];
    if (code < 0) return unstored[static_cast<size_t>(-(code + 1))];
    return 0.0;
  }
};

Relationships class_relationships(const RunTables& t, const Classes& k) {
  const int32_t n = t.largest_animal;
  const std::span<const PedigreeRow> pedigree(static_cast<const PedigreeRow*>(t.pedigree), static_cast<size_t>(n) + 1);
  Relationships rel;
  rel.inbreeding.assign(static_cast<size_t>(n) + 1, 0.0);
  if (exact_inbreeding(pedigree, n, std::span<double>(rel.inbreeding)).loop) {
    fault("a pedigree loop");
  }
  const std::vector<double>& F = rel.inbreeding;
  const Combination* table = t.combination;
  rel.of_class.assign(static_cast<size_t>(k.pairs) + 1, 0.0);

  auto founder = [&](int32_t a) { return pedigree[a].sire == 0 && pedigree[a].dam == 0; };
  std::vector<AnimalPair> direct = k.unstored;
  std::vector<int32_t> direct_class;
  for (int32_t c = k.with_line + 1; c <= k.pairs; ++c) {
    const Combination& r = table[k.row[c]];
    if (r.member1 == r.member2) {
      rel.of_class[c] = 1.0 + F[r.member1];
    } else if (!founder(r.member1) || !founder(r.member2)) {
      direct.push_back({r.member1, r.member2});
      direct_class.push_back(c);
    }
  }
  std::vector<double> value(direct.size());
  pair_relationships(pedigree, n, F, direct, value);
  rel.unstored.assign(value.begin(), value.begin() + static_cast<ptrdiff_t>(k.unstored.size()));
  for (size_t i = 0; i < direct_class.size(); ++i) {
    rel.of_class[direct_class[i]] = value[k.unstored.size() + i];
  }
  value = std::vector<double>();
  direct = std::vector<AnimalPair>();

  std::vector<int32_t> position;
  if (!parents_first_positions(pedigree, n, position)) fault("a pedigree loop");
  auto later = [&](const Combination& r) {
    return std::max(position[r.member1], position[r.member2]);
  };
  std::vector<int32_t> start(static_cast<size_t>(n) + 2, 0);
  for (int32_t c = 1; c <= k.with_line; ++c) ++start[later(table[k.row[c]])];
  for (int32_t p = 1; p <= n + 1; ++p) start[p] += start[p - 1];
  std::vector<int32_t> order(static_cast<size_t>(k.with_line));
  for (int32_t c = 1; c <= k.with_line; ++c) order[start[later(table[k.row[c]]) - 1]++] = c;
  for (const int32_t c : order) {
    const Combination& r = table[k.row[c]];
    const auto& line = k.line[c];
    if (r.member1 == r.member2) {
      rel.of_class[c] = 1.0 + F[r.member1];
    } else if (position[r.member1] > position[r.member2]) {
      rel.of_class[c] = (rel.at(line[2]) + rel.at(line[3])) * 0.5;
    } else {
      rel.of_class[c] = (rel.at(line[0]) + rel.at(line[1])) * 0.5;
    }
  }
  return rel;
}

// The exact regression of a class with a line: the covariances of the class
// effects follow from the relationships among its six animals,
// cov(f_ij, f_kl) = a_ik a_jl + a_il a_jk.
struct ClassCovariances {
  double a[kAnimals][kAnimals] = {};

  double operator()(int i, int j, int k, int l) const { return a[i][k] * a[j][l] + a[i][l] * a[j][k]; }
  void set(int i, int j, double v) { a[i][j] = a[j][i] = v; }
};

ClassCovariances covariances_of(const Combination& r, const std::array<int32_t, kPositions>& line,
                                double own, const Relationships& rel) {
  const int32_t id[kAnimals] = {r.member1, r.member2, r.m1sire, r.m1dam, r.m2sire, r.m2dam};
  const std::vector<double>& F = rel.inbreeding;
  ClassCovariances v;
  for (int i = 0; i < kAnimals; ++i) {
    if (id[i] != 0) v.a[i][i] = 1.0 + F[static_cast<size_t>(id[i])];
  }
  v.set(kX, kY, own);
  for (int n = 0; n < kPositions; ++n) {
    const int i = kPositionMembers[n][0];
    const int j = kPositionMembers[n][1];
    if (id[i] != 0 && id[j] != 0) v.set(i, j, rel.at(line[n]));
  }
  // The parents of one member: a(sire, dam) = 2 F; a member and its parent P:
  // (a(P, sire) + a(P, dam)) / 2.
  if (id[kSireX] != 0 && id[kDamX] != 0) v.set(kSireX, kDamX, 2.0 * F[static_cast<size_t>(id[kX])]);
  if (id[kSireY] != 0 && id[kDamY] != 0) v.set(kSireY, kDamY, 2.0 * F[static_cast<size_t>(id[kY])]);
  for (const int p : {kSireX, kDamX}) {
    if (id[p] != 0) v.set(kX, p, (v.a[p][kSireX] + v.a[p][kDamX]) * 0.5);
  }
  for (const int p : {kSireY, kDamY}) {
    if (id[p] != 0) v.set(kY, p, (v.a[p][kSireY] + v.a[p][kDamY]) * 0.5);
  }
  return v;
}

Regressions exact_regressions(const RunTables& t, const Classes& k, const Relationships& rel,
                              const std::vector<int32_t>& own_animal) {
  Regressions g;
  g.begin.assign(static_cast<size_t>(k.with_line) + 2, 0);
  g.residual.assign(static_cast<size_t>(k.total) + 1, 1.0);
  g.ancestor.reserve(static_cast<size_t>(k.with_line) * kPositions);
  g.coefficient.reserve(static_cast<size_t>(k.with_line) * kPositions);
  const Combination* table = t.combination;
  const std::vector<double>& F = rel.inbreeding;
  Ancestor ancestors[kPositions];
  for (int32_t c = 1; c <= k.with_line; ++c) {
    g.begin[c] = static_cast<int64_t>(g.ancestor.size());
    int parental = 0;
    int grand_parental = 0;
    const int count = distinct_ancestors(k.line[c], ancestors, parental, grand_parental);
    const ClassCovariances cov = covariances_of(table[k.row[c]], k.line[c], rel.of_class[c], rel);
    const double variance = cov(kX, kY, kX, kY);
    // b = V^-1 k by the Cholesky factor of V, r = var - k' V^-1 k. An
    // ancestor whose covariances its predecessors already account for (a
    // pivot lost to rounding) gets no coefficient.
    double factor[kPositions][kPositions] = {};
    double y[kPositions] = {};
    int kept[kPositions] = {};
    int m = 0;
    double explained = 0.0;
    for (int p = 0; p < count; ++p) {
      const Ancestor& ap = ancestors[p];
      double row[kPositions];
      double pivot = cov(ap.first, ap.second, ap.first, ap.second);
      const double diagonal = pivot;
      double rhs = cov(kX, kY, ap.first, ap.second);
      for (int s = 0; s < m; ++s) {
        const Ancestor& as = ancestors[kept[s]];
        double sum = cov(ap.first, ap.second, as.first, as.second);
        for (int u = 0; u < s; ++u) sum -= row[u] * factor[s][u];
        row[s] = sum / factor[s][s];
        pivot -= row[s] * row[s];
        rhs -= row[s] * y[s];
      }
      if (!(pivot > 1e-12 * diagonal)) continue;
      const double d = std::sqrt(pivot);
      for (int s = 0; s < m; ++s) factor[m][s] = row[s];
      factor[m][m] = d;
      y[m] = rhs / d;
      explained += y[m] * y[m];
      kept[m++] = p;
    }
    double b[kPositions];
    for (int s = m; s-- > 0;) {
      double sum = y[s];
      for (int u = s + 1; u < m; ++u) sum -= factor[u][s] * b[u];
      b[s] = sum / factor[s][s];
    }
    for (int s = 0; s < m; ++s) {
      if (b[s] == 0.0) continue;
      g.ancestor.push_back(ancestors[kept[s]].number);
      g.coefficient.push_back(b[s]);
    }
    g.residual[c] = variance - explained;
    check_residual(g.residual[c], c);
  }
  g.begin[static_cast<size_t>(k.with_line) + 1] = static_cast<int64_t>(g.ancestor.size());
  for (int32_t c = k.with_line + 1; c <= k.pairs; ++c) {
    const Combination& r = table[k.row[c]];
    const double a = rel.of_class[c];
    g.residual[c] = (1.0 + F[r.member1]) * (1.0 + F[r.member2]) + a * a;
  }
  const std::span<const PedigreeRow> pedigree(static_cast<const PedigreeRow*>(t.pedigree),
                                              static_cast<size_t>(t.largest_animal) + 1);
  for (int32_t own = 1; own <= k.total - k.pairs; ++own) {
    const PedigreeRow& p = pedigree[own_animal[own]];
    const int32_t parent = p.sire != 0 ? p.sire : p.dam;
    g.residual[k.pairs + own] = parent != 0 ? 1.0 + F[parent] : 1.0;
  }
  return g;
}

// Numbers as the inverse file writes them: integers in plain decimal, reals
// as the shortest text that reads back as the same double.
void put_number(std::string& line, int64_t v) {
  char buf[24];
  line.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}
void put_number(std::string& line, double v) {
  char buf[32];
  line.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}
std::string number_text(double v) {
  std::string s;
  put_number(s, v);
  return s;
}

// Writes T' R^-1 T row by row. Entry (i, j), j <= i, is the sum over the
// classes c whose regression involves both (c itself and its ancestors) of
// v_c(i) v_c(j) / r_c, v_c being 1 at c and minus the coefficient at each
// ancestor: row i gathers class i and the classes that name i as an ancestor.
int64_t write_rows(TextIO& io, const Regressions& g, int32_t classes, int32_t with_line) {
  std::vector<int64_t> child_begin(static_cast<size_t>(classes) + 2, 0);
  for (const int32_t a : g.ancestor) ++child_begin[static_cast<size_t>(a) + 1];
  for (int32_t c = 1; c <= classes + 1; ++c) child_begin[c] += child_begin[c - 1];
  std::vector<int32_t> child(g.ancestor.size());
  {
    std::vector<int64_t> next(child_begin.begin(), child_begin.end() - 1);
    for (int32_t c = 1; c <= with_line; ++c) {
      for (int64_t e = g.begin[c]; e < g.begin[c + 1]; ++e) {
        child[static_cast<size_t>(next[g.ancestor[e]]++)] = c;
      }
    }
  }
  std::vector<double> sum(static_cast<size_t>(classes) + 1, 0.0);
  std::vector<int32_t> seen(static_cast<size_t>(classes) + 1, 0);
  std::vector<int32_t> touched;
  std::string line;
  int64_t nonzeros = 0;
  for (int32_t i = 1; i <= classes; ++i) {
    touched.clear();
    auto add = [&](int32_t j, double v) {
      if (seen[j] != i) {
        seen[j] = i;
        sum[j] = 0.0;
        touched.push_back(j);
      }
      sum[j] += v;
    };
    // The terms of class c, whose v_c is `at_i` at i.
    auto add_class = [&](int32_t c, double at_i) {
      const double w = at_i / g.residual[c];
      if (c <= i) add(c, w);
      if (c > with_line) return;
      for (int64_t e = g.begin[c]; e < g.begin[c + 1]; ++e) {
        if (g.ancestor[e] <= i) add(g.ancestor[e], -w * g.coefficient[e]);
      }
    };
    add_class(i, 1.0);
    for (int64_t k = child_begin[i]; k < child_begin[i + 1]; ++k) {
      const int32_t c = child[k];
      int64_t e = g.begin[c];
      while (g.ancestor[e] != i) ++e;
      add_class(c, -g.coefficient[e]);
    }
    std::sort(touched.begin(), touched.end());
    for (const int32_t j : touched) {
      if (sum[j] == 0.0) continue;
      line.clear();
      put_number(line, int64_t{i});
      line += ' ';
      put_number(line, int64_t{j});
      line += ' ';
      put_number(line, sum[j]);
      io.write_line(kClassInverseUnit, line);
      ++nonzeros;
    }
  }
  return nonzeros;
}

bool ends_with(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

void write_class_inverse(Run& run) {
  RunTables& t = run.t;
  if (t.class_inverse.file.empty()) return;
  const bool exact = t.class_inverse.rule == ClassInverseRule::Exact;
  Regressions g;
  int32_t classes = 0;
  int32_t with_line = 0;
  {
    Classes k = collect_classes(run, exact);
    classes = k.total;
    with_line = k.with_line;
    if (exact) {
      const std::vector<int32_t> own_animal = own_class_animals(t, k);
      const Relationships rel = class_relationships(t, k);
      g = exact_regressions(t, k, rel, own_animal);
    } else {
      g = mask_regressions(k);
    }
  }
  double log_determinant = 0.0;
  for (int32_t c = 1; c <= classes; ++c) log_determinant += std::log(g.residual[c]);
  if (ends_with(t.class_inverse.file, ".gin")) {
    run.io.write_line(kClassInverseUnit, number_text(log_determinant));
  }
  const int64_t nonzeros = write_rows(run.io, g, classes, with_line);
  t.class_inverse_output.report = "class inverse: " + std::to_string(classes) + " classes, " +
                                  std::to_string(nonzeros) + " non-zeros, log-determinant " +
                                  number_text(log_determinant) + ", " + t.class_inverse.file;
}

}  // namespace parclas
