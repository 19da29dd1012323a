// Housekeeping before the packages: the [VCache] limits of the 9x family and
// the removal of the current user's engine settings.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "housekeeping.h"
#include "platform_family.h"
#include "sim.h"

namespace {

const std::string kSystemIni = "C:\\WINDOWS\\SYSTEM.INI";
const std::string kMiravelt = "Software\\Miravelt";
const std::string kEngine = "Software\\Miravelt\\Engine";

std::string Cache(const std::string& key) {
  std::string value;
  return sim::IniValue(kSystemIni, "VCache", key, &value) ? value : "missing";
}

sim::RunResult SetLimits() {
  return sim::Run([] { SetFileCacheLimits(); });
}

sim::RunResult RemoveSettings() {
  return sim::Run([] { RemoveEngineSettings(); });
}

class FileCache : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMachine(sim::Windows::Win98);
    PlatformFamily = 1;
  }
  void TearDown() override { PlatformFamily = 0; }
};

TEST_F(FileCache, ReplacesBothValuesAndKeepsTheRest) {
  sim::PutIni(kSystemIni,
              "[boot]\r\nshell=Explorer.exe\r\n[VCache]\r\nMaxFileCache=4096\r\n"
              "ChunkSize=512\r\nMinFileCache=1024\r\n[386Enh]\r\ndevice=*vmm\r\n");
  const sim::RunResult result = SetLimits();
  EXPECT_FALSE(result.exited);
  EXPECT_EQ(Cache("MinFileCache"), "20480");
  EXPECT_EQ(Cache("MaxFileCache"), "20480");
  EXPECT_EQ(Cache("ChunkSize"), "512");
  std::string shell;
  EXPECT_TRUE(sim::IniValue(kSystemIni, "boot", "shell", &shell));
  EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(FileCache, CreatesAMissingSectionMinimumFirst) {
  sim::PutIni(kSystemIni, "[boot]\r\nshell=Explorer.exe\r\n");
  SetLimits();
  EXPECT_EQ(Cache("MinFileCache"), "20480");
  EXPECT_EQ(Cache("MaxFileCache"), "20480");
  const std::string text = sim::IniText(kSystemIni);
  EXPECT_LT(text.find("MinFileCache"), text.find("MaxFileCache")) << text;
}

TEST_F(FileCache, NothingOnTheNtFamily) {
  for (sim::Windows version : {sim::Windows::NT40, sim::Windows::WinXP, sim::Windows::Win10}) {
    ResetMachine(version);
    PlatformFamily = 2;
    const std::string before = sim::Dump();
    SetLimits();
    EXPECT_EQ(sim::DiffDumps(before, sim::Dump()), "");
    EXPECT_EQ(CallsOf("WritePrivateProfileStringA"), 0u);
  }
}

TEST_F(FileCache, ARefusedWriteEndsTheRun) {
  sim::FailFunction("WritePrivateProfileStringA");
  const sim::RunResult result = SetLimits();
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 1u);
  ASSERT_EQ(sim::Boxes().size(), 1u);
  EXPECT_EQ(sim::Boxes()[0].caption, "Application Error");
  EXPECT_EQ(sim::Boxes()[0].type, 0x2010u);
  EXPECT_NE(sim::Boxes()[0].text.find("Unable to write to System.ini"), std::string::npos);
  // The maximum is not attempted after a refused minimum.
  EXPECT_EQ(CallsOf("WritePrivateProfileStringA"), 1u);
}

TEST_F(FileCache, AnUnwritableSystemIniStopsTheWholeRun) {
  // A folder where the file should be: no profile write can succeed.
  sim::Remove(kSystemIni);
  sim::MakeFolder(kSystemIni);
  sim::PutFile("C:\\SETUP\\FTD2XX.DLL", "library");
  sim::PutFile("C:\\APP\\HISTORY.TXT", "notes");
  sim::RegPutString(HKEY_CURRENT_USER, kEngine, "Name", "x");
  const sim::RunResult result = RunInstaller("C:\\APP");
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 1u);
  EXPECT_TRUE(sim::RegKeyExists(HKEY_CURRENT_USER, kEngine));
  EXPECT_TRUE(sim::Exists("C:\\APP\\HISTORY.TXT"));
  EXPECT_FALSE(sim::Exists(sim::SystemFolder() + "\\FTD2XX.DLL"));
  EXPECT_EQ(CallsOf("CopyFileA"), 0u);
}

// The engine settings on both families.
class EngineSettings : public ::testing::TestWithParam<sim::Windows> {
 protected:
  void SetUp() override {
    ResetMachine(GetParam());
    PlatformFamily = sim::Is9x(GetParam()) ? 1 : 2;
    sim::RegPutString(HKEY_CURRENT_USER, kMiravelt + "\\Other", "Keep", "me");
  }
  void TearDown() override {
    EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
    EXPECT_TRUE(sim::Boxes().empty());
    PlatformFamily = 0;
  }
  static void ExpectRemoved() {
    EXPECT_FALSE(sim::RegKeyExists(HKEY_CURRENT_USER, kEngine))
        << sim::RegistryText(HKEY_CURRENT_USER, kMiravelt);
    EXPECT_TRUE(sim::RegKeyExists(HKEY_CURRENT_USER, kMiravelt + "\\Other"));
  }
};

TEST_P(EngineSettings, AKeyWithValuesOnly) {
  sim::RegPutString(HKEY_CURRENT_USER, kEngine, "Device", "Kova 51");
  sim::RegPutDword(HKEY_CURRENT_USER, kEngine, "Latency", 256);
  sim::RegPutString(HKEY_CURRENT_USER, kEngine, "", "default");
  RemoveSettings();
  ExpectRemoved();
}

TEST_P(EngineSettings, SubkeysNestedSeveralLevelsDeep) {
  std::string key = kEngine;
  for (int level = 0; level < 6; ++level) {
    key += "\\Level" + std::to_string(level);
    sim::RegPutDword(HKEY_CURRENT_USER, key, "Depth", level);
  }
  RemoveSettings();
  ExpectRemoved();
}

TEST_P(EngineSettings, ManySubkeysAtEachLevel) {
  for (const char* a : {"Alpha", "beta", "Gamma", "delta", "Epsilon"}) {
    const std::string below = kEngine + "\\" + a;
    sim::RegPutString(HKEY_CURRENT_USER, below, "Name", a);
    for (const char* b : {"One", "Two", "Three"}) {
      sim::RegPutKey(HKEY_CURRENT_USER, below + "\\" + b + "\\Leaf");
    }
  }
  RemoveSettings();
  ExpectRemoved();
}

TEST_P(EngineSettings, LongSubkeyNamesWithDoubleByteSupport) {
  sim::SetDbcs(true, "\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8a\x8b\x8c\x8d\x8e\x8f");
  sim::RegPutKey(HKEY_CURRENT_USER, kEngine + "\\" + std::string(255, 'N') + "\\Short");
  sim::RegPutKey(HKEY_CURRENT_USER, kEngine + "\\\x81\x40\x82\x41");
  RemoveSettings();
  ExpectRemoved();
}

TEST_P(EngineSettings, AMissingKeyChangesNothing) {
  sim::RegRemoveKey(HKEY_CURRENT_USER, kMiravelt);
  const std::string before = sim::Dump();
  RemoveSettings();
  EXPECT_EQ(sim::DiffDumps(before, sim::Dump()), "");
  EXPECT_EQ(CallsOf("RegDeleteKeyA"), 1u);
  sim::RegPutKey(HKEY_CURRENT_USER, kMiravelt + "\\Other");  // for TearDown's view
}

TEST_P(EngineSettings, OnlyTheCurrentUsersKeyIsRemoved) {
  sim::RegPutString(HKEY_CURRENT_USER, kEngine + "\\Device", "Name", "mine");
  for (const std::string& user : {std::string(".DEFAULT"), std::string("S-1-5-21-1-2-3-1004")}) {
    sim::RegPutString(HKEY_USERS, user + "\\" + kEngine + "\\Device", "Name", "theirs");
  }
  RemoveSettings();
  ExpectRemoved();
  EXPECT_TRUE(sim::RegKeyExists(HKEY_USERS, ".DEFAULT\\" + kEngine + "\\Device"));
  EXPECT_TRUE(sim::RegKeyExists(HKEY_USERS, "S-1-5-21-1-2-3-1004\\" + kEngine + "\\Device"));
}

TEST_P(EngineSettings, AsPartOfTheRun) {
  sim::RegPutString(HKEY_CURRENT_USER, kEngine + "\\A\\B", "Name", "x");
  const sim::RunResult result = RunInstaller();
  EXPECT_EQ(result.exitCode, 0u);
  ExpectRemoved();
}

INSTANTIATE_TEST_SUITE_P(Families, EngineSettings,
                         ::testing::Values(sim::Windows::Win95, sim::Windows::WinMe,
                                           sim::Windows::NT40, sim::Windows::WinXP,
                                           sim::Windows::Win10),
                         [](const ::testing::TestParamInfo<sim::Windows>& info) {
                           return std::string(sim::WindowsName(info.param));
                         });

TEST(EngineSettingsNt, AProtectedSubkeyStaysWithItsParents) {
  ResetMachine(sim::Windows::WinXP);
  PlatformFamily = 2;
  const std::string kept = kEngine + "\\Devices\\Locked";
  sim::RegPutString(HKEY_CURRENT_USER, kept, "Name", "kept");
  sim::RegPutString(HKEY_CURRENT_USER, kEngine + "\\Devices\\Free", "Name", "gone");
  sim::RegPutString(HKEY_CURRENT_USER, kEngine + "\\Other\\Deep", "Name", "gone");
  sim::RegPutString(HKEY_CURRENT_USER, kEngine, "Value", "stays with its key");
  // Everyone may read the locked key, nobody may delete it.
  sim::KeySecurity security = sim::GetKeySecurity(HKEY_CURRENT_USER, kept);
  security.isProtected = true;
  security.dacl = {sim::Ace{ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ, "S-1-1-0"}};
  sim::SetKeySecurity(HKEY_CURRENT_USER, kept, security);
  ASSERT_FALSE(sim::UserMayAccess(HKEY_CURRENT_USER, kept, DELETE));

  RemoveSettings();
  EXPECT_TRUE(sim::RegKeyExists(HKEY_CURRENT_USER, kept));
  EXPECT_FALSE(sim::RegKeyExists(HKEY_CURRENT_USER, kEngine + "\\Devices\\Free"));
  EXPECT_FALSE(sim::RegKeyExists(HKEY_CURRENT_USER, kEngine + "\\Other"));
  EXPECT_TRUE(sim::RegKeyExists(HKEY_CURRENT_USER, kEngine));
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
  EXPECT_TRUE(sim::Boxes().empty());
  PlatformFamily = 0;
}

bool treeRemoved = false;

TEST(DeleteKeyTreeTest, AnEmptyPathNeverClearsTheParent) {
  ResetMachine(sim::Windows::WinXP);
  sim::RegPutString(HKEY_CURRENT_USER, kEngine + "\\Device", "Name", "x");
  treeRemoved = true;
  sim::Run([] { treeRemoved = DeleteKeyTree(HKEY_CURRENT_USER, ""); });
  EXPECT_FALSE(treeRemoved);
  EXPECT_TRUE(sim::RegKeyExists(HKEY_CURRENT_USER, kEngine + "\\Device"));
}

}  // namespace
