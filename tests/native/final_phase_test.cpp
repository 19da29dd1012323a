// The final phase in the application folder: the release notes removed, the
// OEM library and the manuals copied from the first CD-ROM drive that holds
// them.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "sim.h"

namespace {

const std::string kApp = "C:\\APP\\";

class FinalPhase : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMachine(sim::Windows::WinXP);
    sim::PutFile(kApp + "HISTORY.TXT", "notes");
  }

  static void PutDisc(char letter, const std::string& tag, bool german = true,
                      bool english = true) {
    const std::string root = std::string(1, letter) + ":\\";
    sim::SetDrive(letter, DRIVE_CDROM);
    sim::PutFile(root + "OEM\\ORVOOEM.DLL", tag + " oem");
    if (german) sim::PutFile(root + "DATA\\DOC\\Manual-de.pdf", tag + " de");
    if (english) sim::PutFile(root + "DATA\\DOC\\Manual-en.pdf", tag + " en");
  }

  static void ExpectCleanExit(const sim::RunResult& result) {
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(sim::Boxes().empty());
    EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
  }
};

TEST_F(FinalPhase, WithoutArgumentsNoApplicationFolderIsTouched) {
  PutDisc('E', "disc");
  ExpectCleanExit(RunInstaller());
  EXPECT_EQ(File(kApp + "HISTORY.TXT"), "notes");
  EXPECT_EQ(CallsOf("DeleteFileA"), 0u);
  EXPECT_EQ(CallsOf("GetDriveTypeA"), 0u);
}

TEST_F(FinalPhase, CopiesTheOemLibraryAndBothManuals) {
  PutDisc('E', "disc");
  ExpectCleanExit(RunInstaller("C:\\APP Manual"));
  EXPECT_EQ(File(kApp + "HISTORY.TXT"), "missing");
  EXPECT_EQ(File(kApp + "ORVOOEM.DLL"), "disc oem");
  EXPECT_EQ(File(kApp + "Manual-de.pdf"), "disc de");
  EXPECT_EQ(File(kApp + "Manual-en.pdf"), "disc en");
  // Nothing lands in the disc's subfolders' names below the application folder.
  EXPECT_FALSE(sim::Exists(kApp + "OEM"));
  EXPECT_FALSE(sim::Exists(kApp + "DATA"));
}

TEST_F(FinalPhase, WithoutADocumentNameNoManualIsLookedFor) {
  PutDisc('E', "disc");
  ExpectCleanExit(RunInstaller("\"C:\\APP\\\""));
  EXPECT_EQ(File(kApp + "HISTORY.TXT"), "missing");
  EXPECT_EQ(File(kApp + "ORVOOEM.DLL"), "disc oem");
  EXPECT_EQ(CallsOf("FindFirstFileA", "DATA\\DOC"), 0u);
  EXPECT_EQ(sim::ListFiles(kApp).size(), 1u);
}

TEST_F(FinalPhase, FolderWithOrWithoutTrailingBackslashGivesTheSameTargets) {
  for (const char* folder : {"C:\\APP", "C:\\APP\\", "\"C:\\APP\"", "\"C:\\APP\\\""}) {
    ResetMachine(sim::Windows::WinXP);
    sim::PutFile(kApp + "HISTORY.TXT", "notes");
    PutDisc('E', "disc");
    ExpectCleanExit(RunInstaller(std::string(folder) + " Manual"));
    EXPECT_EQ(File(kApp + "HISTORY.TXT"), "missing") << folder;
    EXPECT_EQ(File(kApp + "ORVOOEM.DLL"), "disc oem") << folder;
    EXPECT_EQ(File(kApp + "Manual-en.pdf"), "disc en") << folder;
    EXPECT_EQ(CallsOf("DeleteFileA", "C:\\APP\\HISTORY.TXT"), 1u) << folder;
    EXPECT_EQ(CallsOf("DeleteFileA", "\\\\"), 0u) << folder;
  }
}

TEST_F(FinalPhase, TheLowestCdRomLetterWins) {
  PutDisc('G', "second");
  PutDisc('E', "first");
  ExpectCleanExit(RunInstaller("C:\\APP Manual"));
  EXPECT_EQ(File(kApp + "ORVOOEM.DLL"), "first oem");
  EXPECT_EQ(File(kApp + "Manual-de.pdf"), "first de");
  // Drives after the first hit are not examined.
  EXPECT_EQ(CallsOf("GetDriveTypeA", "F:\\"), 0u);
  EXPECT_EQ(CallsOf("GetDriveTypeA", "G:\\"), 0u);
}

TEST_F(FinalPhase, EveryLetterFromDToZIsAskedInOrder) {
  ExpectCleanExit(RunInstaller("C:\\APP"));
  std::string asked;
  for (const sim::Call& call : sim::Trace()) {
    if (call.function == "GetDriveTypeA") asked += call.args.substr(1, 1);
  }
  EXPECT_EQ(asked, "DEFGHIJKLMNOPQRSTUVWXYZ");
}

TEST_F(FinalPhase, OnlyCdRomDrivesCount) {
  sim::PutFile("C:\\OEM\\ORVOOEM.DLL", "drive c");
  const UINT others[] = {DRIVE_FIXED, DRIVE_REMOVABLE, DRIVE_REMOTE, DRIVE_RAMDISK};
  char letter = 'D';
  for (UINT type : others) {
    sim::SetDrive(letter, type);
    sim::PutFile(std::string(1, letter) + ":\\OEM\\ORVOOEM.DLL", "not a disc");
    ++letter;
  }
  ExpectCleanExit(RunInstaller("C:\\APP"));
  EXPECT_EQ(File(kApp + "ORVOOEM.DLL"), "missing");
  EXPECT_EQ(File(kApp + "HISTORY.TXT"), "missing");
  for (const char* drive : {"A:\\", "B:\\", "C:\\"}) EXPECT_EQ(CallsOf("GetDriveTypeA", drive), 0u);

  // A CD-ROM drive after them is found.
  PutDisc('Z', "last");
  ExpectCleanExit(RunInstaller("C:\\APP"));
  EXPECT_EQ(File(kApp + "ORVOOEM.DLL"), "last oem");
}

TEST_F(FinalPhase, ADriveWithoutADiscIsPassedOver) {
  sim::SetDrive('D', DRIVE_CDROM, false);
  PutDisc('F', "disc");
  ExpectCleanExit(RunInstaller("C:\\APP Manual"));
  EXPECT_EQ(File(kApp + "ORVOOEM.DLL"), "disc oem");
}

TEST_F(FinalPhase, EachFileComesFromTheFirstDiscThatHoldsIt) {
  PutDisc('E', "first", true, false);  // German manual only
  ExpectCleanExit(RunInstaller("C:\\APP Manual"));
  EXPECT_EQ(File(kApp + "Manual-de.pdf"), "first de");
  EXPECT_EQ(File(kApp + "Manual-en.pdf"), "missing");

  PutDisc('H', "second", false, true);  // English manual only, on a later drive
  sim::Remove("E:\\DATA\\DOC\\Manual-de.pdf");
  sim::Remove(kApp + "Manual-de.pdf");
  ExpectCleanExit(RunInstaller("C:\\APP Manual"));
  EXPECT_EQ(File(kApp + "Manual-de.pdf"), "missing");
  EXPECT_EQ(File(kApp + "Manual-en.pdf"), "second en");
  EXPECT_EQ(File(kApp + "ORVOOEM.DLL"), "first oem");
}

TEST_F(FinalPhase, ExistingFilesInTheApplicationFolderAreReplaced) {
  sim::PutFile(kApp + "ORVOOEM.DLL", "old oem");
  sim::PutFile(kApp + "Manual-de.pdf", "old de");
  sim::PutFile(kApp + "Manual-en.pdf", "old en");
  PutDisc('E', "disc");
  ExpectCleanExit(RunInstaller("C:\\APP Manual"));
  EXPECT_EQ(File(kApp + "ORVOOEM.DLL"), "disc oem");
  EXPECT_EQ(File(kApp + "Manual-de.pdf"), "disc de");
  EXPECT_EQ(File(kApp + "Manual-en.pdf"), "disc en");
}

TEST_F(FinalPhase, AMissingApplicationFolderIsPassedOverSilently) {
  PutDisc('E', "disc");
  ExpectCleanExit(RunInstaller("C:\\NOWHERE Manual"));
  EXPECT_FALSE(sim::Exists("C:\\NOWHERE"));
  EXPECT_EQ(File(kApp + "HISTORY.TXT"), "notes");
}

TEST_F(FinalPhase, NoDiscAtAllChangesNothingButTheReleaseNotes) {
  ExpectCleanExit(RunInstaller("C:\\APP Manual"));
  EXPECT_EQ(File(kApp + "HISTORY.TXT"), "missing");
  EXPECT_TRUE(sim::ListFiles(kApp).empty());
}

TEST_F(FinalPhase, AnOverlongFolderArgumentIsTreatedAsAbsent) {
  // Cut to 256 characters this argument would name another folder.
  const std::string other = "C:\\" + std::string(252, 'A') + "\\";
  ASSERT_EQ(other.size(), 256u);
  sim::PutFile(other + "HISTORY.TXT", "other notes");
  PutDisc('E', "disc");
  ExpectCleanExit(RunInstaller(other + "APP Manual"));
  EXPECT_EQ(File(other + "HISTORY.TXT"), "other notes");
  EXPECT_EQ(File(other + "ORVOOEM.DLL"), "missing");
  EXPECT_EQ(CallsOf("DeleteFileA"), 0u);
}

TEST_F(FinalPhase, AnOverlongDocumentNameMeansNoManuals) {
  PutDisc('E', "disc");
  ExpectCleanExit(RunInstaller("C:\\APP " + std::string(300, 'M')));
  EXPECT_EQ(File(kApp + "ORVOOEM.DLL"), "disc oem");
  EXPECT_EQ(CallsOf("FindFirstFileA", "DATA\\DOC"), 0u);
}

}  // namespace
