// What a finished run of the installer on the simulated machine may look
// like, whatever went wrong on the machine: the message boxes it may show,
// the INI writes whose refusal ends a 9x run, and the verdict on one run.
// Shared by the fault campaign and the fuzz targets.
#pragma once

#include <string>
#include <vector>

#include "sim.h"

namespace prove {

// The texts the installer shows in its own box ("Miravelt Installation",
// MB_OK): the guard's request and the copy and permission failures.
const std::vector<std::string>& InstallerMessages();

// Whether a box is one the installer may show: one of InstallerMessages()
// with its caption and type, or the box of a refused INI write
// ("Unable to write to Wininit.ini" / "... System.ini", "Application Error",
// 0x2010).
bool IsAllowedBox(const sim::Box& box);
bool IsFatalBox(const sim::Box& box);

// The INI file named by a fatal write call, "Wininit.ini" or "System.ini",
// or "" when the call is not one whose refusal ends a 9x run: a
// WritePrivateProfileStringA of section RENAME (Wininit.ini) or of section
// VCache into System.ini.
std::string FatalIniFile(const sim::Call& call);

// The arguments of a traced call, split at the commas between them; quoted
// strings stay whole, with their quotes and escapes.
std::vector<std::string> SplitArgs(const std::string& args);

// What is known about a run before judging it.
struct Expectation {
  bool nineX = false;  // the machine is of the 9x family
  // The file of the fatal INI write that the fault plan refused, or "".
  std::string refusedFatalIni;
};

struct Verdict {
  bool leak = false;   // resources still held after the run
  bool wrong = false;  // exit code or message boxes not as they must be
  std::string why;     // for the report; empty when neither
};

// Judges the run that just ended on the current simulated machine.
Verdict Judge(const sim::RunResult& result, const Expectation& expected);

}  // namespace prove
