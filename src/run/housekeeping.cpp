// Housekeeping before the packages: the 9x file cache size and the removal of
// the current user's engine settings.
#include "housekeeping.h"
#include "messages.h"
#include "platform_family.h"

#include <vector>

namespace {

const char* const kSystemIni = "System.ini";
const char* const kCacheSize = "20480";  // kilobytes, the same for minimum and maximum
const char* const kEngineSettingsKey = "Software\\Miravelt\\Engine\\";

// Registry key names are at most 255 characters; a key reporting longer names
// than this is not walked.
const DWORD kLongestReportedName = 32767;

void WriteCacheLimit(const char* key) {
  if (!WritePrivateProfileStringA("VCache", key, kCacheSize, kSystemIni)) FailIniWrite(kSystemIni);
}

// Removes every subkey of an open key, from the last index down so that no
// removal moves a subkey still to be visited.
void DeleteSubkeys(HKEY key) {
  DWORD subkeys = 0;
  DWORD longestName = 0;
  if (RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, &longestName, NULL, NULL, NULL, NULL, NULL,
                       NULL) != ERROR_SUCCESS) {
    return;
  }
  if (longestName > kLongestReportedName) return;
  DWORD bufferSize = longestName;
  // On the NT family with double-byte support the reported length may count
  // characters, not bytes.
  if (PlatformFamily != FAMILY_9X && GetSystemMetrics(SM_DBCSENABLED) != 0) bufferSize *= 2;
  bufferSize += 1;
  std::vector<char> name(bufferSize, '\0');
  for (DWORD index = subkeys; index-- > 0;) {
    DWORD length = bufferSize;
    if (RegEnumKeyExA(key, index, name.data(), &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) {
      continue;
    }
    // An empty name would stand for the open key itself.
    if (length == 0 || length >= bufferSize) continue;
    DeleteKeyTree(key, std::string(name.data(), length));
  }
}

}  // namespace

void SetFileCacheLimits() {
  if (PlatformFamily != FAMILY_9X) return;
  WriteCacheLimit("MinFileCache");
  WriteCacheLimit("MaxFileCache");
}

void RemoveEngineSettings() { DeleteKeyTree(HKEY_CURRENT_USER, kEngineSettingsKey); }

bool DeleteKeyTree(HKEY parent, const std::string& path) {
  // An empty path names the parent itself: never clear it.
  if (path.empty()) return false;
  HKEY key = NULL;
  LSTATUS opened = RegOpenKeyExA(parent, path.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (opened != ERROR_SUCCESS) opened = RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key);
  if (opened == ERROR_SUCCESS) {
    DeleteSubkeys(key);
    RegCloseKey(key);
  }
  // Made also when the key could not be opened.
  return RegDeleteKeyA(parent, path.c_str()) == ERROR_SUCCESS;
}
