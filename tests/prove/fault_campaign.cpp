#include "fault_campaign.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "harness.h"

namespace prove {

namespace {

const char kSource[] = "C:\\SETUP\\";
const char kAppFolder[] = "C:\\Program Files\\Orvo";
const char kDocument[] = "Manual";
const DWORD kHostPid = 4242;

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
}

void BuildGuard(sim::Windows version) {
  BuildRich(version);
  sim::ProcessSpec host;
  host.pid = kHostPid;
  host.imagePath = std::string(kAppFolder) + "\\ORVO.EXE";
  sim::AddProcess(host);
}

std::string PointName(const FaultScenario& scenario, size_t k, const sim::Call* call) {
  std::string name = std::string(sim::WindowsName(scenario.version)) + "/" + scenario.name +
                     " call " + std::to_string(k);
  if (call) name += " " + call->function + "(" + call->args + ")";
  return name;
}

// Builds the scenario and runs it with call k failing (k = 0: nothing fails).
sim::RunResult RunWithFault(const FaultScenario& scenario, size_t k) {
  scenario.build();
  sim::ClearTrace();
  if (k > 0) sim::FailCall(k);
  return RunInstaller(scenario.arguments);
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

std::vector<FaultScenario> FaultScenarios(const std::vector<sim::Windows>& versions) {
  std::vector<FaultScenario> out;
  const std::string arguments = "\"" + std::string(kAppFolder) + "\" " + kDocument;
  for (sim::Windows version : versions) {
    out.push_back({"rich", version, [version] { BuildRich(version); }, arguments});
    out.push_back({"guard", version, [version] { BuildGuard(version); }, arguments});
  }
  return out;
}

PointOutcome RunPoint(const FaultScenario& scenario, size_t k,
                      const std::vector<sim::Call>& baseline) {
  PointOutcome outcome;
  const sim::Call* failing = k > 0 && k <= baseline.size() ? &baseline[k - 1] : nullptr;
  const sim::RunResult result = RunWithFault(scenario, k);

  Expectation expected;
  expected.nineX = sim::Is9x(scenario.version);
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
    expected.refusedFatalIni = FatalIniFile(*failing);
  }

  const Verdict verdict = Judge(result, expected);
  if (verdict.leak || verdict.wrong) {
    outcome.kind = verdict.leak ? PointOutcome::kLeak : PointOutcome::kWrong;
    outcome.detail = PointName(scenario, k, failing) + ": " + verdict.why;
  }
  return outcome;
}

std::vector<PointOutcome> RunPointsIsolated(const FaultScenario& scenario,
                                            const std::vector<size_t>& points,
                                            const std::vector<sim::Call>& baseline) {
  std::vector<PointOutcome> outcomes;
  size_t next = 0;
  while (next < points.size()) {
    char errPath[] = "/tmp/prove-faults-XXXXXX";
    const int errFile = mkstemp(errPath);
    int fds[2];
    if (errFile < 0 || pipe(fds) != 0) {
      // No child to be had: the rest run here.
      if (errFile >= 0) {
        close(errFile);
        unlink(errPath);
      }
      for (; next < points.size(); ++next)
        outcomes.push_back(RunPoint(scenario, points[next], baseline));
      break;
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      dup2(errFile, 2);
      // One line when a point starts and one when it is judged, so that the
      // parent knows which point a crash belongs to.
      for (size_t i = next; i < points.size(); ++i) {
        WriteAll(fds[1], "S " + std::to_string(i) + "\n");
        const PointOutcome outcome = RunPoint(scenario, points[i], baseline);
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
      for (; next < points.size(); ++next)
        outcomes.push_back(RunPoint(scenario, points[next], baseline));
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
      leak.detail = std::string(sim::WindowsName(scenario.version)) + "/" + scenario.name +
                    ": memory never freed\n" + Tail(errors, 20);
      outcomes.push_back(leak);
    } else if (!finished || !cleanExit) {
      // The point that was running when the child died crashed.
      const size_t k = next < points.size() ? points[next] : 0;
      PointOutcome crash;
      crash.kind = PointOutcome::kCrash;
      crash.detail =
          PointName(scenario, k, k > 0 && k <= baseline.size() ? &baseline[k - 1] : nullptr) +
          ": the run crashed (" +
          (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                               : "exit " + std::to_string(WEXITSTATUS(status))) +
          ")\n" + Tail(errors, 20);
      outcomes.push_back(crash);
      if (started || !finished) ++next;
    }
  }
  return outcomes;
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
    RunWithFault(scenario, 0);
    const std::vector<sim::Call> baseline = sim::Trace();
    std::vector<size_t> points = {0};
    for (size_t k = 1; k <= baseline.size(); ++k) {
      if (sim::IsFailable(baseline[k - 1].function)) points.push_back(k);
    }
    figures.points += points.size();
    if (isolate) {
      for (const PointOutcome& outcome : RunPointsIsolated(scenario, points, baseline))
        count(outcome);
    } else {
      for (size_t k : points) count(RunPoint(scenario, k, baseline));
    }
    if (progress) {
      *progress << sim::WindowsName(scenario.version) << "/" << scenario.name << ": "
                << baseline.size() << " calls, " << points.size() - 1 << " failable\n";
    }
  }
  return figures;
}

}  // namespace prove
