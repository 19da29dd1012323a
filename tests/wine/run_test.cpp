// The run of the real drvsetup.exe under Wine: the final phase in the
// application folder against CD-ROM and fixed drives, a run without
// arguments, and command-line tokens that are too long.
#include "installer_fixture.h"

using namespace winetest;

namespace {

const char kAppFolder[] = "C:\\Program Files\\Orvo Studio";

class RunTest : public InstallerTest {
 protected:
  // D: a fixed drive and E:, F: CD-ROM drives. Each file has a copy on a
  // drive that must not be taken: the fixed drive D:, or C:.
  void MakeDrives(Caller caller = {}) {
    TRACE_CALLER(caller);
    wine->AddDrive('D', "hd");
    wine->AddDrive('E', "cdrom");
    wine->AddDrive('F', "cdrom");
    ASSERT_TRUE(wine->PutFile("D:\\OEM\\ORVOOEM.DLL", "oem on fixed D"));
    ASSERT_TRUE(wine->PutFile("D:\\DATA\\DOC\\Manual-de.pdf", "de on fixed D"));
    ASSERT_TRUE(wine->PutFile("C:\\OEM\\ORVOOEM.DLL", "oem on C"));
    ASSERT_TRUE(wine->PutFile("E:\\DATA\\DOC\\Manual-en.pdf", "en on E"));
    ASSERT_TRUE(wine->PutFile("F:\\OEM\\ORVOOEM.DLL", "oem on F"));
    ASSERT_TRUE(wine->PutFile("F:\\DATA\\DOC\\Manual-de.pdf", "de on F"));
    ASSERT_TRUE(wine->PutFile("F:\\DATA\\DOC\\Manual-en.pdf", "en on F"));
  }

  void MakeAppFolder(const std::string& folder, Caller caller = {}) {
    TRACE_CALLER(caller);
    ASSERT_TRUE(wine->PutFile(folder + "\\HISTORY.TXT", "release notes"));
    ASSERT_TRUE(wine->PutFile(folder + "\\ORVO.EXE", "the application"));
    ASSERT_TRUE(wine->PutFile(folder + "\\ORVOOEM.DLL", "older oem library"));
  }
};

TEST_F(RunTest, FolderAndDocumentNameTakeEachFileFromTheFirstCdRomThatHoldsIt) {
  MakeDrives();
  MakeAppFolder(kAppFolder);
  // The host's setup passes the folder quoted, here with a trailing backslash
  // before the closing quote.
  RelayTrace trace;
  RunResult r = wine->RunCommandLineTraced(
      "\"C:\\setup\\drvsetup.exe\" \"C:\\Program Files\\Orvo Studio\\\" Manual",
      "C:\\setup\\drvsetup.exe", &trace);
  ASSERT_FALSE(r.timedOut);
  ASSERT_TRUE(trace.found) << r.err.substr(0, 2000);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ExitProcessCode(trace), 0);
  for (const auto& box : MessageBoxes(trace))
    ADD_FAILURE() << "unexpected message box: " << box.text << " [" << box.caption << "]";

  const std::string app = std::string(kAppFolder) + "\\";
  EXPECT_FALSE(wine->Exists(app + "HISTORY.TXT"));
  EXPECT_EQ(wine->FileText(app + "ORVOOEM.DLL"), "oem on F");
  EXPECT_EQ(wine->FileText(app + "Manual-de.pdf"), "de on F");
  EXPECT_EQ(wine->FileText(app + "Manual-en.pdf"), "en on E");
  // Straight into the folder, without the disc's subfolders.
  EXPECT_EQ(FileNames(kAppFolder), (std::vector<std::string>{"Manual-de.pdf", "Manual-en.pdf",
                                                             "ORVO.EXE", "ORVOOEM.DLL"}));

  auto deletes = trace.Named("DeleteFileA");
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0].Text(0), app + "HISTORY.TXT");
  auto copies = CallsOn(trace, "CopyFileA", "");
  std::vector<std::string> intoApp;
  for (const auto& c : copies) {
    if (c.Text(1).compare(0, app.size(), app) != 0) continue;
    intoApp.push_back(c.Text(0) + " -> " + c.Text(1));
    EXPECT_EQ(c.Value(2) & 0xffffffffu, 0u) << "an existing target is overwritten";
  }
  EXPECT_EQ(intoApp,
            (std::vector<std::string>{"F:\\OEM\\ORVOOEM.DLL -> " + app + "ORVOOEM.DLL",
                                      "F:\\DATA\\DOC\\Manual-de.pdf -> " + app + "Manual-de.pdf",
                                      "E:\\DATA\\DOC\\Manual-en.pdf -> " + app + "Manual-en.pdf"}));
  for (const auto& c : trace.Named("GetDriveTypeA")) {
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(c.Text(0)[0])));
    EXPECT_GE(letter, 'D') << "drives A to C are never examined: " << c.Text(0);
  }
}

TEST_F(RunTest, WithoutArgumentsTheApplicationFolderIsNotTouched) {
  MakeDrives();
  MakeAppFolder(kAppFolder);
  RelayTrace trace;
  RunResult r = wine->RunInstallerTraced({}, &trace);
  ASSERT_FALSE(r.timedOut);
  ASSERT_TRUE(trace.found);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ExitProcessCode(trace), 0);
  EXPECT_TRUE(MessageBoxes(trace).empty());

  EXPECT_EQ(wine->FileText(std::string(kAppFolder) + "\\HISTORY.TXT"), "release notes");
  EXPECT_EQ(wine->FileText(std::string(kAppFolder) + "\\ORVOOEM.DLL"), "older oem library");
  EXPECT_EQ(FileNames(kAppFolder),
            (std::vector<std::string>{"HISTORY.TXT", "ORVO.EXE", "ORVOOEM.DLL"}));
  EXPECT_EQ(trace.Count("DeleteFileA"), 0u);
  EXPECT_EQ(trace.Count("GetDriveTypeA"), 0u) << "no CD-ROM drive is looked for";
}

TEST_F(RunTest, TokenLongerThan256CharactersIsTakenAsAbsent) {
  wine->AddDrive('E', "cdrom");
  ASSERT_TRUE(wine->PutFile("E:\\OEM\\ORVOOEM.DLL", "oem on E"));
  MakeAppFolder("C:\\Orvo");

  // 300 characters that still name C:\Orvo when cut to 256, so that a cut
  // token would show in the folder.
  std::string longFolder = "C:\\Orvo";
  while (longFolder.size() < 300) longFolder += "\\.";
  ASSERT_GT(longFolder.size(), 256u);
  RelayTrace trace;
  RunResult r = wine->RunInstallerTraced({longFolder, "Manual"}, &trace);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(MessageBoxes(trace).empty());
  EXPECT_TRUE(wine->Exists("C:\\Orvo\\HISTORY.TXT"));
  EXPECT_EQ(wine->FileText("C:\\Orvo\\ORVOOEM.DLL"), "older oem library");
  EXPECT_EQ(trace.Count("DeleteFileA"), 0u);
  EXPECT_EQ(trace.Count("GetDriveTypeA"), 0u);

  // A document name of 257 characters: the library is copied, no manual is
  // looked for.
  const std::string manuals = "E:\\DATA\\DOC\\";
  r = wine->RunInstallerTraced({"C:\\Orvo", std::string(257, 'M')}, &trace);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_FALSE(wine->Exists("C:\\Orvo\\HISTORY.TXT"));
  EXPECT_EQ(wine->FileText("C:\\Orvo\\ORVOOEM.DLL"), "oem on E");
  EXPECT_FALSE(CallsOn(trace, "FindFirstFileA", "E:\\OEM\\ORVOOEM.DLL").empty());
  EXPECT_TRUE(CallsOn(trace, "FindFirstFileA", manuals).empty());

  // 256 characters are still a document name: both manuals are looked for.
  r = wine->RunInstallerTraced({"C:\\Orvo", std::string(256, 'M')}, &trace);
  EXPECT_EQ(r.exitCode, 0);
  // (Wine cuts long strings in its log, so only their start is compared.)
  auto lookups = CallsOn(trace, "FindFirstFileA", manuals + std::string(200, 'M'));
  EXPECT_EQ(lookups.size(), 2u);  // the German and the English manual
  EXPECT_TRUE(MessageBoxes(trace).empty());
}

}  // namespace
