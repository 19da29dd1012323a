// Running the installer on the simulated machine from a test.
#pragma once

#include <string>

#include "sim.h"

// Resets the installer's run-wide values as a new process would have them and
// runs it with the given command-line arguments (appended, as typed, to the
// installer's quoted path). The machine is whatever the test built.
sim::RunResult RunInstaller(const std::string& arguments = std::string());

// Just the texts of the message boxes shown so far.
std::vector<std::string> BoxTexts();
