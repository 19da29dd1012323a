// prove_faults: the fault campaign on the simulated machine.
//
//   prove_faults [--versions=win98,winxp] [--in-process] [--quiet]
//
// Prints every failed point, then the line
//   faults: P points, C crashes, L leaks, W wrong outcomes
// and exits 0 only when C, L and W are all zero.
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "fault_campaign.h"
#include "harness.h"

int main(int argc, char** argv) {
  std::vector<sim::Windows> versions = AllVersions();
  bool isolate = true;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.compare(0, 11, "--versions=") == 0) {
      versions.clear();
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
    } else {
      std::cerr << "usage: prove_faults [--versions=a,b] [--in-process] [--quiet]\n";
      return 2;
    }
  }

  const prove::CampaignFigures figures =
      prove::RunCampaign(prove::FaultScenarios(versions), isolate, quiet ? nullptr : &std::cout);
  for (const std::string& failure : figures.failures) std::cout << "FAILED " << failure << "\n";
  std::cout << "faults: " << figures.points << " points, " << figures.crashes << " crashes, "
            << figures.leaks << " leaks, " << figures.wrong << " wrong outcomes" << std::endl;
  return figures.crashes + figures.leaks + figures.wrong == 0 ? 0 : 1;
}
