// The run: entry point, command line, folders and the final phase.
#pragma once

#include <string>

#include "drvsetup.h"

// The whole installer run; it ends the process (exit code 0, or 1 when a
// refused INI write ends it) and never returns.
[[noreturn]] void RunSetup();

// n = 0: the installer's own full path; n >= 1: command-line argument n, or
// the empty string when absent (or longer than a token may be).
std::string GetCommandLineArgument(int n);

// Token n of a command line by the installer's token rules.
std::string CommandLineToken(const char* commandLine, int n);

// The installer's folder: its path cut after the last backslash or colon.
std::string SourceFolderOf(const std::string& installerPath);

std::string FindOnCdRom(const std::string& relativePath);
void CopyFromCdRom(const std::string& relativePath, const std::string& targetPath);

// Removes HISTORY.TXT and copies the OEM library and the manuals.
void RunFinalPhase(const std::string& applicationFolder, const std::string& documentName);
