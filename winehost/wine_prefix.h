// Wine test helper: a Wine prefix of its own per test, the programs run in
// it, and the state read back from it.
//
// A template prefix is made once per build tree (wineboot -i, about 12 s) and
// copied for every WinePrefix, which therefore has its own wineserver. The
// test configures the prefix (Windows version, drives), places files, starts a
// session, runs drvsetup.exe or the helper programs, and reads the registry,
// files, INI files, pending renames and key security through probe.exe inside
// that session. The session is kept alive between runs (wineserver -p), since
// a new session acts as a restart; Restart() restarts on purpose.
//
// Paths given to the helper are Windows paths ("C:\windows\system32"); the
// helper maps them onto the prefix, ignoring case as Windows does.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace winetest {

// ------------------------------------------------------------ availability
bool WineInstalled();                              // `wine` and `wineserver` on PATH
std::string ProgramsDir();                         // the win64 build: drvsetup.exe, probe.exe ...
std::string ProgramPath(const std::string& name);  // ProgramsDir() + "/" + name
// Fills `missing` with the programs that are not built.
bool ProgramsBuilt(std::string* missing);

// Skips the test when Wine is missing; fails it when the win64 programs are.
#define WINE_TEST_REQUIREMENTS()                                                            \
  do {                                                                                      \
    if (!::winetest::WineInstalled())                                                       \
      GTEST_SKIP() << "Wine is not installed (no wine/wineserver on PATH): "                \
                      "install the Debian packages wine and wine64 to run the Wine tests";  \
    std::string missing_;                                                                   \
    if (!::winetest::ProgramsBuilt(&missing_))                                              \
      FAIL() << "missing in " << ::winetest::ProgramsDir() << ": " << missing_              \
             << "; build the win64 preset (cmake --preset win64 && cmake --build --preset " \
                "win64) or point DRVSETUP_WIN64_DIR at a win64 build";                      \
  } while (0)

// ------------------------------------------------------------ data read back
struct RegValue {
  uint32_t type = 0;
  std::string data;  // the bytes as RegEnumValueA delivers them
};

// A registry key and everything below it. Key paths are relative to the
// dumped key ("" is the key itself), value names as stored; lookups ignore
// case.
struct RegTree {
  bool exists = false;
  std::vector<std::string> keys;  // in the order dumped
  // key path -> value name -> value
  std::map<std::string, std::map<std::string, RegValue>> values;

  bool HasKey(const std::string& relPath) const;
  const RegValue* Value(const std::string& relPath, const std::string& name) const;
  size_t ValueCount() const;
};

struct FileEntry {
  std::string path;  // relative to the listed folder
  uint32_t attributes = 0;
  uint64_t size = 0;
  bool folder = false;
};

// One entry of PendingFileRenameOperations, paths as stored (with "\??\").
struct PendingRename {
  std::string from;
  std::string to;        // empty: delete at restart
  bool replace = false;  // the target was marked '!' (MOVEFILE_REPLACE_EXISTING)
};

struct KeySecurity {
  bool ok = false;
  uint16_t control = 0;  // SECURITY_DESCRIPTOR_CONTROL
  std::string sddl;      // the DACL as SDDL ("D:...")
};

struct VersionInfo {
  uint32_t platform = 0, major = 0, minor = 0, build = 0;
};

// ----------------------------------------------------------- relay trace
struct RelayArg {
  std::string raw;         // as printed: "140004015 \"C:\\\\x\""
  uint64_t value = 0;      // the number before any string
  bool hasText = false;    // a string followed the number
  bool wide = false;       // L"..."
  bool truncated = false;  // Wine cut the string ("...)
  std::string text;        // the string, unescaped
};

struct RelayCall {
  std::string tid;
  std::string dll;  // as Wine prints it: "KERNEL32", "user32", "ADVAPI32"
  std::string function;
  std::vector<RelayArg> args;
  bool returned = false;  // a Ret line was seen (ExitProcess has none)
  uint64_t retval = 0;
  uint64_t retAddress = 0;

  const std::string& Text(size_t i) const;  // args[i].text, "" when absent
  uint64_t Value(size_t i) const;           // args[i].value, 0 when absent
};

struct RelayTrace {
  bool found = false;  // the program's process was seen in the log
  std::string pid;
  uint64_t imageBase = 0;
  std::vector<RelayCall> calls;  // calls made from the program's own code

  std::vector<RelayCall> Named(const std::string& function) const;
  size_t Count(const std::string& function) const;
};

// Keeps, of a log written with WINEDEBUG=+pid,+loaddll,+relay, the calls that
// the program `exeName` (file name, any case) made from its own image
// (imageSize bytes from the base its loaddll line reports), with their
// results. Calls of other processes and calls between Wine's own libraries
// are dropped.
RelayTrace ParseRelayLog(const std::string& log, const std::string& exeName, uint64_t imageSize);
// SizeOfImage from a PE file's header; 0 when it cannot be read.
uint64_t PeImageSize(const std::string& hostPath);

struct MessageBoxCall {
  std::string text, caption;
  uint64_t type = 0;
};
std::vector<MessageBoxCall> MessageBoxes(const RelayTrace& trace);
// The code passed to ExitProcess from the program's code; -1 when none.
int64_t ExitProcessCode(const RelayTrace& trace);

// ----------------------------------------------------------------- INI text
// The value of `key` in `section` of an INI file's text: names compared
// without case, blanks around names and values dropped, the first entry wins.
bool IniValue(const std::string& text, const std::string& section, const std::string& key,
              std::string* value);
// The lines of a section as they stand (without the header); empty when the
// section is missing.
std::vector<std::string> IniSectionLines(const std::string& text, const std::string& section);

// ------------------------------------------------------------------- a run
struct RunResult {
  int exitCode = -1;      // the Windows program's exit code (low 8 bits, as wine passes it on)
  bool timedOut = false;  // the run was stopped; a hang, never a time check
  std::string out, err;
};

std::string ToHex(const std::string& bytes);

// Registry value types by their platform numbers.
enum : uint32_t { kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4, kRegMultiSz = 7 };
std::string DwordBytes(uint32_t v);
std::string SzBytes(const std::string& s);  // the text and its terminating zero

// ------------------------------------------------------------ the prefix
class WinePrefix {
 public:
  WinePrefix();   // a fresh copy of the template; see Ready()
  ~WinePrefix();  // ends the session, releases immutable files, removes everything
  WinePrefix(const WinePrefix&) = delete;
  WinePrefix& operator=(const WinePrefix&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Error() const { return error_; }
  const std::string& Root() const { return root_; }      // the test's own folder
  const std::string& Prefix() const { return prefix_; }  // WINEPREFIX

  // -- configuration. Drives need a new session; call before StartSession.
  // Windows version by Wine's name: win95, win98, winme, nt351, nt40, win2k,
  // winxp, win7, win10. Works before and during a session (for the programs
  // started afterwards).
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

  // -- the installer: drvsetup.exe into a source folder, run from there.
  static constexpr const char* kSourceFolder = "C:\\setup";
  bool PlaceInstaller(const std::string& folder = kSourceFolder);
  RunResult RunInstaller(const std::vector<std::string>& args);
  RunResult RunInstallerTraced(const std::vector<std::string>& args, RelayTrace* trace);

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

 private:
  struct Spawned {
    pid_t pid;
    std::string out;
  };
  std::vector<std::string> Environment(const std::string& winedebug) const;
  RunResult Exec(const std::vector<std::string>& argv, const std::string& cwd,
                 const std::string& winedebug, int timeoutSeconds = 120);
  pid_t Spawn(const std::vector<std::string>& argv, const std::string& cwd,
              const std::string& outFile);
  bool AppendRegistry(const std::string& file, const std::string& text);
  bool RegistrySection(const std::string& key, std::string* file, std::string* header);
  RunResult Launch(const std::string& commandLine, const std::string& winedebug);
  bool EnsureSession();
  std::string ProbePath();
  std::string NextFile(const std::string& stem);

  bool ready_ = false;
  bool sessionLive_ = false;
  std::string error_;
  std::string root_, prefix_;
  std::vector<Spawned> background_;
  std::string holdEvent_;
  int counter_ = 0;
};

}  // namespace winetest
