// The simulated Windows machine: control interface for tests and tools.
//
// The installer calls the platform by its Win32 names (platform.h); on Linux
// those names are implemented here, over one current machine. This header is
// how a test or a tool builds that machine, runs the installer on it, makes
// calls fail, and reads back what happened. Nothing here is traced: only the
// Win32 entry points record calls.
//
// Adding one more Win32 call (say FooA of kernel32) takes four steps:
//   1. Declaration: in the simulated branch of include/platform.h, under
//      its library's heading, with the constants, structures and error codes
//      it needs (the Windows branch has them from <windows.h>).
//   2. Implementation: in the area file of sim/ it belongs to (files.cpp,
//      profile.cpp, registry.cpp, security.cpp, processes.cpp, machine.cpp),
//      below its "Win32 calls" line, with the signature platform.h declares.
//      Its first statement records the call, with the arguments as trace
//      text (Quote, Hex, PointerArg, KeyArg); that puts it in the trace and
//      asks the fault plan:
//      - a registry call starts with a KeyCall (registry.cpp) and returns
//        its status through call.Return; Begin refuses a fault, a bad handle
//        and a missing right on the NT family. Like Windows, a registry call
//        leaves the last error alone. One that changes a key's values,
//        access list or subkeys notes it (NoteKeyChange, machine.h): a
//        preview's comparison passes over keys with no change noted;
//      - a file call starts with a FileCall (files.cpp), any other call with
//        a CallRecord (machine.h); when it fails (call.Fail, or
//        rec.ShouldFail()) it sets the last error and returns the failure
//        result Windows gives, and every result goes through Return so that
//        the trace holds it.
//      Handles and memory it hands out are counted through handles.h; only
//      a new kind of handle also needs its letter among the argument kinds
//      (calls.def) and its naming in tests/prove/trace_compare.cpp.
//   3. Table row: one SIM_CALL line in sim/calls.def, under its library:
//      the versions that have it, whether it can fail (kNeverFails for a
//      call that releases what another obtained, or that cannot fail on
//      Windows), and its argument and result kinds. The row gives the call
//      its entry point in the library on those versions (GetProcAddress
//      hands out every row), the fault plan's rule, its signature for the
//      comparison with Wine, and its rename in the Windows preview build.
//   4. Test: in tests/sim/<area>_test.cpp, the Windows behaviour of the call
//      on both families and its failures. tests/sim/calls_test.cpp checks
//      that every declaration has its row and every row its declaration.
// When a program built for Windows imports the call, its line also goes into
// tests/pe/imports.txt, with the oldest Windows of each family that has it;
// the pe tests hold the table's versions to that line.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform.h"

namespace sim {

// ---------------------------------------------------------------- versions
enum class Windows { Win95, Win98, WinMe, NT351, NT40, Win2k, WinXP, Win7, Win10 };

// "win95", "win98", "winme", "nt351", "nt40", "win2k", "winxp", "win7",
// "win10": the names Wine uses for its Version setting.
const char* WindowsName(Windows v);
bool WindowsFromName(const std::string& name, Windows* out);
bool Is9x(Windows v);

// -------------------------------------------------------------- the machine
// Throws away the current machine and builds a standard one of the given
// version:
//   - drive C: fixed; every other letter has no root (DRIVE_NO_ROOT_DIR);
//   - 9x:  windows folder "C:\WINDOWS", system folder "C:\WINDOWS\SYSTEM",
//          with INF, SYSTEM\IOSUBSYS, SYSTEM32\DRIVERS below the windows folder;
//     NT:  "C:\WINNT" (NT 3.51, NT 4, 2000) or "C:\WINDOWS" (XP and later),
//          system folder <windows>\system32 with drivers below it, INF and
//          SYSTEM below the windows folder;
//   - SYSTEM.INI and WIN.INI in the windows folder, no Wininit.ini;
//   - the installer at "C:\SETUP\DRVSETUP.EXE", started with the command line
//     "\"C:\SETUP\DRVSETUP.EXE\"" (so the source folder is "C:\SETUP\");
//   - the system libraries of that version with their entry points (no
//     Toolhelp on NT 3.51 and NT 4, no PSAPI.DLL on the 9x family and NT 3.51);
//   - the platform's own processes, the setup program that started the
//     installer, and the installer itself;
//   - a registry with the standard keys of that version and each user's
//     key with an empty Software key below it (nothing of any product); on the NT family
//     access lists as Windows ships them (Enum\Root readable but not writable
//     by Administrators, its owner may change its DACL), the running user an
//     administrator;
//   - no faults, an empty trace, message boxes answered with IDOK.
void Reset(Windows v = Windows::WinXP);
Windows Version();

// GetVersionExA fails (returns FALSE) while this is set.
void SetVersionFails(bool fails);
void SetCommandLine(const std::string& commandLine);
void SetModulePath(const std::string& installerPath);
void SetWindowsFolder(const std::string& path);  // created when missing
void SetSystemFolder(const std::string& path);   // created when missing
// Double-byte character support: GetSystemMetrics(SM_DBCSENABLED) and the
// lead bytes IsDBCSLeadByte reports (for example "\x81-\x9f\xe0-\xfc" as a
// list of bytes).
void SetDbcs(bool enabled, const std::string& leadBytes = std::string());
// Local time = UTC + bias (seconds); FileTimeToLocalFileTime uses it.
void SetTimeZoneBias(int64_t seconds);

// ---------------------------------------------------------- drives and files
// A drive's type (DRIVE_*). A CD-ROM drive without a disc answers
// DRIVE_CDROM but holds nothing (ERROR_NOT_READY).
void SetDrive(char letter, UINT type, bool mediumPresent = true);

// Times are FILETIME values (100 ns since 1601-01-01 UTC).
uint64_t FileTimeOf(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
const uint64_t kDefaultFileTime = 133485408000000000ull;  // 2024-01-01 00:00 UTC

// Paths are Windows paths ("C:\A\B"); lookups ignore case, names keep the
// case they were created with.
void MakeFolder(const std::string& path);  // with every missing parent
void PutFile(const std::string& path, const std::string& data,
             DWORD attributes = FILE_ATTRIBUTE_ARCHIVE, uint64_t lastWrite = kDefaultFileTime);
bool FileData(const std::string& path, std::string* data);  // false when no file
DWORD Attributes(const std::string& path);                  // INVALID_FILE_ATTRIBUTES if none
void SetAttributes(const std::string& path, DWORD attributes);
void SetLastWrite(const std::string& path, uint64_t lastWrite);
bool Exists(const std::string& path);  // file or folder
bool IsFolder(const std::string& path);
void Remove(const std::string& path);  // a file, or a folder with everything below it
// A locked file is held open without sharing by another process: copies onto
// it, from it, and its deletion fail with ERROR_SHARING_VIOLATION.
void SetLocked(const std::string& path, bool locked);
// Every file below a folder (recursively), with its path as stored.
std::vector<std::string> ListFiles(const std::string& folder = std::string());

// ---------------------------------------------------------------- INI files
// INI files are ordinary files; these read and write their text directly.
// An INI file is unwritable to the profile API when it is read-only, locked,
// or when a folder stands at its path.
void PutIni(const std::string& path, const std::string& text);
std::string IniText(const std::string& path);  // empty when missing
// One entry by the profile API's lookup rules (case-insensitive); false when
// absent.
bool IniValue(const std::string& path, const std::string& section, const std::string& key,
              std::string* value);
std::string WindowsFolder();  // as GetWindowsDirectoryA reports it
std::string SystemFolder();

// ---------------------------------------------------------------- registry
struct Value {
  DWORD type = REG_NONE;
  std::string data;  // the exact bytes
};
// Roots are the predefined handles; HKEY_CURRENT_USER is the running user's
// key below HKEY_USERS. Key paths use backslashes; a trailing one is ignored.
void RegPutKey(HKEY root, const std::string& key);
void RegPut(HKEY root, const std::string& key, const std::string& name, DWORD type,
            const std::string& data);
void RegPutString(HKEY root, const std::string& key, const std::string& name,
                  const std::string& text);  // REG_SZ, with its terminating zero
void RegPutDword(HKEY root, const std::string& key, const std::string& name, DWORD number);
bool RegGet(HKEY root, const std::string& key, const std::string& name, Value* out);
bool RegKeyExists(HKEY root, const std::string& key);
std::vector<std::string> RegSubkeys(HKEY root, const std::string& key);     // in index order
std::vector<std::string> RegValueNames(HKEY root, const std::string& key);  // in index order
void RegRemoveKey(HKEY root, const std::string& key);                       // with its subtree
std::string CurrentUserSid();            // the key name of HKEY_CURRENT_USER below HKEY_USERS
std::string StringOf(const char* text);  // text with its terminating zero, as REG_SZ stores it
std::string DwordOf(DWORD number);       // the four bytes of REG_DWORD

// -------------------------------------------------------- registry security
// One access-control entry; sid in string form ("S-1-1-0").
struct Ace {
  BYTE type = ACCESS_ALLOWED_ACE_TYPE;
  BYTE flags = 0;
  DWORD mask = 0;
  std::string sid;
  bool operator==(const Ace& o) const {
    return type == o.type && flags == o.flags && mask == o.mask && sid == o.sid;
  }
};
struct KeySecurity {
  std::string owner;  // SID string
  bool daclPresent = true;
  bool isProtected = false;
  std::vector<Ace> dacl;  // explicit entries first, inherited ones after
  bool operator==(const KeySecurity& o) const {
    return owner == o.owner && daclPresent == o.daclPresent && isProtected == o.isProtected &&
           dacl == o.dacl;
  }
};
KeySecurity GetKeySecurity(HKEY root, const std::string& key);
void SetKeySecurity(HKEY root, const std::string& key, const KeySecurity& security);
// Whether the running user may open the key with the given access.
bool UserMayAccess(HKEY root, const std::string& key, DWORD access);
// The running user's groups besides Everyone ("S-1-5-32-544" administrators,
// "S-1-5-32-545" users, ...). Reset makes the user an administrator.
void SetUserGroups(const std::vector<std::string>& sids);
std::string SecurityText(const KeySecurity& security);  // readable, one line

// One key of a registry walk: its path below the walk's root ("" for the
// root itself, names as created), its values in index order and, when
// asked for, its access list (the key's own, for this visit only).
// `unchanged`: the key and every key below it are as they were at the walk's
// mark; nothing else is given and the keys below are not visited.
struct KeyRecord {
  std::string path;
  bool unchanged = false;
  std::vector<std::pair<std::string, Value>> values;
  const KeySecurity* security = nullptr;
};
// A mark of the registry as it stands, for WalkRegistry.
uint64_t RegistryMark();
// Visits the root's key and every key below it, each before its subkeys and
// subkeys in index order, in time linear in the keys and values. Given a
// mark, the keys that stayed as they were since are passed over, each tree
// of them visited once as unchanged: the cost is that of what changed.
void WalkRegistry(HKEY root, bool withSecurity, const std::function<void(KeyRecord&)>& visit,
                  uint64_t mark = 0);
// A mark with the state of every key then, for tests to hold the mark to its
// promise: ChangedBehindMark gives the first tree that a walk from the mark
// passes over as unchanged but that is not as it was, or "".
struct RegistryAtMark {
  uint64_t mark = 0;
  std::map<std::string, std::string> keys;  // full path: values and access list
};
RegistryAtMark TakeRegistryAtMark();
std::string ChangedBehindMark(const RegistryAtMark& at);

// ---------------------------------------------------- processes and libraries
struct ProcessSpec {
  DWORD pid = 0;
  std::string imagePath;  // full path of the main module
  // Name the Toolhelp snapshot reports; empty: the full path on the 9x
  // family, the file name part on the NT family.
  std::string snapshotName;
  bool openable = true;         // OpenProcess with query and read access
  bool modulesReadable = true;  // EnumProcessModules / GetModuleFileNameExA
};
void AddProcess(const ProcessSpec& process);
void RemoveProcess(DWORD pid);
void ClearProcesses();  // removes every process but the installer itself
std::vector<ProcessSpec> Processes();

// A library ("PSAPI.DLL") or one of its entry points can be made missing.
void SetLibraryMissing(const std::string& library, bool missing);
void SetEntryPointMissing(const std::string& library, const std::string& entryPoint, bool missing);
// Full paths of the library files that LoadLibraryA loaded, in order (the
// search order of Windows decides which file a bare name gets).
std::vector<std::string> LoadedLibraryFiles();

// ------------------------------------------------------------ message boxes
struct Box {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT type = 0;
};
std::vector<Box> Boxes();
void SetBoxAnswer(int answer);

// ----------------------------------------------------------- running a program
struct RunResult {
  bool exited = false;  // ExitProcess was called
  UINT exitCode = 0;
  bool stopped = false;  // the process stopped at the power-loss point
};
// Runs a program on the current machine: calls entry, and returns when it
// returns or calls ExitProcess. Message boxes, the trace and counters keep
// what earlier runs left; ClearTrace and friends start afresh.
RunResult Run(void (*entry)());

// ---------------------------------------------------- restart and pending work
// The NT family's pending renames (PendingFileRenameOperations), as pairs of
// (existing path, new path) exactly as stored, "\??\" and "!" prefixes
// included; new path empty for a delete.
std::vector<std::pair<std::string, std::string>> PendingRenames();
// Restart: the pending renames, then Wininit.ini's [RENAME] section, are
// carried out in order (and removed); processes other than the platform's own
// end; open handles are dropped.
void Restart();

// ---------------------------------------------------------- trace and faults
struct Call {
  std::string function;   // "CopyFileA"
  std::string args;       // arguments as text, strings quoted: "\"C:\\A\", \"C:\\B\", 0"
  std::string result;     // the return value as text
  DWORD lastError = 0;    // GetLastError after the call
  bool injected = false;  // failed by the fault plan
};
const std::vector<Call>& Trace();
void ClearTrace();
size_t CallCount();       // calls since the last ClearTrace
std::string TraceText();  // one call a line

// Fault plan: a call fails the way it fails on Windows (its error result and
// last error) when any rule matches. The calls whose row in sim/calls.def
// says kNeverFails (those that release what another obtained, and the few
// that cannot fail on Windows) never fail.
void FailCall(size_t index);  // the index-th call (1-based) since ClearTrace
// Every call from the index-th on (a full disk or registry hive).
void FailCallsFrom(size_t index);
void FailFunction(const std::string& function, const std::string& argContains = std::string(),
                  size_t times = SIZE_MAX);
// Power loss (or the process killed): the process stops right before the
// index-th call (1-based) since ClearTrace. That call and everything after it
// never happen; each call before it is complete. Run returns with stopped
// set, and what the process held (handles, keys, libraries, heap) is released
// as when a process dies, so none of it counts as outstanding.
void StopBeforeCall(size_t index);
// Clears the fault rules and the stop point.
void ClearFaults();
// Whether a call of this name can be failed by the plan.
bool IsFailable(const std::string& function);

// ------------------------------------------------------- resource accounting
// Resources obtained and not yet released, by kind: "key", "find", "snapshot",
// "process", "library", "heap", "sid", "local", "file".
std::map<std::string, int> Outstanding();
bool NothingOutstanding();
std::string OutstandingText();

// ------------------------------------------------------------ dumps and diffs
// The machine as readable text: the file list with attributes, sizes and
// times (short text contents shown), INI files, the registry as REGEDIT4,
// explicit key security, pending renames.
std::string Dump();
// Lines only in a ("- ") and only in b ("+ "), in order; empty when equal.
std::string DiffDumps(const std::string& a, const std::string& b);
std::string RegistryText(HKEY root = nullptr, const std::string& key = std::string());  // REGEDIT4

}  // namespace sim
