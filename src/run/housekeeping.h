// Housekeeping before the packages.
#pragma once

#include <string>

#include "drvsetup.h"

void SetFileCacheLimits();
void RemoveEngineSettings();
bool DeleteKeyTree(HKEY parent, const std::string& path);
