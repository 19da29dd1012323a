// The profile API of the simulated machine over INI files in its file system.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim.h"

namespace {

class Profile : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(sim::Windows::Win98); }
};

std::string Read(const char* section, const char* key, const char* file,
                 const char* fallback = "(default)", DWORD size = 256, DWORD* count = nullptr) {
  char buffer[256];
  DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer, size, file);
  if (count) *count = n;
  return std::string(buffer, n);
}

// The section read with a buffer of that size, all its bytes.
std::string Section(const char* section, const char* file, DWORD size, DWORD* count) {
  std::string buffer(size + 1, 'x');
  *count = GetPrivateProfileSectionA(section, &buffer[0], size, file);
  return buffer;
}

TEST_F(Profile, LookupIgnoresCaseAndBlanksAndTakesTheFirstMatch) {
  sim::PutIni("C:\\T\\A.INI",
              "  [ Drivers ]\r\n"
              "; Wave=commented\r\n"
              "  Wave =  mmdrv.dll  \r\n"
              "wave=second\r\n"
              "quoted=\"a b \"\r\n"
              "[drivers]\r\n"
              "midi=only in the second\r\n");
  EXPECT_EQ(Read("DRIVERS", "WAVE", "C:\\T\\A.INI"), "mmdrv.dll");
  EXPECT_EQ(Read(" drivers ", " wave ", "c:\\t\\a.ini"), "mmdrv.dll");
  EXPECT_EQ(Read("drivers", "quoted", "C:\\T\\A.INI"), "a b ");
  EXPECT_EQ(Read("drivers", "midi", "C:\\T\\A.INI"), "(default)");
  EXPECT_EQ(Read("drivers", "none", "C:\\T\\A.INI", "dflt   "), "dflt");
  std::string value;
  EXPECT_TRUE(sim::IniValue("C:\\T\\A.INI", "drivers", "wave", &value));
  EXPECT_EQ(value, "mmdrv.dll");
  EXPECT_FALSE(sim::IniValue("C:\\T\\A.INI", "drivers", "Wave=commented", &value));

  // A value that does not fit is cut to size - 1.
  DWORD n = 0;
  EXPECT_EQ(Read("drivers", "wave", "C:\\T\\A.INI", "", 5, &n), "mmdr");
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_MORE_DATA));
  EXPECT_EQ(Read("drivers", "wave", "C:\\T\\NONE.INI"), "(default)");
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(Profile, WritesCreateFilesAndSectionsInTheWindowsFolderWithCrLf) {
  SetLastError(0);
  EXPECT_TRUE(WritePrivateProfileStringA("RENAME", "C:\\WINDOWS\\SYSTEM\\Z.DLL",
                                         "C:\\WINDOWS\\SYSTEM\\Z.DL", "Wininit.ini"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));  // the file was made
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA("C:\\WINDOWS\\WININIT.INI", &found);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  EXPECT_STREQ(found.cFileName, "Wininit.ini");
  EXPECT_TRUE(
      WritePrivateProfileStringA("Rename", "c:\\windows\\system\\z.dll", "again", "WININIT.INI"));
  EXPECT_TRUE(WritePrivateProfileStringA("RENAME", "NUL", "C:\\OLD.TXT", "Wininit.ini"));
  EXPECT_EQ(sim::IniText("Wininit.ini"),
            "[RENAME]\r\nC:\\WINDOWS\\SYSTEM\\Z.DLL=again\r\nNUL=C:\\OLD.TXT\r\n");

  EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", "C:\\NOFOLDER\\X.INI"));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(sim::Exists("C:\\NOFOLDER"));
}

TEST_F(Profile, WritesEditInPlaceAndLeaveOtherLinesAlone) {
  sim::PutIni("C:\\WINDOWS\\SYSTEM.INI",
              "[boot]\n"
              "shell=Explorer.exe\n"
              "\r\n"
              "[VCache]\r\n"
              "MinFileCache = 512\r\n"
              "; keep me\r\n"
              "\r\n"
              "[last]\r\n"
              "x=1");
  EXPECT_TRUE(WritePrivateProfileStringA("vcache", "minfilecache", "20480", "System.ini"));
  EXPECT_TRUE(WritePrivateProfileStringA("VCache", "MaxFileCache", "20480", "System.ini"));
  EXPECT_TRUE(WritePrivateProfileStringA("last", "y", "2", "System.ini"));
  EXPECT_TRUE(WritePrivateProfileStringA("new", "z", "3", "System.ini"));
  EXPECT_EQ(sim::IniText("SYSTEM.INI"),
            "[boot]\n"
            "shell=Explorer.exe\n"
            "\r\n"
            "[VCache]\r\n"
            "MinFileCache=20480\r\n"
            "; keep me\r\n"
            "MaxFileCache=20480\r\n"
            "\r\n"
            "[last]\r\n"
            "x=1\r\n"
            "y=2\r\n"
            "[new]\r\n"
            "z=3\r\n");

  // A null value removes the key, a null key the section (not its comments).
  EXPECT_TRUE(WritePrivateProfileStringA("vcache", "maxfilecache", nullptr, "System.ini"));
  EXPECT_TRUE(WritePrivateProfileStringA("VCACHE", nullptr, nullptr, "System.ini"));
  EXPECT_TRUE(WritePrivateProfileStringA("new", nullptr, nullptr, "System.ini"));
  EXPECT_EQ(sim::IniText("SYSTEM.INI"),
            "[boot]\n"
            "shell=Explorer.exe\n"
            "\r\n"
            "; keep me\r\n"
            "\r\n"
            "[last]\r\n"
            "x=1\r\n"
            "y=2\r\n");
  // Flushing writes nothing and answers zero.
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, "SYSTEM.INI"));
}

TEST_F(Profile, AnUnwritableFileRefusesEveryWrite) {
  const std::string text = "[RENAME]\r\n";
  sim::PutIni("C:\\WINDOWS\\RO.INI", text);
  sim::SetAttributes("C:\\WINDOWS\\RO.INI", FILE_ATTRIBUTE_READONLY);
  sim::PutIni("C:\\WINDOWS\\BUSY.INI", text);
  sim::SetLocked("C:\\WINDOWS\\BUSY.INI", true);
  sim::MakeFolder("C:\\WINDOWS\\Wininit.ini");
  struct Case {
    const char* file;
    DWORD error;
  } cases[] = {{"RO.INI", ERROR_ACCESS_DENIED},
               {"BUSY.INI", ERROR_SHARING_VIOLATION},
               {"Wininit.ini", ERROR_ACCESS_DENIED}};
  const char list[] = "a=1\0";
  for (const Case& c : cases) {
    EXPECT_FALSE(WritePrivateProfileStringA("RENAME", "NUL", "C:\\X", c.file)) << c.file;
    EXPECT_EQ(GetLastError(), c.error) << c.file;
    EXPECT_FALSE(WritePrivateProfileSectionA("RENAME", list, c.file)) << c.file;
    EXPECT_EQ(GetLastError(), c.error) << c.file;
  }
  EXPECT_EQ(sim::IniText("RO.INI"), text);
  EXPECT_EQ(sim::IniText("BUSY.INI"), text);
  EXPECT_TRUE(sim::IsFolder("C:\\WINDOWS\\Wininit.ini"));
}

const char kEnh[] =
    "[386Enh]\r\n"
    ";comment\r\n"
    " key = value \r\n"
    "\r\n"
    "device=a.vxd\r\n"
    "[Other]\r\n"
    "x=1\r\n";

TEST_F(Profile, SectionReadGivesTheLinesAsTheyStand) {
  sim::PutIni("SYSTEM.INI", kEnh);
  DWORD n = 0;
  std::string got = Section("386enh", "SYSTEM.INI", 100, &n);
  const char all[] = ";comment\0 key = value \0device=a.vxd\0\0";
  EXPECT_EQ(n, sizeof all - 2);
  EXPECT_EQ(got.substr(0, sizeof all - 1), std::string(all, sizeof all - 1));

  got = Section("nosuch", "SYSTEM.INI", 10, &n);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(got.substr(0, 3), std::string("\0\0x", 3));
  got = Section("386enh", "NOFILE.INI", 10, &n);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(Profile, SectionReadThatDoesNotFitEndsInTwoZerosAndAnswersSizeMinusTwo) {
  sim::PutIni("SYSTEM.INI", "[386Enh]\r\nkey=value\r\ndevice=a.vxd\r\n");
  struct Case {
    DWORD size;
    DWORD count;
    std::string bytes;  // the buffer and the byte after it
  } cases[] = {
      {2, 0, std::string("\0\0x", 3)},
      {3, 1, std::string("k\0\0x", 4)},
      {11, 9, std::string("key=value\0\0x", 12)},
      {12, 10, std::string("key=value\0\0\0x", 13)},
      {13, 11, std::string("key=value\0d\0\0x", 14)},
      {24, 23, std::string("key=value\0device=a.vxd\0\0x", 25)},  // exactly fits
      {23, 21, std::string("key=value\0device=a.vx\0\0x", 24)},
  };
  for (const Case& c : cases) {
    DWORD n = 0;
    std::string got = Section("386Enh", "SYSTEM.INI", c.size, &n);
    EXPECT_EQ(n, c.count) << c.size;
    EXPECT_EQ(got, c.bytes) << c.size;
  }
}

TEST_F(Profile, SectionWriteReplacesTheEntriesAndARoundTripKeepsComments) {
  sim::PutIni("SYSTEM.INI", kEnh);
  char buffer[8192] = {};
  GetPrivateProfileSectionA("386Enh", buffer, sizeof buffer, "SYSTEM.INI");
  // Turn device=a.vxd into a comment in place, as the installer does.
  char* entry = buffer;
  while (*entry && std::strcmp(entry, "device=a.vxd") != 0) entry += std::strlen(entry) + 1;
  ASSERT_TRUE(*entry);
  *entry = ';';
  EXPECT_TRUE(WritePrivateProfileSectionA("386ENH", buffer, "SYSTEM.INI"));
  const std::string once = sim::IniText("SYSTEM.INI");
  EXPECT_EQ(once,
            "[386Enh]\r\n"
            ";comment\r\n"
            " key = value \r\n"
            ";evice=a.vxd\r\n"
            "[Other]\r\n"
            "x=1\r\n");
  // A second pass writes the same lines back.
  std::memset(buffer, 0, sizeof buffer);
  GetPrivateProfileSectionA("386Enh", buffer, sizeof buffer, "SYSTEM.INI");
  EXPECT_TRUE(WritePrivateProfileSectionA("386Enh", buffer, "SYSTEM.INI"));
  EXPECT_EQ(sim::IniText("SYSTEM.INI"), once);

  // An empty list empties the section; a missing section is created.
  EXPECT_TRUE(WritePrivateProfileSectionA("Other", "\0", "SYSTEM.INI"));
  EXPECT_TRUE(WritePrivateProfileSectionA("Fresh", "a=1\0b=2\0", "SYSTEM.INI"));
  EXPECT_EQ(sim::IniText("SYSTEM.INI"),
            "[386Enh]\r\n"
            ";comment\r\n"
            " key = value \r\n"
            ";evice=a.vxd\r\n"
            "[Other]\r\n"
            "[Fresh]\r\n"
            "a=1\r\n"
            "b=2\r\n");
}

// Zero bytes inside lines, as Wine reads and rewrites such a file: the name
// before the first '=' and the value after it each end at their first zero
// byte, and the section's rewrite keeps every line in that form.
TEST_F(Profile, LinesWithZeroBytesReadUpToTheZeroAndAreRewrittenSo) {
  const char raw[] =
      "[386Enh]\r\na=1\r\n\0\0k=v\r\nb=2\r\nx\0y=3\r\nk2=v\0w\r\n[Ot\0her]\r\nz=4\r\n";
  const std::string text(raw, sizeof raw - 1);
  sim::PutIni("SYSTEM.INI", text);
  char buffer[256];
  DWORD n = GetPrivateProfileSectionA("386Enh", buffer, sizeof buffer, "SYSTEM.INI");
  EXPECT_EQ(std::string(buffer, n + 1), std::string("a=1\0=v\0b=2\0x=3\0k2=v\0", 21));
  EXPECT_EQ(Read("386Enh", "k", "SYSTEM.INI"), "(default)");
  EXPECT_EQ(Read("386Enh", "x", "SYSTEM.INI"), "3");
  EXPECT_EQ(Read("386Enh", "k2", "SYSTEM.INI"), "v");
  EXPECT_EQ(Read("Ot", "z", "SYSTEM.INI"), "4");
  EXPECT_EQ(sim::IniText("SYSTEM.INI"), text);  // reading changes nothing
  EXPECT_TRUE(WritePrivateProfileSectionA("386Enh", buffer, "SYSTEM.INI"));
  EXPECT_EQ(sim::IniText("SYSTEM.INI"),
            "[386Enh]\r\na=1\r\n=v\r\nb=2\r\nx=3\r\nk2=v\r\n[Ot]\r\nz=4\r\n");
}

TEST_F(Profile, ListsOfSectionsAndKeys) {
  sim::PutIni("C:\\T\\L.INI", "[a]\r\nk1=1\r\n;c\r\nk2=2\r\n[b]\r\n");
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  DWORD n =
      GetPrivateProfileStringA(nullptr, nullptr, nullptr, buffer, sizeof buffer, "C:\\T\\L.INI");
  EXPECT_EQ(std::string(buffer, n + 1), std::string("a\0b\0\0", 5));
  n = GetPrivateProfileStringA("A", nullptr, nullptr, buffer, sizeof buffer, "C:\\T\\L.INI");
  EXPECT_EQ(std::string(buffer, n + 1), std::string("k1\0k2\0\0", 7));
}

}  // namespace
