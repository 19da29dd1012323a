// What every layer of the driver installer shares: the platform and the
// form of its folder strings. Each layer's own declarations are in its
// folder's headers.
#pragma once

#include <string>

#include "platform.h"

// Folder strings are 8-bit (ANSI) paths. The source folder ends in a
// backslash; the windows and system folders arrive as the platform reports
// them and each package normalises its own copies.
