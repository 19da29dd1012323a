// Differential runs: one scenario, described once, built on the simulated
// machine and in a Wine prefix, and run on both; the installer's platform
// calls and every change the runs made (files, registry, INI files, pending
// renames, the access list of the device tree) are compared, after each run
// and after the restart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "machine_state.h"
#include "trace_compare.h"
#include "wine_prefix.h"

namespace prove {

// Where the installer and the scene of a run lie, on both machines.
inline constexpr char kWindows[] = "C:\\windows";
inline constexpr char kSystem[] = "C:\\windows\\system32";
inline constexpr char kSource[] = "C:\\setup";
inline constexpr char kInstaller[] = "C:\\setup\\drvsetup.exe";
inline constexpr char kRemover[] = "C:\\setup\\drvremove.exe";
inline constexpr char kAppFolder[] = "C:\\Program Files\\Orvo Studio";

struct DriveSpec {
  char letter = 'D';
  std::string wineType;  // "cdrom", "hd", ...
  unsigned simType = 0;  // DRIVE_*
};

struct RegPreset {
  std::string key;   // "HKCU\\Software\\..."
  std::string name;  // value name; unused for a bare key
  uint32_t type = 0;
  std::string data;
  bool keyOnly = false;
};

struct Scenario {
  std::string name;
  std::string version;                                     // Wine's name: "win98", "winxp", ...
  std::vector<std::pair<std::string, std::string>> files;  // Windows path -> contents
  std::vector<std::string> folders;                        // made on both machines
  std::vector<DriveSpec> drives;
  std::vector<RegPreset> registry;  // in this order
  std::string held;                 // a file held open without sharing while the installer runs
  std::string hostPath;             // where the host application runs from; "" when it does not run
  std::string arguments;            // after the installer's quoted path on the command line
  int runs = 1;                     // runs before the restart
  // A removal scenario: the installer runs once first (with the arguments;
  // neither its calls nor its changes are compared, other scenarios do
  // that), then the restart unless restartAfterInstall is false, then what
  // afterInstall sets, then the host application starts where hostPath
  // names it; the runs compared are the removal program's, without
  // arguments, with `held` held open during them.
  bool removal = false;
  bool installFirst = true;  // false: the removal on a machine never installed on
  bool restartAfterInstall = true;
  std::vector<RegPreset> afterInstall;  // values only
  // Another program's renames (from, to; an empty `to` deletes), queued
  // after the install behind its own: a session start carries out what a
  // prefix holds before it.
  std::vector<std::pair<std::string, std::string>> renamesAfterInstall;
};

// The scenarios of the differential runs; `quick` keeps a few.
std::vector<Scenario> Scenarios(bool quick);

// What the runs and the comparison produced.
struct ScenarioReport {
  std::string name;
  bool ran = false;                      // both machines were built and run
  std::string error;                     // why not
  std::vector<std::string> differences;  // "<scenario> <phase> ...", one per difference
  // With the 32-bit Wine: where the 32-bit drvsetup.exe left the machine
  // otherwise than the 64-bit one in the same scenario (exit codes, files,
  // registry, pending renames, INI files, after each run and the restart).
  // Never a known difference.
  std::vector<std::string> buildDifferences;
  std::vector<std::string> simTrace, wineTrace;  // normalised calls of each run, for a look
  size_t calls = 0;    // calls of the simulated machine's runs that were compared
  size_t changes = 0;  // items that a run or the restart changed on either machine
};

// The scenario on the simulated machine and under the Wine of `arch`; with
// win32 also under the 64-bit Wine, for the comparison of the two builds.
ScenarioReport RunScenario(const Scenario& scenario,
                           winehost::WineArch arch = winehost::DefaultArch());

// Pieces of scenarios, also used by the versions run.
// SYSTEM.INI of the version's family (the first file), and every package
// file in the source folder when packageFiles is set (contents: its name).
Scenario BaseScenario(const std::string& name, const std::string& version, bool packageFiles);
// The folders a full install of the version's family copies into.
void AddTargetFolders(Scenario* s);
// D: a fixed drive, E: and F: CD-ROM drives holding the OEM library and the
// manuals, an application folder with HISTORY.TXT and an older OEM library,
// and the arguments naming them.
void AddFinalPhase(Scenario* s);
// The scenario's machine in the prefix, up to a live session with the host
// application started where the scenario has one; false with the reason.
bool BuildWinePrefix(const Scenario& s, winehost::WinePrefix& wine, std::string* error);

// The command line both machines start the installer with.
std::string CommandLine(const Scenario& scenario);
// The command line of the runs compared: the installer's, or for a removal
// scenario the removal program's.
std::string RunCommandLine(const Scenario& scenario);

// The removal scenarios of both families; `quick` keeps one per family.
std::vector<Scenario> RemovalScenarios(bool quick);

}  // namespace prove
