// What a finished run of the installer on the simulated machine may look
// like, whatever went wrong on the machine: the message boxes it may show,
// the INI writes whose refusal ends a 9x run, and the verdict on one run.
// Shared by the fault campaign and the fuzz targets.
#pragma once

#include <map>
#include <set>
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

// The removal's counterpart of FatalIniFile: "Wininit.ini" when call k
// (1-based) of the trace is one whose refusal ends a 9x removal, the open of
// Wininit.ini for writing or a size, read, seek, write or truncation on the
// handle that open returned; "" otherwise (the first reading of the file
// only makes the removal take no pending renames into account).
std::string RemovalFatalIniFile(const std::vector<sim::Call>& trace, size_t k);

// Whether a box is one the removal shows besides the installer's: a file it
// can neither delete nor schedule for deletion ("Unable to remove \"NAME\" !"
// in the installer's box).
bool IsRemovalMessage(const sim::Box& box);

// The arguments of a traced call, split at the commas between them; quoted
// strings stay whole, with their quotes and escapes.
std::vector<std::string> SplitArgs(const std::string& args);

// What is known about a run before judging it.
struct Expectation {
  bool nineX = false;  // the machine is of the 9x family
  // The file of the fatal INI write that the fault plan refused, or "".
  std::string refusedFatalIni;
  bool removal = false;  // the run is the removal's: its messages are allowed too
};

struct Verdict {
  bool leak = false;   // resources still held after the run
  bool wrong = false;  // exit code or message boxes not as they must be
  std::string why;     // for the report; empty when neither
};

// Judges the run that just ended on the current simulated machine.
Verdict Judge(const sim::RunResult& result, const Expectation& expected);

// ------------------------------------------------------ what a run leaves
// The state of the whole simulated machine as items, names upper-cased as
// the platform ignores their case:
//   "file PATH"               the content of a file (INI files: "ini file")
//   "attr PATH"               its attributes
//   "ini PATH [SECTION] LINE" how often the line stands in the section
//   "reg KEY"                 "key"; "reg KEY : NAME" a value's type and data
//   "security KEY"            the access list of the device-enumeration key
//                             (NT family)
using MachineState = std::map<std::string, std::string>;
MachineState ReadMachineState();

extern const char* const kEnumRootSecurityItem;

// The items whose content differs, or that stand on one side only.
std::set<std::string> ChangedItems(const MachineState& before, const MachineState& after);
// The "file" items of before whose content is in after neither at their
// name nor at their backup name (the same folder and base name with the
// extension ".OLD", where a staged replacement keeps the file it replaces).
std::set<std::string> LostFiles(const MachineState& before, const MachineState& after);

// What a run may do to a machine: what the installer's fault-free run does
// to the same machine (its own keys, values, INI lines and files, the files
// it replaces or removes on purpose, and the access list of the
// device-enumeration key it leaves: a run removes an entry that gives
// Everyone full access of the grant's kind).
struct Allowance {
  std::set<std::string> changed;
  std::set<std::string> lost;
  std::set<std::string> lists;  // access lists of Enum\Root a clean run leaves
  // For a removal: the machine restarted without it (fault_campaign.h,
  // JudgeRemovalState).
  MachineState restartOnly;
};
Allowance AllowanceOf(const MachineState& before, const MachineState& cleanAfter);
// Adds what another clean run allows.
void Widen(Allowance& allowance, const Allowance& more);

// The items of the list the installer keeps of an access list while its
// grant stands (below HKLM\SOFTWARE\MIRAVELT): its own record, which may
// stay after a refused withdrawal and is not judged.
bool IsKeptListItem(const std::string& item);

// Judges what a run left (after the restart that completes it): no file
// lost that the fault-free run keeps, the access list of the
// device-enumeration key as before, and no item changed outside the
// allowance. Returns the reasons, "" when the state is right.
std::string JudgeState(const MachineState& before, const MachineState& after,
                       const Allowance& allowance);

}  // namespace prove
