// prove_wine: the installer on the simulated machine against Wine.
//
//   prove_wine differential [--quick] [--only=NAME,...] [--known=FILE] [--traces]
//     Runs each scenario on both machines and prints every difference that
//     the known list does not cover, then
//       differential: S scenarios, D differences outside the known list
//   prove_wine versions [--quick] [--only=win95,...]
//     Runs the full install, the guard and the final phase under Wine on
//     each Windows version, then
//       versions: P of V passed
//
// With --removal the differential runs the removal scenarios instead: the
// installer first, then drvremove.exe compared on both machines (line
// "differential (removal): ..."; with --win32 "differential (removal,
// 32-bit): ...").
//
// With --win32 the 32-bit drvsetup.exe runs, under the 32-bit Wine of the
// i386 tree, and the lines read "differential (32-bit): ..." and "versions
// (32-bit): ..."; each scenario then also runs the 64-bit drvsetup.exe, and
// every way in which the two builds left the machine differently counts as
// a difference outside the known list. Runs repeated because the emulator
// crashed are counted on a line "emulator retries: N".
//
// Exit code 0 only when nothing is outside the known list / every version
// passed.
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "differential.h"
#include "known_differences.h"
#include "versions.h"

namespace {

std::string label;  // " (32-bit)" with --win32, " (removal)", " (removal, 32-bit)"
bool removal = false;

std::vector<std::string> List(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

bool Selected(const std::vector<std::string>& only, const std::string& name) {
  if (only.empty()) return true;
  for (const std::string& o : only) {
    if (o == name) return true;
  }
  return false;
}

int Differential(bool quick, const std::vector<std::string>& only, const std::string& knownPath,
                 bool traces) {
  std::vector<prove::KnownDifference> known;
  std::string error;
  if (!prove::LoadKnownDifferences(knownPath, &known, &error)) {
    std::cerr << "the known differences: " << error << "\n";
    return 2;
  }
  size_t scenarios = 0, outside = 0;
  std::map<std::string, size_t> covered;
  const bool few = quick && only.empty();
  for (const prove::Scenario& scenario :
       removal ? prove::RemovalScenarios(few) : prove::Scenarios(few)) {
    if (!Selected(only, scenario.name)) continue;
    ++scenarios;
    const prove::ScenarioReport report = prove::RunScenario(scenario);
    if (!report.ran) {
      // A scenario that could not be run is a difference of its own: the
      // comparison did not take place.
      std::cout << scenario.name << ": NOT RUN: " << report.error << "\n";
      ++outside;
      continue;
    }
    for (const std::string& line : report.buildDifferences)
      std::cout << "  BUILDS " << line << "\n";
    outside += report.buildDifferences.size();
    size_t own = 0, knownHere = 0;
    for (const std::string& line : report.differences) {
      if (const prove::KnownDifference* entry = prove::FindKnown(known, line)) {
        ++covered[entry->title];
        ++knownHere;
      } else {
        std::cout << "  DIFF " << line << "\n";
        ++own;
      }
    }
    outside += own;
    std::cout << scenario.name << ": " << report.calls << " calls and " << report.changes
              << " changes compared; " << own << " differences outside the known list, "
              << knownHere << " known\n";
    if (traces) {
      std::cout << "  --- simulated machine\n";
      for (const std::string& line : report.simTrace) std::cout << "  " << line << "\n";
      std::cout << "  --- Wine\n";
      for (const std::string& line : report.wineTrace) std::cout << "  " << line << "\n";
    }
    std::cout.flush();
  }
  for (const auto& entry : covered)
    std::cout << "known: " << entry.second << " x " << entry.first << "\n";
  std::cout << "differential" << label << ": " << scenarios << " scenarios, " << outside
            << " differences outside the known list" << std::endl;
  return outside == 0 ? 0 : 1;
}

int Versions(bool quick, const std::vector<std::string>& only) {
  std::vector<std::string> names = prove::VersionNames(quick && only.empty());
  size_t total = 0, passed = 0;
  for (const std::string& name : names) {
    if (!Selected(only, name)) continue;
    ++total;
    const prove::VersionReport report = prove::RunVersion(name);
    for (const std::string& failure : report.failures)
      std::cout << "  FAIL " << name << ": " << failure << "\n";
    std::cout << name << ": " << (report.failures.empty() ? "passed" : "FAILED") << " ("
              << report.checks << " checks, " << report.failures.size() << " failed)\n";
    std::cout.flush();
    if (report.failures.empty()) ++passed;
  }
  std::cout << "versions" << label << ": " << passed << " of " << total << " passed" << std::endl;
  return passed == total ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: prove_wine differential|versions [--quick] [--win32] [--removal] "
                 "[--only=a,b] "
                 "[--known=FILE] [--traces]\n";
    return 2;
  }
  const std::string mode = argv[1];
  bool quick = false, traces = false, win32 = false;
  std::vector<std::string> only;
  std::string known = DRVSETUP_KNOWN_DIFFERENCES;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      quick = true;
    } else if (arg == "--win32") {
      setenv("DRVSETUP_WINE_ARCH", "win32", 1);
      win32 = true;
    } else if (arg == "--removal") {
      removal = true;
    } else if (arg == "--traces") {
      traces = true;
    } else if (arg.compare(0, 7, "--only=") == 0) {
      only = List(arg.substr(7));
    } else if (arg.compare(0, 8, "--known=") == 0) {
      known = arg.substr(8);
    } else {
      std::cerr << "unknown option " << arg << "\n";
      return 2;
    }
  }
  if (removal && win32) {
    label = " (removal, 32-bit)";
  } else if (removal || win32) {
    label = removal ? " (removal)" : " (32-bit)";
  }
  if (win32 && !winehost::WineInstalled(winehost::WineArch::k32)) {
    // Never a silent pass: the 32-bit figures need the tree.
    std::cerr << "no 32-bit Wine: make the i386 tree with scripts/i386-wine-tree\n";
    return 1;
  }
  if (mode != "differential" && mode != "versions") {
    std::cerr << "unknown mode " << mode << "\n";
    return 2;
  }
  if (removal && mode != "differential") {
    std::cerr << "--removal is a set of differential scenarios\n";
    return 2;
  }
  const int rc =
      mode == "differential" ? Differential(quick, only, known, traces) : Versions(quick, only);
  if (win32) std::cout << "emulator retries: " << winehost::EmulatorRetries() << std::endl;
  return rc;
}
