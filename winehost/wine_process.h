// Host processes, and the one place where a Wine process is made.
//
// Every process of Wine that the host starts (the loader `wine` with a
// Windows program, `wineserver`, `wineboot`) gets its command line and its
// environment from WineCommand(). Another way of reaching Wine (another
// loader, a wrapper that enters a different root) is added there and only
// there.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace winehost {

// A host process: the argument vector (argv[0] is looked up on PATH) and the
// whole environment.
struct HostCommand {
  std::vector<std::string> argv;
  std::vector<std::string> env;
};

// wineArgv[0] is the Wine program: "wine" (the loader; then the Windows
// program or Wine's own program to run and its arguments), "wineserver" or
// "wineboot". `prefix` becomes WINEPREFIX and `winedebug` WINEDEBUG. The
// environment is this process's own without a display and without any Wine
// setting of the caller.
HostCommand WineCommand(const std::vector<std::string>& wineArgv, const std::string& prefix,
                        const std::string& winedebug);

// A host tool (cp, rm, ...) with this process's environment.
HostCommand PlainCommand(const std::vector<std::string>& argv);

// Every program WineCommand() starts can be found.
bool WineInstalled();

struct RunResult {
  int exitCode = -1;      // the exit code (of a Windows program: its low 8 bits, as wine passes
                          // it on); -1 when the process did not end by itself
  bool timedOut = false;  // the run was stopped; a guard against a hang, never a time check
  std::string out, err;
};

// Where a process starts and where its output goes. Empty files are
// /dev/null; standard input is always /dev/null.
struct ProcessIo {
  std::string cwd;        // "" keeps this process's folder
  std::string out;        // standard output
  std::string err;        // standard error; the same file as out is allowed
  bool append = false;    // append to the files instead of truncating them
  bool ownGroup = false;  // a process group of its own, so that a stop reaches its children
};

// Starts the command; its pid, or -1.
pid_t StartProcess(const HostCommand& command, const ProcessIo& io);
// Waits for it; stops its process group after timeoutSeconds (0: waits for
// ever). The exit status, or -1 (killed by a signal, stopped, not waited for).
int WaitProcess(pid_t pid, int timeoutSeconds, bool* timedOut);

// Runs the command with its output in outFile and errFile (read into the
// result and removed afterwards), in a process group of its own.
RunResult RunProcess(const HostCommand& command, const std::string& cwd, const std::string& outFile,
                     const std::string& errFile, int timeoutSeconds);

// Runs the command to its end with both outputs appended to logFile; its
// exit status, or -1.
int RunLogged(const HostCommand& command, const std::string& logFile = "/dev/null");

}  // namespace winehost
