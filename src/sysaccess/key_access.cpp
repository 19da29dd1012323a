// Registry key access grant: one inheritable allow-entry for Everyone in
// place of a key's DACL, and the previous DACL written back afterwards. The
// named-object security functions are looked up in advapi32.dll at each call
// and may be missing.
#include "key_access.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

typedef decltype(&SetNamedSecurityInfoA) SetNamedSecurityInfoFn;
typedef decltype(&GetNamedSecurityInfoA) GetNamedSecurityInfoFn;

const char kSecurityLibrary[] = "advapi32.dll";

template <typename Fn>
Fn LookUp(HMODULE library, const char* name) {
  // Through the generic function pointer type, which converts to any other.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// Loads the security library and looks up one of its functions. Returns the
// library, to be freed by the caller, or NULL (nothing held) when the library
// does not load or lacks the function.
template <typename Fn>
HMODULE LoadSecurityFunction(const char* name, Fn* function) {
  HMODULE library = LoadLibraryA(kSecurityLibrary);
  if (!library) return NULL;
  *function = LookUp<Fn>(library, name);
  if (!*function) {
    FreeLibrary(library);
    return NULL;
  }
  return library;
}

WORD WordAt(const std::string& bytes, size_t offset) {
  WORD value = 0;
  std::memcpy(&value, bytes.data() + offset, sizeof(value));
  return value;
}

void PutWord(std::string& bytes, size_t offset, WORD value) {
  std::memcpy(&bytes[offset], &value, sizeof(value));
}

// The list without the entries that `drop` picks (each handed over as its
// bytes); the header's size and count follow. A list that cannot be walked
// is handed back as it stands.
template <typename Pick>
std::string WithoutEntries(const std::string& acl, Pick drop) {
  if (acl.size() < sizeof(ACL)) return acl;
  const size_t aclSize = WordAt(acl, offsetof(ACL, AclSize)) < acl.size()
                             ? WordAt(acl, offsetof(ACL, AclSize))
                             : acl.size();
  const WORD aceCount = WordAt(acl, offsetof(ACL, AceCount));
  std::string result = acl.substr(0, sizeof(ACL));
  WORD kept = 0;
  size_t pos = sizeof(ACL);
  for (WORD i = 0; i < aceCount; ++i) {
    if (pos + sizeof(ACE_HEADER) > aclSize) return acl;
    const WORD aceSize = WordAt(acl, pos + offsetof(ACE_HEADER, AceSize));
    if (aceSize < sizeof(ACE_HEADER) || pos + aceSize > aclSize) return acl;
    const std::string entry = acl.substr(pos, aceSize);
    if (!drop(entry)) {
      result += entry;
      ++kept;
    }
    pos += aceSize;
  }
  PutWord(result, offsetof(ACL, AclSize), static_cast<WORD>(result.size()));
  PutWord(result, offsetof(ACL, AceCount), kept);
  return result;
}

WORD EntryCount(const std::string& acl) {
  return acl.size() < sizeof(ACL) ? 0 : WordAt(acl, offsetof(ACL, AceCount));
}

// The entries that are the key's own: inherited entries are dropped, since
// the platform adds the parent's inheritable entries to an unprotected DACL
// itself.
std::string ExplicitEntries(const std::string& acl) {
  return WithoutEntries(acl, [](const std::string& entry) {
    return (static_cast<BYTE>(entry[offsetof(ACE_HEADER, AceFlags)]) & INHERITED_ACE) != 0;
  });
}

const BYTE kEveryoneSid[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};      // S-1-1-0
const BYTE kLocalSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // S-1-5-18

// One inheritable allow-entry, byte for byte as the platform stores it.
std::string AllowEntry(DWORD mask, const BYTE (&sid)[12]) {
  std::string entry(sizeof(ACE_HEADER) + sizeof(DWORD) + sizeof sid, '\0');
  entry[offsetof(ACE_HEADER, AceType)] = ACCESS_ALLOWED_ACE_TYPE;
  entry[offsetof(ACE_HEADER, AceFlags)] = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  PutWord(entry, offsetof(ACE_HEADER, AceSize), static_cast<WORD>(entry.size()));
  std::memcpy(&entry[sizeof(ACE_HEADER)], &mask, sizeof mask);
  std::memcpy(&entry[sizeof(ACE_HEADER) + sizeof(DWORD)], sid, sizeof sid);
  return entry;
}

// The device tree's list as the platform ships it: the system may do
// everything, everyone may read.
std::string SystemAndReadersList() {
  const std::string entries =
      AllowEntry(GENERIC_ALL, kLocalSystemSid) + AllowEntry(GENERIC_READ, kEveryoneSid);
  std::string acl(sizeof(ACL), '\0');
  acl[offsetof(ACL, AclRevision)] = ACL_REVISION;
  PutWord(acl, offsetof(ACL, AclSize), static_cast<WORD>(sizeof(ACL) + entries.size()));
  PutWord(acl, offsetof(ACL, AceCount), 2);
  return acl + entries;
}

// Whether the platform takes the protection flags of a DACL: Windows 2000
// (version 5) brought them; NT 4 and NT 3.51 know the plain DACL only.
bool DaclProtectionKnown() { return PlatformMajorVersion >= 5; }

}  // namespace

std::string KeyObjectName(HKEY root, const std::string& keyPath) {
  if (root == HKEY_CLASSES_ROOT) return "CLASSES_ROOT\\" + keyPath;
  if (root == HKEY_CURRENT_USER) return "CURRENT_USER\\" + keyPath;
  if (root == HKEY_LOCAL_MACHINE) return "MACHINE\\" + keyPath;
  if (root == HKEY_USERS) return "USERS\\" + keyPath;
  return keyPath;
}

bool GrantKeyAccess(HKEY root, const std::string& keyPath, DWORD accessMask) {
  SetNamedSecurityInfoFn setSecurity = NULL;
  HMODULE library = LoadSecurityFunction("SetNamedSecurityInfoA", &setSecurity);
  if (!library) return false;
  std::string objectName = KeyObjectName(root, keyPath);

  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = NULL;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
    FreeLibrary(library);
    return false;
  }

  bool granted = false;
  const DWORD aclLength = GetLengthSid(everyone) + 20;
  PACL acl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, aclLength));
  if (acl && InitializeAcl(acl, aclLength, ACL_REVISION) &&
      AddAccessAllowedAce(acl, ACL_REVISION, accessMask, everyone)) {
    LPVOID ace = NULL;
    if (GetAce(acl, 0, &ace)) {
      static_cast<PACE_HEADER>(ace)->AceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
      granted = setSecurity(&objectName[0], SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL,
                            acl, NULL) == ERROR_SUCCESS;
    }
  }

  FreeSid(everyone);
  if (acl) HeapFree(GetProcessHeap(), 0, acl);
  FreeLibrary(library);
  return granted;
}

bool ReadKeyAccess(HKEY root, const std::string& keyPath, SavedKeyAccess& saved) {
  GetNamedSecurityInfoFn getSecurity = NULL;
  HMODULE library = LoadSecurityFunction("GetNamedSecurityInfoA", &getSecurity);
  if (!library) return false;
  const std::string objectName = KeyObjectName(root, keyPath);

  bool read = false;
  PSECURITY_DESCRIPTOR descriptor = NULL;
  if (getSecurity(objectName.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL, NULL,
                  NULL, &descriptor) == ERROR_SUCCESS &&
      descriptor) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = NULL;
    if (GetSecurityDescriptorControl(descriptor, &control, &revision) &&
        GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
      saved.isProtected = (control & SE_DACL_PROTECTED) != 0;
      saved.daclPresent = present && dacl;
      saved.acl.clear();
      if (saved.daclPresent) {
        saved.acl.assign(reinterpret_cast<const char*>(dacl), dacl->AclSize);
      }
      read = true;
    }
  }
  if (descriptor) LocalFree(descriptor);
  FreeLibrary(library);
  return read;
}

bool RestoreKeyAccess(HKEY root, const std::string& keyPath, const SavedKeyAccess& saved) {
  SetNamedSecurityInfoFn setSecurity = NULL;
  HMODULE library = LoadSecurityFunction("SetNamedSecurityInfoA", &setSecurity);
  if (!library) return false;
  std::string objectName = KeyObjectName(root, keyPath);

  // A protected list is the key's whole list; an unprotected one gets the
  // parent's inheritable entries added back by the platform.
  const std::string bytes = !saved.daclPresent  ? std::string()
                            : saved.isProtected ? saved.acl
                                                : ExplicitEntries(saved.acl);
  std::vector<DWORD> aligned((bytes.size() + sizeof(DWORD) - 1) / sizeof(DWORD));
  if (!bytes.empty()) std::memcpy(aligned.data(), bytes.data(), bytes.size());
  PACL acl = saved.daclPresent && !bytes.empty() ? reinterpret_cast<PACL>(aligned.data()) : NULL;
  SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
  if (DaclProtectionKnown()) {
    what |= saved.isProtected ? PROTECTED_DACL_SECURITY_INFORMATION
                              : UNPROTECTED_DACL_SECURITY_INFORMATION;
  }
  const bool restored =
      setSecurity(&objectName[0], SE_REGISTRY_KEY, what, NULL, NULL, acl, NULL) == ERROR_SUCCESS;
  FreeLibrary(library);
  return restored;
}

bool DropGrantEntries(SavedKeyAccess& saved, DWORD accessMask) {
  if (!saved.daclPresent) return false;
  const std::string grant = AllowEntry(accessMask, kEveryoneSid);
  const std::string kept =
      WithoutEntries(saved.acl, [&grant](const std::string& entry) { return entry == grant; });
  if (EntryCount(kept) == EntryCount(saved.acl)) return false;
  // A list that held nothing else would shut every account out of the key;
  // it gets the platform's own list for the device tree instead.
  saved.acl = EntryCount(kept) ? kept : SystemAndReadersList();
  return true;
}

bool BeginTemporaryKeyGrant(HKEY root, const std::string& keyPath, DWORD accessMask,
                            TemporaryKeyGrant& grant) {
  grant.root = root;
  grant.keyPath = keyPath;
  grant.accessMask = accessMask;
  // An entry of the grant's kind already in the list was left by a run
  // stopped before its withdrawal: it is not part of the list to put back,
  // and the list is put back even when this run's grant is refused.
  const bool read = ReadKeyAccess(root, keyPath, grant.saved);
  grant.leftOver = read && DropGrantEntries(grant.saved, accessMask);
  grant.granted = read && GrantKeyAccess(root, keyPath, accessMask);
  if (!grant.granted && !grant.failureMessage.empty()) ShowInstallerMessage(grant.failureMessage);
  return grant.granted;
}

bool EndTemporaryKeyGrant(TemporaryKeyGrant& grant) {
  if (!grant.granted && !grant.leftOver) return true;
  // A refused withdrawal is tried once more; when that fails too, Everyone
  // keeps the access, and the user is told (once a run).
  const bool withdrawn = RestoreKeyAccess(grant.root, grant.keyPath, grant.saved) ||
                         RestoreKeyAccess(grant.root, grant.keyPath, grant.saved);
  if (!withdrawn && grant.granted && !grant.failureMessage.empty()) {
    ShowInstallerMessage(grant.failureMessage);
  }
  if (withdrawn) grant.granted = grant.leftOver = false;
  return withdrawn;
}
