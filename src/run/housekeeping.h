// Housekeeping before the packages.
#pragma once

#include <string>

#include "drvsetup.h"
#include "key_removal.h"

void SetFileCacheLimits();
void RemoveEngineSettings();
