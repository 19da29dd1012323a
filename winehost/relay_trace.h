// Relay traces: what a Windows program called under WINEDEBUG=+relay, with
// its arguments and results.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winehost {

struct RelayArg {
  std::string raw;         // as printed: "140004015 \"C:\\\\x\""
  uint64_t value = 0;      // the number before any string
  bool hasText = false;    // a string followed the number
  bool wide = false;       // L"..."
  bool truncated = false;  // Wine cut the string ("...)
  std::string text;        // the string, unescaped
};

struct RelayCall {
  std::string tid;
  std::string dll;  // as Wine prints it: "KERNEL32", "user32", "ADVAPI32"
  std::string function;
  std::vector<RelayArg> args;
  bool returned = false;  // a Ret line was seen (ExitProcess has none)
  uint64_t retval = 0;
  uint64_t retAddress = 0;

  const std::string& Text(size_t i) const;  // args[i].text, "" when absent
  uint64_t Value(size_t i) const;           // args[i].value, 0 when absent
};

struct RelayTrace {
  bool found = false;  // the program's process was seen in the log
  std::string pid;
  uint64_t imageBase = 0;
  std::vector<RelayCall> calls;  // calls made from the program's own code

  std::vector<RelayCall> Named(const std::string& function) const;
  size_t Count(const std::string& function) const;
};

// Keeps, of a log written with WINEDEBUG=+pid,+loaddll,+relay, the calls that
// the program `exeName` (file name, any case) made from its own image
// (imageSize bytes from the base its loaddll line reports), with their
// results. Calls of other processes and calls between Wine's own libraries
// are dropped.
RelayTrace ParseRelayLog(const std::string& log, const std::string& exeName, uint64_t imageSize);
// SizeOfImage from a PE file's header; 0 when it cannot be read.
uint64_t PeImageSize(const std::string& hostPath);

struct MessageBoxCall {
  std::string text, caption;
  uint64_t type = 0;
};
std::vector<MessageBoxCall> MessageBoxes(const RelayTrace& trace);
// The code passed to ExitProcess from the program's code; -1 when none.
int64_t ExitProcessCode(const RelayTrace& trace);

}  // namespace winehost
