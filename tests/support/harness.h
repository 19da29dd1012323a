// What the installer's tests share: the machine a test starts from, running
// the installer on it, and short readers of what a run did.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "sim.h"

// sim::Reset, then what the host application's own setup and use leave
// before the installer starts: each user's engine settings.
void ResetMachine(sim::Windows version);

// Resets the installer's run-wide values as a new process would have them and
// runs it with the given command-line arguments (appended, as typed, to the
// installer's quoted path). The machine is whatever the test built.
sim::RunResult RunInstaller(const std::string& arguments = std::string());
// The same for the removal program (drvremove.exe beside the installer), which
// takes no arguments.
sim::RunResult RunRemover();

// Runs entry as a run the machine's power cut right before its call k
// (1-based, counted from this run's start): the process stops there
// (sim::StopBeforeCall), and what it held is released. callsOfWholeRun, the
// calls of a whole run of entry, is no longer needed. The fault plan is
// cleared afterwards; the restart is the caller's.
sim::RunResult RunCutBefore(size_t k, size_t callsOfWholeRun, void (*entry)());
// A stopped run and what follows it on a real machine: entry cut before its
// call k, the restart, a whole run of entry, and the next restart.
void CutRunAgainAndRestart(size_t k, size_t callsOfWholeRun, void (*entry)());

// Just the texts of the message boxes shown so far.
std::vector<std::string> BoxTexts();

// How many traced calls of a function mention text in their arguments (the
// text as the caller wrote it; the trace escapes it).
size_t CallsOf(const std::string& function, const std::string& text = std::string());
// Index of the first traced call of a function (any function when empty)
// whose arguments mention text; npos when there is none.
size_t FirstCall(const std::string& function, const std::string& text = std::string());

// A file's contents, or "missing".
std::string File(const std::string& path);
// A value under HKEY_LOCAL_MACHINE as "<type>:<bytes>", or "missing".
std::string Reg(const std::string& key, const std::string& name);
// The form Reg gives a REG_SZ value of text.
std::string Sz(const char* text);

// ------------------------------------------ machine pieces shared by the runs
// The guard's message when the host application is running.
extern const char* const kGuardMessage;
// Every file of every package, by the name it has in the source folder.
const std::vector<std::string>& PackageFiles();
// A 9x SYSTEM.INI: the audio kernel's device line in three spellings among
// other [386Enh] lines, and a [vcache] section.
extern const char* const kSystemIni9x;
// What a removal leaves of an install on purpose, each with its reason.
struct KeptItem {
  const char* pattern;  // upper case, found in a machine state item's name
  const char* reason;
};
// The removal's keep list (the README names each with its reason).
const std::vector<KeptItem>& RemovalKeepList();
// Why a changed item of a machine state ("file PATH", "reg KEY : NAME",
// "ini FILE [SECTION] LINE", ...) may differ from before the install after a
// removal and a restart: an item of the keep list, a file of the application
// folder, or what the platform and the installer's housekeeping change
// whatever the product: the platform's WININIT.BAK, the current user's engine
// settings the installer removes. nullptr when it must not differ.
const char* RoundTripReason(const std::string& item, const std::string& applicationFolder);

// Every Windows version the simulated machine can be, oldest first.
const std::vector<sim::Windows>& AllVersions();

// The whole of a file of the machine the tests run on; empty when it cannot
// be read.
std::string HostFileText(const std::string& path);
