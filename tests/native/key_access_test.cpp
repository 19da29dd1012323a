// The key access grant and its withdrawal on the simulated machine: object
// names, the one-entry list, every failing step, the release of what was
// obtained, and the key's list after a read/grant/restore cycle.
#include <gtest/gtest.h>

#include "harness.h"
#include "key_access.h"
#include "platform_family.h"
#include "registry_writers.h"

namespace {

const char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\";
const char kEveryone[] = "S-1-1-0";

std::vector<std::string> FunctionsCalled() {
  std::vector<std::string> names;
  for (const sim::Call& call : sim::Trace()) {
    if (call.function != "GetProcessHeap") names.push_back(call.function);
  }
  return names;
}

std::vector<sim::Ace> ExplicitEntries(const sim::KeySecurity& security) {
  std::vector<sim::Ace> entries;
  for (const sim::Ace& ace : security.dacl) {
    if (!(ace.flags & INHERITED_ACE)) entries.push_back(ace);
  }
  return entries;
}

class KeyAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMachine(sim::Windows::WinXP);
    PlatformFamily = VER_PLATFORM_WIN32_NT;
    PlatformMajorVersion = 5;
  }
  void TearDown() override { EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText(); }
};

TEST(KeyObjectNameTest, PrefixByRoot) {
  EXPECT_EQ(KeyObjectName(HKEY_LOCAL_MACHINE, kEnumRoot),
            "MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\");
  EXPECT_EQ(KeyObjectName(HKEY_CLASSES_ROOT, ".wav"), "CLASSES_ROOT\\.wav");
  EXPECT_EQ(KeyObjectName(HKEY_CURRENT_USER, "Software\\A"), "CURRENT_USER\\Software\\A");
  EXPECT_EQ(KeyObjectName(HKEY_USERS, ".DEFAULT"), "USERS\\.DEFAULT");
  EXPECT_EQ(KeyObjectName(HKEY_CURRENT_CONFIG, "System\\Hardware"), "System\\Hardware");
  EXPECT_EQ(KeyObjectName(HKEY_LOCAL_MACHINE, ""), "MACHINE\\");
}

TEST_F(KeyAccess, GrantLeavesOneInheritableEntryForEveryone) {
  ASSERT_FALSE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, kEnumRoot, KEY_ALL_ACCESS));
  sim::ClearTrace();
  EXPECT_TRUE(GrantKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, GENERIC_ALL));
  const sim::KeySecurity after = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
  // XP stores the inheritable entry with its generic right split in two: the
  // entry for the key itself in key rights, and an inherit-only one.
  const std::vector<sim::Ace> entries = ExplicitEntries(after);
  ASSERT_EQ(entries.size(), 2u) << sim::SecurityText(after);
  EXPECT_EQ(sim::Ace({ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, kEveryone}), entries[0]);
  EXPECT_EQ(sim::Ace({ACCESS_ALLOWED_ACE_TYPE,
                      OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, GENERIC_ALL,
                      kEveryone}),
            entries[1]);
  EXPECT_TRUE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, kEnumRoot, KEY_ALL_ACCESS));

  // A 32-byte list: 8 bytes of header, one entry of 8 bytes and the 12-byte
  // SID; the function is looked up at the call, and everything is released
  // in order.
  bool sized = false;
  for (const sim::Call& call : sim::Trace()) {
    if (call.function == "InitializeAcl") sized = call.args.find(", 32, 2") != std::string::npos;
  }
  EXPECT_TRUE(sized) << sim::TraceText();
  const std::vector<std::string> calls = FunctionsCalled();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls.front(), "LoadLibraryA");
  EXPECT_EQ(
      std::vector<std::string>({"SetNamedSecurityInfoA", "FreeSid", "HeapFree", "FreeLibrary"}),
      std::vector<std::string>(calls.end() - 4, calls.end()));
}

TEST_F(KeyAccess, EveryFailingStepAnswersNoAndReleasesEverything) {
  const sim::KeySecurity before = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
  const char* steps[] = {"LoadLibraryA", "GetProcAddress",       "AllocateAndInitializeSid",
                         "HeapAlloc",    "InitializeAcl",        "AddAccessAllowedAce",
                         "GetAce",       "SetNamedSecurityInfoA"};
  for (const char* step : steps) {
    ASSERT_TRUE(sim::IsFailable(step));
    SCOPED_TRACE(step);
    sim::ClearFaults();
    sim::ClearTrace();
    sim::FailFunction(step);
    EXPECT_FALSE(GrantKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, GENERIC_ALL));
    EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
    EXPECT_EQ(before, sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot));
    if (std::string(step) != "SetNamedSecurityInfoA") {
      EXPECT_EQ(CallsOf("SetNamedSecurityInfoA"), 0u) << sim::TraceText();
    }
  }
  EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(KeyAccess, MissingSecurityFunctionAnswersNoWithoutBuildingAnything) {
  sim::SetEntryPointMissing("advapi32.dll", "SetNamedSecurityInfoA", true);
  const sim::KeySecurity before = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
  sim::ClearTrace();
  EXPECT_FALSE(GrantKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, GENERIC_ALL));
  EXPECT_EQ(CallsOf("AllocateAndInitializeSid"), 0u);
  EXPECT_EQ(CallsOf("HeapAlloc"), 0u);
  EXPECT_EQ(CallsOf("FreeLibrary"), 1u);
  EXPECT_EQ(before, sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot));

  SavedKeyAccess saved;
  EXPECT_FALSE(RestoreKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, saved));
  sim::SetEntryPointMissing("advapi32.dll", "GetNamedSecurityInfoA", true);
  EXPECT_FALSE(ReadKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, saved));
  EXPECT_EQ(before, sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot));
}

TEST_F(KeyAccess, ReadGrantRestoreLeavesTheKeyAsItWas) {
  const std::string child = std::string(kEnumRoot) + "LEGACY_BEEP";
  sim::RegPutKey(HKEY_LOCAL_MACHINE, child);
  const sim::KeySecurity before = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
  const sim::KeySecurity childBefore = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, child);

  SavedKeyAccess saved;
  ASSERT_TRUE(ReadKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, saved));
  EXPECT_TRUE(saved.daclPresent);
  ASSERT_TRUE(GrantKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, GENERIC_ALL));
  WriteStringValue(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "REALTIME\\0000", "Class", "MEDIA");
  ASSERT_TRUE(RestoreKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, saved));

  const sim::KeySecurity after = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
  EXPECT_EQ(before, after) << sim::SecurityText(before) << "\n" << sim::SecurityText(after);
  EXPECT_EQ(childBefore, sim::GetKeySecurity(HKEY_LOCAL_MACHINE, child));
  EXPECT_FALSE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, kEnumRoot, KEY_ALL_ACCESS));
  // The key written while the grant stood keeps no right for Everyone.
  for (const sim::Ace& ace :
       sim::GetKeySecurity(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "REALTIME").dacl) {
    EXPECT_FALSE(ace.sid == kEveryone && ace.mask == DWORD(GENERIC_ALL));
  }
}

TEST_F(KeyAccess, ProtectedAndMissingListsComeBackAsTheyWere) {
  const std::string key = "SOFTWARE\\Maker\\Locked";
  sim::RegPutKey(HKEY_LOCAL_MACHINE, key);
  sim::KeySecurity locked = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, key);
  locked.isProtected = true;
  locked.dacl = {{ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, "S-1-5-18"},
                 {ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ, "S-1-5-32-544"}};
  sim::SetKeySecurity(HKEY_LOCAL_MACHINE, key, locked);

  SavedKeyAccess saved;
  ASSERT_TRUE(ReadKeyAccess(HKEY_LOCAL_MACHINE, key, saved));
  EXPECT_TRUE(saved.isProtected);
  ASSERT_TRUE(GrantKeyAccess(HKEY_LOCAL_MACHINE, key, GENERIC_ALL));
  ASSERT_TRUE(RestoreKeyAccess(HKEY_LOCAL_MACHINE, key, saved));
  EXPECT_EQ(locked, sim::GetKeySecurity(HKEY_LOCAL_MACHINE, key))
      << sim::SecurityText(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, key));

  sim::KeySecurity open = locked;
  open.daclPresent = false;
  open.dacl.clear();
  sim::SetKeySecurity(HKEY_LOCAL_MACHINE, key, open);
  ASSERT_TRUE(ReadKeyAccess(HKEY_LOCAL_MACHINE, key, saved));
  EXPECT_FALSE(saved.daclPresent);
  ASSERT_TRUE(GrantKeyAccess(HKEY_LOCAL_MACHINE, key, GENERIC_ALL));
  ASSERT_TRUE(RestoreKeyAccess(HKEY_LOCAL_MACHINE, key, saved));
  EXPECT_EQ(open, sim::GetKeySecurity(HKEY_LOCAL_MACHINE, key))
      << sim::SecurityText(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, key));
}

TEST_F(KeyAccess, FailedReadOrRestoreReleasesEverything) {
  SavedKeyAccess saved;
  const char* readSteps[] = {"LoadLibraryA", "GetProcAddress", "GetNamedSecurityInfoA",
                             "GetSecurityDescriptorControl", "GetSecurityDescriptorDacl"};
  for (const char* step : readSteps) {
    ASSERT_TRUE(sim::IsFailable(step));
    SCOPED_TRACE(step);
    sim::ClearFaults();
    sim::FailFunction(step);
    EXPECT_FALSE(ReadKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, saved));
    EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
  }
  sim::ClearFaults();
  ASSERT_TRUE(ReadKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, saved));
  sim::FailFunction("SetNamedSecurityInfoA");
  EXPECT_FALSE(RestoreKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, saved));
}

// The entry GrantKeyAccess(GENERIC_ALL) writes, and entries that differ from
// it in one field each.
const sim::Ace kGrant{ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                      GENERIC_ALL, kEveryone};
const sim::Ace kSystemAll{ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS,
                          "S-1-5-18"};
const sim::Ace kAdminsRead{ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ, "S-1-5-32-544"};

TEST_F(KeyAccess, OnlyEntriesOfTheGrantsKindAreLeftOutOfTheSavedList) {
  // NT 4 stores a list as it is given, so the list written back is seen as
  // the installer wrote it.
  ResetMachine(sim::Windows::NT40);
  PlatformMajorVersion = 4;
  sim::Ace noInherit = kGrant, containersOnly = kGrant, inheritedCopy = kGrant;
  noInherit.flags = 0;
  containersOnly.flags = CONTAINER_INHERIT_ACE;
  inheritedCopy.flags |= INHERITED_ACE;
  sim::Ace admins = kGrant, denied = kGrant;
  admins.sid = "S-1-5-32-544";
  denied.type = ACCESS_DENIED_ACE_TYPE;
  // The forms the platform may store the grant in: mapped to key rights, or
  // split into the entry for the key alone and an inherit-only one.
  sim::Ace mapped = kGrant, forKeyAlone = kGrant, inheritOnly = kGrant;
  mapped.mask = KEY_ALL_ACCESS;
  forKeyAlone.flags = 0;
  forKeyAlone.mask = KEY_ALL_ACCESS;
  inheritOnly.flags |= INHERIT_ONLY_ACE;
  const sim::Ace systemAll{ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                           KEY_ALL_ACCESS, "S-1-5-18"};
  const sim::Ace everyoneRead{ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                              KEY_READ, kEveryone};
  const sim::Ace adminsList{ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                            READ_CONTROL | WRITE_DAC, "S-1-5-32-544"};
  const struct {
    const char* what;
    std::vector<sim::Ace> before;
    bool dropped;
    std::vector<sim::Ace> after;
  } cases[] = {
      {"a left-over grant among the key's own entries",
       {kSystemAll, kGrant, kAdminsRead},
       true,
       {kSystemAll, kAdminsRead}},
      {"two left-over grants", {kGrant, kAdminsRead, kGrant}, true, {kAdminsRead}},
      {"the grant mapped to key rights", {kSystemAll, mapped}, true, {kSystemAll}},
      {"the grant split in two", {forKeyAlone, kAdminsRead, inheritOnly}, true, {kAdminsRead}},
      {"the inherit-only part alone", {inheritOnly, kSystemAll}, true, {kSystemAll}},
      {"entries that differ in one field stay, in order; so does the part for the key alone",
       {denied, noInherit, containersOnly, inheritedCopy, admins, forKeyAlone},
       false,
       {denied, noInherit, containersOnly, inheritedCopy, admins, forKeyAlone}},
      {"a list of nothing but the grant gets the device tree's usual list",
       {forKeyAlone, inheritOnly},
       true,
       {systemAll, everyoneRead, adminsList}},
  };
  const std::string key = "SOFTWARE\\Maker\\Locked";
  sim::RegPutKey(HKEY_LOCAL_MACHINE, key);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::KeySecurity security = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, key);
    security.isProtected = true;  // nothing inherited
    security.dacl = c.before;
    sim::SetKeySecurity(HKEY_LOCAL_MACHINE, key, security);

    SavedKeyAccess saved;
    ASSERT_TRUE(ReadKeyAccess(HKEY_LOCAL_MACHINE, key, saved));
    EXPECT_EQ(c.dropped, DropGrantEntries(saved, GENERIC_ALL));
    ASSERT_TRUE(GrantKeyAccess(HKEY_LOCAL_MACHINE, key, GENERIC_ALL));
    ASSERT_TRUE(RestoreKeyAccess(HKEY_LOCAL_MACHINE, key, saved));
    security.dacl = c.after;
    EXPECT_EQ(security, sim::GetKeySecurity(HKEY_LOCAL_MACHINE, key))
        << sim::SecurityText(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, key));
  }

  // Another mask is another kind; a key without a list has nothing to drop.
  SavedKeyAccess saved;
  ASSERT_TRUE(ReadKeyAccess(HKEY_LOCAL_MACHINE, key, saved));
  EXPECT_FALSE(DropGrantEntries(saved, GENERIC_READ | GENERIC_WRITE));
  saved.daclPresent = false;
  saved.acl.clear();
  EXPECT_FALSE(DropGrantEntries(saved, GENERIC_ALL));
  EXPECT_FALSE(saved.daclPresent);
}

// The withdrawal names the protection of the list only where the platform
// knows it: from Windows 2000 on. The version is the one the run read. (NT
// 3.51 has no named-object security functions: no grant at all.)
TEST(KeyAccessVersions, WithdrawalNamesProtectionFromWindows2000On) {
  const struct {
    sim::Windows version;
    const char* info;
  } cases[] = {{sim::Windows::NT40, "0x4"},
               {sim::Windows::Win2k, "0x20000004"},
               {sim::Windows::WinXP, "0x20000004"},
               {sim::Windows::Win7, "0x20000004"},
               {sim::Windows::Win10, "0x20000004"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(sim::WindowsName(c.version));
    sim::Reset(c.version);
    const sim::KeySecurity before = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
    RunInstaller();
    std::vector<std::string> infos;
    for (const sim::Call& call : sim::Trace()) {
      if (call.function != "SetNamedSecurityInfoA") continue;
      const size_t first = call.args.find(", ") + 2;
      const size_t second = call.args.find(", ", first) + 2;
      infos.push_back(call.args.substr(second, call.args.find(", ", second) - second));
    }
    EXPECT_EQ(infos, std::vector<std::string>({"0x4", c.info})) << sim::TraceText();
    EXPECT_EQ(before, sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot));
    EXPECT_TRUE(sim::Boxes().empty());
  }
}

// The list from before a grant outlives a run stopped in the grant's window,
// on every version with the security functions: the next run writes the
// kept list back, not what it finds. A kept list beside a key without a
// grant is stale and gives way to the key's list; a withdrawal refused twice
// leaves the kept list for the next run; a kept list that is not whole is
// not used, and the list written then keeps the machine able to grant.
TEST(KeyAccessVersions, KeptListStandsInForTheListAGrantReplaced) {
  const std::string keptKey =
      "Software\\Miravelt\\Access kept for MACHINE/SYSTEM/CurrentControlSet/Enum/Root";
  for (sim::Windows version :
       {sim::Windows::NT40, sim::Windows::Win2k, sim::Windows::WinXP, sim::Windows::Win10}) {
    SCOPED_TRACE(sim::WindowsName(version));
    ResetMachine(version);
    PlatformFamily = VER_PLATFORM_WIN32_NT;
    PlatformMajorVersion = version == sim::Windows::NT40 ? 4 : 5;
    sim::KeySecurity own = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
    own.isProtected = version != sim::Windows::NT40;
    own.dacl = {{ACCESS_DENIED_ACE_TYPE, CONTAINER_INHERIT_ACE, KEY_READ, "S-1-5-21-7-7-7-1010"},
                {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, "S-1-5-18"},
                {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE, KEY_ALL_ACCESS, "S-1-5-32-544"},
                {ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ, kEveryone}};
    sim::SetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot, own);
    auto fullRun = [] {
      TemporaryKeyGrant grant;
      const bool granted =
          BeginTemporaryKeyGrant(HKEY_LOCAL_MACHINE, kEnumRoot, GENERIC_ALL, grant);
      return EndTemporaryKeyGrant(grant) && granted;
    };

    // Stopped between grant and withdrawal, twice in a row.
    for (int cut = 0; cut < 2; ++cut) {
      TemporaryKeyGrant grant;
      ASSERT_TRUE(BeginTemporaryKeyGrant(HKEY_LOCAL_MACHINE, kEnumRoot, GENERIC_ALL, grant));
      sim::Restart();
    }
    EXPECT_TRUE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, keptKey));
    EXPECT_TRUE(fullRun());
    EXPECT_EQ(own, sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot));
    EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, keptKey));

    // A stale kept list: the key's own list wins.
    SavedKeyAccess other;
    ASSERT_TRUE(ReadKeyAccess(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum", other));
    ASSERT_TRUE(KeepKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, other));
    EXPECT_TRUE(fullRun());
    EXPECT_EQ(own, sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot));

    // Withdrawal refused twice: the kept list waits for the next run.
    {
      TemporaryKeyGrant grant;
      ASSERT_TRUE(BeginTemporaryKeyGrant(HKEY_LOCAL_MACHINE, kEnumRoot, GENERIC_ALL, grant));
      sim::FailFunction("SetNamedSecurityInfoA", "", 2);
      EXPECT_FALSE(EndTemporaryKeyGrant(grant));
      sim::ClearFaults();
    }
    SavedKeyAccess kept;
    EXPECT_TRUE(ReadKeptKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, kept));
    EXPECT_TRUE(fullRun());
    EXPECT_EQ(own, sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot));

    // A kept list cut short is no list: with nothing else known, the list
    // written keeps the administrators able to grant, and a second run can.
    {
      TemporaryKeyGrant grant;
      ASSERT_TRUE(BeginTemporaryKeyGrant(HKEY_LOCAL_MACHINE, kEnumRoot, GENERIC_ALL, grant));
    }
    sim::Value record;
    ASSERT_TRUE(sim::RegGet(HKEY_LOCAL_MACHINE, keptKey, "List", &record));
    sim::RegPut(HKEY_LOCAL_MACHINE, keptKey, "List", REG_BINARY, record.data.substr(0, 10));
    EXPECT_FALSE(ReadKeptKeyAccess(HKEY_LOCAL_MACHINE, kEnumRoot, kept));
    EXPECT_TRUE(fullRun());
    EXPECT_TRUE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, kEnumRoot, READ_CONTROL | WRITE_DAC));
    EXPECT_FALSE(sim::UserMayAccess(HKEY_LOCAL_MACHINE, kEnumRoot, KEY_SET_VALUE));
    const sim::KeySecurity fallback = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
    EXPECT_TRUE(fullRun());
    EXPECT_EQ(fallback, sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot));
    EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
    EXPECT_TRUE(sim::Boxes().empty());
  }
}

}  // namespace
