// Key security of the simulated machine (security.cpp): well-known SIDs,
// access checks, inheritance, shared with the registry and the processes.
#pragma once

#include <string>
#include <vector>

#include "machine.h"

namespace sim {

// Well-known SIDs in string form.
extern const char* const kSidEveryone;
extern const char* const kSidCreatorOwner;
extern const char* const kSidInteractive;
extern const char* const kSidAuthenticatedUsers;
extern const char* const kSidLocalSystem;
extern const char* const kSidAdministrators;
extern const char* const kSidUsers;

bool IsNtFamily();

// Whether the version has Windows 2000's inheritance: entries marked as
// inherited, handed down to existing keys when a list is set. NT 4 and NT
// 3.51 copy inheritable entries as plain ones into a key when it is made,
// and only then.
bool AutoInheritance();
// The explicit entries of a list as the version stores them when it is set:
// as given before Windows 2000; on 2000 and XP an inheritable entry with
// generic rights split into one for the key alone (key rights) and an
// inherit-only one; on 7 and 10 generic rights mapped in place.
std::vector<Ace> StoredEntries(const std::vector<Ace>& given);
// GENERIC_* rights mapped to key rights.
DWORD MapKeyRights(DWORD mask);
// The rights the running user holds on a key (every right on the 9x family
// and for a null DACL).
DWORD GrantedRights(const Key& key);
// Whether the running user holds every right of desired (generic rights
// mapped first).
bool MayAccess(const Key& key, DWORD desired);
// The entries a child key with the given owner inherits from its parent's
// list (CREATOR OWNER entries apply to that owner).
std::vector<Ace> InheritedEntries(const std::vector<Ace>& parentDacl, const std::string& owner);
// The security a key created below parent by the running user gets.
KeySecurity NewKeySecurity(const Key& parent);
// Recomputes the inherited entries of every key below key (protected keys
// and their subtrees keep theirs).
void PropagateInheritance(Key* key);
// The owner SID new keys of the running user get.
std::string DefaultOwner();
// Size of the self-relative descriptor GetNamedSecurityInfoA returns with
// owner, group and DACL.
DWORD SecurityDescriptorSize(const KeySecurity& security);

}  // namespace sim
