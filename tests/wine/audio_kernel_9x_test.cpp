// The realtime audio kernel installed by the real drvsetup.exe under Wine set
// to Windows 98: driver, thunk library and setup information file in place,
// the device in the 9x class and hardware trees, the driver's device line in
// SYSTEM.INI disabled, and the engine library and program staged through
// Wininit.ini until the restart gives them their names.
#include "package_fixture.h"

using namespace winetest;

namespace {

const char kClassTree[] = "System\\CurrentControlSet\\Services\\Class\\REALTIME";
const char kDriverKey[] = "System\\CurrentControlSet\\Services\\Class\\REALTIME\\ZOLT";
const char kDeviceKey[] = "Enum\\Root\\REALTIME\\ZOLT";
const char kEngineKey[] = "Software\\Miravelt\\ZOLTAVEX";

const std::string kDesc = "Miravelt RealTime Audio Kernel";

std::vector<ExpectedValue> DeviceValues() {
  return {
      Sz(kClassTree, "", "Miravelt AudioEngine"),
      Sz(kDriverKey, "Icon", "0"),
      Sz(kDriverKey, "DevLoader", "*CONFIGMG"),
      Sz(kDriverKey, "PortName", "ZOLTAVEX"),
      Sz(kDriverKey, "DeviceDriver", "ZOLTAVEX.VXD"),
      Sz(kDriverKey, "DeviceDesc", kDesc),
      Sz(kDriverKey, "DrivereDesc", kDesc),
      Sz(kDriverKey, "InfPath", "ZOLTAVEX.INF"),
      Sz(kDriverKey, "InfSection", "ZOLTAVEX"),
      Sz(kDriverKey, "ProviderName", "Miravelt GmbH"),
      Sz(kDeviceKey, "Class", "REALTIME"),
      Sz(kDeviceKey, "Driver", "REALTIME\\ZOLT"),
      Sz(kDeviceKey, "Mfg", "Miravelt GmbH"),
      Sz(kDeviceKey, "DeviceDesc", kDesc),
      Raw(kDeviceKey, "ConfigFlags", kRegBinary, std::string(4, '\0')),
      Raw(kDeviceKey, "Capabilities", kRegBinary, std::string("\x14\0\0\0", 4)),
  };
}

// Lines of [386Enh] before the run. Only the exact lower-case entry is the
// driver's; the others stay active, in their places. No comment line: Wine
// hands a section back without its comments, so one would be lost on the
// write-back (Windows keeps it).
const std::vector<std::string> kEnhBefore = {
    "device=*vmm32", "device=zoltavex.vxd", "device=ZOLTAVEX.VXD",    "device=zoltavex.vxd.1",
    "keyboard=*vkd", "device=zoltavex.vxd", "device=C:\\zoltavex.vxd"};

class AudioKernel9xTest : public PackageTest {};

TEST_F(AudioKernel9xTest, InstallsDriverDeviceAndStagedEngineThatTakesItsNamesAtRestart) {
  ASSERT_TRUE(wine->SetVersion("win98"));
  PlaceSource({"ZOLTAVEX.VXD", "ZOLTAV16.DLL", "ZOLTAVEX.INF", "ZOLTAVEX.DLL", "ZOLTAVEX.EXE",
               "ZOLTAVEX.SYS"});
  const std::string s = kSystem;
  ASSERT_TRUE(wine->PutFile(s + "ZOLTAVEX.DLL", "old engine library"));
  ASSERT_TRUE(wine->PutFile(s + "ZOLTAVEX.EXE", "old engine program"));
  std::string ini = wine->FileText("C:\\windows\\system.ini");
  ASSERT_FALSE(ini.empty());
  ASSERT_TRUE(IniSectionLines(ini, "386Enh").empty());
  ini += "[386Enh]\r\n";
  for (const auto& line : kEnhBefore) ini += line + "\r\n";
  ASSERT_TRUE(wine->PutFile("C:\\windows\\system.ini", ini));

  RelayTrace trace;
  RunResult r = wine->RunInstallerTraced({}, &trace);
  ExpectQuietRun(r, trace);

  // Copied under their own names; the 9x family places no kernel driver.
  ExpectFile(s + "ZOLTAVEX.VXD", NewContent("ZOLTAVEX.VXD"));
  ExpectFile(s + "ZOLTAV16.DLL", NewContent("ZOLTAV16.DLL"));
  ExpectFile("C:\\windows\\INF\\ZOLTAVEX.INF", NewContent("ZOLTAVEX.INF"));
  ExpectNoFile(s + "DRIVERS\\ZOLTAVEX.SYS");
  // Staged: the final names keep the files in use until the restart.
  ExpectFile(s + "ZOLTAVEX.DL", NewContent("ZOLTAVEX.DLL"));
  ExpectFile(s + "ZOLTAVEX.EX", NewContent("ZOLTAVEX.EXE"));
  ExpectFile(s + "ZOLTAVEX.DLL", "old engine library");
  ExpectFile(s + "ZOLTAVEX.EXE", "old engine program");

  // Wininit.ini in the Windows folder, keyed by the final paths, and nothing
  // in the platform's own pending list.
  const std::string wininit = wine->FileText("C:\\windows\\wininit.ini");
  EXPECT_EQ(IniSectionLines(wininit, "RENAME"),
            (std::vector<std::string>{s + "ZOLTAVEX.DLL=" + s + "ZOLTAVEX.DL",
                                      s + "ZOLTAVEX.EXE=" + s + "ZOLTAVEX.EX"}))
      << wininit;
  auto renames = trace.Named("WritePrivateProfileStringA");
  renames.erase(std::remove_if(renames.begin(), renames.end(),
                               [](const RelayCall& c) { return c.Text(0) != "RENAME"; }),
                renames.end());
  ASSERT_EQ(renames.size(), 2u);
  for (const auto& c : renames) EXPECT_EQ(c.Text(3), "Wininit.ini");
  EXPECT_EQ(trace.Count("MoveFileExA"), 0u);
  EXPECT_TRUE(wine->PendingRenames().empty());

  // Each of the driver's device entries is turned into a comment in its
  // place (first character replaced); every other entry stays as it was.
  ini = wine->FileText("C:\\windows\\system.ini");
  EXPECT_EQ(IniSectionLines(ini, "386Enh"),
            (std::vector<std::string>{"device=*vmm32", ";evice=zoltavex.vxd", "device=ZOLTAVEX.VXD",
                                      "device=zoltavex.vxd.1", "keyboard=*vkd",
                                      ";evice=zoltavex.vxd", "device=C:\\zoltavex.vxd"}))
      << ini;
  auto sections = trace.Named("WritePrivateProfileSectionA");
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(sections[0].Text(0), "386Enh");
  EXPECT_EQ(sections[0].Text(2), "SYSTEM.INI");

  // The 16 device values byte for byte, and as the installer passed them:
  // Wine stores a 9x REG_SZ with its length + 1 whatever count it is given.
  const std::vector<ExpectedValue> device = DeviceValues();
  ExpectTree(kClassTree, device);
  ExpectTree("Enum\\Root\\REALTIME", device);
  ExpectWritten(trace, device);

  // Started at every logon; the engine settings.
  const std::vector<ExpectedValue> engine = {
      Sz("Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Realtime Audio Engine",
         "zoltavex.exe"),
      Dword(kEngineKey, "Enabled", 1),
      Raw(kEngineKey, "Config", kRegBinary, EngineConfigBytes()),
  };
  ExpectWritten(trace, engine);
  ExpectTree(kEngineKey, engine);
  const RegTree runKey = wine->DumpKey("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  const RegValue* run = runKey.Value("", "Realtime Audio Engine");
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run->type, kRegSz);
  EXPECT_EQ(run->data, SzBytes("zoltavex.exe"));

  // The restart completes the staged replacements and consumes Wininit.ini.
  ASSERT_TRUE(wine->Restart());
  ExpectFile(s + "ZOLTAVEX.DLL", NewContent("ZOLTAVEX.DLL"));
  ExpectFile(s + "ZOLTAVEX.EXE", NewContent("ZOLTAVEX.EXE"));
  ExpectNoFile(s + "ZOLTAVEX.DL");
  ExpectNoFile(s + "ZOLTAVEX.EX");
  ExpectNoFile("C:\\windows\\wininit.ini");
  ExpectFile(s + "ZOLTAVEX.VXD", NewContent("ZOLTAVEX.VXD"));
  ExpectTree("Enum\\Root\\REALTIME", device);
}

}  // namespace
