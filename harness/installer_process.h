// The installer as a process on the simulated machine, for the tests, the
// preview, the proof and the benchmarks: one start with the run-wide values
// a new process has, and the state the host application leaves on a machine
// before its setup starts the installer.
//
// Built as its own library (installer_process) above the simulator and the
// installer's layers: the simulator itself never sees the installer.
#pragma once

#include <string>

#include "sim.h"

namespace sim {

// Where the standard machine of Reset has the installer.
extern const char* const kInstallerPath;  // "C:\SETUP\DRVSETUP.EXE"

// The installer's quoted path, then the arguments as typed (nothing more when
// they are empty).
std::string InstallerCommandLine(const std::string& arguments = std::string(),
                                 const std::string& installerPath = kInstallerPath);

// Starts the installer as a new process on the current machine: its run-wide
// values (the platform family, the guard's finding) as a fresh process has
// them, the command line the machine holds, then the run until it returns or
// calls ExitProcess.
RunResult RunInstallerProcess();

// The engine settings the host application keeps for each user who ran it
// (HKEY_CURRENT_USER\Software\Miravelt\Engine and below), put for the running
// user and for one other user of the machine: on the NT family the other
// profile of Reset, on the 9x family a user named "guest".
void PutHostEngineSettings();

}  // namespace sim
