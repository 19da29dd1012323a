// SYSTEM.INI [386Enh] device lines: the in-memory edit of a section buffer,
// and the read/edit/write-back on the simulated machine.
#include <gtest/gtest.h>

#include <memory>

#include "harness.h"
#include "platform_family.h"
#include "system_ini.h"
#include "text.h"

namespace {

const char kDevice[] = "zoltavex.vxd";

// A section buffer of exactly the bytes given (no slack for a reader that
// runs past its end).
std::unique_ptr<char[]> Buffer(const std::string& bytes) {
  std::unique_ptr<char[]> buffer(new char[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), buffer.get());
  return buffer;
}

std::string Edited(const std::string& bytes) {
  std::unique_ptr<char[]> buffer = Buffer(bytes);
  DisableDeviceEntries(buffer.get(), bytes.size(), kDevice);
  return std::string(buffer.get(), bytes.size());
}

std::string Section(std::initializer_list<const char*> entries) {
  std::string bytes;
  for (const char* entry : entries) bytes += std::string(entry) + '\0';
  return bytes + '\0';
}

using text::Lines;

TEST(DisableDeviceEntriesTest, OnlyExactWholeEntriesAreDisabledInPlace) {
  const std::string before =
      Section({"device=*vmm", "device=zoltavex.vxd", "DEVICE=zoltavex.vxd", "device=ZOLTAVEX.VXD",
               "device =zoltavex.vxd", "device= zoltavex.vxd", "device=zoltavex.vxd ",
               "device=zoltavex.vxd2", "device=c:\\zoltavex.vxd", "xdevice=zoltavex.vxd",
               " device=zoltavex.vxd", "device=zoltavex.vx", "device=zoltavex.vxd"});
  std::string expected = before;
  // Both exact entries, and nothing else.
  const size_t first = before.find(std::string(1, '\0') + "device=zoltavex.vxd" + '\0');
  const size_t last = before.rfind(std::string(1, '\0') + "device=zoltavex.vxd" + '\0');
  ASSERT_NE(first, last);
  expected[first + 1] = ';';
  expected[last + 1] = ';';
  EXPECT_EQ(Edited(before), expected);
}

TEST(DisableDeviceEntriesTest, DisabledEntriesAndOtherSectionsStayAsTheyAre) {
  const std::string once = Edited(Section({"device=zoltavex.vxd", "keyboard=x"}));
  EXPECT_EQ(Section({";evice=zoltavex.vxd", "keyboard=x"}), once);
  EXPECT_EQ(once, Edited(once));
  EXPECT_EQ(Section({}), Edited(Section({})));
  const std::string none = Section({"device=other.vxd", "a=b"});
  EXPECT_EQ(none, Edited(none));
}

TEST(DisableDeviceEntriesTest, NeverReadsPastTheBuffer) {
  // No final empty entry, and a last entry without its zero.
  EXPECT_EQ(Edited(std::string("device=zoltavex.vxd\0a", 21)),
            std::string(";evice=zoltavex.vxd\0a", 21));
  EXPECT_EQ(Edited("device=zoltavex.vxd"), ";evice=zoltavex.vxd");
  EXPECT_EQ(Edited("device=zoltavex.vx"), "device=zoltavex.vx");
  EXPECT_EQ(Edited(std::string("device=zoltavex.vxd\0", 20)),
            std::string(";evice=zoltavex.vxd\0", 20));
  DisableDeviceEntries(nullptr, 0, kDevice);
  char one = 'd';
  DisableDeviceEntries(&one, 1, kDevice);
  EXPECT_EQ(one, 'd');
}

class SystemIni : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMachine(sim::Windows::Win98);
    PlatformFamily = VER_PLATFORM_WIN32_WINDOWS;
    path_ = sim::WindowsFolder() + "\\SYSTEM.INI";
  }
  std::string path_;
};

TEST_F(SystemIni, MatchingLinesBecomeCommentsInPlace) {
  sim::PutIni(path_,
              "[boot]\r\nshell=Explorer.exe\r\n[386Enh]\r\ndevice=*vmm\r\n"
              "device=zoltavex.vxd\r\nDEVICE=ZOLTAVEX.VXD\r\ndevice=zoltavex.vxd\r\n"
              "keyboard=*vkd\r\n[VCache]\r\nMinFileCache=512\r\n");
  DisableSystemIniDevice(kDevice);
  const std::vector<std::string> lines = Lines(sim::IniText(path_));
  EXPECT_EQ(lines, std::vector<std::string>({"[boot]", "shell=Explorer.exe", "[386Enh]",
                                             "device=*vmm", ";evice=zoltavex.vxd",
                                             "DEVICE=ZOLTAVEX.VXD", ";evice=zoltavex.vxd",
                                             "keyboard=*vkd", "[VCache]", "MinFileCache=512"}));
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();

  // A second run finds nothing more to do.
  const std::string once = sim::IniText(path_);
  DisableSystemIniDevice(kDevice);
  EXPECT_EQ(once, sim::IniText(path_));
}

TEST_F(SystemIni, AbsentSectionLeavesTheOtherEntries) {
  sim::PutIni(path_, "[boot]\r\nshell=Explorer.exe\r\n");
  DisableSystemIniDevice(kDevice);
  std::string value;
  EXPECT_TRUE(sim::IniValue(path_, "boot", "shell", &value));
  EXPECT_EQ(value, "Explorer.exe");
  EXPECT_FALSE(sim::IniValue(path_, "386Enh", "device", &value));
  EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(SystemIni, SectionLargerThanTheFirstBufferLosesNothing) {
  // A long windows folder (SYSTEM.INI's path just within MAX_PATH, which
  // the file calls refuse beyond): SYSTEM.INI still sizes the buffer.
  sim::SetWindowsFolder("C:\\" + std::string(240, 'W'));
  path_ = sim::WindowsFolder() + "\\SYSTEM.INI";
  std::string text = "[386Enh]\r\n";
  std::vector<std::string> expected = {"[386Enh]"};
  for (int i = 0; i < 1200; ++i) {  // about 25 KB
    const std::string line = "device=driver" + std::to_string(i) + ".386";
    text += line + "\r\n";
    expected.push_back(line);
  }
  text += "device=zoltavex.vxd\r\n[VCache]\r\nMinFileCache=512\r\n";
  expected.push_back(";evice=zoltavex.vxd");
  expected.push_back("[VCache]");
  expected.push_back("MinFileCache=512");
  sim::PutIni(path_, text);
  DisableSystemIniDevice(kDevice);
  EXPECT_EQ(Lines(sim::IniText(path_)), expected);
  EXPECT_EQ(CallsOf("GetPrivateProfileSectionA"), 1u);
}

TEST_F(SystemIni, SectionThatFillsTheFirstBufferExactlyIsKeptWhole) {
  // Entries whose bytes come to exactly 8190 (the size minus two): the
  // platform's answer is the same as for a cut section.
  const size_t others = 8190 - sizeof("device=zoltavex.vxd");
  std::string text = "[386Enh]\r\n";
  size_t bytes = 0;
  int i = 0;
  std::vector<std::string> expected = {"[386Enh]"};
  while (bytes < others - 40) {
    const std::string line = "k" + std::to_string(1000 + i++) + "=" + std::string(30, 'v');
    text += line + "\r\n";
    expected.push_back(line);
    bytes += line.size() + 1;
  }
  const std::string last = "z=" + std::string(others - bytes - 3, 'w');
  text += last + "\r\ndevice=zoltavex.vxd\r\n";
  expected.push_back(last);
  expected.push_back(";evice=zoltavex.vxd");
  sim::PutIni(path_, text);
  DisableSystemIniDevice(kDevice);
  EXPECT_EQ(Lines(sim::IniText(path_)), expected);
}

}  // namespace
