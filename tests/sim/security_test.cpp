// Key security on the simulated machine: SIDs and access lists in Windows'
// layout, named-object security read and written back, inheritance down the
// tree, and the family and version differences.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "registry_fixture.h"
#include "sim.h"

namespace {

const char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root";
const char kEnumRootName[] = "MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\";
const char kEveryone[] = "S-1-1-0";

std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

PSID EveryoneSid() {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID sid = nullptr;
  EXPECT_TRUE(AllocateAndInitializeSid(&world, 1, 0, 0, 0, 0, 0, 0, 0, 0, &sid));
  return sid;
}

// The one-entry list the installer builds: Everyone, inheritable.
struct OneEntryAcl {
  alignas(4) BYTE bytes[32];
  PACL acl() { return reinterpret_cast<PACL>(bytes); }
  explicit OneEntryAcl(DWORD mask) {
    std::memset(bytes, 0, sizeof bytes);
    PSID sid = EveryoneSid();
    EXPECT_TRUE(InitializeAcl(acl(), sizeof bytes, ACL_REVISION));
    EXPECT_TRUE(AddAccessAllowedAce(acl(), ACL_REVISION, mask, sid));
    LPVOID ace = nullptr;
    EXPECT_TRUE(GetAce(acl(), 0, &ace));
    static_cast<PACE_HEADER>(ace)->AceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    FreeSid(sid);
  }
};

std::vector<sim::Ace> Explicit(const sim::KeySecurity& security) {
  std::vector<sim::Ace> out;
  for (const sim::Ace& ace : security.dacl) {
    if (!(ace.flags & INHERITED_ACE)) out.push_back(ace);
  }
  return out;
}

class Security : public RegistryFixture {};

TEST_F(Security, SidsAndAccessListsHaveTheWindowsLayout) {
  PSID sid = EveryoneSid();
  ASSERT_NE(sid, nullptr);
  EXPECT_EQ(sim::Outstanding()["sid"], 1);
  EXPECT_EQ(GetLengthSid(sid), 12u);
  EXPECT_EQ(Bytes(sid, 12), std::string("\x01\x01\0\0\0\0\0\x01\0\0\0\0", 12));

  alignas(4) BYTE buffer[64];
  std::memset(buffer, 0xAA, sizeof buffer);
  PACL acl = reinterpret_cast<PACL>(buffer);
  ASSERT_TRUE(InitializeAcl(acl, 32, ACL_REVISION));
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid));
  // Header 8 bytes, then type, flags, size 20, the mask and the SID.
  EXPECT_EQ(Bytes(buffer, 28), std::string("\x02\0\x20\0\x01\0\0\0"
                                           "\0\0\x14\0\0\0\0\x10"
                                           "\x01\x01\0\0\0\0\0\x01\0\0\0\0",
                                           28));
  EXPECT_EQ(buffer[28], 0xAA);  // nothing written past the entry
  // A second entry does not fit into 32 bytes.
  EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ, sid));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALLOTTED_SPACE_EXCEEDED));
  LPVOID ace = nullptr;
  EXPECT_TRUE(GetAce(acl, 0, &ace));
  EXPECT_EQ(ace, buffer + 8);
  EXPECT_FALSE(GetAce(acl, 1, &ace));

  // Lengths too short or not a multiple of four, unknown revisions.
  EXPECT_FALSE(InitializeAcl(acl, 4, ACL_REVISION));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(InitializeAcl(acl, 30, ACL_REVISION));
  EXPECT_FALSE(InitializeAcl(acl, 32, 1));
  EXPECT_FALSE(InitializeAcl(acl, 32, 5));

  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID tooLong = nullptr;
  EXPECT_FALSE(AllocateAndInitializeSid(&nt, 9, 0, 0, 0, 0, 0, 0, 0, 0, &tooLong));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SID));
  // Only SIDs it made are freed.
  EXPECT_EQ(FreeSid(buffer), static_cast<PVOID>(buffer));
  EXPECT_EQ(FreeSid(sid), nullptr);
}

TEST_F(Security, ReadingGivesASelfRelativeDescriptorInLocalMemory) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(kEnumRootName, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, &descriptor),
            DWORD(ERROR_SUCCESS));
  EXPECT_EQ(sim::Outstanding()["local"], 1);
  const BYTE* sd = static_cast<const BYTE*>(descriptor);
  EXPECT_EQ(sd[0], 1);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_EQ(control, SE_SELF_RELATIVE | SE_DACL_PRESENT);
  EXPECT_EQ(revision, 1u);
  EXPECT_EQ(reinterpret_cast<const BYTE*>(dacl), sd + 20);
  BOOL present = FALSE, defaulted = TRUE;
  PACL fromDescriptor = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &fromDescriptor, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_FALSE(defaulted);
  EXPECT_EQ(fromDescriptor, dacl);
  // The key's entries, all inherited from the protected device tree.
  const sim::KeySecurity security = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
  EXPECT_EQ(dacl->AceCount, security.dacl.size());
  EXPECT_TRUE(Explicit(security).empty()) << sim::SecurityText(security);
  EXPECT_EQ(LocalFree(descriptor), nullptr);

  // Owner asked for too: the SID of the system.
  PSID owner = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(kEnumRootName, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION,
                                  &owner, nullptr, nullptr, nullptr, &descriptor),
            DWORD(ERROR_SUCCESS));
  EXPECT_EQ(GetLengthSid(owner), 12u);
  EXPECT_EQ(static_cast<const BYTE*>(owner)[8], 18);
  LocalFree(descriptor);

  // Names the platform does not know, missing keys, no place for the
  // descriptor.
  EXPECT_EQ(
      GetNamedSecurityInfoA("SYSTEM\\CurrentControlSet", SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, &dacl, nullptr, &descriptor),
      DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(
      GetNamedSecurityInfoA("MACHINE\\SYSTEM\\Nowhere", SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, &dacl, nullptr, &descriptor),
      DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetNamedSecurityInfoA(kEnumRootName, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, nullptr),
            DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(Security, GrantAndWriteBackLeaveTheTreeAsItWas) {
  sim::RegPutKey(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\LEGACY\\0000");
  const std::string before = sim::Dump();
  const sim::RegistryAtMark mark = sim::TakeRegistryAtMark();
  const sim::KeySecurity rootBefore = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
  ASSERT_FALSE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, kEnumRoot, KEY_CREATE_SUB_KEY));

  // Save the list as the installer does.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(kEnumRootName, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, &descriptor),
            DWORD(ERROR_SUCCESS));
  std::vector<DWORD> saved(dacl->AclSize / 4);
  std::memcpy(saved.data(), dacl, dacl->AclSize);
  LocalFree(descriptor);

  OneEntryAcl grant(GENERIC_ALL);
  char name[sizeof kEnumRootName];
  std::strcpy(name, kEnumRootName);
  ASSERT_EQ(SetNamedSecurityInfoA(name, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, grant.acl(), nullptr),
            DWORD(ERROR_SUCCESS));
  const sim::KeySecurity granted = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
  // Stored split, as XP does (see VersionsStoreTheGrantInTheirOwnForm).
  ASSERT_EQ(Explicit(granted).size(), 2u) << sim::SecurityText(granted);
  EXPECT_EQ(Explicit(granted)[1].mask, DWORD(GENERIC_ALL));
  // The inherited entries stay after the new ones.
  EXPECT_EQ(granted.dacl.size(), rootBefore.dacl.size() + 2);
  EXPECT_TRUE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, kEnumRoot, KEY_ALL_ACCESS));
  // Existing keys below receive it, as key rights plus an inherit-only copy.
  const sim::KeySecurity child =
      sim::GetKeySecurity(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\LEGACY\\0000");
  EXPECT_TRUE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\LEGACY\\0000",
                                 KEY_ALL_ACCESS))
      << sim::SecurityText(child);
  EXPECT_EQ(sim::ChangedBehindMark(mark), "");  // their change was noted too
  // So do keys made now.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root\\NEW\\0000",
                            0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  const sim::KeySecurity made =
      sim::GetKeySecurity(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\NEW");
  ASSERT_GE(made.dacl.size(), 2u);
  EXPECT_EQ(made.dacl[0],
            (sim::Ace{ACCESS_ALLOWED_ACE_TYPE, INHERITED_ACE, KEY_ALL_ACCESS, kEveryone}));
  EXPECT_EQ(made.dacl[1],
            (sim::Ace{ACCESS_ALLOWED_ACE_TYPE,
                      OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE | INHERITED_ACE,
                      GENERIC_ALL, kEveryone}));
  EXPECT_EQ(made.owner, "S-1-5-32-544");

  // Written back unprotected: the saved inherited entries give way to the
  // parent's, so the key and everything below are as before.
  ASSERT_EQ(SetNamedSecurityInfoA(name, SE_REGISTRY_KEY,
                                  DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, reinterpret_cast<PACL>(saved.data()), nullptr),
            DWORD(ERROR_SUCCESS));
  EXPECT_EQ(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot), rootBefore);
  sim::RegRemoveKey(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\NEW");
  EXPECT_EQ(sim::DiffDumps(before, sim::Dump()), "");
}

TEST_F(Security, WritingNeedsTheRightAndAValidList) {
  sim::RegPutKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept");
  sim::KeySecurity kept = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept");
  kept.owner = "S-1-5-18";
  kept.isProtected = true;
  kept.dacl = {{ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ, "S-1-5-32-544"}};
  sim::SetKeySecurity(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", kept);
  char name[] = "MACHINE\\SOFTWARE\\Kept";
  OneEntryAcl grant(GENERIC_ALL);
  EXPECT_EQ(SetNamedSecurityInfoA(name, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, grant.acl(), nullptr),
            DWORD(ERROR_ACCESS_DENIED));
  EXPECT_EQ(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept"), kept);

  // Owned by the administrators, the list may change; a protected list
  // stays protected and gets nothing from its parent.
  kept.owner = "S-1-5-32-544";
  sim::SetKeySecurity(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", kept);
  ASSERT_EQ(SetNamedSecurityInfoA(name, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, grant.acl(), nullptr),
            DWORD(ERROR_SUCCESS));
  sim::KeySecurity after = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept");
  EXPECT_TRUE(after.isProtected);
  EXPECT_EQ(after.dacl.size(), 2u) << sim::SecurityText(after);

  // A null list opens the key to everyone.
  ASSERT_EQ(SetNamedSecurityInfoA(name, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, nullptr, nullptr),
            DWORD(ERROR_SUCCESS));
  EXPECT_FALSE(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept").daclPresent);
  sim::SetUserGroups({});
  EXPECT_TRUE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", KEY_ALL_ACCESS));
  sim::SetUserGroups({"S-1-5-32-544"});

  // A list whose entry runs past its end is refused.
  alignas(4) BYTE broken[32];
  std::memcpy(broken, grant.bytes, sizeof broken);
  broken[10] = 40;  // entry size
  EXPECT_EQ(SetNamedSecurityInfoA(name, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, reinterpret_cast<PACL>(broken), nullptr),
            DWORD(ERROR_INVALID_ACL));
}

TEST_F(Security, InheritanceFollowsTheEntryFlags) {
  sim::RegPutKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Top");
  sim::KeySecurity top = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, "SOFTWARE\\Top");
  top.isProtected = true;
  top.dacl = {
      {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, "S-1-5-32-544"},
      {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE | NO_PROPAGATE_INHERIT_ACE, GENERIC_READ,
       "S-1-5-32-545"},
      {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE, KEY_SET_VALUE, "S-1-5-11"},
      {ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ, kEveryone},
      {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, GENERIC_ALL, "S-1-3-0"},
  };
  sim::SetKeySecurity(HKEY_LOCAL_MACHINE, "SOFTWARE\\Top", top);
  sim::RegPutKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Top\\Child\\Grandchild");
  const sim::KeySecurity child = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, "SOFTWARE\\Top\\Child");
  const BYTE id = INHERITED_ACE;
  EXPECT_EQ(child.dacl,
            (std::vector<sim::Ace>{
                {ACCESS_ALLOWED_ACE_TYPE, BYTE(CONTAINER_INHERIT_ACE | id), KEY_ALL_ACCESS,
                 "S-1-5-32-544"},
                {ACCESS_ALLOWED_ACE_TYPE, id, KEY_READ, "S-1-5-32-545"},
                {ACCESS_ALLOWED_ACE_TYPE, BYTE(OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE | id),
                 KEY_SET_VALUE, "S-1-5-11"},
                {ACCESS_ALLOWED_ACE_TYPE, id, KEY_ALL_ACCESS, child.owner},
                {ACCESS_ALLOWED_ACE_TYPE, BYTE(CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE | id),
                 GENERIC_ALL, "S-1-3-0"},
            }))
      << sim::SecurityText(child);
  // Inherit-only entries grant nothing on the key that holds them.
  sim::SetUserGroups({"S-1-5-11"});
  EXPECT_FALSE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\Top\\Child", KEY_SET_VALUE));
  sim::SetUserGroups({"S-1-5-32-545"});
  EXPECT_TRUE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\Top\\Child", KEY_READ));
  EXPECT_FALSE(
      sim::UserMayAccess(HKEY_LOCAL_MACHINE, "SOFTWARE\\Top\\Child\\Grandchild", KEY_READ));
}

TEST_F(Security, FamiliesAndVersions) {
  char name[] = "MACHINE\\Software";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  sim::Reset(sim::Windows::Win98);
  EXPECT_EQ(GetNamedSecurityInfoA(name, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &descriptor),
            DWORD(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(SetNamedSecurityInfoA(name, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, nullptr, nullptr),
            DWORD(ERROR_CALL_NOT_IMPLEMENTED));

  // NT 3.51's advapi32 has no named-object security; NT 4 has.
  for (sim::Windows version : {sim::Windows::NT351, sim::Windows::NT40}) {
    sim::Reset(version);
    HMODULE advapi = LoadLibraryA("advapi32.dll");
    ASSERT_NE(advapi, nullptr);
    const bool present = GetProcAddress(advapi, "SetNamedSecurityInfoA") != nullptr;
    EXPECT_EQ(present, version == sim::Windows::NT40);
    EXPECT_EQ(GetProcAddress(advapi, "GetNamedSecurityInfoA") != nullptr, present);
    FreeLibrary(advapi);
  }
}

// The installer's entry (Everyone, GENERIC_ALL, inherited by objects and
// containers) as each version stores it when the list is set; and what keys
// made below it get. NT 4 has no inherited flag: a new key gets plain
// copies, and keys that were there before keep their lists.
TEST(SecurityVersions, VersionsStoreTheGrantInTheirOwnForm) {
  const BYTE oici = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  const sim::Ace asWritten{ACCESS_ALLOWED_ACE_TYPE, oici, GENERIC_ALL, kEveryone};
  const sim::Ace mapped{ACCESS_ALLOWED_ACE_TYPE, oici, KEY_ALL_ACCESS, kEveryone};
  const sim::Ace forKey{ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, kEveryone};
  const sim::Ace inheritOnly{ACCESS_ALLOWED_ACE_TYPE, BYTE(oici | INHERIT_ONLY_ACE), GENERIC_ALL,
                             kEveryone};
  // What a key made below gets: the entry for itself in key rights and the
  // original carried on, or the mapped entry as one.
  auto made = [&](BYTE id, bool split) {
    return split
               ? std::vector<sim::Ace>{{ACCESS_ALLOWED_ACE_TYPE, id, KEY_ALL_ACCESS, kEveryone},
                                       {ACCESS_ALLOWED_ACE_TYPE, BYTE(oici | INHERIT_ONLY_ACE | id),
                                        GENERIC_ALL, kEveryone}}
               : std::vector<sim::Ace>{
                     {ACCESS_ALLOWED_ACE_TYPE, BYTE(oici | id), KEY_ALL_ACCESS, kEveryone}};
  };
  const BYTE id = INHERITED_ACE;
  const struct {
    sim::Windows version;
    std::vector<sim::Ace> stored;
    std::vector<sim::Ace> madeBelow;
  } cases[] = {
      {sim::Windows::NT40, {asWritten}, made(0, true)},
      {sim::Windows::Win2k, {forKey, inheritOnly}, made(id, true)},
      {sim::Windows::WinXP, {forKey, inheritOnly}, made(id, true)},
      {sim::Windows::Win7, {mapped}, made(id, false)},
      {sim::Windows::Win10, {mapped}, made(id, false)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(sim::WindowsName(c.version));
    sim::Reset(c.version);
    const std::string old = std::string(kEnumRoot) + "\\OLD";
    sim::RegPutKey(HKEY_LOCAL_MACHINE, old);
    const sim::KeySecurity oldBefore = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, old);
    OneEntryAcl grant(GENERIC_ALL);
    char name[sizeof kEnumRootName];
    std::strcpy(name, kEnumRootName);
    ASSERT_EQ(SetNamedSecurityInfoA(name, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, grant.acl(), nullptr),
              DWORD(ERROR_SUCCESS));
    const sim::KeySecurity root = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
    EXPECT_EQ(c.stored, Explicit(root)) << sim::SecurityText(root);
    sim::RegPutKey(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\NEW");
    const sim::KeySecurity below =
        sim::GetKeySecurity(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\NEW");
    // (The entries Enum hands down through Root follow them.)
    ASSERT_GE(below.dacl.size(), c.madeBelow.size());
    EXPECT_EQ(c.madeBelow,
              std::vector<sim::Ace>(below.dacl.begin(), below.dacl.begin() + c.madeBelow.size()))
        << sim::SecurityText(below);
    // A key that was there: only 2000 and later hand the new list down.
    const sim::KeySecurity oldAfter = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, old);
    EXPECT_EQ(c.version == sim::Windows::NT40, oldAfter == oldBefore)
        << sim::SecurityText(oldAfter);
  }
}

}  // namespace
