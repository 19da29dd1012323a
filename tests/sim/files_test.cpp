// Drives, folders and files of the simulated machine, through the Win32 calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim.h"

namespace {

class Files : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(sim::Windows::WinXP); }
};

std::string FoundName(const char* path, DWORD* attributes = nullptr) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(path, &data);
  if (h == INVALID_HANDLE_VALUE) return "<none>";
  FindClose(h);
  if (attributes) *attributes = data.dwFileAttributes;
  return data.cFileName;
}

FILETIME Ft(uint64_t v) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return ft;
}

TEST_F(Files, LookupsIgnoreCaseAndSlashesAndNamesKeepTheirCase) {
  sim::PutFile("C:\\Data\\MyFile.TXT", "x");
  EXPECT_EQ(FoundName("c:\\DATA\\myfile.txt"), "MyFile.TXT");
  EXPECT_EQ(FoundName("c:/data/MYFILE.txt"), "MyFile.TXT");
  EXPECT_EQ(GetFileAttributesA("C:\\data\\.\\sub\\..\\MYFILE.TXT"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
  // Relative names are taken from the installer's folder.
  sim::PutFile("C:\\SETUP\\ZOLTAVEX.DLL", "lib");
  EXPECT_EQ(FoundName("zoltavex.dll"), "ZOLTAVEX.DLL");
  EXPECT_EQ(sim::ListFiles("c:\\data"), std::vector<std::string>{"C:\\Data\\MyFile.TXT"});
}

TEST_F(Files, DrivesAnswerTheirTypeAndCdromWithoutDiscHoldsNothing) {
  sim::SetDrive('E', DRIVE_CDROM, false);
  sim::SetDrive('F', DRIVE_CDROM, true);
  sim::SetDrive('G', DRIVE_REMOTE);
  sim::PutFile("E:\\OEM\\ORVOOEM.DLL", "oem");
  sim::PutFile("F:\\OEM\\ORVOOEM.DLL", "oem");
  EXPECT_EQ(GetDriveTypeA("C:\\"), UINT(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeA("c:"), UINT(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeA("D:\\"), UINT(DRIVE_NO_ROOT_DIR));
  EXPECT_EQ(GetDriveTypeA("E:\\"), UINT(DRIVE_CDROM));
  EXPECT_EQ(GetDriveTypeA("G:\\"), UINT(DRIVE_REMOTE));
  EXPECT_EQ(GetDriveTypeA(""), UINT(DRIVE_NO_ROOT_DIR));

  EXPECT_EQ(FoundName("E:\\OEM\\ORVOOEM.DLL"), "<none>");
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_READY));
  EXPECT_EQ(FoundName("F:\\OEM\\ORVOOEM.DLL"), "ORVOOEM.DLL");
  EXPECT_EQ(GetFileAttributesA("D:\\X"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  // A disc is read-only.
  EXPECT_FALSE(CopyFileA("C:\\SETUP\\DRVSETUP.EXE", "F:\\X.EXE", FALSE));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST_F(Files, FindFirstFileNamesOneEntryAndItsHandleIsCounted) {
  sim::PutFile("C:\\A\\ONE.INI", "1", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
               sim::FileTimeOf(2020, 5, 6, 7, 8, 10));
  sim::MakeFolder("C:\\A\\SUB");
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA("C:\\A\\ONE.INI", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(sim::Outstanding()["find"], 1);
  EXPECT_EQ(data.dwFileAttributes, DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(data.nFileSizeLow, 1u);
  uint64_t t =
      (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  EXPECT_EQ(t, sim::FileTimeOf(2020, 5, 6, 7, 8, 10));
  EXPECT_TRUE(FindClose(h));
  EXPECT_TRUE(sim::NothingOutstanding());
  EXPECT_FALSE(FindClose(h));  // already closed

  DWORD attributes = 0;
  EXPECT_EQ(FoundName("C:\\A\\SUB", &attributes), "SUB");
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(FoundName("C:\\A\\*.in?"), "ONE.INI");
  // A trailing backslash or a bare root names no entry.
  for (const char* path : {"C:\\A\\SUB\\", "C:\\A\\ONE.INI\\", "C:\\", "C:"}) {
    EXPECT_EQ(FoundName(path), "<none>") << path;
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND)) << path;
  }
  EXPECT_EQ(FoundName("C:\\A\\NONE"), "<none>");
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FoundName("C:\\B\\NONE"), "<none>");
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(FoundName(""), "<none>");
}

TEST_F(Files, DosDatesCoverOnly1980To2107InLocalTime) {
  WORD date = 0, time = 0;
  FILETIME ft = Ft(sim::FileTimeOf(2024, 3, 15, 13, 45, 31));
  ASSERT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
  EXPECT_EQ(date, 0x586f);
  EXPECT_EQ(time, 0x6daf);
  ft = Ft(sim::FileTimeOf(2107, 12, 31, 23, 59, 59));
  EXPECT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
  EXPECT_EQ(date, 0xff9f);
  EXPECT_EQ(time, 0xbf7d);
  ft = Ft(sim::FileTimeOf(1980, 1, 1));
  EXPECT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
  for (uint64_t outside :
       {sim::FileTimeOf(1979, 12, 31, 23, 59, 59), sim::FileTimeOf(2108, 1, 1), uint64_t(0)}) {
    ft = Ft(outside);
    EXPECT_FALSE(FileTimeToDosDateTime(&ft, &date, &time));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  }
  // The bias moves a late-1979 UTC time into 1980 local time.
  sim::SetTimeZoneBias(2 * 3600);
  FILETIME utc = Ft(sim::FileTimeOf(1979, 12, 31, 23, 0, 0)), local;
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_TRUE(FileTimeToDosDateTime(&local, &date, &time));
  EXPECT_EQ(time, 1 << 11);
}

TEST_F(Files, CopyFailsAsWindowsDoes) {
  sim::PutFile("C:\\S\\SRC.DLL", "new");
  sim::PutFile("C:\\T\\RO.DLL", "old", FILE_ATTRIBUTE_READONLY);
  sim::PutFile("C:\\T\\LOCKED.DLL", "old");
  sim::SetLocked("C:\\T\\LOCKED.DLL", true);
  sim::MakeFolder("C:\\T\\DIR");
  sim::PutFile("C:\\S\\BUSY.DLL", "busy");
  sim::SetLocked("C:\\S\\BUSY.DLL", true);
  struct Case {
    const char* from;
    const char* to;
    BOOL failIfExists;
    DWORD error;
  } cases[] = {
      {"C:\\S\\NONE.DLL", "C:\\T\\X.DLL", FALSE, ERROR_FILE_NOT_FOUND},
      {"C:\\NOFOLDER\\X.DLL", "C:\\T\\X.DLL", FALSE, ERROR_PATH_NOT_FOUND},
      {"C:\\S", "C:\\T\\X.DLL", FALSE, ERROR_ACCESS_DENIED},
      {"C:\\S\\SRC.DLL", "C:\\NOFOLDER\\X.DLL", FALSE, ERROR_PATH_NOT_FOUND},
      {"C:\\S\\SRC.DLL", "C:\\T\\RO.DLL", FALSE, ERROR_ACCESS_DENIED},
      {"C:\\S\\SRC.DLL", "C:\\T\\DIR", FALSE, ERROR_ACCESS_DENIED},
      {"C:\\S\\SRC.DLL", "C:\\T\\LOCKED.DLL", FALSE, ERROR_SHARING_VIOLATION},
      {"C:\\S\\BUSY.DLL", "C:\\T\\X.DLL", FALSE, ERROR_SHARING_VIOLATION},
      {"C:\\S\\SRC.DLL", "C:\\T\\LOCKED.DLL", TRUE, ERROR_FILE_EXISTS},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(CopyFileA(c.from, c.to, c.failIfExists)) << c.from << " -> " << c.to;
    EXPECT_EQ(GetLastError(), c.error) << c.from << " -> " << c.to;
  }
  std::string data;
  ASSERT_TRUE(sim::FileData("C:\\T\\RO.DLL", &data));
  EXPECT_EQ(data, "old");
  EXPECT_FALSE(sim::Exists("C:\\T\\X.DLL"));
}

TEST_F(Files, CopyKeepsAttributesAndTimeOfTheSourceAndSetsArchive) {
  uint64_t when = sim::FileTimeOf(1999, 9, 9);
  sim::PutFile("C:\\S\\A.SYS", "driver", FILE_ATTRIBUTE_READONLY, when);
  sim::PutFile("C:\\T\\a.sys", "previous", FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(CopyFileA("C:\\S\\A.SYS", "C:\\T\\A.SYS", FALSE));
  EXPECT_EQ(sim::Attributes("C:\\T\\A.SYS"),
            DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  std::string data;
  ASSERT_TRUE(sim::FileData("C:\\T\\A.SYS", &data));
  EXPECT_EQ(data, "driver");
  EXPECT_EQ(sim::ListFiles("C:\\T"), std::vector<std::string>{"C:\\T\\a.sys"});
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA("C:\\T\\A.SYS", &found);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  EXPECT_EQ(found.ftLastWriteTime.dwLowDateTime, Ft(when).dwLowDateTime);
  EXPECT_EQ(found.ftLastWriteTime.dwHighDateTime, Ft(when).dwHighDateTime);
  // The copy is read-only now: copying onto it again is refused.
  EXPECT_FALSE(CopyFileA("C:\\S\\A.SYS", "C:\\T\\A.SYS", FALSE));
}

TEST_F(Files, DeleteAndAttributeChanges) {
  sim::PutFile("C:\\T\\RO.TXT", "x", FILE_ATTRIBUTE_READONLY);
  sim::PutFile("C:\\T\\BUSY.TXT", "x");
  sim::SetLocked("C:\\T\\BUSY.TXT", true);
  sim::PutFile("C:\\T\\PLAIN.TXT", "x");
  EXPECT_FALSE(DeleteFileA("C:\\T\\RO.TXT"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileA("C:\\T\\BUSY.TXT"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileA("C:\\T"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileA("C:\\T\\NONE.TXT"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(DeleteFileA("c:\\t\\plain.txt"));
  EXPECT_FALSE(sim::Exists("C:\\T\\PLAIN.TXT"));

  // No bits reads back as NORMAL; the directory bit cannot be given to a
  // file; a file held open still takes new attributes.
  EXPECT_TRUE(SetFileAttributesA("C:\\T\\RO.TXT", 0));
  EXPECT_EQ(GetFileAttributesA("C:\\T\\RO.TXT"), DWORD(FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(
      SetFileAttributesA("C:\\T\\RO.TXT", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesA("C:\\T\\RO.TXT"), DWORD(FILE_ATTRIBUTE_HIDDEN));
  EXPECT_TRUE(SetFileAttributesA("C:\\T\\BUSY.TXT", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesA("C:\\T"), DWORD(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(SetFileAttributesA("C:\\T\\NONE.TXT", 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

std::string PendingBytes() {
  sim::Value value;
  if (!sim::RegGet(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                   "PendingFileRenameOperations", &value))
    return "<none>";
  EXPECT_EQ(value.type, DWORD(REG_MULTI_SZ));
  return value.data;
}

// What a program does to rewrite a text file (the removal with Wininit.ini):
// open it, read it whole, write it anew from the start and cut it there.
TEST_F(Files, FilesAreReadAndRewrittenThroughTheirHandles) {
  for (sim::Windows version : {sim::Windows::Win98, sim::Windows::WinXP}) {
    SCOPED_TRACE(sim::WindowsName(version));
    sim::Reset(version);
    const std::string path = sim::WindowsFolder() + "\\WININIT.INI";
    sim::PutFile(path, "[rename]\r\nNUL=C:\\A.DLL\r\n; a long comment line\r\n");
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(sim::Outstanding()["file"], 1);
    DWORD high = 7;
    const DWORD size = GetFileSize(h, &high);
    EXPECT_EQ(size, 47u);
    EXPECT_EQ(high, 0u);
    char buffer[64] = {};
    DWORD done = 0;
    ASSERT_TRUE(ReadFile(h, buffer, 10, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "[rename]\r\n");
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, size - 10);
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));  // at the end: nothing
    EXPECT_EQ(done, 0u);

    const std::string text = "[rename]\r\nNUL=C:\\A.DLL\r\nNUL=C:\\B.DLL\r\n";
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    ASSERT_TRUE(WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr));
    EXPECT_EQ(done, text.size());
    ASSERT_TRUE(SetEndOfFile(h));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    std::string data;
    ASSERT_TRUE(sim::FileData(path, &data));
    EXPECT_EQ(data, text);
    EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
  }

  // Moving the pointer: from the end, before the start, past 4 GB; writing
  // past the end fills the gap with zeros.
  HANDLE h = CreateFileA("C:\\NEW.BIN", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
  DWORD done = 0;
  SetLastError(1234);  // a success leaves it
  EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_END), 2u);
  EXPECT_EQ(GetLastError(), 1234u);
  ASSERT_TRUE(WriteFile(h, "ab", 2, &done, nullptr));
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), 3u);
  EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));
  LONG highPart = 1;
  EXPECT_EQ(SetFilePointer(h, 16, &highPart, FILE_BEGIN), 16u);
  EXPECT_EQ(highPart, 1);
  EXPECT_FALSE(SetEndOfFile(h));  // 4 GB and more: the disk is full
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
  EXPECT_EQ(GetFileSize(h, nullptr), 4u);
  char buffer[4];
  EXPECT_FALSE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));  // opened for writing only
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  CloseHandle(h);
  std::string data;
  ASSERT_TRUE(sim::FileData("C:\\NEW.BIN", &data));
  EXPECT_EQ(data, std::string("\0\0ab", 4));
  EXPECT_EQ(sim::Attributes("C:\\NEW.BIN"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(Files, OpeningFollowsItsDispositionAttributesAndSharing) {
  sim::PutFile("C:\\T\\A.TXT", "a");
  sim::PutFile("C:\\T\\RO.TXT", "ro", FILE_ATTRIBUTE_READONLY);
  sim::PutFile("C:\\T\\HIDDEN.TXT", "h", FILE_ATTRIBUTE_HIDDEN);
  sim::PutFile("C:\\T\\BUSY.TXT", "b");
  sim::SetLocked("C:\\T\\BUSY.TXT", true);
  sim::SetDrive('E', DRIVE_CDROM);
  sim::PutFile("E:\\CD.TXT", "cd");
  const DWORD rw = GENERIC_READ | GENERIC_WRITE;
  const struct {
    const char* path;
    DWORD access, disposition, attributes, error;
  } refused[] = {
      {"C:\\T\\A.TXT", GENERIC_READ, CREATE_NEW, 0, ERROR_FILE_EXISTS},
      {"C:\\T\\NONE.TXT", GENERIC_READ, OPEN_EXISTING, 0, ERROR_FILE_NOT_FOUND},
      {"C:\\T\\NONE.TXT", rw, TRUNCATE_EXISTING, 0, ERROR_FILE_NOT_FOUND},
      {"C:\\T\\A.TXT", GENERIC_READ, 0, 0, ERROR_INVALID_PARAMETER},
      {"C:\\NONE\\A.TXT", rw, CREATE_ALWAYS, 0, ERROR_PATH_NOT_FOUND},
      {"C:\\T", GENERIC_READ, OPEN_EXISTING, 0, ERROR_ACCESS_DENIED},
      {"C:\\T\\RO.TXT", rw, OPEN_EXISTING, 0, ERROR_ACCESS_DENIED},
      {"C:\\T\\HIDDEN.TXT", rw, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, ERROR_ACCESS_DENIED},
      {"C:\\T\\BUSY.TXT", GENERIC_READ, OPEN_EXISTING, 0, ERROR_SHARING_VIOLATION},
      {"E:\\CD.TXT", GENERIC_WRITE, OPEN_EXISTING, 0, ERROR_ACCESS_DENIED},
      {"E:\\NEW.TXT", GENERIC_WRITE, CREATE_NEW, 0, ERROR_ACCESS_DENIED},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.disposition));
    SetLastError(0);
    EXPECT_EQ(CreateFileA(c.path, c.access, 0, nullptr, c.disposition, c.attributes, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();

  // Replacing a hidden file with its bit; reading a read-only one.
  HANDLE h = CreateFileA("C:\\T\\HIDDEN.TXT", rw, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN,
                         nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  CloseHandle(h);
  EXPECT_EQ(sim::Attributes("C:\\T\\HIDDEN.TXT"),
            DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  h = CreateFileA("C:\\T\\RO.TXT", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  // Truncating needs no right to write through the handle (as under Wine).
  sim::PutFile("C:\\T\\LONG.TXT", "long");
  h = CreateFileA("C:\\T\\LONG.TXT", GENERIC_READ, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  CloseHandle(h);

  // Two openings must each share what the other does; an open file is not
  // deleted, moved or copied over, and it is read through CopyFileA only
  // when its opener shares reading.
  HANDLE reader = CreateFileA("C:\\T\\A.TXT", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE second = CreateFileA("C:\\T\\A.TXT", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  CloseHandle(second);
  EXPECT_EQ(CreateFileA("C:\\T\\A.TXT", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(CopyFileA("C:\\T\\A.TXT", "C:\\T\\COPY.TXT", FALSE));
  EXPECT_FALSE(DeleteFileA("C:\\T\\A.TXT"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileExA("C:\\T\\A.TXT", "C:\\T\\B.TXT", 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(CopyFileA("C:\\T\\COPY.TXT", "C:\\T\\A.TXT", FALSE));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  CloseHandle(reader);
  HANDLE writer = CreateFileA("C:\\T\\A.TXT", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CopyFileA("C:\\T\\A.TXT", "C:\\T\\COPY.TXT", FALSE));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  // A file taken away behind the handle's back is no longer reached by it.
  sim::Remove("C:\\T\\A.TXT");
  DWORD done = 0;
  EXPECT_FALSE(WriteFile(writer, "x", 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(writer));

  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
}

TEST_F(Files, FoldersAreRemovedOnlyWhenEmpty) {
  sim::PutFile("C:\\T\\FULL\\A.TXT", "a");
  sim::MakeFolder("C:\\T\\EMPTY");
  sim::SetDrive('E', DRIVE_CDROM);
  sim::MakeFolder("E:\\ON_CD");
  const struct {
    const char* path;
    DWORD error;
  } refused[] = {
      {"C:\\T\\FULL", ERROR_DIR_NOT_EMPTY},  {"C:\\T\\FULL\\A.TXT", ERROR_DIRECTORY},
      {"C:\\T\\NONE", ERROR_FILE_NOT_FOUND}, {"C:\\NONE\\X", ERROR_PATH_NOT_FOUND},
      {"C:\\", ERROR_DIR_NOT_EMPTY},         {"E:\\ON_CD", ERROR_ACCESS_DENIED},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.path);
    EXPECT_FALSE(RemoveDirectoryA(c.path));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_TRUE(RemoveDirectoryA("c:\\t\\empty\\"));
  EXPECT_FALSE(sim::Exists("C:\\T\\EMPTY"));
  EXPECT_TRUE(DeleteFileA("C:\\T\\FULL\\A.TXT"));
  EXPECT_TRUE(RemoveDirectoryA("C:\\T\\FULL"));
  EXPECT_TRUE(sim::IsFolder("C:\\T"));
}

TEST_F(Files, DelayedMovesAreStoredAsTheSessionManagerReadsThem) {
  SetLastError(1234);
  // The source need not exist yet; relative names are completed.
  EXPECT_TRUE(MoveFileExA("C:\\WINDOWS\\system32\\Z.DL", "C:\\WINDOWS\\system32\\Z.DLL", 5));
  EXPECT_EQ(GetLastError(), 1234u);
  EXPECT_TRUE(MoveFileExA("ZOLTAVEX.DL", "ZOLTAVEX.DLL", 5));
  EXPECT_TRUE(MoveFileExA("c:/old.txt", "C:\\new.txt", MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_TRUE(MoveFileExA("C:\\gone.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  const char expected[] =
      "\\??\\C:\\WINDOWS\\system32\\Z.DL\0!\\??\\C:\\WINDOWS\\system32\\Z.DLL\0"
      "\\??\\C:\\SETUP\\ZOLTAVEX.DL\0!\\??\\C:\\SETUP\\ZOLTAVEX.DLL\0"
      "\\??\\c:\\old.txt\0\\??\\C:\\new.txt\0"
      "\\??\\C:\\gone.txt\0\0"
      "\0";
  EXPECT_EQ(PendingBytes(), std::string(expected, sizeof expected - 1));
  auto renames = sim::PendingRenames();
  ASSERT_EQ(renames.size(), 4u);
  EXPECT_EQ(renames[3].first, "\\??\\C:\\gone.txt");
  EXPECT_EQ(renames[3].second, "");
}

TEST_F(Files, MoveFileExIsMissingOnThe9xFamilyAndOrdinaryMovesKeepTheFile) {
  sim::PutFile("C:\\A.TXT", "a");
  sim::PutFile("C:\\B.TXT", "b");
  EXPECT_FALSE(MoveFileExA("C:\\A.TXT", "C:\\B.TXT", 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(MoveFileExA("C:\\A.TXT", "C:\\B.TXT", MOVEFILE_REPLACE_EXISTING));
  std::string data;
  ASSERT_TRUE(sim::FileData("C:\\B.TXT", &data));
  EXPECT_EQ(data, "a");
  EXPECT_FALSE(sim::Exists("C:\\A.TXT"));
  EXPECT_FALSE(MoveFileExA("C:\\A.TXT", "C:\\C.TXT", 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  // No new name and no delay: deleted now, as DeleteFileA would.
  sim::PutFile("C:\\RO.TXT", "r", FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(MoveFileExA("C:\\RO.TXT", nullptr, 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(MoveFileExA("C:\\B.TXT", nullptr, 0));
  EXPECT_FALSE(sim::Exists("C:\\B.TXT"));
  EXPECT_TRUE(sim::PendingRenames().empty());

  sim::Reset(sim::Windows::Win98);
  EXPECT_FALSE(MoveFileExA("C:\\X.DL", "C:\\X.DLL", 5));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_TRUE(sim::PendingRenames().empty());
}

TEST_F(Files, FolderQueriesReportTheSizeTheyNeed) {
  char buffer[261];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(GetWindowsDirectoryA(buffer, 5), 11u);  // "C:\WINDOWS" and its zero
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 10u);
  EXPECT_STREQ(buffer, "C:\\WINDOWS");
  EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 19u);
  EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32");

  sim::Reset(sim::Windows::NT40);
  GetSystemDirectoryA(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "C:\\WINNT\\system32");
  EXPECT_TRUE(sim::IsFolder("C:\\WINNT\\system32\\drivers"));
  sim::Reset(sim::Windows::Win95);
  GetSystemDirectoryA(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "C:\\WINDOWS\\SYSTEM");
  EXPECT_TRUE(sim::IsFolder("C:\\WINDOWS\\SYSTEM32\\DRIVERS"));
  sim::SetSystemFolder("D:\\SYS");
  EXPECT_EQ(sim::SystemFolder(), "D:\\SYS");
}

// The ANSI path calls refuse a path of MAX_PATH characters or more, the
// terminating zero counted: 259 characters pass, 260 do not.
TEST_F(Files, PathsOfMaxPathCharactersOrMoreAreRefused) {
  sim::PutFile("C:\\S\\SRC.DLL", "src");
  sim::MakeFolder("C:\\T");
  auto path = [](size_t length) {
    std::string p = "C:\\T\\";
    p.append(length - p.size(), 'a');
    return p;
  };
  struct Case {
    const char* call;
    bool (*refused)(const std::string& path);  // true when the call failed with 206
  } cases[] = {
      {"CopyFileA source",
       [](const std::string& p) { return !CopyFileA(p.c_str(), "C:\\T\\X", FALSE); }},
      {"CopyFileA target",
       [](const std::string& p) { return !CopyFileA("C:\\S\\SRC.DLL", p.c_str(), FALSE); }},
      {"MoveFileExA existing",
       [](const std::string& p) { return !MoveFileExA(p.c_str(), "C:\\T\\X", 5); }},
      {"MoveFileExA new",
       [](const std::string& p) { return !MoveFileExA("C:\\S\\SRC.DLL", p.c_str(), 5); }},
      {"DeleteFileA", [](const std::string& p) { return !DeleteFileA(p.c_str()); }},
      {"GetFileAttributesA",
       [](const std::string& p) {
         return GetFileAttributesA(p.c_str()) == INVALID_FILE_ATTRIBUTES;
       }},
      {"SetFileAttributesA",
       [](const std::string& p) { return !SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_ARCHIVE); }},
      {"FindFirstFileA",
       [](const std::string& p) {
         WIN32_FIND_DATAA data;
         HANDLE h = FindFirstFileA(p.c_str(), &data);
         if (h != INVALID_HANDLE_VALUE) FindClose(h);
         return h == INVALID_HANDLE_VALUE;
       }},
      {"WritePrivateProfileStringA",
       [](const std::string& p) { return !WritePrivateProfileStringA("S", "k", "v", p.c_str()); }},
      {"GetPrivateProfileStringA",
       [](const std::string& p) {
         char buffer[8];
         GetPrivateProfileStringA("S", "k", "d", buffer, sizeof buffer, p.c_str());
         return std::string(buffer) == "d";
       }},
  };
  const DWORD kFilenameExcedRange = 206;
  for (const Case& c : cases) {
    // 259 characters: the call goes on (it may fail for another reason).
    sim::PutFile(path(259), "long");
    SetLastError(0);
    c.refused(path(259));
    EXPECT_NE(GetLastError(), kFilenameExcedRange) << c.call;
    sim::PutFile(path(260), "long");
    SetLastError(0);
    EXPECT_TRUE(c.refused(path(260))) << c.call;
    EXPECT_EQ(GetLastError(), kFilenameExcedRange) << c.call;
  }
  // Nothing was moved, deleted or scheduled under a refused name.
  EXPECT_TRUE(sim::Exists(path(260)));
  for (const auto& pending : sim::PendingRenames())
    EXPECT_EQ(pending.first.find(path(260)), std::string::npos);
}

}  // namespace
