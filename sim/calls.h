// The table of the simulated machine's Win32 calls (the rows are in
// sim/calls.def): which library exports each call, on which versions of
// Windows, whether the fault plan may fail it, and its argument kinds for
// the comparison with Wine. The library lists, the entry points
// GetProcAddress hands out, the calls that never fail, the comparison's
// signatures and the Windows preview build's renames all come from it.
#pragma once

#include <string>
#include <vector>

#include "sim.h"

namespace sim {

// A set of Windows versions: one bit per Windows value.
typedef unsigned VersionSet;

constexpr VersionSet VersionBit(Windows v) { return 1u << static_cast<unsigned>(v); }

constexpr VersionSet k9xVersions =
    VersionBit(Windows::Win95) | VersionBit(Windows::Win98) | VersionBit(Windows::WinMe);
constexpr VersionSet kNtVersions = VersionBit(Windows::NT351) | VersionBit(Windows::NT40) |
                                   VersionBit(Windows::Win2k) | VersionBit(Windows::WinXP) |
                                   VersionBit(Windows::Win7) | VersionBit(Windows::Win10);
constexpr VersionSet kEveryVersion = k9xVersions | kNtVersions;
// NT 3.51 lacks the named-object security calls.
constexpr VersionSet kAllButNt351 = kEveryVersion & ~VersionBit(Windows::NT351);
// PSAPI.DLL: the NT family from NT 4 on.
constexpr VersionSet kFromNt40 = kNtVersions & ~VersionBit(Windows::NT351);
// Toolhelp: the 9x family, and the NT family from 2000 on.
constexpr VersionSet kToolhelpVersions =
    kEveryVersion & ~(VersionBit(Windows::NT351) | VersionBit(Windows::NT40));

enum Failing { kCanFail, kNeverFails };

struct CallInfo {
  const char* name;     // "CopyFileA"
  const char* library;  // "KERNEL32.DLL"
  VersionSet versions;
  Failing failing;
  const char* args;  // argument kinds, one letter each (see calls.def)
  char result;       // result kind

  bool On(Windows v) const { return (versions & VersionBit(v)) != 0; }
};

// Every row, in the order of calls.def.
const std::vector<CallInfo>& Calls();
// The row of a call; nullptr for a name the machine does not have.
const CallInfo* FindCall(const std::string& name);

}  // namespace sim
