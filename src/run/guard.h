// Running-application guard.
#pragma once

#include "drvsetup.h"

// Set by IsHostApplicationProcess when a host application is running.
extern bool HostApplicationFound;

typedef bool (*ProcessCallback)(DWORD processId, const char* fileName, DWORD extra);

bool IsNt4OrLater();
bool EnumerateProcesses(ProcessCallback callback, DWORD extra);
bool IsHostApplicationProcess(DWORD processId, const char* fileName, DWORD extra);

// The guard's step at the start of a run: when a host application is
// running, the user is asked to close it and the process ends with exit
// code 0, before anything is touched.
void StopIfHostApplicationRuns();
