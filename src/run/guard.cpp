// STUB: replaced by the running-application guard.
#include "guard.h"

bool HostApplicationFound = false;
bool IsNt4OrLater() { return false; }
bool EnumerateProcesses(ProcessCallback, DWORD) { return false; }
bool IsHostApplicationProcess(DWORD, const char*, DWORD) { return true; }
