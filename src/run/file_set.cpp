#include "run/file_set.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "run/run.h"
#include "text/fields.h"

namespace parclas {

namespace {

struct OutputFile {
  int unit;
  const char* prefix;
  FileName RunTables::*base;
};

constexpr OutputFile kOutputs[] = {
    {kClassPedigreeUnit, "domd", &RunTables::relationship_file},
    {kNewParameterUnit, "dom", &RunTables::parameter_file},
    {kCoefficientUnit, "d", &RunTables::relationship_file},
    {kRecodedDataUnit, "domrec", &RunTables::data_file},
    {kClassIdUnit, "domid", &RunTables::relationship_file},
};

// A file of the run as the clash check compares it.
struct RunFile {
  std::string name;
  std::string normal_path;
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;

  explicit RunFile(std::string trimmed_name) : name(std::move(trimmed_name)) {
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    normal_path = (cwd / name).lexically_normal().string();
    struct stat st {};
    if (!name.empty() && ::stat(name.c_str(), &st) == 0) {
      exists = true;
      device = st.st_dev;
      inode = st.st_ino;
    }
  }

  bool same_as(const RunFile& other) const {
    return name == other.name || normal_path == other.normal_path ||
           (exists && other.exists && device == other.device && inode == other.inode);
  }
};

}  // namespace

std::string derived_name(std::string_view prefix, const FileName& base) {
  std::string name(prefix);
  name.append(base.data(), base.size());
  return name;
}

void check_output_names(Run& run) {
  RunTables& t = run.t;
  std::vector<RunFile> inputs;
  for (const FileName* input : {&t.parameter_file, &t.relationship_file, &t.data_file}) {
    inputs.emplace_back(std::string(trim_blanks(text_of(*input))));
  }
  std::vector<RunFile> outputs;
  for (const OutputFile& o : kOutputs) {
    outputs.emplace_back(std::string(trim_blanks(derived_name(o.prefix, t.*o.base))));
  }
  if (!t.class_inverse.file.empty()) outputs.emplace_back(t.class_inverse.file);
  for (size_t k = 0; k < outputs.size(); ++k) {
    bool clash = false;
    for (const RunFile& input : inputs) clash = clash || outputs[k].same_as(input);
    for (size_t other = 0; other < outputs.size(); ++other) {
      clash = clash || (other != k && outputs[k].same_as(outputs[other]));
    }
    if (clash) {
      run.io.write_list(kConsoleOut,
                        {"output file clashes with another file of the run: ", outputs[k].name});
      run.io.plain_stop();
    }
  }
}

void open_file_set(Run& run) {
  RunTables& t = run.t;
  // In unit order: a missing input is reported before any output exists.
  run.io.connect(kRelationshipUnit, text_of(t.relationship_file), FileUse::Input);
  run.io.connect(kDataUnit, text_of(t.data_file), FileUse::Input);
  for (const OutputFile& o : kOutputs) {
    run.io.connect(o.unit, derived_name(o.prefix, t.*o.base), FileUse::Output);
  }
}

void empty_unwritten_outputs(Run& run) {
  for (const OutputFile& o : kOutputs) run.io.empty_if_unwritten(o.unit);
}

}  // namespace parclas
