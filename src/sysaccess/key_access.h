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
// Writes the saved list back. Before Windows 2000 (PlatformMajorVersion
// below 5) only the DACL is named; from then on its protection as well.
bool RestoreKeyAccess(HKEY root, const std::string& keyPath, const SavedKeyAccess& saved);

// Leaves out of a saved list every entry GrantKeyAccess(accessMask) writes:
// allowed, inherited by objects and containers below (flags 3), that mask,
// Everyone (S-1-1-0). In a list read before a grant such an entry is one an
// earlier grant left when its withdrawal never came; written back, it would
// stay for good. Entries of any other type, flags, mask or SID are kept, in
// their order. A list left without any entry gets the device tree's usual
// list (the system all, everyone read) instead of shutting every account
// out. Returns whether an entry was left out.
bool DropGrantEntries(SavedKeyAccess& saved, DWORD accessMask);

// A grant made for the time of some writes, and what its withdrawal needs.
// The failure message, when set, is shown when the grant is refused and when
// its withdrawal fails twice (once a run either way).
struct TemporaryKeyGrant {
  HKEY root = NULL;
  std::string keyPath;
  DWORD accessMask = 0;
  std::string failureMessage;
  SavedKeyAccess saved;   // the list to write back
  bool granted = false;   // this run's grant was made
  bool leftOver = false;  // the list held an earlier run's grant entry
};

// Reads the key's list, leaves out grant entries an earlier run left, and
// grants Everyone accessMask on the key and everything below it. A list that
// cannot be read could not be put back, so then no grant is made. Returns
// true when the grant was made: the writes may go ahead under it.
bool BeginTemporaryKeyGrant(HKEY root, const std::string& keyPath, DWORD accessMask,
                            TemporaryKeyGrant& grant);
// Writes the list read by BeginTemporaryKeyGrant back, once more when the
// platform refuses. Returns true when the grant is withdrawn, or there was
// nothing to withdraw.
bool EndTemporaryKeyGrant(TemporaryKeyGrant& grant);
