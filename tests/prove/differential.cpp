#include "differential.h"

#include <cctype>
#include <set>

#include "drvsetup.h"
#include "guard.h"
#include "harness.h"
#include "platform_family.h"
#include "run.h"
#include "sim.h"
#include "text.h"
#include "wine_prefix.h"

namespace prove {

namespace {

const DWORD kHostPid = 4242;

// The registry the installer reads or writes, HKCU's engine settings apart
// (each scenario builds those itself, in its own order).
const char* const kMachineKeys[] = {
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Aspi32",
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\VXD",
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\ZOLTAVEX",
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Class",
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{6B1F0A52-9D37-4C8E-A2F4-5E70C3D91B68}",
    "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\REALTIME",
    "HKLM\\Enum",
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "HKLM\\Software\\Miravelt"};
const char kUserKey[] = "HKCU\\Software\\Miravelt";
const char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root";

// Folders below the windows folder that one machine may have and the other
// not; the simulated machine takes Wine's answer.
const char* const kAlignedFolders[] = {"C:\\windows\\system",
                                       "C:\\windows\\system\\iosubsys",
                                       "C:\\windows\\system32\\drivers",
                                       "C:\\windows\\system32\\iosubsys",
                                       "C:\\windows\\system3232",
                                       "C:\\windows\\system3232\\drivers",
                                       "C:\\windows\\inf"};

const char kSystemIniNt[] =
    "[386Enh]\r\n"
    "woafont=dosapp.fon\r\n"
    "\r\n"
    "[drivers]\r\n"
    "wave=mmdrv.dll\r\n";

using text::Upper;

Watch WatchFor(const Scenario& scenario) {
  Watch watch;
  watch.folders = {kWindows, kSource, kAppFolder};
  watch.iniFiles = {std::string(kWindows) + "\\system.ini",
                    std::string(kWindows) + "\\wininit.ini"};
  for (const char* key : kMachineKeys) watch.keys.push_back(key);
  watch.keys.push_back(kUserKey);
  if (!winehost::NineXVersion(scenario.version)) watch.securityKey = kEnumRoot;
  return watch;
}

// ---------------------------------------------------------------- Wine side

struct Side {
  std::vector<int> exitCodes;
  std::vector<std::vector<NormalCall>> traces;
  State before;
  std::vector<State> afterRuns;
  State afterRestart;
};

bool RunWine(const Scenario& s, winehost::WinePrefix& wine, const Watch& watch, Side* side,
             std::string* error) {
  side->before = WineState(wine, watch);
  if (!s.held.empty() && !wine.Hold(s.held)) {
    *error = "could not hold " + s.held;
    return false;
  }
  for (int run = 0; run < s.runs; ++run) {
    winehost::RelayTrace trace;
    const winehost::RunResult r = wine.RunCommandLineTraced(CommandLine(s), kInstaller, &trace);
    if (r.timedOut || !trace.found) {
      *error = "the installer did not run under Wine" + std::string(r.timedOut ? " (stopped)" : "");
      return false;
    }
    side->exitCodes.push_back(r.exitCode);
    side->traces.push_back(NormalizeRelayTrace(trace));
    side->afterRuns.push_back(WineState(wine, watch));
  }
  wine.Release();
  if (!wine.Restart()) {
    *error = "the Wine restart failed";
    return false;
  }
  side->afterRestart = WineState(wine, watch);
  return true;
}

// ------------------------------------------------------------------ the sim

void BuildSim(const Scenario& s, winehost::WinePrefix& wine, const Watch& watch) {
  sim::Windows version = sim::Windows::WinXP;
  sim::WindowsFromName(s.version, &version);
  sim::Reset(version);
  sim::SetWindowsFolder(kWindows);
  sim::SetSystemFolder(kSystem);
  sim::Remove("C:\\SETUP");
  sim::PutFile(kInstaller, "MZ drvsetup");
  sim::SetModulePath(kInstaller);
  // Wine maps its drive Z: onto the host's root.
  sim::SetDrive('Z', DRIVE_FIXED);

  // The folders and the machine's registry as Wine has them.
  std::set<std::string> wineFolders;
  for (const winehost::FileEntry& e : wine.Files(kWindows)) {
    if (e.folder) wineFolders.insert(Upper(std::string(kWindows) + "\\" + e.path));
  }
  for (const char* folder : kAlignedFolders) {
    if (wineFolders.count(Upper(folder))) {
      sim::MakeFolder(folder);
    } else {
      sim::Remove(folder);
    }
  }
  std::vector<std::string> machineKeys(std::begin(kMachineKeys), std::end(kMachineKeys));
  PutSimRegistry(WineRegistry(wine, machineKeys), machineKeys);
  sim::RegRemoveKey(HKEY_CURRENT_USER, "Software\\Miravelt");
  (void)watch;

  for (const DriveSpec& d : s.drives) sim::SetDrive(d.letter, d.simType);
  for (const std::string& folder : s.folders) sim::MakeFolder(folder);
  for (const auto& file : s.files) sim::PutFile(file.first, file.second);
  for (const RegPreset& r : s.registry) {
    HKEY root = r.key.compare(0, 4, "HKCU") == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const std::string path = r.key.substr(r.key.find('\\') + 1);
    if (r.keyOnly) {
      sim::RegPutKey(root, path);
    } else {
      sim::RegPut(root, path, r.name, r.type, r.data);
    }
  }
  if (!s.hostPath.empty()) {
    sim::ProcessSpec host;
    host.pid = kHostPid;
    host.imagePath = s.hostPath;
    sim::AddProcess(host);
  }
}

void RunSim(const Scenario& s, const Watch& watch, Side* side) {
  side->before = SimState(watch);
  if (!s.held.empty()) sim::SetLocked(s.held, true);
  for (int run = 0; run < s.runs; ++run) {
    sim::SetCommandLine(CommandLine(s));
    sim::ClearTrace();
    PlatformFamily = 0;
    HostApplicationFound = false;
    const sim::RunResult r = sim::Run(RunSetup);
    side->exitCodes.push_back(r.exited ? static_cast<int>(r.exitCode) : -1);
    side->traces.push_back(NormalizeSimTrace(sim::Trace()));
    side->afterRuns.push_back(SimState(watch));
  }
  if (!s.held.empty()) sim::SetLocked(s.held, false);
  sim::Restart();
  side->afterRestart = SimState(watch);
}

void Compare(const Scenario& s, const Side& simSide, const Side& wineSide, ScenarioReport* report) {
  auto add = [&](const std::string& phase, const std::string& text) {
    report->differences.push_back(s.name + " " + phase + " " + text);
  };
  std::set<std::string> changed;
  auto count = [&](const std::map<std::string, std::string>& changes) {
    for (const auto& c : changes) changed.insert(c.first);
  };
  for (int run = 0; run < s.runs; ++run) {
    const std::string phase = "run" + std::to_string(run + 1);
    report->calls += simSide.traces[run].size();
    count(Changes(simSide.before, simSide.afterRuns[run]));
    count(Changes(wineSide.before, wineSide.afterRuns[run]));
    if (simSide.exitCodes[run] != wineSide.exitCodes[run]) {
      add(phase, "exit: sim " + std::to_string(simSide.exitCodes[run]) + "; wine " +
                     std::to_string(wineSide.exitCodes[run]));
    }
    for (const std::string& line : CompareTraces(simSide.traces[run], wineSide.traces[run]))
      add(phase, "trace " + line);
    for (const std::string& line :
         CompareChanges(Changes(simSide.before, simSide.afterRuns[run]),
                        Changes(wineSide.before, wineSide.afterRuns[run])))
      add(phase, "state " + line);
  }
  count(Changes(simSide.before, simSide.afterRestart));
  count(Changes(wineSide.before, wineSide.afterRestart));
  report->changes = changed.size();
  for (const std::string& line : CompareChanges(Changes(simSide.before, simSide.afterRestart),
                                                Changes(wineSide.before, wineSide.afterRestart)))
    add("restart", "state " + line);
  for (const auto& trace : simSide.traces) {
    for (const NormalCall& c : trace) report->simTrace.push_back(c.Text());
    report->simTrace.push_back("--");
  }
  for (const auto& trace : wineSide.traces) {
    for (const NormalCall& c : trace) report->wineTrace.push_back(c.Text());
    report->wineTrace.push_back("--");
  }
}

// The two builds under their Wines: exit codes and every change must agree.
void CompareBuilds(const Scenario& s, const Side& side64, const Side& side32,
                   ScenarioReport* report) {
  auto add = [&](const std::string& phase, const std::string& text) {
    report->buildDifferences.push_back(s.name + " " + phase + " " + text);
  };
  for (int run = 0; run < s.runs; ++run) {
    const std::string phase = "run" + std::to_string(run + 1);
    if (side64.exitCodes[run] != side32.exitCodes[run])
      add(phase, "exit: 64-bit " + std::to_string(side64.exitCodes[run]) + "; 32-bit " +
                     std::to_string(side32.exitCodes[run]));
    for (const std::string& line :
         CompareChanges(Changes(side64.before, side64.afterRuns[run]),
                        Changes(side32.before, side32.afterRuns[run]), "64-bit", "32-bit"))
      add(phase, "state " + line);
  }
  for (const std::string& line :
       CompareChanges(Changes(side64.before, side64.afterRestart),
                      Changes(side32.before, side32.afterRestart), "64-bit", "32-bit"))
    add("restart", "state " + line);
}

void AddEngineTree(Scenario* s) {
  const std::string engine = "HKCU\\Software\\Miravelt\\Engine";
  // Made in an order that is not the sorted one.
  for (const char* branch : {"Zeta", "Alpha", "Midi", "audio"}) {
    const std::string key = engine + "\\" + branch;
    s->registry.push_back({key, "Name", winehost::kRegSz, winehost::SzBytes(branch), false});
    s->registry.push_back(
        {key + "\\Level1\\Level2", "Depth", winehost::kRegDword, winehost::DwordBytes(2), false});
  }
  s->registry.push_back({engine + "\\Alpha\\Level1\\Level2\\Level3\\Level4", "", 0, "", true});
  s->registry.push_back({engine + "\\Alpha\\Beta", "", 0, "", true});
  s->registry.push_back({engine + "\\Alpha\\Gamma", "", 0, "", true});
  s->registry.push_back({engine, "Latency", winehost::kRegDword, winehost::DwordBytes(256), false});
  s->registry.push_back(
      {engine, "Recent", winehost::kRegMultiSz, std::string("song.orv\0\0", 10), false});
}

}  // namespace

Scenario BaseScenario(const std::string& name, const std::string& version, bool packageFiles) {
  Scenario s;
  s.name = name;
  s.version = version;
  s.files.emplace_back(std::string(kWindows) + "\\system.ini",
                       winehost::NineXVersion(version) ? kSystemIni9x : kSystemIniNt);
  if (packageFiles) {
    for (const std::string& file : PackageFiles())
      s.files.emplace_back(std::string(kSource) + "\\" + file, file);
  }
  return s;
}

void AddTargetFolders(Scenario* s) {
  if (winehost::NineXVersion(s->version)) {
    s->folders.push_back(std::string(kSystem) + "\\IOSUBSYS");
    s->folders.push_back(std::string(kWindows) + "\\system3232\\Drivers");
  } else {
    s->folders.push_back(std::string(kWindows) + "\\SYSTEM");
  }
}

void AddFinalPhase(Scenario* s) {
  s->drives.push_back({'D', "hd", DRIVE_FIXED});
  s->drives.push_back({'E', "cdrom", DRIVE_CDROM});
  s->drives.push_back({'F', "cdrom", DRIVE_CDROM});
  s->files.emplace_back("D:\\OEM\\ORVOOEM.DLL", "oem on fixed D");
  s->files.emplace_back("E:\\DATA\\DOC\\Manual-en.pdf", "en on E");
  s->files.emplace_back("F:\\OEM\\ORVOOEM.DLL", "oem on F");
  s->files.emplace_back("F:\\DATA\\DOC\\Manual-de.pdf", "de on F");
  s->files.emplace_back("F:\\DATA\\DOC\\Manual-en.pdf", "en on F");
  s->files.emplace_back(std::string(kAppFolder) + "\\HISTORY.TXT", "release notes");
  s->files.emplace_back(std::string(kAppFolder) + "\\ORVOOEM.DLL", "older oem library");
  s->arguments = "\"" + std::string(kAppFolder) + "\\\" Manual";
}

bool BuildWinePrefix(const Scenario& s, winehost::WinePrefix& wine, std::string* error) {
  if (!wine.Ready()) {
    *error = "no Wine prefix: " + wine.Error();
    return false;
  }
  if (!wine.SetVersion(s.version) || !wine.PlaceInstaller()) {
    *error = "could not set the version or place the installer";
    return false;
  }
  // Wine ships an ASPI library (the 32-bit Wine also the 16-bit one);
  // neither machine has one here.
  wine.Remove(std::string(kSystem) + "\\wnaspi32.dll");
  wine.Remove(std::string(kSystem) + "\\winaspi.dll");
  for (const DriveSpec& d : s.drives) {
    if (wine.AddDrive(d.letter, d.wineType).empty()) {
      *error = std::string("could not add drive ") + d.letter;
      return false;
    }
  }
  for (const std::string& folder : s.folders) wine.MakeFolder(folder);
  for (const auto& file : s.files) {
    if (!wine.PutFile(file.first, file.second)) {
      *error = "could not place " + file.first;
      return false;
    }
  }
  for (const RegPreset& r : s.registry) {
    const bool ok =
        r.keyOnly ? wine.PresetKey(r.key) : wine.PresetValue(r.key, r.name, r.type, r.data);
    if (!ok) {
      *error = "could not preset " + r.key;
      return false;
    }
  }
  if (!s.hostPath.empty() && !wine.PlaceProgram("standin.exe", s.hostPath)) {
    *error = "could not place the host application";
    return false;
  }
  if (!wine.StartSession()) {
    *error = "the Wine session did not start";
    return false;
  }
  if (!s.hostPath.empty() && !wine.StartBackground(s.hostPath)) {
    *error = "the host application did not start";
    return false;
  }
  return true;
}

std::string CommandLine(const Scenario& scenario) {
  std::string line = "\"" + std::string(kInstaller) + "\"";
  if (!scenario.arguments.empty()) line += " " + scenario.arguments;
  return line;
}

std::vector<Scenario> Scenarios(bool quick) {
  std::vector<Scenario> out;
  for (const char* version : {"win98", "winxp"}) {
    const std::string family = winehost::NineXVersion(version) ? "9x" : "nt";

    Scenario full = BaseScenario("full-" + family, version, true);
    AddTargetFolders(&full);
    if (family == "9x") {
      full.files.emplace_back(std::string(kSystem) + "\\ASPIENUM.VXD", "older aspienum");
    } else {
      full.files.emplace_back(std::string(kWindows) + "\\SYSTEM\\WOWPOST.EXE", "older wowpost");
    }
    out.push_back(full);

    if (family == "9x") {
      Scenario refused = BaseScenario("wininit-refused-9x", version, true);
      AddTargetFolders(&refused);
      refused.folders.push_back(std::string(kWindows) + "\\Wininit.ini");
      out.push_back(refused);
    }
    if (quick) continue;

    out.push_back(BaseScenario("empty-source-" + family, version, false));

    Scenario failures = BaseScenario("copy-failures-" + family, version, true);
    // Folders where files should go, a staging name taken by a folder, and
    // a target held open by another program.
    failures.folders.push_back(std::string(kWindows) + "\\inf\\DQ_USB.INF");
    failures.folders.push_back(std::string(kSystem) + "\\ZOLTAVEX.DL");
    failures.files.emplace_back(std::string(kSystem) + "\\FTD2XX.DLL", "older d2xx");
    failures.held = std::string(kSystem) + "\\FTD2XX.DLL";
    // The 32-bit Wine's prefix has the windows folder's SYSTEM folder (its
    // 16-bit libraries), the 64-bit one has not: both get it, so that the
    // two builds run on the same machine.
    if (family == "nt") failures.folders.push_back(std::string(kWindows) + "\\SYSTEM");
    out.push_back(failures);

    Scenario guard = BaseScenario("guard-" + family, version, true);
    guard.hostPath = std::string(kAppFolder) + "\\ORVO.EXE";
    out.push_back(guard);

    Scenario tree = BaseScenario("engine-tree-" + family, version, false);
    AddEngineTree(&tree);
    out.push_back(tree);

    Scenario cdrom = BaseScenario("final-phase-" + family, version, false);
    AddFinalPhase(&cdrom);
    out.push_back(cdrom);

    Scenario twice = BaseScenario("second-run-" + family, version, true);
    AddTargetFolders(&twice);
    twice.runs = 2;
    out.push_back(twice);
  }
  return out;
}

ScenarioReport RunScenario(const Scenario& scenario, winehost::WineArch arch) {
  ScenarioReport report;
  report.name = scenario.name;
  const Watch watch = WatchFor(scenario);

  winehost::WinePrefix wine(arch);
  Side wineSide, simSide;
  // The simulated machine takes what Wine has where the scenario says
  // nothing, read before the installer runs there.
  if (BuildWinePrefix(scenario, wine, &report.error)) {
    BuildSim(scenario, wine, watch);
    report.ran = RunWine(scenario, wine, watch, &wineSide, &report.error);
  }
  // What the Wine host could not read makes the comparison void.
  for (const std::string& problem : wine.TakeProblems()) {
    report.error += (report.error.empty() ? "" : "; ") + problem;
    report.ran = false;
  }
  if (!report.ran) return report;
  RunSim(scenario, watch, &simSide);
  Compare(scenario, simSide, wineSide, &report);
  if (arch == winehost::WineArch::k32) {
    winehost::WinePrefix wine64(winehost::WineArch::k64);
    Side side64;
    std::string error;
    const bool ran = BuildWinePrefix(scenario, wine64, &error) &&
                     RunWine(scenario, wine64, watch, &side64, &error);
    for (const std::string& problem : wine64.TakeProblems())
      error += (error.empty() ? "" : "; ") + problem;
    if (!ran || !error.empty()) {
      report.ran = false;
      report.error = "the 64-bit run for the comparison failed: " + error;
      return report;
    }
    CompareBuilds(scenario, side64, wineSide, &report);
  }
  return report;
}

}  // namespace prove
