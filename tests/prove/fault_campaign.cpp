#include "fault_campaign.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
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
  return out;
}

std::vector<FaultScenario> FaultScenarios(const std::vector<sim::Windows>& versions) {
  std::vector<FaultScenario> out;
  const std::string arguments = "\"" + std::string(kAppFolder) + "\" " + kDocument;
  for (sim::Windows version : versions) {
    out.push_back({"rich", version, [version] { BuildRich(version); }, arguments});
    out.push_back({"guard", version, [version] { BuildGuard(version); }, arguments});
  }
  return out;
}

// ------------------------------------------------------------ the removal

namespace {

const char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root";
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
    std::string why = scenario.removal ? JudgeRemovalState(before, after, allowance->restartOnly)
                                       : JudgeState(before, after, *allowance);
    const AcceptedOutcome* accepted = failing && !why.empty() ? AcceptedFor(*failing) : nullptr;
    if (accepted &&
        JudgeState(before, after, Widened(*allowance, before, after, *accepted)).empty()) {
      // Reported, but not counted as wrong.
      outcome.detail =
          PointName(scenario, k, failing) + ": accepted (" + accepted->reason + "): " + why;
      why.clear();
    }
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
        if (!outcome.detail.empty()) figures.accepted.push_back(outcome.detail);
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
      const Allowance one = AllowanceOf(before, ReadMachineState());
      allowance.changed.insert(one.changed.begin(), one.changed.end());
      allowance.lost.insert(one.lost.begin(), one.lost.end());
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

PowerLossFigures RunPowerLoss(const std::vector<FaultScenario>& scenarios, bool isolate,
                              std::ostream* progress) {
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
      figures.points += calls;
      for (const PointOutcome& outcome : outcomes) {
        if (outcome.kind == PointOutcome::kOk) {
          ++figures.converge;
        } else {
          ++figures.differences;
          figures.failures.push_back(outcome.detail);
        }
      }
    }
    if (progress) {
      *progress << ScenarioName(scenario) << ": " << calls << " calls, " << 2 * calls
                << " cut points\n";
    }
  }
  return figures;
}

}  // namespace prove
