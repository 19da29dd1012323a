// The run as a whole: the platform family, the order of the steps, the
// folders handed to the packages and the exit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "folders.h"
#include "harness.h"
#include "platform_family.h"
#include "run.h"
#include "sim.h"

namespace {

TEST(RunTest, PlatformFamilyComesFromTheVersion) {
  const struct {
    sim::Windows version;
    DWORD family;
  } cases[] = {{sim::Windows::Win95, 1}, {sim::Windows::WinMe, 1}, {sim::Windows::NT351, 2},
               {sim::Windows::NT40, 2},  {sim::Windows::WinXP, 2}, {sim::Windows::Win10, 2}};
  for (const auto& c : cases) {
    ResetMachine(c.version);
    const sim::RunResult result = RunInstaller();
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(PlatformFamily, c.family) << sim::WindowsName(c.version);
    EXPECT_EQ(FirstCall("GetVersionExA"), 0u) << sim::TraceText();
  }
  ResetMachine(sim::Windows::Win98);
  sim::SetVersionFails(true);
  EXPECT_EQ(RunInstaller().exitCode, 0u);
  EXPECT_EQ(PlatformFamily, 0u);
}

TEST(RunTest, StepsRunInTheirOrder) {
  ResetMachine(sim::Windows::Win98);
  sim::PutFile("C:\\APP\\HISTORY.TXT", "notes");
  const sim::RunResult result = RunInstaller("C:\\APP");
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 0u);

  const size_t steps[] = {
      FirstCall("GetVersionExA"),
      FirstCall("CreateToolhelp32Snapshot"),
      FirstCall("GetSystemDirectoryA"),
      FirstCall("GetWindowsDirectoryA"),
      FirstCall("GetModuleFileNameA"),
      FirstCall("WritePrivateProfileStringA", "MinFileCache"),
      FirstCall("WritePrivateProfileStringA", "MaxFileCache"),
      FirstCall("RegDeleteKeyA", "Software\\Miravelt\\Engine\\"),
      FirstCall("FindFirstFileA", "\\SYSTEM\\WNASPI32.DLL"),
      FirstCall("", "C:\\SETUP\\ZOLTAVEX."),
      FirstCall("", "C:\\SETUP\\KOVA51USB.INF"),
      FirstCall("", "C:\\SETUP\\DQ_USB.INF"),
      FirstCall("DeleteFileA", "C:\\APP\\HISTORY.TXT"),
      FirstCall("GetDriveTypeA", "D:\\"),
  };
  for (size_t i = 0; i < sizeof(steps) / sizeof(steps[0]); ++i) {
    ASSERT_NE(steps[i], std::string::npos) << i << "\n" << sim::TraceText();
    if (i > 0) {
      EXPECT_LT(steps[i - 1], steps[i]) << i << "\n" << sim::TraceText();
    }
  }
  EXPECT_EQ(sim::Trace().back().function, "ExitProcess");
}

TEST(RunTest, NoRenameRelativeToTheCurrentFolder) {
  for (sim::Windows version : {sim::Windows::Win98, sim::Windows::WinXP}) {
    ResetMachine(version);
    RunInstaller();
    EXPECT_EQ(FirstCall("", "\"ZOLTAVEX.DL\""), std::string::npos) << sim::TraceText();
    EXPECT_EQ(FirstCall("", "\"ZOLTAVEX.DLL\""), std::string::npos) << sim::TraceText();
  }
}

TEST(RunTest, WithoutArgumentsAllPackageStepsRun) {
  ResetMachine(sim::Windows::WinXP);
  sim::PutFile("C:\\SETUP\\FTD2XX.DLL", "ftdi");
  const sim::RunResult result = RunInstaller();
  EXPECT_EQ(result.exitCode, 0u);
  std::string data;
  EXPECT_TRUE(sim::FileData(sim::SystemFolder() + "\\FTD2XX.DLL", &data));
  EXPECT_EQ(data, "ftdi");
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
}

TEST(RunTest, FoldersAreReadWholeHoweverLong) {
  ResetMachine(sim::Windows::WinXP);
  const std::string source = "C:\\" + std::string(280, 'S') + "\\";
  const std::string system = "C:\\" + std::string(300, 'Y');
  const std::string windows = "C:\\" + std::string(270, 'W');
  sim::SetModulePath(source + "DRVSETUP.EXE");
  sim::SetSystemFolder(system);
  sim::SetWindowsFolder(windows);
  sim::MakeFolder(windows + "\\INF");
  sim::PutFile(source + "FTD2XX.DLL", "ftdi");
  sim::PutFile(source + "KOVA51USB.INF", "kova");
  const sim::RunResult result = RunInstaller();
  EXPECT_EQ(result.exitCode, 0u);
  // Paths this long are refused by the platform's ANSI calls, but each
  // folder reaches them whole: the staged copies of the ASPI layer name the
  // source folder with the system or the windows folder.
  const DWORD kFilenameExcedRange = 206;
  bool sourceWithSystem = false, sourceWithWindows = false;
  for (const sim::Call& call : sim::Trace()) {
    if (call.function != "CopyFileA") continue;
    EXPECT_EQ(call.lastError, kFilenameExcedRange) << call.args;
    if (call.args.find(std::string(280, 'S') + "\\\\") == std::string::npos) continue;
    if (call.args.find(std::string(300, 'Y') + "\\\\") != std::string::npos)
      sourceWithSystem = true;
    if (call.args.find(std::string(270, 'W') + "\\\\") != std::string::npos)
      sourceWithWindows = true;
  }
  EXPECT_TRUE(sourceWithSystem);
  EXPECT_TRUE(sourceWithWindows);
  EXPECT_FALSE(sim::Exists(system + "\\FTD2XX.DLL"));
  EXPECT_TRUE(sim::Boxes().empty());
}

TEST(RunTest, ReadFolderQueriesAnswerAsThePlatformReports) {
  ResetMachine(sim::Windows::Win98);
  EXPECT_EQ(ReadSystemFolder(), sim::SystemFolder());
  EXPECT_EQ(ReadWindowsFolder(), sim::WindowsFolder());
  ResetMachine(sim::Windows::Win2k);
  EXPECT_EQ(ReadSystemFolder(), sim::SystemFolder());
  EXPECT_EQ(ReadWindowsFolder(), sim::WindowsFolder());
}

// The sizes the shared growing read asks for: a folder query names the size
// it needs, a module path query only fills the buffer (then it doubles), and
// a query still asking for more beyond the longest path fails.
TEST(RunTest, GrowingReadsAskForTheSizesTheAnswersName) {
  struct Case {
    const char* what;
    std::string text;
    bool namesItsSize;  // true: answers with the size needed when cut
    std::vector<DWORD> sizes;
    std::string read;
  };
  const std::string longPath(600, 'p'), endless(70000, 'e');
  const Case cases[] = {
      {"short", "C:\\WINDOWS", true, {261}, "C:\\WINDOWS"},
      {"folder", longPath, true, {261, 602}, longPath},
      {"module", longPath, false, {261, 522, 1044}, longPath},
      {"endless folder", endless, true, {261}, ""},
      {"endless module",
       endless,
       false,
       {261, 522, 1044, 2088, 4176, 8352, 16704, 33408, 66816},
       ""},
  };
  for (const Case& c : cases) {
    std::vector<DWORD> sizes;
    const std::string read = ReadGrowing([&](char* buffer, DWORD size) -> DWORD {
      sizes.push_back(size);
      if (c.text.size() < size) {
        std::memcpy(buffer, c.text.c_str(), c.text.size() + 1);
        return static_cast<DWORD>(c.text.size());
      }
      std::memcpy(buffer, c.text.data(), size);
      return c.namesItsSize ? static_cast<DWORD>(c.text.size() + 1) : size;
    });
    EXPECT_EQ(read, c.read) << c.what;
    EXPECT_EQ(sizes, c.sizes) << c.what;
  }
}

}  // namespace
