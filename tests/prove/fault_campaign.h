// The fault campaign: every platform call of a run, failed one at a time,
// and every call of a run as the point where the power goes.
//
// A scenario is run once without faults to list its calls; then once per
// call index k with call k failing the way it fails on Windows (the
// simulator's fault plan). Each run must end the process with exit code 0,
// or 1 exactly where call k is an INI write whose refusal ends a 9x run,
// release everything it obtained, show no box but the installer's own, and
// not crash; and after the restart the machine must hold what it held
// before, save what the fault-free run changes (see outcome.h).
//
// Power loss: the process stops right before call k; then the machine is
// restarted and the installer run in full (or run in full at once), and
// restarted: the machine must end as a clean install and a restart leave it.
//
// Runs can be isolated in child processes, so that a crash or a sanitizer
// report is counted instead of ending the campaign.
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
  // The run under test is the removal program's (drvremove.exe, started
  // without arguments) on the machine that build leaves; arguments unused.
  bool removal = false;
};

// The machines of the campaign, for each of the given versions: "rich" (every
// package file of both families, an application folder and a document name,
// CD-ROM drives, a deep engine settings tree, device lines in SYSTEM.INI, a
// read-only target, files to back up, renames of another program pending),
// "guard" (the same machine with the host application running), and the
// varied machine of each version (VariedScenario).
std::vector<FaultScenario> FaultScenarios(const std::vector<sim::Windows>& versions);
// The rich machine as real ones vary: on the NT family "custom-list" (Enum\Root
// with a list of its own: protected where the version knows protection, a
// deny entry, an administrators entry; on 2000 also an entry that gives
// Everyone full access), on the 9x family "cd-fat" (installed from a CD
// with odd-second file times onto FAT, older ASPI files in place).
FaultScenario VariedScenario(sim::Windows version);
// The machines of the power-loss campaign: "rich" and the varied machine,
// and with withSample the preview's sample machine ("sample") too.
std::vector<FaultScenario> PowerLossScenarios(const std::vector<sim::Windows>& versions,
                                              bool withSample);

// ------------------------------------------------------------ the removal
// The removal's machines, one pair for each installer machine: "NAME-removal"
// (the installer run on it, then the restart) and, with withPending,
// "NAME-removal-pending" (no restart: the install's renames still wait).
// Each then holds what other programs left that the removal must not touch:
// a rename of theirs pending (and a delete on the 9x family), a Run value,
// files in the system and INF folders; the settled machine also a second
// product below Software\Miravelt, the pending one a Run value named like
// the engine's but pointing elsewhere. withGuard adds "NAME-removal-guard":
// the settled machine with the host application running.
std::vector<FaultScenario> RemovalScenarios(const std::vector<FaultScenario>& installs,
                                            bool withPending, bool withGuard);

// Whether an item of a machine's state (outcome.h) is on the removal's list:
// the driver, engine and INF files in the system, drivers and INF folders
// (staging names included), the device, class and service trees of both
// families, the engine key and Software\Miravelt itself, the grant's record
// of Enum\Root's access list below it, and the Run value while `before`
// holds the installer's data in it.
bool OnRemovalList(const std::string& item, const MachineState& before);

// Judges what a removal left after the restart: every item off the list is
// as the restart alone leaves the machine (`restartOnly`: the same machine
// restarted without the removal), and the access list of Enum\Root is the
// one before the removal; items on the list may be gone or stay. Returns the
// reasons, "" when the state is right.
std::string JudgeRemovalState(const MachineState& before, const MachineState& after,
                              const MachineState& restartOnly);

// One fault point: the scenario run with call k (1-based) failing.
struct PointOutcome {
  enum Kind { kOk, kCrash, kLeak, kWrong } kind = kOk;
  std::string detail;
};

// Runs one point in this process. `baseline` is the fault-free trace of the
// scenario; it names the call that fails and what the run must then do.
// With an allowance (what the fault-free run changes, outcome.h) the
// machine is restarted after the run and its state judged too.
PointOutcome RunPoint(const FaultScenario& scenario, size_t k,
                      const std::vector<sim::Call>& baseline, const Allowance* allowance = nullptr);

// The same for a list of points, run one after the other in child
// processes: when a child crashes (a signal, a sanitizer report), the point
// it was running is counted as a crash and a new child goes on with the next
// one. A leak report at a child's exit is counted as one leak.
std::vector<PointOutcome> RunPointsIsolated(const FaultScenario& scenario,
                                            const std::vector<size_t>& points,
                                            const std::vector<sim::Call>& baseline,
                                            const Allowance* allowance = nullptr);

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

// ---------------------------------------------------------------- power loss
// What happens between the cut and the comparison.
enum class AfterCut {
  kRestartThenRun,  // restart, full run, restart
  kRunThenRestart,  // full run, restart
};

// The settled machine as compared: sim::Dump without what the known list
// below calls harmless.
std::string SettledState();
// The known list: lines of a dump that may differ after a power loss, each
// with its reason.
struct HarmlessLine {
  const char* endsWith;  // the file path's end, upper case
  const char* reason;
};
const std::vector<HarmlessLine>& HarmlessLines();

// One cut point in this process: the scenario run with the process stopping
// right before call k (1-based), then `after`. `reference` is the
// SettledState of a clean install and a restart. kOk when the machine ends
// as the reference; kWrong with the differing lines otherwise; kLeak when
// the cut left something counted as held.
PointOutcome RunCutPoint(const FaultScenario& scenario, size_t k, AfterCut after,
                         const std::string& reference);

// Two cuts in a row: the run stops right before its call k, the next run
// (after a restart when restartBetween) right before its call k2 (or ends,
// when it is shorter), then `after` as above.
PointOutcome RunTwoCutPoint(const FaultScenario& scenario, size_t k, size_t k2, bool restartBetween,
                            AfterCut after, const std::string& reference);

struct PowerLossFigures {
  size_t points = 0;
  size_t converge = 0;
  size_t differences = 0;             // points that end elsewhere (or crash, or leak)
  std::vector<std::string> failures;  // one line per such point
};

// Every call of every scenario, as a cut point, in both variants; with
// twoCutPairs, that many pairs of cut points of each varied machine
// (VariedScenario) too, sampled with a fixed seed, into *twoCuts.
PowerLossFigures RunPowerLoss(const std::vector<FaultScenario>& scenarios, bool isolate,
                              std::ostream* progress, size_t twoCutPairs = 0,
                              PowerLossFigures* twoCuts = nullptr);

// ---------------------------------------------------------- persistent faults
// A full disk or registry hive: every call from k on fails. After the run
// and a restart nothing may be lost: no file the run did not replace on
// purpose, every value and INI line as before or as a clean run leaves it,
// the access list of Enum\Root as before or as a clean run leaves it (or, when
// a refused withdrawal left the grant, put back exactly by the next run).
// No crash, nothing held.
PointOutcome RunPersistentPoint(const FaultScenario& scenario, size_t k,
                                const std::vector<sim::Call>& baseline,
                                const std::vector<MachineState>& cleans);

// Every failable call of every scenario as the first of the failing ones.
CampaignFigures RunPersistentFaults(const std::vector<FaultScenario>& scenarios, bool isolate,
                                    std::ostream* progress);

}  // namespace prove
