// drvsetup-preview: runs the installer's own code on a simulated machine and
// reports what the run did: the message boxes, the files placed, removed and
// staged, the registry values written, the INI entries changed, the renames
// left for the restart, the machine after the restart and the exit code.
#pragma once

#include <iosfwd>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "user_files.h"
#include "machine_file.h"
#include "sim.h"

namespace preview {

// What the machine is made of before the run.
struct Scenario {
  sim::Windows windows = sim::Windows::WinXP;
  std::string sourceFolder;  // a real folder; empty: the built-in sample packages
  // CD-ROM drives with the files of a real folder; with none given and no
  // argument given either, the sample disc.
  std::vector<std::pair<char, std::string>> discs;
  bool sampleDisc = false;
  // Installer arguments; an empty application folder passes no argument.
  std::string applicationFolder;
  std::string documentName;
  std::vector<std::string> running;  // programs running during the run
  const MachineDescription* machine = nullptr;
};

// The scenario of a run without options: the sample packages, the sample disc,
// the sample application folder and document name.
Scenario SampleScenario(sim::Windows windows);

// Builds the scenario's machine on the simulator (Reset first) and sets the
// installer's command line. Returns false with *error for input that cannot
// be built: a folder that cannot be read, a file name Windows cannot hold, a
// bad machine description path.
//
// Every real file read is recorded in *read (when given) by its identity,
// with the path it was read by.
typedef std::map<FileIdentity, std::string> FilesRead;
bool BuildMachine(const Scenario& scenario, std::string* error, FilesRead* read = nullptr);

// The installer's command line for the given arguments.
std::string CommandLineFor(const std::string& applicationFolder, const std::string& documentName);

// The command: args without the program name. Writes the report to out and
// problems to err; returns the exit code (the installer's, or 2 for bad
// input, 0 after --help).
int PreviewMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace preview
