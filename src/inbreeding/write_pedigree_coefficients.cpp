#include "inbreeding/inbreeding.h"
#include "run/run.h"
#include "text/fields.h"

namespace parclas {

namespace {
const Format kCoefficientLine("(A,1X,A)");
const Identifier kNoIdentifier{};
}  // namespace

void write_pedigree_coefficients(Run& run) {
  TextIO& io = run.io;
  const RunTables& t = run.t;
  auto inbreeding = [&](int32_t x) {
    return (x >= 1 && x <= t.capacity.animals) ? t.pedigree[x].inbreeding : 0;
  };
  io.rewind(kRelationshipUnit);
  float term = 0.0f;  // kept from the previous line when a line does not set it
  int32_t v[4] = {0, 0, 0, 0};
  char line[4 * kSplicedWidth];
  for (int32_t r = 0; r < t.pedigree_records; ++r) {
    io.require(io.read_integers(kRelationshipUnit, v), kRelationshipUnit);
    const int32_t animal = v[0];
    const int32_t sire = v[1];
    const int32_t dam = v[2];
    const int32_t code = v[3];
    const int32_t fs = inbreeding(sire);
    const int32_t fd = inbreeding(dam);
    if (code == 1) {
      term = static_cast<float>(fs + fd) * 0.001f;
    } else if (code == 2 && sire > dam) {
      term = (2.0f * static_cast<float>(fs) + static_cast<float>(fd)) * 0.001f;
    } else if (code == 2 && sire < dam) {
      term = (static_cast<float>(fs) + 2.0f * static_cast<float>(fd)) * 0.001f;
    } else if (code == 3) {
      term = static_cast<float>(fs + fd) * 0.002f;
    }
    const int32_t code_plus_one = static_cast<int32_t>(static_cast<uint32_t>(code) + 1u);
    const float divisor = static_cast<float>(code_plus_one) - term;
    const float scaled = divisor != 0.0f ? 4.0f / divisor * 1000.0f : 0.0f;
    if (divisor == 0.0f || !(scaled < 2147483648.0f && scaled >= -2147483648.0f)) {
      io.write_list(kConsoleOut,
                    {"cannot compute coefficient for animal ", animal, " with code ", code});
      io.plain_stop();
    }
    const int32_t numbers[4] = {animal, sire, dam, static_cast<int32_t>(scaled)};
    const int p = splice_integers(line, numbers);
    const Identifier& id = (animal >= 1 && animal <= t.capacity.animals) ? t.identifier[animal] : kNoIdentifier;
    io.write_formatted(kCoefficientUnit, kCoefficientLine,
                       {std::string_view(line, static_cast<size_t>(p)), text_of(id)});
  }
}

}  // namespace parclas
