// The windows and system folders as the platform reports them.
#pragma once

#include <string>

#include "drvsetup.h"

// The system and windows folders as the platform reports them (no trailing
// backslash), read whole however long they are; empty when the query fails.
std::string ReadSystemFolder();
std::string ReadWindowsFolder();
