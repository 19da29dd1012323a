// The running-application guard of the real drvsetup.exe under Wine: a host
// application running in the session stops the run before anything is
// touched, on both families (the identifier walk on NT, the snapshot walk on
// 9x).
#include "installer_fixture.h"

using namespace winetest;

namespace {

const char kGuardMessage[] = "Please close Orvo-Studio, restart your machine and run setup again !";

struct GuardCase {
  const char* hostPath;  // where the stand-in runs, under a host application's name
  const char* version;
};

void PrintTo(const GuardCase& c, std::ostream* os) {
  std::string path = c.hostPath;
  *os << path.substr(path.find_last_of('\\') + 1) << "/" << c.version;
}

class GuardTest : public InstallerTest, public ::testing::WithParamInterface<GuardCase> {};

TEST_P(GuardTest, RunningHostApplicationStopsTheRunBeforeAnythingIsTouched) {
  const GuardCase& c = GetParam();
  PlacePackageFiles();
  ASSERT_TRUE(wine->SetVersion(c.version));
  wine->AddDrive('E', "cdrom");
  ASSERT_TRUE(wine->PutFile("E:\\OEM\\ORVOOEM.DLL", "oem on E"));
  ASSERT_TRUE(wine->PutFile("C:\\Orvo\\HISTORY.TXT", "release notes"));
  ASSERT_TRUE(
      wine->PresetValue("HKCU\\Software\\Miravelt\\Engine", "Buffer", kRegDword, DwordBytes(512)));
  ASSERT_TRUE(wine->PlaceProgram("standin.exe", c.hostPath));
  const std::string systemIni = wine->FileText("C:\\windows\\system.ini");

  ASSERT_TRUE(wine->StartBackground(c.hostPath));
  RelayTrace trace;
  RunResult r = wine->RunInstallerTraced({"C:\\Orvo", "Manual"}, &trace);
  ASSERT_FALSE(r.timedOut);
  ASSERT_TRUE(trace.found);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ExitProcessCode(trace), 0);
  auto boxes = MessageBoxes(trace);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kGuardMessage);
  EXPECT_EQ(boxes[0].caption, "Miravelt Installation");
  EXPECT_EQ(boxes[0].type, 0u);

  // Nothing was written, copied, deleted or scheduled.
  for (const char* f : {"CopyFileA", "DeleteFileA", "MoveFileExA", "RegCreateKeyExA",
                        "RegSetValueExA", "RegDeleteKeyA", "WritePrivateProfileStringA",
                        "WritePrivateProfileSectionA", "SetFileAttributesA"})
    EXPECT_EQ(trace.Count(f), 0u) << f;
  EXPECT_EQ(wine->FileText("C:\\Orvo\\HISTORY.TXT"), "release notes");
  EXPECT_FALSE(wine->Exists("C:\\Orvo\\ORVOOEM.DLL"));
  EXPECT_TRUE(wine->DumpKey("HKCU\\Software\\Miravelt\\Engine").exists);
  EXPECT_FALSE(wine->DumpKey("HKLM\\Software\\Miravelt").exists);
  EXPECT_TRUE(wine->PendingRenames().empty());
  EXPECT_FALSE(wine->Exists("C:\\windows\\wininit.ini"));
  EXPECT_EQ(wine->FileText("C:\\windows\\system.ini"), systemIni);
  for (const char* f :
       {"C:\\windows\\system32\\ZOLTAVEX.DL", "C:\\windows\\system32\\ZOLTAVEX.EX",
        "C:\\windows\\system32\\ZOLTAVEX.VXD", "C:\\windows\\system32\\FTD2XX.DLL",
        "C:\\windows\\system32\\drivers\\ZOLTAVEX.SYS", "C:\\windows\\inf\\ZOLTAVEX.INF",
        "C:\\windows\\inf\\DQ_USB.INF", "C:\\windows\\inf\\KOVA51USB.INF"})
    EXPECT_FALSE(wine->Exists(f)) << f;
}

INSTANTIATE_TEST_SUITE_P(HostApplications, GuardTest,
                         ::testing::Values(GuardCase{"C:\\Program Files\\Orvo\\ORVO.EXE", "winxp"},
                                           GuardCase{"C:\\users\\Public\\orvoclub.exe", "winxp"},
                                           GuardCase{"C:\\Program Files\\Orvo\\ORVO.EXE", "win98"},
                                           GuardCase{"C:\\users\\Public\\orvoclub.exe", "win98"}),
                         [](const ::testing::TestParamInfo<GuardCase>& info) {
                           std::string name = info.param.hostPath;
                           name = name.substr(name.find_last_of('\\') + 1);
                           name.erase(name.find('.'));
                           return name + "_" + info.param.version;
                         });

}  // namespace
