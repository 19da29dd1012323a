// Housekeeping before the packages: the 9x file cache size and the removal of
// the current user's engine settings.
#include "housekeeping.h"
#include "messages.h"
#include "platform_family.h"

namespace {

const char* const kSystemIni = "System.ini";
const char* const kCacheSize = "20480";  // kilobytes, the same for minimum and maximum
const char* const kEngineSettingsKey = "Software\\Miravelt\\Engine\\";

void WriteCacheLimit(const char* key) {
  if (!WritePrivateProfileStringA("VCache", key, kCacheSize, kSystemIni)) FailIniWrite(kSystemIni);
}

}  // namespace

void SetFileCacheLimits() {
  if (PlatformFamily != FAMILY_9X) return;
  WriteCacheLimit("MinFileCache");
  WriteCacheLimit("MaxFileCache");
}

void RemoveEngineSettings() { DeleteKeyTree(HKEY_CURRENT_USER, kEngineSettingsKey); }
