// The command line: capacities and the inbreeding method. The console
// dialogue is the same with or without options.
#pragma once

#include <string>
#include <vector>

#include "run/tables.h"

namespace parclas {

inline constexpr int kUsageStatus = 2;
inline constexpr int32_t kMostFamilyMembers = 10000000;
inline constexpr int32_t kMostThreads = 64;

// The processors of the machine, at most kMostThreads.
int32_t default_threads();

struct Options {
  Capacities capacity;
  InbreedingMethod method = InbreedingMethod::Family;
  ClassInverseRequest class_inverse;
  bool class_inverse_rule_given = false;
  int32_t threads = default_threads();
  // What the command line asks for besides a run.
  enum class Action { Run, Help, Version, Refuse } action = Action::Run;
  std::string refusal;  // the message for a refused command line
  bool any_auto() const {
    return capacity.auto_animals || capacity.auto_family || capacity.auto_classes;
  }
};

Options parse_options(const std::vector<std::string>& arguments);

extern const std::string kUsage;
extern const char* const kVersion;

}  // namespace parclas
