// The realtime audio kernel on an NT machine: kernel driver and setup
// information file, the device, class and service keys written under the
// temporary grant on Enum\Root, and the staged engine files.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "harness.h"
#include "packages.h"
#include "platform_family.h"
#include "sim.h"

namespace {

const std::string kSource = "C:\\SETUP\\";
const std::string kEnumRoot = "SYSTEM\\CurrentControlSet\\Enum\\Root";
const std::string kGuid = "{6B1F0A52-9D37-4C8E-A2F4-5E70C3D91B68}";
const std::string kClassKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\" + kGuid;
const std::string kDriverKey = kClassKey + "\\0000";
const std::string kDeviceKey = kEnumRoot + "\\REALTIME\\0000";
const std::string kServiceKey = "SYSTEM\\CurrentControlSet\\Services\\ZOLTAVEX";
const std::string kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kEngineKey = "Software\\Miravelt\\ZOLTAVEX";
const char kPermissionMessage[] = "Unable to set permission for \"HKLM\\System\\Enum\\Root\" !";

// Every device value as "key|name", in the order it must be written.
std::vector<std::string> ExpectedDeviceValues() {
  std::vector<std::string> out;
  auto add = [&out](const std::string& key, std::vector<const char*> names) {
    for (const char* name : names) out.push_back(key + "|" + name);
  };
  add(kClassKey, {"", "Class", "Icon"});
  add(kDriverKey,
      {"InfPath", "InfSection", "InfSectionExt", "ProviderName", "MatchingDeviceId", "DriverDesc"});
  add(kDeviceKey, {"ClassGUID", "HardwareID", "FriendlyName", "Class", "Mfg", "Service",
                   "DeviceDesc", "ConfigFlags", "Capabilities", "Driver"});
  add(kDeviceKey + "\\Device Parameters", {""});
  add(kDeviceKey + "\\LogConf", {""});
  add(kDeviceKey + "\\Control", {"ActiveService"});
  add(kServiceKey, {"Type", "Start", "ErrorControl", "ImagePath"});
  add(kServiceKey + "\\Enum", {"0", "Count", "NextInstance"});
  return out;
}

// The first quoted string of a traced argument list, unescaped.
std::string FirstQuoted(const std::string& args) {
  std::string out;
  size_t i = args.find('"');
  if (i == std::string::npos) return out;
  for (++i; i < args.size() && args[i] != '"'; ++i) {
    if (args[i] == '\\' && i + 1 < args.size()) ++i;
    out += args[i];
  }
  return out;
}

// Values set below SYSTEM, as "key|name" in call order.
std::vector<std::string> DeviceValuesSet() {
  std::vector<std::string> out;
  std::string key;
  for (const sim::Call& call : sim::Trace()) {
    if (call.function == "RegCreateKeyExA") key = FirstQuoted(call.args);
    if (call.function == "RegSetValueExA" && key.rfind("SYSTEM\\", 0) == 0)
      out.push_back(key + "|" + FirstQuoted(call.args));
  }
  return out;
}

class AudioKernelNt : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMachine(sim::Windows::WinXP);
    PlatformFamily = 2;
    PlatformMajorVersion = 5;
    sys_ = sim::SystemFolder() + "\\";
    for (const char* name : {"ZOLTAVEX.SYS", "ZOLTAVEX.INF", "ZOLTAVEX.DLL", "ZOLTAVEX.EXE"})
      sim::PutFile(kSource + name, std::string("new ") + name);
    securityBefore_ = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
    sim::ClearTrace();
  }

  static sim::RunResult Install() {
    return sim::Run(
        [] { InstallAudioKernel("C:\\SETUP\\", sim::WindowsFolder(), sim::SystemFolder()); });
  }

  std::pair<std::string, std::string> Pending(const char* from, const char* to) const {
    return {"\\??\\" + sys_ + from, "!\\??\\" + sys_ + to};
  }

  // A list with one more entry in front: allowed, inherited below (OI|CI).
  static sim::KeySecurity WithInheritableEntry(sim::KeySecurity security, DWORD mask,
                                               const char* sid) {
    sim::Ace ace;
    ace.flags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    ace.mask = mask;
    ace.sid = sid;
    security.dacl.insert(security.dacl.begin(), ace);
    return security;
  }

  // Lets administrators write below Enum\Root without any grant.
  void MakeEnumRootWritable() {
    securityBefore_ = WithInheritableEntry(securityBefore_, KEY_ALL_ACCESS, "S-1-5-32-544");
    sim::SetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot, securityBefore_);
  }

  // What a run stopped between its grant and the withdrawal leaves on a key
  // whose list was `start` then: the grant's entry in front of the key's own
  // ones, inherited below, and the device keys written under it.
  static void LeaveGrantOfCutRun(const sim::KeySecurity& start) {
    sim::SetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot,
                        WithInheritableEntry(start, GENERIC_ALL, "S-1-1-0"));
    sim::RegPutString(HKEY_LOCAL_MACHINE, kDeviceKey, "Class", "REALTIME");
  }

  std::string sys_;
  sim::KeySecurity securityBefore_;
};

// Whether Everyone holds full access anywhere in the tree below key, the key
// included.
std::string EveryoneFullAccessBelow(const std::string& key) {
  std::string found;
  for (const sim::Ace& ace : sim::GetKeySecurity(HKEY_LOCAL_MACHINE, key).dacl) {
    if (ace.sid == "S-1-1-0" && ace.type == ACCESS_ALLOWED_ACE_TYPE &&
        !(ace.flags & INHERIT_ONLY_ACE) && (ace.mask & (GENERIC_ALL | KEY_SET_VALUE)))
      found += key + " ";
  }
  for (const std::string& sub : sim::RegSubkeys(HKEY_LOCAL_MACHINE, key))
    found += EveryoneFullAccessBelow(key + "\\" + sub);
  return found;
}

TEST_F(AudioKernelNt, InstallsEverythingAndPutsTheAccessListBack) {
  const std::string windowsBefore = sim::IniText(sim::WindowsFolder() + "\\SYSTEM.INI");
  Install();
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
  EXPECT_EQ(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot), securityBefore_)
      << sim::SecurityText(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot));

  EXPECT_EQ(File(sys_ + "drivers\\ZOLTAVEX.SYS"), "new ZOLTAVEX.SYS");
  EXPECT_EQ(File(sim::WindowsFolder() + "\\INF\\ZOLTAVEX.INF"), "new ZOLTAVEX.INF");

  EXPECT_EQ(DeviceValuesSet(), ExpectedDeviceValues());
  EXPECT_EQ(Reg(kDriverKey, "MatchingDeviceId"), Sz("*miravelt\\zoltavex"));
  EXPECT_EQ(Reg(kDriverKey, "DriverDesc"), Sz("MIRAVELT Realtime Audio Kernel"));
  EXPECT_EQ(Reg(kDeviceKey, "HardwareID"), std::string("7:*miravelt\\zoltavex\0\0", 22));
  EXPECT_EQ(Reg(kDeviceKey, "FriendlyName"), Sz("Miravelt Realtime Audio Kernel"));
  EXPECT_EQ(Reg(kDeviceKey, "Driver"), Sz((kGuid + "\\0000").c_str()));
  EXPECT_EQ(Reg(kDeviceKey, "Capabilities"), "4:" + sim::DwordOf(0));
  EXPECT_EQ(Reg(kDeviceKey + "\\Device Parameters", ""), std::string("1:\0", 3));
  EXPECT_EQ(Reg(kDeviceKey + "\\LogConf", ""), std::string("1:\0", 3));
  EXPECT_EQ(Reg(kServiceKey, "Start"), "4:" + sim::DwordOf(0));
  EXPECT_EQ(Reg(kServiceKey, "ImagePath"), std::string("2:system32\\drivers\\zoltavex.sys\0", 32));
  EXPECT_EQ(Reg(kServiceKey + "\\Enum", "0"), Sz("Root\\REALTIME\\0000"));

  EXPECT_EQ(sim::PendingRenames(),
            (std::vector<std::pair<std::string, std::string>>{
                Pending("ZOLTAVEX.DL", "ZOLTAVEX.DLL"), Pending("ZOLTAVEX.EX", "ZOLTAVEX.EXE")}));
  EXPECT_EQ(Reg(kRunKey, "Realtime Audio Engine"), Sz("zoltavex.exe"));
  EXPECT_EQ(Reg(kEngineKey, "Enabled"), "4:" + sim::DwordOf(1));
  EXPECT_EQ(
      Reg(kEngineKey, "Config"),
      "3:" + std::string("\x3A\x7C\x51\xE9\xB2\x06\x11\xD4\x8F\x2D\x02\x4B\x7E\x19\xC3\x58", 16));
  // Neither INI file of the 9x family is touched.
  EXPECT_FALSE(sim::Exists(sim::WindowsFolder() + "\\Wininit.ini"));
  EXPECT_EQ(sim::IniText(sim::WindowsFolder() + "\\SYSTEM.INI"), windowsBefore);

  sim::Restart();
  EXPECT_EQ(File(sys_ + "ZOLTAVEX.DLL"), "new ZOLTAVEX.DLL");
  EXPECT_EQ(File(sys_ + "ZOLTAVEX.EXE"), "new ZOLTAVEX.EXE");
}

TEST_F(AudioKernelNt, WithoutPackageFilesTheDeviceIsStillRegistered) {
  for (const char* name : {"ZOLTAVEX.SYS", "ZOLTAVEX.INF", "ZOLTAVEX.DLL", "ZOLTAVEX.EXE"})
    sim::Remove(kSource + name);
  Install();
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_EQ(DeviceValuesSet(), ExpectedDeviceValues());
  EXPECT_EQ(Reg(kDeviceKey, "Service"), Sz("ZOLTAVEX"));
  EXPECT_TRUE(sim::PendingRenames().empty());
  EXPECT_EQ(Reg(kRunKey, "Realtime Audio Engine"), "missing");
  EXPECT_EQ(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot), securityBefore_);
}

TEST_F(AudioKernelNt, RefusedGrantIsReportedOnceAndTheValuesFollow) {
  MakeEnumRootWritable();
  sim::FailFunction("SetNamedSecurityInfoA");
  Install();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kPermissionMessage});
  EXPECT_EQ(DeviceValuesSet(), ExpectedDeviceValues());
  EXPECT_EQ(Reg(kDeviceKey, "Mfg"), Sz("MIRAVELT"));
  EXPECT_EQ(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot), securityBefore_);
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
}

TEST_F(AudioKernelNt, UnreadableAccessListMeansNoGrant) {
  sim::FailFunction("GetNamedSecurityInfoA");
  Install();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kPermissionMessage});
  for (const sim::Call& call : sim::Trace()) EXPECT_NE(call.function, "SetNamedSecurityInfoA");
  EXPECT_EQ(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot), securityBefore_);
  // Outside Enum\Root the values still land.
  EXPECT_EQ(Reg(kServiceKey, "Type"), "4:" + sim::DwordOf(1));
}

TEST_F(AudioKernelNt, ReadOnlyTargetsAreReplacedButReadOnlyStagingBlocks) {
  sim::PutFile(sys_ + "drivers\\ZOLTAVEX.SYS", "old", FILE_ATTRIBUTE_READONLY);
  sim::PutFile(sim::WindowsFolder() + "\\INF\\ZOLTAVEX.INF", "old", FILE_ATTRIBUTE_READONLY);
  sim::PutFile(sys_ + "ZOLTAVEX.EX", "stale", FILE_ATTRIBUTE_READONLY);
  Install();
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_EQ(File(sys_ + "drivers\\ZOLTAVEX.SYS"), "new ZOLTAVEX.SYS");
  EXPECT_EQ(File(sim::WindowsFolder() + "\\INF\\ZOLTAVEX.INF"), "new ZOLTAVEX.INF");
  EXPECT_EQ(File(sys_ + "ZOLTAVEX.EX"), "stale");
  EXPECT_EQ(
      sim::PendingRenames(),
      (std::vector<std::pair<std::string, std::string>>{Pending("ZOLTAVEX.DL", "ZOLTAVEX.DLL")}));
  EXPECT_EQ(Reg(kRunKey, "Realtime Audio Engine"), "missing");
  EXPECT_EQ(Reg(kEngineKey, "Enabled"), "missing");
}

TEST_F(AudioKernelNt, FailedDriverCopyIsReportedAndExistingConfigKept) {
  sim::Remove(sys_ + "drivers");
  sim::RegPut(HKEY_LOCAL_MACHINE, kEngineKey, "Config", REG_DWORD, sim::DwordOf(7));
  Install();
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>{"Unable to copy \"ZOLTAVEX.SYS\" to Systemdirectory!"});
  EXPECT_EQ(Reg(kEngineKey, "Config"), "4:" + sim::DwordOf(7));
  EXPECT_EQ(Reg(kEngineKey, "Enabled"), "4:" + sim::DwordOf(1));
}

TEST_F(AudioKernelNt, GrantLeftByACutRunIsWithdrawnWithTheRestOfTheListKept) {
  // A deliberately configured entry of another kind (no inheritance) stays.
  sim::Ace configured;
  configured.mask = KEY_ALL_ACCESS;
  configured.sid = "S-1-1-0";
  sim::KeySecurity withConfigured = securityBefore_;
  withConfigured.dacl.insert(withConfigured.dacl.begin(), configured);
  const struct {
    const char* what;
    sim::KeySecurity start;
    const char* failing;  // the SetNamedSecurityInfoA calls that fail, by an argument
    std::vector<std::string> boxes;
    std::string everyoneMayWrite;  // the keys where Everyone may change values afterwards
  } cases[] = {
      {"the key's list as shipped", securityBefore_, "", {}, ""},
      {"an entry of another kind before it", withConfigured, "", {}, kEnumRoot + " "},
      {"this run's grant refused", securityBefore_, ", 0x4,", {kPermissionMessage}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    LeaveGrantOfCutRun(c.start);
    ASSERT_NE(c.everyoneMayWrite, EveryoneFullAccessBelow(kEnumRoot));
    sim::Restart();
    if (*c.failing) sim::FailFunction("SetNamedSecurityInfoA", c.failing);
    Install();
    EXPECT_EQ(BoxTexts(), c.boxes);
    EXPECT_EQ(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot), c.start)
        << sim::SecurityText(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot));
    EXPECT_EQ(c.everyoneMayWrite, EveryoneFullAccessBelow(kEnumRoot));
    EXPECT_EQ(Reg(kDeviceKey, "Service"), Sz("ZOLTAVEX"));
    EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
  }
}

// A refused withdrawal is tried once more; only when that fails too does the
// run say that Everyone kept its access.
TEST_F(AudioKernelNt, RefusedWithdrawalIsRetriedOnceThenReported) {
  const struct {
    size_t refusals;
    std::vector<std::string> boxes;
    bool listBack;
  } cases[] = {{1, {}, true}, {2, {kPermissionMessage}, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusals);
    SetUp();
    sim::FailFunction("SetNamedSecurityInfoA", "0x20000004", c.refusals);
    Install();
    EXPECT_EQ(BoxTexts(), c.boxes);
    EXPECT_EQ(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot) == securityBefore_, c.listBack);
    EXPECT_EQ(CallsOf("SetNamedSecurityInfoA"), 3u);
    EXPECT_EQ(DeviceValuesSet(), ExpectedDeviceValues());
    EXPECT_EQ(sim::PendingRenames().size(), 2u);
  }
}

// A run stopped at any call of the package, the restart, a whole run and
// the next restart leave Enum\Root's list as the machine shipped it, with no
// right for Everyone to change the device tree.
TEST_F(AudioKernelNt, RunCutAnywhereThenRunAgainLeavesTheListAsShipped) {
  sim::ClearTrace();
  Install();
  const size_t calls = sim::CallCount();
  ASSERT_GT(calls, 50u);
  for (size_t k = 1; k <= calls; ++k) {
    SCOPED_TRACE("cut before call " + std::to_string(k));
    SetUp();
    CutRunAgainAndRestart(k, calls, [] {
      InstallAudioKernel("C:\\SETUP\\", sim::WindowsFolder(), sim::SystemFolder());
    });
    ASSERT_EQ(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot), securityBefore_)
        << sim::SecurityText(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot));
    ASSERT_EQ(EveryoneFullAccessBelow(kEnumRoot), "");
    EXPECT_EQ(Reg(kServiceKey + "\\Enum", "0"), Sz("Root\\REALTIME\\0000"));
  }
}

}  // namespace
