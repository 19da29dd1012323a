// Registry key security of the simulated machine: SIDs and access lists in
// the memory layout Windows uses, the access check against the running user,
// inheritance down the key tree, and the named-object security calls.
//
// Keys keep their security as owner + list of entries with SIDs as strings
// (KeySecurity); the Win32 calls translate to and from the binary layout.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "registry.h"
#include "security.h"

namespace sim {

const char* const kSidEveryone = "S-1-1-0";
const char* const kSidCreatorOwner = "S-1-3-0";
const char* const kSidInteractive = "S-1-5-4";
const char* const kSidAuthenticatedUsers = "S-1-5-11";
const char* const kSidLocalSystem = "S-1-5-18";
const char* const kSidAdministrators = "S-1-5-32-544";
const char* const kSidUsers = "S-1-5-32-545";

namespace {

const BYTE kMinAclRevision = 2;
const BYTE kMaxAclRevision = 4;
const size_t kSidHeader = 8;  // revision, count, authority
const size_t kMaxSubAuthorities = 15;
const size_t kAceHeader = 8;  // ACE_HEADER + mask
const size_t kDescriptorHeader = 20;
const DWORD kMaximumAllowed = 0x02000000;

void SetError(DWORD error) { M().lastError = error; }

WORD ReadWord(const unsigned char* p) {
  WORD v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
DWORD ReadDword(const unsigned char* p) {
  DWORD v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void WriteWord(unsigned char* p, WORD v) { std::memcpy(p, &v, sizeof v); }
void WriteDword(unsigned char* p, DWORD v) { std::memcpy(p, &v, sizeof v); }
void PutWord(std::string& s, size_t at, WORD v) { std::memcpy(&s[at], &v, sizeof v); }
void PutDword(std::string& s, size_t at, DWORD v) { std::memcpy(&s[at], &v, sizeof v); }

// ------------------------------------------------------------------ SIDs

// Length of a SID in memory, or 0 when it is not a valid one (limit: the
// bytes that may be read).
size_t ValidSidLength(const unsigned char* sid, size_t limit) {
  if (!sid || limit < kSidHeader) return 0;
  if (sid[0] != 1 || sid[1] > kMaxSubAuthorities) return 0;
  const size_t length = kSidHeader + 4u * sid[1];
  return length <= limit ? length : 0;
}

std::string SidText(const unsigned char* sid) {
  uint64_t authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | sid[2 + i];
  char buf[32];
  if (authority >> 32) {
    std::snprintf(buf, sizeof buf, "0x%012llX", static_cast<unsigned long long>(authority));
  } else {
    std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(authority));
  }
  std::string text = "S-1-" + std::string(buf);
  for (int i = 0; i < sid[1]; ++i)
    text += "-" + std::to_string(ReadDword(sid + kSidHeader + 4 * i));
  return text;
}

bool ParseNumber(const std::string& s, uint64_t limit, uint64_t* out) {
  if (s.empty()) return false;
  const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
  const size_t start = hex ? 2 : 0;
  uint64_t v = 0;
  for (size_t i = start; i < s.size(); ++i) {
    const char c = s[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    v = v * (hex ? 16 : 10) + digit;
    if (v > limit) return false;
  }
  *out = v;
  return true;
}

// "S-1-5-32-544" in memory layout; false when the text is not a SID.
bool SidFromText(const std::string& text, std::string* bytes) {
  if (text.compare(0, 4, "S-1-") != 0) return false;
  std::vector<std::string> parts;
  size_t start = 4;
  for (;;) {
    const size_t dash = text.find('-', start);
    parts.push_back(
        text.substr(start, dash == std::string::npos ? std::string::npos : dash - start));
    if (dash == std::string::npos) break;
    start = dash + 1;
  }
  if (parts.size() > kMaxSubAuthorities + 1) return false;
  uint64_t authority;
  if (!ParseNumber(parts[0], 0xFFFFFFFFFFFFull, &authority)) return false;
  std::string out(kSidHeader + 4 * (parts.size() - 1), '\0');
  out[0] = 1;
  out[1] = static_cast<char>(parts.size() - 1);
  for (int i = 0; i < 6; ++i) out[2 + i] = static_cast<char>((authority >> (8 * (5 - i))) & 0xFF);
  for (size_t i = 1; i < parts.size(); ++i) {
    uint64_t sub;
    if (!ParseNumber(parts[i], 0xFFFFFFFFull, &sub)) return false;
    PutDword(out, kSidHeader + 4 * (i - 1), static_cast<DWORD>(sub));
  }
  *bytes = out;
  return true;
}

// A stored SID string in memory layout; one that is not a SID becomes the
// null SID, which matches nobody.
std::string SidBytes(const std::string& text) {
  std::string bytes;
  if (!SidFromText(text, &bytes)) SidFromText("S-1-0-0", &bytes);
  return bytes;
}

// ------------------------------------------------------------------ ACLs

std::string AclBytes(const std::vector<Ace>& aces) {
  std::string acl(sizeof(ACL), '\0');
  for (const Ace& ace : aces) {
    const std::string sid = SidBytes(ace.sid);
    std::string entry(kAceHeader, '\0');
    entry[0] = static_cast<char>(ace.type);
    entry[1] = static_cast<char>(ace.flags);
    PutWord(entry, 2, static_cast<WORD>(kAceHeader + sid.size()));
    PutDword(entry, 4, ace.mask);
    acl += entry + sid;
  }
  acl[0] = ACL_REVISION;
  PutWord(acl, 2, static_cast<WORD>(acl.size()));
  PutWord(acl, 4, static_cast<WORD>(aces.size()));
  return acl;
}

// Walks an ACL in memory. With aces null only checks it; false when the
// header or an entry does not hold together. *used: bytes the entries take,
// header included.
bool ParseAcl(const unsigned char* acl, std::vector<Ace>* aces, size_t* used) {
  if (!acl) return false;
  if (acl[0] < kMinAclRevision || acl[0] > kMaxAclRevision) return false;
  const size_t size = ReadWord(acl + 2);
  const size_t count = ReadWord(acl + 4);
  if (size < sizeof(ACL)) return false;
  size_t pos = sizeof(ACL);
  for (size_t i = 0; i < count; ++i) {
    if (pos + sizeof(ACE_HEADER) > size) return false;
    const BYTE type = acl[pos];
    const size_t aceSize = ReadWord(acl + pos + 2);
    if (aceSize < sizeof(ACE_HEADER) || aceSize % 4 != 0 || pos + aceSize > size) return false;
    if (aces) {
      // Only allow and deny entries belong in a key's DACL here.
      if (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_DENIED_ACE_TYPE) return false;
      if (aceSize < kAceHeader) return false;
      const unsigned char* sid = acl + pos + kAceHeader;
      if (!ValidSidLength(sid, aceSize - kAceHeader)) return false;
      Ace ace;
      ace.type = type;
      ace.flags = acl[pos + 1];
      ace.mask = ReadDword(acl + pos + 4);
      ace.sid = SidText(sid);
      aces->push_back(ace);
    }
    pos += aceSize;
  }
  if (used) *used = pos;
  return true;
}

// ------------------------------------------------------------------ users

bool UserHas(const std::string& sid) {
  const Machine& m = M();
  if (sid == kSidEveryone || sid == m.userSid) return true;
  for (const std::string& group : m.userGroups) {
    if (group == sid) return true;
  }
  return false;
}

bool IsAdministrator() {
  for (const std::string& group : M().userGroups) {
    if (group == kSidAdministrators) return true;
  }
  return false;
}

// ------------------------------------------------------------ descriptors

// Self-relative descriptor: SACL, DACL, owner, group, as Windows lays them
// out; only the parts asked for.
std::string DescriptorBytes(const KeySecurity& security, SECURITY_INFORMATION info) {
  std::string sd(kDescriptorHeader, '\0');
  sd[0] = 1;
  WORD control = SE_SELF_RELATIVE;
  if (info & DACL_SECURITY_INFORMATION) {
    control |= SE_DACL_PRESENT;
    if (security.isProtected) control |= SE_DACL_PROTECTED;
    if (security.daclPresent) {
      PutDword(sd, 16, static_cast<DWORD>(sd.size()));
      sd += AclBytes(security.dacl);
    }
  }
  if ((info & OWNER_SECURITY_INFORMATION) && !security.owner.empty()) {
    PutDword(sd, 4, static_cast<DWORD>(sd.size()));
    sd += SidBytes(security.owner);
  }
  if (info & GROUP_SECURITY_INFORMATION) {
    PutDword(sd, 8, static_cast<DWORD>(sd.size()));
    sd += SidBytes(kSidLocalSystem);
  }
  PutWord(sd, 2, control);
  return sd;
}

// The descriptor's DACL pointer, for both the self-relative and the
// absolute layout.
struct AbsoluteDescriptor {
  BYTE Revision;
  BYTE Sbz1;
  SECURITY_DESCRIPTOR_CONTROL Control;
  PSID Owner;
  PSID Group;
  PACL Sacl;
  PACL Dacl;
};

PACL DescriptorDacl(const unsigned char* sd, WORD control) {
  if (control & SE_SELF_RELATIVE) {
    const DWORD offset = ReadDword(sd + 16);
    return offset ? reinterpret_cast<PACL>(const_cast<unsigned char*>(sd) + offset) : nullptr;
  }
  PACL dacl;
  std::memcpy(&dacl, sd + offsetof(AbsoluteDescriptor, Dacl), sizeof dacl);
  return dacl;
}

// "MACHINE\SYSTEM\..." to the chain of keys from the top of its tree.
DWORD ResolveObjectName(const char* name, std::vector<Key*>* chain) {
  static const struct {
    const char* prefix;
    HKEY root;
  } kPrefixes[] = {{"CLASSES_ROOT", HKEY_CLASSES_ROOT},
                   {"CURRENT_USER", HKEY_CURRENT_USER},
                   {"MACHINE", HKEY_LOCAL_MACHINE},
                   {"USERS", HKEY_USERS}};
  const std::string text(name);
  for (const auto& entry : kPrefixes) {
    const size_t n = std::strlen(entry.prefix);
    if (text.compare(0, n, entry.prefix) != 0 || (text.size() > n && text[n] != '\\')) continue;
    std::vector<std::string> names;
    if (!SplitKeyPath(text.size() > n ? text.c_str() + n + 1 : "", &names)) {
      return ERROR_INVALID_PARAMETER;
    }
    if (!RootChain(entry.root, chain, nullptr) || !WalkChain(chain, names)) {
      return ERROR_FILE_NOT_FOUND;
    }
    return ERROR_SUCCESS;
  }
  return ERROR_INVALID_PARAMETER;
}

std::string AceFlagsText(BYTE flags) {
  std::string text;
  if (flags & OBJECT_INHERIT_ACE) text += "OI";
  if (flags & CONTAINER_INHERIT_ACE) text += "CI";
  if (flags & NO_PROPAGATE_INHERIT_ACE) text += "NP";
  if (flags & INHERIT_ONLY_ACE) text += "IO";
  if (flags & INHERITED_ACE) text += "ID";
  const BYTE other = flags & ~(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE |
                               NO_PROPAGATE_INHERIT_ACE | INHERIT_ONLY_ACE | INHERITED_ACE);
  if (other) text += Hex(other);
  return text;
}

}  // namespace

// ------------------------------------------------------------ the model

bool IsNtFamily() { return !Is9x(M().version); }

DWORD MapKeyRights(DWORD mask) {
  DWORD mapped = mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (mask & GENERIC_READ) mapped |= KEY_READ;
  if (mask & GENERIC_WRITE) mapped |= KEY_WRITE;
  if (mask & GENERIC_EXECUTE) mapped |= KEY_EXECUTE;
  if (mask & GENERIC_ALL) mapped |= KEY_ALL_ACCESS;
  return mapped;
}

DWORD GrantedRights(const Key& key) {
  if (!IsNtFamily() || !key.security.daclPresent) return KEY_ALL_ACCESS;
  DWORD granted = 0;
  DWORD denied = 0;
  // The owner may always read and change the list.
  if (!key.security.owner.empty() && UserHas(key.security.owner)) {
    granted |= READ_CONTROL | WRITE_DAC;
  }
  for (const Ace& ace : key.security.dacl) {
    if ((ace.flags & INHERIT_ONLY_ACE) || !UserHas(ace.sid)) continue;
    const DWORD mask = MapKeyRights(ace.mask) & KEY_ALL_ACCESS;
    if (ace.type == ACCESS_ALLOWED_ACE_TYPE) {
      granted |= mask & ~denied;
    } else if (ace.type == ACCESS_DENIED_ACE_TYPE) {
      denied |= mask & ~granted;
    }
  }
  return granted;
}

bool MayAccess(const Key& key, DWORD desired) {
  DWORD need =
      MapKeyRights(desired) & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY | kMaximumAllowed | SYNCHRONIZE);
  if (!IsNtFamily()) return true;
  if (need & ~KEY_ALL_ACCESS) return false;  // nothing else is grantable on a key
  return (GrantedRights(key) & need) == need;
}

std::string DefaultOwner() { return IsAdministrator() ? kSidAdministrators : M().userSid; }

bool AutoInheritance() {
  const Windows v = M().version;
  return IsNtFamily() && v != Windows::NT351 && v != Windows::NT40;
}

std::vector<Ace> StoredEntries(const std::vector<Ace>& given) {
  const Windows v = M().version;
  if (!AutoInheritance()) return given;
  const bool split = v == Windows::Win2k || v == Windows::WinXP;
  const DWORD generic = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL;
  std::vector<Ace> out;
  for (const Ace& ace : given) {
    const bool inheritable = ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    if (!(ace.mask & generic) || (ace.flags & (INHERIT_ONLY_ACE | INHERITED_ACE))) {
      out.push_back(ace);
    } else if (split && inheritable) {
      out.push_back({ace.type, BYTE(0), MapKeyRights(ace.mask), ace.sid});
      out.push_back({ace.type, BYTE(ace.flags | INHERIT_ONLY_ACE), ace.mask, ace.sid});
    } else {
      out.push_back({ace.type, ace.flags, MapKeyRights(ace.mask), ace.sid});
    }
  }
  return out;
}

std::vector<Ace> InheritedEntries(const std::vector<Ace>& parentDacl, const std::string& owner) {
  // Before Windows 2000 an inherited entry is a plain copy.
  const BYTE inherited = AutoInheritance() ? INHERITED_ACE : 0;
  std::vector<Ace> out;
  const BYTE inheritFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  for (const Ace& ace : parentDacl) {
    const bool container = ace.flags & CONTAINER_INHERIT_ACE;
    const bool noPropagate = ace.flags & NO_PROPAGATE_INHERIT_ACE;
    if (!(ace.flags & inheritFlags)) continue;
    if (!container) {
      // Meant for objects below: passes through a key as inherit-only.
      if (noPropagate) continue;
      out.push_back(
          {ace.type, BYTE(OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE | inherited), ace.mask, ace.sid});
      continue;
    }
    const bool generic = ace.mask & (GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    const bool creator = ace.sid == kSidCreatorOwner;
    Ace effective{ace.type, BYTE(inherited), MapKeyRights(ace.mask),
                  creator && !owner.empty() ? owner : ace.sid};
    if (noPropagate) {
      out.push_back(effective);
    } else if (generic || creator) {
      // Split as Windows does: the entry that applies to this key with key
      // rights, and an inherit-only copy that carries the original on.
      out.push_back(effective);
      out.push_back({ace.type, BYTE((ace.flags & inheritFlags) | INHERIT_ONLY_ACE | inherited),
                     ace.mask, ace.sid});
    } else {
      out.push_back({ace.type, BYTE((ace.flags & inheritFlags) | inherited), ace.mask, ace.sid});
    }
  }
  return out;
}

KeySecurity NewKeySecurity(const Key& parent) {
  KeySecurity security;
  if (!IsNtFamily()) return security;
  security.owner = DefaultOwner();
  if (parent.security.daclPresent) {
    security.dacl = InheritedEntries(parent.security.dacl, security.owner);
  }
  if (security.dacl.empty()) {
    // Nothing to inherit: the creator's default list.
    security.dacl = {{ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, security.owner},
                     {ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, kSidLocalSystem}};
  }
  return security;
}

void PropagateInheritance(Key* key) {
  for (auto& entry : key->subkeys) {
    Key* child = entry.second.get();
    KeySecurity& security = child->security;
    if (security.isProtected || !security.daclPresent) continue;
    NoteKeyChange(child);
    // Before Windows 2000 nothing tells inherited entries from the key's
    // own: the key gets the copies as when it was made.
    std::vector<Ace> dacl;
    for (const Ace& ace : security.dacl) {
      if (AutoInheritance() && !(ace.flags & INHERITED_ACE)) dacl.push_back(ace);
    }
    if (key->security.daclPresent) {
      for (const Ace& ace : InheritedEntries(key->security.dacl, security.owner)) {
        dacl.push_back(ace);
      }
    }
    security.dacl = dacl;
    PropagateInheritance(child);
  }
}

DWORD SecurityDescriptorSize(const KeySecurity& security) {
  return static_cast<DWORD>(DescriptorBytes(security, OWNER_SECURITY_INFORMATION |
                                                          GROUP_SECURITY_INFORMATION |
                                                          DACL_SECURITY_INFORMATION)
                                .size());
}

// ------------------------------------------------------- control interface

KeySecurity GetKeySecurity(HKEY root, const std::string& key) {
  std::vector<Key*> chain;
  std::vector<std::string> names;
  if (!RootChain(root, &chain, nullptr) || !SplitKeyPath(key.c_str(), &names) ||
      !WalkChain(&chain, names)) {
    return KeySecurity();
  }
  return chain.back()->security;
}

void SetKeySecurity(HKEY root, const std::string& key, const KeySecurity& security) {
  std::vector<Key*> chain;
  std::vector<std::string> names;
  if (!RootChain(root, &chain, nullptr) || !SplitKeyPath(key.c_str(), &names) ||
      !WalkChain(&chain, names)) {
    return;
  }
  chain.back()->security = security;
  NoteKeyChange(chain.back());
  PropagateInheritance(chain.back());
}

bool UserMayAccess(HKEY root, const std::string& key, DWORD access) {
  std::vector<Key*> chain;
  std::vector<std::string> names;
  if (!RootChain(root, &chain, nullptr) || !SplitKeyPath(key.c_str(), &names) ||
      !WalkChain(&chain, names)) {
    return false;
  }
  return MayAccess(*chain.back(), access);
}

void SetUserGroups(const std::vector<std::string>& sids) { M().userGroups = sids; }

std::string SecurityText(const KeySecurity& security) {
  std::string text = "O:" + (security.owner.empty() ? std::string("-") : security.owner) + " D:";
  if (security.isProtected) text += "P";
  if (!security.daclPresent) return text + "NULL";
  for (const Ace& ace : security.dacl) {
    std::string type = ace.type == ACCESS_ALLOWED_ACE_TYPE  ? "A"
                       : ace.type == ACCESS_DENIED_ACE_TYPE ? "D"
                                                            : Hex(ace.type);
    text += "(" + type + ";" + AceFlagsText(ace.flags) + ";" + Hex(ace.mask) + ";" + ace.sid + ")";
  }
  return text;
}

}  // namespace sim

// ------------------------------------------------------------ Win32 calls

using namespace sim;

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                                     BYTE nSubAuthorityCount, DWORD nSubAuthority0,
                                     DWORD nSubAuthority1, DWORD nSubAuthority2,
                                     DWORD nSubAuthority3, DWORD nSubAuthority4,
                                     DWORD nSubAuthority5, DWORD nSubAuthority6,
                                     DWORD nSubAuthority7, PSID* pSid) {
  const DWORD subs[8] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                         nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
  std::string args;
  if (pIdentifierAuthority) {
    args = "{";
    for (int i = 0; i < 6; ++i) {
      args += (i ? "," : "") + std::to_string(pIdentifierAuthority->Value[i]);
    }
    args += "}";
  } else {
    args = "NULL";
  }
  args += ", " + std::to_string(nSubAuthorityCount);
  for (DWORD sub : subs) args += ", " + std::to_string(sub);
  args += ", " + PointerArg(pSid);
  CallRecord rec("AllocateAndInitializeSid", args);
  if (rec.ShouldFail()) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return rec.Return(FALSE);
  }
  if (!pIdentifierAuthority || !pSid) {
    SetError(ERROR_INVALID_PARAMETER);
    return rec.Return(FALSE);
  }
  if (nSubAuthorityCount > 8) {
    SetError(ERROR_INVALID_SID);
    return rec.Return(FALSE);
  }
  unsigned char* sid =
      static_cast<unsigned char*>(NewBlock(HandleKind::Sid, kSidHeader + 4u * nSubAuthorityCount));
  sid[0] = 1;
  sid[1] = nSubAuthorityCount;
  std::memcpy(sid + 2, pIdentifierAuthority->Value, 6);
  for (int i = 0; i < nSubAuthorityCount; ++i) WriteDword(sid + kSidHeader + 4 * i, subs[i]);
  *pSid = sid;
  return rec.Return(TRUE);
}

DWORD WINAPI GetLengthSid(PSID pSid) {
  CallRecord rec("GetLengthSid", PointerArg(pSid));
  if (!pSid) {
    SetError(ERROR_INVALID_SID);
    return rec.Return(DWORD(0));
  }
  const unsigned char* sid = static_cast<const unsigned char*>(pSid);
  return rec.Return(static_cast<DWORD>(kSidHeader + 4u * sid[1]));
}

PVOID WINAPI FreeSid(PSID pSid) {
  CallRecord rec("FreeSid", PointerArg(pSid));
  if (!pSid || FreeBlock(pSid, HandleKind::Sid)) return rec.Return(static_cast<PVOID>(nullptr));
  SetError(ERROR_INVALID_PARAMETER);
  return rec.Return(pSid);
}

BOOL WINAPI InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
  CallRecord rec("InitializeAcl", PointerArg(pAcl) + ", " + std::to_string(nAclLength) + ", " +
                                      std::to_string(dwAclRevision));
  if (rec.ShouldFail()) {
    SetError(ERROR_INVALID_PARAMETER);
    return rec.Return(FALSE);
  }
  if (!pAcl) {
    SetError(ERROR_INVALID_PARAMETER);
    return rec.Return(FALSE);
  }
  if (nAclLength < sizeof(ACL)) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return rec.Return(FALSE);
  }
  // The length must be DWORD-aligned: every entry is, so an odd length would
  // leave a tail no entry can use.
  if (dwAclRevision < kMinAclRevision || dwAclRevision > kMaxAclRevision || nAclLength > 0xFFFF ||
      nAclLength % 4 != 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return rec.Return(FALSE);
  }
  unsigned char* acl = reinterpret_cast<unsigned char*>(pAcl);
  std::memset(acl, 0, sizeof(ACL));
  acl[0] = static_cast<BYTE>(dwAclRevision);
  WriteWord(acl + 2, static_cast<WORD>(nAclLength));
  return rec.Return(TRUE);
}

BOOL WINAPI AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid) {
  CallRecord rec("AddAccessAllowedAce", PointerArg(pAcl) + ", " + std::to_string(dwAceRevision) +
                                            ", " + Hex(AccessMask) + ", " + PointerArg(pSid));
  if (rec.ShouldFail()) {
    SetError(ERROR_ALLOTTED_SPACE_EXCEEDED);
    return rec.Return(FALSE);
  }
  unsigned char* acl = reinterpret_cast<unsigned char*>(pAcl);
  size_t used = 0;
  if (!ParseAcl(acl, nullptr, &used)) {
    SetError(ERROR_INVALID_ACL);
    return rec.Return(FALSE);
  }
  if (dwAceRevision < kMinAclRevision || dwAceRevision > kMaxAclRevision) {
    SetError(ERROR_UNKNOWN_REVISION);
    return rec.Return(FALSE);
  }
  const unsigned char* sid = static_cast<const unsigned char*>(pSid);
  const size_t sidLength = ValidSidLength(sid, kSidHeader + 4 * kMaxSubAuthorities);
  if (!sidLength) {
    SetError(ERROR_INVALID_SID);
    return rec.Return(FALSE);
  }
  const size_t aceSize = kAceHeader + sidLength;
  if (used + aceSize > ReadWord(acl + 2)) {
    SetError(ERROR_ALLOTTED_SPACE_EXCEEDED);
    return rec.Return(FALSE);
  }
  unsigned char* ace = acl + used;
  ace[0] = ACCESS_ALLOWED_ACE_TYPE;
  ace[1] = 0;
  WriteWord(ace + 2, static_cast<WORD>(aceSize));
  WriteDword(ace + 4, AccessMask);
  std::memcpy(ace + kAceHeader, sid, sidLength);
  WriteWord(acl + 4, static_cast<WORD>(ReadWord(acl + 4) + 1));
  if (acl[0] < dwAceRevision) acl[0] = static_cast<BYTE>(dwAceRevision);
  return rec.Return(TRUE);
}

BOOL WINAPI GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
  CallRecord rec("GetAce",
                 PointerArg(pAcl) + ", " + std::to_string(dwAceIndex) + ", " + PointerArg(pAce));
  if (rec.ShouldFail()) {
    SetError(ERROR_INVALID_PARAMETER);
    return rec.Return(FALSE);
  }
  unsigned char* acl = reinterpret_cast<unsigned char*>(pAcl);
  if (!pAce || !ParseAcl(acl, nullptr, nullptr) || dwAceIndex >= ReadWord(acl + 4)) {
    SetError(ERROR_INVALID_PARAMETER);
    return rec.Return(FALSE);
  }
  size_t pos = sizeof(ACL);
  for (DWORD i = 0; i < dwAceIndex; ++i) pos += ReadWord(acl + pos + 2);
  *pAce = acl + pos;
  return rec.Return(TRUE);
}

BOOL WINAPI GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                         PSECURITY_DESCRIPTOR_CONTROL pControl,
                                         LPDWORD lpdwRevision) {
  CallRecord rec("GetSecurityDescriptorControl", PointerArg(pSecurityDescriptor) + ", " +
                                                     PointerArg(pControl) + ", " +
                                                     PointerArg(lpdwRevision));
  if (rec.ShouldFail()) {
    SetError(ERROR_INVALID_SECURITY_DESCR);
    return rec.Return(FALSE);
  }
  if (!pSecurityDescriptor || !pControl || !lpdwRevision) {
    SetError(ERROR_INVALID_PARAMETER);
    return rec.Return(FALSE);
  }
  const unsigned char* sd = static_cast<const unsigned char*>(pSecurityDescriptor);
  *lpdwRevision = sd[0];
  *pControl = ReadWord(sd + 2);
  if (sd[0] != 1) {
    SetError(ERROR_UNKNOWN_REVISION);
    return rec.Return(FALSE);
  }
  return rec.Return(TRUE);
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                      LPBOOL lpbDaclPresent, PACL* pDacl, LPBOOL lpbDaclDefaulted) {
  CallRecord rec("GetSecurityDescriptorDacl",
                 PointerArg(pSecurityDescriptor) + ", " + PointerArg(lpbDaclPresent) + ", " +
                     PointerArg(pDacl) + ", " + PointerArg(lpbDaclDefaulted));
  if (rec.ShouldFail()) {
    SetError(ERROR_INVALID_SECURITY_DESCR);
    return rec.Return(FALSE);
  }
  if (!pSecurityDescriptor || !lpbDaclPresent || !pDacl || !lpbDaclDefaulted) {
    SetError(ERROR_INVALID_PARAMETER);
    return rec.Return(FALSE);
  }
  const unsigned char* sd = static_cast<const unsigned char*>(pSecurityDescriptor);
  if (sd[0] != 1) {
    SetError(ERROR_UNKNOWN_REVISION);
    return rec.Return(FALSE);
  }
  const WORD control = ReadWord(sd + 2);
  *lpbDaclPresent = (control & SE_DACL_PRESENT) ? TRUE : FALSE;
  if (control & SE_DACL_PRESENT) {
    *pDacl = DescriptorDacl(sd, control);
    *lpbDaclDefaulted = (control & SE_DACL_DEFAULTED) ? TRUE : FALSE;
  }
  return rec.Return(TRUE);
}

DWORD WINAPI GetNamedSecurityInfoA(LPCSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                                   SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner,
                                   PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                                   PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
  CallRecord rec("GetNamedSecurityInfoA",
                 Quote(pObjectName) + ", " + std::to_string(ObjectType) + ", " + Hex(SecurityInfo) +
                     ", " + PointerArg(ppsidOwner) + ", " + PointerArg(ppsidGroup) + ", " +
                     PointerArg(ppDacl) + ", " + PointerArg(ppSacl) + ", " +
                     PointerArg(ppSecurityDescriptor));
  if (rec.ShouldFail()) return rec.Return(DWORD(ERROR_ACCESS_DENIED));
  if (!IsNtFamily()) return rec.Return(DWORD(ERROR_CALL_NOT_IMPLEMENTED));
  // Pointers into the descriptor are only safe to hand out with the
  // descriptor itself, which the caller frees.
  if (!pObjectName || (ObjectType != SE_REGISTRY_KEY && ObjectType != SE_REGISTRY_WOW64_32KEY) ||
      (!ppSecurityDescriptor && (ppsidOwner || ppsidGroup || ppDacl || ppSacl))) {
    return rec.Return(DWORD(ERROR_INVALID_PARAMETER));
  }
  std::vector<Key*> chain;
  const DWORD resolved = ResolveObjectName(pObjectName, &chain);
  if (resolved != ERROR_SUCCESS) return rec.Return(resolved);
  if (SecurityInfo & SACL_SECURITY_INFORMATION) return rec.Return(ERROR_PRIVILEGE_NOT_HELD);
  const Key& key = *chain.back();
  if (!MayAccess(key, READ_CONTROL)) return rec.Return(DWORD(ERROR_ACCESS_DENIED));

  const std::string bytes = DescriptorBytes(key.security, SecurityInfo);
  if (ppsidOwner) *ppsidOwner = nullptr;
  if (ppsidGroup) *ppsidGroup = nullptr;
  if (ppDacl) *ppDacl = nullptr;
  if (ppSacl) *ppSacl = nullptr;
  if (ppSecurityDescriptor) {
    unsigned char* sd = static_cast<unsigned char*>(NewBlock(HandleKind::Local, bytes.size()));
    std::memcpy(sd, bytes.data(), bytes.size());
    const DWORD owner = ReadDword(sd + 4);
    const DWORD group = ReadDword(sd + 8);
    const DWORD dacl = ReadDword(sd + 16);
    if (ppsidOwner && owner) *ppsidOwner = sd + owner;
    if (ppsidGroup && group) *ppsidGroup = sd + group;
    if (ppDacl && dacl) *ppDacl = reinterpret_cast<PACL>(sd + dacl);
    *ppSecurityDescriptor = sd;
  }
  return rec.Return(DWORD(ERROR_SUCCESS));
}

DWORD WINAPI SetNamedSecurityInfoA(LPSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                                   SECURITY_INFORMATION SecurityInfo, PSID psidOwner,
                                   PSID psidGroup, PACL pDacl, PACL pSacl) {
  CallRecord rec("SetNamedSecurityInfoA", Quote(pObjectName) + ", " + std::to_string(ObjectType) +
                                              ", " + Hex(SecurityInfo) + ", " +
                                              PointerArg(psidOwner) + ", " + PointerArg(psidGroup) +
                                              ", " + PointerArg(pDacl) + ", " + PointerArg(pSacl));
  if (rec.ShouldFail()) return rec.Return(DWORD(ERROR_ACCESS_DENIED));
  if (!IsNtFamily()) return rec.Return(DWORD(ERROR_CALL_NOT_IMPLEMENTED));
  if (!pObjectName || (ObjectType != SE_REGISTRY_KEY && ObjectType != SE_REGISTRY_WOW64_32KEY)) {
    return rec.Return(DWORD(ERROR_INVALID_PARAMETER));
  }
  std::vector<Key*> chain;
  const DWORD resolved = ResolveObjectName(pObjectName, &chain);
  if (resolved != ERROR_SUCCESS) return rec.Return(resolved);
  if (SecurityInfo & SACL_SECURITY_INFORMATION) return rec.Return(ERROR_PRIVILEGE_NOT_HELD);
  Key* key = chain.back();
  Key* parent = chain.size() > 1 ? chain[chain.size() - 2] : nullptr;

  // Check everything before changing anything.
  DWORD need = 0;
  std::string owner;
  if (SecurityInfo & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) {
    need |= WRITE_OWNER;
  }
  if (SecurityInfo & OWNER_SECURITY_INFORMATION) {
    const unsigned char* sid = static_cast<const unsigned char*>(psidOwner);
    if (!ValidSidLength(sid, kSidHeader + 4 * kMaxSubAuthorities)) {
      return rec.Return(DWORD(ERROR_INVALID_SID));
    }
    owner = SidText(sid);
    if (!UserHas(owner) || owner == kSidEveryone) return rec.Return(ERROR_INVALID_OWNER);
  }
  if ((SecurityInfo & GROUP_SECURITY_INFORMATION) &&
      !ValidSidLength(static_cast<const unsigned char*>(psidGroup),
                      kSidHeader + 4 * kMaxSubAuthorities)) {
    return rec.Return(DWORD(ERROR_INVALID_SID));
  }
  std::vector<Ace> given;
  if (SecurityInfo & DACL_SECURITY_INFORMATION) {
    need |= WRITE_DAC;
    if (pDacl && !ParseAcl(reinterpret_cast<const unsigned char*>(pDacl), &given, nullptr)) {
      return rec.Return(DWORD(ERROR_INVALID_ACL));
    }
  }
  if (need && !MayAccess(*key, need)) return rec.Return(DWORD(ERROR_ACCESS_DENIED));

  KeySecurity& security = key->security;
  NoteKeyChange(key);
  if (SecurityInfo & OWNER_SECURITY_INFORMATION) security.owner = owner;
  if (SecurityInfo & DACL_SECURITY_INFORMATION) {
    if (SecurityInfo & PROTECTED_DACL_SECURITY_INFORMATION) {
      security.isProtected = true;
    } else if (SecurityInfo & UNPROTECTED_DACL_SECURITY_INFORMATION) {
      security.isProtected = false;
    }
    security.dacl.clear();
    security.daclPresent = pDacl != nullptr;
    if (!AutoInheritance()) {
      // NT 4 and NT 3.51 store the list as given, and hand nothing down to
      // the keys below: they keep the copies they got when they were made.
      security.dacl = given;
      return rec.Return(DWORD(ERROR_SUCCESS));
    }
    given = StoredEntries(given);
    if (pDacl && security.isProtected) {
      security.dacl = given;
    } else if (pDacl) {
      // The key's own entries as given; the inherited ones come from the
      // parent, whatever the caller passed as inherited.
      for (const Ace& ace : given) {
        if (!(ace.flags & INHERITED_ACE)) security.dacl.push_back(ace);
      }
      if (parent && parent->security.daclPresent) {
        for (const Ace& ace : InheritedEntries(parent->security.dacl, security.owner)) {
          security.dacl.push_back(ace);
        }
      }
    }
    PropagateInheritance(key);
  }
  return rec.Return(DWORD(ERROR_SUCCESS));
}
