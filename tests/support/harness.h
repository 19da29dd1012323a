// Running the installer on the simulated machine from a test.
#pragma once

#include <string>

#include "sim.h"

// Resets the installer's run-wide values as a new process would have them and
// runs it with the given command-line arguments (appended, as typed, to the
// installer's quoted path). The machine is whatever the test built.
sim::RunResult RunInstaller(const std::string& arguments = std::string());

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
