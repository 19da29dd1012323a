#include "versions.h"

#include <algorithm>

#include "differential.h"
#include "wine_prefix.h"

namespace prove {

namespace {

using winehost::NineXVersion;
using winehost::RelayTrace;
using winehost::WinePrefix;

const char kGuardMessage[] = "Please close Orvo-Studio, restart your machine and run setup again !";

const char kSystemIni[] =
    "[386Enh]\r\n"
    "ebios=*ebios\r\n"
    "device=zoltavex.vxd\r\n"
    "keyboard=*vkd\r\n"
    "\r\n"
    "[vcache]\r\n"
    "MinFileCache=512\r\n";

// NT 3.51 walks the processes with a snapshot, as the 9x family does.
bool TakesSnapshotWalk(const std::string& v) { return NineXVersion(v) || v == "nt351"; }

class Checker {
 public:
  explicit Checker(VersionReport* report) : report_(report) {}
  void That(bool ok, const std::string& what) {
    ++report_->checks;
    if (!ok) report_->failures.push_back(what);
  }
  void Equal(const std::string& actual, const std::string& expected, const std::string& what) {
    That(actual == expected, what + ": \"" + actual + "\", expected \"" + expected + "\"");
  }

 private:
  VersionReport* report_;
};

std::string CommandLine() {
  return "\"" + std::string(kInstaller) + "\" \"" + kAppFolder + "\" Manual";
}

void CheckWalk(Checker& check, const RelayTrace& trace, const std::string& version,
               const std::string& run) {
  const bool snapshot = trace.Count("CreateToolhelp32Snapshot") > 0;
  const bool identifiers = trace.Count("EnumProcesses") + trace.Count("K32EnumProcesses") > 0;
  if (TakesSnapshotWalk(version)) {
    check.That(snapshot && !identifiers, run + ": the process walk is not the snapshot walk");
  } else {
    check.That(identifiers && !snapshot, run + ": the process walk is not the identifier walk");
  }
}

void CheckGuard(Checker& check, WinePrefix& wine, const std::string& version) {
  RelayTrace trace;
  const winehost::RunResult r = wine.RunCommandLineTraced(CommandLine(), kInstaller, &trace);
  check.That(!r.timedOut && trace.found, "guard: the installer did not run");
  if (r.timedOut || !trace.found) return;
  check.That(r.exitCode == 0, "guard: exit code " + std::to_string(r.exitCode));
  const auto boxes = winehost::MessageBoxes(trace);
  check.That(boxes.size() == 1 && boxes[0].text == kGuardMessage &&
                 boxes[0].caption == "Miravelt Installation" && boxes[0].type == 0,
             "guard: not exactly the guard's message");
  for (const char* touching : {"CopyFileA", "MoveFileExA", "DeleteFileA", "RegCreateKeyExA",
                               "RegDeleteKeyA", "WritePrivateProfileStringA"})
    check.That(trace.Count(touching) == 0, std::string("guard: ") + touching + " was called");
  CheckWalk(check, trace, version, "guard");
  check.That(wine.Exists(std::string(kAppFolder) + "\\HISTORY.TXT"),
             "guard: HISTORY.TXT was removed");
}

std::string ValueBytes(const winehost::RegTree& tree, const std::string& key,
                       const std::string& name, uint32_t* type = nullptr) {
  const winehost::RegValue* v = tree.Value(key, name);
  if (type) *type = v ? v->type : 0;
  return v ? v->data : std::string("(missing)");
}

void CheckInstall(Checker& check, WinePrefix& wine, const std::string& version) {
  const std::string enumRoot = "MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\";
  const winehost::KeySecurity securityBefore = wine.KeySecurityOf(enumRoot);

  RelayTrace trace;
  const winehost::RunResult r = wine.RunCommandLineTraced(CommandLine(), kInstaller, &trace);
  check.That(!r.timedOut && trace.found, "install: the installer did not run");
  if (r.timedOut || !trace.found) return;
  check.That(r.exitCode == 0, "install: exit code " + std::to_string(r.exitCode));
  for (const auto& box : winehost::MessageBoxes(trace))
    check.That(false, "install: message box \"" + box.text + "\"");
  CheckWalk(check, trace, version, "install");

  const std::string sys = std::string(kSystem) + "\\";
  const std::string inf = std::string(kWindows) + "\\inf\\";
  // Files placed before the restart.
  std::vector<std::string> placed = {
      inf + "ZOLTAVEX.INF", inf + "KOVA51USB.INF", inf + "DQ_USB.INF", sys + "FTD2XX.DLL",
      sys + "FTD2XXUN.EXE", sys + "ZOLTAVEX.DL",   sys + "ZOLTAVEX.EX"};
  if (NineXVersion(version)) {
    placed.push_back(sys + "ZOLTAVEX.VXD");
    placed.push_back(sys + "ZOLTAV16.DLL");
    placed.push_back(std::string(kWindows) + "\\system3232\\Drivers\\FTD2XX.SYS");
  } else {
    placed.push_back(sys + "DRIVERS\\ZOLTAVEX.SYS");
    placed.push_back(sys + "Drivers\\FTD2XX.SYS");
  }
  for (const std::string& path : placed) check.That(wine.Exists(path), "install: no " + path);

  // The final phase.
  const std::string app = std::string(kAppFolder) + "\\";
  check.That(!wine.Exists(app + "HISTORY.TXT"), "final phase: HISTORY.TXT is still there");
  check.Equal(wine.FileText(app + "ORVOOEM.DLL"), "oem on F", "final phase: ORVOOEM.DLL");
  check.Equal(wine.FileText(app + "Manual-de.pdf"), "de on F", "final phase: Manual-de.pdf");
  check.Equal(wine.FileText(app + "Manual-en.pdf"), "en on E", "final phase: Manual-en.pdf");

  const std::string miravelt = "HKLM\\Software\\Miravelt\\ZOLTAVEX";
  const winehost::RegTree engine = wine.DumpKey(miravelt);
  check.Equal(text::HexBytes(ValueBytes(engine, "", "Enabled")), "01000000", "install: Enabled");
  check.Equal(text::HexBytes(ValueBytes(engine, "", "Config")), "3a7c51e9b20611d48f2d024b7e19c358",
              "install: Config");
  const winehost::RegTree run =
      wine.DumpKey("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  check.Equal(ValueBytes(run, "", "Realtime Audio Engine"), winehost::SzBytes("zoltavex.exe"),
              "install: the Run value");

  if (NineXVersion(version)) {
    const std::string ini = wine.FileText(std::string(kWindows) + "\\system.ini");
    std::string min, max;
    winehost::IniValue(ini, "VCache", "MinFileCache", &min);
    winehost::IniValue(ini, "VCache", "MaxFileCache", &max);
    check.That(min == "20480" && max == "20480", "install: the file cache limits");
    for (const std::string& line : winehost::IniSectionLines(ini, "386Enh"))
      check.That(line != "device=zoltavex.vxd", "install: the device line is still active");
    const std::string wininit = wine.FileText(std::string(kWindows) + "\\wininit.ini");
    const auto renames = winehost::IniSectionLines(wininit, "RENAME");
    check.That(renames.size() == 10,
               "install: " + std::to_string(renames.size()) + " Wininit.ini renames, expected 10");
    const winehost::RegTree device =
        wine.DumpKey("HKLM\\System\\CurrentControlSet\\Services\\Class\\REALTIME\\ZOLT");
    check.Equal(ValueBytes(device, "", "DeviceDriver"), winehost::SzBytes("ZOLTAVEX.VXD"),
                "install: DeviceDriver");
    const winehost::RegTree aspi =
        wine.DumpKey("HKLM\\SYSTEM\\CurrentControlSet\\Services\\VXD\\ASPIEnum");
    check.Equal(ValueBytes(aspi, "", "StaticVxD"), winehost::SzBytes("ASPIENUM.VXD"),
                "install: StaticVxD");
  } else {
    const auto pending = wine.PendingRenames();
    check.That(pending.size() == 10,
               "install: " + std::to_string(pending.size()) + " pending renames, expected 10");
    const winehost::RegTree service =
        wine.DumpKey("HKLM\\SYSTEM\\CurrentControlSet\\Services\\ZOLTAVEX");
    uint32_t type = 0;
    const std::string image = ValueBytes(service, "", "ImagePath", &type);
    check.That(type == winehost::kRegExpandSz && image.size() == 30,
               "install: ImagePath is not a 30-byte REG_EXPAND_SZ");
    const winehost::RegTree device =
        wine.DumpKey("HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\REALTIME\\0000");
    check.Equal(ValueBytes(device, "", "Service"), winehost::SzBytes("ZOLTAVEX"),
                "install: the device's Service");
    check.That(device.HasKey("Device Parameters") && device.HasKey("LogConf"),
               "install: the device's subkeys");
    const winehost::KeySecurity securityAfter = wine.KeySecurityOf(enumRoot);
    check.That(securityBefore.ok && securityAfter.ok && securityBefore.sddl == securityAfter.sddl,
               "install: the device tree's access list was not given back: " + securityBefore.sddl +
                   " -> " + securityAfter.sddl);
    const winehost::RegTree aspi =
        wine.DumpKey("HKLM\\SYSTEM\\CurrentControlSet\\Services\\Aspi32");
    check.Equal(text::HexBytes(ValueBytes(aspi, "", "Start")), "02000000",
                "install: Aspi32 Start");
  }
}

void CheckRestart(Checker& check, WinePrefix& wine, const std::string& version) {
  check.That(wine.Restart(), "restart: wineboot -r failed");
  const std::string sys = std::string(kSystem) + "\\";
  check.Equal(wine.FileText(sys + "ZOLTAVEX.DLL"), "ZOLTAVEX.DLL", "restart: ZOLTAVEX.DLL");
  check.Equal(wine.FileText(sys + "ZOLTAVEX.EXE"), "ZOLTAVEX.EXE", "restart: ZOLTAVEX.EXE");
  check.That(!wine.Exists(sys + "ZOLTAVEX.DL") && !wine.Exists(sys + "ZOLTAVEX.EX"),
             "restart: a staging name is left");
  if (NineXVersion(version)) {
    check.Equal(wine.FileText(sys + "WNASPI32.DLL"), "WNASPI32.9x", "restart: WNASPI32.DLL");
    check.Equal(wine.FileText(sys + "IOSUBSYS\\APIX.VXD"), "APIX.9x", "restart: APIX.VXD");
    const std::string wininit = wine.FileText(std::string(kWindows) + "\\wininit.ini");
    check.That(winehost::IniSectionLines(wininit, "RENAME").empty(),
               "restart: Wininit.ini renames are left");
  } else {
    check.Equal(wine.FileText(sys + "Drivers\\ASPI32.SYS"), "ASPI32.NT", "restart: ASPI32.SYS");
    check.Equal(wine.FileText(std::string(kWindows) + "\\SYSTEM\\WOWPOST.EXE"), "WOWPOST.NT",
                "restart: WOWPOST.EXE");
    check.That(wine.PendingRenames().empty(), "restart: pending renames are left");
  }
}

}  // namespace

std::vector<std::string> VersionNames(bool quick) {
  if (quick) return {"win98", "winxp"};
  return winehost::WindowsVersions();
}

VersionReport RunVersion(const std::string& version) {
  VersionReport report;
  Checker check(&report);
  WinePrefix wine;
  if (!wine.Ready()) {
    check.That(false, "no Wine prefix: " + wine.Error());
    return report;
  }
  // A full install's scene with the host application running, and a
  // SYSTEM.INI of its own.
  Scenario scene = BaseScenario("versions-" + version, version, true);
  scene.files.front().second = kSystemIni;
  AddTargetFolders(&scene);
  AddFinalPhase(&scene);
  scene.hostPath = std::string(kAppFolder) + "\\ORVO.EXE";
  std::string error;
  const bool ok = BuildWinePrefix(scene, wine, &error);
  check.That(ok, "the prefix could not be prepared: " + error);
  if (!ok) return report;

  CheckGuard(check, wine, version);
  // A new session without the host application.
  wine.EndSession();
  check.That(wine.Remove(std::string(kAppFolder) + "\\ORVO.EXE"), "the host application stayed");
  check.That(wine.StartSession(), "the second session did not start");
  CheckInstall(check, wine, version);
  CheckRestart(check, wine, version);
  for (const std::string& problem : wine.TakeProblems()) check.That(false, "Wine host: " + problem);
  return report;
}

}  // namespace prove
