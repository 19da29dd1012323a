// SYSTEM.INI [386Enh] device entry disabling.
#pragma once

#include <string>

#include "drvsetup.h"

void DisableSystemIniDevice(const std::string& deviceFileName);

// Turns every entry exactly equal to "device=" + deviceFileName into a comment
// by replacing its first character with ';'. The buffer holds zero-terminated
// entries ended by an empty one; bufferSize bounds the walk.
void DisableDeviceEntries(char* sectionBuffer, size_t bufferSize,
                          const std::string& deviceFileName);
