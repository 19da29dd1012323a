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

// Skips the test when Wine is missing; fails it when the win64 programs are.
#define WINE_TEST_REQUIREMENTS()                                                            \
  do {                                                                                      \
    if (!::winehost::WineInstalled())                                                       \
      GTEST_SKIP() << "Wine is not installed (no wine/wineserver on PATH): "                \
                      "install the Debian packages wine and wine64 to run the Wine tests";  \
    std::string missing_;                                                                   \
    if (!::winehost::ProgramsBuilt(&missing_))                                              \
      FAIL() << "missing in " << ::winehost::ProgramsDir() << ": " << missing_              \
             << "; build the win64 preset (cmake --preset win64 && cmake --build --preset " \
                "win64) or point DRVSETUP_WIN64_DIR at a win64 build";                      \
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
