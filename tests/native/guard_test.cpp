// The running-application guard: both process walks, the host application
// test, and the run stopped before anything is touched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "guard.h"
#include "harness.h"
#include "sim.h"

namespace {

struct Seen {
  DWORD pid;
  std::string name;
};
std::vector<Seen> seen;
DWORD seenExtra = 0;

bool Record(DWORD pid, const char* name, DWORD extra) {
  seen.push_back({pid, name});
  seenExtra = extra;
  return true;
}

// Records, then decides as the guard does.
bool RecordAndTest(DWORD pid, const char* name, DWORD extra) {
  seen.push_back({pid, name});
  return IsHostApplicationProcess(pid, name, extra);
}

bool Walk(ProcessCallback callback = RecordAndTest, DWORD extra = 0) {
  seen.clear();
  HostApplicationFound = false;
  return EnumerateProcesses(callback, extra);
}

bool Matches(const char* name) {
  HostApplicationFound = false;
  const bool goOn = IsHostApplicationProcess(1, name, 0);
  EXPECT_EQ(goOn, !HostApplicationFound) << name;
  return HostApplicationFound;
}

void AddProcess(DWORD pid, const std::string& path, bool openable = true,
                bool modulesReadable = true) {
  sim::ProcessSpec spec;
  spec.pid = pid;
  spec.imagePath = path;
  spec.openable = openable;
  spec.modulesReadable = modulesReadable;
  sim::AddProcess(spec);
}

TEST(HostApplicationTest, MatchesTheFileNamePartInAnyLetterCase) {
  for (const char* name :
       {"ORVO.EXE", "orvo.exe", "C:\\Program Files\\Orvo\\Orvo.Exe",
        "\\\\server\\share\\ORVOPLAY.EXE", "D:orvoclub.exe", "a:b\\c:ORVO.EXE"}) {
    EXPECT_TRUE(Matches(name)) << name;
  }
}

TEST(HostApplicationTest, OtherNamesDoNotMatch) {
  for (const char* name :
       {"", "MYORVO.EXE", "ORVO.EXE.BAK", "ORVO", "ORVO.EX", "ORVO.EXE ", " ORVO.EXE",
        "C:\\ORVO.EXE\\", "ORVO.EXE\\X.EXE", "ORVOCLUB", "ORVOSTUDIO.EXE", "C:\\ORVO\\setup.exe"}) {
    EXPECT_FALSE(Matches(name)) << name;
  }
  // Only a to z are folded: bytes that a careless fold would turn into a
  // table letter stay as they are.
  for (const char* name : {"orvo.ex\xe5", "\xcfRVO.EXE",
                           "ORVO\xae"
                           "EXE",
                           "ORV\xef.EXE"}) {
    EXPECT_FALSE(Matches(name)) << name;
  }
  HostApplicationFound = false;
  EXPECT_TRUE(IsHostApplicationProcess(1, nullptr, 0));
  EXPECT_FALSE(HostApplicationFound);
}

TEST(HostApplicationTest, TheFlagIsNeverReset) {
  HostApplicationFound = false;
  IsHostApplicationProcess(1, "ORVO.EXE", 0);
  IsHostApplicationProcess(2, "NOTEPAD.EXE", 0);
  EXPECT_TRUE(HostApplicationFound);
  HostApplicationFound = false;
}

TEST(IsNt4OrLaterTest, ByVersion) {
  const struct {
    sim::Windows version;
    bool expected;
  } cases[] = {{sim::Windows::Win95, false}, {sim::Windows::Win98, false},
               {sim::Windows::WinMe, false}, {sim::Windows::NT351, false},
               {sim::Windows::NT40, true},   {sim::Windows::Win2k, true},
               {sim::Windows::WinXP, true},  {sim::Windows::Win10, true}};
  for (const auto& c : cases) {
    ResetMachine(c.version);
    EXPECT_EQ(IsNt4OrLater(), c.expected) << sim::WindowsName(c.version);
  }
  // Without a version the snapshot walk is chosen.
  ResetMachine(sim::Windows::WinXP);
  sim::SetVersionFails(true);
  EXPECT_FALSE(IsNt4OrLater());
}

// Both walks: the snapshot walk on the 9x family, the identifier walk on NT.
class Guard : public ::testing::TestWithParam<sim::Windows> {
 protected:
  void SetUp() override {
    ResetMachine(GetParam());
    HostApplicationFound = false;
  }
  void TearDown() override {
    EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
    HostApplicationFound = false;
  }
};

TEST_P(Guard, HandsEveryProcessToTheCallback) {
  AddProcess(7001, "C:\\TOOLS\\ONE.EXE");
  AddProcess(7002, "D:\\TWO.EXE");
  ASSERT_TRUE(Walk(Record, 0x1234abcd));
  EXPECT_EQ(seen.size(), sim::Processes().size());
  EXPECT_EQ(seenExtra, 0x1234abcdu);
  size_t found = 0;
  for (const Seen& s : seen) {
    if (s.pid == 7001 || s.pid == 7002) {
      ++found;
      EXPECT_NE(s.name.find(s.pid == 7001 ? "ONE.EXE" : "TWO.EXE"), std::string::npos);
    }
  }
  EXPECT_EQ(found, 2u);
  EXPECT_FALSE(HostApplicationFound);
}

TEST_P(Guard, FindsTheHostApplicationFromAnyFolderInLowerCase) {
  AddProcess(7001, "E:\\some where\\else\\orvoplay.exe");
  EXPECT_TRUE(Walk());
  EXPECT_TRUE(HostApplicationFound);
}

TEST_P(Guard, NearMissesDoNotStopTheRun) {
  AddProcess(7001, "C:\\ORVO\\XORVO.EXE");
  AddProcess(7002, "C:\\ORVO\\ORVO.EXE.OLD");
  AddProcess(7003, "C:\\ORVO\\ORVOCLUB");
  EXPECT_TRUE(Walk());
  EXPECT_FALSE(HostApplicationFound);
}

TEST_P(Guard, TheWalkStopsAtTheFirstHostApplication) {
  sim::ClearProcesses();
  AddProcess(7001, "C:\\A.EXE");
  AddProcess(7002, "C:\\ORVO\\ORVO.EXE");
  AddProcess(7003, "C:\\ORVO\\ORVOCLUB.EXE");
  AddProcess(7004, "C:\\B.EXE");
  ASSERT_TRUE(Walk());
  EXPECT_TRUE(HostApplicationFound);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().pid, 7002u);
  for (const Seen& s : seen) EXPECT_TRUE(s.pid != 7003 && s.pid != 7004) << s.pid;
}

TEST_P(Guard, ManyProcessesWithTheHostApplicationLast) {
  for (DWORD pid = 10000; pid < 10600; ++pid) AddProcess(pid, "C:\\BUSY\\WORKER.EXE");
  AddProcess(20000, "C:\\ORVO\\ORVOCLUB.EXE");
  ASSERT_TRUE(Walk());
  EXPECT_TRUE(HostApplicationFound);
  EXPECT_EQ(seen.size(), sim::Processes().size());
  EXPECT_EQ(seen.back().pid, 20000u);
}

TEST_P(Guard, RefusedListsMeanNotFound) {
  AddProcess(7001, "C:\\ORVO\\ORVO.EXE");
  const std::vector<std::string> failing =
      sim::Is9x(GetParam())
          ? std::vector<std::string>{"LoadLibraryA", "CreateToolhelp32Snapshot"}
          : std::vector<std::string>{"LoadLibraryA", "HeapAlloc", "EnumProcesses"};
  for (const std::string& function : failing) {
    sim::ClearFaults();
    sim::FailFunction(function);
    EXPECT_FALSE(Walk()) << function;
    EXPECT_FALSE(HostApplicationFound) << function;
    EXPECT_TRUE(sim::NothingOutstanding()) << function << ": " << sim::OutstandingText();
  }
}

TEST_P(Guard, AMissingLibraryOrEntryPointMeansNotFound) {
  AddProcess(7001, "C:\\ORVO\\ORVO.EXE");
  const bool is9x = sim::Is9x(GetParam());
  const std::string library = is9x ? "KERNEL32.DLL" : "PSAPI.DLL";
  const std::vector<std::string> entryPoints =
      is9x
          ? std::vector<std::string>{"CreateToolhelp32Snapshot", "Process32First", "Process32Next"}
          : std::vector<std::string>{"EnumProcesses", "EnumProcessModules", "GetModuleFileNameExA"};
  for (const std::string& entry : entryPoints) {
    sim::SetEntryPointMissing(library, entry, true);
    EXPECT_FALSE(Walk()) << entry;
    EXPECT_FALSE(HostApplicationFound) << entry;
    EXPECT_TRUE(sim::NothingOutstanding()) << entry << ": " << sim::OutstandingText();
    sim::SetEntryPointMissing(library, entry, false);
  }
  if (!is9x) {
    sim::SetLibraryMissing(library, true);
    EXPECT_FALSE(Walk());
    EXPECT_FALSE(HostApplicationFound);
  }
}

TEST_P(Guard, TheHostApplicationStopsTheRunBeforeAnythingIsTouched) {
  AddProcess(7001, "C:\\Program Files\\Orvo\\orvo.exe");
  sim::PutFile("C:\\SETUP\\ZOLTAVEX.DLL", "library");
  sim::PutFile("C:\\SETUP\\FTD2XX.DLL", "library");
  sim::PutFile("C:\\APP\\HISTORY.TXT", "notes");
  sim::RegPutString(HKEY_CURRENT_USER, "Software\\Miravelt\\Engine\\Device", "Name", "x");
  sim::SetDrive('E', DRIVE_CDROM);
  sim::PutFile("E:\\OEM\\ORVOOEM.DLL", "oem");
  const std::string before = sim::Dump();

  const sim::RunResult result = RunInstaller("C:\\APP Manual");
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 0u);
  ASSERT_EQ(sim::Boxes().size(), 1u);
  EXPECT_EQ(sim::Boxes()[0].text, kGuardMessage);
  EXPECT_EQ(sim::Boxes()[0].caption, "Miravelt Installation");
  EXPECT_EQ(sim::Boxes()[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(sim::Boxes()[0].owner, nullptr);
  EXPECT_EQ(sim::DiffDumps(before, sim::Dump()), "");
  for (const char* function : {"CopyFileA", "DeleteFileA", "WritePrivateProfileStringA",
                               "RegDeleteKeyA", "RegCreateKeyExA", "MoveFileExA", "GetDriveTypeA"})
    EXPECT_EQ(CallsOf(function), 0u) << function;
}

TEST_P(Guard, WithoutTheHostApplicationTheRunGoesOn) {
  AddProcess(7001, "C:\\Program Files\\Orvo\\ORVOSTUDIO.EXE");
  sim::PutFile("C:\\APP\\HISTORY.TXT", "notes");
  const sim::RunResult result = RunInstaller("C:\\APP");
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(sim::Exists("C:\\APP\\HISTORY.TXT"));
  for (const sim::Box& box : sim::Boxes()) EXPECT_NE(box.text, kGuardMessage);
}

TEST_P(Guard, AFailedWalkLetsTheRunGoOn) {
  AddProcess(7001, "C:\\ORVO\\ORVO.EXE");
  sim::FailFunction("LoadLibraryA");
  sim::PutFile("C:\\APP\\HISTORY.TXT", "notes");
  const sim::RunResult result = RunInstaller("C:\\APP");
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(sim::Exists("C:\\APP\\HISTORY.TXT"));
  for (const sim::Box& box : sim::Boxes()) EXPECT_NE(box.text, kGuardMessage);
}

INSTANTIATE_TEST_SUITE_P(Families, Guard,
                         ::testing::Values(sim::Windows::Win95, sim::Windows::Win98,
                                           sim::Windows::NT40, sim::Windows::WinXP,
                                           sim::Windows::Win10),
                         [](const ::testing::TestParamInfo<sim::Windows>& info) {
                           return std::string(sim::WindowsName(info.param));
                         });

// The identifier walk's own cases.
class IdentifierWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMachine(sim::Windows::WinXP);
    HostApplicationFound = false;
  }
  void TearDown() override {
    EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
    HostApplicationFound = false;
  }
};

TEST_F(IdentifierWalk, UnreadableProcessesAreSeenWithEmptyNames) {
  AddProcess(7001, "C:\\ORVO\\ORVO.EXE", false, true);
  AddProcess(7002, "C:\\ORVO\\ORVOPLAY.EXE", true, false);
  ASSERT_TRUE(Walk());
  EXPECT_FALSE(HostApplicationFound);
  size_t found = 0;
  for (const Seen& s : seen) {
    if (s.pid == 7001 || s.pid == 7002) {
      ++found;
      EXPECT_EQ(s.name, "") << s.pid;
    }
  }
  EXPECT_EQ(found, 2u);
  // Every process that was opened was closed again (checked in TearDown).
  EXPECT_GT(CallsOf("OpenProcess"), 0u);
}

TEST_F(IdentifierWalk, TheIdentifierBufferGrowsUntilTheListFits) {
  // Far more processes than a first, small buffer holds: every one is seen,
  // and every buffer is freed again (checked in TearDown).
  for (DWORD pid = 10000; pid < 10700; ++pid) AddProcess(pid, "C:\\BUSY\\WORKER.EXE");
  ASSERT_TRUE(Walk(Record));
  EXPECT_EQ(seen.size(), sim::Processes().size());
  EXPECT_GT(CallsOf("EnumProcesses"), 1u);
}

TEST_F(IdentifierWalk, HeapExhaustedWhileGrowingMeansNotFound) {
  for (DWORD pid = 10000; pid < 10300; ++pid) AddProcess(pid, "C:\\BUSY\\WORKER.EXE");
  AddProcess(20000, "C:\\ORVO\\ORVO.EXE");
  // A first walk finds where the larger allocation comes; a second fails it.
  sim::ClearTrace();
  ASSERT_TRUE(Walk());
  size_t index = 0, allocations = 0;
  for (size_t i = 0; i < sim::Trace().size(); ++i) {
    if (sim::Trace()[i].function == "HeapAlloc" && ++allocations == 2) index = i + 1;
  }
  ASSERT_NE(index, 0u);
  sim::ClearTrace();
  sim::FailCall(index);
  EXPECT_FALSE(Walk());
  EXPECT_FALSE(HostApplicationFound);
}

TEST_F(IdentifierWalk, PsapiIsLoadedFromTheSystemFolderOnly) {
  // A library planted beside the installer is never loaded.
  sim::PutFile("C:\\SETUP\\PSAPI.DLL", "planted");
  sim::SetCommandLine("\"C:\\SETUP\\DRVSETUP.EXE\"");
  ASSERT_TRUE(Walk());
  bool fromSystemFolder = false;
  for (const std::string& file : sim::LoadedLibraryFiles()) {
    EXPECT_EQ(file.find("C:\\SETUP\\"), std::string::npos) << file;
    if (file == sim::SystemFolder() + "\\PSAPI.DLL") fromSystemFolder = true;
  }
  EXPECT_TRUE(fromSystemFolder);
}

TEST(SnapshotWalk, NamesWithOrWithoutFolderAreTested) {
  ResetMachine(sim::Windows::Win98);
  sim::ProcessSpec spec;
  spec.pid = 7001;
  spec.imagePath = "C:\\ORVO\\ORVO.EXE";
  spec.snapshotName = "orvo.exe";
  sim::AddProcess(spec);
  EXPECT_TRUE(Walk());
  EXPECT_TRUE(HostApplicationFound);

  ResetMachine(sim::Windows::Win98);
  spec.snapshotName = "C:\\PROGRA~1\\ORVO\\ORVOCLUB.EXE";
  sim::AddProcess(spec);
  EXPECT_TRUE(Walk());
  EXPECT_TRUE(HostApplicationFound);
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
  HostApplicationFound = false;
}

TEST(SnapshotWalk, NtBeforeVersion4HasNoWalk) {
  ResetMachine(sim::Windows::NT351);
  AddProcess(7001, "C:\\ORVO\\ORVO.EXE");
  EXPECT_FALSE(Walk());
  EXPECT_FALSE(HostApplicationFound);
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
}

}  // namespace
