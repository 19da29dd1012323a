// Registry key access grant: one inheritable allow-entry for Everyone in
// place of a key's DACL, and the previous DACL written back afterwards. The
// named-object security functions are looked up in advapi32.dll at each call
// and may be missing.
#include "key_access.h"
#include "messages.h"
#include "platform_family.h"

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
const BYTE kAdministratorsSid[] = {1,  2, 0, 0, 0,    0, 0, 5,
                                   32, 0, 0, 0, 0x20, 2, 0, 0};  // S-1-5-32-544

const size_t kMaskOffset = sizeof(ACE_HEADER);
const size_t kSidOffset = sizeof(ACE_HEADER) + sizeof(DWORD);

// One inheritable allow-entry, byte for byte as the platform stores it.
template <size_t SidSize>
std::string AllowEntry(DWORD mask, const BYTE (&sid)[SidSize]) {
  std::string entry(kSidOffset + SidSize, '\0');
  entry[offsetof(ACE_HEADER, AceType)] = ACCESS_ALLOWED_ACE_TYPE;
  entry[offsetof(ACE_HEADER, AceFlags)] = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  PutWord(entry, offsetof(ACE_HEADER, AceSize), static_cast<WORD>(entry.size()));
  std::memcpy(&entry[kMaskOffset], &mask, sizeof mask);
  std::memcpy(&entry[kSidOffset], sid, SidSize);
  return entry;
}

// The list written when nothing is known of a key's own list: the system
// may do everything, everyone may read, and administrators may read and
// change the list, as the device tree is shipped; so that a later run can
// still make its grant.
std::string FallbackList() {
  const std::string entries = AllowEntry(KEY_ALL_ACCESS, kLocalSystemSid) +
                              AllowEntry(KEY_READ, kEveryoneSid) +
                              AllowEntry(READ_CONTROL | WRITE_DAC, kAdministratorsSid);
  std::string acl(sizeof(ACL), '\0');
  acl[offsetof(ACL, AclRevision)] = ACL_REVISION;
  PutWord(acl, offsetof(ACL, AclSize), static_cast<WORD>(sizeof(ACL) + entries.size()));
  PutWord(acl, offsetof(ACL, AceCount), 3);
  return acl + entries;
}

// A mask in key rights: the generic rights as the platform maps them for
// registry keys.
DWORD KeyRights(DWORD mask) {
  DWORD rights = mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (mask & GENERIC_READ) rights |= KEY_READ;
  if (mask & GENERIC_WRITE) rights |= KEY_WRITE;
  if (mask & GENERIC_EXECUTE) rights |= KEY_EXECUTE;
  if (mask & GENERIC_ALL) rights |= KEY_ALL_ACCESS;
  return rights;
}

// The parts of a grant entry as a list may hold it. The platform stores
// the entry as written (NT 4, Wine), with its generic rights mapped to key
// rights, or split into an entry for the key itself (no inheritance, key
// rights) and an inherit-only one that carries the original on.
enum class GrantPart { kNone, kWhole, kInheritOnly, kEffective };

GrantPart GrantPartOf(const std::string& entry, DWORD accessMask) {
  if (entry.size() != kSidOffset + sizeof kEveryoneSid) return GrantPart::kNone;
  if (static_cast<BYTE>(entry[offsetof(ACE_HEADER, AceType)]) != ACCESS_ALLOWED_ACE_TYPE ||
      std::memcmp(&entry[kSidOffset], kEveryoneSid, sizeof kEveryoneSid) != 0)
    return GrantPart::kNone;
  DWORD mask = 0;
  std::memcpy(&mask, &entry[kMaskOffset], sizeof mask);
  if (KeyRights(mask) != KeyRights(accessMask)) return GrantPart::kNone;
  const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  const BYTE flags = static_cast<BYTE>(entry[offsetof(ACE_HEADER, AceFlags)]);
  if (flags == inherit) return GrantPart::kWhole;
  if (flags == (inherit | INHERIT_ONLY_ACE)) return GrantPart::kInheritOnly;
  if (flags == 0) return GrantPart::kEffective;
  return GrantPart::kNone;
}

// Whether a list holds a grant entry in any of its stored forms. The part
// for the key alone counts only beside its inherit-only part: alone, it is
// an entry for this key only, which a grant never leaves.
bool HoldsGrant(const std::string& acl, DWORD accessMask, bool* split) {
  bool whole = false, inheritOnly = false;
  WithoutEntries(acl, [&](const std::string& entry) {
    const GrantPart part = GrantPartOf(entry, accessMask);
    whole |= part == GrantPart::kWhole;
    inheritOnly |= part == GrantPart::kInheritOnly;
    return false;
  });
  *split = inheritOnly;
  return whole || inheritOnly;
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
  bool split = false;
  if (!HoldsGrant(saved.acl, accessMask, &split)) return false;
  const std::string kept = WithoutEntries(saved.acl, [&](const std::string& entry) {
    const GrantPart part = GrantPartOf(entry, accessMask);
    return part == GrantPart::kWhole || part == GrantPart::kInheritOnly ||
           (split && part == GrantPart::kEffective);
  });
  // A list that held nothing else would shut every account out of the key.
  saved.acl = EntryCount(kept) ? kept : FallbackList();
  return true;
}
namespace {

// The kept lists live in keys of their own below the product's key, one per
// granted key, named after it ("Access kept for MACHINE/SYSTEM/..." below
// HKEY_LOCAL_MACHINE\Software\Miravelt). Each holds one binary value: a
// DWORD of flags (1: the key had a DACL, 2: it was protected) and the ACL.
const char kKeptListValue[] = "List";
const DWORD kKeptPresent = 1;
const DWORD kKeptProtected = 2;

std::string KeptListKey(HKEY root, const std::string& keyPath) {
  std::string name = KeyObjectName(root, keyPath);
  while (!name.empty() && name.back() == '\\') name.pop_back();
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  return "Software\\Miravelt\\Access kept for " + name;
}

// Whether bytes hold a list that can be written back: the header's size is
// the list's length, and every entry lies inside it.
bool WholeList(const std::string& acl) {
  if (acl.size() < sizeof(ACL) || WordAt(acl, offsetof(ACL, AclSize)) != acl.size()) return false;
  size_t pos = sizeof(ACL);
  for (WORD i = 0; i < EntryCount(acl); ++i) {
    if (pos + sizeof(ACE_HEADER) > acl.size()) return false;
    const WORD aceSize = WordAt(acl, pos + offsetof(ACE_HEADER, AceSize));
    if (aceSize < sizeof(ACE_HEADER) || pos + aceSize > acl.size()) return false;
    pos += aceSize;
  }
  return true;
}

}  // namespace

bool KeepKeyAccess(HKEY root, const std::string& keyPath, const SavedKeyAccess& saved) {
  DWORD flags = (saved.daclPresent ? kKeptPresent : 0) | (saved.isProtected ? kKeptProtected : 0);
  std::string record(sizeof flags, '\0');
  std::memcpy(&record[0], &flags, sizeof flags);
  if (saved.daclPresent) record += saved.acl;
  HKEY key = NULL;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, KeptListKey(root, keyPath).c_str(), 0, NULL,
                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
    return false;
  const bool written = RegSetValueExA(key, kKeptListValue, 0, REG_BINARY,
                                      reinterpret_cast<const BYTE*>(record.data()),
                                      static_cast<DWORD>(record.size())) == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}

bool ReadKeptKeyAccess(HKEY root, const std::string& keyPath, SavedKeyAccess& saved) {
  HKEY key = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KeptListKey(root, keyPath).c_str(), 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS)
    return false;
  DWORD type = 0;
  DWORD size = 0;
  std::string record;
  if (RegQueryValueExA(key, kKeptListValue, NULL, &type, NULL, &size) == ERROR_SUCCESS &&
      type == REG_BINARY && size >= sizeof(DWORD) && size <= 0x10000 + sizeof(DWORD)) {
    record.assign(size, '\0');
    DWORD got = size;
    if (RegQueryValueExA(key, kKeptListValue, NULL, &type, reinterpret_cast<BYTE*>(&record[0]),
                         &got) != ERROR_SUCCESS ||
        type != REG_BINARY || got != size)
      record.clear();
  }
  RegCloseKey(key);
  if (record.size() < sizeof(DWORD)) return false;
  DWORD flags = 0;
  std::memcpy(&flags, record.data(), sizeof flags);
  const std::string acl = record.substr(sizeof flags);
  if (flags & ~(kKeptPresent | kKeptProtected)) return false;
  if ((flags & kKeptPresent) ? !WholeList(acl) : !acl.empty()) return false;
  saved.daclPresent = (flags & kKeptPresent) != 0;
  saved.isProtected = (flags & kKeptProtected) != 0;
  saved.acl = acl;
  return true;
}

bool ForgetKeptKeyAccess(HKEY root, const std::string& keyPath) {
  const LONG result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, KeptListKey(root, keyPath).c_str());
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool BeginTemporaryKeyGrant(HKEY root, const std::string& keyPath, DWORD accessMask,
                            TemporaryKeyGrant& grant) {
  grant.root = root;
  grant.keyPath = keyPath;
  grant.accessMask = accessMask;
  grant.granted = grant.leftOver = grant.listRead = false;
  // A list that cannot be read could not be put back: no grant then.
  SavedKeyAccess current;
  grant.listRead = ReadKeyAccess(root, keyPath, current);
  if (grant.listRead) {
    // A grant entry in the list was left by a run stopped before its
    // withdrawal. The list that run kept, when there is one, is the one from
    // before its grant; a kept list beside a key without a grant is stale
    // (its run stopped before the grant), and the key's own list wins.
    bool split = false;
    grant.leftOver = current.daclPresent && HoldsGrant(current.acl, accessMask, &split);
    SavedKeyAccess kept;
    grant.saved = grant.leftOver && ReadKeptKeyAccess(root, keyPath, kept) ? kept : current;
    // Whatever its source, the list put back holds no entry of the grant's
    // kind: such an entry set by hand looks the same as one a cut left.
    DropGrantEntries(grant.saved, accessMask);
    // Only a list kept where a restart cannot lose it may be replaced.
    grant.granted =
        KeepKeyAccess(root, keyPath, grant.saved) && GrantKeyAccess(root, keyPath, accessMask);
  }
  if (!grant.granted && !grant.failureMessage.empty()) ShowInstallerMessage(grant.failureMessage);
  return grant.granted;
}

bool EndTemporaryKeyGrant(TemporaryKeyGrant& grant) {
  if (!grant.listRead) return true;
  if (grant.granted || grant.leftOver) {
    // A refused withdrawal is tried once more; when that fails too, the
    // kept list stays for the next run, and the user is told (once a run).
    const bool withdrawn = RestoreKeyAccess(grant.root, grant.keyPath, grant.saved) ||
                           RestoreKeyAccess(grant.root, grant.keyPath, grant.saved);
    if (!withdrawn) {
      if (grant.granted && !grant.failureMessage.empty())
        ShowInstallerMessage(grant.failureMessage);
      return false;
    }
  }
  grant.granted = grant.leftOver = grant.listRead = false;
  ForgetKeptKeyAccess(grant.root, grant.keyPath);
  return true;
}
