// The platform family of the run.
#include "drvsetup.h"

DWORD PlatformFamily = 0;

void ReadPlatformFamily() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  PlatformFamily = GetVersionExA(&version) ? version.dwPlatformId : 0;
}
