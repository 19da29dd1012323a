// File placement on the simulated machine: folder normalising, the existence
// test, read-only clearing, package copies, staged replacement and the
// renames at the next restart on both families.
#include <gtest/gtest.h>

#include "file_placement.h"
#include "harness.h"
#include "platform_family.h"

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

typedef std::vector<std::pair<std::string, std::string>> Renames;

class FilePlacement : public ::testing::Test {
 protected:
  void SetUp() override { UseFamily(sim::Windows::WinXP); }
  void UseFamily(sim::Windows version) {
    ResetMachine(version);
    PlatformFamily = sim::Is9x(version) ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT;
    system_ = sim::SystemFolder() + "\\";
  }
  std::string system_;
};

TEST(NormalizeFolderTest, AddsOrRemovesOneTrailingBackslash) {
  EXPECT_EQ(NormalizeFolder("", 1), "");
  EXPECT_EQ(NormalizeFolder("", 0), "");
  EXPECT_EQ(NormalizeFolder("C:\\WINDOWS", 1), "C:\\WINDOWS\\");
  EXPECT_EQ(NormalizeFolder("C:\\WINDOWS\\", 1), "C:\\WINDOWS\\");
  EXPECT_EQ(NormalizeFolder("C:\\WINDOWS\\SYSTEM\\", 0), "C:\\WINDOWS\\SYSTEM");
  EXPECT_EQ(NormalizeFolder("C:\\WINDOWS\\SYSTEM", 0), "C:\\WINDOWS\\SYSTEM");
  EXPECT_EQ(NormalizeFolder("C:\\", 0), "C:");
  EXPECT_EQ(NormalizeFolder("C:\\A\\\\", 0), "C:\\A\\");
  EXPECT_EQ(NormalizeFolder("C:\\A\\\\", 1), "C:\\A\\\\");
  // Only the last byte counts: a slash is not a backslash.
  EXPECT_EQ(NormalizeFolder("C:/A/", 1), "C:/A/\\");
}

TEST_F(FilePlacement, FileExistsOnlyForFilesWithADosTime) {
  sim::PutFile("C:\\DATA\\PLAIN.TXT", "x");
  sim::PutFile("C:\\DATA\\OLD.TXT", "x", FILE_ATTRIBUTE_ARCHIVE, sim::FileTimeOf(1979, 12, 31));
  sim::PutFile("C:\\DATA\\EARLY.TXT", "x", FILE_ATTRIBUTE_ARCHIVE, sim::FileTimeOf(1980, 1, 2));
  EXPECT_TRUE(FileExists("C:\\DATA\\PLAIN.TXT"));
  EXPECT_TRUE(FileExists("C:\\DATA\\EARLY.TXT"));
  EXPECT_FALSE(FileExists("C:\\DATA\\OLD.TXT"));
  EXPECT_FALSE(FileExists("C:\\DATA"));
  EXPECT_FALSE(FileExists("C:\\DATA\\MISSING.TXT"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
}

TEST_F(FilePlacement, FileExistsJudgesTheLocalTime) {
  // 00:30 UTC on the first day of 1980 is still 1979 an hour west of UTC.
  sim::PutFile("C:\\DATA\\EDGE.TXT", "x", FILE_ATTRIBUTE_ARCHIVE,
               sim::FileTimeOf(1980, 1, 1, 0, 30));
  sim::SetTimeZoneBias(-3600);
  EXPECT_FALSE(FileExists("C:\\DATA\\EDGE.TXT"));
  sim::SetTimeZoneBias(3600);
  EXPECT_TRUE(FileExists("C:\\DATA\\EDGE.TXT"));
}

TEST_F(FilePlacement, ClearReadOnlyKeepsEveryOtherBit) {
  sim::PutFile("C:\\DATA\\RO.SYS", "x", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  sim::PutFile("C:\\DATA\\RW.SYS", "x", FILE_ATTRIBUTE_SYSTEM);
  ClearReadOnly("C:\\DATA\\RO.SYS");
  ClearReadOnly("C:\\DATA\\RW.SYS");
  EXPECT_EQ(sim::Attributes("C:\\DATA\\RO.SYS"),
            DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(sim::Attributes("C:\\DATA\\RW.SYS"), DWORD(FILE_ATTRIBUTE_SYSTEM));

  sim::ClearTrace();
  ClearReadOnly("C:\\DATA\\MISSING.SYS");
  // A read-only file too old to count as present is left alone as well.
  sim::PutFile("C:\\DATA\\OLD.SYS", "x", FILE_ATTRIBUTE_READONLY, sim::FileTimeOf(1975, 1, 1));
  ClearReadOnly("C:\\DATA\\OLD.SYS");
  EXPECT_EQ(CallsOf("SetFileAttributesA"), 0u);
  EXPECT_EQ(sim::Attributes("C:\\DATA\\OLD.SYS"), DWORD(FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(sim::Exists("C:\\DATA\\MISSING.SYS"));
}

TEST_F(FilePlacement, CopyPackageFileReplacesAReadOnlyTargetSilently) {
  sim::PutFile("C:\\SETUP\\A.INF", "new");
  sim::PutFile("C:\\WINDOWS\\INF\\A.INF", "old", FILE_ATTRIBUTE_READONLY);
  CopyPackageFile("C:\\SETUP\\A.INF", "C:\\WINDOWS\\INF\\A.INF", "Cannot copy A.INF");
  std::string data;
  ASSERT_TRUE(sim::FileData("C:\\WINDOWS\\INF\\A.INF", &data));
  EXPECT_EQ(data, "new");
  EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(FilePlacement, CopyPackageFilePassesOverAMissingSource) {
  CopyPackageFile("C:\\SETUP\\NONE.INF", "C:\\WINDOWS\\INF\\NONE.INF", "Cannot copy NONE.INF");
  EXPECT_FALSE(sim::Exists("C:\\WINDOWS\\INF\\NONE.INF"));
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_EQ(CallsOf("CopyFileA"), 0u);
}

TEST_F(FilePlacement, FailedCopyShowsThePackageMessageOnce) {
  sim::PutFile("C:\\SETUP\\A.INF", "new");
  CopyPackageFile("C:\\SETUP\\A.INF", "C:\\NOWHERE\\A.INF", "Cannot copy \"A.INF\" !");
  const std::vector<sim::Box> boxes = sim::Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Cannot copy \"A.INF\" !");
  EXPECT_EQ(boxes[0].caption, "Miravelt Installation");
  EXPECT_EQ(UINT(MB_OK), boxes[0].type);
  EXPECT_EQ(boxes[0].owner, nullptr);
}

TEST_F(FilePlacement, StagedCopySchedulesItsRenameOnlyWhenItSucceeded) {
  sim::PutFile("C:\\SETUP\\E.DLL", "engine");
  EXPECT_TRUE(StageFile("C:\\SETUP\\E.DLL", system_ + "E.DL", system_ + "E.DLL"));
  EXPECT_EQ(Renames({{"\\??\\" + system_ + "E.DL", "!\\??\\" + system_ + "E.DLL"}}),
            sim::PendingRenames());

  // A staging file that cannot be written: no rename for it.
  sim::PutFile("C:\\SETUP\\E.EXE", "program");
  sim::PutFile(system_ + "E.EX", "locked");
  sim::SetLocked(system_ + "E.EX", true);
  EXPECT_FALSE(StageFile("C:\\SETUP\\E.EXE", system_ + "E.EX", system_ + "E.EXE"));
  EXPECT_EQ(sim::PendingRenames().size(), 1u);
  EXPECT_TRUE(sim::Boxes().empty());

  sim::SetLocked(system_ + "E.EX", false);
  sim::Restart();
  std::string data;
  ASSERT_TRUE(sim::FileData(system_ + "E.DLL", &data));
  EXPECT_EQ(data, "engine");
  EXPECT_FALSE(sim::Exists(system_ + "E.DL"));
}

TEST_F(FilePlacement, StagedCopyOn9xFillsWininitIni) {
  UseFamily(sim::Windows::Win98);
  sim::PutFile("C:\\SETUP\\E.DLL", "engine");
  EXPECT_FALSE(StageFile("C:\\SETUP\\MISSING.DLL", system_ + "M.DL", system_ + "M.DLL"));
  EXPECT_EQ(sim::IniText("C:\\WINDOWS\\Wininit.ini"), "");
  EXPECT_TRUE(StageFile("C:\\SETUP\\E.DLL", system_ + "E.DL", system_ + "E.DLL"));
  std::string value;
  ASSERT_TRUE(sim::IniValue("C:\\WINDOWS\\Wininit.ini", "RENAME", system_ + "E.DLL", &value));
  EXPECT_EQ(system_ + "E.DL", value);
}

TEST_F(FilePlacement, RenamesOn9xAreKeyedByTheNewPath) {
  UseFamily(sim::Windows::Win95);
  ScheduleRenameAtRestart("C:\\WINDOWS\\SYSTEM\\A.DL", "C:\\WINDOWS\\SYSTEM\\A.DLL");
  ScheduleRenameAtRestart("C:\\WINDOWS\\SYSTEM\\B.DL", "C:\\WINDOWS\\SYSTEM\\A.DLL");
  ScheduleRenameAtRestart("C:\\WINDOWS\\SYSTEM\\C.DL", "C:\\WINDOWS\\SYSTEM\\C.DLL");
  std::string value;
  ASSERT_TRUE(
      sim::IniValue("C:\\WINDOWS\\Wininit.ini", "RENAME", "C:\\WINDOWS\\SYSTEM\\A.DLL", &value));
  EXPECT_EQ(value, "C:\\WINDOWS\\SYSTEM\\B.DL");
  ASSERT_TRUE(
      sim::IniValue("C:\\WINDOWS\\Wininit.ini", "RENAME", "C:\\WINDOWS\\SYSTEM\\C.DLL", &value));
  EXPECT_EQ(value, "C:\\WINDOWS\\SYSTEM\\C.DL");
  const std::string text = sim::IniText("C:\\WINDOWS\\Wininit.ini");
  EXPECT_EQ(text.find("A.DLL="), text.rfind("A.DLL=")) << text;
  EXPECT_EQ(CallsOf("MoveFileExA"), 0u);
  EXPECT_TRUE(sim::PendingRenames().empty());
}

bool reachedAfterRename = false;

TEST_F(FilePlacement, RefusedWininitWriteEndsTheRunWithExitCodeOne) {
  UseFamily(sim::Windows::Win98);
  sim::MakeFolder("C:\\WINDOWS\\Wininit.ini");  // a folder: the profile API cannot write it
  reachedAfterRename = false;
  const sim::RunResult result = sim::Run([] {
    ScheduleRenameAtRestart("C:\\WINDOWS\\SYSTEM\\A.DL", "C:\\WINDOWS\\SYSTEM\\A.DLL");
    reachedAfterRename = true;
  });
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 1u);
  EXPECT_FALSE(reachedAfterRename);
  const std::vector<sim::Box> boxes = sim::Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Application Error");
  EXPECT_NE(std::string::npos, boxes[0].text.find("Unable to write to Wininit.ini"));
  EXPECT_EQ(UINT(0x2010), boxes[0].type);
  EXPECT_EQ(boxes[0].owner, nullptr);
}

TEST_F(FilePlacement, NtRenameUsesTheFlagsOfAReplacingDelayedMove) {
  ScheduleRenameAtRestart(system_ + "A.DL", system_ + "A.DLL");
  EXPECT_EQ(Renames({{"\\??\\" + system_ + "A.DL", "!\\??\\" + system_ + "A.DLL"}}),
            sim::PendingRenames());
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();

  // A refused rename is passed over without a word.
  sim::FailFunction("MoveFileExA");
  ScheduleRenameAtRestart(system_ + "B.DL", system_ + "B.DLL");
  EXPECT_EQ(sim::PendingRenames().size(), 1u);
  EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(FilePlacement, SecondRunBeforeTheRestartAddsNoRenameTwice) {
  sim::PutFile("C:\\SETUP\\E.DLL", "first");
  ASSERT_TRUE(StageFile("C:\\SETUP\\E.DLL", system_ + "E.DL", system_ + "E.DLL"));
  ScheduleRenameAtRestart(system_ + "X.SYS", system_ + "X.OLD");
  const Renames first = sim::PendingRenames();
  ASSERT_EQ(first.size(), 2u);

  // The same pairs again, one of them spelt in another case: nothing added,
  // but the staged copy is refreshed.
  sim::PutFile("C:\\SETUP\\E.DLL", "second");
  ASSERT_TRUE(StageFile("C:\\SETUP\\E.DLL", system_ + "E.DL", system_ + "E.DLL"));
  ScheduleRenameAtRestart(system_ + "x.sys", system_ + "x.old");
  EXPECT_EQ(first, sim::PendingRenames());
  std::string data;
  ASSERT_TRUE(sim::FileData(system_ + "E.DL", &data));
  EXPECT_EQ(data, "second");

  // Another pair, or the same target from another source, is added.
  ScheduleRenameAtRestart(system_ + "E.DL", system_ + "E.BAK");
  ScheduleRenameAtRestart(system_ + "F.DL", system_ + "E.DLL");
  EXPECT_EQ(sim::PendingRenames().size(), 4u);
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
}

TEST_F(FilePlacement, PendingListIsReadWithinItsBounds) {
  const std::string source = "\\??\\" + system_ + "A.DL";
  const std::string target = "!\\??\\" + system_ + "A.DLL";

  // A delete entry (empty new path) before the pair does not end the list.
  sim::RegPut(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", REG_MULTI_SZ,
              "\\??\\C:\\GONE.TMP" + std::string(1, '\0') + std::string(1, '\0') + source +
                  std::string(1, '\0') + target + std::string(2, '\0'));
  sim::ClearTrace();
  ScheduleRenameAtRestart(system_ + "A.DL", system_ + "A.DLL");
  EXPECT_EQ(CallsOf("MoveFileExA"), 0u);

  // A list cut off inside the wanted pair, or left without its last zero,
  // does not count as holding it.
  const std::string cut[] = {source + std::string(1, '\0') + target,
                             source + std::string(1, '\0') + target.substr(0, 5), source};
  for (const std::string& data : cut) {
    sim::RegPut(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", REG_MULTI_SZ,
                data);
    sim::ClearTrace();
    ScheduleRenameAtRestart(system_ + "A.DL", system_ + "A.DLL");
    EXPECT_EQ(CallsOf("MoveFileExA"), 1u);
  }

  // A list that cannot be read: the rename is simply made.
  sim::FailFunction("RegOpenKeyExA");
  sim::ClearTrace();
  ScheduleRenameAtRestart(system_ + "B.DL", system_ + "B.DLL");
  EXPECT_EQ(CallsOf("MoveFileExA"), 1u);
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
}

TEST_F(FilePlacement, PendingListKeyIsClosedWhenTheQueryFails) {
  ScheduleRenameAtRestart(system_ + "A.DL", system_ + "A.DLL");
  sim::FailFunction("RegQueryValueExA");
  ScheduleRenameAtRestart(system_ + "A.DL", system_ + "A.DLL");
  // Unreadable list: the rename is made again rather than lost.
  EXPECT_EQ(sim::PendingRenames().size(), 2u);
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
}

}  // namespace
