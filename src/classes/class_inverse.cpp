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
  TableVector<int32_t> row;  // row of each pair class in the class table
  // Per class with a line, per ancestor position: the class number there; 0
  // where a member is unknown; -(k + 1) for a pair of known members that is
  // not stored (eliminated), when those are kept as unstored[k].
  TableVector<std::array<int32_t, kPositions>> line;
  std::vector<AnimalPair> unstored;
};

// Asks for memory that a loop reads a few steps later: the tables of a
// national run are far larger than the caches, and each read on its own
// would wait for memory.
template <class T>
inline void ask_for(const T& value) {
#if defined(__GNUC__)
  __builtin_prefetch(&value);
#else
  (void)value;
#endif
}
constexpr int32_t kAhead = 8;

[[noreturn]] void fault(const std::string& what) {
  throw std::logic_error("class inverse: " + what);
}

// The stored classes by their pair, for the look-ups of the class pedigree
// lines. The class table keeps the rows of pruned pairs and probes 17 rows
// apart, so a search for a pruned pair meets many rows, each a cache miss;
// this index holds only the classes, at most half full, probed slot after
// slot: a pair is found, or found missing, within a cache line or two.
class ClassIndex {
 public:
  explicit ClassIndex(int64_t classes) {
    while (slots_ < 2 * static_cast<uint64_t>(classes)) {
      slots_ *= 2;
      ++bits_;
    }
    slot_.assign(slots_, Slot{0, 0});
  }
  void add(int32_t a, int32_t b, int32_t number) {
    const uint64_t key = key_of(a, b);
    uint64_t s = home(key);
    while (slot_[s].key != 0) s = (s + 1) & (slots_ - 1);
    slot_[s] = {key, number};
  }
  // A look-up to be made: the pair, its home slot, and where its answer goes.
  struct Query {
    uint64_t key;
    uint32_t home;
    uint32_t at;
  };
  Query query(int32_t a, int32_t b, uint32_t at) const {
    const uint64_t key = key_of(a, b);
    return {key, static_cast<uint32_t>(home(key)), at};
  }
  static AnimalPair pair_of(const Query& q) {
    return {static_cast<int32_t>(q.key >> 32), static_cast<int32_t>(q.key & 0xffffffffu)};
  }
  // Queries in the order of their home slots (a radix sort, 11 bits a pass).
  void sort_by_home(std::vector<Query>& q, std::vector<Query>& scratch) const {
    constexpr int kDigit = 11;
    scratch.resize(q.size());
    for (int shift = 0; shift < bits_; shift += kDigit) {
      size_t start[(1 << kDigit) + 1] = {};
      for (const Query& x : q) ++start[((x.home >> shift) & ((1u << kDigit) - 1)) + 1];
      for (int d = 1; d <= 1 << kDigit; ++d) start[d] += start[d - 1];
      for (const Query& x : q) scratch[start[(x.home >> shift) & ((1u << kDigit) - 1)]++] = x;
      q.swap(scratch);
    }
  }
  // The class of the pair, 0 when it is not a class.
  int32_t find(const Query& q) const {
    for (uint64_t s = q.home;; s = (s + 1) & (slots_ - 1)) {
      if (slot_[s].key == q.key) return slot_[s].number;
      if (slot_[s].key == 0) return 0;
    }
  }

 private:
  struct Slot {
    uint64_t key;  // 0: free
    int32_t number;
  };
  static uint64_t key_of(int32_t a, int32_t b) {
    if (a > b) std::swap(a, b);
    return static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32 | static_cast<uint32_t>(b);
  }
  uint64_t home(uint64_t key) const {
    return key * 0x9E3779B97F4A7C15ull >> (64 - bits_);
  }
  uint64_t slots_ = 16;
  int bits_ = 4;
  TableVector<Slot> slot_;
};

Classes collect_classes(Run& run, bool keep_unstored) {
  RunTables& t = run.t;
  Classes k;
  k.with_line = t.classes_with_parents;
  k.pairs = t.classes_with_parents + t.classes_without_parents;
  k.total = k.pairs + t.own_class_animals;
  k.row.assign(static_cast<size_t>(k.pairs) + 1, 0);
  const Combination* table = t.combination;
  ClassIndex index(k.pairs);
  for (int32_t r = 1; r <= t.capacity.classes; ++r) {
    const Combination& c = table[r];
    if (c.status == kNoPair) continue;
    if (c.number < 1 || c.number > k.pairs || k.row[c.number] != 0) {
      fault("class numbers do not run 1..C");
    }
    k.row[c.number] = r;
    index.add(c.member1, c.member2, c.number);
  }
  for (int32_t c = 1; c <= k.pairs; ++c) {
    if (k.row[c] == 0) fault("class numbers do not run 1..C");
  }
  k.line.resize(static_cast<size_t>(k.with_line) + 1);
  // The look-ups in batches: the pairs of a stretch of classes sorted by
  // their home slot, so that the index is read in order and the answers go
  // to a stretch of lines that stays in cache. One by one, every look-up
  // would wait on memory.
  constexpr int32_t kBatch = 1 << 18;
  std::vector<ClassIndex::Query> query;
  std::vector<ClassIndex::Query> scratch;
  for (int32_t first = 1; first <= k.with_line; first += kBatch) {
    const int32_t last = static_cast<int32_t>(std::min<int64_t>(k.with_line, int64_t{first} + kBatch - 1));
    query.clear();
    for (int32_t c = first; c <= last; ++c) {
      const Combination& record = table[k.row[c]];
      if (!has_grandparents(record)) fault("a class pedigree line without parent classes");
      for (int n = 0; n < kPositions; ++n) {
        const int32_t a = record.*kAncestorPairs[n].first;
        const int32_t b = record.*kAncestorPairs[n].second;
        k.line[c][n] = 0;
        if (a != 0 && b != 0) {
          query.push_back(index.query(a, b, static_cast<uint32_t>(c - first) * kPositions + n));
        }
      }
    }
    index.sort_by_home(query, scratch);
    for (const ClassIndex::Query& q : query) {
      int32_t code = index.find(q);
      if (code == 0 && keep_unstored) {
        k.unstored.push_back(ClassIndex::pair_of(q));
        code = -static_cast<int32_t>(k.unstored.size());
      }
      k.line[first + static_cast<int32_t>(q.at / kPositions)][q.at % kPositions] = code;
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

// The regression of a class with a line on its distinct ancestor classes,
// with its residual variance: one record, as the assembly reads it for every
// class that names an ancestor, in two whole cache lines (the large tables
// start on a huge page).
struct LineRegression {
  double coefficient[kPositions];
  double residual;
  int32_t ancestor[kPositions];
  int32_t count;
  int32_t unused[5];
};
static_assert(sizeof(LineRegression) == 128);
struct Regressions {
  TableVector<LineRegression> line;  // classes 1..with_line
  std::vector<double> residual;      // every class, 1..total
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
  g.line.resize(static_cast<size_t>(k.with_line) + 1);
  g.residual.assign(static_cast<size_t>(k.total) + 1, 1.0);
  Ancestor ancestors[kPositions];
  for (int32_t c = 1; c <= k.with_line; ++c) {
    LineRegression& rc = g.line[c];
    rc.count = 0;
    int parental = 0;
    int grand_parental = 0;
    const int count = distinct_ancestors(k.line[c], ancestors, parental, grand_parental);
    for (int a = 0; a < count; ++a) {
      if (ancestors[a].mask == 0.0) continue;
      rc.ancestor[rc.count] = ancestors[a].number;
      rc.coefficient[rc.count++] = ancestors[a].mask;
    }
    rc.residual = g.residual[c] = 1.0 - parental / 4.0 + grand_parental / 16.0;
  }
  return g;
}

// The additive relationship of each pair class's members: directly for the
// classes without a line and the unstored pairs that lines name, then, for
// the classes with a line, from their ancestor classes, taken in the order of
// their later member in a parents-first order of the animals: expanding that
// member, a(X, Y) = (a(X, sire Y) + a(X, dam Y)) / 2, which are the
// relationships at positions 1 and 2 (3 and 4 when X is the later one).
struct Relationships {
  TableVector<double> inbreeding;  // F of animals 0..n
  TableVector<double> of_class;    // classes 1..pairs
  TableVector<double> unstored;    // as Classes::unstored

  double at(int32_t code) const {
    if (code > 0) return of_class[static_cast<size_t>(code)];
    if (code < 0) return unstored[static_cast<size_t>(-(code + 1))];
    return 0.0;
  }
  void ask_for_line(const std::array<int32_t, kPositions>& line) const {
    for (const int32_t code : line) {
      if (code > 0) ask_for(of_class[static_cast<size_t>(code)]);
      if (code < 0) ask_for(unstored[static_cast<size_t>(-(code + 1))]);
    }
  }
};

// Hands the members of the class with a line kAhead places after c, and
// their parents, to `ask` (which asks for their data ahead of their turn).
template <class Ask>
void ask_for_animals_ahead(const Combination* table, const Classes& k, int32_t c, Ask&& ask) {
  if (c + kAhead > k.with_line) return;
  const Combination& ahead = table[k.row[c + kAhead]];
  for (const int32_t a : {ahead.member1, ahead.member2, ahead.m1sire, ahead.m1dam, ahead.m2sire,
                          ahead.m2dam}) {
    ask(a);
  }
}

Relationships class_relationships(const RunTables& t, const Classes& k) {
  const int32_t n = t.largest_animal;
  const std::span<const PedigreeRow> pedigree(static_cast<const PedigreeRow*>(t.pedigree),
                                              static_cast<size_t>(n) + 1);
  Relationships rel;
  rel.inbreeding.assign(static_cast<size_t>(n) + 1, 0.0);
  if (exact_inbreeding(pedigree, n, std::span<double>(rel.inbreeding)).loop) {
    fault("a pedigree loop");
  }
  const TableVector<double>& F = rel.inbreeding;
  TableVector<int32_t> position;
  if (!parents_first_positions(pedigree, n, position)) fault("a pedigree loop");
  const Combination* table = t.combination;
  rel.of_class.assign(static_cast<size_t>(k.pairs) + 1, 0.0);
  rel.unstored.assign(k.unstored.size(), 0.0);

  // An unstored pair at a parental position, X with a parent P of the other
  // member, follows from the grand-parental positions when X comes after P
  // in the parents-first order (X is then no ancestor of P):
  // a(X, P) = (a(sire X, P) + a(dam X, P)) / 2. Grand-parental pairs are
  // always stored, as their references count 2.
  constexpr int kFrom[kParentalPositions][2] = {{4, 6}, {5, 7}, {4, 5}, {6, 7}};
  auto derived = [&](const std::array<int32_t, kPositions>& line, const Combination& r, int q) {
    const int32_t x = q < 2 ? r.member1 : r.member2;
    const int32_t parent = r.*kAncestorPairs[q].second;
    return line[q] < 0 && position[x] > position[parent];
  };
  std::vector<AnimalPair> direct;
  std::vector<int32_t> direct_code;  // the class, or the unstored pair as -(k + 1)
  for (int32_t c = 1; c <= k.with_line; ++c) {
    ask_for_animals_ahead(table, k, c, [&](int32_t a) { ask_for(position[a]); });
    const Combination& r = table[k.row[c]];
    for (int q = 0; q < kPositions; ++q) {
      const int32_t code = k.line[c][q];
      if (code >= 0 || (q < kParentalPositions && derived(k.line[c], r, q))) continue;
      direct.push_back(k.unstored[static_cast<size_t>(-(code + 1))]);
      direct_code.push_back(code);
    }
  }
  auto founder = [&](int32_t a) { return pedigree[a].sire == 0 && pedigree[a].dam == 0; };
  for (int32_t c = k.with_line + 1; c <= k.pairs; ++c) {
    if (c + kAhead <= k.pairs) {
      const Combination& ahead = table[k.row[c + kAhead]];
      ask_for(pedigree[ahead.member1]);
      ask_for(pedigree[ahead.member2]);
      ask_for(F[ahead.member1]);
    }
    const Combination& r = table[k.row[c]];
    if (r.member1 == r.member2) {
      rel.of_class[c] = 1.0 + F[r.member1];
    } else if (!founder(r.member1) || !founder(r.member2)) {
      direct.push_back({r.member1, r.member2});
      direct_code.push_back(c);
    }
  }
  {
    std::vector<double> value(direct.size());
    pair_relationships(pedigree, n, F, position, direct, value);
    for (size_t i = 0; i < direct.size(); ++i) {
      const int32_t code = direct_code[i];
      (code > 0 ? rel.of_class[code] : rel.unstored[static_cast<size_t>(-(code + 1))]) = value[i];
    }
  }
  direct = std::vector<AnimalPair>();
  direct_code = std::vector<int32_t>();

  // The classes with a line, by their later member: the relationships of
  // the positions a class uses are then known.
  auto later = [&](const Combination& r) {
    return std::max(position[r.member1], position[r.member2]);
  };
  std::vector<int32_t> start(static_cast<size_t>(n) + 2, 0);
  for (int32_t c = 1; c <= k.with_line; ++c) ++start[later(table[k.row[c]])];
  for (int32_t p = 1; p <= n + 1; ++p) start[p] += start[p - 1];
  std::vector<int32_t> order(static_cast<size_t>(k.with_line));
  for (int32_t c = 1; c <= k.with_line; ++c) order[start[later(table[k.row[c]]) - 1]++] = c;
  // The classes come in no order of their own: their records are asked for
  // two steps ahead of the relationships they name.
  for (size_t i = 0; i < order.size(); ++i) {
    if (i + 2 * kAhead < order.size()) {
      ask_for(table[k.row[order[i + 2 * kAhead]]]);
      ask_for(k.line[order[i + 2 * kAhead]]);
    }
    if (i + kAhead < order.size()) {
      const int32_t ahead = order[i + kAhead];
      rel.ask_for_line(k.line[ahead]);
      ask_for(position[table[k.row[ahead]].member1]);
      ask_for(position[table[k.row[ahead]].member2]);
      ask_for(rel.of_class[ahead]);
    }
    const int32_t c = order[i];
    const Combination& r = table[k.row[c]];
    const auto& line = k.line[c];
    for (int q = 0; q < kParentalPositions; ++q) {
      if (!derived(line, r, q)) continue;
      rel.unstored[static_cast<size_t>(-(line[q] + 1))] =
          (rel.at(line[kFrom[q][0]]) + rel.at(line[kFrom[q][1]])) * 0.5;
    }
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
  const TableVector<double>& F = rel.inbreeding;
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
  g.line.resize(static_cast<size_t>(k.with_line) + 1);
  g.residual.assign(static_cast<size_t>(k.total) + 1, 1.0);
  const Combination* table = t.combination;
  const TableVector<double>& F = rel.inbreeding;
  Ancestor ancestors[kPositions];
  for (int32_t c = 1; c <= k.with_line; ++c) {
    ask_for_animals_ahead(table, k, c, [&](int32_t a) { ask_for(F[a]); });
    if (c + kAhead <= k.with_line) {
      rel.ask_for_line(k.line[c + kAhead]);
    }
    int parental = 0;
    int grand_parental = 0;
    const int count = distinct_ancestors(k.line[c], ancestors, parental, grand_parental);
    const ClassCovariances cov = covariances_of(table[k.row[c]], k.line[c], rel.of_class[c], rel);
    const double variance = cov(kX, kY, kX, kY);
    // b = V^-1 k by V = L D L' (L unit lower triangular, no square roots),
    // r = var - k' V^-1 k. An ancestor whose covariances its predecessors
    // already account for (a pivot lost to rounding) gets no coefficient.
    double unit[kPositions][kPositions] = {};  // L below the diagonal
    double pivot[kPositions] = {};             // D
    double z[kPositions] = {};                 // L z = k
    int kept[kPositions] = {};
    int m = 0;
    double explained = 0.0;
    for (int p = 0; p < count; ++p) {
      const Ancestor& ap = ancestors[p];
      double dl[kPositions];  // D times this ancestor's row of L
      double l[kPositions];
      double d = cov(ap.first, ap.second, ap.first, ap.second);
      const double diagonal = d;
      double zp = cov(kX, kY, ap.first, ap.second);
      for (int s = 0; s < m; ++s) {
        const Ancestor& as = ancestors[kept[s]];
        double sum = cov(ap.first, ap.second, as.first, as.second);
        for (int u = 0; u < s; ++u) sum -= dl[u] * unit[s][u];
        dl[s] = sum;
        l[s] = sum / pivot[s];
        d -= l[s] * sum;
        zp -= l[s] * z[s];
      }
      if (!(d > 1e-12 * diagonal)) continue;
      for (int s = 0; s < m; ++s) unit[m][s] = l[s];
      pivot[m] = d;
      z[m] = zp;
      explained += zp * zp / d;
      kept[m++] = p;
    }
    double b[kPositions];
    for (int s = m; s-- > 0;) {
      double sum = z[s] / pivot[s];
      for (int u = s + 1; u < m; ++u) sum -= unit[u][s] * b[u];
      b[s] = sum;
    }
    LineRegression& rc = g.line[c];
    rc.count = 0;
    for (int s = 0; s < m; ++s) {
      if (b[s] == 0.0) continue;
      rc.ancestor[rc.count] = ancestors[kept[s]].number;
      rc.coefficient[rc.count++] = b[s];
    }
    rc.residual = g.residual[c] = variance - explained;
    check_residual(rc.residual, c);
  }
  for (int32_t c = k.with_line + 1; c <= k.pairs; ++c) {
    if (c + kAhead <= k.pairs) {
      ask_for(F[table[k.row[c + kAhead]].member1]);
      ask_for(F[table[k.row[c + kAhead]].member2]);
    }
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
// as the shortest text that reads back as the same double. Each appends at
// `at` and returns the end.
char* put_number(char* at, int64_t v) { return std::to_chars(at, at + 24, v).ptr; }
char* put_number(char* at, double v) { return std::to_chars(at, at + 32, v).ptr; }
std::string number_text(double v) {
  char text[32];
  return std::string(text, put_number(text, v));
}

// Writes T' R^-1 T row by row. Entry (i, j), j <= i, is the sum over the
// classes c whose regression involves both (c itself and its ancestors) of
// v_c(i) v_c(j) / r_c, v_c being 1 at c and minus the coefficient at each
// ancestor: row i gathers class i and the classes that name i as an
// ancestor. Their terms are collected, then sorted and summed by column.
int64_t write_rows(TextIO& io, const Regressions& g, int32_t classes, int32_t with_line) {
  // The classes naming each class as an ancestor, and where in their list.
  struct Child {
    int32_t number;
    int32_t at;
  };
  std::vector<int64_t> child_begin(static_cast<size_t>(classes) + 2, 0);
  for (int32_t c = 1; c <= with_line; ++c) {
    const LineRegression& rc = g.line[c];
    for (int a = 0; a < rc.count; ++a) ++child_begin[static_cast<size_t>(rc.ancestor[a]) + 1];
  }
  for (int32_t c = 1; c <= classes + 1; ++c) child_begin[c] += child_begin[c - 1];
  TableVector<Child> child(static_cast<size_t>(child_begin[static_cast<size_t>(classes) + 1]));
  {
    std::vector<int64_t> next(child_begin.begin(), child_begin.end() - 1);
    for (int32_t c = 1; c <= with_line; ++c) {
      const LineRegression& rc = g.line[c];
      for (int a = 0; a < rc.count; ++a) child[static_cast<size_t>(next[rc.ancestor[a]]++)] = {c, a};
    }
  }
  struct Term {
    int32_t column;
    double value;
  };
  std::vector<Term> terms;
  char line[24 + 1 + 24 + 1 + 32];
  int64_t nonzeros = 0;
  constexpr int64_t kRecordsAhead = 12;  // child records asked for ahead: they lie anywhere
  const auto edges = static_cast<int64_t>(child.size());
  for (int32_t i = 1; i <= classes; ++i) {
    terms.clear();
    // The terms of class c with a line, whose v_c is `at_i` at i.
    auto add_class = [&](int32_t c, const LineRegression& rc, double at_i) {
      const double w = at_i / rc.residual;
      if (c <= i) terms.push_back({c, w});
      for (int a = 0; a < rc.count; ++a) {
        if (rc.ancestor[a] <= i) terms.push_back({rc.ancestor[a], -w * rc.coefficient[a]});
      }
    };
    if (i <= with_line) {
      add_class(i, g.line[i], 1.0);
    } else {
      terms.push_back({i, 1.0 / g.residual[i]});
    }
    for (int64_t e = child_begin[i]; e < child_begin[i + 1]; ++e) {
#if defined(__GNUC__)
      if (e + kRecordsAhead < edges) {
        const char* ahead = reinterpret_cast<const char*>(&g.line[child[e + kRecordsAhead].number]);
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + 64);
      }
#endif
      const LineRegression& rc = g.line[child[e].number];
      add_class(child[e].number, rc, -rc.coefficient[child[e].at]);
    }
    std::sort(terms.begin(), terms.end(),
              [](const Term& a, const Term& b) { return a.column < b.column; });
    char* const row_end = put_number(line, int64_t{i});  // the row once for all its lines
    *row_end = ' ';
    for (size_t k = 0; k < terms.size();) {
      const int32_t j = terms[k].column;
      double sum = 0.0;
      for (; k < terms.size() && terms[k].column == j; ++k) sum += terms[k].value;
      if (sum == 0.0) continue;
      char* end = put_number(row_end + 1, int64_t{j});
      *end++ = ' ';
      end = put_number(end, sum);
      io.write_line(kClassInverseUnit, std::string_view(line, static_cast<size_t>(end - line)));
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
