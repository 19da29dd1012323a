// prove_faults: the fault campaign on the simulated machine.
//
//   prove_faults [--removal] [--quick] [--versions=win98,winxp] [--in-process] [--quiet]
//   prove_faults --power-loss [--removal] [--quick] [--versions=...] [--in-process] [--quiet]
//   prove_faults --persistent [--quick] [--versions=...] [--in-process] [--quiet]
//
// The fault campaign (rich, guard and varied machines of every version;
// --quick: the varied machines of win98 and winxp only) prints every failed
// point, then the line
//   faults: P points, C crashes, L leaks, W wrong outcomes
// and exits 0 only when C, L and W are all zero.
//
// With --power-loss it cuts every call of a run instead (rich, varied and
// sample machines, every version; --quick: the rich and the varied machine
// on one version of each family), and cuts sampled pairs of calls of the
// varied machines twice in a row (150 pairs each), and prints every point
// that does not converge, how many points share each difference, then
//   power loss: P points, C converge, D differences outside the known list
//   power loss, two cuts: P points, C converge, D differences outside the known list
// and exits 0 only when both D are zero.
//
// With --persistent every call from a failable call k on fails (a full disk
// or registry hive), for every k of the rich and the varied machines (every
// version; --quick: one version of each family), then
//   persistent faults: P points, C crashes, L leaks, W lost or wrong
// and exits 0 only when C, L and W are all zero.
//
// With --removal the fault and power-loss campaigns run the removal program
// instead, on the machines the installer has been run on (see
// RemovalScenarios), and the lines read "faults (removal): ..." and
// "power loss (removal): ..." (no two-cut line). The fault campaign then
// judges that nothing off the removal's list changed; --quick keeps one
// version of each family there.
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fault_campaign.h"
#include "harness.h"

namespace {

// The first line in which a point's machine differs, after the point's
// name: points that one cause makes diverge mostly share it.
std::string Cause(const std::string& failure) {
  const size_t colon = failure.find("): ");
  const std::string diff = colon == std::string::npos ? failure : failure.substr(colon + 3);
  return diff.substr(0, diff.find(" | "));
}

const size_t kTwoCutPairs = 150;

// " (removal)" after the figure's name with --removal.
std::string label;

int PowerLoss(const std::vector<sim::Windows>& versions, bool withSample, bool removal,
              bool isolate, bool quiet) {
  std::vector<prove::FaultScenario> scenarios = prove::PowerLossScenarios(versions, withSample);
  if (removal) scenarios = prove::RemovalScenarios(scenarios, withSample, false);
  prove::PowerLossFigures twoCuts;
  const prove::PowerLossFigures figures =
      prove::RunPowerLoss(scenarios, isolate, quiet ? nullptr : &std::cout,
                          removal ? 0 : kTwoCutPairs, &twoCuts);
  std::map<std::string, size_t> causes;
  for (const prove::PowerLossFigures* f :
       {&figures, static_cast<const prove::PowerLossFigures*>(&twoCuts)}) {
    for (const std::string& failure : f->failures) {
      std::cout << "FAILED " << failure << "\n";
      ++causes[Cause(failure)];
    }
  }
  for (const auto& cause : causes)
    std::cout << "DIFFERENCE at " << cause.second << " points: " << cause.first << "\n";
  std::cout << "power loss" << label << ": " << figures.points << " points, " << figures.converge
            << " converge, " << figures.differences << " differences outside the known list"
            << std::endl;
  if (!removal) {
    std::cout << "power loss, two cuts: " << twoCuts.points << " points, " << twoCuts.converge
              << " converge, " << twoCuts.differences << " differences outside the known list"
              << std::endl;
  }
  return figures.differences + twoCuts.differences == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<sim::Windows> versions = AllVersions();
  bool versionsGiven = false;
  bool isolate = true;
  bool quiet = false;
  bool powerLoss = false;
  bool persistent = false;
  bool quick = false;
  bool removal = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.compare(0, 11, "--versions=") == 0) {
      versions.clear();
      versionsGiven = true;
      std::stringstream list(arg.substr(11));
      std::string name;
      while (std::getline(list, name, ',')) {
        sim::Windows v;
        if (!sim::WindowsFromName(name, &v)) {
          std::cerr << "unknown version " << name << "\n";
          return 2;
        }
        versions.push_back(v);
      }
    } else if (arg == "--in-process") {
      isolate = false;
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--power-loss") {
      powerLoss = true;
    } else if (arg == "--persistent") {
      persistent = true;
    } else if (arg == "--quick") {
      quick = true;
    } else if (arg == "--removal") {
      removal = true;
      label = " (removal)";
    } else {
      std::cerr << "usage: prove_faults [--power-loss|--persistent] [--removal] [--quick] "
                   "[--versions=a,b] "
                   "[--in-process] [--quiet]\n";
      return 2;
    }
  }

  // Power loss, persistent faults and the removal keep one version of each
  // family in the quick form.
  std::vector<sim::Windows> quickVersions = versions;
  if (quick && !versionsGiven) quickVersions = {sim::Windows::Win98, sim::Windows::WinXP};
  if (powerLoss) return PowerLoss(quickVersions, !quick, removal, isolate, quiet);

  if (persistent) {
    std::vector<prove::FaultScenario> scenarios;
    for (const prove::FaultScenario& s : prove::FaultScenarios(quickVersions)) {
      if (s.name != "guard") scenarios.push_back(s);
    }
    const prove::CampaignFigures figures =
        prove::RunPersistentFaults(scenarios, isolate, quiet ? nullptr : &std::cout);
    for (const std::string& failure : figures.failures) std::cout << "FAILED " << failure << "\n";
    std::cout << "persistent faults: " << figures.points << " points, " << figures.crashes
              << " crashes, " << figures.leaks << " leaks, " << figures.wrong << " lost or wrong"
              << std::endl;
    return figures.crashes + figures.leaks + figures.wrong == 0 ? 0 : 1;
  }

  if (removal) {
    // The removal runs on the rich machine after the install (and, in the
    // full form, also before the install's restart), and under the guard.
    const std::vector<prove::FaultScenario> scenarios =
        prove::RemovalScenarios(prove::PowerLossScenarios(quickVersions, false), !quick, true);
    const prove::CampaignFigures figures =
        prove::RunCampaign(scenarios, isolate, quiet ? nullptr : &std::cout);
    for (const std::string& failure : figures.failures) std::cout << "FAILED " << failure << "\n";
    std::cout << "faults" << label << ": " << figures.points << " points, " << figures.crashes
              << " crashes, " << figures.leaks << " leaks, " << figures.wrong << " wrong outcomes"
              << std::endl;
    return figures.crashes + figures.leaks + figures.wrong == 0 ? 0 : 1;
  }

  // The quick form keeps the rich and guard machines of every version and
  // the varied machines of one version of each family.
  std::vector<prove::FaultScenario> scenarios;
  for (const prove::FaultScenario& s : prove::FaultScenarios(versions)) {
    const bool varied = s.name == prove::VariedScenario(s.version).name;
    if (!quick || !varied || s.version == sim::Windows::Win98 || s.version == sim::Windows::WinXP)
      scenarios.push_back(s);
  }
  const prove::CampaignFigures figures =
      prove::RunCampaign(scenarios, isolate, quiet ? nullptr : &std::cout);
  for (const std::string& failure : figures.failures) std::cout << "FAILED " << failure << "\n";
  std::cout << "faults: " << figures.points << " points, " << figures.crashes << " crashes, "
            << figures.leaks << " leaks, " << figures.wrong << " wrong outcomes" << std::endl;
  return figures.crashes + figures.leaks + figures.wrong == 0 ? 0 : 1;
}
