// The real drvremove.exe under Wine after the real drvsetup.exe: before,
// install, restart, remove, restart is the machine from before but for the
// keep list, and so is install, remove, restart; a second removal changes
// nothing; the engine program held open goes at the restart.
#include "harness.h"
#include "installer_fixture.h"
#include "machine_state.h"

using namespace winetest;

namespace {

const char kApp[] = "C:\\app";
const char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\Root";

class RemovalTest : public InstallerTest {
 protected:
  // What the programs change: the system, drivers and INF folders, the
  // application folder, the INI files, every key the installer writes below
  // with its parents, and on NT the device tree's access list.
  prove::State State() {
    prove::Watch watch;
    watch.folders = {"C:\\windows\\system32", "C:\\windows\\system", "C:\\windows\\system3232",
                     "C:\\windows\\inf", kApp};
    watch.iniFiles = {"C:\\windows\\system.ini", "C:\\windows\\wininit.ini"};
    watch.keys = {"HKLM\\SYSTEM\\CurrentControlSet\\Services\\ZOLTAVEX",
                  "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Class",
                  "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class",
                  "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\REALTIME",
                  "HKLM\\Enum",
                  "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                  "HKLM\\Software\\Miravelt"};
    if (!nineX_) watch.securityKey = kEnumRoot;
    return prove::WineState(*wine, watch);
  }

  // The changes since `before` that neither the keep list nor the round
  // trip explains, one line each.
  static std::string Unexplained(const prove::State& before, const prove::State& after) {
    std::string lines;
    for (const auto& change : prove::Changes(before, after)) {
      if (!RoundTripReason(change.first, kApp)) lines += change.first + ": " + change.second + "\n";
    }
    return lines;
  }

  void ExpectExit0(const RunResult& r, const char* what) {
    EXPECT_EQ(r.exitCode, 0) << what << ": " << r.err;
  }

  // Both round trips on one family, then a removal while the engine
  // program is held open.
  void RoundTrips(const char* version) {
    nineX_ = winehost::NineXVersion(version);
    ASSERT_TRUE(wine->SetVersion(version));
    if (nineX_) {
      // Keys every 9x machine has and Wine's registry lacks: the 9x
      // packages write below them and the removal leaves them.
      ASSERT_TRUE(wine->PresetKey("HKLM\\Enum\\Root"));
      ASSERT_TRUE(wine->PresetKey("HKLM\\SYSTEM\\CurrentControlSet\\Services\\Class"));
    }
    PlacePackageFiles();
    ASSERT_TRUE(wine->PutFile(std::string(kApp) + "\\HISTORY.TXT", "notes"));
    ASSERT_TRUE(wine->StartSession());
    const prove::State before = State();

    for (bool restartBetween : {true, false}) {
      SCOPED_TRACE(restartBetween ? "restart between" : "no restart between");
      ExpectExit0(wine->RunInstaller({kApp}), "drvsetup.exe");
      if (restartBetween) {
        ASSERT_TRUE(wine->Restart());
      }
      ASSERT_NE(Unexplained(before, State()), "");  // there is something to remove
      ExpectExit0(wine->RunRemover(), "drvremove.exe");
      ASSERT_TRUE(wine->Restart());
      const prove::State after = State();
      EXPECT_EQ(Unexplained(before, after), "");
      ExpectExit0(wine->RunRemover(), "drvremove.exe again");
      EXPECT_TRUE(prove::Changes(after, State()).empty());
    }

    ExpectExit0(wine->RunInstaller({}), "drvsetup.exe");
    ASSERT_TRUE(wine->Restart());
    const std::string engine = "C:\\windows\\system32\\ZOLTAVEX.EXE";
    ASSERT_TRUE(wine->Hold(engine));
    ExpectExit0(wine->RunRemover(), "drvremove.exe, engine held");
    EXPECT_TRUE(wine->Exists(engine));
    if (nineX_) {
      EXPECT_NE(wine->FileText("C:\\windows\\wininit.ini").find("NUL=" + engine),
                std::string::npos);
    }
    wine->Release();
    ASSERT_TRUE(wine->Restart());
    EXPECT_FALSE(wine->Exists(engine));
    EXPECT_EQ(Unexplained(before, State()), "");
  }

  bool nineX_ = false;
};

TEST_F(RemovalTest, RoundTripsOn9xLeaveOnlyTheKeepList) { RoundTrips("win98"); }

TEST_F(RemovalTest, RoundTripsOnNtLeaveOnlyTheKeepList) { RoundTrips("winxp"); }

}  // namespace
