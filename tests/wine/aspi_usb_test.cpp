// The ASPI layer and the two USB packages installed by the real drvsetup.exe
// under Wine, on both families: the ASPI files staged with their backups and
// restart renames and the layer's service values; the USB setup information
// files and the D2XX library, program and driver in their folders.
#include <algorithm>

#include "package_fixture.h"

using namespace winetest;

namespace {

const char kWindows[] = "C:\\windows\\";
const char kAspi32Key[] = "SYSTEM\\CurrentControlSet\\Services\\Aspi32";
const char kAspiEnumKey[] = "SYSTEM\\CurrentControlSet\\Services\\VXD\\ASPIEnum";
const char kApixKey[] = "SYSTEM\\CurrentControlSet\\Services\\VXD\\APIX";

// Both families' ASPI files travel in the source folder.
const std::vector<std::string> kAspiSources = {"ASPI32.NT",   "WNASPI32.NT", "WINASPI.NT",
                                               "WOWPOST.NT",  "WNASPI32.9x", "WINASPI.9x",
                                               "ASPIENUM.9x", "APIX.9x"};
const std::vector<std::string> kUsbSources = {"KOVA51USB.INF", "DQ_USB.INF", "FTD2XX.DLL",
                                              "FTD2XXUN.EXE", "FTD2XX.SYS"};

// One ASPI file: where it is staged, its final and its backup path, and the
// source it comes from.
struct AspiFile {
  std::string source, staging, final, backup;
};

std::vector<AspiFile> NtFiles() {
  const std::string s = kSystem, w = kWindows;
  return {
      {"ASPI32.NT", s + "Drivers\\ASPI32.NT", s + "Drivers\\ASPI32.SYS", s + "Drivers\\ASPI32.OLD"},
      {"WNASPI32.NT", s + "WNASPI32.NT", s + "WNASPI32.DLL", s + "WNASPI32.OLD"},
      {"WINASPI.NT", w + "SYSTEM\\WINASPI.NT", w + "SYSTEM\\WINASPI.DLL",
       w + "SYSTEM\\WINASPI.OLD"},
      {"WOWPOST.NT", w + "SYSTEM\\WOWPOST.NT", w + "SYSTEM\\WOWPOST.EXE",
       w + "SYSTEM\\WOWPOST.OLD"}};
}

std::vector<AspiFile> Files9x() {
  const std::string s = kSystem;
  return {{"WNASPI32.9x", s + "WNASPI32.9x", s + "WNASPI32.DLL", s + "WNASPI32.OLD"},
          {"WINASPI.9x", s + "WINASPI.9x", s + "WINASPI.DLL", s + "WINASPI.OLD"},
          {"ASPIENUM.9x", s + "ASPIENUM.9x", s + "ASPIENUM.VXD", s + "ASPIENUM.OLD"},
          {"APIX.9x", s + "IOSUBSYS\\APIX.9x", s + "IOSUBSYS\\APIX.VXD", s + "IOSUBSYS\\APIX.OLD"}};
}

// The rows in the order their renames are scheduled: the first row's final
// name marks an installed layer, so it comes last.
std::vector<AspiFile> InScheduleOrder(std::vector<AspiFile> files) {
  std::rotate(files.begin(), files.begin() + 1, files.end());
  return files;
}

std::string Pairs(const std::vector<PendingRename>& pending) {
  std::string out;
  for (const auto& p : pending) out += p.from + " -> " + (p.replace ? "!" : "") + p.to + "\n";
  return out;
}

class AspiUsbTest : public PackageTest {
 protected:
  void ExpectUsbFiles(const std::string& driversFolder, Caller caller = {}) {
    TRACE_CALLER(caller);
    ExpectFile("C:\\windows\\INF\\KOVA51USB.INF", NewContent("KOVA51USB.INF"));
    ExpectFile("C:\\windows\\INF\\DQ_USB.INF", NewContent("DQ_USB.INF"));
    ExpectFile(std::string(kSystem) + "FTD2XX.DLL", NewContent("FTD2XX.DLL"));
    ExpectFile(std::string(kSystem) + "FTD2XXUN.EXE", NewContent("FTD2XXUN.EXE"));
    ExpectFile(driversFolder + "FTD2XX.SYS", NewContent("FTD2XX.SYS"));
  }
};

TEST_F(AspiUsbTest, OnWin7TwoRunsAndRestartLeaveNewFilesUnderFinalNamesAndOldOnesAsBackups) {
  ASSERT_TRUE(wine->SetVersion("win7"));
  PlaceSource(kAspiSources);
  PlaceSource(kUsbSources);
  const std::string s = kSystem;
  const std::vector<AspiFile> files = NtFiles();
  // Before the first run: no ASPI32.SYS (so the layer is installed), Wine's
  // own WNASPI32.DLL, and older 16-bit files in the Windows SYSTEM folder.
  ASSERT_FALSE(wine->Exists(files[0].final));
  std::string wineWnaspi32;
  ASSERT_TRUE(wine->ReadFile(files[1].final, &wineWnaspi32));
  ASSERT_TRUE(wine->PutFile(files[2].final, "old WINASPI.DLL"));
  ASSERT_TRUE(wine->PutFile(files[3].final, "old WOWPOST.EXE"));
  const std::vector<std::string> heldBefore = {"", wineWnaspi32, "old WINASPI.DLL",
                                               "old WOWPOST.EXE"};

  RelayTrace trace;
  RunResult r = wine->RunInstallerTraced({}, &trace);
  ExpectQuietRun(r, trace);

  // Staged beside the final names, which still hold what they held.
  for (size_t i = 0; i < files.size(); ++i) {
    ExpectFile(files[i].staging, NewContent(files[i].source));
    if (heldBefore[i].empty())
      ExpectNoFile(files[i].final);
    else
      ExpectFile(files[i].final, heldBefore[i]);
  }
  for (const auto& f : Files9x()) ExpectNoFile(f.staging);

  // Per file: the final name to its backup, then the staged file to the
  // final name, each replacing what is there.
  std::vector<PendingRename> expected;
  for (const auto& f : InScheduleOrder(files)) {
    expected.push_back({"\\??\\" + f.final, "\\??\\" + f.backup, true});
    expected.push_back({"\\??\\" + f.staging, "\\??\\" + f.final, true});
  }
  const std::vector<PendingRename> afterFirst = wine->PendingRenames();
  EXPECT_EQ(Pairs(afterFirst), Pairs(expected));
  auto moves = trace.Named("MoveFileExA");
  ASSERT_EQ(moves.size(), 8u);
  for (const auto& m : moves) EXPECT_EQ(Arg32(m, 2), 5u) << m.Text(0);

  const std::vector<ExpectedValue> values = {
      Dword(kAspi32Key, "Type", 1),
      Dword(kAspi32Key, "Start", 2),
      Dword(kAspi32Key, "Undoable", 1),
      Dword(kAspi32Key, "ErrorControl", 1),
      Dword(kAspi32Key, "MatchFlags", 0),
      Sz(std::string(kAspi32Key) + "\\Parameters", "ExcludeMiniports", ""),
  };
  ExpectTree(kAspi32Key, values);
  ExpectWritten(trace, values);
  EXPECT_FALSE(wine->DumpKey("HKLM\\" + std::string(kAspiEnumKey)).exists);

  ExpectUsbFiles(s + "Drivers\\");

  // A second run before the restart stages the files again and leaves the
  // list as it was: renames queued twice would carry the new files on to
  // the backup names.
  r = wine->RunInstallerTraced({}, &trace);
  ExpectQuietRun(r, trace);
  for (const auto& f : files) {
    bool staged = false;
    for (const auto& c : trace.Named("CopyFileA")) staged = staged || c.Text(1) == f.staging;
    EXPECT_TRUE(staged) << f.staging;
  }
  EXPECT_EQ(Pairs(wine->PendingRenames()), Pairs(afterFirst));

  ASSERT_TRUE(wine->Restart());
  EXPECT_TRUE(wine->PendingRenames().empty());
  for (size_t i = 0; i < files.size(); ++i) {
    ExpectFile(files[i].final, NewContent(files[i].source));
    ExpectNoFile(files[i].staging);
    if (heldBefore[i].empty())
      ExpectNoFile(files[i].backup);
    else
      ExpectFile(files[i].backup, heldBefore[i]);
  }
  ExpectUsbFiles(s + "Drivers\\");

  // Now the layer is present: a further run leaves it alone.
  r = wine->RunInstallerTraced({}, &trace);
  ExpectQuietRun(r, trace);
  EXPECT_EQ(trace.Count("MoveFileExA"), 0u);
  for (const auto& w : ValueWrites(trace))
    EXPECT_EQ(w.key.find("Aspi32"), std::string::npos) << w.key << " " << w.name;
  EXPECT_TRUE(wine->PendingRenames().empty());
  for (size_t i = 0; i < files.size(); ++i) {
    ExpectFile(files[i].final, NewContent(files[i].source));
    ExpectNoFile(files[i].staging);
  }
}

TEST_F(AspiUsbTest, OnWin98LayerGoesThroughWininitAndDriverBesideTheSystemFolder) {
  ASSERT_TRUE(wine->SetVersion("win98"));
  PlaceSource(kAspiSources);
  PlaceSource(kUsbSources);
  const std::string s = kSystem;
  const std::vector<AspiFile> files = Files9x();
  // No WNASPI32.DLL (so the layer is installed), but an older ASPIENUM.VXD
  // and APIX.VXD; the 9x drivers folder is SYSTEM32\Drivers beside the
  // system folder, which under Wine is system3232\Drivers.
  ASSERT_TRUE(wine->Remove(files[0].final));
  ASSERT_TRUE(wine->PutFile(files[2].final, "old ASPIENUM.VXD"));
  ASSERT_TRUE(wine->PutFile(files[3].final, "old APIX.VXD"));
  const std::vector<std::string> heldBefore = {"", "", "old ASPIENUM.VXD", "old APIX.VXD"};
  const std::string drivers9x = "C:\\windows\\system3232\\Drivers\\";
  ASSERT_TRUE(wine->MakeFolder(drivers9x));

  RelayTrace trace;
  RunResult r = wine->RunInstallerTraced({}, &trace);
  ExpectQuietRun(r, trace);

  for (size_t i = 0; i < files.size(); ++i) {
    ExpectFile(files[i].staging, NewContent(files[i].source));
    if (heldBefore[i].empty())
      ExpectNoFile(files[i].final);
    else
      ExpectFile(files[i].final, heldBefore[i]);
  }
  for (const auto& f : NtFiles()) ExpectNoFile(f.staging);

  // Wininit.ini, keyed by the new path, in the order scheduled; the backup
  // rename is there whether or not the final name holds a file.
  std::vector<std::string> expected;
  for (const auto& f : InScheduleOrder(files)) {
    expected.push_back(f.backup + "=" + f.final);
    expected.push_back(f.final + "=" + f.staging);
  }
  const std::string wininit = wine->FileText("C:\\windows\\wininit.ini");
  EXPECT_EQ(IniSectionLines(wininit, "RENAME"), expected) << wininit;
  EXPECT_EQ(trace.Count("MoveFileExA"), 0u);
  EXPECT_TRUE(wine->PendingRenames().empty());

  // Byte counts as passed (Wine would store a 9x REG_SZ as length + 1
  // whatever the count).
  const std::vector<ExpectedValue> values = {
      Dword(kAspiEnumKey, "Start", 0),
      Sz(kAspiEnumKey, "StaticVxD", "ASPIENUM.VXD"),
      Sz(kApixKey, "ExcludeMiniports", ""),
  };
  ExpectTree(kAspiEnumKey, values);
  ExpectTree(kApixKey, values);
  ExpectWritten(trace, values);
  EXPECT_FALSE(wine->DumpKey("HKLM\\" + std::string(kAspi32Key)).exists);

  // Library and program into the system folder itself; only the driver
  // goes to the SYSTEM32 form.
  ExpectUsbFiles(drivers9x);
  ExpectNoFile(s + "Drivers\\FTD2XX.SYS");

  ASSERT_TRUE(wine->Restart());
  ExpectNoFile("C:\\windows\\wininit.ini");
  for (size_t i = 0; i < files.size(); ++i) {
    ExpectFile(files[i].final, NewContent(files[i].source));
    ExpectNoFile(files[i].staging);
    if (heldBefore[i].empty())
      ExpectNoFile(files[i].backup);
    else
      ExpectFile(files[i].backup, heldBefore[i]);
  }
}

}  // namespace
