// What one run on the simulated machine did, captured from the machine before
// the run, after it and after the restart, and its plain-text forms.
#pragma once

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "sim.h"

namespace preview {

struct FileState {
  std::string path;  // as stored
  std::string data;
  DWORD attributes = 0;
};
// Files of the whole machine, by upper-cased path.
typedef std::map<std::string, FileState> FileSnapshot;

struct KeyState {
  std::string path;  // "HKEY_LOCAL_MACHINE\SYSTEM\..."
  std::vector<std::pair<std::string, sim::Value>> values;
  bool hasSecurity = false;
  sim::KeySecurity security;
};
struct RegistrySnapshot {
  std::vector<std::string> order;        // upper-cased paths, walk order
  std::map<std::string, KeyState> keys;  // by upper-cased path
};

struct Rename {
  std::string from;
  std::string to;  // empty: the file is deleted
  bool replace = false;
};

struct ValueChange {
  std::string name;
  sim::Value value;
  bool hadOld = false;
  sim::Value old;
};
struct KeyChange {
  std::string path;
  bool created = false;
  std::vector<ValueChange> written;
  std::vector<std::string> removedValues;
};
struct SecurityChange {
  std::string path;
  std::string before;
  std::string after;
};
struct RegistryChanges {
  std::vector<KeyChange> keys;           // created keys and keys with values written or removed
  std::vector<std::string> removedKeys;  // topmost removed keys only
  std::vector<SecurityChange> security;
};

struct RunReport {
  // Filled by the caller.
  std::string windowsName;
  bool nineX = false;
  std::string commandLine;
  std::string sourceText;
  std::string sourceFolder;
  std::vector<std::string> discs;
  bool trace = false;

  // Filled by CaptureRun.
  sim::RunResult result;
  std::vector<sim::Box> boxes;
  std::vector<sim::Call> calls;  // with trace only
  size_t callCount = 0;
  FileSnapshot before;
  FileSnapshot after;
  FileSnapshot afterRestart;
  RegistryChanges registry;
  std::vector<Rename> renames;      // pending after the run, in order
  std::vector<Rename> renamesLeft;  // still pending after the restart
};

FileSnapshot TakeFiles();
RegistrySnapshot TakeRegistry(bool withSecurity);
RegistryChanges CompareRegistry(const RegistrySnapshot& before, const RegistrySnapshot& after);
// The renames the platform will carry out at the next start: the pending list
// (NT family) or Wininit.ini's [RENAME] section (9x family).
std::vector<Rename> PendingRenamesNow(bool nineX, const FileSnapshot& files);

// Line differences ("- old", "+ new"), in order; unchanged lines are left out.
std::vector<std::string> DiffLines(const std::vector<std::string>& a,
                                   const std::vector<std::string>& b);

// A registry value as text: type, data and byte count.
std::string ValueText(const sim::Value& value);

// The differences of two INI texts, section by section: a "[Section]" line
// (none for lines before the first header) followed by its "- " and "+ "
// lines; sections without differences are left out.
std::vector<std::string> IniDifferences(const std::string& before, const std::string& after);

// Runs the installer on the current machine and fills the run's part of the
// report; restarts the machine at the end.
void CaptureRun(RunReport* report);

void WriteReport(const RunReport& report, std::ostream& out);
// The registry changes as a REGEDIT4 file (CR LF line ends).
std::string Regedit4Text(const RunReport& report);

}  // namespace preview
