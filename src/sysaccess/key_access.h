// Registry key access grant: replaces a key's DACL by one inheritable
// allow-entry for Everyone, and puts the previous DACL back afterwards.
#pragma once

#include <string>

#include "drvsetup.h"
#include "platform_family.h"

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

// Leaves out of a saved list every entry of the kind GrantKeyAccess
// (accessMask) writes, in each form the platform may store it: as written
// (allowed, inherited by objects and containers below, flags 3, that mask,
// Everyone S-1-1-0), with the mask mapped to key rights, or split into an
// inherit-only entry (flags 11) and an entry for the key alone (flags 0, key
// rights; left out only beside the inherit-only one). In a list read before a
// grant such an entry is one an earlier grant left when its withdrawal never
// came; written back, it would stay for good. Every other entry is kept, in
// its order. A list left without any entry gets the device tree's usual list
// (the system all, everyone read, administrators read and change the list)
// instead of shutting every account out. Returns whether an entry was left
// out.
bool DropGrantEntries(SavedKeyAccess& saved, DWORD accessMask);

// The list from before a grant, kept where a restart cannot lose it: a
// binary value below HKEY_LOCAL_MACHINE\Software\Miravelt, one key per
// granted key. KeepKeyAccess writes it (true: written), ReadKeptKeyAccess
// reads it back (false: none, or not a whole list), ForgetKeptKeyAccess
// removes it (true: gone, or there was none).
bool KeepKeyAccess(HKEY root, const std::string& keyPath, const SavedKeyAccess& saved);
bool ReadKeptKeyAccess(HKEY root, const std::string& keyPath, SavedKeyAccess& saved);
bool ForgetKeptKeyAccess(HKEY root, const std::string& keyPath);

// A grant made for the time of some writes, and what its withdrawal needs.
// The failure message, when set, is shown when the grant is refused and when
// its withdrawal fails twice (once a run either way).
struct TemporaryKeyGrant {
  HKEY root = NULL;
  std::string keyPath;
  DWORD accessMask = 0;
  std::string failureMessage;
  SavedKeyAccess saved;   // the list to write back
  bool listRead = false;  // the key's list was read: the run may have kept it
  bool granted = false;   // this run's grant was made
  bool leftOver = false;  // the key held an earlier run's grant
};

// Reads the key's list and keeps the list to put back (see
// ReadKeptKeyAccess: while an earlier run's grant stands, the list it kept;
// otherwise the key's own), without any entry of the grant's kind; then
// grants Everyone accessMask on the key and everything below it. A list
// that cannot be read could not be put back, and one that cannot be kept
// would be lost with a cut: no grant then. Returns true when the grant was
// made: the writes may go ahead under it.
bool BeginTemporaryKeyGrant(HKEY root, const std::string& keyPath, DWORD accessMask,
                            TemporaryKeyGrant& grant);
// Writes the kept list back (once more when the platform refuses), also
// when only an earlier run's grant stood, and then removes the kept copy.
// Returns true when the grant is withdrawn, or there was nothing to
// withdraw; after a refused withdrawal the kept list stays for the next run.
bool EndTemporaryKeyGrant(TemporaryKeyGrant& grant);
