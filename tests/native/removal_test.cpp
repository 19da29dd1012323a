// The removal program on the simulated machine: the round trip on every
// version against the keep list, files in use and the renames an install left
// pending, other programs' things, Wininit.ini's other lines, and its start
// and messages like the installer's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_removal.h"
#include "harness.h"
#include "key_access.h"
#include "machine_state.h"
#include "sim.h"

namespace {

const char kApp[] = "C:\\APP";
const char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root";
const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string Win() { return sim::WindowsFolder(); }
std::string Sys() { return sim::SystemFolder(); }

// Things of other programs that look like the product's: a removal leaves
// them as they are.
void PutOtherPrograms() {
  sim::PutFile(Win() + "\\INF\\OTHERUSB.INF", "other");
  sim::PutFile(Sys() + "\\ZOLTAVEX.BAK", "the user's own copy");
  sim::RegPutString(HKEY_LOCAL_MACHINE, kRunKey, "Other Tool", "other.exe");
  sim::RegPutString(HKEY_LOCAL_MACHINE, "Software\\Miravelt Tools\\Tuner", "Path", "C:\\TUNER");
  sim::RegPutString(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\OTHERDEV\\0000", "Class",
                    "OTHER");
  sim::RegPutString(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\REALTIMEX", "",
                    "Other");
}

// A machine with everything the installer can place: every package file in
// the source folder, a 9x SYSTEM.INI with the driver's lines, an application
// folder and a CD-ROM with the OEM library and the manuals.
void PrepareFullInstall(sim::Windows version) {
  ResetMachine(version);
  for (const std::string& file : PackageFiles()) sim::PutFile("C:\\SETUP\\" + file, file);
  if (sim::Is9x(version)) sim::PutIni(Win() + "\\SYSTEM.INI", kSystemIni9x);
  sim::PutFile(std::string(kApp) + "\\HISTORY.TXT", "notes");
  sim::SetDrive('E', DRIVE_CDROM);
  sim::PutFile("E:\\OEM\\ORVOOEM.DLL", "oem");
  sim::PutFile("E:\\DATA\\DOC\\Manual-en.pdf", "manual");
  PutOtherPrograms();
}

// The whole machine: every file, the INI files, the registry, the pending
// renames, and on the NT family the device tree's access list.
prove::State WholeMachine() {
  prove::Watch watch;
  watch.folders = {"C:\\"};
  watch.iniFiles = {Win() + "\\SYSTEM.INI", Win() + "\\WIN.INI", Win() + "\\Wininit.ini"};
  watch.keys = {"HKLM", "HKCU"};
  if (!sim::Is9x(sim::Version())) watch.securityKey = kEnumRoot;
  return prove::SimState(watch);
}

// The changes since `before` that neither the keep list nor the round trip
// explains, one line each.
std::string Unexplained(const prove::State& before, const prove::State& after) {
  std::string lines;
  for (const auto& change : prove::Changes(before, after)) {
    if (!RoundTripReason(change.first, kApp)) lines += change.first + ": " + change.second + "\n";
  }
  return lines;
}

void ExpectSilentRemoval() {
  const size_t boxes = sim::Boxes().size();
  const sim::RunResult result = RunRemover();
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(sim::Boxes().size(), boxes) << BoxTexts().back();
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
}

// Before, install, (restart,) remove, restart: the machine is the one from
// before but for the keep list; a second removal changes nothing; what
// others share is still there.
TEST(RemovalTest, RoundTripOnEveryVersionLeavesOnlyTheKeepList) {
  for (sim::Windows version : AllVersions()) {
    for (bool restartBetween : {true, false}) {
      SCOPED_TRACE(std::string(sim::WindowsName(version)) +
                   (restartBetween ? " restart between" : " no restart between"));
      PrepareFullInstall(version);
      const prove::State before = WholeMachine();
      ASSERT_EQ(RunInstaller(std::string(kApp) + " Manual").exitCode, 0u);
      if (restartBetween) sim::Restart();
      ASSERT_NE(Unexplained(before, WholeMachine()), "");  // there is something to remove
      ExpectSilentRemoval();
      sim::Restart();
      const prove::State after = WholeMachine();
      EXPECT_EQ(Unexplained(before, after), "");

      ExpectSilentRemoval();
      EXPECT_TRUE(prove::Changes(after, WholeMachine()).empty());
      EXPECT_EQ(File(Sys() + "\\FTD2XX.DLL"), "FTD2XX.DLL");
      EXPECT_NE(sim::Attributes(Sys() + "\\WNASPI32.DLL"), INVALID_FILE_ATTRIBUTES);
      EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Miravelt"));
    }
  }
}

TEST(RemovalTest, OnAMachineWithoutTheProductChangesAndShowsNothing) {
  for (sim::Windows version : AllVersions()) {
    SCOPED_TRACE(sim::WindowsName(version));
    ResetMachine(version);
    PutOtherPrograms();
    const prove::State before = WholeMachine();
    ExpectSilentRemoval();
    EXPECT_TRUE(prove::Changes(before, WholeMachine()).empty());
  }
}

// What another program wrote under the product's names stays: a Run value
// of that name that starts something else, and the maker's key while it
// holds anything else.
TEST(RemovalTest, KeepsWhatBelongsToOthers) {
  for (sim::Windows version : {sim::Windows::Win98, sim::Windows::WinXP}) {
    PrepareFullInstall(version);
    RunInstaller();
    sim::Restart();
    sim::RegPutString(HKEY_LOCAL_MACHINE, kRunKey, "Realtime Audio Engine", "other.exe");
    sim::RegPutString(HKEY_LOCAL_MACHINE, "Software\\Miravelt\\Studio", "Path", kApp);
    ExpectSilentRemoval();
    EXPECT_EQ(Reg(kRunKey, "Realtime Audio Engine"), Sz("other.exe"));
    EXPECT_EQ(Reg("Software\\Miravelt\\Studio", "Path"), Sz(kApp));
    EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Miravelt\\ZOLTAVEX"));
  }
}

// The engine program running and the driver loaded: both go at the next
// restart (on 9x through Wininit.ini, whose other lines stay), and so does
// the engine library an install left pending while its staged copy is held.
// A second removal before the restart adds nothing.
TEST(RemovalTest, FilesInUseAndPendingRenamesAreGoneAfterTheRestart) {
  const std::string otherWininit =
      "[Rename]\r\nC:\\OTHER\\A.DLL=C:\\OTHER\\A.NEW\r\nNUL=C:\\OTHER\\OLD.TMP\r\n\r\n"
      "[Other]\r\nkept=1\r\n";
  for (sim::Windows version : {sim::Windows::Win95, sim::Windows::Win98, sim::Windows::NT40,
                               sim::Windows::WinXP, sim::Windows::Win10}) {
    SCOPED_TRACE(sim::WindowsName(version));
    PrepareFullInstall(version);
    const bool nineX = sim::Is9x(version);
    sim::PutFile(Sys() + "\\ZOLTAVEX.DLL", "the previous engine library");
    if (nineX) sim::PutIni(Win() + "\\Wininit.ini", otherWininit);
    RunInstaller();
    if (!nineX) sim::Restart();  // the 9x install's renames stay pending
    const std::vector<std::string> held = {
        Sys() + (nineX ? "\\ZOLTAVEX.VXD" : "\\DRIVERS\\ZOLTAVEX.SYS"),
        Sys() + (nineX ? "\\ZOLTAVEX.DL" : "\\ZOLTAVEX.EXE"), Sys() + "\\ZOLTAVEX.DLL"};
    for (const std::string& path : held) sim::SetLocked(path, true);
    ExpectSilentRemoval();
    for (const std::string& path : held) EXPECT_NE(File(path), "missing") << path;
    if (nineX) {
      const std::string text = sim::IniText(Win() + "\\Wininit.ini");
      EXPECT_EQ(
          text.find("[Rename]\r\nC:\\OTHER\\A.DLL=C:\\OTHER\\A.NEW\r\nNUL=C:\\OTHER\\OLD.TMP"), 0u)
          << text;
      EXPECT_NE(text.find("\r\n\r\n[Other]\r\nkept=1\r\n"), std::string::npos) << text;
    }
    const prove::State removed = WholeMachine();
    ExpectSilentRemoval();
    EXPECT_TRUE(prove::Changes(removed, WholeMachine()).empty());

    sim::Restart();
    for (const char* name : {"ZOLTAVEX.DLL", "ZOLTAVEX.DL", "ZOLTAVEX.EXE", "ZOLTAVEX.EX",
                             "ZOLTAVEX.VXD", "DRIVERS\\ZOLTAVEX.SYS"}) {
      EXPECT_EQ(File(Sys() + "\\" + name), "missing") << name;
    }
    EXPECT_EQ(File(Win() + "\\INF\\OTHERUSB.INF"), "other");
  }
}

// A folder the platform does not report gives no path from a root: nothing
// is deleted relative to the current folder, where the package files lie.
TEST(RemovalTest, NoFileGoesWhenItsFolderCannotBeRead) {
  for (sim::Windows version : {sim::Windows::Win98, sim::Windows::WinXP}) {
    for (const char* folderCall : {"GetSystemDirectoryA", "GetWindowsDirectoryA"}) {
      PrepareFullInstall(version);
      RunInstaller();
      sim::Restart();
      sim::FailFunction(folderCall);
      RunRemover();
      sim::ClearFaults();
      for (const std::string& file : PackageFiles()) {
        EXPECT_EQ(File("C:\\SETUP\\" + file), file) << folderCall;
      }
      EXPECT_EQ(CallsOf("DeleteFileA", "C:\\SETUP\\"), 0u) << sim::TraceText();
    }
  }
}

TEST(RemovalTest, RefusedWininitWriteEndsWithTheInstallersErrorBox) {
  PrepareFullInstall(sim::Windows::Win98);
  RunInstaller();
  sim::Restart();
  sim::SetLocked(Sys() + "\\ZOLTAVEX.EXE", true);
  sim::MakeFolder(Win() + "\\Wininit.ini");
  const sim::RunResult result = RunRemover();
  EXPECT_EQ(result.exitCode, 1u);
  ASSERT_EQ(sim::Boxes().size(), 1u);
  EXPECT_EQ(sim::Boxes()[0].text, "Unable to write to Wininit.ini");
  EXPECT_EQ(sim::Boxes()[0].caption, "Application Error");
}

// The device tree goes under the installer's grant; an Everyone entry that
// a stopped run left on its parent is withdrawn even when the tree is gone.
TEST(RemovalTest, DeviceTreeAccessListIsTheOneFromBefore) {
  ResetMachine(sim::Windows::WinXP);
  const sim::KeySecurity before = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot);
  sim::KeySecurity leftOver = before;
  sim::Ace grant;
  grant.flags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  grant.mask = GENERIC_ALL;
  grant.sid = "S-1-1-0";
  leftOver.dacl.insert(leftOver.dacl.begin(), grant);
  sim::SetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot, leftOver);
  ExpectSilentRemoval();
  EXPECT_EQ(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot), before);

  // A run stopped after its withdrawal but before it forgot the kept list:
  // the list goes, and with it the maker's key.
  sim::Run([] {
    SavedKeyAccess saved;
    ReadKeyAccess(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root\\", saved);
    KeepKeyAccess(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\Root\\", saved);
  });
  ASSERT_TRUE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Miravelt"));
  ExpectSilentRemoval();
  EXPECT_FALSE(sim::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Miravelt"));
  EXPECT_EQ(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRoot), before);

  sim::RegPutString(HKEY_LOCAL_MACHINE, std::string(kEnumRoot) + "\\REALTIME\\0000", "Class",
                    "REALTIME");
  sim::FailFunction("SetNamedSecurityInfoA");
  RunRemover();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                            "Unable to set permission for \"HKLM\\System\\Enum\\Root\" !"});
}

TEST(RemovalTest, StopsBeforeAnythingWhileTheHostApplicationRuns) {
  for (sim::Windows version : {sim::Windows::Win98, sim::Windows::WinXP}) {
    ResetMachine(version);
    RunInstaller();
    sim::Restart();
    sim::AddProcess({4242, "C:\\Program Files\\Orvo\\ORVO.EXE", "", true, true});
    const std::string before = sim::Dump();
    sim::ClearTrace();
    const sim::RunResult result = RunRemover();
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{kGuardMessage});
    EXPECT_EQ(sim::DiffDumps(before, sim::Dump()), "") << sim::WindowsName(version);
    EXPECT_EQ(FirstCall("GetWindowsDirectoryA"), std::string::npos) << sim::TraceText();
  }
}

// Which of the paths a restart leaves holding a file, given the renames
// pending for it and what holds a file now.
TEST(RemovalRulesTest, PathsLeftAfterThePendingRenames) {
  const std::string dl = "C:\\S\\E.DL", dll = "C:\\S\\E.DLL", other = "C:\\O\\X.NEW";
  const struct {
    const char* what;
    std::vector<PendingRename> pending;
    std::vector<std::string> holding;
    std::vector<std::string> left;
  } cases[] = {
      {"deleted now, nothing pending", {}, {}, {}},
      {"held now", {}, {dll}, {dll}},
      {"a held staging copy moves onto the final name", {{dl, dll, true}}, {dl}, {dll}},
      {"a deleted staging copy brings nothing", {{dl, dll, true}}, {}, {}},
      {"a deletion already pending last", {{dl, dll, true}, {dll, "", true}}, {dl}, {}},
      {"another program's file moved in", {{other, dl, true}}, {other}, {dl}},
      {"a rename without replacement fails on a held file",
       {{other, dll, false}},
       {other, dll},
       {dll}},
      {"ours moved away to another name", {{dll, other, true}}, {dll}, {}},
  };
  for (const auto& c : cases) {
    const auto holds = [&c](const std::string& path) {
      for (const std::string& h : c.holding) {
        if (h == path) return true;
      }
      return false;
    };
    EXPECT_EQ(PathsLeftAfterRenames({dl, dll}, c.pending, holds), c.left) << c.what;
  }
}

// Lines added to an INI section keep every other line, its order and its
// line ending (a last line without one gets one).
TEST(RemovalRulesTest, LinesAddedToTheRenameSection) {
  const std::vector<std::string> nul = {"NUL=C:\\A"};
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"", "[rename]\r\nNUL=C:\\A\r\n"},
      {"[other]\nx=1", "[other]\nx=1\r\n[rename]\r\nNUL=C:\\A\r\n"},
      {"[RENAME]\r\nB=C\r\n", "[RENAME]\r\nB=C\r\nNUL=C:\\A\r\n"},
      {"[Rename]\nB=C", "[Rename]\nB=C\r\nNUL=C:\\A\r\n"},
      // A file cut after its last CR: the LF completes that line, which
      // would otherwise run on into the deletion and change both.
      {"[rename]\r\nB=C\r", "[rename]\r\nB=C\r\nNUL=C:\\A\r\n"},
      {"[x]\r\ny=2\r", "[x]\r\ny=2\r\n[rename]\r\nNUL=C:\\A\r\n"},
      {" [ rename ] \r\nNUL=C:\\B\r\n\r\n[x]\r\ny=2\r\n",
       " [ rename ] \r\nNUL=C:\\B\r\nNUL=C:\\A\r\n\r\n[x]\r\ny=2\r\n"},
      {"[rename]\r\n\r\n[x]\r\n[rename]\r\nB=C\r\n",
       "[rename]\r\nNUL=C:\\A\r\n\r\n[x]\r\n[rename]\r\nB=C\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WithLinesInSection(c.text, "rename", nul), c.expected) << c.text;
  }
  const std::vector<PendingRename> renames =
      WininitRenames("[x]\r\nA=B\r\n[Rename]\r\n;C=D\r\nC:\\N=C:\\O\r\nnul = C:\\D\r\n");
  ASSERT_EQ(renames.size(), 2u);
  EXPECT_EQ(renames[0].newPath + "<" + renames[0].existingPath, "C:\\N<C:\\O");
  EXPECT_EQ(renames[1].newPath + "<" + renames[1].existingPath, "<C:\\D");
}

}  // namespace
