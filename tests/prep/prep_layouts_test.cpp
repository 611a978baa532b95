// One herdbook, many ways of writing it: random herdbooks written as
// spreadsheets, herdbook systems and statistics programs export them
// (separator, quotes, byte-order mark, UTF-16, line ends, the header's
// language and column order, extra columns, unknown-value codes, birth
// dates, shuffled and repeated lines) must all give byte for byte the files
// of the plainest writing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/run_program.h"
#include "prep/prep.h"
#include "splitmix.h"

namespace fs = std::filesystem;

namespace parclas {
namespace {

struct Animal {
  std::string id;
  int sire = -1, dam = -1;  // indices; -1 unknown
  int year = 0;             // 0: not given
  char sex = 'F';
  bool listed = true;  // has a line of its own
};

struct Record {
  int animal;
  int herd;
  int year;
  int milk_tenths;  // -1: unknown
};

struct Herdbook {
  std::vector<Animal> animals;
  std::vector<Record> records;
};

class Random {
 public:
  explicit Random(uint64_t seed) : core_(SplitMix64::seeded(seed, 0x5EED)) {}
  int below(int n) { return static_cast<int>(core_.remainder_below(static_cast<uint64_t>(n))); }
  bool chance(int percent) { return below(100) < percent; }
  template <class T>
  const T& pick(const std::vector<T>& v) { return v[static_cast<size_t>(below(static_cast<int>(v.size())))]; }

 private:
  SplitMix64 core_;
};

Herdbook random_herdbook(Random& r) {
  Herdbook h;
  const int n = 20 + r.below(150);
  for (int a = 0; a < n; ++a) {
    Animal x;
    switch (r.below(4)) {
      case 0: x.id = std::to_string(1000 + a * 7); break;
      case 1: x.id = "DE" + std::to_string(276000000 + a * 131); break;
      case 2: x.id = "K\xC3\xA4" + std::to_string(a); break;  // a non-ASCII letter
      default: x.id = "cow_" + std::to_string(a) + "x"; break;
    }
    x.year = 1980 + a / 6;
    x.sex = r.chance(50) ? 'M' : 'F';
    if (a >= 6 && !r.chance(10)) x.sire = r.below(a - a % 6);
    if (a >= 6 && !r.chance(15)) x.dam = r.below(a - a % 6);
    if (x.dam == x.sire) x.dam = -1;
    if (r.chance(8)) x.year = 0;
    x.listed = a >= 6 || !r.chance(30);  // some founders named only as parents
    h.animals.push_back(x);
  }
  for (int k = 0, m = r.below(60); k < m; ++k) {
    int a = r.below(n);
    while (!h.animals[static_cast<size_t>(a)].listed) a = (a + 1) % n;
    h.records.push_back({a, r.below(5), 2000 + r.below(10), r.chance(10) ? -1 : 40000 + r.below(40000)});
  }
  return h;
}

// How a herdbook is written.
struct Layout {
  char separator = '\t';
  int quoting = 0;  // 0 none (where not needed), 1 all, 2 some
  int encoding = 0;  // 0 UTF-8, 1 UTF-8 with mark, 2 UTF-16 LE, 3 UTF-16 BE
  const char* line_end = "\n";
  int language = 0;
  bool extra_columns = false;
  bool shuffle = false;
  bool repeat_lines = false;
  bool blank_lines = false;
  bool varied_codes = false;
  bool dates = false;
};

struct Names {
  const char* id;
  const char* sire;
  const char* dam;
  const char* birth;
};

const Names kLanguages[] = {
    {"Animal", "Sire", "Dam", "Birth date"},
    {"Ohrmarke", "Vater", "Mutter", "Geburtsdatum"},
    {"Identifiant", "P\xC3\xA8re", "M\xC3\xA8re", "Date de naissance"},
    {"Animal", "Padre", "Madre", "Fecha de nacimiento"},
    {"Animale", "Padre", "Madre", "Data di nascita"},
    {"Dier", "Vader", "Moeder", "Geboortedatum"},
    {"Djur", "Far", "Mor", "F\xC3\xB6" "delsedatum"},
    {"Dyr", "Far", "Mor", "F\xC3\xB8" "dselsdato"},
    {"El\xC3\xA4in", "Is\xC3\xA4", "Em\xC3\xA4", "Syntym\xC3\xA4vuosi"},
};

Layout random_layout(Random& r) {
  Layout l;
  l.separator = "\t;, "[r.below(4)];
  l.quoting = r.below(3);
  l.encoding = r.below(4);
  l.line_end = r.chance(34) ? "\n" : r.chance(50) ? "\r\n" : "\r";
  l.language = r.below(static_cast<int>(std::size(kLanguages)));
  l.extra_columns = r.chance(50);
  l.shuffle = r.chance(70);
  l.repeat_lines = r.chance(30);
  l.blank_lines = r.chance(30);
  l.varied_codes = r.chance(80);
  l.dates = r.chance(50);
  return l;
}

// UTF-8 text as UTF-16 with its byte-order mark (no character above U+FFFF).
std::string to_utf16(const std::string& text, bool little) {
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    uint32_t u = c;
    size_t length = 1;
    if (c >= 0xE0) {
      u = (c & 0x0Fu) << 12 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6 |
          (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
      length = 3;
    } else if (c >= 0xC0) {
      u = (c & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      length = 2;
    }
    i += length;
    const char hi = static_cast<char>(u >> 8);
    const char lo = static_cast<char>(u & 0xFF);
    out += little ? std::string{lo, hi} : std::string{hi, lo};
  }
  return out;
}

class Writer {
 public:
  Writer(const Layout& l, Random& r) : l_(l), r_(r) {}
  std::string field(const std::string& v) {
    const bool needed = v.find(l_.separator) != std::string::npos || v.find('"') != std::string::npos ||
                        (l_.separator == ' ' && (v.empty() || v.find(' ') != std::string::npos));
    if (!needed && (l_.quoting == 0 || (l_.quoting == 2 && r_.chance(50)))) return v;
    std::string q = "\"";
    if (l_.quoting == 2 && r_.chance(30)) q += " ";  // blanks inside quotes are trimmed
    for (const char c : v) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
  }
  std::string line(const std::vector<std::string>& fields) {
    std::string s;
    for (size_t k = 0; k < fields.size(); ++k) s += (k == 0 ? "" : std::string(1, l_.separator)) + field(fields[k]);
    return s;
  }
  std::string file(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
      text += line + l_.line_end;
      if (l_.blank_lines && r_.chance(5)) text += l_.line_end;
    }
    if (l_.encoding == 1) return "\xEF\xBB\xBF" + text;
    if (l_.encoding >= 2) return to_utf16(text, l_.encoding == 2);
    return text;
  }

 private:
  const Layout& l_;
  Random& r_;
};

std::string unknown_code(const Layout& l, Random& r) {
  if (!l.varied_codes) return "0";
  static const std::vector<std::string> codes = {"", "0", "00", "NA", "n/a", ".", "-", "?", "NULL", "unknown", "UNK",
                                                 "none"};
  return r.pick(codes);
}

std::string birth(const Animal& a, const Layout& l, Random& r) {
  if (a.year == 0) return r.chance(50) || !l.varied_codes ? "NA" : "";
  if (!l.dates) return std::to_string(a.year);
  const std::string y = std::to_string(a.year);
  switch (r.below(3)) {
    case 0: return "03.05." + y;
    case 1: return y + "-11-30";
    default: return y + "0101";
  }
}

// The pedigree and data files of `h` written in layout `l`.
std::pair<std::string, std::string> write_herdbook(const Herdbook& h, const Layout& l, Random& r) {
  Writer w(l, r);
  const Names& names = kLanguages[l.language];
  // Column order: the four roles, and maybe extra columns, in a random order.
  std::vector<int> columns = {0, 1, 2, 3};
  if (l.extra_columns) columns.insert(columns.end(), {4, 5});
  if (l.shuffle) {
    for (size_t i = columns.size() - 1; i > 0; --i) std::swap(columns[i], columns[static_cast<size_t>(r.below(static_cast<int>(i) + 1))]);
  }
  const char* header_names[] = {names.id, names.sire, names.dam, names.birth, "Sex", "Breed"};
  std::vector<std::string> header;
  for (const int c : columns) header.emplace_back(header_names[c]);
  std::vector<std::string> lines;
  for (const Animal& a : h.animals) {
    if (!a.listed) continue;
    const auto parent = [&](int p) { return p < 0 ? unknown_code(l, r) : h.animals[static_cast<size_t>(p)].id; };
    const std::string values[] = {a.id, parent(a.sire), parent(a.dam), birth(a, l, r), std::string(1, a.sex),
                                  "Hinterw\xC3\xA4lder Rind"};
    std::vector<std::string> fields;
    for (const int c : columns) fields.push_back(values[c]);
    lines.push_back(w.line(fields));
    if (l.repeat_lines && r.chance(5)) lines.push_back(lines.back());
  }
  if (l.shuffle) {
    for (size_t i = lines.size() - 1; i > 0; --i) std::swap(lines[i], lines[static_cast<size_t>(r.below(static_cast<int>(i) + 1))]);
  }
  lines.insert(lines.begin(), w.line(header));
  const std::string pedigree = w.file(lines);

  // The data file: the animal column named in the header's language, the
  // other columns named alike everywhere, in a random order with extras.
  std::vector<int> data_columns = {0, 1, 2, 3};
  if (l.extra_columns) data_columns.push_back(4);
  if (l.shuffle) {
    for (size_t i = data_columns.size() - 1; i > 0; --i) {
      std::swap(data_columns[i], data_columns[static_cast<size_t>(r.below(static_cast<int>(i) + 1))]);
    }
  }
  const char* data_names[] = {names.id, "herd", "year", "milk", "remark"};
  std::vector<std::string> data_lines;
  std::vector<std::string> data_header;
  for (const int c : data_columns) data_header.emplace_back(data_names[c]);
  data_lines.push_back(w.line(data_header));
  const char decimal = l.separator == ',' || !l.varied_codes ? '.' : ",."[r.below(2)];
  for (const Record& rec : h.records) {
    std::string milk = rec.milk_tenths < 0 ? (l.varied_codes ? r.pick(std::vector<std::string>{"NA", "", "-", "?"}) : "NA")
                                           : std::to_string(rec.milk_tenths / 10) + decimal +
                                                 std::to_string(rec.milk_tenths % 10);
    const std::string values[] = {h.animals[static_cast<size_t>(rec.animal)].id, "H" + std::to_string(rec.herd),
                                  std::to_string(rec.year), milk, "ok"};
    std::vector<std::string> fields;
    for (const int c : data_columns) fields.push_back(values[c]);
    data_lines.push_back(w.line(fields));
  }
  return {pedigree, h.records.empty() ? std::string() : w.file(data_lines)};
}

struct Prepared {
  int status = -1;
  std::string messages;
  std::vector<std::string> files;
};

Prepared prepare(const std::string& label, const std::pair<std::string, std::string>& herdbook) {
  ScratchDir scratch(label);
  const fs::path ped = scratch.path() / "herdbook.txt";
  const fs::path data = scratch.path() / "records.txt";
  write_file(ped, herdbook.first);
  std::vector<std::string> args = {"--pedigree", ped.string(), "--out", (scratch.path() / "run").string()};
  if (!herdbook.second.empty()) {
    write_file(data, herdbook.second);
    args.insert(args.end(), {"--data", data.string(), "--data-columns", "herd,year,milk", "--scale", "milk=10"});
  }
  std::ostringstream out;
  std::ostringstream err;
  Prepared p;
  p.status = prep::run_prep(args, out, err);
  p.messages = out.str() + err.str();
  if (p.status == prep::kPrepared) {
    for (const char* name : {"ped.txt", "data.txt", "animals.txt", "levels.txt", "par.txt"}) {
      p.files.push_back(read_file(scratch.path() / "run" / name));
    }
  }
  return p;
}

TEST(PrepLayouts, EveryWritingOfAHerdbookGivesTheSameFiles) {
  for (uint64_t seed = 1; seed <= 60; ++seed) {
    Random r(seed);
    const Herdbook h = random_herdbook(r);
    const Prepared plain = prepare("prep-layout-plain", write_herdbook(h, Layout{}, r));
    ASSERT_EQ(plain.status, prep::kPrepared) << "seed " << seed << "\n" << plain.messages;
    for (int variant = 0; variant < 3; ++variant) {
      const Layout l = random_layout(r);
      const Prepared p = prepare("prep-layout", write_herdbook(h, l, r));
      const std::string what = "seed " + std::to_string(seed) + " variant " + std::to_string(variant) + ": separator '" +
                               l.separator + "', quoting " + std::to_string(l.quoting) + ", encoding " +
                               std::to_string(l.encoding) + ", language " + std::to_string(l.language);
      ASSERT_EQ(p.status, prep::kPrepared) << what << "\n" << p.messages;
      const char* names[] = {"ped.txt", "data.txt", "animals.txt", "levels.txt", "par.txt"};
      for (size_t k = 0; k < p.files.size(); ++k) EXPECT_EQ(p.files[k], plain.files[k]) << what << ": " << names[k];
    }
  }
}

}  // namespace
}  // namespace parclas
