// Registry key access grant: replaces a key's DACL by one inheritable
// allow-entry for Everyone, and puts the previous DACL back afterwards.
#pragma once

#include <string>

#include "drvsetup.h"

// "MACHINE\\" + keyPath and so on; an unknown root gives the bare key path.
std::string KeyObjectName(HKEY root, const std::string& keyPath);

bool GrantKeyAccess(HKEY root, const std::string& keyPath, DWORD accessMask);

// A key's DACL as read before a grant, to be written back after it.
struct SavedKeyAccess {
  bool daclPresent = false;
  bool isProtected = false;
  std::string acl;  // the ACL's bytes, AclSize long
};

bool ReadKeyAccess(HKEY root, const std::string& keyPath, SavedKeyAccess& saved);
bool RestoreKeyAccess(HKEY root, const std::string& keyPath, const SavedKeyAccess& saved);
