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

// Which Wine runs the programs: the machine's own 64-bit Wine with the win64
// build, or 32-bit Wine inside the i386 tree (scripts/i386-wine-tree, entered
// through scripts/i386-wine) with the win32 build. Both take the same
// prefixes, sessions, drives and relay traces; a prefix is made for one.
enum class WineArch { k64, k32 };
// win32 when DRVSETUP_WINE_ARCH is "win32", otherwise win64.
WineArch DefaultArch();
const char* ArchName(WineArch arch);  // "win64" or "win32"

// wineArgv[0] is the Wine program: "wine" (the loader; then the Windows
// program or Wine's own program to run and its arguments), "wineserver" or
// "wineboot". `prefix` becomes WINEPREFIX and `winedebug` WINEDEBUG. The
// environment is this process's own without a display and without any Wine
// setting of the caller. For win32 the command is the tree's wrapper
// ($DRVSETUP_I386_WINE or the repository's scripts/i386-wine), which binds
// the folder that holds the prefix into the tree at the same path.
HostCommand WineCommand(const std::vector<std::string>& wineArgv, const std::string& prefix,
                        const std::string& winedebug, WineArch arch = DefaultArch());

// The i386 tree's folder ($DRVSETUP_I386_TREE or /var/cache/drvsetup/i386-wine).
std::string I386Tree();

// A host tool (cp, rm, ...) with this process's environment.
HostCommand PlainCommand(const std::vector<std::string>& argv);

// Every program WineCommand() starts can be found (win32: the tree is made).
bool WineInstalled(WineArch arch = DefaultArch());

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

// The run ended because the emulator (qemu-user, which runs the i386 tree
// where this kernel cannot run 32-bit code) or Wine's server crashed, not
// with a result of the program: no exit code (killed by a signal, or stopped
// after hanging) together with one of their messages, e.g.
//   qemu: uncaught target signal 11 (Segmentation fault) - core dumped
//   wine client error:84: read: Bad address
//   wineserver crashed
// Such a run may be repeated; a run with a wrong result never is.
bool EmulatorCrashed(const RunResult& result);

// Runs the command to its end with both outputs appended to logFile; its
// exit status, or -1.
int RunLogged(const HostCommand& command, const std::string& logFile = "/dev/null");

}  // namespace winehost
