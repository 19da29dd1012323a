// The parts of a machine that a run may change, read the same way from the
// simulated machine and from a Wine prefix, as flat items ("file PATH",
// "reg KEY", "reg KEY : NAME", "ini FILE [SECTION] LINE", "pending",
// "security KEY"), so that the changes of a run can be compared as sets.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "wine_prefix.h"

namespace prove {

// What is looked at. Paths are Windows paths; registry keys start with
// HKLM\ or HKCU\.
struct Watch {
  std::vector<std::string> folders;   // every file below them
  std::vector<std::string> iniFiles;  // full paths
  std::vector<std::string> keys;      // every key and value below them
  std::string securityKey;            // HKLM-relative; "" for none
};

// Item name -> its content. Paths and key names are upper-cased, as the
// platform ignores their case.
using State = std::map<std::string, std::string>;

State SimState(const Watch& watch);
State WineState(winehost::WinePrefix& wine, const Watch& watch);

// The items of an INI text: each non-blank line with its section, counted,
// and the order of the lines of a [RENAME] section.
void AddIniItems(const std::string& file, const std::string& text, State* state);

// item -> "BEFORE -> AFTER" for every item that differs ("absent" where it
// is missing). The access list of a key only says "changed".
std::map<std::string, std::string> Changes(const State& before, const State& after);

// The items whose change is not the same on both sides, one line each:
// "ITEM: sim CHANGE; wine CHANGE" ("unchanged" where a side did not change
// it).
std::vector<std::string> CompareChanges(const std::map<std::string, std::string>& sim,
                                        const std::map<std::string, std::string>& wine);

// The registry below the watched keys as Wine has it, for building the same
// starting state on the simulated machine: key paths (root included) and
// their values.
struct RegistryCopy {
  struct Value {
    std::string key, name;
    uint32_t type = 0;
    std::string data;
  };
  std::vector<std::string> keys;  // parents before children
  std::vector<Value> values;
};
RegistryCopy WineRegistry(winehost::WinePrefix& wine, const std::vector<std::string>& keys);
// Replaces the watched keys of the simulated machine by the copy.
void PutSimRegistry(const RegistryCopy& copy, const std::vector<std::string>& keys);

}  // namespace prove
