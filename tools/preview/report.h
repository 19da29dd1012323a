// What one run on the simulated machine did, captured from the machine before
// the run, after it and after the restart, and its plain-text forms.
#pragma once

#include <deque>
#include <iosfwd>
#include <map>
#include <string>
#include <unordered_map>
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
  std::string id;     // the path upper-cased
  std::string path;   // "HKEY_LOCAL_MACHINE\SYSTEM\..."
  size_t parent = 0;  // the parent's place in the snapshot; a root: its own
  size_t end = 0;     // the place after the last key below it
  std::vector<std::pair<std::string, sim::Value>> values;
  bool hasSecurity = false;
  sim::KeySecurity security;
};
// Every key of both trees in walk order: each before its subkeys, subkeys in
// index order. The keys are found by id through an index made when first
// needed: a run that leaves the order alone never needs it.
class RegistrySnapshot {
 public:
  static const size_t npos = static_cast<size_t>(-1);
  std::deque<KeyState> keys;                 // grows without moving what it holds
  uint64_t mark = 0;                         // the registry's, when taken
  size_t Find(const std::string& id) const;  // its place, or npos

  RegistrySnapshot() = default;
  RegistrySnapshot(RegistrySnapshot&&) = default;
  RegistrySnapshot(const RegistrySnapshot&) = delete;  // as large as the registry

 private:
  mutable std::vector<size_t> index_;
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
// What changed from before to the registry as it stands.
RegistryChanges CompareRegistry(const RegistrySnapshot& before, bool withSecurity);
// The renames the platform will carry out at the next start: the pending list
// (NT family) or Wininit.ini's [RENAME] section (9x family).
std::vector<Rename> PendingRenamesNow(bool nineX, const FileSnapshot& files);

// A file that differs between two snapshots.
struct FileChange {
  std::string path;
  size_t bytes = 0;
  bool isNew = false;  // not there before
  std::string origin;  // the source or disc file with the same bytes, if any
  bool attributesChanged = false;
  DWORD attributesBefore = 0;
  DWORD attributesAfter = 0;
  bool staged = false;  // named at the restart
  std::string becomes;  // staged: the name it gets (empty: deleted)
};
struct FileChanges {
  std::vector<FileChange> placed;      // new or replaced (INI files left out)
  std::vector<FileChange> staged;      // new files a pending rename names
  std::vector<FileChange> removed;     // gone
  std::vector<FileChange> attributes;  // same bytes, other attributes
};
FileChanges CompareFiles(const FileSnapshot& before, const FileSnapshot& after,
                         const std::vector<Rename>& renames, const RunReport& report);

// An INI file that differs, with its differences by section: the header
// ("" for the lines before the first one) and its "- " and "+ " lines.
typedef std::vector<std::pair<std::string, std::vector<std::string>>> SectionDiffList;
struct IniChange {
  std::string path;
  bool created = false;
  bool removed = false;
  SectionDiffList sections;
};
// INI files (*.INI) that differ, skip (an upper-cased path) left out.
std::vector<IniChange> CompareIniFiles(const FileSnapshot& before, const FileSnapshot& after,
                                       const std::string& skip);
// Wininit.ini of the machine, upper-cased: its renames are shown as renames.
std::string WininitPath();

// "REG_SZ", ..., or "type N".
std::string TypeName(DWORD type);

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
// The whole report as one JSON document (tools/preview/README.md).
std::string JsonReport(const RunReport& report);

}  // namespace preview
