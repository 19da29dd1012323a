// The fault campaign: every platform call of a run, failed one at a time.
//
// A scenario is run once without faults to list its calls; then once per
// call index k with call k failing the way it fails on Windows (the
// simulator's fault plan). Each run must end the process with exit code 0,
// or 1 exactly where call k is an INI write whose refusal ends a 9x run,
// release everything it obtained, show no box but the installer's own, and
// not crash. Runs can be isolated in child processes, so that a crash or a
// sanitizer report is counted instead of ending the campaign.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "outcome.h"
#include "sim.h"

namespace prove {

struct FaultScenario {
  std::string name;  // "rich", "guard"
  sim::Windows version = sim::Windows::WinXP;
  std::function<void()> build;  // builds the machine (from sim::Reset on)
  std::string arguments;        // the installer's command-line arguments
};

// The machines of the campaign, for each of the given versions: "rich" (every
// package file of both families, an application folder and a document name,
// CD-ROM drives, a deep engine settings tree, device lines in SYSTEM.INI, a
// read-only target, files to back up) and "guard" (the same machine with the
// host application running).
std::vector<FaultScenario> FaultScenarios(const std::vector<sim::Windows>& versions);

// One fault point: the scenario run with call k (1-based) failing.
struct PointOutcome {
  enum Kind { kOk, kCrash, kLeak, kWrong } kind = kOk;
  std::string detail;
};

// Runs one point in this process. `baseline` is the fault-free trace of the
// scenario; it names the call that fails and what the run must then do.
PointOutcome RunPoint(const FaultScenario& scenario, size_t k,
                      const std::vector<sim::Call>& baseline);

// The same for a list of points, run one after the other in child
// processes: when a child crashes (a signal, a sanitizer report), the point
// it was running is counted as a crash and a new child goes on with the next
// one. A leak report at a child's exit is counted as one leak.
std::vector<PointOutcome> RunPointsIsolated(const FaultScenario& scenario,
                                            const std::vector<size_t>& points,
                                            const std::vector<sim::Call>& baseline);

struct CampaignFigures {
  size_t points = 0;
  size_t crashes = 0;
  size_t leaks = 0;
  size_t wrong = 0;
  std::vector<std::string> failures;  // one line per failed point
};

// Runs every failable call of every scenario. The fault-free run of each
// scenario is judged too (as a point that fails nothing) so that a scenario
// that goes wrong on its own is not taken for a baseline.
CampaignFigures RunCampaign(const std::vector<FaultScenario>& scenarios, bool isolate,
                            std::ostream* progress);

}  // namespace prove
