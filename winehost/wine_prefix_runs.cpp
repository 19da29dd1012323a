// A prefix's sessions, kept alive between runs since a new session is a
// restart, and the runs of Windows programs in them.
#include "wine_prefix.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "host_files.h"

namespace winehost {

namespace {

std::string WinFolderOf(const std::string& winPath) {
  size_t cut = winPath.find_last_of('\\');
  return cut == std::string::npos ? std::string() : winPath.substr(0, cut);
}

// A guard against a hang only; emulated 32-bit Wine starts far slower.
int TimeLimit(WineArch arch, int seconds) { return arch == WineArch::k32 ? 3 * seconds : seconds; }

size_t emulatorRetries = 0;
const int kEmulatorRetriesPerRun = 2;

}  // namespace

size_t EmulatorRetries() { return emulatorRetries; }

pid_t WinePrefix::Spawn(const std::vector<std::string>& wineArgv, const std::string& cwd,
                        const std::string& outFile) {
  ProcessIo io;
  io.cwd = cwd;
  io.out = io.err = outFile;
  io.ownGroup = true;
  return StartProcess(WineCommand(wineArgv, prefix_, "-all", arch_), io);
}

RunResult WinePrefix::Exec(const std::vector<std::string>& wineArgv, const std::string& cwd,
                           const std::string& winedebug, int timeoutSeconds) {
  for (int attempt = 0;; ++attempt) {
    RunResult r = RunProcess(WineCommand(wineArgv, prefix_, winedebug, arch_), cwd, NextFile("out"),
                             NextFile("err"), TimeLimit(arch_, timeoutSeconds));
    if (arch_ != WineArch::k32 || attempt == kEmulatorRetriesPerRun || !EmulatorCrashed(r))
      return r;
    ++emulatorRetries;
  }
}

RunResult WinePrefix::RunInstaller(const std::vector<std::string>& args) {
  return Run(std::string(kSourceFolder) + "\\drvsetup.exe", args);
}

RunResult WinePrefix::RunInstallerTraced(const std::vector<std::string>& args, RelayTrace* trace) {
  return RunTraced(std::string(kSourceFolder) + "\\drvsetup.exe", args, trace);
}

bool WinePrefix::EnsureSession() { return sessionLive_ || StartSession(); }

bool WinePrefix::StartSession() {
  if (!ready_) return false;
  if (sessionLive_) return true;
  // Persistent, so that the session outlives the gaps between programs;
  // the server still ends 5 minutes after the last program should the test
  // process die without EndSession.
  RunResult server = Exec({"wineserver", "-p300"}, root_, "-all");
  if (server.exitCode != 0) {
    Problem("wineserver -p failed: " + server.err);
    return false;
  }
  sessionLive_ = true;
  // The first program brings up the session's own processes (services,
  // explorer, ...) and performs what a restart performs.
  RunResult first = Exec({"wine", ProbePath(), "version"}, root_, "-all");
  if (first.exitCode != 0) {
    Problem("the session of " + prefix_ + " did not start: " + first.err);
    return false;
  }
  return true;
}

void WinePrefix::EndSession() {
  Exec({"wineserver", "-k"}, root_, "-all", 60);
  Exec({"wineserver", "-w"}, root_, "-all", 60);
  for (auto& b : background_) {
    int status;
    for (int i = 0; i < 500 && waitpid(b.pid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(-b.pid, SIGKILL);
    waitpid(b.pid, &status, WNOHANG);
  }
  background_.clear();
  sessionLive_ = false;
}

bool WinePrefix::Restart() {
  if (!EnsureSession()) return false;
  RunResult r = Exec({"wine", "wineboot", "-r"}, root_, "-all");
  return r.exitCode == 0;
}

std::string WinePrefix::ProbePath() { return root_ + "/bin/probe.exe"; }

RunResult WinePrefix::Run(const std::string& winExe, const std::vector<std::string>& args) {
  if (!EnsureSession()) return RunResult();
  std::vector<std::string> argv = {"wine", winExe};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string cwd = HostPath(WinFolderOf(winExe));
  return Exec(argv, IsDirectory(cwd) ? cwd : root_, "-all");
}

RunResult WinePrefix::RunTraced(const std::string& winExe, const std::vector<std::string>& args,
                                RelayTrace* trace) {
  if (!EnsureSession()) return RunResult();
  std::vector<std::string> argv = {"wine", winExe};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string cwd = HostPath(WinFolderOf(winExe));
  RunResult r = Exec(argv, IsDirectory(cwd) ? cwd : root_, "+pid,+loaddll,+relay");
  *trace = ParseRelayLog(r.err, WinBasename(winExe), PeImageSize(HostPath(winExe)));
  return r;
}

RunResult WinePrefix::Launch(const std::string& commandLine, const std::string& winedebug) {
  if (!EnsureSession()) return RunResult();
  const std::string file = NextFile("cmdline");
  WriteHostFile(file, commandLine);
  std::string winFile = "Z:" + file;
  for (char& c : winFile)
    if (c == '/') c = '\\';
  std::string cwd = HostPath(kSourceFolder);
  RunResult r =
      Exec({"wine", ProbePath(), "launch", winFile}, IsDirectory(cwd) ? cwd : root_, winedebug);
  unlink(file.c_str());
  // probe.exe passes the exit code on in full in its output.
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.compare(0, 2, "X\t") == 0) r.exitCode = static_cast<int>(std::stoul(line.substr(2)));
  }
  return r;
}

RunResult WinePrefix::RunCommandLine(const std::string& commandLine) {
  return Launch(commandLine, "-all");
}

RunResult WinePrefix::RunCommandLineTraced(const std::string& commandLine,
                                           const std::string& winExe, RelayTrace* trace) {
  RunResult r = Launch(commandLine, "+pid,+loaddll,+relay");
  *trace = ParseRelayLog(r.err, WinBasename(winExe), PeImageSize(HostPath(winExe)));
  return r;
}

bool WinePrefix::StartBackground(const std::string& winExe, const std::vector<std::string>& args) {
  if (!EnsureSession()) return false;
  std::vector<std::string> argv = {"wine", winExe};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string cwd = HostPath(WinFolderOf(winExe));
  const std::string out = NextFile("background");
  pid_t pid = Spawn(argv, IsDirectory(cwd) ? cwd : root_, out);
  if (pid < 0) return false;
  background_.push_back({pid, out});
  const std::string name = WinBasename(winExe);
  for (int attempt = 0; attempt < 300; ++attempt) {
    for (const auto& p : Processes())
      if (EqualNoCase(p, name)) return true;
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) return false;  // it ended
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

bool WinePrefix::Hold(const std::string& winPath) {
  if (!EnsureSession() || !holdEvent_.empty()) return false;
  holdEvent_ = "drvsetup-test-hold-" + std::to_string(++counter_);
  const std::string out = NextFile("hold");
  pid_t pid = Spawn({"wine", ProbePath(), "hold", winPath, holdEvent_}, root_, out);
  if (pid < 0) return false;
  background_.push_back({pid, out});
  for (int attempt = 0; attempt < 600; ++attempt) {
    std::string text;
    ReadHostFile(out, &text);
    if (text.find("H\r\n") != std::string::npos || text.find("H\n") != std::string::npos)
      return true;
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  holdEvent_.clear();
  return false;
}

void WinePrefix::Release() {
  if (holdEvent_.empty()) return;
  Probe({"signal", holdEvent_});
  holdEvent_.clear();
}

}  // namespace winehost
