// The two USB device packages: the setup information files and the D2XX
// files, their targets on each family and their failure messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "packages.h"
#include "platform_family.h"
#include "sim.h"

namespace {

const std::string kSource = "C:\\SETUP\\";
const char* const kFiles[] = {"KOVA51USB.INF", "DQ_USB.INF", "FTD2XX.DLL", "FTD2XXUN.EXE",
                              "FTD2XX.SYS"};

void InstallBoth() {
  sim::Run([] {
    InstallKova51UsbPackage("C:\\SETUP\\", sim::WindowsFolder(), sim::SystemFolder());
    InstallDqUsbPackage("C:\\SETUP\\", sim::WindowsFolder(), sim::SystemFolder());
  });
}

class UsbPackages : public ::testing::TestWithParam<sim::Windows> {
 protected:
  void SetUp() override {
    ResetMachine(GetParam());
    PlatformFamily = sim::Is9x(GetParam()) ? 1 : 2;
    for (const char* name : kFiles) sim::PutFile(kSource + name, std::string("new ") + name);
    win_ = sim::WindowsFolder() + "\\";
    sys_ = sim::SystemFolder() + "\\";
    // 9x: the driver goes beside the system folder, into SYSTEM32\Drivers.
    driversFolder_ = sim::Is9x(GetParam()) ? sim::SystemFolder() + "32\\Drivers" : sys_ + "Drivers";
    drivers_ = driversFolder_ + "\\";
  }
  std::string win_, sys_, driversFolder_, drivers_;
};

TEST_P(UsbPackages, PlacesEveryFileAndReplacesReadOnlyTargets) {
  sim::PutFile(win_ + "INF\\DQ_USB.INF", "old", FILE_ATTRIBUTE_READONLY);
  sim::PutFile(drivers_ + "FTD2XX.SYS", "old", FILE_ATTRIBUTE_READONLY);
  InstallBoth();
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_EQ(File(win_ + "INF\\KOVA51USB.INF"), "new KOVA51USB.INF");
  EXPECT_EQ(File(win_ + "INF\\DQ_USB.INF"), "new DQ_USB.INF");
  EXPECT_EQ(File(sys_ + "FTD2XX.DLL"), "new FTD2XX.DLL");
  EXPECT_EQ(File(sys_ + "FTD2XXUN.EXE"), "new FTD2XXUN.EXE");
  EXPECT_EQ(File(drivers_ + "FTD2XX.SYS"), "new FTD2XX.SYS");
  EXPECT_EQ(sim::Attributes(win_ + "INF\\DQ_USB.INF") & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
}

TEST_P(UsbPackages, MissingSourcesAreSilent) {
  for (const char* name : kFiles) sim::Remove(kSource + name);
  const std::string before = sim::Dump();
  InstallBoth();
  EXPECT_TRUE(sim::Boxes().empty());
  EXPECT_EQ(sim::DiffDumps(before, sim::Dump()), "");
}

TEST_P(UsbPackages, EveryFailedCopyShowsItsOwnMessage) {
  sim::Remove(win_ + "INF");
  sim::PutFile(sys_ + "FTD2XX.DLL", "in use");
  sim::SetLocked(sys_ + "FTD2XX.DLL", true);
  sim::PutFile(sys_ + "FTD2XXUN.EXE", "in use");
  sim::SetLocked(sys_ + "FTD2XXUN.EXE", true);
  sim::Remove(driversFolder_);
  InstallBoth();
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                            "Unable to copy \"KOVA51USB.INF\" to INF dirtectory !",
                            "Unable to copy \"DQ_USB.INF\" to INF directory !",
                            "Unable to copy \"FTD2XX.DLL\" to System32 directory!",
                            "Unable to copy \"FTD2XXUN.EXE\" to System32 directory!",
                            "Unable to copy \"FTD2XX.SYS\" to Drivers directory!",
                        }));
  for (const sim::Box& box : sim::Boxes()) {
    EXPECT_EQ(box.caption, "Miravelt Installation");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(box.owner, nullptr);
  }
  EXPECT_FALSE(sim::Exists(win_ + "INF"));
  EXPECT_FALSE(sim::Exists(driversFolder_));
}

TEST_P(UsbPackages, MissingDriversFolderAffectsOnlyTheDriver) {
  sim::Remove(driversFolder_);
  InstallBoth();
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>{"Unable to copy \"FTD2XX.SYS\" to Drivers directory!"});
  EXPECT_EQ(File(win_ + "INF\\DQ_USB.INF"), "new DQ_USB.INF");
  EXPECT_EQ(File(sys_ + "FTD2XXUN.EXE"), "new FTD2XXUN.EXE");
}

INSTANTIATE_TEST_SUITE_P(Families, UsbPackages,
                         ::testing::Values(sim::Windows::Win98, sim::Windows::WinXP),
                         [](const ::testing::TestParamInfo<sim::Windows>& info) {
                           return std::string(sim::WindowsName(info.param));
                         });

}  // namespace
