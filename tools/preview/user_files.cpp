#include "user_files.h"

#ifdef _WIN32
// This file asks the real Windows. The Windows build gives every call of the
// simulated machine a Sim-prefixed name throughout the program
// (cmake/windows.cmake); the calls made here keep their own.
#undef CloseHandle
#undef CreateFileA
#undef DeleteFileA
#undef FormatMessageA
#undef GetFileAttributesA
#undef GetFileInformationByHandle
#undef GetFileType
#undef GetLastError
#undef GetModuleHandleA
#undef GetProcAddress
#undef LocalFree
#undef MoveFileExA
#undef WriteFile
#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#endif

#include <algorithm>
#include <csignal>
#include <cstring>

namespace preview {

#ifdef _WIN32

namespace {

std::string SystemMessage(DWORD error) {
  char* text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n && text ? std::string(text, n) : "error " + std::to_string(error);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

}  // namespace

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity id;
  // Backup semantics open folders too; no access is asked for, so a file
  // held open by another program still answers.
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info)) {
    id.known = true;
    id.volume = info.dwVolumeSerialNumber;
    id.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  CloseHandle(file);
  return id;
}

std::filesystem::file_type HostFileType(const std::string& path) {
  using std::filesystem::file_type;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return file_type::not_found;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return file_type::directory;
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file_type::regular;
  DWORD kind = GetFileType(file);
  CloseHandle(file);
  if (kind == FILE_TYPE_CHAR) return file_type::character;
  if (kind == FILE_TYPE_PIPE) return file_type::fifo;
  return file_type::regular;
}

bool IsLink(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

namespace {

// The name the file a link opens has, links followed: for a link whose
// reparse data cannot be read.
bool FinalName(const std::string& link, std::string* file, std::string* why) {
  HANDLE handle =
      CreateFileA(link.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *why = SystemMessage(GetLastError());
    return false;
  }
  using FinalNameCall = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  FARPROC proc = kernel ? GetProcAddress(kernel, "GetFinalPathNameByHandleA") : nullptr;
  if (proc == nullptr) {
    CloseHandle(handle);
    *why = "this Windows cannot tell which file the link names";
    return false;
  }
  FinalNameCall call = reinterpret_cast<FinalNameCall>(reinterpret_cast<void (*)()>(proc));
  std::vector<char> name(32768);
  DWORD n = call(handle, name.data(), static_cast<DWORD>(name.size()), 0);
  DWORD error = GetLastError();
  CloseHandle(handle);
  if (n == 0 || n >= name.size()) {
    *why = SystemMessage(error);
    return false;
  }
  std::string named(name.data(), n);
  if (named.compare(0, 8, "\\\\?\\UNC\\") == 0) {
    named = "\\\\" + named.substr(8);
  } else if (named.compare(0, 4, "\\\\?\\") == 0) {
    named = named.substr(4);
  }
  *file = named;
  return true;
}

// The reparse data of a symbolic link, as the file system keeps it.
struct SymbolicLinkData {
  ULONG tag;
  USHORT dataLength;
  USHORT reserved;
  USHORT substituteOffset;
  USHORT substituteLength;
  USHORT printOffset;
  USHORT printLength;
  ULONG flags;
  WCHAR names[1];
};
const ULONG kRelativeLink = 1;

// The target a symbolic link holds (false when the path is no symbolic link
// or its data cannot be read), in the system's code page.
bool LinkTarget(const std::string& link, std::string* target, bool* relative) {
  HANDLE handle = CreateFileA(
      link.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  std::vector<ULONG> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(ULONG));
  DWORD size = 0;
  BOOL read = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                              static_cast<DWORD>(buffer.size() * sizeof(ULONG)), &size, nullptr);
  CloseHandle(handle);
  const SymbolicLinkData* data = reinterpret_cast<const SymbolicLinkData*>(buffer.data());
  const size_t namesAt = offsetof(SymbolicLinkData, names);
  if (!read || size < namesAt || data->tag != IO_REPARSE_TAG_SYMLINK) return false;
  // The name shown to users, else the name the system substitutes.
  USHORT offset = data->printOffset, length = data->printLength;
  if (length == 0) {
    offset = data->substituteOffset;
    length = data->substituteLength;
  }
  if (namesAt + offset + length > size || length == 0) return false;
  const WCHAR* name = data->names + offset / sizeof(WCHAR);
  int wide = length / sizeof(WCHAR);
  int n = WideCharToMultiByte(CP_ACP, 0, name, wide, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, name, wide, &text[0], n, nullptr, nullptr);
  if (text.compare(0, 4, "\\??\\") == 0) text = text.substr(4);
  *target = text;
  *relative = (data->flags & kRelativeLink) != 0;
  return true;
}

}  // namespace

bool FollowLinks(const std::string& path, std::string* file, std::string* why) {
  std::string current = path;
  // As many links as Windows follows in one path.
  for (int links = 0; links <= 63; ++links) {
    DWORD attributes = GetFileAttributesA(current.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      DWORD error = GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        *why = SystemMessage(error);
        return false;
      }
      *file = current;  // a name still to be made
      return true;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      *file = current;
      return true;
    }
    std::string target;
    bool relative = false;
    if (!LinkTarget(current, &target, &relative)) {
      // A junction names a folder, which no report replaces; other reparse
      // points, or links whose data this Windows keeps to itself, are asked
      // for the file they open.
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        *file = current;
        return true;
      }
      return FinalName(current, file, why);
    }
    // A relative target is taken from the folder the link lies in.
    if (relative) {
      size_t slash = current.find_last_of("/\\");
      if (slash != std::string::npos) target = current.substr(0, slash + 1) + target;
    }
    current = target;
  }
  *why = SystemMessage(ERROR_CANT_RESOLVE_FILENAME);
  return false;
}

namespace {

unsigned long ProcessId() { return GetCurrentProcessId(); }

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveFile(const char* path) { DeleteFileA(path); }

bool Move(const std::string& from, const std::string& to, std::string* why) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  *why = SystemMessage(GetLastError());
  return false;
}

enum class NewFile { made, exists, failed };

// Makes a new file and writes the data into it.
NewFile CreateNew(const std::string& path, const std::string& data, std::string* why) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return NewFile::exists;
    *why = SystemMessage(error);
    return NewFile::failed;
  }
  size_t done = 0;
  bool written = true;
  while (written && done < data.size()) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20)), n = 0;
    written = WriteFile(file, data.data() + done, piece, &n, nullptr) && n > 0;
    done += n;
  }
  if (!written) *why = SystemMessage(GetLastError());
  if (!CloseHandle(file) && written) {
    *why = SystemMessage(GetLastError());
    written = false;
  }
  if (written) return NewFile::made;
  DeleteFileA(path.c_str());
  return NewFile::failed;
}

// Ctrl+C, Ctrl+Break and a closed console reach a handler on a thread of its
// own: a lock keeps it from removing files while the run puts them in place.
CRITICAL_SECTION* StopLock() {
  static CRITICAL_SECTION lock;
  static const bool made = (InitializeCriticalSection(&lock), true);
  (void)made;
  return &lock;
}

class StopHeld {
 public:
  StopHeld() { EnterCriticalSection(StopLock()); }
  ~StopHeld() { LeaveCriticalSection(StopLock()); }
  StopHeld(const StopHeld&) = delete;
  StopHeld& operator=(const StopHeld&) = delete;
};

void RemoveRegistered();

BOOL WINAPI RemoveTemporariesOnStop(DWORD) {
  StopHeld held;
  RemoveRegistered();
  return FALSE;  // the handler after it ends the process as before
}

void InstallStopHandler() {
  static const bool installed = SetConsoleCtrlHandler(RemoveTemporariesOnStop, TRUE) != 0;
  (void)installed;
}

}  // namespace

#else

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity id;
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return id;
  id.known = true;
  id.volume = static_cast<uint64_t>(status.st_dev);
  id.file = static_cast<uint64_t>(status.st_ino);
  return id;
}

std::filesystem::file_type HostFileType(const std::string& path) {
  std::error_code ec;
  return std::filesystem::status(path, ec).type();
}

bool IsLink(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool FollowLinks(const std::string& path, std::string* file, std::string* why) {
  std::string current = path;
  // As many links as the system follows in one path.
  for (int links = 0; links <= 40; ++links) {
    struct stat status;
    if (lstat(current.c_str(), &status) != 0) {
      if (errno != ENOENT) {
        *why = std::strerror(errno);
        return false;
      }
      *file = current;  // a name still to be made
      return true;
    }
    if (!S_ISLNK(status.st_mode)) {
      *file = current;
      return true;
    }
    std::string target(static_cast<size_t>(status.st_size) + 256, '\0');
    ssize_t n = readlink(current.c_str(), &target[0], target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size() || n == 0) {
      *why = n < 0 ? std::strerror(errno) : "the link changed while it was read";
      return false;
    }
    target.resize(static_cast<size_t>(n));
    // A relative target is taken from the folder the link lies in.
    if (target[0] != '/') {
      size_t slash = current.find_last_of('/');
      if (slash != std::string::npos) target = current.substr(0, slash + 1) + target;
    }
    current = target;
  }
  *why = std::strerror(ELOOP);
  return false;
}

namespace {

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

bool Exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

void RemoveFile(const char* path) { unlink(path); }

bool Move(const std::string& from, const std::string& to, std::string* why) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  *why = std::strerror(errno);
  return false;
}

enum class NewFile { made, exists, failed };

// Makes a new file and writes the data into it.
NewFile CreateNew(const std::string& path, const std::string& data, std::string* why) {
  int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (file < 0) {
    if (errno == EEXIST) return NewFile::exists;
    *why = std::strerror(errno);
    return NewFile::failed;
  }
  size_t done = 0;
  bool written = true;
  while (written && done < data.size()) {
    ssize_t n = write(file, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (n < 0) *why = std::strerror(errno);
    if (n == 0) *why = std::strerror(ENOSPC);
    if (n > 0) done += static_cast<size_t>(n);
  }
  if (close(file) != 0 && written) {
    *why = std::strerror(errno);
    written = false;
  }
  if (written) return NewFile::made;
  unlink(path.c_str());
  return NewFile::failed;
}

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The stop signals wait while the run makes or moves its files.
class StopHeld {
 public:
  StopHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kStopSignals) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~StopHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  StopHeld(const StopHeld&) = delete;
  StopHeld& operator=(const StopHeld&) = delete;

 private:
  sigset_t old_;
};

void RemoveRegistered();

// Removes the run's temporary files, then lets the signal end the process
// as it would have without the preview's handler.
extern "C" void RemoveTemporariesOnStop(int signal) {
  RemoveRegistered();
  struct sigaction standard;
  std::memset(&standard, 0, sizeof standard);
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  sigaction(signal, &standard, nullptr);
  raise(signal);
}

void InstallStopHandler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int s : kStopSignals) {
    struct sigaction old;
    // A signal that is ignored (nohup) or handled by the program stays so.
    if (sigaction(s, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) ||
        old.sa_handler != SIG_DFL) {
      continue;
    }
    struct sigaction handler;
    std::memset(&handler, 0, sizeof handler);
    handler.sa_handler = RemoveTemporariesOnStop;
    sigemptyset(&handler.sa_mask);
    for (int other : kStopSignals) sigaddset(&handler.sa_mask, other);
    sigaction(s, &handler, nullptr);
  }
}

}  // namespace

#endif

namespace {

// The temporary files a stop signal removes: a fixed table of C strings
// that the handler reads without allocating. A name is marked used only
// once it is written whole, and unmarked before its slot is written again.
const int kSlots = 8;
const size_t kSlotBytes = 4096;
char gSlotPath[kSlots][kSlotBytes];
volatile std::sig_atomic_t gSlotUsed[kSlots];

void RemoveRegistered() {
  for (int i = 0; i < kSlots; ++i) {
    if (gSlotUsed[i]) {
      RemoveFile(gSlotPath[i]);
      gSlotUsed[i] = 0;
    }
  }
}

int Register(const std::string& path) {
  if (path.size() >= kSlotBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (gSlotUsed[i]) continue;
    std::memcpy(gSlotPath[i], path.c_str(), path.size() + 1);
    gSlotUsed[i] = 1;
    return i;
  }
  return -1;
}

void Unregister(int slot) {
  if (slot >= 0) gSlotUsed[slot] = 0;
}

FileStepHook& Hook() {
  static FileStepHook hook;
  return hook;
}

void Step(const char* step, const std::string& from, const std::string& to) {
  if (Hook()) Hook()(step, from, to);
}

// Makes an empty file of a name of the run's own in the folder.
bool MakeNewName(const std::string& folder, std::string* name, std::string* why) {
  static unsigned long next = 0;
  std::string prefix = folder;
  if (prefix.empty() || (prefix.back() != '/' && prefix.back() != '\\')) prefix += '/';
  prefix += ".drvsetup-preview-" + std::to_string(ProcessId()) + "-";
  for (int tries = 0; tries < 1000; ++tries) {
    std::string candidate = prefix + std::to_string(next++) + ".tmp";
    switch (CreateNew(candidate, std::string(), why)) {
      case NewFile::made:
        *name = candidate;
        return true;
      case NewFile::exists:
        continue;
      case NewFile::failed:
        return false;
    }
  }
  *why = "no free temporary name in its folder";
  return false;
}

}  // namespace

std::string FolderOf(const std::string& path) {
#ifdef _WIN32
  size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos && path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
#else
  size_t slash = path.find_last_of('/');
#endif
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

TemporaryFile::~TemporaryFile() {
  if (path_.empty()) return;
  StopHeld held;
  Unregister(slot_);
  RemoveFile(path_.c_str());
}

bool TemporaryFile::Make(const std::string& folder, std::string* why) {
  {
    StopHeld held;
    InstallStopHandler();
    if (!MakeNewName(folder, &path_, why)) return false;
    slot_ = Register(path_);
  }
  Step("made", std::string(), path_);
  return true;
}

void TemporaryFile::Release() {
  StopHeld held;
  Unregister(slot_);
  slot_ = -1;
  path_.clear();
}

bool PutAllInPlace(const std::vector<Placement>& placements, size_t* failed, std::string* why) {
  StopHeld held;
  std::vector<std::string> aside(placements.size());
  // Puts the set-aside files back; a file that cannot go back is named.
  auto restore = [&]() {
    for (size_t i = 0; i < aside.size(); ++i) {
      std::string ignored;
      if (aside[i].empty() || Move(aside[i], placements[i].place, &ignored)) continue;
      *why += "; the earlier file is kept as \"" + aside[i] + "\"";
    }
  };
  for (size_t i = 0; i < placements.size(); ++i) {
    const std::string& place = placements[i].place;
    if (!Exists(place)) continue;
    std::string name;
    bool moved = MakeNewName(FolderOf(place), &name, why);
    if (moved) {
      Step("aside", place, name);
      moved = Move(place, name, why);
      if (!moved) RemoveFile(name.c_str());
    }
    if (!moved) {
      *failed = i;
      restore();
      return false;
    }
    aside[i] = name;
  }
  for (size_t i = 0; i < placements.size(); ++i) {
    Step("place", placements[i].finished, placements[i].place);
    if (Move(placements[i].finished, placements[i].place, why)) continue;
    *failed = i;
    for (size_t j = 0; j < i; ++j) {
      std::string ignored;
      Move(placements[j].place, placements[j].finished, &ignored);
    }
    restore();
    return false;
  }
  for (const std::string& name : aside) {
    if (!name.empty()) RemoveFile(name.c_str());
  }
  return true;
}

bool WriteNewFile(const std::string& path, const std::string& data, std::string* why) {
  Step("write", std::string(), path);
  switch (CreateNew(path, data, why)) {
    case NewFile::made:
      return true;
    case NewFile::exists:
      *why = "it exists already";
      return false;
    case NewFile::failed:
      break;
  }
  return false;
}

void SetFileStepHookForTests(FileStepHook hook) { Hook() = std::move(hook); }

}  // namespace preview
