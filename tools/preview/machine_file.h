// Machine descriptions: the state a simulated machine starts from before the
// preview runs the installer on it (preloaded files, INI contents, registry
// values, read-only and locked files, running programs, missing folders).
// They are JSON files; tools/preview/README.md describes the format.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "sim.h"

namespace preview {

struct MachineDescription {
  bool hasWindows = false;  // the file names a Windows version
  sim::Windows windows = sim::Windows::WinXP;

  struct File {
    std::string path;
    std::string data;
    bool readOnly = false;
    bool locked = false;
  };
  struct IniFile {
    std::string path;
    std::string text;
  };
  struct RegistryEntry {
    std::string root;  // "HKLM", "HKCU" or "HKU"
    std::string key;   // below the root
    bool hasValue = false;
    std::string name;
    DWORD type = REG_NONE;
    std::string data;  // exact bytes
  };

  std::vector<std::string> folders;
  std::vector<File> files;
  std::vector<IniFile> ini;
  std::vector<RegistryEntry> registry;
  std::vector<std::string> processes;
  std::vector<std::string> readOnly;
  std::vector<std::string> locked;
  std::vector<std::string> missing;
};

// The largest description read: anything longer is refused unread (a
// device such as /dev/zero never ends).
const size_t kMaxMachineFileBytes = 16u * 1024u * 1024u;

// Registry limits of Windows: a key name, a value name, and the levels of
// keys below a root.
const size_t kMaxKeyNameLength = 255;
const size_t kMaxValueNameLength = 16383;
const size_t kMaxKeyDepth = 512;

// Reads a description from JSON text. On failure returns false and names the
// place and the fault in *error ("files[1].path: expected a string").
bool ParseMachineDescription(const std::string& json, MachineDescription* out, std::string* error);
// Reads a file of at most kMaxMachineFileBytes; a folder, an empty file or
// one holding zero bytes is refused with what it is.
bool LoadMachineDescription(const std::string& fileName, MachineDescription* out,
                            std::string* error);

// What a file system entry is, for a message: "a file", "a folder", "a
// pipe", "a character device", ...
std::string KindOfFile(std::filesystem::file_type type);

// Text from the input as an error message shows it: in double quotes,
// control characters as \xNN, and cut after limit bytes with the number of
// bytes left out ("AAAA..." (9996 more bytes)).
std::string Shown(const std::string& text, size_t limit = 120);
// A whole message made safe for a terminal: control characters other than
// the line end escaped, and cut after limit bytes.
std::string SafeLine(const std::string& text, size_t limit = 4000);

// Whether Windows keeps a file name for a device: CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9 (also with an extension, "NUL.TXT", and trailing
// spaces before it), CONIN$ and CONOUT$, in any case.
bool IsReservedDeviceName(const std::string& name);

// Folder names that paths of a description may use as %NAME%: the machine's
// windows and system folders, the installer's source folder and the
// application folder of the run (empty when none is given).
struct PathNames {
  std::string windows;
  std::string system;
  std::string source;
  std::string application;
};
std::string ExpandPath(const std::string& path, const PathNames& names);

// Whether a path names a file or folder on drive C: that Windows could hold
// ("C:\A\B.TXT": drive, backslashes, no empty, "." or ".." parts, none of
// the characters Windows refuses, no device name). Fills *why when not.
bool IsMachinePath(const std::string& path, std::string* why);

// Builds the described state on the current simulated machine, in this
// order: folders, files, INI files, registry, processes, read-only and
// locked marks, and last the removals. Returns false with *error for a path
// that is not a machine path or a mark on something that is not a file.
bool ApplyMachineDescription(const MachineDescription& description, const PathNames& names,
                             std::string* error);

// Starts a program with the process id pid on the simulated machine: a bare
// file name is taken to lie in the given folder. Returns false with *error
// for an empty name.
bool AddRunningProgram(const std::string& name, const std::string& folder, DWORD pid,
                       std::string* error);
// The first process id above those of every running process (at least
// 1000); programs added one after the other take it in steps of 4.
DWORD FirstFreeProcessId();

// Parses a registry root name ("HKLM", "HKEY_LOCAL_MACHINE", ...).
bool RootFromName(const std::string& name, HKEY* root);

}  // namespace preview
