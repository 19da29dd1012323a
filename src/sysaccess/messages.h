// The installer's messages: the problems it reports and goes on, and the one
// that ends the run.
#pragma once

#include <string>

#include "drvsetup.h"

// Caption of every problem the installer reports.
extern const char* const InstallerCaption;  // "Miravelt Installation"

// MessageBoxA without owner, the installer's caption, MB_OK. The run goes on
// once the user has closed it.
void ShowInstallerMessage(const std::string& text);

// The one error that ends a run: "Unable to write to <iniFile>" in an
// "Application Error" box (type 0x2010), then exit code 1.
[[noreturn]] void FailIniWrite(const std::string& iniFile);
