// List-directed reading, line reading and rewinding on a file (or the
// console) whose bytes are the fuzz input. Byte 0 chooses the source and the
// kind of reads, byte 1 the number of items per read.
#include <array>
#include <sstream>

#include "run/text_io.h"
#include "support.h"

using namespace parclas;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const unsigned mode = data[0];
  const size_t count = 1 + data[1] % 24;
  const std::string content(reinterpret_cast<const char*>(data + 2), size - 2);
  fuzz::InScratch scratch;
  fuzz::write_file("input.txt", content);

  std::istringstream console(content);
  std::ostringstream out;
  std::ostringstream err;
  TextIO io(console, out, err);
  const bool from_console = (mode & 1) != 0;
  const int unit = from_console ? kConsoleIn : 11;
  const int passes = (mode & 2) != 0 && !from_console ? 2 : 1;
  int32_t integers[24];
  float reals[24];
  std::array<char, 20> text;
  try {
    if (!from_console) io.connect(unit, "input.txt");
    for (int pass = 0; pass < passes; ++pass) {
      for (unsigned read = 0;; ++read) {
        ReadResult r = ReadResult::Ok;
        const unsigned first = (mode >> 2) & 3;
        switch ((mode & 64) != 0 ? first : (first + read) % 4) {
          case 0:
            r = io.read_integers(unit, std::span<int32_t>(integers, count));
            break;
          case 1:
            r = io.read_reals(unit, std::span<float>(reals, count));
            break;
          case 2:
            r = (mode & 16) != 0 ? io.read_text(unit, text) : io.skip_line(unit);
            break;
          default:
            r = (mode & 32) != 0 ? io.read_integers(unit, std::span<int32_t>(integers, count))
                                 : io.read_reals(unit, std::span<float>(reals, count));
            break;
        }
        if (r == ReadResult::EndOfFile) break;
      }
      if (!from_console) io.rewind(unit);
    }
  } catch (const RunEnd& end) {
    const std::string report = err.str();
    fuzz::check(end.status == 59 || end.status == 64, "unexpected read error");
    fuzz::check(report.rfind("severe (" + std::to_string(end.status) + "): ", 0) == 0,
                "read-error report does not match status");
  }
  io.close_all_quietly();
  std::string after;
  fuzz::check(fuzz::read_file("input.txt", after) && after == content, "reading changed the file");
  return 0;
}
