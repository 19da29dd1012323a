// Dumps of the simulated machine and their differences.
#include <gtest/gtest.h>

#include <string>

#include "sim.h"

namespace {

TEST(Dump, ShowsFilesIniTextRegistryAndPendingRenames) {
  sim::Reset(sim::Windows::WinXP);
  sim::PutFile("C:\\T\\NOTE.TXT", "short text", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
               sim::FileTimeOf(2001, 2, 3, 4, 5, 6));
  sim::PutFile("C:\\T\\BIG.BIN", std::string(100, '\x01'));
  sim::SetDrive('E', DRIVE_CDROM, false);
  MoveFileExA("C:\\T\\A.DL", "C:\\T\\A.DLL", 5);
  const std::string dump = sim::Dump();
  EXPECT_NE(dump.find("C:\\T\\NOTE.TXT  RH---  10  2001-02-03 04:05:06  \"short text\"\n"),
            std::string::npos);
  EXPECT_NE(dump.find("C:\\T\\  ----D\n"), std::string::npos);
  EXPECT_NE(dump.find("C:\\T\\BIG.BIN  ---A-  100  2024-01-01 00:00:00  #"), std::string::npos);
  EXPECT_NE(dump.find("E: cdrom (no medium)\n"), std::string::npos);
  EXPECT_NE(dump.find("[ini C:\\WINDOWS\\SYSTEM.INI]\n  ; for 16-bit app support\n"),
            std::string::npos);
  EXPECT_NE(dump.find("REGEDIT4"), std::string::npos);
  EXPECT_NE(dump.find("[pending renames]\n\\??\\C:\\T\\A.DL -> !\\??\\C:\\T\\A.DLL\n"),
            std::string::npos);
  EXPECT_EQ(sim::Dump(), dump);  // stable
}

TEST(Dump, DiffListsLinesOnlyInEitherSideInOrder) {
  EXPECT_EQ(sim::DiffDumps("a\nb\nc\n", "a\nb\nc\n"), "");
  EXPECT_EQ(sim::DiffDumps("a\nb\nc\nd\n", "a\nx\nc\nd\ny\n"), "- b\n+ x\n+ y\n");
  EXPECT_EQ(sim::DiffDumps("", "a\n"), "+ a\n");

  sim::Reset(sim::Windows::Win98);
  const std::string before = sim::Dump();
  WritePrivateProfileStringA("VCache", "MinFileCache", "20480", "System.ini");
  DeleteFileA("C:\\WINDOWS\\WIN.INI");
  const std::string diff = sim::DiffDumps(before, sim::Dump());
  EXPECT_NE(diff.find("+   MinFileCache=20480\n"), std::string::npos);
  EXPECT_NE(diff.find("- C:\\WINDOWS\\WIN.INI  "), std::string::npos);
  for (size_t pos = 0; pos < diff.size(); pos = diff.find('\n', pos) + 1) {
    EXPECT_TRUE(diff.compare(pos, 2, "+ ") == 0 || diff.compare(pos, 2, "- ") == 0);
  }
}

}  // namespace
