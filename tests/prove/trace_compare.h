// The platform calls of one run, from the simulated machine's trace or from
// Wine's relay log, brought into one form so that the two can be compared
// call by call.
//
// What legitimately differs is taken out: handle and pointer values (a
// pointer is only NULL or not; a handle becomes the name of what it was
// obtained for: a registry key by its path, a library, search, snapshot or
// process handle by the order in which it was obtained), the 64-bit
// register contents around 32-bit arguments, the library Wine routes a call
// through, the C runtime's start-up calls before the installer's first own
// call, and the per-process calls of the process walk (the two machines run
// different processes).
#pragma once

#include <string>
#include <vector>

#include "sim.h"
#include "wine_prefix.h"

namespace prove {

struct NormalArg {
  std::string text;
  bool prefix = false;  // Wine cut a long string: only its start is known
};

struct NormalCall {
  std::string function;
  std::vector<NormalArg> args;
  std::string result;
  std::string Text() const;  // "Function(a, b) = r"
};

// Whether two calls are the same call (a cut string matches any text that
// starts with it).
bool SameCall(const NormalCall& a, const NormalCall& b);

// The installer's calls, in order, normalised.
std::vector<NormalCall> NormalizeSimTrace(const std::vector<sim::Call>& trace);
std::vector<NormalCall> NormalizeRelayTrace(const winehost::RelayTrace& trace);

// The calls only one side made, in order, each as "sim-only: CALL" or
// "wine-only: CALL" (a longest common subsequence of the two lists is what
// both made); a call both made alike but with another result comes out as
// "differs: CALL: sim R1; wine R2".
std::vector<std::string> CompareTraces(const std::vector<NormalCall>& sim,
                                       const std::vector<NormalCall>& wine);

}  // namespace prove
