// Running-application guard: walks the running processes and looks for the
// host application in any of its editions.
#include "guard.h"

#include <cstring>
#include <string>

#include "folders.h"
#include "messages.h"

bool HostApplicationFound = false;

namespace {

#if defined(_WIN32) && !defined(_WIN64)
// The records as 32-bit Windows lays them out.
static_assert(sizeof(PROCESSENTRY32) == 296, "the snapshot record of 32-bit Windows");
static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record of 32-bit Windows");
static_assert(sizeof(HMODULE) == 4, "one module handle of 32-bit Windows");
static_assert(sizeof(DWORD) == 4, "one process identifier of 32-bit Windows");
#endif

// The process interfaces are looked up at run time: the Toolhelp functions
// are missing from Kernel32 on NT before 2000, and PSAPI.DLL is missing on the
// 9x family and on NT 3.51.
typedef HANDLE(WINAPI* CreateSnapshotProc)(DWORD flags, DWORD processId);
typedef BOOL(WINAPI* ProcessWalkProc)(HANDLE snapshot, LPPROCESSENTRY32 entry);
typedef BOOL(WINAPI* EnumProcessesProc)(DWORD* ids, DWORD bytes, LPDWORD bytesReturned);
typedef BOOL(WINAPI* EnumProcessModulesProc)(HANDLE process, HMODULE* modules, DWORD bytes,
                                             LPDWORD bytesNeeded);
typedef DWORD(WINAPI* GetModuleFileNameExProc)(HANDLE process, HMODULE module, LPSTR name,
                                               DWORD size);

const char* const kHostApplications[] = {"ORVO.EXE", "ORVOPLAY.EXE", "ORVOCLUB.EXE"};

const DWORD kFirstIdBufferBytes = 1024;
// No process list comes near this; a list that still seems cut at this size
// is taken as one that cannot be obtained.
const DWORD kLargestIdBufferBytes = 16u * 1024u * 1024u;
const DWORD kFileNameBufferSize = 260;
const DWORD kQueryAndRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

template <typename Proc>
bool LookUp(HMODULE library, const char* name, Proc* proc) {
  FARPROC address = GetProcAddress(library, name);
  if (address == NULL) return false;
  *proc = reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(address));
  return true;
}

bool SnapshotWalk(ProcessCallback callback, DWORD extra) {
  // Kernel32 is loaded into every process already, so its bare name cannot
  // reach another file.
  HMODULE kernel = LoadLibraryA("Kernel32.DLL");
  if (kernel == NULL) return false;
  CreateSnapshotProc createSnapshot = NULL;
  ProcessWalkProc first = NULL;
  ProcessWalkProc next = NULL;
  if (!LookUp(kernel, "CreateToolhelp32Snapshot", &createSnapshot) ||
      !LookUp(kernel, "Process32First", &first) || !LookUp(kernel, "Process32Next", &next)) {
    FreeLibrary(kernel);
    return false;
  }
  HANDLE snapshot = createSnapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    FreeLibrary(kernel);
    return false;
  }
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof(entry));
  entry.dwSize = sizeof(entry);
  BOOL fetched = first(snapshot, &entry);
  while (fetched) {
    const std::string name(entry.szExeFile, strnlen(entry.szExeFile, sizeof(entry.szExeFile)));
    if (!callback(entry.th32ProcessID, name.c_str(), extra)) break;
    std::memset(&entry, 0, sizeof(entry));
    entry.dwSize = sizeof(entry);
    fetched = next(snapshot, &entry);
  }
  CloseHandle(snapshot);
  FreeLibrary(kernel);
  return true;
}

// The full path of a process's main module, or the empty string when the
// process cannot be opened or read.
std::string ProcessFileName(DWORD processId, EnumProcessModulesProc enumModules,
                            GetModuleFileNameExProc moduleFileName) {
  char name[kFileNameBufferSize + 1] = {};
  HANDLE process = OpenProcess(kQueryAndRead, FALSE, processId);
  if (process == NULL) return std::string();
  HMODULE module = NULL;
  DWORD needed = 0;
  if (enumModules(process, &module, sizeof(module), &needed)) {
    if (moduleFileName(process, module, name, kFileNameBufferSize) == 0) name[0] = '\0';
  }
  CloseHandle(process);
  return std::string(name);
}

// The identifier list, in a heap buffer that grows until the list fits.
// Returns NULL when the list cannot be obtained; otherwise the caller frees
// the buffer.
DWORD* ReadProcessIds(EnumProcessesProc enumProcesses, DWORD* count) {
  HANDLE heap = GetProcessHeap();
  DWORD size = kFirstIdBufferBytes;
  for (;;) {
    DWORD* ids = static_cast<DWORD*>(HeapAlloc(heap, 0, size));
    if (ids == NULL) return NULL;
    DWORD returned = 0;
    if (!enumProcesses(ids, size, &returned)) {
      HeapFree(heap, 0, ids);
      return NULL;
    }
    if (returned < size) {
      *count = returned / sizeof(DWORD);
      return ids;
    }
    // A full buffer: the list may have been cut.
    HeapFree(heap, 0, ids);
    if (size > kLargestIdBufferBytes / 2) return NULL;
    size *= 2;
  }
}

bool IdentifierWalk(ProcessCallback callback, DWORD extra) {
  // PSAPI.DLL by its full path in the system folder: by its bare name it
  // would be searched for in the installer's own folder first.
  const std::string systemFolder = ReadSystemFolder();
  if (systemFolder.empty()) return false;
  HMODULE psapi = LoadLibraryA((systemFolder + "\\PSAPI.DLL").c_str());
  if (psapi == NULL) return false;
  EnumProcessesProc enumProcesses = NULL;
  EnumProcessModulesProc enumModules = NULL;
  GetModuleFileNameExProc moduleFileName = NULL;
  DWORD count = 0;
  DWORD* ids = NULL;
  if (LookUp(psapi, "EnumProcesses", &enumProcesses) &&
      LookUp(psapi, "EnumProcessModules", &enumModules) &&
      LookUp(psapi, "GetModuleFileNameExA", &moduleFileName)) {
    ids = ReadProcessIds(enumProcesses, &count);
  }
  if (ids == NULL) {
    FreeLibrary(psapi);
    return false;
  }
  for (DWORD i = 0; i < count; ++i) {
    const std::string name = ProcessFileName(ids[i], enumModules, moduleFileName);
    if (!callback(ids[i], name.c_str(), extra)) break;
  }
  HeapFree(GetProcessHeap(), 0, ids);
  FreeLibrary(psapi);
  return true;
}

std::string FileNamePart(const char* path) {
  const char* part = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == ':') part = p + 1;
  }
  return part;
}

}  // namespace

bool IsNt4OrLater() {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof(version));
  version.dwOSVersionInfoSize = sizeof(version);
  // Without an answer the snapshot walk is taken: it is the one that every
  // 9x version and every NT version from 2000 on provides.
  if (!GetVersionExA(&version)) return false;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 4;
}

bool EnumerateProcesses(ProcessCallback callback, DWORD extra) {
  if (callback == NULL) return false;
  return IsNt4OrLater() ? IdentifierWalk(callback, extra) : SnapshotWalk(callback, extra);
}

bool IsHostApplicationProcess(DWORD, const char* fileName, DWORD) {
  if (fileName == NULL) return true;
  std::string name = FileNamePart(fileName);
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  for (const char* host : kHostApplications) {
    if (name == host) {
      HostApplicationFound = true;
      return false;
    }
  }
  return true;
}

void StopIfHostApplicationRuns() {
  if (EnumerateProcesses(IsHostApplicationProcess, 0) && HostApplicationFound) {
    ShowInstallerMessage("Please close Orvo-Studio, restart your machine and run setup again !");
    ExitProcess(0);
  }
}
