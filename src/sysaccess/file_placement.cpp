// File placement: folder normaliser, existence test, read-only clearing,
// package file copies, staged replacements and renames at the next restart.
#include "file_placement.h"
#include "messages.h"
#include "platform_family.h"

#include <cstring>
#include <vector>

std::string NormalizeFolder(const std::string& path, BYTE mode) {
  if (path.empty()) return path;
  const bool endsInBackslash = path.back() == '\\';
  if (mode == kAddTrailingBackslash) return endsInBackslash ? path : path + '\\';
  return endsInBackslash ? path.substr(0, path.size() - 1) : path;
}

bool FileExists(const std::string& path) {
  WIN32_FIND_DATAA found;
  std::memset(&found, 0, sizeof(found));
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  // A file whose local last-write time has no DOS form counts as missing.
  FILETIME local = {0, 0};
  if (!FileTimeToLocalFileTime(&found.ftLastWriteTime, &local)) return false;
  WORD dosDate = 0;
  WORD dosTime = 0;
  return FileTimeToDosDateTime(&local, &dosDate, &dosTime) != FALSE;
}

namespace {

bool FindFile(const std::string& path, WIN32_FIND_DATAA* found) {
  std::memset(found, 0, sizeof(*found));
  HANDLE search = FindFirstFileA(path.c_str(), found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return !(found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether two open files hold the same bytes; a read that fails answers no.
bool SameBytes(HANDLE a, HANDLE b) {
  char bufferA[4096];
  char bufferB[4096];
  for (;;) {
    DWORD readA = 0;
    DWORD readB = 0;
    if (!ReadFile(a, bufferA, sizeof bufferA, &readA, NULL) ||
        !ReadFile(b, bufferB, sizeof bufferB, &readB, NULL) || readA != readB)
      return false;
    if (readA == 0) return true;
    if (std::memcmp(bufferA, bufferB, readA) != 0) return false;
  }
}

HANDLE OpenForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, NULL);
}

}  // namespace

bool SameFile(const std::string& path, const std::string& otherPath) {
  WIN32_FIND_DATAA a;
  WIN32_FIND_DATAA b;
  if (!FindFile(path, &a) || !FindFile(otherPath, &b)) return false;
  if (a.nFileSizeHigh != b.nFileSizeHigh || a.nFileSizeLow != b.nFileSizeLow) return false;
  HANDLE fileA = OpenForReading(path);
  if (fileA == INVALID_HANDLE_VALUE) return false;
  HANDLE fileB = OpenForReading(otherPath);
  bool same = false;
  if (fileB != INVALID_HANDLE_VALUE) {
    same = SameBytes(fileA, fileB);
    CloseHandle(fileB);
  }
  CloseHandle(fileA);
  return same;
}

void ClearReadOnly(const std::string& path) {
  if (!FileExists(path)) return;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return;
  SetFileAttributesA(path.c_str(),
                     (attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)) | FILE_ATTRIBUTE_ARCHIVE);
}

void CopyPackageFile(const std::string& sourcePath, const std::string& targetPath,
                     const std::string& failureMessage) {
  if (!FileExists(sourcePath)) return;
  ClearReadOnly(targetPath);
  if (!CopyFileA(sourcePath.c_str(), targetPath.c_str(), FALSE)) {
    ShowInstallerMessage(failureMessage);
  }
}

bool StageFile(const std::string& sourcePath, const std::string& stagingPath,
               const std::string& finalPath) {
  if (!CopyFileA(sourcePath.c_str(), stagingPath.c_str(), FALSE)) return false;
  ScheduleRenameAtRestart(stagingPath, finalPath);
  return true;
}

namespace {

const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingRenamesValue[] = "PendingFileRenameOperations";

bool SameIgnoringAsciiCase(const char* a, size_t aLength, const std::string& b) {
  if (aLength != b.size()) return false;
  for (size_t i = 0; i < aLength; ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// The platform's pending renames as stored: false when they cannot be read.
bool ReadPendingRenames(std::vector<char>& data) {
  HKEY key = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  bool read = false;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, kPendingRenamesValue, NULL, &type, NULL, &size) == ERROR_SUCCESS) {
    data.assign(size, '\0');
    DWORD got = size;
    if (size == 0 ||
        RegQueryValueExA(key, kPendingRenamesValue, NULL, &type,
                         reinterpret_cast<LPBYTE>(data.data()), &got) == ERROR_SUCCESS) {
      data.resize(got <= size ? got : size);
      read = true;
    }
  }
  RegCloseKey(key);
  return read;
}

// Whether the stored list holds the rename existing -> new with replacement.
// The list is pairs of zero-terminated strings ended by an empty one; a
// string cut off by the end of the data is not an entry.
bool RenameIsPending(const std::vector<char>& data, const std::string& existingPath,
                     const std::string& newPath) {
  const std::string wantedSource = "\\??\\" + existingPath;
  const std::string wantedTarget = "!\\??\\" + newPath;
  const char* const begin = data.data();
  const size_t size = data.size();
  size_t pos = 0;
  for (;;) {
    const char* source = begin + pos;
    const void* sourceEnd = pos < size ? std::memchr(source, 0, size - pos) : nullptr;
    if (!sourceEnd) return false;
    const size_t sourceLength = static_cast<const char*>(sourceEnd) - source;
    if (sourceLength == 0) return false;  // the end of the list
    pos += sourceLength + 1;
    const char* target = begin + pos;
    const void* targetEnd = pos < size ? std::memchr(target, 0, size - pos) : nullptr;
    if (!targetEnd) return false;
    const size_t targetLength = static_cast<const char*>(targetEnd) - target;
    pos += targetLength + 1;
    if (SameIgnoringAsciiCase(source, sourceLength, wantedSource) &&
        SameIgnoringAsciiCase(target, targetLength, wantedTarget)) {
      return true;
    }
  }
}

}  // namespace

bool ScheduleRenameAtRestart(const std::string& existingPath, const std::string& newPath) {
  if (PlatformFamily == FAMILY_9X) {
    // Wininit.ini's list is keyed by the new path: a repeated rename
    // replaces its entry.
    if (!WritePrivateProfileStringA("RENAME", newPath.c_str(), existingPath.c_str(),
                                    "Wininit.ini")) {
      FailIniWrite("Wininit.ini");
    }
    return true;
  }
  // A second run before the restart must not queue the same rename twice.
  std::vector<char> pending;
  if (ReadPendingRenames(pending) && RenameIsPending(pending, existingPath, newPath)) return true;
  return MoveFileExA(existingPath.c_str(), newPath.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}
