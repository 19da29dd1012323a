// Shared set-up of the Wine tests that run the real drvsetup.exe: a fresh
// prefix per test with the installer in C:\setup, and small readers for what
// a run leaves.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "wine_test.h"

namespace winetest {

class InstallerTest : public WineTest {
 protected:
  void SetUp() override {
    WineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(wine->PlaceInstaller());
  }

  // Places the files of every package beside the installer (contents are
  // their own names), so that a run that gets to the packages installs them.
  void PlacePackageFiles(Caller caller = {}) {
    TRACE_CALLER(caller);
    for (const char* name : {"ZOLTAVEX.VXD", "ZOLTAV16.DLL", "ZOLTAVEX.INF", "ZOLTAVEX.DLL",
                             "ZOLTAVEX.EXE", "ZOLTAVEX.SYS", "KOVA51USB.INF", "DQ_USB.INF",
                             "FTD2XX.DLL", "FTD2XXUN.EXE", "FTD2XX.SYS"})
      ASSERT_TRUE(wine->PutFile(std::string(WinePrefix::kSourceFolder) + "\\" + name, name));
  }

  // The paths (relative to winFolder) of the files below it.
  std::vector<std::string> FileNames(const std::string& winFolder) {
    std::vector<std::string> out;
    for (const auto& e : wine->Files(winFolder))
      if (!e.folder) out.push_back(e.path);
    std::sort(out.begin(), out.end());
    return out;
  }

  // The calls of one function whose first argument starts with prefix.
  static std::vector<RelayCall> CallsOn(const RelayTrace& trace, const std::string& function,
                                        const std::string& prefix) {
    std::vector<RelayCall> out;
    for (const auto& c : trace.Named(function))
      if (c.Text(0).compare(0, prefix.size(), prefix) == 0) out.push_back(c);
    return out;
  }
};

}  // namespace winetest
