// Shared operations that place files: folder normaliser, existence test,
// read-only clearing, package file copies and renames at the next restart.
#pragma once

#include <string>

#include "drvsetup.h"

// Mode 1: ensure one trailing backslash; any other mode: remove one.
std::string NormalizeFolder(const std::string& path, BYTE mode);

// True when a file (not a folder) with a last-write time inside the DOS date
// range is found at path.
bool FileExists(const std::string& path);

void ClearReadOnly(const std::string& path);

// Copies a package file over its target; a failed copy shows failureMessage.
// A missing source is passed over silently.
void CopyPackageFile(const std::string& sourcePath, const std::string& targetPath,
                     const std::string& failureMessage);

// Staged replacement: copies source to the staging path and, only when that
// copy succeeded, schedules staging -> final at the next restart. Returns
// whether the staged copy succeeded.
bool StageFile(const std::string& sourcePath, const std::string& stagingPath,
               const std::string& finalPath);

// 9x family: Wininit.ini [RENAME] entry newPath=existingPath (a refused write
// ends the run). NT family: MoveFileExA(existing, new, 5), unless that exact
// pair is already pending.
void ScheduleRenameAtRestart(const std::string& existingPath, const std::string& newPath);

// The one error that ends a run: "Unable to write to <iniFile>" in an
// "Application Error" box (type 0x2010), then exit code 1.
[[noreturn]] void FailIniWrite(const std::string& iniFile);
