// Shared operations that place files: folder normaliser, existence test,
// read-only clearing, package file copies and renames at the next restart.
#pragma once

#include <string>
#include <vector>

#include "drvsetup.h"

// NormalizeFolder's modes: 1 ensures one trailing backslash; any other mode
// removes one.
const BYTE kAddTrailingBackslash = 1;
const BYTE kRemoveTrailingBackslash = 0;

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

// NT family: the platform's pending renames (PendingFileRenameOperations)
// as stored; false when they cannot be read.
bool ReadPendingRenames(std::vector<char>& data);

// 9x family: Wininit.ini [RENAME] entry newPath=existingPath (a refused write
// ends the run). NT family: MoveFileExA(existing, new, 5), unless that exact
// pair is already pending.
// Returns whether the rename is scheduled (or was pending already).
bool ScheduleRenameAtRestart(const std::string& existingPath, const std::string& newPath);

// True when both paths hold a file with the same bytes. (Not the size and
// last-write time: a FAT disk keeps times to 2 seconds, so a copy of a file
// with an odd-second time, one from a CD for example, has another time.)
bool SameFile(const std::string& path, const std::string& otherPath);
