// The call table of the simulated machine against the declarations of
// include/platform.h, and the libraries each version's machine builds from
// it.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "calls.h"
#include "sim.h"

namespace {

// The Win32 functions the simulated branch of platform.h declares, each with
// its number of parameters.
std::map<std::string, size_t> DeclaredCalls() {
  std::ifstream in(DRVSETUP_SOURCE_DIR "/include/platform.h");
  std::stringstream whole;
  whole << in.rdbuf();
  std::string text = whole.str();
  const size_t branch = text.find("#else  // simulated machine");
  EXPECT_NE(branch, std::string::npos) << "platform.h has no simulated branch";
  text = branch == std::string::npos ? std::string() : text.substr(branch);

  std::map<std::string, size_t> declared;
  const std::regex declaration(R"(WINAPI\s+([A-Za-z0-9_]+)\s*\(([^)]*)\)\s*;)");
  for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it) {
    const std::string params = (*it)[2];
    size_t count = 0;
    if (params.find_first_not_of(" \t\n") != std::string::npos && params != "void") {
      count = 1;
      for (char c : params) count += c == ',';
    }
    declared[(*it)[1]] = count;
  }
  return declared;
}

TEST(Calls, EveryDeclarationHasItsRowAndEveryRowItsDeclaration) {
  const std::map<std::string, size_t> declared = DeclaredCalls();
  ASSERT_GT(declared.size(), 50u);
  for (const auto& entry : declared) {
    const sim::CallInfo* row = sim::FindCall(entry.first);
    EXPECT_NE(row, nullptr) << entry.first << " is declared in platform.h but has no row in "
                            << "sim/calls.def";
    if (!row) continue;
    // The comparison with Wine reads one argument kind per parameter.
    EXPECT_EQ(std::string(row->args).size(), entry.second)
        << entry.first << ": the row's argument kinds do not match its parameters";
  }
  for (const sim::CallInfo& row : sim::Calls()) {
    EXPECT_TRUE(declared.count(row.name))
        << row.name << " has a row in sim/calls.def but no declaration in platform.h";
    EXPECT_EQ(sim::FindCall(row.name), &row) << row.name << " has two rows";
  }
}

// GetProcAddress hands out every row on the versions that have it, and none
// on the others; a library exists exactly where one of its rows does.
TEST(Calls, EachVersionsLibrariesHoldTheirRows) {
  for (sim::Windows version : {sim::Windows::Win95, sim::Windows::Win98, sim::Windows::WinMe,
                               sim::Windows::NT351, sim::Windows::NT40, sim::Windows::Win2k,
                               sim::Windows::WinXP, sim::Windows::Win7, sim::Windows::Win10}) {
    SCOPED_TRACE(sim::WindowsName(version));
    sim::Reset(version);
    std::map<std::string, HMODULE> libraries;
    std::map<std::string, bool> libraryWanted;
    for (const sim::CallInfo& row : sim::Calls()) libraryWanted[row.library] |= row.On(version);
    for (const auto& entry : libraryWanted) {
      HMODULE module = LoadLibraryA(entry.first.c_str());
      EXPECT_EQ(module != nullptr, entry.second) << entry.first;
      libraries[entry.first] = module;
    }
    for (const sim::CallInfo& row : sim::Calls()) {
      HMODULE module = libraries[row.library];
      if (!module) continue;
      EXPECT_EQ(GetProcAddress(module, row.name) != nullptr, row.On(version))
          << row.library << " " << row.name;
    }
    for (const auto& entry : libraries) {
      if (entry.second) FreeLibrary(entry.second);
    }
    EXPECT_TRUE(sim::NothingOutstanding()) << sim::OutstandingText();
  }
}

}  // namespace
