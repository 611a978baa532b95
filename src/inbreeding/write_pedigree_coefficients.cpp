#include <cstring>

#include "inbreeding/inbreeding.h"
#include "run/run.h"
#include "text/fields.h"

namespace parclas {

namespace {
const Identifier kNoIdentifier{};

// The code a line's parents imply: 1 with both parents among the animal
// numbers, 3 with neither, else 2.
int32_t implied_code(int32_t sire, int32_t dam, int32_t largest_animal) {
  const bool sire_known = sire >= 1 && sire <= largest_animal;
  const bool dam_known = dam >= 1 && dam <= largest_animal;
  return sire_known && dam_known ? 1 : (!sire_known && !dam_known ? 3 : 2);
}

// The parents' inbreeding (thousandths fs, fd) as it enters the Mendelian
// sampling variance of the line's animal under `code`. With code 2 and the
// unknown parent written as 0 the known parent counts once; otherwise the
// parent with the larger number counts twice, which gives the known parent
// once when the unknown one is a group number (its inbreeding is 0).
float parent_term(int32_t code, int32_t sire, int32_t dam, int32_t fs, int32_t fd) {
  switch (code) {
    case 1:
      return static_cast<float>(fs + fd) * 0.001f;
    case 2:
      if (sire == 0) return static_cast<float>(fd) * 0.001f;
      if (dam == 0) return static_cast<float>(fs) * 0.001f;
      return sire > dam ? (2.0f * static_cast<float>(fs) + static_cast<float>(fd)) * 0.001f
                        : (static_cast<float>(fs) + 2.0f * static_cast<float>(fd)) * 0.001f;
    default:
      return static_cast<float>(fs + fd) * 0.002f;
  }
}

}  // namespace

void write_pedigree_coefficients(Run& run) {
  TextIO& io = run.io;
  const RunTables& t = run.t;
  auto inbreeding = [&](int32_t x) {
    return (x >= 1 && x <= t.capacity.animals) ? t.pedigree[x].inbreeding : 0;
  };
  io.rewind(kRelationshipUnit);
  int32_t v[4] = {0, 0, 0, 0};
  // The four numbers, one blank and the 16 characters of the identifier.
  char line[4 * kSplicedWidth + 1 + kIdWidth];
  for (int32_t r = 0; r < t.pedigree_records; ++r) {
    io.require(io.read_integers(kRelationshipUnit, v), kRelationshipUnit);
    const int32_t animal = v[0];
    const int32_t sire = v[1];
    const int32_t dam = v[2];
    const int32_t code = v[3];
    // A code outside 1..3, or code 2 naming one animal as both parents, says
    // nothing usable: the parents decide.
    const int32_t rule = (code < 1 || code > 3 || (code == 2 && sire == dam))
                             ? implied_code(sire, dam, t.largest_animal)
                             : code;
    const float term = parent_term(rule, sire, dam, inbreeding(sire), inbreeding(dam));
    const float divisor = static_cast<float>(rule + 1) - term;
    const float scaled = divisor != 0.0f ? 4.0f / divisor * 1000.0f : 0.0f;
    if (divisor == 0.0f || !(scaled < 2147483648.0f && scaled >= -2147483648.0f)) {
      io.write_list(kConsoleOut,
                    {"cannot compute coefficient for animal ", animal, " with code ", code});
      io.plain_stop();
    }
    const int32_t numbers[4] = {animal, sire, dam, static_cast<int32_t>(scaled)};
    const int p = splice_integers(line, numbers);
    const Identifier& id =
        (animal >= 1 && animal <= t.capacity.animals) ? t.identifier[animal] : kNoIdentifier;
    line[p] = ' ';
    std::memcpy(line + p + 1, id.data(), kIdWidth);
    io.write_line(kCoefficientUnit, std::string_view(line, static_cast<size_t>(p) + 1 + kIdWidth));
  }
}

}  // namespace parclas
