// The Wine tests' layer over the Wine host: the test is skipped without Wine,
// fails without the win64 programs, and fails with every problem the host
// met on its side. Why the tests are written as they are (sessions kept
// alive, immutable files, folders in place of INI files) is in
// docs/wine-notes.md.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "wine_prefix.h"

namespace winetest {

using namespace ::winehost;

// What to do when the Wine or the programs of the chosen build are missing:
// the 64-bit Wine comes with the machine's packages and runs the win64
// build; the 32-bit one (DRVSETUP_WINE_ARCH=win32) lives in the i386 tree and
// runs the win32 build.
inline std::string WineMissingHint(WineArch arch) {
  if (arch == WineArch::k32)
    return "the i386 Wine tree is not made: run scripts/i386-wine-tree to run the 32-bit "
           "Wine tests";
  return "Wine is not installed (no wine/wineserver on PATH): install the Debian packages wine "
         "and wine64 to run the Wine tests";
}
inline std::string ProgramsMissingHint(WineArch arch) {
  const std::string preset = ArchName(arch);
  return "build the " + preset + " preset (cmake --preset " + preset +
         " && cmake --build --preset " + preset + ") or point DRVSETUP_" +
         (arch == WineArch::k32 ? "WIN32" : "WIN64") + "_DIR at a " + preset + " build";
}

// Skips the test when the chosen Wine is missing; fails it when the programs
// of the matching build are.
#define WINE_TEST_REQUIREMENTS()                                                               \
  do {                                                                                         \
    const ::winehost::WineArch arch_ = ::winehost::DefaultArch();                              \
    if (!::winehost::WineInstalled(arch_)) GTEST_SKIP() << ::winetest::WineMissingHint(arch_); \
    std::string missing_;                                                                      \
    if (!::winehost::ProgramsBuilt(&missing_, arch_))                                          \
      FAIL() << "missing in " << ::winehost::ProgramsDir(arch_) << ": " << missing_ << "; "    \
             << ::winetest::ProgramsMissingHint(arch_);                                        \
  } while (0)

// The line a helper was called from. A helper that asserts takes it as its
// last parameter, defaulted (`Caller caller = {}`), so that each call fills in
// its own file and line, and opens its body with TRACE_CALLER(caller): its
// failures then name the test's line as well as the helper's. Nested helpers
// each add their own line.
struct Caller {
  // Not explicit: `= {}` must fill it in where the call is written.
  Caller(const char* callFile = __builtin_FILE(), int callLine = __builtin_LINE())
      : file(callFile), line(callLine) {}
  const char* file;
  int line;
};

#define TRACE_CALLER(caller) \
  const ::testing::ScopedTrace caller_trace_((caller).file, (caller).line, "called from here")

// Fails the running test once for each problem the prefix recorded.
inline void ExpectNoProblems(WinePrefix& wine) {
  for (const std::string& problem : wine.TakeProblems()) ADD_FAILURE() << problem;
}

// A fresh prefix per test.
class WineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WINE_TEST_REQUIREMENTS();
    wine = std::make_unique<WinePrefix>();
    ASSERT_TRUE(wine->Ready()) << wine->Error();
  }
  void TearDown() override {
    if (wine) ExpectNoProblems(*wine);
  }

  std::unique_ptr<WinePrefix> wine;
};

}  // namespace winetest
