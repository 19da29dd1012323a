// drvsetup-preview: its options, machine descriptions and the report of the
// built-in sample run.
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "machine_file.h"
#include "preview.h"
#include "report.h"
#include "sample.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome Preview(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int code = preview::PreviewMain(args, out, err);
  return {code, out.str(), err.str()};
}

// A scratch folder removed at the end of the test.
class Scratch {
 public:
  Scratch() {
    static int count = 0;
    path_ = fs::temp_directory_path() /
            ("preview-test-" + std::to_string(getpid()) + "-" + std::to_string(++count));
    fs::create_directories(path_);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string Put(const std::string& relative, const std::string& data) const {
    fs::path p = path_ / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << data;
    return p.string();
  }
  std::string Path(const std::string& relative = std::string()) const {
    return (path_ / relative).string();
  }

 private:
  fs::path path_;
};

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The lines of one report section (its title up to the next blank line).
std::string Section(const std::string& report, const std::string& title) {
  size_t start = report.find("\n" + title);
  if (start == std::string::npos) return std::string();
  size_t end = report.find("\n\n", start + 1);
  return report.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

TEST(PreviewOptions, BadOptionsAreRefusedWithExitCode2) {
  Scratch scratch;
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},
      {"extra"},
      {"--family"},
      {"--family", "me"},
      {"--windows", "win31"},
      {"--family", "9x", "--windows", "win98"},
      {"--family", "9x", "--family", "nt"},
      {"--cd", "E"},
      {"--cd", "EE=/tmp"},
      {"--cd", "C=" + scratch.Path()},
      {"--cd", "E=" + scratch.Path(), "--cd", "e=" + scratch.Path()},
      {"--doc", "Manual"},
      {"--app", "", "--doc", "Manual"},
      {"--app", "C:\\A \"B\""},
      {"--source", scratch.Path("absent")},
      {"--source", ""},
      {"--cd", "F=" + scratch.Path("absent")},
      {"--running", ""},
      {"--reg", ""},
      {"--trace=yes"},
      {"--machine", scratch.Path("absent.json")},
  };
  for (const auto& args : bad) {
    std::string line;
    for (const std::string& a : args) line += a + " ";
    Outcome o = Preview(args);
    EXPECT_EQ(2, o.code) << line;
    EXPECT_EQ(0u, o.err.find("drvsetup-preview: ")) << line << "\n" << o.err;
    EXPECT_EQ("", o.out) << line;
  }
}

TEST(PreviewOptions, ErrorsNameTheFault) {
  EXPECT_NE(std::string::npos, Preview({"--bogus"}).err.find("unknown option \"--bogus\""));
  EXPECT_NE(std::string::npos, Preview({"--family"}).err.find("--family needs a value"));
  EXPECT_NE(std::string::npos,
            Preview({"--source", "/nonexistent/x"}).err.find("no folder \"/nonexistent/x\""));
  Outcome help = Preview({"--help"});
  EXPECT_EQ(0, help.code);
  EXPECT_NE(std::string::npos, help.out.find("--family 9x|nt"));
}

TEST(PreviewOptions, SourceFileWithANameWindowsRefusesIsAnError) {
  Scratch scratch;
  scratch.Put("src/BAD?NAME.INF", "x");
  Outcome o = Preview({"--source", scratch.Path("src")});
  EXPECT_EQ(2, o.code);
  EXPECT_NE(std::string::npos, o.err.find("BAD?NAME.INF"));
}

TEST(MachineFile, MalformedDescriptionsAreRefused) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{", "not valid JSON"},
      {"[]", "expected an object"},
      {R"({"filez": []})", "filez: unknown entry"},
      {R"({"files": {}})", "files: expected a list"},
      {R"({"files": [{"text": "x"}]})", "files[0]: needs a \"path\""},
      {R"({"files": [{"path": 5}]})", "files[0].path: expected a string"},
      {R"({"files": [{"path": "C:\\A", "hex": "3"}]})", "files[0].hex: odd number"},
      {R"({"files": [{"path": "C:\\A", "hex": "zz"}]})", "files[0].hex: expected hex"},
      {R"({"files": [{"path": "C:\\A", "readOnly": "yes"}]})", "readOnly: expected true"},
      {R"({"registry": [{"key": "HKCR\\X"}]})", "must start with HKLM"},
      {R"({"registry": [{"key": "HKLM\\X", "name": "V", "data": 1}]})", "needs a \"type\""},
      {R"({"registry": [{"key": "HKLM\\X", "type": "REG_QQ", "data": 1}]})", "unknown type"},
      {R"({"registry": [{"key": "HKLM\\X", "type": "REG_DWORD", "data": -1}]})",
       "registry[0].data: expected a whole number"},
      {R"({"registry": [{"key": "HKLM\\X", "type": "REG_DWORD", "data": 4294967296}]})",
       "expected a whole number"},
      {R"({"registry": [{"key": "HKLM\\X", "type": "REG_SZ"}]})", "either \"data\" or \"hex\""},
      {R"({"windows": "win31"})", "unknown version"},
      {R"({"windows": "win98", "family": "9x"})", "either"},
      {R"({"ini": {"C:\\WINDOWS\\SYSTEM.INI": 3}})", "expected a string or a list of lines"},
  };
  for (const auto& c : cases) {
    preview::MachineDescription d;
    std::string error;
    EXPECT_FALSE(preview::ParseMachineDescription(c.first, &d, &error)) << c.first;
    EXPECT_NE(std::string::npos, error.find(c.second)) << c.first << "\n" << error;
  }
}

TEST(MachineFile, ValuesAreStoredWithTheirExactBytes) {
  preview::MachineDescription d;
  std::string error;
  ASSERT_TRUE(preview::ParseMachineDescription(R"({
      // comments are allowed
      "family": "9x",
      "registry": [
        {"key": "HKCU\\Software\\Miravelt\\Engine"},
        {"key": "HKLM\\A", "name": "S", "type": "REG_SZ", "data": "ab"},
        {"key": "HKLM\\A", "name": "D", "type": "REG_DWORD", "data": 258},
        {"key": "HKLM\\A", "name": "M", "type": "REG_MULTI_SZ", "data": ["x", "yz"]},
        {"key": "HKLM\\A", "name": "B", "type": "REG_BINARY", "data": "3a 7C,51"},
        {"key": "HKLM\\A", "name": "R", "type": 1, "hex": "6162"}
      ],
      "ini": {"%WINDOWS%\\SYSTEM.INI": ["[386Enh]", "device=zoltavex.vxd"]}
    })",
                                               &d, &error))
      << error;
  EXPECT_TRUE(d.hasWindows);
  EXPECT_EQ(sim::Windows::Win98, d.windows);
  ASSERT_EQ(6u, d.registry.size());
  EXPECT_FALSE(d.registry[0].hasValue);
  EXPECT_EQ("HKCU", d.registry[0].root);
  EXPECT_EQ("Software\\Miravelt\\Engine", d.registry[0].key);
  EXPECT_EQ(std::string("ab\0", 3), d.registry[1].data);
  EXPECT_EQ(std::string("\x02\x01\0\0", 4), d.registry[2].data);
  EXPECT_EQ(std::string("x\0yz\0\0", 6), d.registry[3].data);
  EXPECT_EQ(std::string("\x3a\x7c\x51"), d.registry[4].data);
  EXPECT_EQ(DWORD(REG_SZ), d.registry[5].type);
  EXPECT_EQ("ab", d.registry[5].data);  // exactly as given: no zero added
  ASSERT_EQ(1u, d.ini.size());
  EXPECT_EQ("[386Enh]\r\ndevice=zoltavex.vxd\r\n", d.ini[0].text);
}

TEST(MachineFile, PathsAreExpandedAndChecked) {
  preview::PathNames names{"C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM\\", "C:\\SETUP", ""};
  EXPECT_EQ("C:\\WINDOWS\\SYSTEM\\X.DLL", preview::ExpandPath("%SYSTEM%\\X.DLL", names));
  EXPECT_EQ("C:\\WINDOWS\\SYSTEM.INI", preview::ExpandPath("%WINDOWS%\\SYSTEM.INI", names));
  EXPECT_EQ("%OTHER%\\X", preview::ExpandPath("%OTHER%\\X", names));
  std::string why;
  EXPECT_TRUE(preview::IsMachinePath("C:\\Program Files\\Orvo\\", &why));
  EXPECT_TRUE(preview::IsMachinePath("c:\\a.txt", &why));
  for (const char* bad : {"D:\\X", "X.TXT", "C:", "C:\\A\\\\B", "C:\\A\\..\\B", "C:\\A/B", "C:\\A?",
                          "C:\\A\\.\\B", "\\\\server\\share\\x"}) {
    EXPECT_FALSE(preview::IsMachinePath(bad, &why)) << bad;
  }
  EXPECT_FALSE(preview::IsMachinePath("C:\\" + std::string(300, 'A'), &why));
}

TEST(MachineFile, BadPathsAndMarksOnAbsentFilesStopThePreview) {
  Scratch scratch;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"files": [{"path": "E:\\X.TXT"}]})", "files[0]: \"E:\\X.TXT\""},
      {R"({"readOnly": ["%SYSTEM%\\NOPE.DLL"]})", "readOnly[0]: no file"},
      {R"({"locked": ["%WINDOWS%"]})", "locked[0]: no file"},
      {R"({"missing": ["relative\\path"]})", "missing[0]"},
      {R"({"files": [{"path": "%WINDOWS%"}]})", "is a folder"},
  };
  for (const auto& c : cases) {
    std::string file = scratch.Put("m.json", c.first);
    Outcome o = Preview({"--machine", file});
    EXPECT_EQ(2, o.code) << c.first;
    EXPECT_NE(std::string::npos, o.err.find(c.second)) << c.first << "\n" << o.err;
  }
}

TEST(Report, DiffLinesKeepsOrderAndShowsOnlyChanges) {
  using V = std::vector<std::string>;
  EXPECT_EQ(V(), preview::DiffLines({"a", "b"}, {"a", "b"}));
  EXPECT_EQ((V{"- device=zoltavex.vxd", "+ ;evice=zoltavex.vxd"}),
            preview::DiffLines({"x=1", "device=zoltavex.vxd", "y=2"},
                               {"x=1", ";evice=zoltavex.vxd", "y=2"}));
  EXPECT_EQ((V{"+ MinFileCache=20480", "+ MaxFileCache=20480"}),
            preview::DiffLines({}, {"MinFileCache=20480", "MaxFileCache=20480"}));
  EXPECT_EQ((V{"- b", "+ d"}), preview::DiffLines({"a", "b", "c"}, {"a", "c", "d"}));
}

TEST(PreviewRun, DefaultRunOnTheNtFamilyShowsTheWholeInstallation) {
  Outcome o = Preview({});
  ASSERT_EQ(0, o.code) << o.err;
  EXPECT_EQ("", o.err);
  EXPECT_NE(std::string::npos, o.out.find("simulated Windows XP (NT family)"));
  EXPECT_NE(std::string::npos,
            o.out.find("\"C:\\SETUP\\DRVSETUP.EXE\" \"C:\\Program Files\\Orvo-Studio\" "
                       "\"OrvoStudio\""));
  std::string placed = Section(o.out, "Files placed");
  EXPECT_NE(std::string::npos, placed.find("ZOLTAVEX.SYS")) << placed;
  EXPECT_NE(std::string::npos, placed.find("C:\\Program Files\\Orvo-Studio\\ORVOOEM.DLL"))
      << placed;
  EXPECT_NE(std::string::npos, placed.find("OrvoStudio-de.pdf")) << placed;
  EXPECT_NE(std::string::npos, placed.find("from E:\\OEM\\ORVOOEM.DLL")) << placed;
  std::string staged = Section(o.out, "Files staged");
  EXPECT_NE(std::string::npos, staged.find("ZOLTAVEX.DL ")) << staged;
  EXPECT_NE(std::string::npos, Section(o.out, "Files removed").find("HISTORY.TXT"));
  EXPECT_NE(std::string::npos,
            Section(o.out, "Renames pending").find("PendingFileRenameOperations"));
  EXPECT_NE(std::string::npos,
            Section(o.out, "Registry values written").find("HKEY_LOCAL_MACHINE"));
  EXPECT_NE(std::string::npos, Section(o.out, "INI entries changed").find("none"));
  EXPECT_NE(std::string::npos, o.out.find("renames still pending: none"));
  EXPECT_NE(std::string::npos, o.out.find("Exit code: 0"));
  EXPECT_EQ(std::string::npos, o.out.find("\nPlatform calls ("));  // only with --trace
}

TEST(PreviewRun, DefaultRunOnThe9xFamilyShowsIniChangesAndWininitRenames) {
  Outcome o = Preview({"--family", "9x"});
  ASSERT_EQ(0, o.code) << o.err;
  EXPECT_NE(std::string::npos, o.out.find("simulated Windows 98 (9x family)"));
  std::string ini = Section(o.out, "INI entries changed");
  std::string lower = ini;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(std::string::npos, lower.find("[vcache]")) << ini;
  EXPECT_NE(std::string::npos, ini.find("+ MinFileCache=20480")) << ini;
  EXPECT_EQ(std::string::npos, ini.find("Wininit")) << ini;  // shown as renames
  std::string renames = Section(o.out, "Renames pending");
  EXPECT_NE(std::string::npos, renames.find("Wininit.ini [RENAME]")) << renames;
  EXPECT_NE(std::string::npos, renames.find("ZOLTAVEX.DLL")) << renames;
}

TEST(PreviewRun, RunningHostApplicationStopsTheRunBeforeAnythingIsPlaced) {
  Outcome o = Preview({"--running", "orvo.exe", "--trace"});
  EXPECT_EQ(0, o.code);
  EXPECT_NE(std::string::npos,
            Section(o.out, "Message boxes")
                .find("[Miravelt Installation] Please close Orvo-Studio, restart your machine and "
                      "run setup again !"));
  EXPECT_NE(std::string::npos, Section(o.out, "Files placed").find("none"));
  EXPECT_NE(std::string::npos, o.out.find("\nPlatform calls ("));
  EXPECT_NE(std::string::npos, o.out.find("MessageBoxA("));
}

TEST(PreviewRun, RefusedIniWriteEndsTheRunAndGivesItsExitCode) {
  Scratch scratch;
  std::string machine = scratch.Put("m.json", R"({"readOnly": ["%WINDOWS%\\SYSTEM.INI"]})");
  Outcome o = Preview({"--family", "9x", "--machine", machine});
  EXPECT_EQ(1, o.code) << o.out << o.err;
  EXPECT_NE(std::string::npos, Section(o.out, "Message boxes").find("[Application Error]"));
  EXPECT_NE(std::string::npos, o.out.find("Exit code: 1"));
}

TEST(PreviewRun, RealFoldersRegistryFileAndMachineFileTogether) {
  Scratch scratch;
  scratch.Put("src/KOVA51USB.INF", "kova inf");
  scratch.Put("disc/OEM/ORVOOEM.DLL", "oem from the real disc");
  std::string machine = scratch.Put("m.json", R"({
      "registry": [{"key": "HKCU\\Software\\Miravelt\\Engine\\Sub", "name": "X",
                    "type": "REG_DWORD", "data": 7}]})");
  std::string reg = scratch.Path("out.reg");
  Outcome o = Preview({"--source", scratch.Path("src"), "--cd", "G=" + scratch.Path("disc"),
                       "--app", "C:\\Apps\\Orvo\\", "--machine", machine, "--reg", reg});
  ASSERT_EQ(0, o.code) << o.err;
  std::string placed = Section(o.out, "Files placed");
  EXPECT_NE(std::string::npos, placed.find("KOVA51USB.INF")) << placed;
  EXPECT_NE(std::string::npos, placed.find("C:\\Apps\\Orvo\\ORVOOEM.DLL")) << placed;
  EXPECT_NE(std::string::npos, placed.find("from G:\\OEM\\ORVOOEM.DLL")) << placed;
  EXPECT_EQ(std::string::npos, placed.find("ZOLTAVEX.SYS")) << placed;  // not in this source
  EXPECT_NE(std::string::npos, Section(o.out, "Registry keys removed")
                                   .find("HKEY_CURRENT_USER\\Software\\Miravelt\\Engine"));
  std::string text = Read(reg);
  EXPECT_EQ(0u, text.find("REGEDIT4\r\n\r\n"));
  EXPECT_NE(std::string::npos, text.find("[-HKEY_CURRENT_USER\\Software\\Miravelt\\Engine]\r\n"));
  EXPECT_NE(std::string::npos, text.find("[HKEY_LOCAL_MACHINE\\"));
}

TEST(PreviewRun, ExportedSampleRunsLikeTheBuiltInOne) {
  Scratch scratch;
  ASSERT_EQ(0, Preview({"--export-sample", scratch.Path("s")}).code);
  std::ifstream arguments(scratch.Path("s/arguments.txt"));
  std::string app, doc;
  std::getline(arguments, app);
  std::getline(arguments, doc);
  EXPECT_EQ(preview::SampleApplicationFolder(), app);
  EXPECT_EQ(preview::SampleSourceFiles()[0].data, Read(scratch.Path("s/source/WNASPI32.9x")));
  Outcome builtIn = Preview({"--family", "9x"});
  Outcome exported = Preview({"--family", "9x", "--source", scratch.Path("s/source"), "--cd",
                              "E=" + scratch.Path("s/disc"), "--app", app, "--doc", doc,
                              "--machine", scratch.Put("m.json", R"({"files": [
                   {"path": "%APP%\\HISTORY.TXT", "text": "notes"}]})")});
  ASSERT_EQ(0, exported.code) << exported.err;
  EXPECT_EQ(Section(builtIn.out, "Files placed"), Section(exported.out, "Files placed"));
  EXPECT_EQ(Section(builtIn.out, "Registry values written"),
            Section(exported.out, "Registry values written"));
  EXPECT_EQ(Section(builtIn.out, "Files removed"), Section(exported.out, "Files removed"));
}

}  // namespace

namespace {

TEST(PreviewRun, ExampleMachineFileRunsAndShowsItsEffects) {
  std::string example = (fs::path(__FILE__).parent_path() / ".." / ".." / "tools" / "preview" /
                         "examples" / "upgrade.json")
                            .string();
  Outcome o = Preview({"--family", "9x", "--machine", example});
  ASSERT_EQ(0, o.code) << o.err;
  EXPECT_NE(std::string::npos,
            Section(o.out, "Message boxes").find("Unable to copy \"ZOLTAVEX.INF\""));
  EXPECT_NE(std::string::npos, Section(o.out, "INI entries changed").find("+ ;evice=zoltavex.vxd"));
  // The read-only driver file is replaced and loses its read-only mark.
  std::string placed = Section(o.out, "Files placed");
  size_t line = placed.find("ZOLTAVEX.VXD");
  ASSERT_NE(std::string::npos, line) << placed;
  EXPECT_NE(std::string::npos,
            placed.substr(line, placed.find('\n', line) - line).find("(read-only archive) ->"))
      << placed;
  EXPECT_NE(std::string::npos, Section(o.out, "Registry keys removed").find("Engine"));
}

}  // namespace
