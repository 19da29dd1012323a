// The platform family of the run, read once at its start.
#pragma once

#include "drvsetup.h"

// Platform family, read once at start from GetVersionExA: 1 is the 9x family,
// any other value (2, or 0 when the call failed) the NT family.
extern DWORD PlatformFamily;
// The major version from the same read (4 for NT 4, 5 for Windows 2000, ...;
// 0 when the call failed).
extern DWORD PlatformMajorVersion;
const DWORD FAMILY_9X = VER_PLATFORM_WIN32_WINDOWS;

// Sets PlatformFamily and PlatformMajorVersion; the run calls it once, before its first step.
void ReadPlatformFamily();
