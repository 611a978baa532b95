#include "prep/outputs.h"

#include <stdlib.h>

#include <filesystem>

#include "prep/output_file.h"
#include "text/fields.h"

namespace fs = std::filesystem;

namespace parclas::prep {
namespace {

constexpr const char* kOutputNames[] = {"ped.txt", "data.txt", "par.txt", "answers",
                                        "animals.txt", "levels.txt", "report.txt"};

// A fresh folder beside DIR, removed again unless it is committed.
class Staging {
 public:
  bool create(const fs::path& out, std::string& error) {
    out_ = fs::absolute(out).lexically_normal();
    if (!out_.has_filename()) out_ = out_.parent_path();
    std::string pattern = (out_.parent_path() / ("." + out_.filename().string() + ".parclas-prep-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      error = "cannot create a folder beside " + out_.string();
      return false;
    }
    path_ = pattern;
    return true;
  }
  fs::path file(const char* name) const { return path_ / name; }
  bool commit(std::string& error) {
    std::error_code ec;
    if (!fs::exists(out_, ec)) {
      fs::rename(path_, out_, ec);
    } else if (fs::is_directory(out_, ec)) {
      for (const char* name : kOutputNames) {
        if (!ec) fs::rename(path_ / name, out_ / name, ec);
      }
      if (!ec) fs::remove(path_, ec);
    } else {
      error = out_.string() + " is not a folder";
      return false;
    }
    if (ec) {
      error = "cannot move the files into " + out_.string() + ": " + ec.message();
      return false;
    }
    path_.clear();
    return true;
  }
  ~Staging() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }

 private:
  fs::path out_;
  fs::path path_;
};

std::string title_of(const Options& o) {
  std::string t = "parclas-prep of " + fs::path(o.pedigree).filename().string();
  return t.substr(0, 40);
}

bool write_ped(const Options& o, const Prepared& pr, const fs::path& path, std::string& error) {
  OutputFile out;
  out.open(path);
  const Pedigree& p = pr.pedigree;
  char line[5 * kSplicedWidth + kIdWidth + 2];
  for (const uint32_t a : pr.numbering.animal_at) {
    int32_t values[5] = {pr.numbering.number[a], 0, 0, parent_code(p, a), pr.coding.value(pr.year[a])};
    for (int k = 0; k < 2; ++k) {
      const int32_t q = k == 0 ? p.sire[a] : p.dam[a];
      values[1 + k] = q != kUnknown ? pr.numbering.number[static_cast<uint32_t>(q)]
                                    : o.groups ? group_number(o, pr, pr.year[a]) : 0;
    }
    size_t n = static_cast<size_t>(splice_integers(line, values));
    line[n++] = ' ';
    const std::string_view id = pr.ids(a);
    std::copy(id.begin(), id.end(), line + n);
    n += id.size();
    line[n++] = '\n';
    out.write(std::string_view(line, n));
  }
  if (!out.close()) error = out.error();
  return error.empty();
}

bool write_animals(const Prepared& pr, const fs::path& path, std::string& error) {
  OutputFile out;
  out.open(path);
  char number[kSplicedWidth];
  for (const uint32_t a : pr.numbering.animal_at) {
    const int32_t v = pr.numbering.number[a];
    const int n = splice_integers(number, std::span(&v, 1));
    out.write(std::string_view(number, static_cast<size_t>(n)));
    out.write(" ");
    out.write(pr.pedigree.ids[a]);
    out.write("\n");
  }
  if (!out.close()) error = out.error();
  return error.empty();
}

std::string levels_text(const DataFile* data) {
  std::string t;
  if (data == nullptr) return t;
  for (const auto& c : data->columns) {
    if (!c.is_class) continue;
    for (uint32_t l = 0; l < c.levels.size(); ++l) {
      t += c.name + " " + std::to_string(l + 1) + " " + std::string(c.levels[l]) + "\n";
    }
  }
  return t;
}

// Effects: the class columns, then the animal; without a data file a
// constant effect and the animal.
std::string parameter_text(const Options& o, const Prepared& pr, const DataFile* data) {
  const auto n = static_cast<int32_t>(pr.numbering.animal_at.size());
  std::string t = "data.txt\nped.txt\n" + title_of(o) + "\n";
  if (data == nullptr) return t + "2 2\n1 1 0\n2 " + std::to_string(n) + " -1\n";
  const size_t classes = data->class_count();
  t += std::to_string(classes + 1) + " " + std::to_string(data->columns.size() + 1) + "\n";
  size_t column = 0;
  for (const auto& c : data->columns) {
    if (c.is_class) t += std::to_string(++column) + " " + std::to_string(c.levels.size()) + " 0\n";
  }
  return t + std::to_string(column + 1) + " " + std::to_string(n) + " -1\n";
}

}  // namespace

int32_t group_number(const Options& o, const Prepared& pr, int32_t year) {
  const auto n = static_cast<int64_t>(pr.numbering.animal_at.size());
  const int64_t first = pr.coding.calendar ? pr.coding.first : 1;
  const int64_t g = (static_cast<int64_t>(year) - first) / o.years_per_group;
  return static_cast<int32_t>(n + 1 + std::max<int64_t>(g, 0));
}

bool outputs_clash_with_inputs(const Options& o, std::string& error) {
  std::error_code ec;
  if (fs::exists(o.out, ec) && !fs::is_directory(o.out, ec)) {
    error = o.out + " is not a folder";
    return true;
  }
  for (const std::string& input : {o.pedigree, o.data}) {
    if (input.empty()) continue;
    for (const char* name : kOutputNames) {
      std::error_code same_ec;
      if (fs::equivalent(input, fs::path(o.out) / name, same_ec)) {
        error = "input file " + input + " would be replaced by the output file " + name + " in " + o.out;
        return true;
      }
    }
  }
  return false;
}

bool write_outputs(const Options& o, const Prepared& pr, DataFile* data, const MissingCodes& missing, Report& report,
                   std::string& error) {
  Staging staging;
  if (!staging.create(o.out, error)) return false;
  if (!write_ped(o, pr, staging.file("ped.txt"), error)) return false;
  if (!write_animals(pr, staging.file("animals.txt"), error)) return false;
  {
    OutputFile out;
    out.open(staging.file("data.txt"));
    if (data != nullptr) {
      if (!write_data_records(*data, missing, pr.numbering, out, error)) return false;
    } else {
      write_animal_records(pr.numbering, out);
    }
    if (!out.close()) {
      error = out.error();
      return false;
    }
  }
  if (data == nullptr) {
    report.line("data.txt: no data file given; one record per animal (constant effect, animal), so that the run "
                "reports the inbreeding of every animal");
  }
  if (!write_whole_file(staging.file("levels.txt"), levels_text(data), error) ||
      !write_whole_file(staging.file("par.txt"), parameter_text(o, pr, data), error) ||
      !write_whole_file(staging.file("answers"), "par.txt\n" + std::to_string(o.passes) + "\n", error) ||
      !write_whole_file(staging.file("report.txt"), report.text(), error)) {
    return false;
  }
  return staging.commit(error);
}

}  // namespace parclas::prep
