// Internal state of the simulated machine, shared by the files of sim/.
// Tests and tools use sim.h; only sim/*.cpp include this.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "handles.h"
#include "sim.h"
#include "text.h"

namespace sim {

// Case-insensitive keys are upper-cased names; "0x1F" is how numbers appear
// in the trace.
using text::Hex;
using text::Upper;

// ------------------------------------------------------------- file system
struct Node {
  std::string name;  // as created (case kept)
  bool folder = false;
  std::string data;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  uint64_t lastWrite = kDefaultFileTime;
  bool locked = false;
  std::map<std::string, std::unique_ptr<Node>> children;  // key: Upper(name)
};

struct Drive {
  UINT type = DRIVE_NO_ROOT_DIR;
  bool mediumPresent = true;
  bool fat = false;  // keeps last-write times to 2 seconds
  Node root;         // folder
};

// --------------------------------------------------------------- registry
// Subkeys and values are found by their upper-cased names in constant time.
// The NT family enumerates subkeys in the order of those names, the 9x
// family in the order they were made (`made`). subkeyOrder is that index
// order, for RegEnumKeyExA's positions: a new key that comes last extends
// it, a removed one leaves it, and any other insertion leaves it stale, to
// be made afresh when next asked for (SubkeysInOrder).
struct Key {
  std::string name;                                               // as created
  Key* parent = nullptr;                                          // nullptr: a root
  std::unordered_map<std::string, std::unique_ptr<Key>> subkeys;  // key: Upper(name)
  uint64_t made = 0;                                              // creation serial
  mutable std::vector<Key*> subkeyOrder;                          // index order, when not stale
  mutable bool subkeyOrderStale = false;
  // Names as created with their values, in index order, and each one's
  // place there by its upper-cased name.
  std::vector<std::pair<std::string, Value>> values;
  std::unordered_map<std::string, size_t> valuePlaces;
  KeySecurity security;  // NT family only
  uint64_t lastWrite = kDefaultFileTime;
  // The serial of the last change to the key or to any key below it: its
  // values, its access list, a subkey made or removed (NoteKeyChange).
  uint64_t changed = 0;
};
// Every change to a key goes through here, before or after the change: the
// key and the keys above it take the next serial, so that a walk can pass
// over what stayed as it was since a mark (RegistryMark).
void NoteKeyChange(Key* key);
// A value by name, or nullptr; removing one tells whether it was there.
const Value* FindValue(const Key& key, const std::string& name);
bool RemoveValue(Key* key, const std::string& name);
// The subkeys of a key in the order the platform enumerates them.
const std::vector<Key*>& SubkeysInOrder(const Key& key);

// ---------------------------------------------------------------- processes
struct Library {
  std::string name;  // "KERNEL32.DLL"
  std::string path;  // full path of its file
  bool missing = false;
  std::set<std::string> entryPoints;         // present entry points
  std::set<std::string> missingEntryPoints;  // made missing on purpose
};

struct Machine {
  Windows version = Windows::WinXP;
  bool versionFails = false;
  std::string commandLine;
  std::string modulePath;
  std::string windowsFolder;
  std::string systemFolder;
  bool dbcs = false;
  std::set<unsigned char> leadBytes;
  int64_t timeZoneBias = 0;

  Drive drives[26];

  // Registry: HKEY_LOCAL_MACHINE and HKEY_USERS hold everything; the other
  // predefined roots are views into them.
  Key hklm;
  Key hku;
  std::string userSid;
  std::vector<std::string> userGroups;

  std::vector<ProcessSpec> processes;
  DWORD installerPid = 0;
  std::map<std::string, Library> libraries;  // key: Upper(name)
  std::vector<std::string> loadedLibraryFiles;

  std::vector<Box> boxes;
  int boxAnswer = IDOK;

  // Handles and memory blocks handed out and not yet released. Handles are
  // small numbers; memory blocks are real allocations.
  std::map<uintptr_t, HandleObject> handles;
  uintptr_t nextHandle = 0x1000;
  std::map<void*, HandleKind> blocks;  // Heap, Sid, Local
  // Blocks of programs ended by a restart or a reset: no longer counted, and
  // kept allocated so that nothing frees them twice.
  std::map<void*, HandleKind> retiredBlocks;

  DWORD lastError = 0;
  std::vector<Call> trace;

  struct FaultRule {
    size_t index = 0;     // 1-based call index; 0: any
    bool onward = false;  // every call from index on
    std::string function;
    std::string argContains;
    size_t remaining = SIZE_MAX;
  };
  std::vector<FaultRule> faults;
  // Power loss: the process stops right before this call (1-based since
  // ClearTrace); 0: never.
  size_t stopBefore = 0;

  std::string commandLineBuffer;  // what GetCommandLineA points into
};

Machine& M();

// Thrown by the call at which the process stops (power loss, a killed
// process) and caught by Run: the program's code runs no further.
struct ProcessStop {};

// -------------------------------------------------------------- trace hooks
// Every Win32 entry point of the simulator starts with a CallRecord: it
// appends the call to the trace, tells whether the fault plan fails it, and
// takes the result and last error when the call returns. At the stop point
// of a power loss it throws ProcessStop instead, recording nothing.
class CallRecord {
 public:
  CallRecord(const char* function, std::string args);
  bool ShouldFail() const { return fail_; }
  // Stores result text and the current last error into the trace entry.
  void Done(const std::string& result);
  template <typename T>
  T Return(T value);

 private:
  size_t index_;
  bool fail_;
};

std::string Quote(const char* s);  // "\"text\"" with C escapes, or "NULL"
std::string ResultText(int64_t v);
std::string ResultText(const void* p);

template <typename T>
T CallRecord::Return(T value) {
  if constexpr (std::is_pointer_v<T>) {
    Done(ResultText(static_cast<const void*>(value)));
  } else {
    Done(ResultText(static_cast<int64_t>(value)));
  }
  return value;
}

// ------------------------------------------------------- shared internals
// Paths: full Windows path of a possibly relative path, and lookups.
std::string FullPath(const std::string& path);
Node* FindNode(const std::string& path);                       // nullptr when missing
Node* FindParent(const std::string& path, std::string* leaf);  // folder holding path

// Registry: the key a root handle or open key handle stands for, and key
// lookup below it. Predefined roots resolve into hklm / hku.
Key* RootKey(HKEY root, std::string* rootName);
Key* FindKey(Key* base, const std::string& path);

// Text of a pointer argument in the trace: "NULL" or "ptr" (addresses differ
// from run to run, so they are kept out of the trace).
std::string PointerArg(const void* p);

// The process's current folder (the installer's folder, no trailing
// backslash).
std::string CurrentFolder();
// Where a lookup of a path failed: ERROR_PATH_NOT_FOUND (no root, missing or
// non-folder parent), ERROR_NOT_READY (no disc), ERROR_FILE_NOT_FOUND (the
// last name); ERROR_SUCCESS when found.
DWORD LookupError(const std::string& path);
// ERROR_FILENAME_EXCED_RANGE for an ANSI path of MAX_PATH characters or more
// (the limit counts the terminating zero), which the ANSI path calls refuse;
// ERROR_SUCCESS otherwise, a null path included.
DWORD PathLengthError(const char* path);
// The drive a full path lies on (nullptr for paths without a drive letter).
Drive* DriveOf(const std::string& fullPath);
// Moves a file or folder to a new full path, replacing what stands there when
// replace is set; no attribute or lock checks (used at restart).
bool MoveEntry(const std::string& from, const std::string& to, bool replace);
// Deletes a file or an empty folder; no attribute or lock checks.
bool DeleteEntry(const std::string& path);

// Profile files: the full path a profile file name stands for (a bare name
// lies in the windows folder), and one section's lines as they stand in the
// file (blank lines left out); false when the file or section is missing.
std::string ProfilePath(const std::string& file);
bool ProfileSectionLines(const std::string& file, const std::string& section,
                         std::vector<std::string>* lines);

// Drops every handle and memory block of the running program (a restart or
// a reset ends it); the counters start afresh.
void DropResources(Machine& m);

// The value name and key of the NT family's pending renames.
extern const char* const kSessionManagerKey;
extern const char* const kPendingRenamesValue;

// Removes every process of the list in one pass over the process table.
void RemoveProcesses(const std::vector<DWORD>& pids);

// Standard machine pieces built by Reset, one per area.
void ResetFiles(Machine& m);
void ResetRegistry(Machine& m);
void ResetProcesses(Machine& m);

}  // namespace sim
