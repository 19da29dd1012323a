// Running-application guard.
#pragma once

#include "drvsetup.h"

// Set by IsHostApplicationProcess when a host application is running.
extern bool HostApplicationFound;

typedef bool (*ProcessCallback)(DWORD processId, const char* fileName, DWORD extra);

bool IsNt4OrLater();
bool EnumerateProcesses(ProcessCallback callback, DWORD extra);
bool IsHostApplicationProcess(DWORD processId, const char* fileName, DWORD extra);
