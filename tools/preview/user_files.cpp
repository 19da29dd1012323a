#include "user_files.h"

#ifdef _WIN32
// This file asks the real Windows. The Windows build gives every call of the
// simulated machine a Sim-prefixed name throughout the program
// (cmake/windows.cmake); the calls made here keep their own.
#undef CloseHandle
#undef CreateFileA
#undef FormatMessageA
#undef GetFileAttributesA
#undef GetFileInformationByHandle
#undef GetFileType
#undef GetLastError
#undef LocalFree
#undef MoveFileExA
#include <windows.h>
#else
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#endif

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

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string* why) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  *why = SystemMessage(GetLastError());
  return false;
}

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

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string* why) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  *why = std::strerror(errno);
  return false;
}

#endif

}  // namespace preview
