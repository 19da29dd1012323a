// Registry removals: whole key trees, a key that has become empty, and a
// value that still holds the text it was given.
#pragma once

#include <string>

#include "drvsetup.h"

// Removes the key at path below parent (an open key or a predefined root)
// with all its values and all its subkeys at any depth, each subkey below the
// handle of its own parent, deepest first. Returns true when the platform
// removed the key itself. An empty path names the parent and is refused.
bool DeleteKeyTree(HKEY parent, const std::string& path);

// DeleteKeyTree below HKEY_LOCAL_MACHINE; a key that is still there
// afterwards is reported ("Unable to remove \"HKLM\<path>\" !"). A missing
// key is no problem.
void RemoveMachineKeyTree(const std::string& path);

// True unless the key is known to be missing: a key that cannot be opened
// for reading for another reason (its access list, a failing platform) may
// well be there.
bool KeyExists(HKEY root, const std::string& path);

// Removes the key when it holds neither a subkey nor a value (the default
// value included); a key that holds anything, or cannot be read, stays.
// Returns whether it was removed.
bool DeleteKeyIfEmpty(HKEY root, const std::string& path);

// Removes the value when it is a string (REG_SZ or REG_EXPAND_SZ) whose text
// equals `text` ignoring ASCII case: the same file name however it is
// written. A value with other data belongs to someone else and stays.
// Returns whether it was removed.
bool DeleteValueIfText(HKEY root, const std::string& path, const std::string& name,
                       const std::string& text);
