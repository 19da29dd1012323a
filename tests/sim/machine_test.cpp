// The simulated machine's versions, its process identity, message boxes and
// runs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim.h"

namespace {

TEST(Machine, VersionsReportTheirFamilyAndNumbers) {
  struct Case {
    sim::Windows version;
    DWORD platform, major, minor;
  } cases[] = {
      {sim::Windows::Win95, 1, 4, 0},  {sim::Windows::Win98, 1, 4, 10},
      {sim::Windows::WinMe, 1, 4, 90}, {sim::Windows::NT351, 2, 3, 51},
      {sim::Windows::NT40, 2, 4, 0},   {sim::Windows::Win2k, 2, 5, 0},
      {sim::Windows::WinXP, 2, 5, 1},  {sim::Windows::Win7, 2, 6, 1},
      {sim::Windows::Win10, 2, 6, 2},
  };
  for (const Case& c : cases) {
    sim::Reset(c.version);
    sim::Windows back;
    ASSERT_TRUE(sim::WindowsFromName(sim::WindowsName(c.version), &back));
    EXPECT_EQ(back, c.version);
    EXPECT_EQ(sim::Is9x(c.version), c.platform == 1);
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = 148;
    ASSERT_TRUE(GetVersionExA(&info)) << sim::WindowsName(c.version);
    EXPECT_EQ(info.dwPlatformId, c.platform);
    EXPECT_EQ(info.dwMajorVersion, c.major);
    EXPECT_EQ(info.dwMinorVersion, c.minor);
  }
  EXPECT_FALSE(sim::WindowsFromName("win31", nullptr));

  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionExA(&info));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  info.dwOSVersionInfoSize = sizeof info;
  sim::SetVersionFails(true);
  EXPECT_FALSE(GetVersionExA(&info));
  sim::Reset();
  EXPECT_TRUE(GetVersionExA(&info));
}

TEST(Machine, ModulePathIsCutAsEachFamilyCutsIt) {
  char buffer[16];
  for (sim::Windows v : {sim::Windows::WinXP, sim::Windows::Win98}) {
    sim::Reset(v);
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 5), 5u);
    EXPECT_EQ(std::string(buffer, 6), "C:\\SEx");  // no zero added
  }
  sim::Reset(sim::Windows::Win7);
  std::memset(buffer, 'x', sizeof buffer);
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 5), 5u);
  EXPECT_EQ(std::string(buffer, 6), std::string("C:\\S\0x", 6));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));

  char full[261];
  sim::SetModulePath("D:\\Setup Files\\DRVSETUP.EXE");
  EXPECT_EQ(GetModuleFileNameA(nullptr, full, sizeof full), 27u);
  EXPECT_STREQ(full, "D:\\Setup Files\\DRVSETUP.EXE");
  sim::SetCommandLine("\"D:\\Setup Files\\DRVSETUP.EXE\" C:\\APP");
  EXPECT_STREQ(GetCommandLineA(), "\"D:\\Setup Files\\DRVSETUP.EXE\" C:\\APP");
}

TEST(Machine, DoubleByteSupportAndLeadBytes) {
  sim::Reset();
  EXPECT_EQ(GetSystemMetrics(SM_DBCSENABLED), 0);
  EXPECT_FALSE(IsDBCSLeadByte(0x81));
  sim::SetDbcs(true, "\x81-\x9f\xe0-\xfc");
  EXPECT_NE(GetSystemMetrics(SM_DBCSENABLED), 0);
  for (int b : {0x81, 0x90, 0x9f, 0xe0, 0xfc}) EXPECT_TRUE(IsDBCSLeadByte(BYTE(b))) << b;
  for (int b : {0x80, 0xa0, 0xdf, 0xfd, int('\\'), int(':')})
    EXPECT_FALSE(IsDBCSLeadByte(BYTE(b))) << b;
}

void ShowAndExit() {
  MessageBoxA(nullptr, "Unable to write to Wininit.ini", "Application Error", 0x2010);
  ExitProcess(1);
}

void ShowTwice() {
  if (MessageBoxA(nullptr, "first", "Miravelt Installation", MB_OK) == 7)
    MessageBoxA(nullptr, "second", nullptr, MB_OK);
}

TEST(Machine, MessageBoxesAreRecordedAndExitProcessEndsTheRun) {
  sim::Reset();
  sim::RunResult result = sim::Run(ShowAndExit);
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 1u);
  ASSERT_EQ(sim::Boxes().size(), 1u);
  EXPECT_EQ(sim::Boxes()[0].owner, nullptr);
  EXPECT_EQ(sim::Boxes()[0].text, "Unable to write to Wininit.ini");
  EXPECT_EQ(sim::Boxes()[0].caption, "Application Error");
  EXPECT_EQ(sim::Boxes()[0].type, 0x2010u);

  // A program that returns has not called ExitProcess; the configured
  // answer comes back.
  sim::SetBoxAnswer(7);
  result = sim::Run(ShowTwice);
  EXPECT_FALSE(result.exited);
  ASSERT_EQ(sim::Boxes().size(), 3u);
  EXPECT_EQ(sim::Boxes()[2].text, "second");
}

}  // namespace
