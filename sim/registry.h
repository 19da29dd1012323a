// Registry internals of the simulated machine (registry.cpp): key paths, the
// chain of keys below a root, and keys added or removed behind open handles.
#pragma once

#include <string>
#include <vector>

#include "machine.h"

namespace sim {

// A key path split at its backslashes. Empty names (a trailing backslash, a
// doubled one) are passed over; a leading backslash makes the path invalid.
bool SplitKeyPath(const char* path, std::vector<std::string>* names);
// The predefined root's name ("HKEY_LOCAL_MACHINE"), or nullptr.
const char* PredefinedRootName(HKEY key);
// A registry key handle as trace text: the root's name, or the opened key's
// path in brackets, or the bare number.
std::string KeyArg(HKEY key);
// The keys from the top of a tree (hklm or hku) down to the key a predefined
// root stands for (HKEY_CURRENT_USER: hku, then the user's key).
bool RootChain(HKEY root, std::vector<Key*>* chain, std::string* path);
// Extends a chain by the keys of names; false when one is missing.
bool WalkChain(std::vector<Key*>* chain, const std::vector<std::string>& names);
// Open handles to a removed subtree answer ERROR_KEY_DELETED from then on.
void ForgetRemovedKeys(Key* subtreeTop);
// Adds a subkey below parent with the security a new key gets there.
Key* AddSubkey(Key* parent, const std::string& name);

}  // namespace sim
