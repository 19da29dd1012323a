// Host processes and the command line and environment of Wine's.
#include "wine_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "host_files.h"

extern char** environ;

namespace winehost {

namespace {

std::vector<std::string> OwnEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  return env;
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace

WineArch DefaultArch() {
  const char* arch = std::getenv("DRVSETUP_WINE_ARCH");
  return arch != nullptr && std::strcmp(arch, "win32") == 0 ? WineArch::k32 : WineArch::k64;
}

const char* ArchName(WineArch arch) { return arch == WineArch::k32 ? "win32" : "win64"; }

namespace {

std::string I386Wine() {
  const char* path = std::getenv("DRVSETUP_I386_WINE");
  return path != nullptr && *path ? path : DRVSETUP_I386_WINE;
}

}  // namespace

std::string I386Tree() {
  const char* path = std::getenv("DRVSETUP_I386_TREE");
  return path != nullptr && *path ? path : "/var/cache/drvsetup/i386-wine";
}

HostCommand WineCommand(const std::vector<std::string>& wineArgv, const std::string& prefix,
                        const std::string& winedebug, WineArch arch) {
  static const char* const dropped[] = {
      "DISPLAY=",  "WAYLAND_DISPLAY=", "WINEPREFIX=", "WINEDEBUG=", "WINEDLLOVERRIDES=",
      "WINEARCH=", "WINESERVER=",      "WINELOADER=", "LD_PRELOAD="};
  HostCommand command;
  if (arch == WineArch::k32) command.argv = {I386Wine(), "--"};
  command.argv.insert(command.argv.end(), wineArgv.begin(), wineArgv.end());
  for (const std::string& e : OwnEnvironment()) {
    bool drop = false;
    for (const char* d : dropped) drop = drop || e.compare(0, std::strlen(d), d) == 0;
    if (!drop) command.env.push_back(e);
  }
  // No Mono or Gecko: nothing here needs them, and looking for them is slow.
  command.env.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
  command.env.push_back("WINEPREFIX=" + prefix);
  command.env.push_back("WINEDEBUG=" + winedebug);
  return command;
}

HostCommand PlainCommand(const std::vector<std::string>& argv) { return {argv, OwnEnvironment()}; }

bool WineInstalled(WineArch arch) {
  if (arch == WineArch::k32)
    return access(I386Wine().c_str(), X_OK) == 0 &&
           access((I386Tree() + "/.drvsetup-ready").c_str(), R_OK) == 0;
  return OnPath("wine") && OnPath("wineserver") && OnPath("wineboot");
}

bool EmulatorCrashed(const RunResult& result) {
  // A crash leaves no exit code. An exit code, even 1 of an aborted Wine
  // client, counts as the program's result.
  if (!result.timedOut && result.exitCode != -1) return false;
  for (const char* sign :
       {"qemu: uncaught target signal", "wine client error:", "wineserver crashed"})
    if (result.err.find(sign) != std::string::npos || result.out.find(sign) != std::string::npos)
      return true;
  return false;
}

pid_t StartProcess(const HostCommand& command, const ProcessIo& io) {
  if (command.argv.empty()) return -1;
  // Everything the child needs is made before fork().
  std::vector<char*> args, envp;
  for (const auto& a : command.argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : command.env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const std::string out = io.out.empty() ? "/dev/null" : io.out;
  const std::string err = io.err.empty() ? "/dev/null" : io.err;
  const int mode = O_WRONLY | O_CREAT | (io.append ? O_APPEND : O_TRUNC);

  pid_t pid = fork();
  if (pid != 0) return pid;
  if (io.ownGroup) setpgid(0, 0);
  if (!io.cwd.empty() && chdir(io.cwd.c_str()) != 0) _exit(126);
  int in = open("/dev/null", O_RDONLY);
  int outFd = open(out.c_str(), mode, 0644);
  int errFd = err == out ? outFd : open(err.c_str(), mode, 0644);
  if (in >= 0) dup2(in, 0);
  if (outFd >= 0) dup2(outFd, 1);
  if (errFd >= 0) dup2(errFd, 2);
  execvpe(args[0], args.data(), envp.data());
  _exit(127);
}

int WaitProcess(pid_t pid, int timeoutSeconds, bool* timedOut) {
  *timedOut = false;
  if (pid < 0) return -1;
  int status = 0;
  if (timeoutSeconds <= 0) {
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // A guard against a hang only: the run is stopped, never judged by time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      *timedOut = true;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RunResult RunProcess(const HostCommand& command, const std::string& cwd, const std::string& outFile,
                     const std::string& errFile, int timeoutSeconds) {
  RunResult result;
  ProcessIo io;
  io.cwd = cwd;
  io.out = outFile;
  io.err = errFile;
  io.ownGroup = true;
  pid_t pid = StartProcess(command, io);
  if (pid < 0) return result;
  result.exitCode = WaitProcess(pid, timeoutSeconds, &result.timedOut);
  ReadHostFile(outFile, &result.out);
  ReadHostFile(errFile, &result.err);
  unlink(outFile.c_str());
  unlink(errFile.c_str());
  return result;
}

int RunLogged(const HostCommand& command, const std::string& logFile) {
  ProcessIo io;
  io.out = io.err = logFile;
  io.append = true;
  bool timedOut = false;
  return WaitProcess(StartProcess(command, io), 0, &timedOut);
}

}  // namespace winehost
