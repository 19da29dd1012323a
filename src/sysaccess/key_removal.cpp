// Registry removals: key trees, empty keys and values that still hold what
// was written into them.
#include "key_removal.h"

#include <vector>

#include "messages.h"
#include "platform_family.h"

namespace {

// Registry key names are at most 255 characters; a key reporting longer names
// than this is not walked.
const DWORD kLongestReportedName = 32767;
// A value's text longer than this is not the one written.
const DWORD kLongestComparedText = 4096;

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

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

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

void RemoveMachineKeyTree(const std::string& path) {
  if (DeleteKeyTree(HKEY_LOCAL_MACHINE, path) || !KeyExists(HKEY_LOCAL_MACHINE, path)) return;
  ShowInstallerMessage("Unable to remove \"HKLM\\" + path + "\" !");
}

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = NULL;
  const LSTATUS opened = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
  if (opened != ERROR_SUCCESS) return opened != ERROR_FILE_NOT_FOUND;
  RegCloseKey(key);
  return true;
}

bool DeleteKeyIfEmpty(HKEY root, const std::string& path) {
  if (path.empty()) return false;
  HKEY key = NULL;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD subkeys = 1;
  DWORD values = 1;
  const bool read = RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL,
                                     NULL, NULL, NULL) == ERROR_SUCCESS;
  RegCloseKey(key);
  // The 9x family removes a key with everything below it: only a key seen
  // empty is handed to the platform.
  if (!read || subkeys != 0 || values != 0) return false;
  return RegDeleteKeyA(root, path.c_str()) == ERROR_SUCCESS;
}

bool DeleteValueIfText(HKEY root, const std::string& path, const std::string& name,
                       const std::string& text) {
  HKEY key = NULL;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  std::vector<char> data(kLongestComparedText + 1, '\0');
  DWORD type = REG_NONE;
  DWORD size = kLongestComparedText;
  bool removed = false;
  if (RegQueryValueExA(key, name.c_str(), NULL, &type, reinterpret_cast<LPBYTE>(data.data()),
                       &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size <= kLongestComparedText) {
    // The stored text up to its terminating zero, or all of it when the
    // zero is missing.
    std::string stored(data.data(), size);
    const size_t zero = stored.find('\0');
    if (zero != std::string::npos) stored.resize(zero);
    if (SameIgnoringAsciiCase(stored, text)) {
      removed = RegDeleteValueA(key, name.c_str()) == ERROR_SUCCESS;
    }
  }
  RegCloseKey(key);
  return removed;
}
