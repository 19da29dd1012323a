// The simulated machine's core: the current machine, versions, the process's
// own identity, message boxes and running a program.
#include <cstring>

#include "machine.h"

namespace sim {

namespace {

// Thrown by ExitProcess and caught by Run: the program's end.
struct ProcessExit {
  UINT code;
};

struct VersionInfo {
  Windows version;
  const char* name;
  DWORD major, minor, build, platform;
  const char* servicePack;
};

// What GetVersionExA reports on each version (a program without a
// compatibility manifest, so Windows 10 answers as Windows 8 does). On the 9x
// family the build number carries the version in its high word.
const VersionInfo kVersions[] = {
    {Windows::Win95, "win95", 4, 0, 0x040003B6, VER_PLATFORM_WIN32_WINDOWS, ""},
    {Windows::Win98, "win98", 4, 10, 0x040A07CE, VER_PLATFORM_WIN32_WINDOWS, " A "},
    {Windows::WinMe, "winme", 4, 90, 0x045A0BB8, VER_PLATFORM_WIN32_WINDOWS, " "},
    {Windows::NT351, "nt351", 3, 51, 1057, VER_PLATFORM_WIN32_NT, "Service Pack 5"},
    {Windows::NT40, "nt40", 4, 0, 1381, VER_PLATFORM_WIN32_NT, "Service Pack 6a"},
    {Windows::Win2k, "win2k", 5, 0, 2195, VER_PLATFORM_WIN32_NT, "Service Pack 4"},
    {Windows::WinXP, "winxp", 5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3"},
    {Windows::Win7, "win7", 6, 1, 7601, VER_PLATFORM_WIN32_NT, "Service Pack 1"},
    {Windows::Win10, "win10", 6, 2, 9200, VER_PLATFORM_WIN32_NT, ""},
};

const VersionInfo& InfoOf(Windows v) {
  for (const VersionInfo& info : kVersions) {
    if (info.version == v) return info;
  }
  return kVersions[6];
}

// Windows Vista and later terminate a truncated module path and say so.
bool TerminatesTruncatedPaths(Windows v) { return v == Windows::Win7 || v == Windows::Win10; }

const char kSystemIni9x[] =
    "[boot]\r\n"
    "shell=Explorer.exe\r\n"
    "system.drv=system.drv\r\n"
    "drivers=mmsystem.dll power.drv\r\n"
    "\r\n"
    "[386Enh]\r\n"
    "ebios=*ebios\r\n"
    "woafont=dosapp.fon\r\n"
    "mouse=*vmouse, msmouse.vxd\r\n"
    "device=*dynapage\r\n"
    "device=*vcd\r\n"
    "keyboard=*vkd\r\n"
    "\r\n"
    "[drivers]\r\n"
    "wave=mmdrv.dll\r\n"
    "timer=timer.drv\r\n"
    "\r\n"
    "[vcache]\r\n";

const char kSystemIniNt[] =
    "; for 16-bit app support\r\n"
    "[386Enh]\r\n"
    "woafont=dosapp.fon\r\n"
    "EGA80WOA.FON=EGA80WOA.FON\r\n"
    "EGA40WOA.FON=EGA40WOA.FON\r\n"
    "CGA80WOA.FON=CGA80WOA.FON\r\n"
    "CGA40WOA.FON=CGA40WOA.FON\r\n"
    "\r\n"
    "[drivers]\r\n"
    "wave=mmdrv.dll\r\n"
    "timer=timer.drv\r\n"
    "\r\n"
    "[mci]\r\n";

const char kWinIni[] =
    "; for 16-bit app support\r\n"
    "[fonts]\r\n"
    "[extensions]\r\n"
    "[mci extensions]\r\n"
    "[files]\r\n"
    "[Mail]\r\n"
    "MAPI=1\r\n";

// Copies text into a caller's buffer the way the folder queries do: the
// length on success, the size needed (with its zero) when it does not fit.
UINT CopyFolder(const std::string& text, LPSTR buffer, UINT size) {
  if (!buffer || size < text.size() + 1) return static_cast<UINT>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<UINT>(text.size());
}

}  // namespace

Machine& M() {
  static Machine machine;
  return machine;
}

const char* WindowsName(Windows v) { return InfoOf(v).name; }

bool WindowsFromName(const std::string& name, Windows* out) {
  for (const VersionInfo& info : kVersions) {
    if (Upper(name) == Upper(info.name)) {
      if (out) *out = info.version;
      return true;
    }
  }
  return false;
}

bool Is9x(Windows v) { return InfoOf(v).platform == VER_PLATFORM_WIN32_WINDOWS; }

void Reset(Windows v) {
  Machine& m = M();
  DropResources(m);
  m.version = v;
  m.versionFails = false;
  m.dbcs = false;
  m.leadBytes.clear();
  m.timeZoneBias = 0;
  m.boxes.clear();
  m.boxAnswer = IDOK;
  m.lastError = ERROR_SUCCESS;
  m.trace.clear();
  m.faults.clear();
  m.stopBefore = 0;

  bool nt = !Is9x(v);
  bool oldNt = v == Windows::NT351 || v == Windows::NT40 || v == Windows::Win2k;
  m.windowsFolder = oldNt ? "C:\\WINNT" : "C:\\WINDOWS";
  m.systemFolder = m.windowsFolder + (nt ? "\\system32" : "\\SYSTEM");
  m.modulePath = "C:\\SETUP\\DRVSETUP.EXE";
  m.commandLine = "\"C:\\SETUP\\DRVSETUP.EXE\"";
  m.commandLineBuffer = m.commandLine;

  ResetFiles(m);
  MakeFolder(m.windowsFolder + "\\INF");
  if (nt) {
    MakeFolder(m.systemFolder + "\\drivers");
    MakeFolder(m.windowsFolder + "\\SYSTEM");
  } else {
    MakeFolder(m.systemFolder + "\\IOSUBSYS");
    MakeFolder(m.windowsFolder + "\\SYSTEM32\\DRIVERS");
  }
  PutFile(m.windowsFolder + "\\SYSTEM.INI", nt ? kSystemIniNt : kSystemIni9x);
  PutFile(m.windowsFolder + "\\WIN.INI", kWinIni);
  PutFile(m.modulePath, "MZ drvsetup");
  PutFile("C:\\SETUP\\SETUP.EXE", "MZ setup");

  ResetRegistry(m);
  ResetProcesses(m);
}

Windows Version() { return M().version; }

void SetVersionFails(bool fails) { M().versionFails = fails; }

void SetCommandLine(const std::string& commandLine) {
  M().commandLine = commandLine;
  M().commandLineBuffer = commandLine;
}

void SetModulePath(const std::string& installerPath) { M().modulePath = installerPath; }

void SetWindowsFolder(const std::string& path) {
  M().windowsFolder = path;
  MakeFolder(path);
}

void SetSystemFolder(const std::string& path) {
  M().systemFolder = path;
  MakeFolder(path);
}

void SetDbcs(bool enabled, const std::string& leadBytes) {
  Machine& m = M();
  m.dbcs = enabled;
  m.leadBytes.clear();
  // Single bytes, or ranges written as first '-' last.
  for (size_t i = 0; i < leadBytes.size(); ++i) {
    unsigned char first = static_cast<unsigned char>(leadBytes[i]);
    if (i + 2 < leadBytes.size() && leadBytes[i + 1] == '-') {
      unsigned char last = static_cast<unsigned char>(leadBytes[i + 2]);
      for (unsigned c = first; c <= last; ++c) m.leadBytes.insert(static_cast<unsigned char>(c));
      i += 2;
    } else {
      m.leadBytes.insert(first);
    }
  }
}

void SetTimeZoneBias(int64_t seconds) { M().timeZoneBias = seconds; }

std::string WindowsFolder() { return M().windowsFolder; }

std::string SystemFolder() { return M().systemFolder; }

std::vector<Box> Boxes() { return M().boxes; }

void SetBoxAnswer(int answer) { M().boxAnswer = answer; }

RunResult Run(void (*entry)()) {
  RunResult result;
  M().lastError = ERROR_SUCCESS;
  if (!entry) return result;
  try {
    entry();
  } catch (const ProcessExit& exit) {
    result.exited = true;
    result.exitCode = exit.code;
  } catch (const ProcessStop&) {
    // The process died: the platform takes back what it held.
    result.stopped = true;
    DropResources(M());
  }
  return result;
}

}  // namespace sim

// ------------------------------------------------------------ Win32 calls

using namespace sim;

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  CallRecord rec("GetVersionExA", PointerArg(lpVersionInformation));
  Machine& m = M();
  auto fail = [&](DWORD error) {
    m.lastError = error;
    return rec.Return<BOOL>(FALSE);
  };
  if (rec.ShouldFail() || m.versionFails) return fail(ERROR_INVALID_PARAMETER);
  if (!lpVersionInformation) return fail(ERROR_INVALID_PARAMETER);
  // The plain record (148 bytes) and the extended one (156) are accepted.
  DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOA) + 8)
    return fail(ERROR_INSUFFICIENT_BUFFER);
  const VersionInfo& info = InfoOf(m.version);
  lpVersionInformation->dwMajorVersion = info.major;
  lpVersionInformation->dwMinorVersion = info.minor;
  lpVersionInformation->dwBuildNumber = info.build;
  lpVersionInformation->dwPlatformId = info.platform;
  std::memset(lpVersionInformation->szCSDVersion, 0, sizeof(lpVersionInformation->szCSDVersion));
  std::strncpy(lpVersionInformation->szCSDVersion, info.servicePack,
               sizeof(lpVersionInformation->szCSDVersion) - 1);
  return rec.Return<BOOL>(TRUE);
}

LPSTR WINAPI GetCommandLineA(void) {
  CallRecord rec("GetCommandLineA", "");
  std::string& line = M().commandLineBuffer;
  LPSTR text = &line[0];
  rec.Done(Quote(text));
  return text;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  CallRecord rec("GetModuleFileNameA", ResultText(static_cast<const void*>(hModule)) + ", " +
                                           PointerArg(lpFilename) + ", " + std::to_string(nSize));
  Machine& m = M();
  auto fail = [&](DWORD error) {
    m.lastError = error;
    return rec.Return<DWORD>(0);
  };
  if (rec.ShouldFail()) return fail(ERROR_ACCESS_DENIED);
  std::string path;
  if (!hModule) {
    path = m.modulePath;
  } else {
    HandleObject* object = GetHandle(reinterpret_cast<uintptr_t>(hModule), HandleKind::Library);
    if (!object) return fail(ERROR_MOD_NOT_FOUND);
    auto it = m.libraries.find(Upper(object->library));
    if (it == m.libraries.end()) return fail(ERROR_MOD_NOT_FOUND);
    path = it->second.path;
  }
  if (!lpFilename) return fail(ERROR_INVALID_PARAMETER);
  if (nSize == 0) {
    if (TerminatesTruncatedPaths(m.version)) m.lastError = ERROR_INSUFFICIENT_BUFFER;
    return rec.Return<DWORD>(0);
  }
  if (path.size() < nSize) {
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return rec.Return<DWORD>(static_cast<DWORD>(path.size()));
  }
  if (TerminatesTruncatedPaths(m.version)) {
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    m.lastError = ERROR_INSUFFICIENT_BUFFER;
  } else {
    // Windows XP and earlier fill the whole buffer and add no zero.
    std::memcpy(lpFilename, path.data(), nSize);
  }
  return rec.Return<DWORD>(nSize);
}

namespace {

// GetSystemDirectoryA and GetWindowsDirectoryA: one folder into the buffer.
UINT FolderCall(const char* function, const std::string& folder, LPSTR buffer, UINT size) {
  CallRecord rec(function, PointerArg(buffer) + ", " + std::to_string(size));
  if (rec.ShouldFail()) {
    M().lastError = ERROR_ACCESS_DENIED;
    return rec.Return<UINT>(0);
  }
  return rec.Return<UINT>(CopyFolder(folder, buffer, size));
}

}  // namespace

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return FolderCall("GetSystemDirectoryA", M().systemFolder, lpBuffer, uSize);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return FolderCall("GetWindowsDirectoryA", M().windowsFolder, lpBuffer, uSize);
}

int WINAPI GetSystemMetrics(int nIndex) {
  CallRecord rec("GetSystemMetrics", std::to_string(nIndex));
  if (rec.ShouldFail()) return rec.Return<int>(0);
  int value = 0;
  if (nIndex == SM_DBCSENABLED) value = M().dbcs ? 1 : 0;
  return rec.Return<int>(value);
}

BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) {
  CallRecord rec("IsDBCSLeadByte", Hex(TestChar));
  if (rec.ShouldFail()) return rec.Return<BOOL>(FALSE);
  Machine& m = M();
  BOOL lead = m.dbcs && m.leadBytes.count(TestChar) ? TRUE : FALSE;
  return rec.Return<BOOL>(lead);
}

DWORD WINAPI GetLastError(void) {
  CallRecord rec("GetLastError", "");
  return rec.Return<DWORD>(M().lastError);
}

void WINAPI SetLastError(DWORD dwErrCode) {
  CallRecord rec("SetLastError", std::to_string(dwErrCode));
  M().lastError = dwErrCode;
  rec.Done("");
}

void WINAPI ExitProcess(UINT uExitCode) {
  CallRecord rec("ExitProcess", std::to_string(uExitCode));
  rec.Done("");
  throw ProcessExit{uExitCode};
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  CallRecord rec("MessageBoxA", ResultText(static_cast<const void*>(hWnd)) + ", " + Quote(lpText) +
                                    ", " + Quote(lpCaption) + ", " + Hex(uType));
  Machine& m = M();
  if (rec.ShouldFail()) {
    m.lastError = ERROR_NOT_ENOUGH_MEMORY;
    return rec.Return<int>(0);
  }
  Box box;
  box.owner = hWnd;
  box.text = lpText ? lpText : "";
  // A box without a caption is titled "Error".
  box.caption = lpCaption ? lpCaption : "Error";
  box.type = uType;
  m.boxes.push_back(box);
  return rec.Return<int>(m.boxAnswer);
}
