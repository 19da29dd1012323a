// The platform family of the run.
#include "platform_family.h"

DWORD PlatformFamily = 0;
DWORD PlatformMajorVersion = 0;

void ReadPlatformFamily() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  const bool read = GetVersionExA(&version) != FALSE;
  PlatformFamily = read ? version.dwPlatformId : 0;
  PlatformMajorVersion = read ? version.dwMajorVersion : 0;
}
