// The ASPI layer on both families: the presence marker, staged copies with
// their backup and final renames, the service values, and what the machine
// holds after the restart.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "harness.h"
#include "packages.h"
#include "platform_family.h"
#include "sim.h"

namespace {

const std::string kSource = "C:\\SETUP\\";

// The lines of Wininit.ini's [RENAME] section, in file order.
std::vector<std::string> WininitRenames() {
  std::vector<std::string> lines;
  const std::string text = sim::IniText("C:\\WINDOWS\\Wininit.ini");
  bool inRename = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[')
      inRename = line == "[RENAME]";
    else if (inRename && !line.empty())
      lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

sim::RunResult Install() {
  return sim::Run(
      [] { InstallAspiLayer("C:\\SETUP\\", sim::WindowsFolder(), sim::SystemFolder()); });
}

class AspiLayer9x : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMachine(sim::Windows::Win98);
    PlatformFamily = 1;
    for (const char* name : {"WNASPI32.9x", "WINASPI.9x", "ASPIENUM.9x", "APIX.9x"})
      sim::PutFile(kSource + name, std::string("new ") + name);
  }
  const std::string sys_ = "C:\\WINDOWS\\SYSTEM\\";
  const std::string vxdKey_ = "SYSTEM\\CurrentControlSet\\Services\\VXD\\";
};

TEST_F(AspiLayer9x, PresenceMarkerLeavesTheMachineAlone) {
  sim::PutFile(sys_ + "WNASPI32.DLL", "installed");
  const std::string before = sim::Dump();
  Install();
  EXPECT_EQ(sim::DiffDumps(before, sim::Dump()), "");
  EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(AspiLayer9x, StagesAllRowsWithBackupsAndCompletesAtRestart) {
  sim::PutFile(sys_ + "ASPIENUM.VXD", "old enumerator");
  Install();
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
  const std::string s = sys_;
  // The marker's row (WNASPI32) comes last, after the values.
  EXPECT_EQ(WininitRenames(), (std::vector<std::string>{
                                  s + "WINASPI.OLD=" + s + "WINASPI.DLL",
                                  s + "WINASPI.DLL=" + s + "WINASPI.9x",
                                  s + "ASPIENUM.OLD=" + s + "ASPIENUM.VXD",
                                  s + "ASPIENUM.VXD=" + s + "ASPIENUM.9x",
                                  s + "IOSUBSYS\\APIX.OLD=" + s + "IOSUBSYS\\APIX.VXD",
                                  s + "IOSUBSYS\\APIX.VXD=" + s + "IOSUBSYS\\APIX.9x",
                                  s + "WNASPI32.OLD=" + s + "WNASPI32.DLL",
                                  s + "WNASPI32.DLL=" + s + "WNASPI32.9x",
                              }));
  EXPECT_EQ(File(s + "IOSUBSYS\\APIX.9x"), "new APIX.9x");
  EXPECT_EQ(Reg(vxdKey_ + "ASPIEnum", "Start"), "4:" + sim::DwordOf(0));
  EXPECT_EQ(Reg(vxdKey_ + "ASPIEnum", "StaticVxD"), "1:" + sim::StringOf("ASPIENUM.VXD"));
  EXPECT_EQ(Reg(vxdKey_ + "APIX", "ExcludeMiniports"), std::string("1:\0", 3));

  sim::Restart();
  EXPECT_EQ(File(s + "WNASPI32.DLL"), "new WNASPI32.9x");
  EXPECT_EQ(File(s + "ASPIENUM.VXD"), "new ASPIENUM.9x");
  EXPECT_EQ(File(s + "ASPIENUM.OLD"), "old enumerator");
  EXPECT_EQ(File(s + "IOSUBSYS\\APIX.VXD"), "new APIX.9x");
}

TEST_F(AspiLayer9x, FailedCopiesSkipOnlyTheirRows) {
  sim::Remove(kSource + "WINASPI.9x");
  sim::Remove(sys_ + "IOSUBSYS");
  Install();
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_FALSE(sim::Exists(sys_ + "IOSUBSYS"));
  const std::string s = sys_;
  EXPECT_EQ(WininitRenames(), (std::vector<std::string>{
                                  s + "ASPIENUM.OLD=" + s + "ASPIENUM.VXD",
                                  s + "ASPIENUM.VXD=" + s + "ASPIENUM.9x",
                                  s + "WNASPI32.OLD=" + s + "WNASPI32.DLL",
                                  s + "WNASPI32.DLL=" + s + "WNASPI32.9x",
                              }));
  EXPECT_EQ(Reg(vxdKey_ + "APIX", "ExcludeMiniports"), std::string("1:\0", 3));
}

TEST_F(AspiLayer9x, SecondRunBeforeRestartStillEndsWithTheNewFiles) {
  sim::PutFile(sys_ + "WINASPI.DLL", "old winaspi");
  Install();
  Install();
  sim::Restart();
  EXPECT_EQ(File(sys_ + "WNASPI32.DLL"), "new WNASPI32.9x");
  EXPECT_EQ(File(sys_ + "WINASPI.DLL"), "new WINASPI.9x");
  EXPECT_EQ(File(sys_ + "WINASPI.OLD"), "old winaspi");
}

class AspiLayerNt : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMachine(sim::Windows::Win2k);
    PlatformFamily = 2;
    sys_ = sim::SystemFolder() + "\\";
    win_ = sim::WindowsFolder() + "\\";
    for (const char* name : {"ASPI32.NT", "WNASPI32.NT", "WINASPI.NT", "WOWPOST.NT"})
      sim::PutFile(kSource + name, std::string("new ") + name);
  }
  // One pending pair: from -> to, replacing.
  static std::pair<std::string, std::string> Pending(const std::string& from,
                                                     const std::string& to) {
    return {"\\??\\" + from, "!\\??\\" + to};
  }
  std::string sys_, win_;
  const std::string serviceKey_ = "SYSTEM\\CurrentControlSet\\Services\\Aspi32";
};

TEST_F(AspiLayerNt, PresenceMarkerLeavesTheMachineAlone) {
  sim::PutFile(sys_ + "Drivers\\ASPI32.SYS", "installed");
  const std::string before = sim::Dump();
  Install();
  EXPECT_EQ(sim::DiffDumps(before, sim::Dump()), "");
}

TEST_F(AspiLayerNt, StagesAllRowsWithBackupsAndCompletesAtRestart) {
  sim::PutFile(sys_ + "WNASPI32.DLL", "old wnaspi32");
  Install();
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
  const std::string s = sys_, w = win_ + "SYSTEM\\";
  EXPECT_EQ(sim::PendingRenames(),
            (std::vector<std::pair<std::string, std::string>>{
                Pending(s + "WNASPI32.DLL", s + "WNASPI32.OLD"),
                Pending(s + "WNASPI32.NT", s + "WNASPI32.DLL"),
                Pending(w + "WINASPI.DLL", w + "WINASPI.OLD"),
                Pending(w + "WINASPI.NT", w + "WINASPI.DLL"),
                Pending(w + "WOWPOST.EXE", w + "WOWPOST.OLD"),
                Pending(w + "WOWPOST.NT", w + "WOWPOST.EXE"),
                Pending(s + "Drivers\\ASPI32.SYS", s + "Drivers\\ASPI32.OLD"),
                Pending(s + "Drivers\\ASPI32.NT", s + "Drivers\\ASPI32.SYS"),
            }));
  EXPECT_FALSE(sim::Exists(win_ + "Wininit.ini"));
  EXPECT_EQ(sim::RegValueNames(HKEY_LOCAL_MACHINE, serviceKey_),
            (std::vector<std::string>{"Type", "Start", "Undoable", "ErrorControl", "MatchFlags"}));
  EXPECT_EQ(Reg(serviceKey_, "Start"), "4:" + sim::DwordOf(2));
  EXPECT_EQ(Reg(serviceKey_, "ImagePath"), "missing");
  EXPECT_EQ(Reg(serviceKey_ + "\\Parameters", "ExcludeMiniports"), std::string("1:\0", 3));

  sim::Restart();
  EXPECT_EQ(File(s + "Drivers\\ASPI32.SYS"), "new ASPI32.NT");
  EXPECT_EQ(File(s + "WNASPI32.DLL"), "new WNASPI32.NT");
  EXPECT_EQ(File(s + "WNASPI32.OLD"), "old wnaspi32");
  EXPECT_EQ(File(w + "WOWPOST.EXE"), "new WOWPOST.NT");
}

TEST_F(AspiLayerNt, MissingWindowsSystemFolderSkipsItsRows) {
  sim::Remove(win_ + "SYSTEM");
  Install();
  EXPECT_FALSE(sim::Exists(win_ + "SYSTEM"));
  ASSERT_EQ(sim::PendingRenames().size(), 4u);
  EXPECT_EQ(sim::PendingRenames()[1], Pending(sys_ + "WNASPI32.NT", sys_ + "WNASPI32.DLL"));
  EXPECT_EQ(sim::PendingRenames()[3],
            Pending(sys_ + "Drivers\\ASPI32.NT", sys_ + "Drivers\\ASPI32.SYS"));
}

TEST_F(AspiLayerNt, WithoutFilesOnlyTheValuesAreWritten) {
  PlatformFamily = 0;  // the version could not be read: the NT table
  for (const char* name : {"ASPI32.NT", "WNASPI32.NT", "WINASPI.NT", "WOWPOST.NT"})
    sim::Remove(kSource + name);
  Install();
  EXPECT_TRUE(sim::PendingRenames().empty());
  EXPECT_EQ(Reg(serviceKey_, "Type"), "4:" + sim::DwordOf(1));
  EXPECT_EQ(Reg(serviceKey_, "MatchFlags"), "4:" + sim::DwordOf(0));
  EXPECT_TRUE(sim::Boxes().empty());
}

TEST_F(AspiLayerNt, SecondRunBeforeRestartStillEndsWithTheNewFiles) {
  sim::PutFile(sys_ + "WNASPI32.DLL", "old wnaspi32");
  Install();
  Install();
  sim::Restart();
  EXPECT_EQ(File(sys_ + "Drivers\\ASPI32.SYS"), "new ASPI32.NT");
  EXPECT_EQ(File(sys_ + "WNASPI32.DLL"), "new WNASPI32.NT");
  EXPECT_EQ(File(sys_ + "WNASPI32.OLD"), "old wnaspi32");
  EXPECT_EQ(File(win_ + "SYSTEM\\WINASPI.DLL"), "new WINASPI.NT");
}

// A run cut right before any call of the package, the restart, a whole run
// and the next restart: every final name holds the new file, nothing is left
// staged or pending, and the layer's values are those of a run that was never
// cut. An older file at a final name is replaced, never kept beside new ones.
struct CutFamily {
  sim::Windows version;
  DWORD family;
  std::vector<std::pair<std::string, std::string>> files;  // final path -> source name
  std::string valuesKey;
  std::string oldFile;  // a final name that holds an older file at the start
  // Where the package files lie ("" for C:\SETUP\): a CD keeps times to the
  // second, and the files there have odd-second times, which a FAT disk
  // cannot keep for the copies.
  char cdDrive = 0;
};

void PrintTo(const CutFamily& family, std::ostream* out) {
  *out << sim::WindowsName(family.version);
}

std::string cutSource;  // the source folder of the cut runs

class AspiLayerCut : public ::testing::TestWithParam<CutFamily> {
 protected:
  void Build() {
    sim::Reset(GetParam().version);
    PlatformFamily = GetParam().family;
    if (GetParam().cdDrive) sim::SetDrive(GetParam().cdDrive, DRIVE_CDROM);
    for (const auto& file : GetParam().files)
      sim::PutFile(Source() + file.second, "new " + file.second, FILE_ATTRIBUTE_ARCHIVE,
                   sim::FileTimeOf(2001, 5, 7, 12, 30, 17));
    sim::PutFile(GetParam().oldFile, "old");
  }
  std::string Source() const {
    return GetParam().cdDrive ? std::string(1, GetParam().cdDrive) + ":\\DRIVERS\\" : kSource;
  }
  void ExpectComplete(const std::string& values) {
    for (const auto& file : GetParam().files) {
      EXPECT_EQ(File(file.first), "new " + file.second) << file.first;
      const std::string staging = file.first.substr(0, file.first.rfind('.') + 1) +
                                  file.second.substr(file.second.rfind('.') + 1);
      EXPECT_FALSE(sim::Exists(staging)) << staging;
    }
    EXPECT_TRUE(sim::PendingRenames().empty());
    EXPECT_FALSE(sim::Exists(sim::WindowsFolder() + "\\Wininit.ini"));
    // The file the layer replaced is kept under its backup name.
    const std::string& old = GetParam().oldFile;
    EXPECT_EQ(File(old.substr(0, old.rfind('.')) + ".OLD"), "old");
    EXPECT_EQ(values, sim::RegistryText(HKEY_LOCAL_MACHINE, GetParam().valuesKey));
  }
};

TEST_P(AspiLayerCut, RunAgainAfterACutAnywhereCompletesTheLayer) {
  Build();
  sim::ClearTrace();
  InstallAspiLayer(Source(), sim::WindowsFolder(), sim::SystemFolder());
  const size_t calls = sim::CallCount();
  sim::Restart();
  const std::string values = sim::RegistryText(HKEY_LOCAL_MACHINE, GetParam().valuesKey);
  ASSERT_NE(values, "REGEDIT4\n");
  ExpectComplete(values);

  for (size_t k = 1; k <= calls; ++k) {
    SCOPED_TRACE("cut before call " + std::to_string(k) + " of " + std::to_string(calls));
    Build();
    cutSource = Source();
    CutRunAgainAndRestart(
        k, calls, [] { InstallAspiLayer(cutSource, sim::WindowsFolder(), sim::SystemFolder()); });
    ExpectComplete(values);
    if (HasFailure()) break;
  }
}

std::string NtSys() { return "C:\\WINNT\\system32\\"; }

INSTANTIATE_TEST_SUITE_P(
    Families, AspiLayerCut,
    ::testing::Values(CutFamily{sim::Windows::Win98,
                                1,
                                {{"C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL", "WNASPI32.9x"},
                                 {"C:\\WINDOWS\\SYSTEM\\WINASPI.DLL", "WINASPI.9x"},
                                 {"C:\\WINDOWS\\SYSTEM\\ASPIENUM.VXD", "ASPIENUM.9x"},
                                 {"C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\APIX.VXD", "APIX.9x"}},
                                "SYSTEM\\CurrentControlSet\\Services\\VXD",
                                "C:\\WINDOWS\\SYSTEM\\ASPIENUM.VXD"},
                      CutFamily{sim::Windows::WinMe,
                                1,
                                {{"C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL", "WNASPI32.9x"},
                                 {"C:\\WINDOWS\\SYSTEM\\WINASPI.DLL", "WINASPI.9x"},
                                 {"C:\\WINDOWS\\SYSTEM\\ASPIENUM.VXD", "ASPIENUM.9x"},
                                 {"C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\APIX.VXD", "APIX.9x"}},
                                "SYSTEM\\CurrentControlSet\\Services\\VXD",
                                "C:\\WINDOWS\\SYSTEM\\WINASPI.DLL",
                                'E'},
                      CutFamily{sim::Windows::Win2k,
                                2,
                                {{NtSys() + "Drivers\\ASPI32.SYS", "ASPI32.NT"},
                                 {NtSys() + "WNASPI32.DLL", "WNASPI32.NT"},
                                 {"C:\\WINNT\\SYSTEM\\WINASPI.DLL", "WINASPI.NT"},
                                 {"C:\\WINNT\\SYSTEM\\WOWPOST.EXE", "WOWPOST.NT"}},
                                "SYSTEM\\CurrentControlSet\\Services\\Aspi32",
                                "C:\\WINNT\\SYSTEM\\WINASPI.DLL"}),
    [](const ::testing::TestParamInfo<CutFamily>& info) {
      return std::string(sim::WindowsName(info.param.version));
    });

}  // namespace
