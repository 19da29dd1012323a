// The realtime audio kernel installed by the real drvsetup.exe under Wine set
// to Windows 10: kernel driver and setup information file in place, the
// class, device and service keys byte for byte, the engine library and
// program staged through the platform's pending renames, and the access list
// of Enum\Root as it was before the run.
#include "package_fixture.h"

using namespace winetest;

namespace {

#define CLASS_GUID "{6B1F0A52-9D37-4C8E-A2F4-5E70C3D91B68}"
const char kClassKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\" CLASS_GUID;
const char kDriverKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\" CLASS_GUID "\\0000";
const char kDeviceTree[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\REALTIME";
const char kDeviceKey[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\REALTIME\\0000";
const char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZOLTAVEX";
const char kServiceEnumKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZOLTAVEX\\Enum";
const char kEngineKey[] = "Software\\Miravelt\\ZOLTAVEX";
// The device tree's parent, by the name the installer hands to the
// named-object security functions.
const char kEnumRootObject[] = "MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\";

std::vector<ExpectedValue> DeviceValues() {
  const std::string device = kDeviceKey;
  return {
      Sz(kClassKey, "", "Miravelt AudioEngine"),
      Sz(kClassKey, "Class", "REALTIME"),
      Sz(kClassKey, "Icon", "0"),
      Sz(kDriverKey, "InfPath", "zoltavex.inf"),
      Sz(kDriverKey, "InfSection", "ZOLTAVEX"),
      Sz(kDriverKey, "InfSectionExt", ".NTx86"),
      Sz(kDriverKey, "ProviderName", "MIRAVELT"),
      Sz(kDriverKey, "MatchingDeviceId", "*miravelt\\zoltavex"),
      Sz(kDriverKey, "DriverDesc", "MIRAVELT Realtime Audio Kernel"),
      Sz(device, "ClassGUID", CLASS_GUID),
      Raw(device, "HardwareID", kRegMultiSz, std::string("*miravelt\\zoltavex\0\0", 20)),
      Sz(device, "FriendlyName", "Miravelt Realtime Audio Kernel"),
      Sz(device, "Class", "REALTIME"),
      Sz(device, "Mfg", "MIRAVELT"),
      Sz(device, "Service", "ZOLTAVEX"),
      Sz(device, "DeviceDesc", "Miravelt Realtime Audio Kernel"),
      Dword(device, "ConfigFlags", 0),
      Dword(device, "Capabilities", 0),
      Sz(device, "Driver", CLASS_GUID "\\0000"),
      Sz(device + "\\Device Parameters", "", ""),
      Sz(device + "\\LogConf", "", ""),
      Sz(device + "\\Control", "ActiveService", "ZOLTAVEX"),
      Dword(kServiceKey, "Type", 1),
      Dword(kServiceKey, "Start", 0),
      Dword(kServiceKey, "ErrorControl", 1),
      Raw(kServiceKey, "ImagePath", kRegExpandSz,
          std::string("system32\\drivers\\zoltavex.sys\0", 30)),
      Sz(kServiceEnumKey, "0", "Root\\REALTIME\\0000"),
      Dword(kServiceEnumKey, "Count", 1),
      Dword(kServiceEnumKey, "NextInstance", 1),
  };
}
#undef CLASS_GUID

class AudioKernelNtTest : public PackageTest {};

TEST_F(AudioKernelNtTest, WritesDeviceUnderTemporaryGrantAndStagesEngineUntilRestart) {
  ASSERT_TRUE(wine->SetVersion("win10"));
  PlaceSource({"ZOLTAVEX.SYS", "ZOLTAVEX.INF", "ZOLTAVEX.DLL", "ZOLTAVEX.EXE", "ZOLTAVEX.VXD",
               "ZOLTAV16.DLL"});
  const std::string s = kSystem;
  ASSERT_TRUE(wine->PutFile(s + "ZOLTAVEX.DLL", "old engine library"));
  ASSERT_TRUE(wine->PutFile(s + "ZOLTAVEX.EXE", "old engine program"));
  const std::string systemIni = wine->FileText("C:\\windows\\system.ini");

  // Key security lives only as long as the session: read it in the session
  // of the run, before and after.
  ASSERT_TRUE(wine->StartSession());
  const KeySecurity before = wine->KeySecurityOf(kEnumRootObject);
  ASSERT_TRUE(before.ok);
  ASSERT_FALSE(before.sddl.empty());
  EXPECT_TRUE(wine->PendingRenames().empty());

  RelayTrace trace;
  RunResult r = wine->RunInstallerTraced({}, &trace);
  ExpectQuietRun(r, trace);

  const KeySecurity after = wine->KeySecurityOf(kEnumRootObject);
  ASSERT_TRUE(after.ok);
  EXPECT_EQ(after.sddl, before.sddl);
  EXPECT_EQ(after.control, before.control);
  EXPECT_EQ(after.sddl.find(";GA;;;WD)"), std::string::npos) << after.sddl;

  // Granted, then put back, with the 29 device values written in between.
  const std::vector<ExpectedValue> device = DeviceValues();
  std::vector<size_t> securityCalls;
  for (size_t i = 0; i < trace.calls.size(); ++i) {
    const RelayCall& c = trace.calls[i];
    if (c.function != "SetNamedSecurityInfoA") continue;
    securityCalls.push_back(i);
    EXPECT_EQ(c.Text(0), kEnumRootObject);
    EXPECT_EQ(Arg32(c, 1), 4u) << "SE_REGISTRY_KEY";
    EXPECT_TRUE(Arg32(c, 2) & 4u) << "DACL_SECURITY_INFORMATION";
    EXPECT_TRUE(c.returned);
    EXPECT_EQ(c.retval & 0xffffffffu, 0u);
  }
  ASSERT_EQ(securityCalls.size(), 2u);
  size_t firstWrite = trace.calls.size(), lastWrite = 0;
  for (const auto& w : ValueWrites(trace)) {
    for (const auto& row : device) {
      if (!EqualNoCase(row.key, w.key) || row.name != w.name) continue;
      firstWrite = std::min(firstWrite, w.callIndex);
      lastWrite = std::max(lastWrite, w.callIndex);
    }
  }
  EXPECT_LT(securityCalls[0], firstWrite);
  EXPECT_GT(securityCalls[1], lastWrite);

  // The values as the registry holds them (types and sizes included) and as
  // the installer passed them: Wine would add a missing terminating zero to
  // a text value, so the byte counts of HardwareID (20) and ImagePath (30)
  // are taken from the call.
  ExpectTree(kClassKey, device);
  ExpectTree(kDeviceTree, device);
  ExpectTree(kServiceKey, device);
  ExpectWritten(trace, device);
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
  EXPECT_EQ(run->data, SzBytes("zoltavex.exe"));

  // Files: driver and setup information copied; the 9x files are not
  // placed; engine library and program staged beside the files in use.
  ExpectFile(s + "DRIVERS\\ZOLTAVEX.SYS", NewContent("ZOLTAVEX.SYS"));
  ExpectFile("C:\\windows\\INF\\ZOLTAVEX.INF", NewContent("ZOLTAVEX.INF"));
  ExpectNoFile(s + "ZOLTAVEX.VXD");
  ExpectNoFile(s + "ZOLTAV16.DLL");
  ExpectFile(s + "ZOLTAVEX.DL", NewContent("ZOLTAVEX.DLL"));
  ExpectFile(s + "ZOLTAVEX.EX", NewContent("ZOLTAVEX.EXE"));
  ExpectFile(s + "ZOLTAVEX.DLL", "old engine library");
  ExpectFile(s + "ZOLTAVEX.EXE", "old engine program");

  // Two pending renames, replacing what holds the final names; neither
  // SYSTEM.INI nor Wininit.ini is touched on this family.
  auto moves = trace.Named("MoveFileExA");
  ASSERT_EQ(moves.size(), 2u);
  EXPECT_EQ(moves[0].Text(0), s + "ZOLTAVEX.DL");
  EXPECT_EQ(moves[0].Text(1), s + "ZOLTAVEX.DLL");
  EXPECT_EQ(moves[1].Text(0), s + "ZOLTAVEX.EX");
  EXPECT_EQ(moves[1].Text(1), s + "ZOLTAVEX.EXE");
  for (const auto& m : moves) EXPECT_EQ(Arg32(m, 2), 5u);
  auto pending = wine->PendingRenames();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0].from, "\\??\\" + s + "ZOLTAVEX.DL");
  EXPECT_EQ(pending[0].to, "\\??\\" + s + "ZOLTAVEX.DLL");
  EXPECT_EQ(pending[1].from, "\\??\\" + s + "ZOLTAVEX.EX");
  EXPECT_EQ(pending[1].to, "\\??\\" + s + "ZOLTAVEX.EXE");
  for (const auto& p : pending) EXPECT_TRUE(p.replace);
  EXPECT_EQ(trace.Count("WritePrivateProfileStringA"), 0u);
  EXPECT_EQ(trace.Count("WritePrivateProfileSectionA"), 0u);
  EXPECT_EQ(wine->FileText("C:\\windows\\system.ini"), systemIni);
  ExpectNoFile("C:\\windows\\wininit.ini");

  // The restart gives the staged files their final names.
  ASSERT_TRUE(wine->Restart());
  ExpectFile(s + "ZOLTAVEX.DLL", NewContent("ZOLTAVEX.DLL"));
  ExpectFile(s + "ZOLTAVEX.EXE", NewContent("ZOLTAVEX.EXE"));
  ExpectNoFile(s + "ZOLTAVEX.DL");
  ExpectNoFile(s + "ZOLTAVEX.EX");
  EXPECT_TRUE(wine->PendingRenames().empty());
  ExpectFile(s + "DRIVERS\\ZOLTAVEX.SYS", NewContent("ZOLTAVEX.SYS"));
  ExpectTree(kDeviceTree, device);
}

// A run stopped between its grant and the withdrawal leaves the grant's entry
// on Enum\Root. The next run puts back the list without it: the entry is
// gone, and every other entry stands as before, in its order. Key security
// does not outlive the session, so the entry is set in the session of the
// run.
TEST_F(AudioKernelNtTest, GrantLeftByACutRunIsWithdrawn) {
  ASSERT_TRUE(wine->SetVersion("win10"));
  PlaceSource({"ZOLTAVEX.SYS", "ZOLTAVEX.INF"});
  ASSERT_TRUE(wine->StartSession());
  const KeySecurity before = wine->KeySecurityOf(kEnumRootObject);
  ASSERT_TRUE(before.ok);
  const size_t firstEntry = before.sddl.find('(');
  ASSERT_NE(firstEntry, std::string::npos) << before.sddl;

  // The entry exactly as the grant writes it: allowed, inherited by objects
  // and containers (OICI), GENERIC_ALL, Everyone; in front of the rest.
  const std::string grant = "(A;OICI;GA;;;WD)";
  std::string cut = before.sddl;
  cut.insert(firstEntry, grant);
  ASSERT_EQ(wine->Probe({"setsddl", kEnumRootObject, cut}).exitCode, 0);
  const KeySecurity left = wine->KeySecurityOf(kEnumRootObject);
  ASSERT_NE(left.sddl.find(grant), std::string::npos) << left.sddl;

  RelayTrace trace;
  RunResult r = wine->RunInstallerTraced({}, &trace);
  ExpectQuietRun(r, trace);
  EXPECT_EQ(trace.Count("SetNamedSecurityInfoA"), 2u);

  const KeySecurity after = wine->KeySecurityOf(kEnumRootObject);
  ASSERT_TRUE(after.ok);
  EXPECT_EQ(after.sddl.find(grant), std::string::npos) << after.sddl;
  EXPECT_EQ(after.sddl, before.sddl);
  EXPECT_EQ(after.control, before.control);
  ExpectTree(kDeviceTree, DeviceValues());
}

}  // namespace
