#include "inbreeding/exact_inbreeding.h"

#include <algorithm>
#include <utility>
#include <bit>
#include <condition_variable>
#include <exception>
#include <latch>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "run/table_memory.h"

namespace parclas {

namespace {

// The inbreeding of an offspring of s and d is a(s, d) / 2. For one parent g
// (the "key" of its matings) the column of the relationship matrix
// A = T D T' gives a(g, m) for every mate m at once (Colleau's indirect
// method): v = T' e_g holds the contribution of every ancestor j of g
// (v_g = 1, each animal passes half of its value to each parent), w = D v with
// D_j = 1/2 - (F_sire(j) + F_dam(j)) / 4 (F of an unknown parent taken as -1),
// and x = T w, x_i = (x_sire(i) + x_dam(i)) / 2 + w_i, is a(i, g). x is formed
// only for the mates of g and their ancestors. Full sibs share one pair, and
// each pair goes to the parent with more mates, so that one key serves many.
//
// Keys are taken in batches: a batch walks the ancestors of its keys and of
// all their mates once, and carries one value of v and x per key ("lane")
// through that walk; on a national pedigree the keys of one generation of AI
// sires share most of their mates' ancestors. The lanes go in groups of up to
// eight, and a group is computed over the part of the walk that one of its
// keys needs. The result does not depend on how keys are batched: x_i of a
// lane is always formed from its parents' x by the same operations, so every
// animal gets the same value in whatever batch, and w is that of the key
// alone. For w the sums that form v (contributions 2^-L of the paths from the
// key, at most one per path length in total) are exact for keys up to 47
// generations deep, in any order; a deeper key goes alone and its v is summed
// in its own walk's order. A batch never holds a key together with one whose
// offspring's inbreeding it needs (D of its ancestors), and the batches are
// computed in order. Only additions, halvings and the products D v are
// rounded, and all terms are at least 0, so the result is exact wherever
// double precision holds the dyadic fractions involved, and within a few
// units of the last place elsewhere.

using Slot = uint32_t;  // storage slot 1..n of an animal; 0 an unknown parent
template <class Row>
using Table = TableVector<Row>;

constexpr uint32_t kNone = UINT32_MAX;
constexpr size_t kLanes = 8;            // keys of one group, computed side by side
constexpr size_t kBatchKeys = 128;      // keys of one batch: 16 groups
using GroupMask = uint16_t;             // a bit for each group of a batch
constexpr uint32_t kManyMates = 100;    // keys with this many pairs batch with their like
constexpr uint8_t kSummedExactly = 47;  // deepest key whose v sums exactly in any order
constexpr size_t kLaneValues = size_t{8} << 20;  // doubles of x held at once (64 MB)

// Table memory whose rows resize() leaves unset: for tables whose every
// row is written before it is read.
template <class Row>
struct UnsetRows : TableAllocator<Row> {
  using value_type = Row;
  UnsetRows() = default;
  template <class Other>
  UnsetRows(const UnsetRows<Other>&) {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  friend bool operator==(const UnsetRows&, const UnsetRows&) { return true; }
};
template <class Row>
using Unset = std::vector<Row, UnsetRows<Row>>;

// Groups the items 0..count-1 by their key (0..keys-1, kNone for none),
// keeping their order within a key: key k's items are
// grouped[begin[k]] .. grouped[begin[k + 1] - 1], item i as value_of(i).
template <class KeyOf, class ValueOf, class Grouped>
void group_by_key(size_t keys, size_t count, KeyOf key_of, ValueOf value_of, Table<uint32_t>& begin,
                  Grouped& grouped) {
  begin.assign(keys + 1, 0);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t k = key_of(i);
    if (k != kNone) ++begin[k];
  }
  for (size_t k = 1; k < keys; ++k) begin[k] += begin[k - 1];
  begin[keys] = keys > 0 ? begin[keys - 1] : 0;
  grouped.resize(begin[keys]);
  // From the last item back, each run filled from its end: begin[k] ends at
  // the start of k's run.
  for (size_t i = count; i-- > 0;) {
    const uint32_t k = key_of(i);
    if (k != kNone) grouped[--begin[k]] = value_of(i);
  }
}

uint32_t known(int32_t parent, int32_t n) {
  return parent >= 1 && parent <= n ? static_cast<uint32_t>(parent) : 0;
}

struct Parents {
  Slot sire;
  Slot dam;
};

// The pedigree in storage slots, parents before offspring.
struct SlotPedigree {
  size_t n = 0;
  Unset<Parents> parents;  // by slot; row 0 stands for unknown parents
  Table<uint32_t> animal;   // animal number by slot; empty: slot s holds animal s
  uint32_t animal_in(size_t s) const { return animal.empty() ? static_cast<uint32_t>(s) : animal[s]; }
};

// Animal numbers in parents-first order, generation after generation:
// order[1..placed]. Fewer than n are placed when a loop holds some back.
size_t order_parents_first(const SlotPedigree& animals, Table<uint32_t>& order) {
  const size_t n = animals.n;
  const auto parent_of_edge = [&](size_t e) {  // edges 2a, 2a + 1: the sire, the dam of a
    const Parents p = animals.parents[e / 2];
    const Slot parent = e % 2 == 0 ? p.sire : p.dam;
    return parent == 0 ? kNone : parent;
  };
  Table<uint32_t> begin;
  Table<uint32_t> child_edge;
  group_by_key(n + 1, 2 * (n + 1), parent_of_edge, [](size_t e) { return static_cast<uint32_t>(e); }, begin,
               child_edge);
  Table<uint8_t> parents_left(n + 1, 0);
  for (size_t e = 2; e < 2 * (n + 1); ++e) parents_left[e / 2] += parent_of_edge(e) != kNone;
  order.assign(n + 1, 0);
  size_t tail = 0;
  for (size_t a = 1; a <= n; ++a) {
    if (parents_left[a] == 0) order[++tail] = static_cast<uint32_t>(a);
  }
  for (size_t head = 1; head <= tail; ++head) {
    const uint32_t a = order[head];
    for (size_t k = begin[a]; k < begin[a + 1]; ++k) {
      const uint32_t c = child_edge[k] / 2;
      if (--parents_left[c] == 0) order[++tail] = c;
    }
  }
  return tail;
}

// The smallest animal number on a loop (in a strongly connected set of more
// than one animal, or its own parent), among the animals not placed.
// Tarjan's algorithm without recursion.
int32_t smallest_own_ancestor(const SlotPedigree& animals, const Table<uint8_t>& placed) {
  const size_t n = animals.n;
  const auto parent = [&](size_t a, size_t which) -> size_t {
    const Parents p = animals.parents[a];
    const size_t up = which == 0 ? p.sire : p.dam;
    return up != 0 && placed[up] == 0 ? up : 0;
  };
  std::vector<uint32_t> index(n + 1, 0);
  std::vector<uint32_t> low(n + 1, 0);
  std::vector<uint8_t> on_stack(n + 1, 0);
  std::vector<size_t> component;
  struct Frame {
    size_t animal;
    size_t next_parent;  // 0 sire, 1 dam, 2 done
  };
  std::vector<Frame> call;
  uint32_t counter = 0;
  size_t smallest = 0;
  const auto enter = [&](size_t a) {
    index[a] = low[a] = ++counter;
    component.push_back(a);
    on_stack[a] = 1;
    call.push_back({a, 0});
  };
  for (size_t root = 1; root <= n; ++root) {
    if (placed[root] != 0 || index[root] != 0) continue;
    enter(root);
    while (!call.empty()) {
      const size_t a = call.back().animal;
      if (call.back().next_parent < 2) {
        const size_t p = parent(a, call.back().next_parent++);
        if (p == 0) continue;
        if (index[p] == 0) {
          enter(p);
        } else if (on_stack[p] != 0) {
          low[a] = std::min(low[a], index[p]);
        }
        continue;
      }
      call.pop_back();
      if (!call.empty()) {
        const size_t up = call.back().animal;
        low[up] = std::min(low[up], low[a]);
      }
      if (low[a] != index[a]) continue;
      size_t members = 0;
      size_t least = a;
      size_t b = 0;
      do {
        b = component.back();
        component.pop_back();
        on_stack[b] = 0;
        least = std::min(least, b);
        ++members;
      } while (b != a);
      const bool own_parent = parent(a, 0) == a || parent(a, 1) == a;
      if ((members > 1 || own_parent) && (smallest == 0 || least < smallest)) smallest = least;
    }
  }
  return static_cast<int32_t>(smallest);
}

// Puts slot order[t] into slot t (order[0] = 0; parents before offspring in
// the new order).
void reorder_slots(SlotPedigree& slots, Table<uint32_t>& order) {
  const size_t n = slots.n;
  Table<uint32_t> slot_of(n + 1, 0);
  for (size_t t = 1; t <= n; ++t) slot_of[order[t]] = static_cast<uint32_t>(t);
  Unset<Parents> by_slot(n + 1);
  by_slot[0] = Parents{0, 0};
  for (size_t t = 1; t <= n; ++t) {
    const Parents p = slots.parents[order[t]];
    by_slot[t] = Parents{slot_of[p.sire], slot_of[p.dam]};
  }
  slots.parents = std::move(by_slot);
  if (!slots.animal.empty()) {
    for (size_t t = 1; t <= n; ++t) order[t] = slots.animal[order[t]];
  }
  slots.animal = std::move(order);
}

// Keys of one population share the ancestors of their mates, keys of
// separate populations (closed lines) nothing: in slot order, keys of many
// separate lines would meet in every batch. Where no set of animals related
// by descent holds an eighth of them, the sets go one after the other, each
// in slot order, the set of the smallest slot first.
void group_relatives(SlotPedigree& slots) {
  const size_t n = slots.n;
  // up[s]: a slot of the same set nearer its root; a root holds -(its size).
  Table<int32_t> up(n + 1, -1);
  const auto root = [&](size_t s) {
    while (up[s] >= 0) {
      const auto next = static_cast<size_t>(up[s]);
      if (up[next] >= 0) up[s] = up[next];
      s = next;
    }
    return s;
  };
  int32_t largest = 1;
  for (size_t s = 1; s <= n; ++s) {
    // Parents come first, so s is still a set of its own: it joins its
    // parents' sets.
    const Parents p = slots.parents[s];
    if (p.sire == 0 && p.dam == 0) continue;
    size_t a = root(p.sire != 0 ? p.sire : p.dam);
    if (p.sire != 0 && p.dam != 0) {
      size_t b = root(p.dam);
      if (a != b) {
        if (up[a] > up[b]) std::swap(a, b);  // a the larger set
        up[a] += up[b];
        up[b] = static_cast<int32_t>(a);
      }
    }
    up[a] -= 1;
    up[s] = static_cast<int32_t>(a);
    largest = std::max(largest, -up[a]);
  }
  if (8 * static_cast<size_t>(largest) >= n) return;
  // The sets in the order of their smallest slots: each root's first slot.
  Table<uint32_t> first(n + 1, 0);
  for (size_t s = n; s >= 1; --s) first[root(s)] = static_cast<uint32_t>(s);
  Table<uint32_t> begin;
  Table<uint32_t> order;
  group_by_key(n + 1, n + 1, [&](size_t s) { return s == 0 ? kNone : first[root(s)]; },
               [](size_t s) { return static_cast<uint32_t>(s); }, begin, order);
  order.insert(order.begin(), 0);
  reorder_slots(slots, order);
}

// Puts the animals in parents-first order, or returns the smallest animal on
// a loop.
int32_t parents_first(SlotPedigree& slots) {
  const size_t n = slots.n;
  Table<uint32_t> order;
  const size_t placed_count = order_parents_first(slots, order);
  if (placed_count < n) {
    Table<uint8_t> placed(n + 1, 0);
    for (size_t t = 1; t <= placed_count; ++t) placed[order[t]] = 1;
    return smallest_own_ancestor(slots, placed);
  }
  reorder_slots(slots, order);
  return 0;
}

// Storage slots: the animal numbers themselves where every known parent has
// a smaller number than its offspring (the usual numbering), else the
// parents-first order; then relatives together. Returns the smallest animal
// on a loop, or 0.
int32_t storage_slots(std::span<const PedigreeRow> ped, size_t n, SlotPedigree& slots,
                      std::latch* parents_read) {
  slots.n = n;
  slots.parents.resize(n + 1);
  slots.parents[0] = Parents{0, 0};
  bool numbered_parents_first = true;
  for (size_t a = 1; a <= n; ++a) {
    const Parents p{known(ped[a].sire, static_cast<int32_t>(n)), known(ped[a].dam, static_cast<int32_t>(n))};
    slots.parents[a] = p;
    numbered_parents_first = numbered_parents_first && p.sire < a && p.dam < a;
  }
  if (parents_read != nullptr) parents_read->count_down();  // `ped` is not read again
  if (!numbered_parents_first) {
    if (const int32_t loop = parents_first(slots); loop != 0) return loop;
  }
  group_relatives(slots);
  return 0;
}

// The distinct sire x dam pairs, each under its key, with the inbreeding of
// their offspring.
struct Matings {
  static constexpr uint32_t kKeyIsDam = uint32_t{1} << 31;  // in pair_of: the dam is the key
  Table<uint32_t> pair_of;    // by slot: its parents' pair (and kKeyIsDam), kNone with a parent unknown
  Table<uint32_t> key_begin;  // by slot: pairs key_begin[g] .. key_begin[g + 1] - 1 have key g
  Unset<Slot> mate;           // by pair: the parent that is not the key
  Table<double> f;            // by pair: a(sire, dam) / 2 once computed
  size_t pairs_of(Slot g) const { return key_begin[g + 1] - key_begin[g]; }
  double inbreeding(Slot s) const { return pair_of[s] == kNone ? 0.0 : f[pair_of[s] & ~kKeyIsDam]; }
};

// The pairs, found through the offspring of each sire, and each slot's pair.
// Each pair goes to the parent with more distinct mates (the sire on a tie),
// its key; the pairs are numbered key by key.
void parent_pairs(const SlotPedigree& slots, Matings& m) {
  const size_t n = slots.n;
  struct Offspring {
    Slot child;
    Slot dam;
  };
  Table<uint32_t> begin;
  Unset<Offspring> offspring;  // of known sire and dam, by sire
  group_by_key(n + 1, n + 1, [&](size_t s) {
    const Parents p = slots.parents[s];
    return p.sire != 0 && p.dam != 0 ? p.sire : kNone;
  }, [&](size_t s) { return Offspring{static_cast<Slot>(s), slots.parents[s].dam}; }, begin, offspring);
  // Per parent: its distinct mates, and as a dam 1 + the place in `offspring`
  // of its latest offspring (a full sib comes later among the same sire's).
  struct Parent {
    uint32_t mates;
    uint32_t latest;
  };
  Table<Parent> parent(n + 1, Parent{0, 0});
  Unset<Slot> pair_sire;
  Unset<Slot> pair_dam;
  pair_sire.reserve(offspring.size());
  pair_dam.reserve(offspring.size());
  m.pair_of.assign(n + 1, kNone);
  for (uint32_t sire = 1; sire <= n; ++sire) {
    uint32_t mates = 0;
    for (size_t k = begin[sire]; k < begin[sire + 1]; ++k) {
      const Offspring o = offspring[k];
      Parent& dam = parent[o.dam];
      if (dam.latest > begin[sire]) {
        m.pair_of[o.child] = m.pair_of[offspring[dam.latest - 1].child];
      } else {
        m.pair_of[o.child] = static_cast<uint32_t>(pair_sire.size());
        pair_sire.push_back(sire);
        pair_dam.push_back(o.dam);
        ++mates;
        if (o.dam != sire) ++dam.mates;
      }
      dam.latest = static_cast<uint32_t>(k + 1);
    }
    parent[sire].mates += mates;
  }
  const size_t pairs = pair_sire.size();
  Unset<uint32_t> key(pairs);
  for (size_t p = 0; p < pairs; ++p) {
    key[p] = parent[pair_sire[p]].mates >= parent[pair_dam[p]].mates ? pair_sire[p] : pair_dam[p];
  }
  Table<Parent>().swap(parent);
  Unset<uint32_t> by_key;
  group_by_key(n + 2, pairs, [&](size_t p) { return key[p]; }, [](size_t p) { return static_cast<uint32_t>(p); },
               m.key_begin, by_key);
  m.mate.resize(pairs);
  Unset<uint32_t>& number = key;  // by pair found: its number in key order, and who is key
  for (size_t k = 0; k < pairs; ++k) {
    const uint32_t p = by_key[k];
    const bool dam_is_key = pair_sire[p] != key[p];
    m.mate[k] = dam_is_key ? pair_sire[p] : pair_dam[p];
    number[p] = static_cast<uint32_t>(k) | (dam_is_key ? Matings::kKeyIsDam : 0);
  }
  for (size_t s = 1; s <= n; ++s) {
    if (m.pair_of[s] != kNone) m.pair_of[s] = number[m.pair_of[s]];
  }
  m.f.assign(pairs, 0.0);
}

// The keys in batches: batch b holds keys[end[b - 1]] .. keys[end[b] - 1].
struct Batches {
  Table<Slot> keys;
  std::vector<size_t> end;
};

// Takes the keys in slot order into two open batches, one for keys with
// many pairs and one for the rest, each closed when full. A key whose
// ancestors' inbreeding comes from an open batch closes that batch first, so
// every batch needs only batches before it; a key deeper than
// kSummedExactly goes alone.
Batches schedule_batches(const SlotPedigree& slots, const Matings& m) {
  const size_t n = slots.n;
  // Per slot: the latest batch of each kind that the inbreeding of the slot
  // and its ancestors comes from, its depth, and the batch of its pairs if
  // it is a key. Batches are tagged 2 * serial + kind; 0 stands for none.
  struct Needs {
    uint32_t latest[2];
    uint32_t depth;
    uint32_t as_key;
  };
  Table<Needs> needs(n + 1, Needs{{0, 0}, 0, 0});
  Batches batches;
  batches.keys.reserve(n);
  struct Open {
    std::vector<Slot> keys;
    uint32_t serial;
  };
  Open open[2];
  uint32_t serial = 0;
  const auto close = [&](Open& batch) {
    if (!batch.keys.empty()) {
      batches.keys.insert(batches.keys.end(), batch.keys.begin(), batch.keys.end());
      batches.end.push_back(batches.keys.size());
      batch.keys.clear();
    }
    batch.serial = ++serial;
  };
  close(open[0]);
  close(open[1]);
  for (Slot a = 1; a <= n; ++a) {
    const Parents p = slots.parents[a];
    // What the inbreeding of a's ancestors needs.
    uint32_t latest[2] = {0, 0};
    uint32_t depth = 0;
    for (const Slot parent : {p.sire, p.dam}) {
      if (parent == 0) continue;
      const Needs& up = needs[parent];
      latest[0] = std::max(latest[0], up.latest[0]);
      latest[1] = std::max(latest[1], up.latest[1]);
      depth = std::max(depth, up.depth + 1);
    }
    Needs& mine = needs[a];
    mine.depth = depth;
    if (m.pairs_of(a) != 0) {
      for (size_t kind = 0; kind < 2; ++kind) {
        if (latest[kind] >= open[kind].serial) close(open[kind]);
      }
      const size_t kind = m.pairs_of(a) >= kManyMates ? 0 : 1;
      Open& batch = open[kind];
      const bool alone = depth > kSummedExactly;
      if (batch.keys.size() == kBatchKeys || alone) close(batch);
      batch.keys.push_back(a);
      mine.as_key = 2 * batch.serial + static_cast<uint32_t>(kind);
      if (alone) close(batch);
    }
    // a's own inbreeding comes from its key's batch.
    if (m.pair_of[a] != kNone) {
      const uint32_t own = needs[(m.pair_of[a] & Matings::kKeyIsDam) != 0 ? p.dam : p.sire].as_key;
      latest[own % 2] = std::max(latest[own % 2], own / 2);
    }
    mine.latest[0] = latest[0];
    mine.latest[1] = latest[1];
  }
  close(open[0]);
  close(open[1]);
  return batches;
}

// The number of bits set (std::popcount calls a library routine on a
// processor without the instruction).
constexpr int count_ones(uint64_t v) {
  v = v - ((v >> 1) & 0x5555555555555555ull);
  v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<int>((v * 0x0101010101010101ull) >> 56);
}

// What a batch walks: its places (the keys and their ancestors first, then
// the mates and theirs, parents before offspring; place 0 stands for
// unknown parents) and which of its groups of keys need each place.
struct BatchPlan {
  std::span<const Slot> keys;
  Table<Slot> walked;          // by place: the slot
  Table<Parents> parents;      // by place: the parents' places
  Table<Parents> key_parents;  // by place of the keys' part: the parents' slots
  size_t keys_end = 0;         // places of the keys' part: 1 .. keys_end - 1
  std::vector<uint32_t> key_place;  // by lane: the key's place
  Table<GroupMask> groups;     // by place: a bit for each group of keys that needs it
  // By place: 1 for the keys' part and every parent of a place; the other
  // places are mates that need x only in their keys' lanes.
  Table<uint8_t> inner;
  std::vector<Table<uint32_t>> members;  // by group: its inner places, the last first
  Table<uint32_t> mate_place;  // the key in lane l: its mates' places from mates_begin[l]
  std::vector<size_t> mates_begin;

  explicit BatchPlan(size_t places) {
    // Room for a walk of every slot, taken up only as far as the walks go.
    walked.reserve(places);
    parents.reserve(places);
    groups.reserve(places);
    inner.reserve(places);
    mate_place.reserve(places);
  }
};

// The places of the keys' part by slot, in a small table of its own that
// stays in cache (open addressing).
class KeyPlaces {
 public:
  void clear(size_t expected) {
    const size_t size = std::bit_ceil(std::max<size_t>(1024, 2 * expected));
    cells_.assign(size, 0);
    bits_ = static_cast<unsigned>(std::countr_zero(size));
    count_ = 0;
  }
  void put(Slot s, uint32_t place) {
    if (2 * (count_ + 1) > cells_.size()) grow();
    insert(s, place);
  }
  uint32_t get(Slot s) const {
    for (size_t i = home(s);; i = (i + 1) & (cells_.size() - 1)) {
      if (cells_[i] >> 32 == uint64_t{s} + 1) return static_cast<uint32_t>(cells_[i]);
    }
  }

 private:
  size_t home(Slot s) const { return static_cast<size_t>((uint64_t{s} * 0x9E3779B97F4A7C15ull) >> (64 - bits_)); }
  void insert(Slot s, uint32_t place) {
    size_t i = home(s);
    while (cells_[i] != 0) i = (i + 1) & (cells_.size() - 1);
    cells_[i] = (uint64_t{s} + 1) << 32 | place;  // 0: empty
    ++count_;
  }
  void grow() {
    Table<uint64_t> old(2 * cells_.size(), 0);
    old.swap(cells_);
    ++bits_;
    count_ = 0;
    for (const uint64_t cell : old) {
      if (cell != 0) insert(static_cast<Slot>((cell >> 32) - 1), static_cast<uint32_t>(cell));
    }
  }

  Table<uint64_t> cells_;
  unsigned bits_ = 0;
  size_t count_ = 0;
};

// Walks the batches one after the other and fills their plans. It needs
// only the pedigree and the pairs, never an inbreeding coefficient, so it
// may run ahead of the computation.
class BatchWalker {
 public:
  BatchWalker(Unset<Parents>&& parents, const Matings& m)
      : m_(m),
        parents_(std::move(parents)),
        in_batch_(parents_.size() / 64 + 1, 0),
        in_mates_(parents_.size() / 64 + 1, 0) {
    found_.reserve(parents_.size());
    found_parents_.reserve(parents_.size());
  }

  void plan(std::span<const Slot> keys, BatchPlan& plan) {
    plan.keys = keys;
    walk_keys(plan);
    gather_mates(plan);
    place_mates(plan);
    mark_groups(plan);
  }

 private:
  bool walked(Slot s) const { return (in_batch_[s / 64] >> (s % 64) & 1) != 0; }

  // Appends the slots reached from `root` and not yet walked, parents
  // before offspring, with their parents' places. From one key alone it
  // lists the key and its ancestors in the order in which v sums them.
  void walk(Slot root, BatchPlan& plan) {
    size_t top = 0;
    const auto push = [&](Slot s) {
      // An animal waits on the stack at most once per child that found it
      // not ready: the stack grows with the walk.
      if (top == stack_.size()) stack_.resize(2 * top + 64);
      stack_[top++] = s;
    };
    push(root);
    while (top > 0) {
      const Slot s = stack_[top - 1];
      if (walked(s)) {
        --top;
        continue;
      }
      const Parents p = parents_[s];
      const bool sire_ready = walked(p.sire);  // slot 0 counts as walked
      const bool dam_ready = walked(p.dam);
      if (sire_ready && dam_ready) {
        in_batch_[s / 64] |= uint64_t{1} << (s % 64);
        key_places_.put(s, static_cast<uint32_t>(plan.walked.size()));
        plan.walked.push_back(s);
        plan.parents.push_back(Parents{key_places_.get(p.sire), key_places_.get(p.dam)});
        plan.key_parents.push_back(p);
        --top;
      } else {
        if (!sire_ready) push(p.sire);
        if (!dam_ready && p.dam != p.sire) push(p.dam);
      }
    }
  }

  // The keys and their ancestors, key by key.
  void walk_keys(BatchPlan& plan) {
    key_places_.clear(plan.keys_end);
    key_places_.put(0, 0);
    in_batch_[0] |= 1;  // slot 0: no animal
    plan.walked.assign(1, 0);
    plan.parents.assign(1, Parents{0, 0});
    plan.key_parents.assign(1, Parents{0, 0});
    plan.key_place.clear();
    for (const Slot g : plan.keys) walk(g, plan);
    for (const Slot g : plan.keys) plan.key_place.push_back(key_places_.get(g));
    plan.keys_end = plan.walked.size();
  }

  // The mates and their ancestors not walked yet, breadth first, with
  // bitmaps over the slots to mark what is found (they stay in cache where
  // the rows would not): each row is read once, fetched some steps ahead.
  // A slot's place is its rank among them in slot order, which puts parents
  // before offspring.
  void gather_mates(BatchPlan& plan) {
    lowest_ = kNone;
    highest_ = 0;
    found_.clear();
    for (const Slot g : plan.keys) {
      for (size_t k = m_.key_begin[g]; k < m_.key_begin[g + 1]; ++k) find(m_.mate[k]);
    }
    found_parents_.clear();
    for (size_t q = 0; q < found_.size(); ++q) {
      if (q + 12 < found_.size()) __builtin_prefetch(&parents_[found_[q + 12]]);
      const Parents p = parents_[found_[q]];
      found_parents_.push_back(p);
      find(p.sire);
      find(p.dam);
    }
    if (!found_.empty()) {
      const size_t first_word = lowest_ / 64;
      rank_.resize(highest_ / 64 - first_word + 1);
      uint32_t below = 0;
      for (size_t w = first_word; w <= highest_ / 64; ++w) {
        rank_[w - first_word] = below;
        below += static_cast<uint32_t>(count_ones(in_mates_[w]));
      }
    }
    plan.walked.resize(plan.keys_end + found_.size());
    plan.parents.resize(plan.walked.size());
    for (size_t q = 0; q < found_.size(); ++q) {
      const uint32_t i = place_of(found_[q], plan);
      plan.walked[i] = found_[q];
      plan.parents[i] = Parents{place_of(found_parents_[q].sire, plan), place_of(found_parents_[q].dam, plan)};
    }
  }

  void find(Slot s) {
    const size_t w = s / 64;
    const uint64_t bit = uint64_t{1} << (s % 64);
    if ((in_batch_[w] & bit) != 0) return;
    in_batch_[w] |= bit;
    in_mates_[w] |= bit;
    found_.push_back(s);
    lowest_ = std::min(lowest_, s);
    highest_ = std::max(highest_, s);
  }

  // The place of a slot of this batch: by its rank in the mates' part, else
  // from the keys' walk (0 for slot 0).
  uint32_t place_of(Slot s, const BatchPlan& plan) const {
    const size_t w = s / 64;
    const uint64_t bit = uint64_t{1} << (s % 64);
    if ((in_mates_[w] & bit) == 0) return key_places_.get(s);
    return static_cast<uint32_t>(plan.keys_end) + rank_[w - lowest_ / 64] +
           static_cast<uint32_t>(count_ones(in_mates_[w] & (bit - 1)));
  }

  // The places of each key's mates, in the order of its pairs; then the
  // bitmaps are cleared for the next batch.
  void place_mates(BatchPlan& plan) {
    plan.mates_begin.assign(1, 0);
    plan.mate_place.clear();
    for (const Slot g : plan.keys) {
      for (size_t k = m_.key_begin[g]; k < m_.key_begin[g + 1]; ++k) {
        plan.mate_place.push_back(place_of(m_.mate[k], plan));
      }
      plan.mates_begin.push_back(plan.mate_place.size());
    }
    for (const Slot s : plan.walked) {
      in_batch_[s / 64] = 0;
      in_mates_[s / 64] = 0;
    }
  }

  // Each key marks itself and its mates with its group; every ancestor
  // needs what its offspring need. Offspring come after their parents, so
  // from the last place back each place's groups are known when it is met,
  // and it joins their member lists.
  static void mark_groups(BatchPlan& plan) {
    const size_t places = plan.walked.size();
    plan.groups.assign(places, 0);
    for (size_t l = 0; l < plan.keys.size(); ++l) {
      const auto bit = static_cast<GroupMask>(1u << (l / kLanes));
      plan.groups[plan.key_place[l]] |= bit;
      for (size_t k = plan.mates_begin[l]; k < plan.mates_begin[l + 1]; ++k) plan.groups[plan.mate_place[k]] |= bit;
    }
    plan.inner.assign(places, 0);
    std::fill(plan.inner.begin(), plan.inner.begin() + static_cast<std::ptrdiff_t>(plan.keys_end), 1);
    plan.members.resize((plan.keys.size() + kLanes - 1) / kLanes);
    for (auto& list : plan.members) list.clear();
    for (size_t i = places - 1; i >= 1; --i) {
      const GroupMask groups = plan.groups[i];
      if (plan.inner[i] != 0) {
        for (GroupMask g = groups; g != 0; g &= static_cast<GroupMask>(g - 1)) {
          plan.members[static_cast<size_t>(std::countr_zero(g))].push_back(static_cast<uint32_t>(i));
        }
      }
      const Parents p = plan.parents[i];
      plan.groups[p.sire] |= groups;
      plan.groups[p.dam] |= groups;
      plan.inner[p.sire] = 1;
      plan.inner[p.dam] = 1;
    }
  }

  const Matings& m_;
  Unset<Parents> parents_;
  KeyPlaces key_places_;
  Table<Slot> stack_;
  Table<uint64_t> in_batch_;  // by slot, a bit each: walked in this batch
  Table<uint64_t> in_mates_;  // by slot: in the mates' part
  Table<uint32_t> rank_;      // by word of in_mates_ from lowest_'s: the mates' slots below it
  Slot lowest_ = 0;           // the mates' part's smallest and largest slots
  Slot highest_ = 0;
  Table<Slot> found_;         // the mates' part as found, with the parents' slots
  Table<Parents> found_parents_;
};

// Computes the batches' pairs from their plans, batch after batch: group by
// group of keys, v and w over the keys' part, x over every place the group
// needs, and the inbreeding of each key's pairs.
class BatchComputer {
 public:
  explicit BatchComputer(Matings& m) : m_(m) {}

  void compute(const BatchPlan& plan) {
    share_of_keys(plan);
    for (size_t first = 0; first < plan.keys.size(); first += kLanes) {
      const std::span<const Slot> group = plan.keys.subspan(first, std::min(kLanes, plan.keys.size() - first));
      gather_group(plan, first / kLanes);
      for (size_t lane = 0; lane < group.size(); lane += width_) {
        const size_t round = std::min(width_, group.size() - lane);
        if (round == 1) {
          spread_and_relate<1>(plan, first + lane, round);
        } else if (round == 2) {
          spread_and_relate<2>(plan, first + lane, round);
        } else if (round <= 4) {
          spread_and_relate<4>(plan, first + lane, round);
        } else {
          spread_and_relate<kLanes>(plan, first + lane, round);
        }
        store(plan, first + lane, round);
      }
    }
  }

 private:
  // D of the keys' part: the share of its own that each passes on.
  void share_of_keys(const BatchPlan& plan) {
    share_.resize(plan.keys_end);
    for (size_t i = 1; i < plan.keys_end; ++i) {
      const Parents p = plan.key_parents[i];
      const double f_sire = p.sire != 0 ? m_.inbreeding(p.sire) : -1.0;
      const double f_dam = p.dam != 0 ? m_.inbreeding(p.dam) : -1.0;
      share_[i] = 0.5 - 0.25 * (f_sire + f_dam);
    }
  }

  // Group b's members with their parents' places among them (member 0:
  // unknown parents); the keys a round can take.
  void gather_group(const BatchPlan& plan, size_t b) {
    const Table<uint32_t>& last_first = plan.members[b];
    const size_t count = last_first.size();
    member_of_.resize(plan.walked.size());
    member_of_[0] = 0;
    member_.assign(1, 0);
    member_parents_.resize(count + 1);
    member_parents_[0] = Parents{0, 0};
    members_keys_end_ = 1;
    for (size_t j = 0; j < count; ++j) {
      if (j + 8 < count) {
        const Parents ahead = plan.parents[last_first[count - 1 - (j + 8)]];
        __builtin_prefetch(&member_of_[ahead.sire]);
        __builtin_prefetch(&member_of_[ahead.dam]);
      }
      const uint32_t i = last_first[count - 1 - j];
      member_of_[i] = static_cast<uint32_t>(j + 1);
      member_.push_back(i);
      member_parents_[j + 1] = Parents{member_of_[plan.parents[i].sire], member_of_[plan.parents[i].dam]};
      if (i < plan.keys_end) members_keys_end_ = j + 2;
    }
    width_ = std::bit_floor(std::clamp<size_t>(kLaneValues / member_.size(), 1, kLanes));
  }

  // v of each key of the round in its lane, offspring before parents, then
  // w = D v in place; x = T w, parents before offspring: x of each member is
  // a(member, key). W lanes a member (W a power of two: the round's keys and
  // idle lanes).
  template <size_t W>
  void spread_and_relate(const BatchPlan& plan, size_t first_lane, size_t round) {
    // v starts at 0 but for each key; the other members' x is written
    // before it is read.
    x_.resize(member_.size() * W);
    std::fill(x_.begin(), x_.begin() + static_cast<std::ptrdiff_t>(members_keys_end_ * W), 0.0);
    for (size_t l = 0; l < round; ++l) x_[member_of_[plan.key_place[first_lane + l]] * W + l] = 1.0;
    double* const x = x_.data();
    const Parents* const up = member_parents_.data();
    for (size_t j = members_keys_end_; j-- > 1;) {
      const double share = share_[member_[j]];
      double* xj = x + j * W;
      double* xs = x + up[j].sire * W;
      double* xd = x + up[j].dam * W;
      for (size_t l = 0; l < W; ++l) {
        const double v = xj[l];
        xs[l] += 0.5 * v;
        xd[l] += 0.5 * v;
        xj[l] = share * v;
      }
    }
    for (size_t l = 0; l < W; ++l) x[l] = 0.0;  // member 0: unknown parents
    // x = (x_sire + x_dam) / 2 + w, w only in the keys' part: elsewhere it
    // is 0 and adding it would change nothing.
    for (size_t j = 1; j < member_.size(); ++j) {
      if (j + 8 < member_.size()) {
        __builtin_prefetch(x + up[j + 8].sire * W);
        __builtin_prefetch(x + up[j + 8].dam * W);
      }
      double* xj = x + j * W;
      const double* xs = x + up[j].sire * W;
      const double* xd = x + up[j].dam * W;
      if (j < members_keys_end_) {
        for (size_t l = 0; l < W; ++l) xj[l] = (xs[l] + xd[l]) * 0.5 + xj[l];
      } else {
        for (size_t l = 0; l < W; ++l) xj[l] = (xs[l] + xd[l]) * 0.5;
      }
    }
    lanes_ = W;
  }

  // The inbreeding of each pair of the round's keys: a(key, mate) / 2; a
  // mate that is no inner place gets its x from its parents' here.
  void store(const BatchPlan& plan, size_t first_lane, size_t round) {
    for (size_t l = 0; l < round; ++l) {
      const size_t lane = first_lane + l;
      double* f = &m_.f[m_.key_begin[plan.keys[lane]]];
      for (size_t k = plan.mates_begin[lane]; k < plan.mates_begin[lane + 1]; ++k) {
        const uint32_t i = plan.mate_place[k];
        double x = 0.0;
        if (plan.inner[i] != 0) {
          x = x_[member_of_[i] * lanes_ + l];
        } else {
          const Parents p = plan.parents[i];
          x = (x_[member_of_[p.sire] * lanes_ + l] + x_[member_of_[p.dam] * lanes_ + l]) * 0.5;
        }
        f[k - plan.mates_begin[lane]] = 0.5 * x;
      }
    }
  }

  Matings& m_;
  Table<double> share_;            // by place of the keys' part: D
  Table<uint32_t> member_of_;      // by place: its member number in the group
  Table<uint32_t> member_;         // by member: its place
  Table<Parents> member_parents_;  // by member: its parents' members
  size_t members_keys_end_ = 0;
  size_t width_ = kLanes;          // keys a round takes
  size_t lanes_ = kLanes;          // lanes of x a member holds in the round
  Unset<double> x_;                // by member and lane
};

// Plans and computes the batches in order. With two threads the next batch
// is planned while one is computed: a plan needs no coefficient, and every
// computation reads the coefficients of earlier batches only, so the values
// are the same with one thread or two.
void run_batches(const Batches& batches, Unset<Parents>&& parents, Matings& m, unsigned threads,
                 unsigned processors) {
  const size_t places = parents.size();
  BatchWalker walker(std::move(parents), m);
  BatchComputer computer(m);
  const size_t count = batches.end.size();
  const auto keys_of = [&](size_t b) {
    const size_t begin = b == 0 ? 0 : batches.end[b - 1];
    return std::span<const Slot>(batches.keys).subspan(begin, batches.end[b] - begin);
  };
  // Walking and computing both wait on memory: side by side on two
  // processors they have been measured slower than one after the other, so
  // a second thread is taken only when asked for.
  const bool two = threads >= 2 && processors >= 2;
  if (!two || count < 2) {
    BatchPlan plan(places);
    for (size_t b = 0; b < count; ++b) {
      walker.plan(keys_of(b), plan);
      computer.compute(plan);
    }
    return;
  }
  BatchPlan plans[2] = {BatchPlan(places), BatchPlan(places)};
  std::mutex mutex;
  std::condition_variable changed;
  size_t planned = 0;   // batches planned
  size_t computed = 0;  // batches computed
  bool stop = false;
  std::exception_ptr failure;
  const auto fail = [&] {
    {
      const std::lock_guard lock(mutex);
      if (!failure) failure = std::current_exception();
      stop = true;
    }
    changed.notify_all();
  };
  std::thread planner([&] {
    try {
      for (size_t b = 0; b < count; ++b) {
        {
          std::unique_lock lock(mutex);
          changed.wait(lock, [&] { return stop || b < computed + 2; });
          if (stop) return;
        }
        walker.plan(keys_of(b), plans[b % 2]);
        {
          const std::lock_guard lock(mutex);
          planned = b + 1;
        }
        changed.notify_all();
      }
    } catch (...) {
      fail();
    }
  });
  try {
    for (size_t b = 0; b < count; ++b) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || b < planned; });
        if (stop) break;
      }
      computer.compute(plans[b % 2]);
      {
        const std::lock_guard lock(mutex);
        computed = b + 1;
      }
      changed.notify_all();
    }
  } catch (...) {
    fail();
  }
  planner.join();
  if (failure) std::rethrow_exception(failure);
}

// The whole method, storing each animal's coefficient as a Value.
template <class Value>
ExactOutcome compute_exact_inbreeding(std::span<const PedigreeRow> pedigree, int32_t n_animals,
                                      std::span<Value> coefficient, unsigned threads,
                                      std::latch* parents_read) {
  // Whichever way the method ends, the caller waiting on `parents_read` goes on.
  struct Release {
    std::latch*& latch;
    ~Release() {
      if (latch != nullptr) latch->count_down();
    }
  } release{parents_read};
  if (n_animals <= 0) return {};
  const auto n = static_cast<size_t>(n_animals);
  if (pedigree.size() <= n || coefficient.size() <= n) {
    throw std::invalid_argument("exact_inbreeding: tables shorter than the animal count");
  }
  SlotPedigree slots;
  const int32_t loop = storage_slots(pedigree, n, slots, std::exchange(parents_read, nullptr));
  if (loop != 0) return {true, loop};
  Matings matings;
  parent_pairs(slots, matings);
  const Batches batches = schedule_batches(slots, matings);
  run_batches(batches, std::move(slots.parents), matings, threads, std::thread::hardware_concurrency());
  for (size_t s = 1; s <= n; ++s) {
    coefficient[slots.animal_in(s)] = static_cast<Value>(matings.inbreeding(static_cast<Slot>(s)));
  }
  return {};
}

}  // namespace

ExactOutcome exact_inbreeding(std::span<const PedigreeRow> pedigree, int32_t n,
                              std::span<float> coefficient, unsigned threads, std::latch* parents_read) {
  return compute_exact_inbreeding(pedigree, n, coefficient, threads, parents_read);
}

ExactOutcome exact_inbreeding(std::span<const PedigreeRow> pedigree, int32_t n,
                              std::span<double> coefficient, unsigned threads, std::latch* parents_read) {
  return compute_exact_inbreeding(pedigree, n, coefficient, threads, parents_read);
}

}  // namespace parclas
