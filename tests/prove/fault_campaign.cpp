#include "fault_campaign.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "harness.h"
#include "preview.h"
#include "sample.h"
#include "text.h"

namespace prove {

namespace {

const char kSource[] = "C:\\SETUP\\";
const char kAppFolder[] = "C:\\Program Files\\Orvo";
const char kDocument[] = "Manual";
const DWORD kHostPid = 4242;
const char kOtherFolder[] = "C:\\Program Files\\Other";
const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// LeakSanitizer's exit code when it finds memory nobody frees.
const int kLeakSanitizerExit = 23;

void BuildRich(sim::Windows version) {
  ResetMachine(version);
  const bool nineX = sim::Is9x(version);
  const std::string windows = sim::WindowsFolder();
  const std::string system = sim::SystemFolder();

  for (const std::string& name : PackageFiles()) sim::PutFile(std::string(kSource) + name, name);

  // The application folder with the release notes and an older OEM library.
  sim::PutFile(std::string(kAppFolder) + "\\HISTORY.TXT", "release notes");
  sim::PutFile(std::string(kAppFolder) + "\\ORVOOEM.DLL", "older oem library");

  // D: a CD-ROM drive without a disc, E: a fixed drive that holds the files,
  // F: a CD-ROM drive with the disc.
  sim::SetDrive('D', DRIVE_CDROM, false);
  sim::SetDrive('E', DRIVE_FIXED);
  sim::SetDrive('F', DRIVE_CDROM);
  sim::PutFile("E:\\OEM\\ORVOOEM.DLL", "oem on E");
  sim::PutFile("F:\\OEM\\ORVOOEM.DLL", "oem on F");
  sim::PutFile(std::string("F:\\DATA\\DOC\\") + kDocument + "-de.pdf", "de");
  sim::PutFile(std::string("F:\\DATA\\DOC\\") + kDocument + "-en.pdf", "en");

  // The engine settings of the running user, four levels below the standard
  // ones, with three subkeys at one level.
  const std::string engine = "Software\\Miravelt\\Engine";
  for (const char* branch : {"Zeta", "Alpha", "Mid"}) {
    const std::string key = engine + "\\Deep\\" + branch;
    sim::RegPutString(HKEY_CURRENT_USER, key, "Name", branch);
    sim::RegPutDword(HKEY_CURRENT_USER, key + "\\One\\Two", "Level", 2);
  }
  sim::RegPutKey(HKEY_CURRENT_USER, engine + "\\Deep\\Alpha\\One\\Two\\Three\\Four");

  if (nineX) sim::PutIni(windows + "\\SYSTEM.INI", kSystemIni9x);

  // A read-only target left by an earlier install, and files that the ASPI
  // layer moves to their backup names.
  sim::PutFile(windows + "\\INF\\DQ_USB.INF", "older inf",
               FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  if (nineX) {
    sim::PutFile(system + "\\ASPIENUM.VXD", "older aspienum");
  } else {
    sim::PutFile(windows + "\\SYSTEM\\WOWPOST.EXE", "older wowpost");
  }

  // Another program's update, waiting for the restart.
  sim::PutFile(std::string(kOtherFolder) + "\\UPDATE.DLL", "other program, old");
  sim::PutFile(std::string(kOtherFolder) + "\\UPDATE.DL_", "other program, new");
  const std::string from = std::string(kOtherFolder) + "\\UPDATE.DL_";
  const std::string to = std::string(kOtherFolder) + "\\UPDATE.DLL";
  if (nineX) {
    sim::PutIni(windows + "\\Wininit.ini", "[rename]\r\n" + to + "=" + from + "\r\n");
  } else {
    sim::RegPut(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", REG_MULTI_SZ,
                "\\??\\" + from + std::string(1, '\0') + "!\\??\\" + to + std::string(2, '\0'));
  }
}

const char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root";
const char kDeniedUser[] = "S-1-5-21-1801674531-1482476501-725345543-1010";

// The rich machine whose Enum\Root has a list of its own, as an
// administrator may have set it: a deny entry for one user, the system and
// the administrators all, everyone read; protected from Windows 2000 on (NT
// 4 and 3.51 know no protection). On 2000 also the power users and an entry
// that gives Everyone full access, in the form 2000 stores it (the run
// removes that one).
void BuildCustomList(sim::Windows version) {
  BuildRich(version);
  const BYTE ci = CONTAINER_INHERIT_ACE;
  sim::KeySecurity security = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
  security.isProtected = version != sim::Windows::NT40 && version != sim::Windows::NT351;
  security.dacl = {{ACCESS_DENIED_ACE_TYPE, ci, KEY_READ, kDeniedUser},
                   {ACCESS_ALLOWED_ACE_TYPE, ci, KEY_ALL_ACCESS, "S-1-5-18"},
                   {ACCESS_ALLOWED_ACE_TYPE, ci, KEY_ALL_ACCESS, "S-1-5-32-544"},
                   {ACCESS_ALLOWED_ACE_TYPE, ci, KEY_READ, "S-1-1-0"}};
  if (version == sim::Windows::Win2k) {
    security.dacl.push_back({ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ | KEY_SET_VALUE, "S-1-5-32-547"});
    security.dacl.push_back({ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, "S-1-1-0"});
    security.dacl.push_back({ACCESS_ALLOWED_ACE_TYPE,
                             OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE,
                             GENERIC_ALL, "S-1-1-0"});
  }
  sim::SetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot, security);
}

// The rich 9x machine installed from a CD: the package files on G: with
// odd-second times (a CD keeps times to the second, the FAT disk does not),
// and older ASPI files at three of the four final names (not the one that
// marks an installed layer).
void BuildCdFat(sim::Windows version) {
  BuildRich(version);
  const std::string system = sim::SystemFolder();
  sim::SetDrive('G', DRIVE_CDROM);
  uint64_t time = sim::FileTimeOf(2003, 3, 14, 15, 9, 27);
  for (const std::string& name : PackageFiles()) {
    sim::PutFile("G:\\SETUP\\" + name, name, FILE_ATTRIBUTE_ARCHIVE, time);
    time += 2 * 10000000ull + 3;  // odd seconds and a fraction, each file its own
  }
  sim::SetModulePath("G:\\SETUP\\DRVSETUP.EXE");
  sim::PutFile(system + "\\WINASPI.DLL", "older winaspi");
  sim::PutFile(system + "\\IOSUBSYS\\APIX.VXD", "older apix");
}

void BuildSample(sim::Windows version) {
  std::string error;
  preview::BuildMachine(preview::SampleScenario(version), &error);
}

void BuildGuard(sim::Windows version) {
  BuildRich(version);
  sim::ProcessSpec host;
  host.pid = kHostPid;
  host.imagePath = std::string(kAppFolder) + "\\ORVO.EXE";
  sim::AddProcess(host);
}

std::string ScenarioName(const FaultScenario& scenario) {
  return std::string(sim::WindowsName(scenario.version)) + "/" + scenario.name;
}

std::string PointName(const FaultScenario& scenario, size_t k, const sim::Call* call) {
  std::string name = ScenarioName(scenario) + " call " + std::to_string(k);
  if (call) name += " " + call->function + "(" + call->args + ")";
  return name;
}

// The scenario's program on the machine as it stands: the installer with the
// scenario's arguments, or the removal.
sim::RunResult RunProgram(const FaultScenario& scenario) {
  return scenario.removal ? RunRemover() : RunInstaller(scenario.arguments);
}

// Builds the scenario and runs it with call k failing (k = 0: nothing
// fails); the state before the run goes to *before when asked for.
sim::RunResult RunWithFault(const FaultScenario& scenario, size_t k,
                            MachineState* before = nullptr) {
  scenario.build();
  if (before) *before = ReadMachineState();
  sim::ClearTrace();
  if (k > 0) sim::FailCall(k);
  return RunProgram(scenario);
}

// The last lines of a child's error output, enough to see what it reported.
std::string Tail(const std::string& text, size_t lines) {
  size_t pos = text.size();
  while (pos > 0 && text[pos - 1] == '\n') --pos;
  for (size_t n = 0; n < lines && pos > 0; ++n) {
    const size_t newline = text.rfind('\n', pos - 1);
    if (newline == std::string::npos) return text;
    pos = newline;
  }
  return pos == 0 ? text : text.substr(pos + 1);
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string ReadAll(int fd) {
  std::string out;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      return out;
    }
  }
}

std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string(" | ") : std::string(1, c);
  return out;
}

}  // namespace

std::vector<FaultScenario> PowerLossScenarios(const std::vector<sim::Windows>& versions,
                                              bool withSample) {
  std::vector<FaultScenario> out;
  const std::string arguments = "\"" + std::string(kAppFolder) + "\" " + kDocument;
  const std::string sampleArguments =
      "\"" + preview::SampleApplicationFolder() + "\" " + preview::SampleDocumentName();
  for (sim::Windows version : versions) {
    if (withSample)
      out.push_back({"sample", version, [version] { BuildSample(version); }, sampleArguments});
    out.push_back({"rich", version, [version] { BuildRich(version); }, arguments});
  }
  for (sim::Windows version : versions) out.push_back(VariedScenario(version));
  return out;
}

FaultScenario VariedScenario(sim::Windows version) {
  const std::string arguments = "\"" + std::string(kAppFolder) + "\" " + kDocument;
  if (sim::Is9x(version)) return {"cd-fat", version, [version] { BuildCdFat(version); }, arguments};
  return {"custom-list", version, [version] { BuildCustomList(version); }, arguments};
}

std::vector<FaultScenario> FaultScenarios(const std::vector<sim::Windows>& versions) {
  std::vector<FaultScenario> out;
  const std::string arguments = "\"" + std::string(kAppFolder) + "\" " + kDocument;
  for (sim::Windows version : versions) {
    out.push_back({"rich", version, [version] { BuildRich(version); }, arguments});
    out.push_back({"guard", version, [version] { BuildGuard(version); }, arguments});
  }
  for (sim::Windows version : versions) out.push_back(VariedScenario(version));
  return out;
}

// ------------------------------------------------------------ the removal

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kEngineRunValue[] = "Realtime Audio Engine";

sim::KeySecurity EnumRootSecurity() {
  if (sim::Is9x(sim::Version())) return sim::KeySecurity();
  return sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
}

// The scenario's machine, restarted without its run.
MachineState RestartedWithoutRun(const FaultScenario& scenario) {
  scenario.build();
  sim::Restart();
  return ReadMachineState();
}

// One more rename pending for the next start, behind those already there.
void AddPendingRename(const std::string& from, const std::string& to) {
  if (sim::Is9x(sim::Version())) {
    const std::string wininit = sim::WindowsFolder() + "\\Wininit.ini";
    std::string text = sim::IniText(wininit);
    if (text.empty()) text = "[rename]\r\n";
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") != 0) text += "\r\n";
    sim::PutIni(wininit, text + (to.empty() ? "NUL" : to) + "=" + from + "\r\n");
    return;
  }
  sim::Value list;
  std::string data;
  if (sim::RegGet(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", &list)) {
    data = list.data;
    while (!data.empty() && data.back() == '\0') data.pop_back();
    if (!data.empty()) data += '\0';
  }
  data += "\\??\\" + from + std::string(1, '\0') + (to.empty() ? "" : "!\\??\\" + to) +
          std::string(2, '\0');
  sim::RegPut(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", REG_MULTI_SZ,
              data);
}

// What other programs leave on a machine after the install: their files
// beside the removal's, a rename of theirs waiting for the restart (and on
// the 9x family a delete), and a Run value.
void PutOtherPrograms() {
  const std::string system = sim::SystemFolder();
  const std::string inf = sim::WindowsFolder() + "\\INF";
  sim::PutFile(system + "\\ZOLTAVEX.CFG", "another program's file named like the engine's");
  sim::PutFile(inf + "\\OTHERUSB.INF", "another device");
  sim::PutFile(std::string(kOtherFolder) + "\\TOOL.DLL", "other program, old");
  sim::PutFile(std::string(kOtherFolder) + "\\TOOL.DL_", "other program, new");
  AddPendingRename(std::string(kOtherFolder) + "\\TOOL.DL_",
                   std::string(kOtherFolder) + "\\TOOL.DLL");
  if (sim::Is9x(sim::Version())) {
    sim::PutFile(std::string(kOtherFolder) + "\\OLD.TMP", "other program, leftover");
    AddPendingRename(std::string(kOtherFolder) + "\\OLD.TMP", "");
  }
  sim::RegPutString(HKEY_LOCAL_MACHINE, kRunKey, "Other Tray", "othertray.exe");
}

void BuildInstalled(const FaultScenario& install, bool restart) {
  install.build();
  RunInstaller(install.arguments);
  if (restart) sim::Restart();
  PutOtherPrograms();
}

bool StartsWith(const std::string& s, const std::string& start) {
  return s.compare(0, start.size(), start) == 0;
}

}  // namespace

std::vector<FaultScenario> RemovalScenarios(const std::vector<FaultScenario>& installs,
                                            bool withPending, bool withGuard) {
  std::vector<FaultScenario> out;
  for (const FaultScenario& install : installs) {
    if (install.removal) continue;
    FaultScenario settled{install.name + "-removal", install.version,
                          [install] {
                            BuildInstalled(install, true);
                            // A second product of the same maker keeps
                            // Software\Miravelt.
                            sim::RegPutString(HKEY_LOCAL_MACHINE, "Software\\Miravelt\\Orvo Tools",
                                              "Version", "2.1");
                          },
                          std::string(), true};
    out.push_back(settled);
    if (withPending) {
      out.push_back({install.name + "-removal-pending", install.version,
                     [install] {
                       BuildInstalled(install, false);
                       // The value's name is the engine's, its program
                       // another one: it is not the removal's.
                       sim::RegPutString(HKEY_LOCAL_MACHINE, kRunKey, kEngineRunValue,
                                         "C:\\Tools\\engine.exe");
                     },
                     std::string(), true});
    }
    if (withGuard) {
      out.push_back({install.name + "-removal-guard", install.version,
                     [settled] {
                       settled.build();
                       sim::ProcessSpec host;
                       host.pid = kHostPid;
                       host.imagePath = std::string(kAppFolder) + "\\ORVO.EXE";
                       sim::AddProcess(host);
                     },
                     std::string(), true});
    }
  }
  return out;
}

bool OnRemovalList(const std::string& item, const MachineState& before) {
  if (StartsWith(item, "file ") || StartsWith(item, "attr ")) {
    const std::string path = item.substr(5);
    const size_t slash = path.rfind('\\');
    if (slash == std::string::npos) return false;
    const std::string folder = path.substr(0, slash), name = path.substr(slash + 1);
    const std::string system = text::Upper(sim::SystemFolder());
    const std::string inf = text::Upper(sim::WindowsFolder() + "\\INF");
    static const char* const kFiles[] = {"ZOLTAVEX.DLL", "ZOLTAVEX.DL",  "ZOLTAVEX.EXE",
                                         "ZOLTAVEX.EX",  "ZOLTAVEX.VXD", "ZOLTAV16.DLL"};
    static const char* const kInfs[] = {"ZOLTAVEX.INF", "KOVA51USB.INF", "DQ_USB.INF"};
    if (folder == system) {
      for (const char* file : kFiles)
        if (name == file) return true;
    }
    if (folder == inf) {
      for (const char* file : kInfs)
        if (name == file) return true;
    }
    return folder == system + "\\DRIVERS" && name == "ZOLTAVEX.SYS";
  }
  if (!StartsWith(item, "reg ")) return false;
  const size_t colon = item.find(" : ");
  const std::string key =
      item.substr(4, colon == std::string::npos ? std::string::npos : colon - 4);
  static const char* const kTrees[] = {
      "HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\ZOLTAVEX",
      "HKLM\\SYSTEM\\CURRENTCONTROLSET\\ENUM\\ROOT\\REALTIME",
      "HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\CLASS\\{6B1F0A52-9D37-4C8E-A2F4-5E70C3D91B68}",
      "HKLM\\ENUM\\ROOT\\REALTIME",
      "HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\CLASS\\REALTIME",
      "HKLM\\SOFTWARE\\MIRAVELT\\ZOLTAVEX"};
  for (const char* tree : kTrees) {
    const std::string t(tree);
    if (key == t || StartsWith(key, t + "\\")) return true;
  }
  if (key == "HKLM\\SOFTWARE\\MIRAVELT") return colon == std::string::npos;
  // The record of Enum\Root's access list that the temporary grant keeps
  // while it stands: a refused deletion of it after the withdrawal leaves it.
  if (StartsWith(key, "HKLM\\SOFTWARE\\MIRAVELT\\ACCESS KEPT FOR ")) return true;
  const std::string run =
      "reg HKLM\\" + text::Upper(kRunKey) + " : " + text::Upper(kEngineRunValue);
  if (item != run) return false;
  const auto was = before.find(item);
  return was != before.end() &&
         text::Upper(was->second) ==
             text::Upper(std::to_string(REG_SZ) + " " + sim::StringOf("zoltavex.exe"));
}

std::string JudgeRemovalState(const MachineState& before, const MachineState& after,
                              const MachineState& restartOnly) {
  std::string why;
  auto add = [&](const std::string& text) { why += (why.empty() ? "" : "; ") + text; };
  const auto was = before.find(kEnumRootSecurityItem);
  if (was != before.end()) {
    const auto now = after.find(kEnumRootSecurityItem);
    if (now == after.end() || now->second != was->second)
      add("the access list of Enum\\Root is not the one before the removal: " +
          (now == after.end() ? std::string("none") : now->second));
  }
  for (const std::string& item : ChangedItems(restartOnly, after)) {
    if (item == kEnumRootSecurityItem || OnRemovalList(item, before)) continue;
    // Which restart came last is no part of what is installed.
    bool harmless = false;
    for (const HarmlessLine& line : HarmlessLines()) {
      const std::string end(line.endsWith);
      harmless = harmless || (item.size() >= end.size() &&
                              item.compare(item.size() - end.size(), end.size(), end) == 0);
    }
    if (!harmless) add("changed " + item);
  }
  return why;
}

PointOutcome RunPoint(const FaultScenario& scenario, size_t k,
                      const std::vector<sim::Call>& baseline, const Allowance* allowance) {
  PointOutcome outcome;
  const sim::Call* failing = k > 0 && k <= baseline.size() ? &baseline[k - 1] : nullptr;
  MachineState before;
  const sim::RunResult result = RunWithFault(scenario, k, allowance ? &before : nullptr);

  Expectation expected;
  expected.nineX = sim::Is9x(scenario.version);
  expected.removal = scenario.removal;
  if (failing) {
    const std::vector<sim::Call>& trace = sim::Trace();
    // The run is the same as the fault-free one up to call k, so call k is
    // the one the baseline names, and it is the one that failed.
    // (Handle values in the arguments differ from run to run.)
    if (trace.size() < k || trace[k - 1].function != failing->function || !trace[k - 1].injected) {
      outcome.kind = PointOutcome::kWrong;
      outcome.detail = PointName(scenario, k, failing) +
                       ": the run did not reach the same call k, or it did not fail";
      return outcome;
    }
    expected.refusedFatalIni =
        scenario.removal ? RemovalFatalIniFile(baseline, k) : FatalIniFile(*failing);
  }

  Verdict verdict = Judge(result, expected);
  if (allowance) {
    // What the run left, once the restart has completed it.
    sim::Restart();
    const MachineState after = ReadMachineState();
    const std::string why = scenario.removal
                                ? JudgeRemovalState(before, after, allowance->restartOnly)
                                : JudgeState(before, after, *allowance);
    if (!why.empty()) {
      verdict.wrong = true;
      verdict.why += (verdict.why.empty() ? "" : "; ") + why;
    }
  }
  if (verdict.leak || verdict.wrong) {
    outcome.kind = verdict.leak ? PointOutcome::kLeak : PointOutcome::kWrong;
    outcome.detail = PointName(scenario, k, failing) + ": " + verdict.why;
  }
  return outcome;
}

namespace {

// Runs points 0 .. count-1 with runOne, one after the other in child
// processes (see RunPointsIsolated); nameOf names a point for a crash, label
// the whole set for a leak found at a child's exit.
std::vector<PointOutcome> RunIsolated(size_t count, const std::string& label,
                                      const std::function<PointOutcome(size_t)>& runOne,
                                      const std::function<std::string(size_t)>& nameOf) {
  std::vector<PointOutcome> outcomes;
  size_t next = 0;
  while (next < count) {
    char errPath[] = "/tmp/prove-faults-XXXXXX";
    const int errFile = mkstemp(errPath);
    int fds[2];
    if (errFile < 0 || pipe(fds) != 0) {
      // No child to be had: the rest run here.
      if (errFile >= 0) {
        close(errFile);
        unlink(errPath);
      }
      for (; next < count; ++next) outcomes.push_back(runOne(next));
      break;
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      dup2(errFile, 2);
      // One line when a point starts and one when it is judged, so that the
      // parent knows which point a crash belongs to.
      for (size_t i = next; i < count; ++i) {
        WriteAll(fds[1], "S " + std::to_string(i) + "\n");
        const PointOutcome outcome = runOne(i);
        WriteAll(fds[1], "R " + std::to_string(static_cast<int>(outcome.kind)) + " " +
                             OneLine(outcome.detail) + "\n");
      }
      WriteAll(fds[1], "E\n");
      close(fds[1]);
      // A normal exit, so that the leak check at exit runs.
      std::exit(0);
    }
    close(fds[1]);
    close(errFile);
    const std::string reply = ReadAll(fds[0]);
    close(fds[0]);
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const std::string errors = HostFileText(errPath);
    unlink(errPath);
    if (pid < 0) {
      for (; next < count; ++next) outcomes.push_back(runOne(next));
      break;
    }

    bool finished = false;
    bool started = false;
    std::istringstream lines(reply);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.compare(0, 2, "S ") == 0) {
        started = true;
      } else if (line.compare(0, 2, "R ") == 0) {
        PointOutcome outcome;
        outcome.kind = static_cast<PointOutcome::Kind>(std::atoi(line.c_str() + 2));
        const size_t space = line.find(' ', 2);
        if (space != std::string::npos) outcome.detail = line.substr(space + 1);
        outcomes.push_back(outcome);
        ++next;
        started = false;
      } else if (line == "E") {
        finished = true;
      }
    }
    const bool cleanExit = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const bool leakReport = WIFEXITED(status) && WEXITSTATUS(status) == kLeakSanitizerExit;
    if (finished && leakReport) {
      // Memory that the runs of this child never freed; it cannot be laid
      // at one point's door.
      PointOutcome leak;
      leak.kind = PointOutcome::kLeak;
      leak.detail = label + ": memory never freed\n" + Tail(errors, 20);
      outcomes.push_back(leak);
    } else if (!finished || !cleanExit) {
      // The point that was running when the child died crashed.
      PointOutcome crash;
      crash.kind = PointOutcome::kCrash;
      crash.detail = nameOf(next < count ? next : count) + ": the run crashed (" +
                     (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                          : "exit " + std::to_string(WEXITSTATUS(status))) +
                     ")\n" + Tail(errors, 20);
      outcomes.push_back(crash);
      if (started || !finished) ++next;
    }
  }
  return outcomes;
}

}  // namespace

std::vector<PointOutcome> RunPointsIsolated(const FaultScenario& scenario,
                                            const std::vector<size_t>& points,
                                            const std::vector<sim::Call>& baseline,
                                            const Allowance* allowance) {
  return RunIsolated(
      points.size(), ScenarioName(scenario),
      [&](size_t i) { return RunPoint(scenario, points[i], baseline, allowance); },
      [&](size_t i) {
        const size_t k = i < points.size() ? points[i] : 0;
        return PointName(scenario, k, k > 0 && k <= baseline.size() ? &baseline[k - 1] : nullptr);
      });
}

CampaignFigures RunCampaign(const std::vector<FaultScenario>& scenarios, bool isolate,
                            std::ostream* progress) {
  CampaignFigures figures;
  auto count = [&](const PointOutcome& outcome) {
    switch (outcome.kind) {
      case PointOutcome::kOk:
        return;
      case PointOutcome::kCrash:
        ++figures.crashes;
        break;
      case PointOutcome::kLeak:
        ++figures.leaks;
        break;
      case PointOutcome::kWrong:
        ++figures.wrong;
        break;
    }
    figures.failures.push_back(outcome.detail);
  };

  for (const FaultScenario& scenario : scenarios) {
    // The fault-free run: its trace lists the calls to fail. It is judged
    // as point 0, which fails nothing.
    MachineState before;
    RunWithFault(scenario, 0, &before);
    const std::vector<sim::Call> baseline = sim::Trace();
    // What the installer may change: what its full run changes on this
    // machine (also where the host application stops the fault-free run),
    // taking the family from the platform or, when that read fails, as the
    // NT family.
    Allowance allowance;
    if (scenario.removal) allowance.restartOnly = RestartedWithoutRun(scenario);
    for (bool versionFails : {false, true}) {
      if (scenario.removal) break;
      scenario.build();
      sim::ClearProcesses();
      sim::SetVersionFails(versionFails);
      RunInstaller(scenario.arguments);
      sim::Restart();
      Widen(allowance, AllowanceOf(before, ReadMachineState()));
    }
    std::vector<size_t> points = {0};
    for (size_t k = 1; k <= baseline.size(); ++k) {
      if (sim::IsFailable(baseline[k - 1].function)) points.push_back(k);
    }
    figures.points += points.size();
    if (isolate) {
      for (const PointOutcome& outcome : RunPointsIsolated(scenario, points, baseline, &allowance))
        count(outcome);
    } else {
      for (size_t k : points) count(RunPoint(scenario, k, baseline, &allowance));
    }
    if (progress) {
      *progress << sim::WindowsName(scenario.version) << "/" << scenario.name << ": "
                << baseline.size() << " calls, " << points.size() - 1 << " failable\n";
    }
  }
  return figures;
}

// ---------------------------------------------------------------- power loss

const std::vector<HarmlessLine>& HarmlessLines() {
  static const std::vector<HarmlessLine> lines = {
      {"\\WININIT.BAK",
       "the 9x platform keeps the Wininit.ini it carried out last under this name; it records "
       "which restart came last, not what is installed, and nothing reads it"},
  };
  return lines;
}

std::string SettledState() {
  const std::string dump = sim::Dump();
  std::string out;
  size_t pos = 0;
  while (pos < dump.size()) {
    size_t end = dump.find('\n', pos);
    if (end == std::string::npos) end = dump.size();
    const std::string line = dump.substr(pos, end - pos);
    pos = end + 1;
    // A file line is its path, two blanks, then what the file holds.
    std::string path = line.substr(0, line.find("  "));
    for (char& c : path) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    bool harmless = false;
    for (const HarmlessLine& known : HarmlessLines()) {
      const std::string tail(known.endsWith);
      if (path.size() >= tail.size() &&
          path.compare(path.size() - tail.size(), tail.size(), tail) == 0)
        harmless = true;
    }
    if (!harmless) out += line + "\n";
  }
  return out;
}

namespace {

const char* VariantName(AfterCut after) {
  return after == AfterCut::kRestartThenRun ? "restart, run, restart" : "run, restart";
}

std::string CutName(const FaultScenario& scenario, size_t k, AfterCut after) {
  return ScenarioName(scenario) + " cut before call " + std::to_string(k) + " (" +
         VariantName(after) + ")";
}

// The differing lines of two settled states, at most a few of them.
std::string ShortDiff(const std::string& reference, const std::string& state) {
  const std::string diff = sim::DiffDumps(reference, state);
  std::string out;
  size_t pos = 0;
  for (int n = 0; n < 6 && pos < diff.size(); ++n) {
    size_t end = diff.find('\n', pos);
    if (end == std::string::npos) end = diff.size();
    out += (out.empty() ? "" : " | ") + diff.substr(pos, end - pos);
    pos = end + 1;
  }
  if (pos < diff.size()) out += " | ...";
  return out;
}

std::string Reference(const FaultScenario& scenario) {
  scenario.build();
  sim::ClearTrace();
  RunProgram(scenario);
  sim::Restart();
  return SettledState();
}

}  // namespace

PointOutcome RunCutPoint(const FaultScenario& scenario, size_t k, AfterCut after,
                         const std::string& reference) {
  PointOutcome outcome;
  auto fail = [&](PointOutcome::Kind kind, const std::string& why) {
    outcome.kind = kind;
    outcome.detail = CutName(scenario, k, after) + ": " + why;
    return outcome;
  };
  scenario.build();
  const sim::KeySecurity enumRoot = EnumRootSecurity();
  sim::ClearTrace();
  sim::StopBeforeCall(k);
  const sim::RunResult cut = RunProgram(scenario);
  if (!cut.stopped || sim::CallCount() != k - 1)
    return fail(PointOutcome::kWrong, "the run did not stop right before call k");
  if (!sim::NothingOutstanding())
    return fail(PointOutcome::kLeak, "still held after the cut: " + sim::OutstandingText());
  sim::ClearFaults();

  if (after == AfterCut::kRestartThenRun) sim::Restart();
  sim::ClearTrace();
  const sim::RunResult rerun = RunProgram(scenario);
  if (!rerun.exited) return fail(PointOutcome::kWrong, "the full run did not end the process");
  if (!sim::NothingOutstanding())
    return fail(PointOutcome::kLeak, "still held after the full run: " + sim::OutstandingText());
  sim::Restart();
  // A removal changes the access list of Enum\Root only for its own writes.
  if (scenario.removal && !(EnumRootSecurity() == enumRoot))
    return fail(PointOutcome::kWrong, "the access list of Enum\\Root is not the one before: " +
                                          sim::SecurityText(EnumRootSecurity()));

  const std::string state = SettledState();
  if (state != reference) return fail(PointOutcome::kWrong, ShortDiff(reference, state));
  return outcome;
}

namespace {

// Runs a scenario up to the cut before call k; false when it did not stop
// there or left something held.
bool RunToCut(const FaultScenario& scenario, size_t k) {
  sim::ClearTrace();
  sim::StopBeforeCall(k);
  const sim::RunResult cut = RunInstaller(scenario.arguments);
  sim::ClearFaults();
  return (!cut.stopped || sim::CallCount() == k - 1) && sim::NothingOutstanding();
}

// A small generator with a fixed seed: the same sample on every machine.
struct Sampler {
  uint64_t state;
  size_t Below(size_t n) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<size_t>((state >> 33) % n);
  }
};

}  // namespace

PointOutcome RunTwoCutPoint(const FaultScenario& scenario, size_t k, size_t k2, bool restartBetween,
                            AfterCut after, const std::string& reference) {
  PointOutcome outcome;
  const std::string name = ScenarioName(scenario) + " cuts before call " + std::to_string(k) +
                           ", then call " + std::to_string(k2) + " of the next run (" +
                           (restartBetween ? "restart between, " : "") + VariantName(after) + ")";
  auto fail = [&](PointOutcome::Kind kind, const std::string& why) {
    outcome.kind = kind;
    outcome.detail = name + ": " + why;
    return outcome;
  };
  scenario.build();
  if (!RunToCut(scenario, k)) return fail(PointOutcome::kLeak, "the first cut went wrong");
  if (restartBetween) sim::Restart();
  if (!RunToCut(scenario, k2)) return fail(PointOutcome::kLeak, "the second cut went wrong");
  if (after == AfterCut::kRestartThenRun) sim::Restart();
  sim::ClearTrace();
  const sim::RunResult rerun = RunInstaller(scenario.arguments);
  if (!rerun.exited) return fail(PointOutcome::kWrong, "the full run did not end the process");
  if (!sim::NothingOutstanding())
    return fail(PointOutcome::kLeak, "still held after the full run: " + sim::OutstandingText());
  sim::Restart();
  const std::string state = SettledState();
  if (state != reference) return fail(PointOutcome::kWrong, ShortDiff(reference, state));
  return outcome;
}

namespace {

void CountCuts(const std::vector<PointOutcome>& outcomes, PowerLossFigures* figures) {
  figures->points += outcomes.size();
  for (const PointOutcome& outcome : outcomes) {
    if (outcome.kind == PointOutcome::kOk) {
      ++figures->converge;
    } else {
      ++figures->differences;
      figures->failures.push_back(outcome.detail);
    }
  }
}

}  // namespace

PowerLossFigures RunPowerLoss(const std::vector<FaultScenario>& scenarios, bool isolate,
                              std::ostream* progress, size_t twoCutPairs,
                              PowerLossFigures* twoCuts) {
  PowerLossFigures figures;
  for (const FaultScenario& scenario : scenarios) {
    const std::string reference = Reference(scenario);
    // The fault-free run's length: a cut before each of its calls.
    scenario.build();
    sim::ClearTrace();
    RunProgram(scenario);
    const size_t calls = sim::CallCount();
    for (AfterCut after : {AfterCut::kRestartThenRun, AfterCut::kRunThenRestart}) {
      auto runOne = [&](size_t i) { return RunCutPoint(scenario, i + 1, after, reference); };
      std::vector<PointOutcome> outcomes;
      if (isolate) {
        outcomes = RunIsolated(calls, ScenarioName(scenario), runOne,
                               [&](size_t i) { return CutName(scenario, i + 1, after); });
      } else {
        for (size_t i = 0; i < calls; ++i) outcomes.push_back(runOne(i));
      }
      CountCuts(outcomes, &figures);
    }
    if (progress) {
      *progress << ScenarioName(scenario) << ": " << calls << " calls, " << 2 * calls
                << " cut points\n";
    }
    if (!twoCuts || twoCutPairs == 0 || scenario.name != VariedScenario(scenario.version).name)
      continue;
    // Pairs of cuts, with and without restarts.
    struct Pair {
      size_t k, k2;
      bool restartBetween;
      AfterCut after;
    };
    std::vector<Pair> pairs;
    Sampler sampler{0x5EED0000u + static_cast<uint64_t>(scenario.version)};
    for (size_t i = 0; i < twoCutPairs; ++i) {
      const size_t k = 1 + sampler.Below(calls);
      const size_t k2 = 1 + sampler.Below(calls);
      const bool restartBetween = sampler.Below(2) == 0;
      pairs.push_back(
          {k, k2, restartBetween,
           sampler.Below(2) == 0 ? AfterCut::kRestartThenRun : AfterCut::kRunThenRestart});
    }
    auto runPair = [&](size_t i) {
      const Pair& p = pairs[i];
      return RunTwoCutPoint(scenario, p.k, p.k2, p.restartBetween, p.after, reference);
    };
    std::vector<PointOutcome> outcomes;
    if (isolate) {
      outcomes = RunIsolated(pairs.size(), ScenarioName(scenario), runPair, [&](size_t i) {
        return ScenarioName(scenario) + " cut pair " + std::to_string(i < pairs.size() ? i : 0);
      });
    } else {
      for (size_t i = 0; i < pairs.size(); ++i) outcomes.push_back(runPair(i));
    }
    CountCuts(outcomes, twoCuts);
    if (progress) *progress << ScenarioName(scenario) << ": " << pairs.size() << " cut pairs\n";
  }
  return figures;
}

// ---------------------------------------------------------- persistent faults

namespace {

// What a run under persistent faults left, against the machine before it and
// what clean runs leave. Returns the reasons, "" when nothing is lost.
std::string NothingLost(const MachineState& before, const MachineState& after,
                        const std::vector<MachineState>& cleans) {
  Allowance allowance;
  for (const MachineState& clean : cleans) Widen(allowance, AllowanceOf(before, clean));
  std::string why;
  auto add = [&](const std::string& text) { why += (why.empty() ? "" : "; ") + text; };
  for (const std::string& file : LostFiles(before, after)) {
    if (!allowance.lost.count(file)) add("lost " + file);
  }
  // Every value and INI line as it was, or as a clean run leaves it: never
  // half written, never something else.
  for (const std::string& item : ChangedItems(before, after)) {
    const bool judged = item.compare(0, 4, "reg ") == 0 || item.compare(0, 4, "ini ") == 0;
    if (!judged || IsKeptListItem(item)) continue;
    const auto now = after.find(item);
    bool cleanValue = false;
    for (const MachineState& clean : cleans) {
      const auto there = clean.find(item);
      cleanValue |= now == after.end() ? there == clean.end()
                                       : there != clean.end() && there->second == now->second;
    }
    if (!cleanValue) add("wrong " + item);
  }
  return why;
}

}  // namespace

PointOutcome RunPersistentPoint(const FaultScenario& scenario, size_t k,
                                const std::vector<sim::Call>& baseline,
                                const std::vector<MachineState>& cleans) {
  PointOutcome outcome;
  const sim::Call* first = k > 0 && k <= baseline.size() ? &baseline[k - 1] : nullptr;
  const std::string name = PointName(scenario, k, first) + " and every call after it";
  auto fail = [&](PointOutcome::Kind kind, const std::string& why) {
    outcome.kind = kind;
    outcome.detail = name + ": " + why;
    return outcome;
  };
  scenario.build();
  const MachineState before = ReadMachineState();
  sim::ClearTrace();
  sim::FailCallsFrom(k);
  const sim::RunResult result = RunInstaller(scenario.arguments);
  sim::ClearFaults();
  if (!sim::NothingOutstanding())
    return fail(PointOutcome::kLeak, "still held: " + sim::OutstandingText());
  if (!result.exited) return fail(PointOutcome::kWrong, "the run did not end the process");
  sim::Restart();
  const MachineState after = ReadMachineState();
  std::string why = NothingLost(before, after, cleans);
  // The access list: as before, as a clean run leaves it, or, where the
  // grant could not be withdrawn, exactly that after the next run.
  const auto was = before.find(kEnumRootSecurityItem);
  if (was != before.end()) {
    std::set<std::string> right = {was->second};
    for (const MachineState& clean : cleans) {
      const auto list = clean.find(kEnumRootSecurityItem);
      if (list != clean.end()) right.insert(list->second);
    }
    auto listNow = [] {
      const MachineState state = ReadMachineState();
      const auto it = state.find(kEnumRootSecurityItem);
      return it == state.end() ? std::string("none") : it->second;
    };
    if (!right.count(listNow())) {
      sim::ClearTrace();
      RunInstaller(scenario.arguments);
      sim::Restart();
      const std::string next = listNow();
      if (!right.count(next))
        why += (why.empty() ? "" : "; ") +
               std::string("the access list of Enum\\Root is lost, also after the next run: ") +
               next;
    }
  }
  if (!why.empty()) return fail(PointOutcome::kWrong, why);
  return outcome;
}

CampaignFigures RunPersistentFaults(const std::vector<FaultScenario>& scenarios, bool isolate,
                                    std::ostream* progress) {
  CampaignFigures figures;
  for (const FaultScenario& scenario : scenarios) {
    // The clean runs: the fault-free one, and the one whose version read
    // fails (taken as the NT family).
    std::vector<MachineState> cleans;
    std::vector<sim::Call> baseline;
    for (bool versionFails : {false, true}) {
      scenario.build();
      sim::ClearTrace();
      sim::SetVersionFails(versionFails);
      RunInstaller(scenario.arguments);
      if (!versionFails) baseline = sim::Trace();
      sim::Restart();
      cleans.push_back(ReadMachineState());
    }
    std::vector<size_t> points;
    for (size_t k = 1; k <= baseline.size(); ++k) {
      if (sim::IsFailable(baseline[k - 1].function)) points.push_back(k);
    }
    auto runOne = [&](size_t i) {
      return RunPersistentPoint(scenario, points[i], baseline, cleans);
    };
    std::vector<PointOutcome> outcomes;
    if (isolate) {
      outcomes = RunIsolated(points.size(), ScenarioName(scenario), runOne, [&](size_t i) {
        const size_t k = i < points.size() ? points[i] : 0;
        return PointName(scenario, k, k > 0 ? &baseline[k - 1] : nullptr) + " onward";
      });
    } else {
      for (size_t i = 0; i < points.size(); ++i) outcomes.push_back(runOne(i));
    }
    figures.points += points.size();
    for (const PointOutcome& outcome : outcomes) {
      if (outcome.kind == PointOutcome::kOk) continue;
      if (outcome.kind == PointOutcome::kCrash) ++figures.crashes;
      if (outcome.kind == PointOutcome::kLeak) ++figures.leaks;
      if (outcome.kind == PointOutcome::kWrong) ++figures.wrong;
      figures.failures.push_back(outcome.detail);
    }
    if (progress) {
      *progress << ScenarioName(scenario) << ": " << points.size()
                << " points of persistent faults\n";
    }
  }
  return figures;
}

}  // namespace prove
