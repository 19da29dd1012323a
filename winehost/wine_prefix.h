// The Wine host: a Wine prefix of its own per user (a test, a proof run, a
// tool), the programs run in it, and the state read back from it.
//
// A template prefix is made once per build tree (wineboot -i, about 12 s) and
// copied for every WinePrefix, which therefore has its own wineserver. The
// user configures the prefix (Windows version, drives), places files, starts
// a session, runs drvsetup.exe or the helper programs, and reads the
// registry, files, INI files, pending renames and key security through
// probe.exe inside that session. The session is kept alive between runs
// (wineserver -p), since a new session acts as a restart; Restart() restarts
// on purpose.
//
// Paths given to the host are Windows paths ("C:\windows\system32"); the
// host maps them onto the prefix, ignoring case as Windows does.
//
// Nothing here fails a test or ends a program: an operation that cannot be
// done returns false (or an empty result) and, where the reason is the host's
// own (a probe that failed, a registry file that cannot be edited now, a
// session that did not start), records it in Problems().
//
// The Wine facts this relies on (sessions and restarts, running as root,
// versions, drives, relay traces) are in docs/wine-notes.md.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "relay_trace.h"
#include "wine_data.h"
#include "wine_process.h"

namespace winehost {

// ------------------------------------------------------------ availability
// The build whose programs (drvsetup.exe, probe.exe ...) run: win64 or win32.
std::string ProgramsDir(WineArch arch = DefaultArch());
std::string ProgramPath(const std::string& name, WineArch arch = DefaultArch());
// Fills `missing` with the programs that are not built.
bool ProgramsBuilt(std::string* missing, WineArch arch = DefaultArch());
// Runs repeated so far, in this process, because the emulator or Wine's
// server crashed (EmulatorCrashed); each run is repeated at most twice.
size_t EmulatorRetries();

// Wine's names of the Windows versions it can pretend to be, oldest first:
// win95, win98, winme, nt351, nt40, win2k, winxp, win7, win10.
const std::vector<std::string>& WindowsVersions();
// The version reports the 9x platform (win95, win98, winme).
bool NineXVersion(const std::string& name);

// ------------------------------------------------------------ the prefix
class WinePrefix {
 public:
  // A fresh copy of the template of that Wine; see Ready().
  explicit WinePrefix(WineArch arch = DefaultArch());
  ~WinePrefix();  // ends the session, releases immutable files, removes everything
  WinePrefix(const WinePrefix&) = delete;
  WinePrefix& operator=(const WinePrefix&) = delete;

  bool Ready() const { return ready_; }
  WineArch Arch() const { return arch_; }
  const std::string& Error() const { return error_; }    // why it is not Ready()
  const std::string& Root() const { return root_; }      // the prefix user's own folder
  const std::string& Prefix() const { return prefix_; }  // WINEPREFIX

  // -- configuration. Drives need a new session; call before StartSession.
  // Windows version by Wine's name (WindowsVersions()). Works before and during a session (for the
  // programs started afterwards).
  bool SetVersion(const std::string& name);
  // A drive letter onto a host folder (created when missing); type is Wine's:
  // "cdrom", "hd", "floppy", "network", "ramdisk". Returns the host folder.
  std::string AddDrive(char letter, const std::string& type, const std::string& hostFolder = "");

  // Registry contents written straight into the registry files, before the
  // session starts (fast: no program runs). Keys start with HKLM or HKCU;
  // text types are given as 8-bit bytes with their terminating zeros.
  bool PresetKey(const std::string& key);
  bool PresetValue(const std::string& key, const std::string& name, uint32_t type,
                   const std::string& data);

  // -- files, through the host. Parents are created as needed.
  std::string HostPath(const std::string& winPath) const;
  bool PutFile(const std::string& winPath, const std::string& data);
  bool MakeFolder(const std::string& winPath);
  bool ReadFile(const std::string& winPath, std::string* data) const;
  std::string FileText(const std::string& winPath) const;  // "" when missing
  bool Exists(const std::string& winPath) const;
  bool Remove(const std::string& winPath);  // a file or an empty folder
  // Copies a win64-built program (e.g. "standin.exe") to winPath.
  bool PlaceProgram(const std::string& program, const std::string& winPath);
  // Without write bits, as Wine shows a read-only file; root still writes it.
  bool MakeReadOnly(const std::string& winPath);
  // chattr +i: even root cannot change it (a copy onto it fails with 5).
  // Released again when the prefix goes.
  bool MakeImmutable(const std::string& winPath);
  bool ReleaseImmutable(const std::string& winPath);
  bool Writable(const std::string& winPath) const;  // any write bit set

  // -- the installer: drvsetup.exe, and the removal program drvremove.exe
  // beside it, into a source folder, each run from there.
  static constexpr const char* kSourceFolder = "C:\\setup";
  bool PlaceInstaller(const std::string& folder = kSourceFolder);
  RunResult RunInstaller(const std::vector<std::string>& args);
  RunResult RunInstallerTraced(const std::vector<std::string>& args, RelayTrace* trace);
  RunResult RunRemover();  // no arguments
  RunResult RunRemoverTraced(RelayTrace* trace);

  // -- the session.
  bool StartSession();  // wineserver -p and the session's own processes
  void EndSession();    // wineserver -k; the next session is a restart
  bool Restart();       // wineboot -r in the live session
  bool SessionLive() const { return sessionLive_; }

  // -- running programs (the session is started when needed). The program's
  // folder is the current folder of the run.
  RunResult Run(const std::string& winExe, const std::vector<std::string>& args);
  // The exact command line, passed to CreateProcessA by probe.exe; the
  // current folder is the installer's source folder when it exists. The
  // traced form keeps the calls of the program winExe.
  RunResult RunCommandLine(const std::string& commandLine);
  RunResult RunCommandLineTraced(const std::string& commandLine, const std::string& winExe,
                                 RelayTrace* trace);
  RunResult RunTraced(const std::string& winExe, const std::vector<std::string>& args,
                      RelayTrace* trace);
  // Started in the background; returns once its image name shows in the
  // session's process list.
  bool StartBackground(const std::string& winExe, const std::vector<std::string>& args = {});
  // Opens winPath without sharing from another process until Release().
  bool Hold(const std::string& winPath);
  void Release();

  // -- state read inside the session with probe.exe.
  RegTree DumpKey(const std::string& key);  // "HKLM\\Software\\..."
  bool SetValue(const std::string& key, const std::string& name, uint32_t type,
                const std::string& data);
  bool SetString(const std::string& key, const std::string& name, const std::string& text) {
    return SetValue(key, name, kRegSz, SzBytes(text));
  }
  bool SetDword(const std::string& key, const std::string& name, uint32_t v) {
    return SetValue(key, name, kRegDword, DwordBytes(v));
  }
  bool DeleteKey(const std::string& key);
  std::vector<PendingRename> PendingRenames();
  KeySecurity KeySecurityOf(const std::string& objectName);  // "MACHINE\\SYSTEM\\..."
  uint32_t Attributes(const std::string& winPath);           // 0xFFFFFFFF when missing
  bool SetAttributes(const std::string& winPath, uint32_t attributes);
  std::vector<FileEntry> Files(const std::string& winFolder);  // recursive; empty when missing
  std::vector<std::string> Processes();                        // image names
  VersionInfo Version();
  unsigned DriveType(const std::string& root);
  // CopyFileA(from, to, FALSE) inside the session: 0 on success, else the
  // error code.
  unsigned long CopyFile(const std::string& from, const std::string& to);

  // probe.exe with arguments; the records of its output, fields split.
  RunResult Probe(const std::vector<std::string>& args,
                  std::vector<std::vector<std::string>>* records = nullptr);

  // -- what went wrong on the host's side, oldest first; TakeProblems()
  // hands them over and forgets them.
  const std::vector<std::string>& Problems() const { return problems_; }
  std::vector<std::string> TakeProblems();

 private:
  struct Spawned {
    pid_t pid;
    std::string out;
  };
  // A Wine program in this prefix (wineArgv[0] is "wine", "wineserver" or
  // "wineboot", see WineCommand) in cwd, its output read back.
  RunResult Exec(const std::vector<std::string>& wineArgv, const std::string& cwd,
                 const std::string& winedebug, int timeoutSeconds = 120);
  // The same in the background, its output into outFile.
  pid_t Spawn(const std::vector<std::string>& wineArgv, const std::string& cwd,
              const std::string& outFile);
  void Problem(const std::string& text) { problems_.push_back(text); }
  bool AppendRegistry(const std::string& file, const std::string& text);
  bool RegistrySection(const std::string& key, std::string* file, std::string* header);
  RunResult Launch(const std::string& commandLine, const std::string& winedebug);
  bool EnsureSession();
  std::string ProbePath();
  std::string NextFile(const std::string& stem);

  WineArch arch_;
  bool ready_ = false;
  bool sessionLive_ = false;
  std::string error_;
  std::string root_, prefix_;
  std::vector<Spawned> background_;
  std::string holdEvent_;
  int counter_ = 0;
  std::vector<std::string> problems_;
};

}  // namespace winehost
