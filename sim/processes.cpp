// Processes, libraries and the process heap of the simulated machine: the
// standard processes of each version, Toolhelp snapshots and the PSAPI walk,
// LoadLibraryA with Windows' search order and GetProcAddress over the
// simulator's own functions.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "calls.h"
#include "machine.h"

namespace sim {

const uintptr_t kProcessHeapHandle = 0x00150000;

namespace {

const SIZE_T kLargestHeapBlock = SIZE_T(1) << 30;
const unsigned char kFreshHeapByte = 0xBE;  // what unzeroed heap memory holds

// Module handles inside other processes: the image, then the system's own.
const uintptr_t kImageBase = 0x00400000;
const uintptr_t kNtdllBase = 0x7C900000;
const uintptr_t kKernel32Base = 0x7C800000;

void SetError(DWORD error) { M().lastError = error; }

// ------------------------------------------------------------ process list

// Where each process id stands in m.processes. Rebuilt when it no longer
// matches the list (a reset, a restart or a removal changed it).
std::unordered_map<DWORD, size_t>& Index() {
  static std::unordered_map<DWORD, size_t> index;
  return index;
}

void RebuildIndex() {
  const Machine& m = M();
  std::unordered_map<DWORD, size_t>& index = Index();
  index.clear();
  for (size_t i = 0; i < m.processes.size(); ++i) index[m.processes[i].pid] = i;
}

ProcessSpec* FindProcess(DWORD pid) {
  Machine& m = M();
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto it = Index().find(pid);
    if (it != Index().end() && it->second < m.processes.size() &&
        m.processes[it->second].pid == pid) {
      return &m.processes[it->second];
    }
    if (Index().size() == m.processes.size() && it == Index().end()) return nullptr;
    RebuildIndex();
  }
  return nullptr;
}

// The process behind a handle opened for query and read, or the error that
// stops reading it.
DWORD ReadableProcess(HANDLE hProcess, const ProcessSpec** process) {
  const HandleObject* object =
      GetHandle(reinterpret_cast<uintptr_t>(hProcess), HandleKind::Process);
  if (!object) return ERROR_INVALID_HANDLE;
  const DWORD needed = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
  if ((object->access & needed) != needed) return ERROR_ACCESS_DENIED;
  *process = FindProcess(object->pid);
  // Ended since it was opened, or its memory cannot be read.
  if (!*process || !(*process)->modulesReadable) return ERROR_PARTIAL_COPY;
  return ERROR_SUCCESS;
}

std::string FileNamePart(const std::string& path) {
  const size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string FolderPart(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// The name a snapshot reports: the full path on the 9x family, the file name
// on the NT family, unless the process says otherwise.
std::string SnapshotName(const ProcessSpec& process) {
  if (!process.snapshotName.empty()) return process.snapshotName;
  return Is9x(M().version) ? process.imagePath : FileNamePart(process.imagePath);
}

ProcessSpec Process(DWORD pid, const std::string& imagePath, bool openable = true,
                    const std::string& snapshotName = std::string()) {
  ProcessSpec process;
  process.pid = pid;
  process.imagePath = imagePath;
  process.snapshotName = snapshotName;
  process.openable = openable;
  process.modulesReadable = openable;
  return process;
}

// ------------------------------------------------------------- libraries

// The simulator's functions by entry point name.
template <typename F>
FARPROC Entry(F* function) {
  // Through the generic function pointer type, which converts to any other.
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// Every call of the table: a library hands out those of its own that the
// version has (Library::entryPoints).
const std::unordered_map<std::string, FARPROC>& EntryPoints() {
#define SIM_CALL(name, library, versions, failing, args, result) {#name, Entry(&name)},
  static const std::unordered_map<std::string, FARPROC> table = {
#include "calls.def"
  };
#undef SIM_CALL
  return table;
}

Library MakeLibrary(const std::string& name) {
  Library library;
  library.name = name;
  library.path = M().systemFolder + "\\" + name;
  return library;
}

// The libraries always in the process: the installer imports them, so a bare
// name reaches them before any search.
bool IsPreloaded(const std::string& upperName) {
  return upperName == "KERNEL32.DLL" || upperName == "ADVAPI32.DLL" || upperName == "USER32.DLL";
}

// A system library that can be loaded (known to this version, not missing).
const Library* SystemLibrary(const std::string& fileName) {
  const Machine& m = M();
  auto it = m.libraries.find(Upper(fileName));
  if (it == m.libraries.end() || it->second.missing) return nullptr;
  return &it->second;
}

// A loaded library by its identity: a system library by name, a foreign one
// by its full path.
HMODULE LoadedModule(const std::string& identity) {
  for (auto& entry : M().handles) {
    const HandleObject& object = entry.second;
    if (object.kind == HandleKind::Library && object.library == identity) {
      return reinterpret_cast<HMODULE>(entry.first);
    }
  }
  return nullptr;
}

// One more reference to a library, loaded now or before.
HMODULE Load(const std::string& identity, const std::string& path) {
  Machine& m = M();
  m.loadedLibraryFiles.push_back(path);
  if (HMODULE loaded = LoadedModule(identity)) {
    ++GetHandle(reinterpret_cast<uintptr_t>(loaded), HandleKind::Library)->refs;
    return loaded;
  }
  HandleObject object;
  object.kind = HandleKind::Library;
  object.library = identity;
  object.path = path;
  object.refs = 1;
  return reinterpret_cast<HMODULE>(NewHandle(object));
}

HMODULE LoadSystem(const Library& library) {
  return Load(Upper(library.name), M().systemFolder + "\\" + library.name);
}

// A library file that is not one of the system's: it loads, but offers the
// simulator none of its entry points.
HMODULE LoadForeign(const std::string& fullPath) { return Load(Upper(fullPath), fullPath); }

// The full path of a library file as the file system holds it (names in
// the case they were created with), or empty when no file stands there.
std::string LibraryFile(const std::string& path) {
  const std::string full = FullPath(path);
  const Node* node = FindNode(full);
  if (!node || node->folder) return std::string();
  return FolderPart(full) + "\\" + node->name;
}

// The file name LoadLibraryA looks for: ".DLL" added when the name has no
// extension; a trailing dot means none.
std::string LibraryFileName(const std::string& name) {
  const std::string file = FileNamePart(name);
  if (!file.empty() && file.back() == '.') return name.substr(0, name.size() - 1);
  if (file.find('.') == std::string::npos) return name + ".DLL";
  return name;
}

}  // namespace

// ------------------------------------------------------- the standard set

void ResetProcesses(Machine& m) {
  const Windows v = m.version;
  const bool nt = !Is9x(v);
  const std::string windows = m.windowsFolder.empty() ? "C:\\WINDOWS" : m.windowsFolder;
  const std::string system = m.systemFolder;
  m.processes.clear();
  if (nt) {
    const DWORD systemPid = v == Windows::Win2k                           ? 8
                            : (v == Windows::NT351 || v == Windows::NT40) ? 2
                                                                          : 4;
    m.processes = {
        Process(0, "", false, "[System Process]"),
        Process(systemPid, "", false, "System"),
        Process(368, "\\SystemRoot\\System32\\smss.exe"),
        Process(592, "\\??\\" + system + "\\csrss.exe", false),
        Process(616, "\\??\\" + system + "\\winlogon.exe"),
        Process(660, system + "\\services.exe"),
        Process(672, system + "\\lsass.exe"),
        Process(1524, windows + "\\Explorer.EXE"),
        Process(1788, "C:\\SETUP\\SETUP.EXE"),
        Process(1804, "C:\\SETUP\\DRVSETUP.EXE"),
    };
    m.installerPid = 1804;
  } else {
    // The 9x family's process ids are scrambled addresses.
    m.processes = {
        Process(0xFFFDD5F9, system + "\\KERNEL32.DLL"),
        Process(0xFFFD9C39, system + "\\MSGSRV32.EXE"),
        Process(0xFFFC63E5, system + "\\MPREXE.EXE"),
        Process(0xFFFC0C5D, system + "\\MMTASK.TSK"),
        Process(0xFFFBA2C9, windows + "\\EXPLORER.EXE"),
        Process(0xFFF8BB3D, "C:\\SETUP\\SETUP.EXE"),
        Process(0xFFF8A1E1, "C:\\SETUP\\DRVSETUP.EXE"),
    };
    m.installerPid = 0xFFF8A1E1;
  }
  RebuildIndex();

  m.libraries.clear();
  m.loadedLibraryFiles.clear();
  // The libraries of this version with their entry points, from the call
  // table: a library none of whose calls the version has is not there.
  for (const CallInfo& call : Calls()) {
    if (!call.On(v)) continue;
    auto it = m.libraries.find(call.library);
    if (it == m.libraries.end()) {
      it = m.libraries.emplace(call.library, MakeLibrary(call.library)).first;
    }
    it->second.entryPoints.insert(call.name);
  }
  // Their files, where the system folder exists.
  const Node* systemNode = FindNode(system);
  if (systemNode && systemNode->folder) {
    for (const auto& entry : m.libraries) {
      const std::string path = system + "\\" + entry.second.name;
      if (!FindNode(path)) PutFile(path, "MZ " + entry.second.name);
    }
  }
}

// ------------------------------------------------------- control interface

void AddProcess(const ProcessSpec& process) {
  Machine& m = M();
  if (ProcessSpec* existing = FindProcess(process.pid)) {
    *existing = process;
    return;
  }
  m.processes.push_back(process);
  Index()[process.pid] = m.processes.size() - 1;
}

void RemoveProcess(DWORD pid) {
  Machine& m = M();
  for (auto it = m.processes.begin(); it != m.processes.end(); ++it) {
    if (it->pid == pid) {
      m.processes.erase(it);
      break;
    }
  }
  RebuildIndex();
}

void ClearProcesses() {
  Machine& m = M();
  std::vector<ProcessSpec> kept;
  for (const ProcessSpec& process : m.processes) {
    if (process.pid == m.installerPid) kept.push_back(process);
  }
  m.processes = kept;
  RebuildIndex();
}

std::vector<ProcessSpec> Processes() { return M().processes; }

void SetLibraryMissing(const std::string& library, bool missing) {
  auto it = M().libraries.find(Upper(library));
  if (it != M().libraries.end()) it->second.missing = missing;
}

void SetEntryPointMissing(const std::string& library, const std::string& entryPoint, bool missing) {
  auto it = M().libraries.find(Upper(library));
  if (it == M().libraries.end()) return;
  if (missing) {
    it->second.missingEntryPoints.insert(entryPoint);
  } else {
    it->second.missingEntryPoints.erase(entryPoint);
  }
}

std::vector<std::string> LoadedLibraryFiles() { return M().loadedLibraryFiles; }

}  // namespace sim

// ------------------------------------------------------------ Win32 calls

using namespace sim;

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
  CallRecord rec("OpenProcess", Hex(dwDesiredAccess) + ", " + std::to_string(bInheritHandle) +
                                    ", " + std::to_string(dwProcessId));
  if (rec.ShouldFail()) {
    SetError(ERROR_ACCESS_DENIED);
    return rec.Return(HANDLE(nullptr));
  }
  const ProcessSpec* process = dwProcessId ? FindProcess(dwProcessId) : nullptr;
  if (!process) {
    SetError(ERROR_INVALID_PARAMETER);
    return rec.Return(HANDLE(nullptr));
  }
  if (!process->openable) {
    SetError(ERROR_ACCESS_DENIED);
    return rec.Return(HANDLE(nullptr));
  }
  HandleObject object;
  object.kind = HandleKind::Process;
  object.pid = dwProcessId;
  object.access = dwDesiredAccess;
  object.path = process->imagePath;
  return rec.Return(reinterpret_cast<HANDLE>(NewHandle(object)));
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  CallRecord rec("CloseHandle", ResultText(static_cast<const void*>(hObject)));
  const uintptr_t handle = reinterpret_cast<uintptr_t>(hObject);
  if (GetHandle(handle, HandleKind::Process) || GetHandle(handle, HandleKind::Snapshot) ||
      GetHandle(handle, HandleKind::File)) {
    ReleaseHandle(handle);
    return rec.Return(TRUE);
  }
  SetError(ERROR_INVALID_HANDLE);
  return rec.Return(FALSE);
}

HANDLE WINAPI GetProcessHeap(void) {
  CallRecord rec("GetProcessHeap", "");
  return rec.Return(reinterpret_cast<HANDLE>(kProcessHeapHandle));
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  CallRecord rec("HeapAlloc", ResultText(static_cast<const void*>(hHeap)) + ", " + Hex(dwFlags) +
                                  ", " + std::to_string(dwBytes));
  // On failure HeapAlloc leaves the last error alone.
  if (rec.ShouldFail()) return rec.Return(LPVOID(nullptr));
  if (reinterpret_cast<uintptr_t>(hHeap) != kProcessHeapHandle || dwBytes > kLargestHeapBlock) {
    return rec.Return(LPVOID(nullptr));
  }
  void* block = NewBlock(HandleKind::Heap, dwBytes);
  std::memset(block, (dwFlags & HEAP_ZERO_MEMORY) ? 0 : kFreshHeapByte, dwBytes);
  return rec.Return(block);
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
  CallRecord rec("HeapFree", ResultText(static_cast<const void*>(hHeap)) + ", " + Hex(dwFlags) +
                                 ", " + PointerArg(lpMem));
  if (!lpMem) return rec.Return(TRUE);
  if (reinterpret_cast<uintptr_t>(hHeap) != kProcessHeapHandle ||
      !FreeBlock(lpMem, HandleKind::Heap)) {
    SetError(ERROR_INVALID_PARAMETER);
    return rec.Return(FALSE);
  }
  return rec.Return(TRUE);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  CallRecord rec("LocalFree", PointerArg(hMem));
  if (!hMem || FreeBlock(hMem, HandleKind::Local)) return rec.Return(HLOCAL(nullptr));
  SetError(ERROR_INVALID_HANDLE);
  return rec.Return(hMem);
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  CallRecord rec("LoadLibraryA", Quote(lpLibFileName));
  if (rec.ShouldFail()) {
    SetError(ERROR_MOD_NOT_FOUND);
    return rec.Return(HMODULE(nullptr));
  }
  if (!lpLibFileName || !*lpLibFileName) {
    SetError(ERROR_INVALID_PARAMETER);
    return rec.Return(HMODULE(nullptr));
  }
  Machine& m = M();
  const std::string name = LibraryFileName(lpLibFileName);
  const std::string file = FileNamePart(name);
  const bool bare = name.find_first_of("\\/:") == std::string::npos;

  if (bare) {
    // A module of that name in the process already, then the search order:
    // the installer's folder, the system folder, the windows folder.
    for (const auto& entry : m.handles) {
      const HandleObject& object = entry.second;
      if (object.kind == HandleKind::Library && Upper(FileNamePart(object.path)) == Upper(file)) {
        return rec.Return(Load(object.library, object.path));
      }
    }
    if (IsPreloaded(Upper(file))) {
      if (const Library* library = SystemLibrary(file)) return rec.Return(LoadSystem(*library));
    }
    for (const std::string& folder : {FolderPart(m.modulePath), m.systemFolder, m.windowsFolder}) {
      if (folder.empty()) continue;
      if (Upper(folder) == Upper(m.systemFolder)) {
        if (const Library* library = SystemLibrary(file)) return rec.Return(LoadSystem(*library));
        if (m.libraries.count(Upper(file))) continue;  // a system library made missing
      }
      const std::string path = LibraryFile(folder + "\\" + file);
      if (!path.empty()) return rec.Return(LoadForeign(path));
    }
  } else {
    const std::string path = FullPath(name);
    if (Upper(FolderPart(path)) == Upper(m.systemFolder) && m.libraries.count(Upper(file))) {
      if (const Library* library = SystemLibrary(file)) return rec.Return(LoadSystem(*library));
    } else if (!LibraryFile(path).empty()) {
      return rec.Return(LoadForeign(LibraryFile(path)));
    }
  }
  SetError(ERROR_MOD_NOT_FOUND);
  return rec.Return(HMODULE(nullptr));
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  const bool byOrdinal = reinterpret_cast<uintptr_t>(lpProcName) < 0x10000;
  CallRecord rec("GetProcAddress",
                 ResultText(static_cast<const void*>(hModule)) + ", " +
                     (byOrdinal ? std::to_string(reinterpret_cast<uintptr_t>(lpProcName))
                                : Quote(lpProcName)));
  FARPROC result = nullptr;
  const HandleObject* object = GetHandle(reinterpret_cast<uintptr_t>(hModule), HandleKind::Library);
  if (rec.ShouldFail()) {
    SetError(ERROR_PROC_NOT_FOUND);
  } else if (!object) {
    SetError(ERROR_MOD_NOT_FOUND);
  } else {
    SetError(ERROR_PROC_NOT_FOUND);
    auto library = M().libraries.find(object->library);
    if (!byOrdinal && library != M().libraries.end()) {
      const std::string entry = lpProcName;
      const auto& table = EntryPoints();
      auto function = table.find(entry);
      if (library->second.entryPoints.count(entry) &&
          !library->second.missingEntryPoints.count(entry) && function != table.end()) {
        result = function->second;
      }
    }
    if (result) SetError(ERROR_SUCCESS);
  }
  rec.Done(result ? "ptr" : "NULL");
  return result;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  CallRecord rec("FreeLibrary", ResultText(static_cast<const void*>(hLibModule)));
  const uintptr_t handle = reinterpret_cast<uintptr_t>(hLibModule);
  HandleObject* object = GetHandle(handle, HandleKind::Library);
  if (!object) {
    SetError(ERROR_MOD_NOT_FOUND);
    return rec.Return(FALSE);
  }
  if (--object->refs <= 0) ReleaseHandle(handle);
  return rec.Return(TRUE);
}

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID) {
  CallRecord rec("CreateToolhelp32Snapshot", Hex(dwFlags) + ", " + std::to_string(th32ProcessID));
  if (rec.ShouldFail()) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return rec.Return(INVALID_HANDLE_VALUE);
  }
  HandleObject object;
  object.kind = HandleKind::Snapshot;
  if (dwFlags & TH32CS_SNAPPROCESS) object.snapshot = M().processes;
  return rec.Return(reinterpret_cast<HANDLE>(NewHandle(object)));
}

namespace {

BOOL ProcessEntry(CallRecord& rec, HANDLE hSnapshot, LPPROCESSENTRY32 lppe, bool first) {
  HandleObject* snapshot = GetHandle(reinterpret_cast<uintptr_t>(hSnapshot), HandleKind::Snapshot);
  if (!snapshot) {
    SetError(ERROR_INVALID_HANDLE);
    return rec.Return(FALSE);
  }
  if (!lppe || lppe->dwSize < sizeof(PROCESSENTRY32)) {
    SetError(ERROR_BAD_LENGTH);
    return rec.Return(FALSE);
  }
  if (first) {
    snapshot->position = 0;
  } else if (snapshot->position < snapshot->snapshot.size()) {
    ++snapshot->position;
  }
  if (snapshot->position >= snapshot->snapshot.size()) {
    SetError(ERROR_NO_MORE_FILES);
    return rec.Return(FALSE);
  }
  const ProcessSpec& process = snapshot->snapshot[snapshot->position];
  const DWORD size = lppe->dwSize;
  std::memset(lppe, 0, sizeof(PROCESSENTRY32));
  lppe->dwSize = size;
  lppe->th32ProcessID = process.pid;
  lppe->cntThreads = 1;
  lppe->pcPriClassBase = 8;
  const std::string name = SnapshotName(process);
  std::strncpy(lppe->szExeFile, name.c_str(), MAX_PATH - 1);
  return rec.Return(TRUE);
}

}  // namespace

BOOL WINAPI Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) {
  CallRecord rec("Process32First", ResultText(static_cast<const void*>(hSnapshot)) + ", " +
                                       (lppe ? std::to_string(lppe->dwSize) : "NULL"));
  if (rec.ShouldFail()) {
    SetError(ERROR_NO_MORE_FILES);
    return rec.Return(FALSE);
  }
  return ProcessEntry(rec, hSnapshot, lppe, true);
}

BOOL WINAPI Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) {
  CallRecord rec("Process32Next", ResultText(static_cast<const void*>(hSnapshot)) + ", " +
                                      (lppe ? std::to_string(lppe->dwSize) : "NULL"));
  if (rec.ShouldFail()) {
    SetError(ERROR_NO_MORE_FILES);
    return rec.Return(FALSE);
  }
  return ProcessEntry(rec, hSnapshot, lppe, false);
}

BOOL WINAPI EnumProcesses(DWORD* lpidProcess, DWORD cb, LPDWORD lpcbNeeded) {
  CallRecord rec("EnumProcesses", PointerArg(lpidProcess) + ", " + std::to_string(cb) + ", " +
                                      PointerArg(lpcbNeeded));
  if (rec.ShouldFail()) {
    SetError(ERROR_ACCESS_DENIED);
    return rec.Return(FALSE);
  }
  if ((!lpidProcess && cb) || !lpcbNeeded) {
    SetError(ERROR_NOACCESS);
    return rec.Return(FALSE);
  }
  // As many ids as fit; the count says how many bytes were written, never
  // more than the buffer holds.
  const std::vector<ProcessSpec>& processes = M().processes;
  const size_t fit = std::min<size_t>(cb / sizeof(DWORD), processes.size());
  for (size_t i = 0; i < fit; ++i) lpidProcess[i] = processes[i].pid;
  *lpcbNeeded = static_cast<DWORD>(fit * sizeof(DWORD));
  return rec.Return(TRUE);
}

BOOL WINAPI EnumProcessModules(HANDLE hProcess, HMODULE* lphModule, DWORD cb, LPDWORD lpcbNeeded) {
  CallRecord rec("EnumProcessModules", ResultText(static_cast<const void*>(hProcess)) + ", " +
                                           PointerArg(lphModule) + ", " + std::to_string(cb) +
                                           ", " + PointerArg(lpcbNeeded));
  if (rec.ShouldFail()) {
    SetError(ERROR_PARTIAL_COPY);
    return rec.Return(FALSE);
  }
  const ProcessSpec* process = nullptr;
  const DWORD error = ReadableProcess(hProcess, &process);
  if (error != ERROR_SUCCESS) {
    SetError(error);
    return rec.Return(FALSE);
  }
  if ((!lphModule && cb) || !lpcbNeeded) {
    SetError(ERROR_NOACCESS);
    return rec.Return(FALSE);
  }
  // The main module first, then the system's.
  const uintptr_t modules[] = {kImageBase, kNtdllBase, kKernel32Base};
  const size_t count = sizeof modules / sizeof modules[0];
  const size_t fit = std::min<size_t>(cb / sizeof(HMODULE), count);
  for (size_t i = 0; i < fit; ++i) lphModule[i] = reinterpret_cast<HMODULE>(modules[i]);
  *lpcbNeeded = static_cast<DWORD>(count * sizeof(HMODULE));
  return rec.Return(TRUE);
}

DWORD WINAPI GetModuleFileNameExA(HANDLE hProcess, HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  CallRecord rec("GetModuleFileNameExA", ResultText(static_cast<const void*>(hProcess)) + ", " +
                                             ResultText(static_cast<const void*>(hModule)) + ", " +
                                             PointerArg(lpFilename) + ", " + std::to_string(nSize));
  if (rec.ShouldFail()) {
    SetError(ERROR_PARTIAL_COPY);
    return rec.Return(DWORD(0));
  }
  const ProcessSpec* process = nullptr;
  const DWORD error = ReadableProcess(hProcess, &process);
  if (error != ERROR_SUCCESS) {
    SetError(error);
    return rec.Return(DWORD(0));
  }
  if (!lpFilename || !nSize) {
    SetError(ERROR_INVALID_PARAMETER);
    return rec.Return(DWORD(0));
  }
  const uintptr_t module = reinterpret_cast<uintptr_t>(hModule);
  std::string path;
  if (module == 0 || module == kImageBase) {
    path = process->imagePath;
  } else if (module == kNtdllBase) {
    path = M().systemFolder + "\\ntdll.dll";
  } else if (module == kKernel32Base) {
    path = M().systemFolder + "\\kernel32.dll";
  } else {
    SetError(ERROR_INVALID_HANDLE);
    return rec.Return(DWORD(0));
  }
  // A name that does not fit is cut to the buffer, zero included, and the
  // answer is the buffer size.
  const size_t copied = std::min<size_t>(path.size(), nSize - 1);
  std::memcpy(lpFilename, path.data(), copied);
  lpFilename[copied] = '\0';
  return rec.Return(static_cast<DWORD>(path.size() < nSize ? path.size() : nSize));
}
