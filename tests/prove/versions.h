// The real drvsetup.exe under Wine on every Windows version Wine can
// pretend to be: the guard stopping a run, then a full install with the
// final phase, then the restart, each checked for what it must leave.
#pragma once

#include <string>
#include <vector>

namespace prove {

// Wine's version names; `quick` keeps one of each family.
std::vector<std::string> VersionNames(bool quick);

struct VersionReport {
  std::vector<std::string> failures;  // empty when the version passed
  size_t checks = 0;                  // how many things were checked
};

VersionReport RunVersion(const std::string& version);

}  // namespace prove
