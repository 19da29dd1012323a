// The removal: drvremove.exe's run, which takes off the machine what the
// installer put on it, and nothing that other programs share.
#pragma once

#include "drvsetup.h"

// The whole removal run; it ends the process (exit code 0, or 1 when a
// refused INI write ends it) and never returns. It takes no arguments.
[[noreturn]] void RunRemoval();
