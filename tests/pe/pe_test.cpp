// The built programs (drvsetup.exe, drvremove.exe) as Windows sees them: the
// functions each build imports against the reviewed list
// (tests/pe/imports.txt), the system and subsystem versions of the 32-bit PE
// header, and the manifest and version resource. Read back with mingw-w64's
// objdump and windres.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "calls.h"
#include "harness.h"
#include "text.h"

namespace {

struct Build {
  const char* name;
  const char* dir;
  int bits;
  const char* manifestArch;
  // Versions the PE header asks for, "major.minor": Windows 95 and NT
  // 3.51/4.0 refuse to start a program that asks for more than 4.0; 64-bit
  // Windows starts at 5.2.
  const char* osVersion;
  const char* subsystemVersion;
};

const Build kBuilds[] = {
    {"win32", DRVSETUP_WIN32_DIR, 32, "x86", "4.0", "4.0"},
    {"win64", DRVSETUP_WIN64_DIR, 64, "amd64", "4.0", "5.2"},
};

// The product's programs, built side by side from the same code.
struct Program {
  const char* file;
  const char* description;  // the version resource's FileDescription
};

const Program kPrograms[] = {
    {"drvsetup.exe", "Miravelt driver installer"},
    {"drvremove.exe", "Miravelt driver removal"},
};

// One program of one build.
struct Built {
  Build build;
  Program program;
};

std::vector<Built> AllBuilt() {
  std::vector<Built> all;
  for (const Build& build : kBuilds) {
    for (const Program& program : kPrograms) all.push_back({build, program});
  }
  return all;
}

// Test names and messages show the build and the program by their names.
void PrintTo(const Built& built, std::ostream* os) {
  *os << built.build.name << " " << built.program.file;
}

std::string ExePath(const Built& built) {
  return std::string(built.build.dir) + "/" + built.program.file;
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// Runs a command and returns its standard output; *ok is false when it could
// not be run or ended with a non-zero exit code.
std::string Capture(const std::string& command, bool* ok) {
  std::string out;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == NULL) {
    *ok = false;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *ok = pclose(pipe) == 0;
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  std::string field;
  while (in >> field) fields.push_back(field);
  return fields;
}

typedef std::set<std::string> ImportSet;  // "DLL!function"

// The import table as `objdump -p` prints it: a "DLL Name: X" line, then one
// line per function (hint/name RVA, ordinal hint, name).
ImportSet ImportsOf(const std::string& objdump) {
  ImportSet imports;
  std::istringstream in(objdump);
  std::string line, dll;
  bool inImports = false;
  while (std::getline(in, line)) {
    const std::string::size_type at = line.find("DLL Name: ");
    if (at != std::string::npos) {
      dll = Fields(line.substr(at + 10)).at(0);
      inImports = true;
      continue;
    }
    if (!inImports) continue;
    const std::vector<std::string> f = Fields(line);
    if (f.empty()) {
      inImports = false;  // a blank line ends the DLL's list
      continue;
    }
    if (f.size() == 3 && line[0] == '\t' &&
        f[0].find_first_not_of("0123456789abcdef") == std::string::npos)
      imports.insert(dll + "!" + f[2]);
  }
  return imports;
}

// One reviewed line of imports.txt.
struct Reviewed {
  std::string dll, function, nineX, nt, builds, source;
  int line;
};

const std::set<std::string> kNineX = {"95", "95-stub", "98", "-"};
const std::set<std::string> kNt = {"3.1", "3.5", "3.51", "4.0", "5.0", "x64"};
const std::set<std::string> kBuildSets = {"32", "64", "32,64"};
const std::set<std::string> kSources = {"qi", "w32ref", "w95lim", "kb129532", "msvcrt", "x64"};
// What the 32-bit build may need: nothing that first came with Windows 2000
// or Me (or that 32-bit Windows lacks altogether).
const std::set<std::string> kNineXFor32 = {"95", "95-stub", "98"};
const std::set<std::string> kNtFor32 = {"3.1", "3.5", "3.51", "4.0"};

bool Has(const std::set<std::string>& set, const std::string& value) {
  return set.count(value) != 0;
}

// Parses the list; every fault of a line is added to *errors.
std::vector<Reviewed> ParseReviewed(const std::string& text, std::vector<std::string>* errors) {
  std::vector<Reviewed> rows;
  std::set<std::string> seen;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::vector<std::string> f = Fields(line);
    if (f.empty() || f[0][0] == '#') continue;
    const std::string where = "imports.txt:" + std::to_string(number) + ": ";
    if (f.size() != 6) {
      errors->push_back(where + "6 columns expected");
      continue;
    }
    Reviewed r{f[0], f[1], f[2], f[3], f[4], f[5], number};
    if (!Has(kNineX, r.nineX)) errors->push_back(where + "unknown 9x value " + r.nineX);
    if (!Has(kNt, r.nt)) errors->push_back(where + "unknown NT value " + r.nt);
    if (!Has(kBuildSets, r.builds)) errors->push_back(where + "unknown builds " + r.builds);
    if (!Has(kSources, r.source)) errors->push_back(where + "unknown source " + r.source);
    if (r.builds != "64" && (!Has(kNineXFor32, r.nineX) || !Has(kNtFor32, r.nt)))
      errors->push_back(where + r.function +
                        " is newer than the 32-bit build's oldest Windows (9x " + r.nineX +
                        ", NT " + r.nt + "): look it up at run time");
    if (!seen.insert(r.dll + "!" + r.function).second)
      errors->push_back(where + r.function + " is listed twice");
    rows.push_back(r);
  }
  return rows;
}

// A program of a build, read once per test.
class BuiltExe : public ::testing::TestWithParam<Built> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Exists(ExePath(GetParam()))) << ExePath(GetParam()) << " is missing: build the "
                                             << GetParam().build.name << " preset first";
  }
  std::string Objdump() {
    bool ok = false;
    const std::string out =
        Capture(std::string(MINGW_OBJDUMP) + " -p '" + ExePath(GetParam()) + "'", &ok);
    EXPECT_TRUE(ok) << "objdump -p failed on " << ExePath(GetParam());
    return out;
  }
  std::string Resources() {
    bool ok = false;
    const std::string out = Capture(
        std::string(MINGW_WINDRES) + " -J coff -O rc -i '" + ExePath(GetParam()) + "'", &ok);
    EXPECT_TRUE(ok) << "windres could not read the resources of " << ExePath(GetParam());
    return out;
  }
};

TEST(ReviewedImports, ListIsWellFormedAndFitsThe32BitBuild) {
  std::vector<std::string> errors;
  const std::vector<Reviewed> rows = ParseReviewed(HostFileText(DRVSETUP_IMPORTS_LIST), &errors);
  EXPECT_GT(rows.size(), 50u);
  for (const std::string& e : errors) ADD_FAILURE() << e;
}

// The simulated machine has each reviewed function of its libraries on the
// same versions: from the oldest Windows of each family on, and not before.
TEST(ReviewedImports, SimulatedMachineHasThemOnTheSameVersions) {
  using sim::Windows;
  const std::vector<Windows> nineX = {Windows::Win95, Windows::Win98, Windows::WinMe};
  const std::vector<Windows> nt = {Windows::NT351, Windows::NT40, Windows::Win2k,
                                   Windows::WinXP, Windows::Win7, Windows::Win10};
  // Where in each family's list the function starts; the list's size for none.
  const std::map<std::string, size_t> nineXFrom = {{"95", 0}, {"95-stub", 0}, {"98", 1}, {"-", 3}};
  const std::map<std::string, size_t> ntFrom = {
      {"3.1", 0}, {"3.5", 0}, {"3.51", 0}, {"4.0", 1}, {"5.0", 2}};
  std::vector<std::string> errors;
  size_t checked = 0;
  for (const Reviewed& r : ParseReviewed(HostFileText(DRVSETUP_IMPORTS_LIST), &errors)) {
    const sim::CallInfo* call = sim::FindCall(r.function);
    if (!call || text::Upper(call->library) != text::Upper(r.dll)) continue;
    ++checked;
    auto check = [&](const std::vector<Windows>& family, size_t from) {
      for (size_t i = 0; i < family.size(); ++i) {
        EXPECT_EQ(call->On(family[i]), i >= from)
            << r.function << " on " << sim::WindowsName(family[i]) << ": imports.txt:" << r.line
            << " and its row in sim/calls.def disagree";
      }
    };
    if (nineXFrom.count(r.nineX)) check(nineX, nineXFrom.at(r.nineX));
    if (ntFrom.count(r.nt)) check(nt, ntFrom.at(r.nt));
  }
  EXPECT_GT(checked, 30u);
}

// The list's own rules: each of these lines must be refused.
TEST(ReviewedImports, RefusesLinesThatBreakItsRules) {
  const struct {
    const char* line;
    const char* fault;
  } cases[] = {
      {"KERNEL32.dll GetTickCount64 - 6.0 32,64 qi", "unknown NT value"},
      {"KERNEL32.dll SetDllDirectoryA 95 5.0 32 qi", "newer than the 32-bit"},
      {"KERNEL32.dll GetNativeSystemInfo me 5.1 32 qi", "unknown 9x value"},
      {"KERNEL32.dll RtlUnwindEx - x64 32,64 x64", "newer than the 32-bit"},
      {"KERNEL32.dll CopyFileA 95 3.1 16 w32ref", "unknown builds"},
      {"KERNEL32.dll CopyFileA 95 3.1 32 hearsay", "unknown source"},
      {"KERNEL32.dll CopyFileA 95 3.1 32", "6 columns"},
      {"KERNEL32.dll CopyFileA 95 3.1 32 w32ref\nKERNEL32.dll CopyFileA 95 3.1 64 w32ref",
       "listed twice"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> errors;
    ParseReviewed(c.line, &errors);
    bool found = false;
    for (const std::string& e : errors) found = found || e.find(c.fault) != std::string::npos;
    EXPECT_TRUE(found) << c.line << ": no error says \"" << c.fault << "\"";
  }
  std::vector<std::string> errors;
  ParseReviewed("# comment\n\nUSER32.dll MessageBoxA 95 3.1 32,64 w32ref\n", &errors);
  EXPECT_TRUE(errors.empty());
}

TEST(ReviewedImports, ReadsObjdumpImportTables) {
  const std::string sample =
      "\tDLL Name: KERNEL32.dll\n"
      "\tvma:  Hint/Ord Member-Name Bound-To\n"
      "\t3e540\t  136  CloseHandle\n"
      "\t3e54e\t  172  CopyFileA\n"
      "\n"
      " 0003e050\t00000000 00000000 00000000 00000000 00000000\n"
      "\tDLL Name: msvcrt.dll\n"
      "\t3e930\t   58  __getmainargs\n"
      "\n"
      "The Function Table (interpreted .pdata section contents)\n";
  EXPECT_EQ(ImportsOf(sample), (ImportSet{"KERNEL32.dll!CloseHandle", "KERNEL32.dll!CopyFileA",
                                          "msvcrt.dll!__getmainargs"}));
}

// Every function the build imports is reviewed for this build, and every
// line for this build is still imported.
// The reviewed lines for one build.
ImportSet ReviewedFor(const Build& build) {
  std::vector<std::string> errors;
  ImportSet reviewed;
  for (const Reviewed& r : ParseReviewed(HostFileText(DRVSETUP_IMPORTS_LIST), &errors)) {
    const bool forThisBuild = r.builds.find(std::to_string(build.bits)) != std::string::npos;
    if (forThisBuild) reviewed.insert(r.dll + "!" + r.function);
  }
  return reviewed;
}

// Every function a program of the build imports is reviewed for this build.
TEST_P(BuiltExe, ImportsAreTheReviewedOnes) {
  const Built& built = GetParam();
  const ImportSet imported = ImportsOf(Objdump());
  ASSERT_FALSE(imported.empty());
  const ImportSet reviewed = ReviewedFor(built.build);
  for (const std::string& f : imported)
    EXPECT_TRUE(reviewed.count(f))
        << built.build.name << " " << built.program.file << " imports " << f
        << ", which tests/pe/imports.txt does not list for this build: "
           "look up the oldest Windows that has it and add its line";
}

// Every line for a build is still imported by one of its programs (the
// installer and the removal share the code but not every call).
TEST(ReviewedImports, EachLineIsImportedByAProgramOfItsBuild) {
  for (const Build& build : kBuilds) {
    ImportSet imported;
    for (const Program& program : kPrograms) {
      const std::string path = ExePath({build, program});
      if (!Exists(path)) {
        ADD_FAILURE() << path << " is missing: build the " << build.name << " preset first";
        continue;
      }
      bool ok = false;
      const ImportSet one =
          ImportsOf(Capture(std::string(MINGW_OBJDUMP) + " -p '" + path + "'", &ok));
      EXPECT_TRUE(ok) << "objdump -p failed on " << path;
      imported.insert(one.begin(), one.end());
    }
    for (const std::string& f : ReviewedFor(build))
      EXPECT_TRUE(imported.count(f)) << "tests/pe/imports.txt lists " << f << " for " << build.name
                                     << ", which no program of it imports: drop it from the line";
  }
}

TEST_P(BuiltExe, HeaderAsksForTheOldestSystemOfItsBuild) {
  std::map<std::string, std::string> fields;
  std::istringstream in(Objdump());
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> words = Fields(line);
    if (words.size() >= 2) fields[words[0]] = words[1];
  }
  EXPECT_EQ(fields["MajorOSystemVersion"] + "." + fields["MinorOSystemVersion"],
            GetParam().build.osVersion);
  EXPECT_EQ(fields["MajorSubsystemVersion"] + "." + fields["MinorSubsystemVersion"],
            GetParam().build.subsystemVersion);
  EXPECT_EQ(fields["Subsystem"], "00000002");  // Windows GUI: no console window
}

TEST_P(BuiltExe, ManifestAsksForAdministratorAndNamesTheSupportedSystems) {
  const std::string rc = Resources();
  // windres doubles the quotes inside its string lines.
  const std::string expected[] = {
      "1 24 /* RT_MANIFEST */",
      "<requestedExecutionLevel level=\"\"requireAdministrator\"\" uiAccess=\"\"false\"\"/>",
      "processorArchitecture=\"\"" + std::string(GetParam().build.manifestArch) + "\"\"",
      "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
      "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
      "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
  };
  for (const std::string& e : expected) EXPECT_NE(rc.find(e), std::string::npos) << e;
  EXPECT_EQ(rc.find("asInvoker"), std::string::npos);
}

TEST_P(BuiltExe, VersionResourceNamesTheMakerAndTheBuildVersion) {
  const std::string rc = Resources();
  const std::string version = DRVSETUP_VERSION;
  std::string numbers;  // "1, 0, 0, 0": FILEVERSION as windres prints it
  for (char c : version) numbers += c == '.' ? std::string(", ") : std::string(1, c);
  numbers += ", 0";
  const std::string expected[] = {
      "VALUE \"CompanyName\", \"Miravelt GmbH\"",
      "VALUE \"ProductName\", \"Miravelt Installation\"",
      "VALUE \"FileDescription\", \"" + std::string(GetParam().program.description) + "\"",
      "VALUE \"OriginalFilename\", \"" + std::string(GetParam().program.file) + "\"",
      "VALUE \"FileVersion\", \"" + version + "\"",
      "VALUE \"ProductVersion\", \"" + version + "\"",
      "FILEVERSION " + numbers,
      "PRODUCTVERSION " + numbers,
  };
  for (const std::string& e : expected) EXPECT_NE(rc.find(e), std::string::npos) << e;
}

INSTANTIATE_TEST_SUITE_P(Builds, BuiltExe, ::testing::ValuesIn(AllBuilt()),
                         [](const ::testing::TestParamInfo<Built>& info) {
                           std::string name =
                               std::string(info.param.build.name) + "_" + info.param.program.file;
                           return name.substr(0, name.size() - 4);  // without ".exe"
                         });

}  // namespace
