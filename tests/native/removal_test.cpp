// The removal program on the simulated machine: its start (family, guard,
// exit) like the installer's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "sim.h"

namespace {

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

}  // namespace
