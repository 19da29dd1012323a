// Internals shared by the registry, its security and the handle table of the
// simulated machine (registry.cpp, security.cpp, processes.cpp, handles.cpp).
#pragma once

#include <cstdint>
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

// A pointer argument as trace text: "NULL" or "ptr" (addresses differ from
// run to run and stay out of the trace).
inline std::string PointerArg(const void* p) { return p ? "ptr" : "NULL"; }

// ------------------------------------------------------------ key paths
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

// ------------------------------------------------------------ security
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

// ------------------------------------------------------------ handles
// The process heap's handle (never a value NewHandle gives out).
extern const uintptr_t kProcessHeapHandle;

// ------------------------------------------------------------ memory blocks
// Real memory counted as a resource until freed (HeapAlloc, SIDs, LocalFree
// blocks). FreeBlock answers false for memory that is not a live block of
// that kind.
void* NewBlock(HandleKind kind, size_t size);
bool FreeBlock(void* block, HandleKind kind);
bool IsBlock(const void* block, HandleKind kind);

}  // namespace sim
