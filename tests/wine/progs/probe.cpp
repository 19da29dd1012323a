// probe.exe: reads and prepares the state of a Wine prefix from inside a
// session, for the Wine tests. One command per start; the output is one
// record per line, fields separated by tabs, and the helper in
// tests/wine/wine_prefix.cpp parses it.
//
// Texts in the output (key paths, value names, file names) are escaped: a
// byte below 0x20, from 0x7F up, or '%' is written as %HH.
//
//   probe version                          V platform major minor build
//   probe drivetype ROOT                   T type
//   probe regdump KEY                      K relpath / V relpath name type size hex
//   probe regset KEY NAME TYPE HEX         (creates the key when missing)
//   probe regdelete KEY                    (the key and everything below it)
//   probe pending                          R from to   (one line per entry)
//   probe sddl OBJECTNAME                  C control / S sddl
//   probe setsddl OBJECTNAME SDDL          (the DACL of SDDL, as SetNamedSecurityInfoA
//                                           with DACL_SECURITY_INFORMATION alone sets it)
//   probe attrs PATH                       A attributes
//   probe setattrs PATH ATTRIBUTES
//   probe copy FROM TO                     (CopyFileA, overwriting)
//   probe movelater FROM TO                (MoveFileExA with flags 5)
//   probe msgbox TEXT CAPTION              B answer
//   probe exit CODE                        (ExitProcess)
//   probe files FOLDER                     D relpath attrs / F relpath attrs size
//   probe hold PATH EVENT                  H (then waits for EVENT)
//   probe signal EVENT
//   probe procs                            P pid name
//   probe launch CMDFILE                   X exitcode (runs the command line in CMDFILE)
//
// KEY is a root (HKLM, HKCU, HKU, HKCR or their long names) followed by a
// backslash and a path. Exit code 0 on success, 2 when the object is missing,
// 1 on any other failure (with "E code" printed).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Escape(const char* data, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c < 0x20 || c >= 0x7f || c == '%') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Escape(const std::string& s) { return Escape(s.data(), s.size()); }

std::string Hex(const BYTE* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

bool FromHex(const char* text, std::vector<BYTE>* out) {
  size_t n = std::strlen(text);
  if (n % 2) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < n; i += 2) {
    int hi = nibble(text[i]), lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<BYTE>(hi * 16 + lo));
  }
  return true;
}

int Fail(DWORD code) {
  std::printf("E\t%lu\n", static_cast<unsigned long>(code));
  return 1;
}

int Missing() {
  std::printf("M\n");
  return 2;
}

bool SplitKey(const std::string& spec, HKEY* root, std::string* path) {
  static const struct {
    const char* name;
    HKEY key;
  } roots[] = {{"HKLM", HKEY_LOCAL_MACHINE},  {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
               {"HKCU", HKEY_CURRENT_USER},   {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
               {"HKU", HKEY_USERS},           {"HKEY_USERS", HKEY_USERS},
               {"HKCR", HKEY_CLASSES_ROOT},   {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
               {"HKCC", HKEY_CURRENT_CONFIG}, {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}};
  size_t cut = spec.find('\\');
  std::string head = spec.substr(0, cut);
  for (const auto& r : roots) {
    if (lstrcmpiA(head.c_str(), r.name) == 0) {
      *root = r.key;
      *path = cut == std::string::npos ? std::string() : spec.substr(cut + 1);
      return true;
    }
  }
  return false;
}

void DumpKey(HKEY key, const std::string& rel) {
  std::printf("K\t%s\n", Escape(rel).c_str());
  DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values,
                       &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS)
    return;
  std::vector<char> name(maxName + 2);
  std::vector<BYTE> data(maxData + 2);
  for (DWORD i = 0; i < values; ++i) {
    DWORD nameLen = static_cast<DWORD>(name.size()), dataLen = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LONG rc = RegEnumValueA(key, i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
    if (rc == ERROR_MORE_DATA) {
      // The ANSI forms can need more room than the key reported.
      name.resize(name.size() * 2 + 512);
      data.resize(data.size() * 2 + 512);
      nameLen = static_cast<DWORD>(name.size());
      dataLen = static_cast<DWORD>(data.size());
      rc = RegEnumValueA(key, i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
    }
    if (rc != ERROR_SUCCESS) continue;
    std::printf("V\t%s\t%s\t%lu\t%lu\t%s\n", Escape(rel).c_str(),
                Escape(name.data(), nameLen).c_str(), static_cast<unsigned long>(type),
                static_cast<unsigned long>(dataLen), Hex(data.data(), dataLen).c_str());
  }
  std::vector<char> sub(maxSubkey + 2);
  for (DWORD i = 0; i < subkeys; ++i) {
    DWORD len = static_cast<DWORD>(sub.size());
    if (RegEnumKeyExA(key, i, sub.data(), &len, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      continue;
    std::string child(sub.data(), len);
    HKEY h;
    if (RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
      std::printf("K\t%s\n", Escape(rel.empty() ? child : rel + "\\" + child).c_str());
      continue;
    }
    DumpKey(h, rel.empty() ? child : rel + "\\" + child);
    RegCloseKey(h);
  }
}

int RegDump(const std::string& spec) {
  HKEY root, key;
  std::string path;
  if (!SplitKey(spec, &root, &path)) return Fail(ERROR_INVALID_PARAMETER);
  LONG rc = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
  if (rc == ERROR_FILE_NOT_FOUND) return Missing();
  if (rc != ERROR_SUCCESS) return Fail(rc);
  DumpKey(key, std::string());
  RegCloseKey(key);
  return 0;
}

int RegSet(const std::string& spec, const char* name, const char* type, const char* hex) {
  HKEY root, key;
  std::string path;
  std::vector<BYTE> data;
  if (!SplitKey(spec, &root, &path) || !FromHex(hex, &data)) return Fail(ERROR_INVALID_PARAMETER);
  LONG rc =
      RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return Fail(rc);
  rc = RegSetValueExA(key, name, 0, std::strtoul(type, nullptr, 0), data.data(),
                      static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? 0 : Fail(rc);
}

int RegDelete(const std::string& spec) {
  HKEY root;
  std::string path;
  if (!SplitKey(spec, &root, &path) || path.empty()) return Fail(ERROR_INVALID_PARAMETER);
  LONG rc = RegDeleteTreeA(root, path.c_str());  // the key itself goes too
  if (rc == ERROR_FILE_NOT_FOUND) return Missing();
  return rc == ERROR_SUCCESS ? 0 : Fail(rc);
}

int Pending() {
  HKEY key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                          0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) return Fail(rc);
  DWORD type = 0, size = 0;
  rc = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size);
  if (rc == ERROR_FILE_NOT_FOUND) {
    RegCloseKey(key);
    return 0;  // an empty list
  }
  std::vector<char> data(size + 2, 0);
  rc = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                        reinterpret_cast<BYTE*>(data.data()), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return Fail(rc);
  // Pairs of zero-terminated strings: existing path, new path ("" = delete,
  // a leading '!' = replace an existing target).
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos < size) {
    size_t len = strnlen(data.data() + pos, size - pos);
    parts.emplace_back(data.data() + pos, len);
    pos += len + 1;
  }
  while (!parts.empty() && parts.back().empty()) parts.pop_back();
  if (parts.size() % 2) parts.emplace_back();
  for (size_t i = 0; i < parts.size(); i += 2)
    std::printf("R\t%s\t%s\n", Escape(parts[i]).c_str(), Escape(parts[i + 1]).c_str());
  return 0;
}

int Sddl(const char* object) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  PACL dacl = nullptr;
  DWORD rc = GetNamedSecurityInfoA(object, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                   nullptr, &dacl, nullptr, &sd);
  if (rc == ERROR_FILE_NOT_FOUND) return Missing();
  if (rc != ERROR_SUCCESS) return Fail(rc);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd, &control, &revision);
  LPSTR text = nullptr;
  BOOL ok = ConvertSecurityDescriptorToStringSecurityDescriptorA(
      sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
  std::printf("C\t0x%04x\n", control);
  std::printf("S\t%s\n", ok && text ? text : "");
  if (text) LocalFree(text);
  LocalFree(sd);
  return ok ? 0 : Fail(GetLastError());
}

int SetSddl(const char* object, const char* sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr))
    return Fail(GetLastError());
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  DWORD rc = ERROR_INVALID_PARAMETER;
  if (GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted))
    rc =
        SetNamedSecurityInfoA(const_cast<char*>(object), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, present ? dacl : nullptr, nullptr);
  LocalFree(sd);
  if (rc == ERROR_FILE_NOT_FOUND) return Missing();
  return rc == ERROR_SUCCESS ? 0 : Fail(rc);
}

int Attrs(const char* path) {
  DWORD a = GetFileAttributesA(path);
  if (a == INVALID_FILE_ATTRIBUTES) {
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? Missing() : Fail(e);
  }
  std::printf("A\t0x%08lx\n", static_cast<unsigned long>(a));
  return 0;
}

int SetAttrs(const char* path, const char* attributes) {
  if (!SetFileAttributesA(path, std::strtoul(attributes, nullptr, 0))) return Fail(GetLastError());
  return 0;
}

int Copy(const char* from, const char* to) {
  if (!CopyFileA(from, to, FALSE)) return Fail(GetLastError());
  return 0;
}

int MoveLater(const char* from, const char* to) {
  if (!MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
    return Fail(GetLastError());
  return 0;
}

void ListFolder(const std::string& folder, const std::string& rel) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> subfolders;
  do {
    if (!std::strcmp(fd.cFileName, ".") || !std::strcmp(fd.cFileName, "..")) continue;
    std::string r = rel.empty() ? fd.cFileName : rel + "\\" + fd.cFileName;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      std::printf("D\t%s\t0x%08lx\n", Escape(r).c_str(),
                  static_cast<unsigned long>(fd.dwFileAttributes));
      subfolders.push_back(fd.cFileName);
    } else {
      unsigned long long size =
          (static_cast<unsigned long long>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
      std::printf("F\t%s\t0x%08lx\t%llu\n", Escape(r).c_str(),
                  static_cast<unsigned long>(fd.dwFileAttributes), size);
    }
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  for (const auto& s : subfolders) ListFolder(folder + "\\" + s, rel.empty() ? s : rel + "\\" + s);
}

int Files(std::string folder) {
  while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  DWORD a = GetFileAttributesA(folder.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return Missing();
  if (folder.back() == '\\') folder.pop_back();
  ListFolder(folder, std::string());
  return 0;
}

int Hold(const char* path, const char* eventName) {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, eventName);
  if (!release) return Fail(GetLastError());
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    CloseHandle(release);
    return Fail(e);
  }
  std::printf("H\n");
  std::fflush(stdout);
  WaitForSingleObject(release, INFINITE);
  CloseHandle(file);
  CloseHandle(release);
  return 0;
}

int Signal(const char* eventName) {
  HANDLE e = OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName);
  if (!e) return Missing();
  SetEvent(e);
  CloseHandle(e);
  return 0;
}

int Procs() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return Fail(GetLastError());
  PROCESSENTRY32 pe;
  pe.dwSize = sizeof pe;
  for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe)) {
    std::printf("P\t%lu\t%s\n", static_cast<unsigned long>(pe.th32ProcessID),
                Escape(pe.szExeFile).c_str());
    pe.dwSize = sizeof pe;
  }
  CloseHandle(snap);
  return 0;
}

int Launch(const char* commandFile) {
  HANDLE f = CreateFileA(commandFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return Fail(GetLastError());
  std::string line;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) line.append(buf, got);
  CloseHandle(f);
  std::vector<char> cmd(line.begin(), line.end());
  cmd.push_back(0);
  STARTUPINFOA si;
  std::memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return Fail(GetLastError());
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::printf("X\t%lu\n", static_cast<unsigned long>(code));
  return static_cast<int>(code);
}

int Version() {
  OSVERSIONINFOA vi;
  std::memset(&vi, 0, sizeof vi);
  vi.dwOSVersionInfoSize = sizeof vi;
  if (!GetVersionExA(&vi)) return Fail(GetLastError());
  std::printf("V\t%lu\t%lu\t%lu\t%lu\n", static_cast<unsigned long>(vi.dwPlatformId),
              static_cast<unsigned long>(vi.dwMajorVersion),
              static_cast<unsigned long>(vi.dwMinorVersion),
              static_cast<unsigned long>(vi.dwBuildNumber));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: probe COMMAND ARGS...\n");
    return 1;
  }
  std::string cmd = argv[1];
  int rc = 1;
  if (cmd == "version" && argc == 2) {
    rc = Version();
  } else if (cmd == "drivetype" && argc == 3) {
    std::printf("T\t%u\n", GetDriveTypeA(argv[2]));
    rc = 0;
  } else if (cmd == "regdump" && argc == 3) {
    rc = RegDump(argv[2]);
  } else if (cmd == "regset" && argc == 6) {
    rc = RegSet(argv[2], argv[3], argv[4], argv[5]);
  } else if (cmd == "regdelete" && argc == 3) {
    rc = RegDelete(argv[2]);
  } else if (cmd == "pending" && argc == 2) {
    rc = Pending();
  } else if (cmd == "sddl" && argc == 3) {
    rc = Sddl(argv[2]);
  } else if (cmd == "setsddl" && argc == 4) {
    rc = SetSddl(argv[2], argv[3]);
  } else if (cmd == "attrs" && argc == 3) {
    rc = Attrs(argv[2]);
  } else if (cmd == "setattrs" && argc == 4) {
    rc = SetAttrs(argv[2], argv[3]);
  } else if (cmd == "copy" && argc == 4) {
    rc = Copy(argv[2], argv[3]);
  } else if (cmd == "movelater" && argc == 4) {
    rc = MoveLater(argv[2], argv[3]);
  } else if (cmd == "msgbox" && argc == 4) {
    std::printf("B\t%d\n", MessageBoxA(nullptr, argv[2], argv[3], MB_OK));
    rc = 0;
  } else if (cmd == "exit" && argc == 3) {
    std::fflush(stdout);
    ExitProcess(std::strtoul(argv[2], nullptr, 0));
  } else if (cmd == "files" && argc == 3) {
    rc = Files(argv[2]);
  } else if (cmd == "hold" && argc == 4) {
    rc = Hold(argv[2], argv[3]);
  } else if (cmd == "signal" && argc == 3) {
    rc = Signal(argv[2]);
  } else if (cmd == "procs" && argc == 2) {
    rc = Procs();
  } else if (cmd == "launch" && argc == 3) {
    rc = Launch(argv[2]);
  } else {
    std::fprintf(stderr, "probe: unknown command or wrong arguments: %s\n", cmd.c_str());
  }
  std::fflush(stdout);
  return rc;
}
