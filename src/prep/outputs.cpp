#include "prep/outputs.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "prep/output_file.h"
#include "text/fields.h"

namespace fs = std::filesystem;

namespace parclas::prep {
namespace {

// Files an earlier preparation or a PARCLAS run on it leaves in the folder.
std::vector<std::string> removable_names() {
  std::vector<std::string> names(std::begin(kOutputNames), std::end(kOutputNames));
  for (auto& n : parclas_output_names()) names.push_back(std::move(n));
  return names;
}

// The permissions a new folder gets from the process's umask.
fs::perms folder_permissions() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<fs::perms>(0777 & ~mask);
}

// A fresh folder beside DIR, removed again unless it is committed.
class Staging {
 public:
  bool create(const fs::path& out, std::string& error) {
    out_ = fs::absolute(out).lexically_normal();
    if (!out_.has_filename()) out_ = out_.parent_path();
    std::string pattern = (out_.parent_path() / ("." + out_.filename().string() + ".parclas-prep-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      error = "cannot create a folder beside " + out_.string() + ": " + std::strerror(errno);
      return false;
    }
    path_ = pattern;
    return true;
  }
  fs::path file(std::string_view name) const { return path_ / name; }
  bool commit(const OutputFolder& folder, std::string& error) {
    std::error_code ec;
    if (!folder.exists) {
      if (fs::exists(out_, ec)) {
        error = out_.string() + " was created while the files were prepared";
        return false;
      }
      fs::rename(path_, out_, ec);
      if (!ec) fs::permissions(out_, folder_permissions(), ec);
    } else {
      for (const std::string& name : folder.earlier) {
        if (!ec) fs::remove(out_ / name, ec);
      }
      for (const std::string_view name : kOutputNames) {
        if (!ec) fs::rename(path_ / name, out_ / name, ec);
      }
      if (!ec) fs::remove(path_, ec);
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

// The files are written in number order, the identifiers are stored in
// input order: their loads are started ahead of use.
void prefetch_ahead(const IdTable& ids, const std::vector<uint32_t>& at, size_t i) {
  constexpr size_t kStartAhead = 32;
  constexpr size_t kTextAhead = 16;
  if (i + kStartAhead < at.size()) ids.prefetch_start(at[i + kStartAhead]);
  if (i + kTextAhead < at.size()) ids.prefetch_text(at[i + kTextAhead]);
}

std::string title_of(const Options& o) {
  std::string t = "parclas-prep of " + fs::path(o.pedigree).filename().string();
  return t.substr(0, 40);
}

bool write_ped(const Options& o, const Prepared& pr, const fs::path& path, std::string& error) {
  OutputFile out;
  out.open(path);
  const Pedigree& p = pr.pedigree;
  char line[5 * kSplicedWidth + kIdentifierWidth + 2];
  const std::vector<uint32_t>& at = pr.numbering.animal_at;
  for (size_t i = 0; i < at.size(); ++i) {
    prefetch_ahead(p.ids, at, i);
    const uint32_t a = at[i];
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
  const std::vector<uint32_t>& at = pr.numbering.animal_at;
  for (size_t i = 0; i < at.size(); ++i) {
    prefetch_ahead(pr.pedigree.ids, at, i);
    const uint32_t a = at[i];
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
  std::string t = std::string(kDataOut) + "\n" + std::string(kPedigreeOut) + "\n" + title_of(o) + "\n";
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

bool check_output_folder(const Options& o, OutputFolder& folder, std::string& error) {
  std::error_code ec;
  const fs::path out(o.out);
  const std::vector<std::string> ours = removable_names();
  for (const std::string& input : {o.pedigree, o.data}) {
    if (input.empty()) continue;
    for (const std::string& name : ours) {
      std::error_code same_ec;
      if (fs::equivalent(input, out / name, same_ec)) {
        error = "input file " + input + " would be replaced by the output file " + name + " in " + o.out;
        return false;
      }
    }
  }
  const fs::file_status status = fs::status(out, ec);
  if (!fs::exists(status)) return true;
  if (!fs::is_directory(status)) {
    error = o.out + " is not a folder";
    return false;
  }
  folder.exists = true;
  std::vector<std::string> others;
  for (fs::directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const bool file = it->is_regular_file(ec) || it->is_symlink(ec);
    if (std::find(ours.begin(), ours.end(), name) == ours.end()) {
      others.push_back(name);
    } else if (!file) {
      error = (out / name).string() + " is not a file";
      return false;
    } else {
      folder.earlier.push_back(name);
    }
  }
  if (ec) {
    error = "cannot read the folder " + o.out + ": " + ec.message();
    return false;
  }
  if (folder.earlier.empty() && others.empty()) return true;
  // In the order they are written, then PARCLAS's files.
  std::sort(folder.earlier.begin(), folder.earlier.end(), [&](const std::string& x, const std::string& y) {
    return std::find(ours.begin(), ours.end(), x) < std::find(ours.begin(), ours.end(), y);
  });
  if (!o.force) {
    std::sort(others.begin(), others.end());
    std::vector<std::string> all = folder.earlier;
    all.insert(all.end(), others.begin(), others.end());
    error = "the output folder " + o.out + " is not empty (" + first_of(all, all.size(), 5) +
            "): give a new folder" +
            (folder.earlier.empty() ? std::string() : ", or --force to replace an earlier preparation there");
    return false;
  }
  return true;
}

bool write_outputs(const Options& o, const OutputFolder& folder, const Prepared& pr, DataFile* data,
                   const UnknownCodes& unknown, Report& report, std::string& error) {
  Staging staging;
  if (!staging.create(o.out, error)) return false;
  if (!write_ped(o, pr, staging.file(kPedigreeOut), error)) return false;
  if (!write_animals(pr, staging.file(kAnimalsOut), error)) return false;
  {
    OutputFile out;
    out.open(staging.file(kDataOut));
    if (data != nullptr) {
      if (!write_data_records(*data, unknown, pr.numbering, out, error)) return false;
    } else {
      write_animal_records(pr.numbering, out);
    }
    if (!out.close()) {
      error = out.error();
      return false;
    }
  }
  if (data == nullptr) {
    report.line(std::string(kDataOut) + ": no data file given; one record per animal (constant effect, animal), so that the run "
                "reports the inbreeding of every animal");
  }
  if (!folder.earlier.empty()) {
    report.line("removed from " + o.out + " (left by an earlier preparation or PARCLAS run): " +
                first_of(folder.earlier, folder.earlier.size(), folder.earlier.size()));
  }
  if (!write_whole_file(staging.file(kLevelsOut), levels_text(data), error) ||
      !write_whole_file(staging.file(kParameterOut), parameter_text(o, pr, data), error) ||
      !write_whole_file(staging.file(kAnswersOut), std::string(kParameterOut) + "\n" + std::to_string(o.passes) + "\n",
                        error) ||
      !write_whole_file(staging.file(kReportOut), report.text(), error)) {
    return false;
  }
  return staging.commit(folder, error);
}

}  // namespace parclas::prep
