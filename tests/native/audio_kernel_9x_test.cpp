// The realtime audio kernel on a 9x machine: driver, thunk library and setup
// information file, device registration, staged engine files and their
// Wininit.ini renames, and the engine values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "packages.h"
#include "platform_family.h"
#include "sim.h"

namespace {

const std::string kSource = "C:\\SETUP\\";
const std::string kSys = "C:\\WINDOWS\\SYSTEM\\";
const std::string kWininit = "C:\\WINDOWS\\Wininit.ini";
const std::string kSystemIni = "C:\\WINDOWS\\SYSTEM.INI";
const std::string kClassKey = "System\\CurrentControlSet\\Services\\Class\\REALTIME";
const std::string kDriverKey = kClassKey + "\\ZOLT";
const std::string kDeviceKey = "Enum\\Root\\REALTIME\\ZOLT";
const std::string kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kEngineKey = "Software\\Miravelt\\ZOLTAVEX";
const std::string kConfigDefault("\x3A\x7C\x51\xE9\xB2\x06\x11\xD4\x8F\x2D\x02\x4B\x7E\x19\xC3\x58",
                                 16);

std::string Rename(const std::string& newPath) {
  std::string value;
  return sim::IniValue(kWininit, "RENAME", newPath, &value) ? value : "missing";
}

class AudioKernel9x : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMachine(sim::Windows::Win98);
    PlatformFamily = 1;
    for (const char* name :
         {"ZOLTAVEX.VXD", "ZOLTAV16.DLL", "ZOLTAVEX.INF", "ZOLTAVEX.DLL", "ZOLTAVEX.EXE"})
      sim::PutFile(kSource + name, std::string("new ") + name);
    sim::PutIni(kSystemIni, "[386Enh]\r\ndevice=zoltavex.vxd\r\ndevice=*vmm\r\n");
  }

  // The folders as the run hands them over: without trailing backslashes.
  static sim::RunResult Install() {
    return sim::Run(
        [] { InstallAudioKernel("C:\\SETUP\\", sim::WindowsFolder(), sim::SystemFolder()); });
  }

  static bool Registered() { return sim::RegKeyExists(HKEY_LOCAL_MACHINE, kDeviceKey); }
  static bool DeviceLineDisabled() {
    return sim::IniText(kSystemIni).find(";evice=zoltavex.vxd") != std::string::npos;
  }
};

TEST_F(AudioKernel9x, InstallsEverythingAndCompletesAtRestart) {
  sim::PutFile(kSys + "ZOLTAVEX.DLL", "old library");
  const sim::RunResult result = Install();
  EXPECT_FALSE(result.exited);
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();

  EXPECT_EQ(File(kSys + "ZOLTAVEX.VXD"), "new ZOLTAVEX.VXD");
  EXPECT_EQ(File(kSys + "ZOLTAV16.DLL"), "new ZOLTAV16.DLL");
  EXPECT_EQ(File("C:\\WINDOWS\\INF\\ZOLTAVEX.INF"), "new ZOLTAVEX.INF");
  EXPECT_TRUE(DeviceLineDisabled()) << sim::IniText(kSystemIni);
  EXPECT_NE(sim::IniText(kSystemIni).find("device=*vmm"), std::string::npos);

  EXPECT_EQ(Reg(kClassKey, ""), Sz("Miravelt AudioEngine"));
  EXPECT_EQ(sim::RegValueNames(HKEY_LOCAL_MACHINE, kDriverKey),
            (std::vector<std::string>{"Icon", "DevLoader", "PortName", "DeviceDriver", "DeviceDesc",
                                      "DrivereDesc", "InfPath", "InfSection", "ProviderName"}));
  EXPECT_EQ(Reg(kDriverKey, "DevLoader"), Sz("*CONFIGMG"));
  EXPECT_EQ(Reg(kDriverKey, "DrivereDesc"), Sz("Miravelt RealTime Audio Kernel"));
  EXPECT_EQ(Reg(kDriverKey, "ProviderName"), Sz("Miravelt GmbH"));
  EXPECT_EQ(sim::RegValueNames(HKEY_LOCAL_MACHINE, kDeviceKey),
            (std::vector<std::string>{"Class", "Driver", "Mfg", "DeviceDesc", "ConfigFlags",
                                      "Capabilities"}));
  EXPECT_EQ(Reg(kDeviceKey, "Driver"), Sz("REALTIME\\ZOLT"));
  EXPECT_EQ(Reg(kDeviceKey, "ConfigFlags"), std::string("3:\0\0\0\0", 6));
  EXPECT_EQ(Reg(kDeviceKey, "Capabilities"), std::string("3:\x14\0\0\0", 6));

  // Staged under the short names, renamed by Wininit.ini.
  EXPECT_EQ(File(kSys + "ZOLTAVEX.DL"), "new ZOLTAVEX.DLL");
  EXPECT_EQ(File(kSys + "ZOLTAVEX.DLL"), "old library");
  EXPECT_EQ(Rename(kSys + "ZOLTAVEX.DLL"), kSys + "ZOLTAVEX.DL");
  EXPECT_EQ(Rename(kSys + "ZOLTAVEX.EXE"), kSys + "ZOLTAVEX.EX");
  EXPECT_EQ(Reg(kRunKey, "Realtime Audio Engine"), Sz("zoltavex.exe"));
  EXPECT_EQ(Reg(kEngineKey, "Enabled"), "4:" + sim::DwordOf(1));
  EXPECT_EQ(Reg(kEngineKey, "Config"), "3:" + kConfigDefault);

  sim::Restart();
  EXPECT_EQ(File(kSys + "ZOLTAVEX.DLL"), "new ZOLTAVEX.DLL");
  EXPECT_EQ(File(kSys + "ZOLTAVEX.EXE"), "new ZOLTAVEX.EXE");
  EXPECT_FALSE(sim::Exists(kSys + "ZOLTAVEX.DL"));
}

TEST_F(AudioKernel9x, WithoutInfSourceNothingIsRegistered) {
  sim::Remove(kSource + "ZOLTAVEX.INF");
  const std::string iniBefore = sim::IniText(kSystemIni);
  Install();
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_EQ(sim::IniText(kSystemIni), iniBefore);
  EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, kClassKey));
  EXPECT_FALSE(Registered());
  // The engine steps do not depend on it.
  EXPECT_EQ(Rename(kSys + "ZOLTAVEX.EXE"), kSys + "ZOLTAVEX.EX");
  EXPECT_EQ(Reg(kEngineKey, "Enabled"), "4:" + sim::DwordOf(1));
}

TEST_F(AudioKernel9x, FailedInfCopyStillRegisters) {
  sim::Remove("C:\\WINDOWS\\INF");
  Install();
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>{"Unable to copy \"ZOLTAVEX.INF\" to INF directory !"});
  EXPECT_FALSE(sim::Exists("C:\\WINDOWS\\INF"));
  EXPECT_TRUE(DeviceLineDisabled());
  EXPECT_EQ(Reg(kDeviceKey, "Capabilities"), std::string("3:\x14\0\0\0", 6));
}

TEST_F(AudioKernel9x, ReadOnlyTargetsAreReplacedButReadOnlyStagingBlocks) {
  for (const std::string& target : {kSys + "ZOLTAVEX.VXD", kSys + "ZOLTAV16.DLL",
                                    std::string("C:\\WINDOWS\\INF\\ZOLTAVEX.INF")})
    sim::PutFile(target, "old", FILE_ATTRIBUTE_READONLY);
  sim::PutFile(kSys + "ZOLTAVEX.EX", "stale", FILE_ATTRIBUTE_READONLY);
  Install();
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_EQ(File(kSys + "ZOLTAVEX.VXD"), "new ZOLTAVEX.VXD");
  EXPECT_EQ(File(kSys + "ZOLTAV16.DLL"), "new ZOLTAV16.DLL");
  EXPECT_EQ(File("C:\\WINDOWS\\INF\\ZOLTAVEX.INF"), "new ZOLTAVEX.INF");
  EXPECT_EQ(sim::Attributes(kSys + "ZOLTAVEX.VXD") & FILE_ATTRIBUTE_READONLY, 0u);

  // The engine program's staging copy fails silently with all that hangs on it.
  EXPECT_EQ(File(kSys + "ZOLTAVEX.EX"), "stale");
  EXPECT_EQ(Rename(kSys + "ZOLTAVEX.EXE"), "missing");
  EXPECT_EQ(Reg(kRunKey, "Realtime Audio Engine"), "missing");
  EXPECT_EQ(Reg(kEngineKey, "Enabled"), "missing");
  EXPECT_EQ(Reg(kEngineKey, "Config"), "missing");
  EXPECT_EQ(Rename(kSys + "ZOLTAVEX.DLL"), kSys + "ZOLTAVEX.DL");
}

TEST_F(AudioKernel9x, ReadOnlyLibraryStagingSkipsOnlyItsRename) {
  sim::PutFile(kSys + "ZOLTAVEX.DL", "stale", FILE_ATTRIBUTE_READONLY);
  Install();
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_EQ(Rename(kSys + "ZOLTAVEX.DLL"), "missing");
  EXPECT_EQ(Rename(kSys + "ZOLTAVEX.EXE"), kSys + "ZOLTAVEX.EX");
  EXPECT_EQ(Reg(kRunKey, "Realtime Audio Engine"), Sz("zoltavex.exe"));
}

TEST_F(AudioKernel9x, ExistingConfigIsKeptWhileEnabledIsSetAgain) {
  sim::RegPut(HKEY_LOCAL_MACHINE, kEngineKey, "Config", REG_SZ, sim::StringOf("user's"));
  sim::RegPutDword(HKEY_LOCAL_MACHINE, kEngineKey, "Enabled", 0);
  Install();
  EXPECT_EQ(Reg(kEngineKey, "Config"), Sz("user's"));
  EXPECT_EQ(Reg(kEngineKey, "Enabled"), "4:" + sim::DwordOf(1));
}

TEST_F(AudioKernel9x, RefusedWininitWriteEndsTheRun) {
  sim::MakeFolder(kWininit);
  const sim::RunResult result = Install();
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 1u);
  ASSERT_EQ(sim::Boxes().size(), 1u);
  EXPECT_EQ(sim::Boxes()[0].caption, "Application Error");
  EXPECT_NE(sim::Boxes()[0].text.find("Unable to write to Wininit.ini"), std::string::npos);
  // The library's rename was the first; nothing after it happened.
  EXPECT_FALSE(sim::Exists(kSys + "ZOLTAVEX.EX"));
  EXPECT_EQ(Reg(kRunKey, "Realtime Audio Engine"), "missing");
  EXPECT_EQ(Reg(kEngineKey, "Enabled"), "missing");
}

TEST_F(AudioKernel9x, RefusedWininitWriteEndsTheWholeRun) {
  sim::PutFile(kSys + "WNASPI32.DLL", "ASPI layer in place");
  sim::PutFile(kSource + "KOVA51USB.INF", "usb");
  sim::MakeFolder(kWininit);
  const sim::RunResult result = RunInstaller();
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 1u);
  EXPECT_EQ(File(kSys + "ZOLTAVEX.VXD"), "new ZOLTAVEX.VXD");
  EXPECT_FALSE(sim::Exists("C:\\WINDOWS\\INF\\KOVA51USB.INF"));
}

}  // namespace
