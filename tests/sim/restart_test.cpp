// What a restart of the simulated machine carries out.
#include <gtest/gtest.h>

#include <string>

#include "sim.h"

namespace {

std::string Data(const std::string& path) {
  std::string data;
  return sim::FileData(path, &data) ? data : "<none>";
}

bool HasProcess(const std::string& image) {
  for (const sim::ProcessSpec& p : sim::Processes()) {
    if (p.imagePath == image) return true;
  }
  return false;
}

TEST(Restart, PendingRenamesRunInOrderAndAreThenGone) {
  sim::Reset(sim::Windows::WinXP);
  const std::string s = "C:\\WINDOWS\\system32\\";
  sim::PutFile(s + "WNASPI32.DLL", "old aspi", FILE_ATTRIBUTE_READONLY);
  sim::PutFile(s + "WNASPI32.DL", "new aspi");
  sim::PutFile(s + "KEEP.DLL", "kept");
  sim::PutFile(s + "KEEP.DL", "not placed");
  sim::PutFile(s + "TEMP.TMP", "temporary");
  // The old file moves aside first, then the staged one takes its name.
  ASSERT_TRUE(MoveFileExA((s + "WNASPI32.DLL").c_str(), (s + "WNASPI32.OLD").c_str(), 5));
  ASSERT_TRUE(MoveFileExA((s + "WNASPI32.DL").c_str(), (s + "WNASPI32.DLL").c_str(), 5));
  // Without the replace flag an existing target stays.
  ASSERT_TRUE(MoveFileExA((s + "KEEP.DL").c_str(), (s + "KEEP.DLL").c_str(), 4));
  ASSERT_TRUE(MoveFileExA((s + "TEMP.TMP").c_str(), nullptr, 4));
  ASSERT_TRUE(MoveFileExA((s + "NEVER.DL").c_str(), (s + "NEVER.DLL").c_str(), 5));
  sim::SetLocked(s + "WNASPI32.DLL", true);
  sim::SetLocked(s + "KEEP.DL", true);
  const sim::RegistryAtMark mark = sim::TakeRegistryAtMark();

  sim::Restart();
  EXPECT_EQ(sim::ChangedBehindMark(mark), "");  // the pending list's value went
  EXPECT_EQ(Data(s + "WNASPI32.OLD"), "old aspi");
  EXPECT_EQ(Data(s + "WNASPI32.DLL"), "new aspi");
  EXPECT_EQ(Data(s + "KEEP.DLL"), "kept");
  EXPECT_EQ(Data(s + "KEEP.DL"), "not placed");
  EXPECT_FALSE(sim::Exists(s + "TEMP.TMP"));
  EXPECT_FALSE(sim::Exists(s + "NEVER.DLL"));
  EXPECT_FALSE(sim::Exists(s + "WNASPI32.DL"));
  EXPECT_TRUE(sim::PendingRenames().empty());
  sim::Value value;
  EXPECT_FALSE(sim::RegGet(HKEY_LOCAL_MACHINE,
                           "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                           "PendingFileRenameOperations", &value));
  // Locks ended with the processes that held them.
  EXPECT_TRUE(DeleteFileA((s + "KEEP.DL").c_str()));
}

// What a removal leaves for the restart: on the NT family pending renames
// without a new name, on the 9x family Wininit.ini's NUL lines.
TEST(Restart, DeletionsWaitForTheRestartOnEachFamily) {
  sim::Reset(sim::Windows::WinXP);
  const std::string nt = "C:\\WINDOWS\\system32\\";
  sim::PutFile(nt + "drivers\\ZOLTAVEX.SYS", "driver");
  sim::PutFile("C:\\FULL\\A.TXT", "a");
  sim::MakeFolder("C:\\EMPTY\\INNER");
  // Children first: the folder is empty by the time its own entry comes.
  for (const char* path : {"C:\\WINDOWS\\system32\\drivers\\ZOLTAVEX.SYS", "C:\\EMPTY\\INNER",
                           "C:\\EMPTY", "C:\\FULL", "C:\\NEVER.TXT"})
    ASSERT_TRUE(MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << path;
  EXPECT_EQ(sim::PendingRenames().front(),
            std::make_pair(std::string("\\??\\C:\\WINDOWS\\system32\\drivers\\ZOLTAVEX.SYS"),
                           std::string()));
  sim::SetLocked(nt + "drivers\\ZOLTAVEX.SYS", true);  // the loaded driver
  EXPECT_TRUE(sim::Exists(nt + "drivers\\ZOLTAVEX.SYS"));
  sim::Restart();
  EXPECT_FALSE(sim::Exists(nt + "drivers\\ZOLTAVEX.SYS"));
  EXPECT_FALSE(sim::Exists("C:\\EMPTY"));
  EXPECT_EQ(Data("C:\\FULL\\A.TXT"), "a");  // a folder that is not empty stays
  EXPECT_TRUE(sim::PendingRenames().empty());

  // The 9x family has no pending list; each NUL line deletes its file, in
  // the order of the file, between the renames.
  sim::Reset(sim::Windows::Win98);
  const std::string s = "C:\\WINDOWS\\SYSTEM\\";
  SetLastError(0);
  EXPECT_FALSE(MoveFileExA((s + "ZOLTAVEX.VXD").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
  sim::PutFile(s + "ZOLTAVEX.VXD", "vxd");
  sim::PutFile(s + "ZOLTAV16.DLL", "16");
  sim::PutFile(s + "ZOLTAVEX.DL", "staged");
  sim::PutFile(s + "ZOLTAVEX.EX", "staged engine");
  sim::PutFile(s + "ZOLTAVEX.EXE", "engine");
  sim::PutFile("C:\\WINDOWS\\INF\\ZOLTAVEX.INF", "inf");
  sim::PutIni("Wininit.ini",
              "[rename]\r\n"
              "NUL=C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.VXD\r\n"
              "NUL=C:\\WINDOWS\\SYSTEM\\ZOLTAV16.DLL\r\n"
              "C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.DLL=C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.DL\r\n"
              "NUL=C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.DLL\r\n"
              "NUL=C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.EXE\r\n"
              "C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.EXE=C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.EX\r\n"
              "nul=C:\\WINDOWS\\INF\\ZOLTAVEX.INF\r\n"
              "NUL=C:\\MISSING.TXT\r\n");
  sim::Restart();
  EXPECT_FALSE(sim::Exists(s + "ZOLTAVEX.VXD"));
  EXPECT_FALSE(sim::Exists(s + "ZOLTAV16.DLL"));
  // Renamed into place, then deleted; deleted, then renamed into place.
  EXPECT_FALSE(sim::Exists(s + "ZOLTAVEX.DLL"));
  EXPECT_FALSE(sim::Exists(s + "ZOLTAVEX.DL"));
  EXPECT_EQ(Data(s + "ZOLTAVEX.EXE"), "staged engine");
  EXPECT_FALSE(sim::Exists("C:\\WINDOWS\\INF\\ZOLTAVEX.INF"));
  EXPECT_TRUE(sim::Exists("C:\\WINDOWS\\WININIT.BAK"));
}

TEST(Restart, WininitRenamesRunInLineOrderAndTheFileBecomesABackup) {
  sim::Reset(sim::Windows::Win98);
  const std::string s = "C:\\WINDOWS\\SYSTEM\\";
  sim::PutFile(s + "ZOLTAVEX.DLL", "old", FILE_ATTRIBUTE_READONLY);
  sim::PutFile(s + "ZOLTAVEX.DL", "new");
  sim::PutFile(s + "ZOLTAVEX.EX", "engine");
  sim::PutFile("C:\\JUNK.TXT", "junk");
  sim::PutIni("Wininit.ini",
              "[rename]\r\n"
              "C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.OLD=C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.DLL\r\n"
              "C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.DLL=C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.DL\r\n"
              "; a comment\r\n"
              "NUL=C:\\JUNK.TXT\r\n"
              "C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.EXE=C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.EX\r\n"
              "[other]\r\n"
              "C:\\X=C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.EXE\r\n");
  sim::PutFile("C:\\WINDOWS\\WININIT.BAK", "older backup");
  sim::Restart();
  EXPECT_EQ(Data(s + "ZOLTAVEX.OLD"), "old");
  EXPECT_EQ(Data(s + "ZOLTAVEX.DLL"), "new");
  EXPECT_EQ(Data(s + "ZOLTAVEX.EXE"), "engine");
  EXPECT_FALSE(sim::Exists("C:\\JUNK.TXT"));
  EXPECT_FALSE(sim::Exists("C:\\X"));
  EXPECT_FALSE(sim::Exists("C:\\WINDOWS\\Wininit.ini"));
  EXPECT_NE(Data("C:\\WINDOWS\\WININIT.BAK").find("ZOLTAVEX.DLL=C:"), std::string::npos);

  // On the NT family the file is processed as well, then removed.
  sim::Reset(sim::Windows::Win2k);
  sim::PutFile("C:\\A.TXT", "a");
  sim::PutIni("Wininit.ini", "[RENAME]\r\nC:\\B.TXT=C:\\A.TXT\r\n");
  sim::Restart();
  EXPECT_EQ(Data("C:\\B.TXT"), "a");
  EXPECT_FALSE(sim::Exists("C:\\WINNT\\Wininit.ini"));
  EXPECT_FALSE(sim::Exists("C:\\WINNT\\WININIT.BAK"));
}

TEST(Restart, EndsForeignProcessesAndDropsHandles) {
  sim::Reset(sim::Windows::WinXP);
  sim::ProcessSpec host;
  host.pid = 4242;
  host.imagePath = "C:\\Program Files\\Orvo\\ORVO.EXE";
  sim::AddProcess(host);
  size_t before = sim::Processes().size();
  WIN32_FIND_DATAA data;
  ASSERT_NE(FindFirstFileA("C:\\WINDOWS\\WIN.INI", &data), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(sim::NothingOutstanding());

  sim::Restart();
  EXPECT_TRUE(sim::NothingOutstanding());
  EXPECT_FALSE(HasProcess(host.imagePath));
  EXPECT_FALSE(HasProcess("C:\\SETUP\\SETUP.EXE"));
  EXPECT_TRUE(HasProcess("C:\\WINDOWS\\system32\\lsass.exe"));
  EXPECT_TRUE(HasProcess("C:\\SETUP\\DRVSETUP.EXE"));
  EXPECT_EQ(sim::Processes().size(), before - 2);
  // The files and the registry outlive it.
  EXPECT_TRUE(sim::Exists("C:\\WINDOWS\\WIN.INI"));
}

}  // namespace
