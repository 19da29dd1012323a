// The housekeeping of the real drvsetup.exe under Wine: the current user's
// engine settings tree goes, and on the 9x family System.ini gets the file
// cache limits.
#include "installer_fixture.h"

using namespace winetest;

namespace {

const char kEngine[] = "HKCU\\Software\\Miravelt\\Engine";

class HousekeepingTest : public InstallerTest {
 protected:
  // Values on the key itself, three subkeys at one level and a chain three
  // levels deep; beside it a sibling and the same path under HKLM, which stay.
  void PresetEngineSettings(Caller caller = {}) {
    TRACE_CALLER(caller);
    const std::string e = kEngine;
    ASSERT_TRUE(wine->PresetValue(e, "", kRegSz, SzBytes("engine")));
    ASSERT_TRUE(wine->PresetValue(e, "Latency", kRegDword, DwordBytes(5)));
    ASSERT_TRUE(wine->PresetValue(e + "\\Devices\\In", "Name", kRegSz, SzBytes("Line 1")));
    ASSERT_TRUE(wine->PresetValue(e + "\\Devices\\Out", "Name", kRegSz, SzBytes("Line 2")));
    ASSERT_TRUE(wine->PresetKey(e + "\\Devices\\Midi"));
    ASSERT_TRUE(wine->PresetValue(e + "\\A\\B\\C", "Deep", kRegBinary, std::string("\1\2", 2)));
    ASSERT_TRUE(
        wine->PresetValue("HKCU\\Software\\Miravelt\\Studio", "Keep", kRegDword, DwordBytes(1)));
    ASSERT_TRUE(
        wine->PresetValue("HKLM\\Software\\Miravelt\\Engine", "Keep", kRegDword, DwordBytes(1)));
  }

  void ExpectEngineSettingsGoneAndNeighboursKept(Caller caller = {}) {
    TRACE_CALLER(caller);
    EXPECT_FALSE(wine->DumpKey(kEngine).exists);
    RegTree user = wine->DumpKey("HKCU\\Software\\Miravelt");
    ASSERT_TRUE(user.exists);
    EXPECT_EQ(user.keys, (std::vector<std::string>{"", "Studio"}));
    EXPECT_NE(user.Value("Studio", "Keep"), nullptr);
    EXPECT_NE(wine->DumpKey("HKLM\\Software\\Miravelt\\Engine").Value("", "Keep"), nullptr);
  }
};

TEST_F(HousekeepingTest, EngineSettingsTreeDisappearsAndSystemIniStaysOnNt) {
  ASSERT_TRUE(wine->SetVersion("winxp"));
  PresetEngineSettings();
  ASSERT_TRUE(wine->DumpKey(std::string(kEngine) + "\\A\\B\\C").exists);
  const std::string systemIni = wine->FileText("C:\\windows\\system.ini");

  RelayTrace trace;
  RunResult r = wine->RunInstallerTraced({}, &trace);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0);
  ExpectEngineSettingsGoneAndNeighboursKept();
  EXPECT_EQ(wine->FileText("C:\\windows\\system.ini"), systemIni);
  EXPECT_TRUE(CallsOn(trace, "WritePrivateProfileStringA", "VCache").empty());
}

struct CacheCase {
  const char* name;
  const char* vcache;  // the section's lines before the run; null: no section
};

void PrintTo(const CacheCase& c, std::ostream* os) { *os << c.name; }

class FileCacheTest : public HousekeepingTest, public ::testing::WithParamInterface<CacheCase> {};

TEST_P(FileCacheTest, On9xSystemIniGetsEqualFileCacheLimits) {
  ASSERT_TRUE(wine->SetVersion("win98"));
  PresetEngineSettings();
  std::string ini = wine->FileText("C:\\windows\\system.ini");
  ASSERT_FALSE(ini.empty());
  ASSERT_TRUE(IniSectionLines(ini, "VCache").empty());
  if (GetParam().vcache) {
    ASSERT_TRUE(wine->PutFile("C:\\windows\\system.ini",
                              ini + "\r\n[VCache]\r\n" + GetParam().vcache + "\r\n"));
  }

  RelayTrace trace;
  RunResult r = wine->RunInstallerTraced({}, &trace);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(MessageBoxes(trace).empty());

  ini = wine->FileText("C:\\windows\\system.ini");
  std::string value;
  ASSERT_TRUE(IniValue(ini, "VCache", "MinFileCache", &value)) << ini;
  EXPECT_EQ(value, "20480");
  ASSERT_TRUE(IniValue(ini, "VCache", "MaxFileCache", &value)) << ini;
  EXPECT_EQ(value, "20480");
  if (GetParam().vcache) {
    ASSERT_TRUE(IniValue(ini, "VCache", "ChunkSize", &value)) << ini;
    EXPECT_EQ(value, "512");
  }
  // Minimum before maximum, into System.ini by its bare name.
  auto writes = CallsOn(trace, "WritePrivateProfileStringA", "VCache");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].Text(1), "MinFileCache");
  EXPECT_EQ(writes[1].Text(1), "MaxFileCache");
  for (const auto& w : writes) {
    EXPECT_EQ(w.Text(2), "20480");
    EXPECT_EQ(w.Text(3), "System.ini");
  }
  ExpectEngineSettingsGoneAndNeighboursKept();
}

INSTANTIATE_TEST_SUITE_P(
    Sections, FileCacheTest,
    ::testing::Values(CacheCase{"Missing", nullptr},
                      CacheCase{"OtherValues",
                                "MinFileCache=1024\r\nChunkSize=512\r\nMaxFileCache=4096"}),
    [](const ::testing::TestParamInfo<CacheCase>& info) { return std::string(info.param.name); });

}  // namespace
