#include "prep/numbering.h"

#include <algorithm>

namespace parclas::prep {

namespace {

// The identifier's place among animals of the same generation and birth
// year: identifiers of digits only first, by their number, then the others
// by their bytes; so the numbering does not depend on the order of the lines.
struct IdKey {
  uint32_t digits;     // the length of an identifier of digits only; UINT32_MAX for the others
  uint64_t prefix[2];  // its first sixteen bytes, the first byte highest
};

IdKey id_key(std::string_view id) {
  IdKey k{static_cast<uint32_t>(id.size()), {0, 0}};
  for (const char c : id) {
    if (c < '0' || c > '9') {
      k.digits = UINT32_MAX;
      break;
    }
  }
  for (size_t i = 0; i < 16; ++i) {
    uint64_t& part = k.prefix[i / 8];
    part = part << 8 | (i < id.size() ? static_cast<unsigned char>(id[i]) : 0u);
  }
  return k;
}

}  // namespace

Numbering number_animals(const Pedigree& p, const std::vector<int32_t>& depth, const std::vector<int32_t>& year) {
  struct Key {
    uint64_t generation_year;
    uint32_t digits;
    uint32_t animal;
    uint64_t prefix[2];
  };
  std::vector<Key> keys(p.size());
  for (uint32_t a = 0; a < p.size(); ++a) {
    const auto y = static_cast<uint64_t>(static_cast<int64_t>(year[a]) - INT32_MIN);
    const IdKey id = id_key(p.ids[a]);
    keys[a] = {static_cast<uint64_t>(depth[a]) << 32 | y, id.digits, a, {id.prefix[0], id.prefix[1]}};
  }
  std::sort(keys.begin(), keys.end(), [&](const Key& x, const Key& y) {
    if (x.generation_year != y.generation_year) return x.generation_year < y.generation_year;
    if (x.digits != y.digits) return x.digits < y.digits;
    if (x.prefix[0] != y.prefix[0]) return x.prefix[0] < y.prefix[0];
    if (x.prefix[1] != y.prefix[1]) return x.prefix[1] < y.prefix[1];
    return p.ids[x.animal] < p.ids[y.animal];  // longer than sixteen bytes
  });
  Numbering n;
  n.number.resize(p.size());
  n.animal_at.resize(p.size());
  for (uint32_t i = 0; i < p.size(); ++i) {
    n.animal_at[i] = keys[i].animal;
    n.number[keys[i].animal] = static_cast<int32_t>(i + 1);
  }
  return n;
}

int32_t parent_code(const Pedigree& p, uint32_t a) {
  return 3 - (p.sire[a] != kUnknown ? 1 : 0) - (p.dam[a] != kUnknown ? 1 : 0);
}

int32_t YearCoding::value(int32_t year) const {
  if (!calendar) return std::clamp(year, 1, kYearValues);
  return static_cast<int32_t>((static_cast<int64_t>(year) - first) / per_value + 1);
}

YearCoding code_years(const Pedigree& p, const BirthYears& years, const Options& o, Report& report) {
  YearCoding c;
  c.calendar = years.calendar;
  c.per_value = o.years_per_value;
  if (!years.calendar) {
    Check& deep = report.check("animals deeper than " + std::to_string(kYearValues - 1) +
                                   " generations, given year value " + std::to_string(kYearValues),
                               Severity::Note);
    for (uint32_t a = 0; a < p.size(); ++a) {
      if (years.year[a] > kYearValues) report.add(deep, std::string(p.ids[a]));
    }
    return c;
  }
  c.first = o.first_year.value_or(years.first);
  Check& early = report.check("animals born before --first-year", Severity::Error);
  if (years.first < c.first) {
    for (uint32_t a = 0; a < p.size(); ++a) {
      if (p.birth[a] != kNoYear && p.birth[a] < c.first) {
        report.add(early, p.source + ":" + std::to_string(p.line[a]) + ": " + std::string(p.ids[a]) + " " +
                              std::to_string(p.birth[a]));
      }
    }
  }
  Check& span = report.check("birth years needing more than " + std::to_string(kYearValues) +
                                 " year values (--years-per-value merges years, --first-year sets the first)",
                             Severity::Error);
  const int32_t last_value = c.value(years.last);
  if (last_value > kYearValues) {
    // The animals at both ends, as a typo in one birth date is the usual cause.
    uint32_t earliest = kNoEntry;
    uint32_t latest = kNoEntry;
    for (uint32_t a = 0; a < p.size(); ++a) {
      if (p.birth[a] == kNoYear) continue;
      if (earliest == kNoEntry || p.birth[a] < p.birth[earliest]) earliest = a;
      if (latest == kNoEntry || p.birth[a] > p.birth[latest]) latest = a;
    }
    const auto where = [&](uint32_t a) {
      return std::string(p.ids[a]) + " (" + std::to_string(p.birth[a]) + ", " + p.source + ":" +
             std::to_string(p.line[a]) + ")";
    };
    report.add(span, "birth years " + std::to_string(c.first) + ".." + std::to_string(years.last) + " need " +
                         std::to_string(last_value) + " year values with " + std::to_string(c.per_value) +
                         " year(s) per value; earliest " + where(earliest) + ", latest " + where(latest));
  }
  report.line("year values: 1 = " + std::to_string(c.first) +
              (c.per_value > 1 ? ", " + std::to_string(c.per_value) + " years per value" : std::string()));
  return c;
}

namespace {

std::string cleaned_and_cut(std::string_view id) {
  std::string s(id.substr(0, std::min(id.size(), kIdentifierWidth + 4)));
  for (char& ch : s) {
    if (static_cast<unsigned char>(ch) <= ' ' || ch == 0x7f) ch = '_';
  }
  if (s.size() > kIdentifierWidth) {
    // Not inside a UTF-8 character (of at most four bytes); bytes that are
    // not UTF-8 are cut where the width ends.
    size_t cut = kIdentifierWidth;
    while (cut > kIdentifierWidth - 3 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    if ((static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) cut = kIdentifierWidth;
    s.resize(cut);
  }
  return s;
}

}  // namespace

ShortIds::ShortIds(const Pedigree& p, const Numbering& numbering, Report& report)
    : ids_(p.ids), changed_of_(p.size(), kNoEntry) {
  const std::string in = " in " + std::string(kPedigreeOut);
  Check& cut = report.check("identifiers longer than " + std::to_string(kIdentifierWidth) + " characters, cut" + in,
                            Severity::Note);
  Check& blanks = report.check("identifiers with blanks, written with '_'" + in, Severity::Note);
  Check& collided = report.check("shortened identifiers that collided, numbered", Severity::Note);
  // Most identifiers stay as they are: find the others in storage order,
  // then give them their new form in number order.
  std::vector<uint8_t> changes(p.size(), 0);
  bool any = false;
  for (uint32_t a = 0; a < p.size(); ++a) {
    const std::string_view id = ids_[a];
    changes[a] = id.size() > kIdentifierWidth ||
                 std::any_of(id.begin(), id.end(), [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; });
    any = any || changes[a];
  }
  if (!any) return;
  for (const uint32_t a : numbering.animal_at) {
    if (!changes[a]) continue;
    const std::string_view id = ids_[a];
    std::string out = cleaned_and_cut(id);
    const std::string plain = out;
    for (int k = 2; ids_.find(out) != kNoEntry || changed_.find(out) != kNoEntry; ++k) {
      const std::string suffix = "~" + std::to_string(k);
      out = plain.substr(0, std::min(plain.size(), kIdentifierWidth - suffix.size())) + suffix;
    }
    bool added = false;
    changed_of_[a] = changed_.find_or_add(out, added);
    const std::string item = std::string(id) + " -> " + out;
    if (id.size() > kIdentifierWidth) report.add(cut, item);
    if (id.substr(0, std::min(id.size(), kIdentifierWidth)).find_first_of(" \t") != std::string_view::npos) {
      report.add(blanks, item);
    }
    if (out != plain) report.add(collided, item);
  }
}

}  // namespace parclas::prep
