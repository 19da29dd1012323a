// prove_faults: the fault campaign on the simulated machine.
//
//   prove_faults [--removal] [--quick] [--versions=win98,winxp] [--in-process] [--quiet]
//   prove_faults --power-loss [--removal] [--quick] [--versions=...] [--in-process] [--quiet]
//
// The fault campaign prints every failed point, then the line
//   faults: P points, C crashes, L leaks, W wrong outcomes
// and exits 0 only when C, L and W are all zero.
//
// With --power-loss it cuts every call of a run instead (rich and sample
// machines, every version; --quick: the rich machine on one version of each
// family) and prints every point that does not converge, how many points
// share each difference, then
//   power loss: P points, C converge, D differences outside the known list
// and exits 0 only when D is zero.
//
// With --removal both campaigns run the removal program instead, on the
// machines the installer has been run on (see RemovalScenarios), and the
// lines read "faults (removal): ..." and "power loss (removal): ...". The
// fault campaign then judges that nothing off the removal's list changed;
// --quick keeps one version of each family there too.
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

// " (removal)" after the figure's name with --removal.
std::string label;

int PowerLoss(const std::vector<sim::Windows>& versions, bool withSample, bool removal,
              bool isolate, bool quiet) {
  std::vector<prove::FaultScenario> scenarios = prove::PowerLossScenarios(versions, withSample);
  if (removal) scenarios = prove::RemovalScenarios(scenarios, withSample, false);
  const prove::PowerLossFigures figures =
      prove::RunPowerLoss(scenarios, isolate, quiet ? nullptr : &std::cout);
  std::map<std::string, size_t> causes;
  for (const std::string& failure : figures.failures) {
    std::cout << "FAILED " << failure << "\n";
    ++causes[Cause(failure)];
  }
  for (const auto& cause : causes)
    std::cout << "DIFFERENCE at " << cause.second << " points: " << cause.first << "\n";
  std::cout << "power loss" << label << ": " << figures.points << " points, " << figures.converge
            << " converge, " << figures.differences << " differences outside the known list"
            << std::endl;
  return figures.differences == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<sim::Windows> versions = AllVersions();
  bool versionsGiven = false;
  bool isolate = true;
  bool quiet = false;
  bool powerLoss = false;
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
    } else if (arg == "--quick") {
      quick = true;
    } else if (arg == "--removal") {
      removal = true;
      label = " (removal)";
    } else {
      std::cerr << "usage: prove_faults [--power-loss] [--removal] [--quick] [--versions=a,b] "
                   "[--in-process] [--quiet]\n";
      return 2;
    }
  }

  if (quick && !versionsGiven) versions = {sim::Windows::Win98, sim::Windows::WinXP};
  if (powerLoss) return PowerLoss(versions, !quick, removal, isolate, quiet);

  // The removal runs on the rich machine after the install (and, in the
  // full form, also before the install's restart), and under the guard.
  const std::vector<prove::FaultScenario> scenarios =
      removal ? prove::RemovalScenarios(prove::PowerLossScenarios(versions, false), !quick, true)
              : prove::FaultScenarios(versions);
  const prove::CampaignFigures figures =
      prove::RunCampaign(scenarios, isolate, quiet ? nullptr : &std::cout);
  for (const std::string& failure : figures.failures) std::cout << "FAILED " << failure << "\n";
  for (const std::string& point : figures.accepted) std::cout << "ACCEPTED " << point << "\n";
  std::cout << "faults" << label << ": " << figures.points << " points, " << figures.crashes
            << " crashes, " << figures.leaks << " leaks, " << figures.wrong << " wrong outcomes"
            << std::endl;
  return figures.crashes + figures.leaks + figures.wrong == 0 ? 0 : 1;
}
