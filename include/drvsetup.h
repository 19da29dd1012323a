// Shared declarations of the driver installer: folder strings, the platform
// family, the package installer signature and the installer message box.
#pragma once

#include <string>

#include "platform.h"

// Platform family, read once at start from GetVersionExA: 1 is the 9x family,
// any other value (2, or 0 when the call failed) the NT family.
extern DWORD PlatformFamily;
// The major version from the same read (4 for NT 4, 5 for Windows 2000, ...;
// 0 when the call failed).
extern DWORD PlatformMajorVersion;
const DWORD FAMILY_9X = VER_PLATFORM_WIN32_WINDOWS;

// Sets PlatformFamily and PlatformMajorVersion; the run calls it once, before its first step.
void ReadPlatformFamily();

// Folder strings are 8-bit (ANSI) paths. The source folder ends in a
// backslash; the windows and system folders arrive as the platform reports
// them and each package normalises its own copies.
typedef void (*PackageInstaller)(const std::string& sourceFolder, const std::string& windowsFolder,
                                 const std::string& systemFolder);

// Caption of every problem the installer reports.
extern const char* const InstallerCaption;  // "Miravelt Installation"

// MessageBoxA without owner, the installer's caption, MB_OK. The run goes on
// once the user has closed it.
void ShowInstallerMessage(const std::string& text);

// The one error that ends a run: "Unable to write to <iniFile>" in an
// "Application Error" box (type 0x2010), then exit code 1.
[[noreturn]] void FailIniWrite(const std::string& iniFile);
