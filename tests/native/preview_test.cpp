// drvsetup-preview: its options, machine descriptions and the report of the
// built-in sample run.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "harness.h"
#include "machine_file.h"
#include "preview.h"
#include "removal_report.h"
#include "report.h"
#include "sample.h"
#include "user_files.h"

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
      {"--remove", "--trace", "--remove"},
      {"--machine", scratch.Path("absent.json")},
  };
  for (const auto& args : bad) {
    std::string line;
    for (const std::string& a : args) line += a + " ";
    Outcome o = Preview(args);
    EXPECT_EQ(o.code, 2) << line;
    EXPECT_EQ(o.err.find("drvsetup-preview: "), 0u) << line << "\n" << o.err;
    EXPECT_EQ(o.out, "") << line;
  }
}

TEST(PreviewOptions, ErrorsNameTheFault) {
  EXPECT_NE(std::string::npos, Preview({"--bogus"}).err.find("unknown option \"--bogus\""));
  EXPECT_NE(std::string::npos, Preview({"--family"}).err.find("--family needs a value"));
  EXPECT_NE(std::string::npos,
            Preview({"--source", "/nonexistent/x"}).err.find("no folder \"/nonexistent/x\""));
  Outcome help = Preview({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(std::string::npos, help.out.find("--family 9x|nt"));
}

TEST(PreviewOptions, SourceFileWithANameWindowsRefusesIsAnError) {
  Scratch scratch;
  scratch.Put("src/BAD?NAME.INF", "x");
  Outcome o = Preview({"--source", scratch.Path("src")});
  EXPECT_EQ(o.code, 2);
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
  ASSERT_EQ(d.registry.size(), 6u);
  EXPECT_FALSE(d.registry[0].hasValue);
  EXPECT_EQ(d.registry[0].root, "HKCU");
  EXPECT_EQ(d.registry[0].key, "Software\\Miravelt\\Engine");
  EXPECT_EQ(d.registry[1].data, std::string("ab\0", 3));
  EXPECT_EQ(d.registry[2].data, std::string("\x02\x01\0\0", 4));
  EXPECT_EQ(d.registry[3].data, std::string("x\0yz\0\0", 6));
  EXPECT_EQ(d.registry[4].data, std::string("\x3a\x7c\x51"));
  EXPECT_EQ(d.registry[5].type, DWORD(REG_SZ));
  EXPECT_EQ(d.registry[5].data, "ab");  // exactly as given: no zero added
  ASSERT_EQ(d.ini.size(), 1u);
  EXPECT_EQ(d.ini[0].text, "[386Enh]\r\ndevice=zoltavex.vxd\r\n");
}

TEST(MachineFile, PathsAreExpandedAndChecked) {
  preview::PathNames names{"C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM\\", "C:\\SETUP", ""};
  EXPECT_EQ(preview::ExpandPath("%SYSTEM%\\X.DLL", names), "C:\\WINDOWS\\SYSTEM\\X.DLL");
  EXPECT_EQ(preview::ExpandPath("%WINDOWS%\\SYSTEM.INI", names), "C:\\WINDOWS\\SYSTEM.INI");
  EXPECT_EQ(preview::ExpandPath("%OTHER%\\X", names), "%OTHER%\\X");
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
    EXPECT_EQ(o.code, 2) << c.first;
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
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.err, "");
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
  ASSERT_EQ(o.code, 0) << o.err;
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
  EXPECT_EQ(o.code, 0);
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
  EXPECT_EQ(o.code, 1) << o.out << o.err;
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
  ASSERT_EQ(o.code, 0) << o.err;
  std::string placed = Section(o.out, "Files placed");
  EXPECT_NE(std::string::npos, placed.find("KOVA51USB.INF")) << placed;
  EXPECT_NE(std::string::npos, placed.find("C:\\Apps\\Orvo\\ORVOOEM.DLL")) << placed;
  EXPECT_NE(std::string::npos, placed.find("from G:\\OEM\\ORVOOEM.DLL")) << placed;
  EXPECT_EQ(std::string::npos, placed.find("ZOLTAVEX.SYS")) << placed;  // not in this source
  EXPECT_NE(std::string::npos, Section(o.out, "Registry keys removed")
                                   .find("HKEY_CURRENT_USER\\Software\\Miravelt\\Engine"));
  std::string text = HostFileText(reg);
  EXPECT_EQ(text.find("REGEDIT4\r\n\r\n"), 0u);
  EXPECT_NE(std::string::npos, text.find("[-HKEY_CURRENT_USER\\Software\\Miravelt\\Engine]\r\n"));
  EXPECT_NE(std::string::npos, text.find("[HKEY_LOCAL_MACHINE\\"));
}

TEST(PreviewRun, ExportedSampleRunsLikeTheBuiltInOne) {
  Scratch scratch;
  ASSERT_EQ(Preview({"--export-sample", scratch.Path("s")}).code, 0);
  std::ifstream arguments(scratch.Path("s/arguments.txt"));
  std::string app, doc;
  std::getline(arguments, app);
  std::getline(arguments, doc);
  EXPECT_EQ(preview::SampleApplicationFolder(), app);
  EXPECT_EQ(preview::SampleSourceFiles()[0].data,
            HostFileText(scratch.Path("s/source/WNASPI32.9x")));
  Outcome builtIn = Preview({"--family", "9x"});
  Outcome exported = Preview({"--family", "9x", "--source", scratch.Path("s/source"), "--cd",
                              "E=" + scratch.Path("s/disc"), "--app", app, "--doc", doc,
                              "--machine", scratch.Put("m.json", R"({"files": [
                   {"path": "%APP%\\HISTORY.TXT", "text": "notes"}]})")});
  ASSERT_EQ(exported.code, 0) << exported.err;
  EXPECT_EQ(Section(builtIn.out, "Files placed"), Section(exported.out, "Files placed"));
  EXPECT_EQ(Section(builtIn.out, "Registry values written"),
            Section(exported.out, "Registry values written"));
  EXPECT_EQ(Section(builtIn.out, "Files removed"), Section(exported.out, "Files removed"));
}

}  // namespace

namespace {

TEST(PreviewRun, ExampleMachineFileRunsAndShowsItsEffects) {
  std::string example =
      (fs::path(DRVSETUP_SOURCE_DIR) / "tools" / "preview" / "examples" / "upgrade.json").string();
  Outcome o = Preview({"--family", "9x", "--machine", example});
  ASSERT_EQ(o.code, 0) << o.err;
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

namespace {

using preview::Rename;

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

TEST(Report, RegistryComparisonFindsWrittenChangedAndRemovedEntries) {
  ResetMachine(sim::Windows::WinXP);
  sim::RegPutDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "Same", 1);
  sim::RegPutDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "Changed", 1);
  sim::RegPutDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "Dropped", 1);
  sim::RegPutDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone\\Deep\\Deeper", "X", 1);
  sim::RegPutDword(HKEY_CURRENT_USER, "Software\\Mine", "X", 1);
  preview::RegistrySnapshot before = preview::TakeRegistry(true);

  sim::RegPutString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "Changed", "now text");
  sim::RegRemoveKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept");
  sim::RegPutDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "Same", 1);
  sim::RegPutString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "Changed", "now text");
  sim::RegRemoveKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone");
  sim::RegPutKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\New\\Empty");
  sim::RegRemoveKey(HKEY_CURRENT_USER, "Software\\Mine");
  preview::RegistryChanges changes = preview::CompareRegistry(before, true);

  ASSERT_EQ(changes.keys.size(), 3u);
  const preview::KeyChange& kept = changes.keys[0];
  EXPECT_EQ(kept.path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept");
  EXPECT_FALSE(kept.created);
  ASSERT_EQ(kept.written.size(), 1u);  // "Same" is unchanged and not listed
  EXPECT_EQ(kept.written[0].name, "Changed");
  EXPECT_TRUE(kept.written[0].hadOld);
  EXPECT_EQ(kept.written[0].old.type, DWORD(REG_DWORD));
  EXPECT_EQ(kept.written[0].value.data, sim::StringOf("now text"));
  EXPECT_EQ(kept.removedValues, std::vector<std::string>{"Dropped"});
  EXPECT_TRUE(changes.keys[1].created);
  EXPECT_EQ(changes.keys[1].path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\New");
  EXPECT_TRUE(changes.keys[2].created);
  // A removed tree is named once, by its top; the user's key by its usual root.
  EXPECT_EQ(changes.removedKeys, (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone",
                                                           "HKEY_CURRENT_USER\\Software\\Mine"}));
  EXPECT_TRUE(changes.security.empty());
}

TEST(Report, AccessListChangesAreFoundOnTheNtFamily) {
  ResetMachine(sim::Windows::WinXP);
  const std::string key = "SYSTEM\\CurrentControlSet\\Enum\\Root";
  preview::RegistrySnapshot before = preview::TakeRegistry(true);
  sim::KeySecurity security = sim::GetKeySecurity(HKEY_LOCAL_MACHINE, key);
  security.dacl.insert(security.dacl.begin(),
                       sim::Ace{ACCESS_ALLOWED_ACE_TYPE, 3, 0x10000000, "S-1-1-0"});
  sim::SetKeySecurity(HKEY_LOCAL_MACHINE, key, security);
  preview::RegistryChanges changes = preview::CompareRegistry(before, true);
  ASSERT_FALSE(changes.security.empty());
  EXPECT_EQ(changes.security[0].path, "HKEY_LOCAL_MACHINE\\" + key);
  EXPECT_NE(changes.security[0].before, changes.security[0].after);
}

TEST(Report, PendingRenamesOfBothFamiliesReadAsFromAndTo) {
  ResetMachine(sim::Windows::WinXP);
  sim::RegPut(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
              "PendingFileRenameOperations", REG_MULTI_SZ,
              std::string("\\??\\C:\\A.NEW\0!\\??\\C:\\A.DLL\0\\??\\C:\\B.TMP\0\0\0", 42));
  std::vector<Rename> nt = preview::PendingRenamesNow(false, preview::TakeFiles());
  ASSERT_EQ(nt.size(), 2u);
  EXPECT_EQ(nt[0].from, "C:\\A.NEW");
  EXPECT_EQ(nt[0].to, "C:\\A.DLL");
  EXPECT_TRUE(nt[0].replace);
  EXPECT_EQ(nt[1].from, "C:\\B.TMP");
  EXPECT_EQ(nt[1].to, "");  // deleted at the restart

  ResetMachine(sim::Windows::Win98);
  sim::PutIni(sim::WindowsFolder() + "\\Wininit.ini",
              "[Other]\r\nC:\\X=C:\\Y\r\n[rename]\r\n; a note\r\nC:\\A.DLL=C:\\A.NEW\r\n"
              "NUL=C:\\B.TMP\r\n");
  std::vector<Rename> nineX = preview::PendingRenamesNow(true, preview::TakeFiles());
  ASSERT_EQ(nineX.size(), 2u);
  EXPECT_EQ(nineX[0].from, "C:\\A.NEW");
  EXPECT_EQ(nineX[0].to, "C:\\A.DLL");
  EXPECT_EQ(nineX[1].from, "C:\\B.TMP");
  EXPECT_EQ(nineX[1].to, "");
}

TEST(Report, ValuesShowTheirBytesWhenTheyAreNotPlainText) {
  auto text = [](DWORD type, const std::string& data) {
    sim::Value v;
    v.type = type;
    v.data = data;
    return preview::ValueText(v);
  };
  EXPECT_EQ(text(REG_SZ, std::string("a\\b \"q\"\0", 8)), "REG_SZ \"a\\\\b \\\"q\\\"\", 8 bytes");
  EXPECT_EQ(text(REG_SZ, std::string(1, '\0')), "REG_SZ \"\", 1 byte");
  // Without its terminating zero, or with one inside, a text shows its bytes.
  EXPECT_EQ(text(REG_SZ, "ab"), "REG_SZ 61 62, 2 bytes");
  EXPECT_EQ(text(REG_SZ, std::string("a\0b\0", 4)), "REG_SZ 61 00 62 00, 4 bytes");
  EXPECT_EQ(text(REG_DWORD, std::string("\x02\x01\0\0", 4)), "REG_DWORD 0x00000102 (258), 4 bytes");
  EXPECT_EQ(text(REG_DWORD, "\x01\x02"), "REG_DWORD 01 02, 2 bytes");
  EXPECT_EQ(text(REG_MULTI_SZ, std::string("x\0yz\0\0", 6)), "REG_MULTI_SZ \"x\", \"yz\", 6 bytes");
  EXPECT_EQ(text(REG_SZ, std::string("tab\t\0", 5)), "REG_SZ \"tab\\x09\", 5 bytes");
  EXPECT_EQ(text(11, ""), "type 11 (no data), 0 bytes");
  // A long text is cut in the report; its size is the whole one.
  EXPECT_EQ(text(REG_SZ, std::string(2000, 'a') + '\0'),
            "REG_SZ \"" + std::string(1024, 'a') + "\"... (976 more bytes), 2001 bytes");
}

TEST(Report, Regedit4FileWritesEveryKindOfChange) {
  preview::RunReport report;
  preview::KeyChange key;
  key.path = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Miravelt";
  auto value = [](const std::string& name, DWORD type, const std::string& data) {
    preview::ValueChange v;
    v.name = name;
    v.value.type = type;
    v.value.data = data;
    return v;
  };
  key.written.push_back(value("", REG_SZ, std::string("C:\\A \"B\"\0", 9)));
  key.written.push_back(value("Count", REG_DWORD, std::string("\x0a\0\0\0", 4)));
  key.written.push_back(value("Path", REG_EXPAND_SZ, std::string("%x%\0", 4)));
  key.written.push_back(value("Raw", REG_SZ, "no zero"));
  key.written.push_back(value("Big", REG_BINARY, std::string(40, '\x11')));
  key.removedValues.push_back("Old");
  report.registry.keys.push_back(key);
  report.registry.removedKeys.push_back("HKEY_CURRENT_USER\\Software\\Miravelt\\Engine");
  std::string text = preview::Regedit4Text(report);

  EXPECT_EQ(text.find("REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Miravelt\\Engine]\r\n"), 0u);
  EXPECT_NE(std::string::npos, text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Miravelt]\r\n"));
  EXPECT_NE(std::string::npos, text.find("\r\n@=\"C:\\\\A \\\"B\\\"\"\r\n"));
  EXPECT_NE(std::string::npos, text.find("\r\n\"Count\"=dword:0000000a\r\n"));
  EXPECT_NE(std::string::npos, text.find("\r\n\"Path\"=hex(2):25,78,25,00\r\n"));
  EXPECT_NE(std::string::npos, text.find("\r\n\"Raw\"=hex(1):6e,6f,20,7a,65,72,6f\r\n"));
  EXPECT_NE(std::string::npos, text.find("\r\n\"Old\"=-\r\n"));
  // Long data is continued on the next line, as regedit writes it.
  size_t big = text.find("\"Big\"=hex:");
  ASSERT_NE(std::string::npos, big);
  std::string bigLines = text.substr(big, text.find("\r\n\r\n", big) - big);
  EXPECT_NE(std::string::npos, bigLines.find(",\\\r\n  11,"));
  size_t bytes = 0;
  for (size_t i = 0; i + 1 < bigLines.size(); ++i) bytes += bigLines.compare(i, 2, "11") == 0;
  EXPECT_EQ(bytes, 40u);
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
  }
}

TEST(Report, IniDifferencesAreGroupedBySection) {
  EXPECT_EQ(Joined(preview::IniDifferences("[A]\r\nx=1\r\n", "[A]\nx=1\n")), "");
  EXPECT_EQ(
      Joined(preview::IniDifferences("[boot]\r\nshell=x\r\n",
                                     "[boot]\r\nshell=x\r\n[VCache]\r\nMinFileCache=20480\r\n")),
      "[VCache]\n+ MinFileCache=20480\n");
  // Section names are compared without case; a repeated header continues
  // its section.
  EXPECT_EQ(Joined(preview::IniDifferences("[386Enh]\r\ndevice=a\r\n[x]\r\n[386enh]\r\nk=v\r\n",
                                           "[386ENH]\r\n;evice=a\r\nk=v\r\n[x]\r\n")),
            "[386Enh]\n- device=a\n+ ;evice=a\n");
  EXPECT_EQ(Joined(preview::IniDifferences("top=1\r\n[Gone]\r\na=b\r\n", "[Empty]\r\n")),
            "- top=1\n[Gone]\n- a=b\n[Empty]\n");
}

TEST(Report, VeryLongDifferencesStayInOrderWithoutMatching) {
  std::vector<std::string> a, b;
  for (int i = 0; i < 3000; ++i) {
    a.push_back("old" + std::to_string(i));
    b.push_back("new" + std::to_string(i));
  }
  a.insert(a.begin(), "same");
  b.insert(b.begin(), "same");
  std::vector<std::string> diff = preview::DiffLines(a, b);
  ASSERT_EQ(diff.size(), 6000u);
  EXPECT_EQ(diff[0], "- old0");
  EXPECT_EQ(diff[2999], "- old2999");
  EXPECT_EQ(diff[3000], "+ new0");
}

TEST(MachineFile, DescribedStateIsBuiltOnTheMachine) {
  preview::MachineDescription d;
  std::string error;
  ASSERT_TRUE(preview::ParseMachineDescription(R"({
      "folders": ["%APP%\\Plugins"],
      "files": [{"path": "%SYSTEM%\\OLD.DLL", "text": ["a", "b"], "readOnly": true},
                {"path": "C:\\New\\Deep\\X.BIN", "hex": "00ff", "locked": true}],
      "ini": {"%WINDOWS%\\Orvo.ini": "[S]\r\nk=v\r\n"},
      "registry": [{"key": "HKLM\\SOFTWARE\\T", "name": "V", "type": "REG_DWORD", "data": 5}],
      "processes": ["TOOL.EXE", "C:\\Other\\ORVO.EXE"],
      "readOnly": ["%WINDOWS%\\Orvo.ini"],
      "missing": ["%WINDOWS%\\INF", "C:\\Not\\There"]
    })",
                                               &d, &error))
      << error;
  ResetMachine(sim::Windows::Win98);
  preview::PathNames names{sim::WindowsFolder(), sim::SystemFolder(), "C:\\SETUP",
                           "C:\\Apps\\Orvo"};
  ASSERT_TRUE(preview::ApplyMachineDescription(d, names, &error)) << error;
  EXPECT_TRUE(sim::IsFolder("C:\\Apps\\Orvo\\Plugins"));
  std::string data;
  ASSERT_TRUE(sim::FileData(sim::SystemFolder() + "\\OLD.DLL", &data));
  EXPECT_EQ(data, "a\r\nb\r\n");
  EXPECT_TRUE(sim::Attributes(sim::SystemFolder() + "\\OLD.DLL") & FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(sim::FileData("C:\\New\\Deep\\X.BIN", &data));
  EXPECT_EQ(data, std::string("\0\xff", 2));
  EXPECT_EQ(sim::IniText(sim::WindowsFolder() + "\\Orvo.ini"), "[S]\r\nk=v\r\n");
  EXPECT_TRUE(sim::Attributes(sim::WindowsFolder() + "\\Orvo.ini") & FILE_ATTRIBUTE_READONLY);
  sim::Value value;
  ASSERT_TRUE(sim::RegGet(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", "V", &value));
  EXPECT_EQ(value.data, sim::DwordOf(5));
  EXPECT_FALSE(sim::Exists(sim::WindowsFolder() + "\\INF"));
  std::set<DWORD> pids;
  std::set<std::string> paths;
  for (const sim::ProcessSpec& p : sim::Processes()) {
    EXPECT_TRUE(pids.insert(p.pid).second) << "pid " << p.pid << " twice";
    paths.insert(p.imagePath);
  }
  EXPECT_TRUE(paths.count("C:\\Apps\\Orvo\\TOOL.EXE"));
  EXPECT_TRUE(paths.count("C:\\Other\\ORVO.EXE"));
}

TEST(PreviewOptions, ValuesAfterEqualsSignsAndExplicitlyEmptyArguments) {
  Outcome o = Preview({"--windows=win2k", "--app="});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_NE(std::string::npos, o.out.find("simulated Windows 2000 (NT family)"));
  // No argument at all: the command line is the installer's path alone, and
  // without the sample nothing is taken from a disc.
  EXPECT_NE(std::string::npos, o.out.find("command line   \"C:\\SETUP\\DRVSETUP.EXE\"\n"));
  EXPECT_EQ(std::string::npos, o.out.find("CD-ROM drive"));
  EXPECT_EQ(std::string::npos, Section(o.out, "Files placed").find("ORVOOEM.DLL"));
  EXPECT_NE(std::string::npos, Section(o.out, "Files removed").find("none"));
}

TEST(PreviewOptions, DiscFoldersAreCopiedWithTheirSubfolders) {
  Scratch scratch;
  scratch.Put("disc/DATA/DOC/Guide-de.pdf", "de");
  scratch.Put("disc/DATA/DOC/Guide-en.pdf", "en");
  fs::create_directories(scratch.Path("disc/EMPTY"));
  Outcome o = Preview({"--cd", "f=" + scratch.Path("disc"), "--app", "C:\\Orvo", "--doc", "Guide"});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_NE(std::string::npos, o.out.find("CD-ROM drive   F: the files of"));
  std::string placed = Section(o.out, "Files placed");
  EXPECT_NE(std::string::npos, placed.find("C:\\Orvo\\Guide-de.pdf")) << placed;
  EXPECT_NE(std::string::npos, placed.find("from F:\\DATA\\DOC\\Guide-en.pdf")) << placed;
}

}  // namespace

namespace {

TEST(PreviewRun, EverySampleFileIsInstalledOnOneFamilyWithoutAMessage) {
  std::string both;
  for (const char* family : {"9x", "nt"}) {
    Outcome o = Preview({"--family", family});
    ASSERT_EQ(o.code, 0) << family << o.err;
    EXPECT_NE(std::string::npos, Section(o.out, "Message boxes").find("none")) << family;
    both += o.out;
  }
  for (const preview::SampleFile& file : preview::SampleSourceFiles()) {
    EXPECT_NE(std::string::npos, both.find("from C:\\SETUP\\" + file.path + "\n")) << file.path;
  }
  for (const preview::SampleFile& file : preview::SampleDiscFiles()) {
    EXPECT_NE(std::string::npos, both.find("from E:\\" + file.path + "\n")) << file.path;
  }
}

}  // namespace

namespace {

// Runs the preview in a child process: as an ordinary user (root reads
// every folder, a setup engineer does not; under root the child gives up
// root first), on a full disk (no file may grow), or stopped by a signal
// once the second temporary file is made. A child ended by a signal gives
// 128 and its number, as a shell does.
Outcome PreviewInChild(const std::vector<std::string>& args, bool asUser, bool fullDisk = false,
                       int stopSignal = 0) {
  if (asUser && !fullDisk && !stopSignal && geteuid() != 0) return Preview(args);
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return {-1, "", "pipe failed"};
  pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    std::string report = "cannot give up root";
    int code = -1;
    if (fullDisk) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit none = {0, 0};
      setrlimit(RLIMIT_FSIZE, &none);
    }
    if (stopSignal) {
      auto made = std::make_shared<int>(0);
      preview::SetFileStepHookForTests(
          [made, stopSignal](const std::string& step, const std::string&, const std::string&) {
            if (step == "made" && ++*made == 2) raise(stopSignal);
          });
    }
    if (!asUser || geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0)) {
      Outcome o = Preview(args);
      code = o.code;
      report = o.err;
    }
    std::string message = std::to_string(code) + "\n" + report;
    ssize_t written = write(pipeEnds[1], message.data(), message.size());
    _exit(written == static_cast<ssize_t>(message.size()) ? 0 : 1);
  }
  close(pipeEnds[1]);
  std::string message;
  char piece[4096];
  ssize_t n;
  while ((n = read(pipeEnds[0], piece, sizeof piece)) > 0) message.append(piece, n);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) return {128 + WTERMSIG(status), "", message};
  size_t line = message.find('\n');
  if (line == std::string::npos) return {-1, "", "no answer from the child"};
  return {std::stoi(message.substr(0, line)), "", message.substr(line + 1)};
}

std::string KeyOfDepth(const std::string& root, size_t depth, const std::string& name = "k") {
  std::string key = root;
  for (size_t i = 0; i < depth; ++i) key += "\\\\" + name;
  return key;
}

std::string RegistryMachine(const std::string& entry) { return "{\"registry\": [" + entry + "]}"; }

// The hash of every file below a folder that can be read, by path; links,
// pipes and what cannot be read are left out.
std::map<std::string, size_t> FileHashes(const std::string& folder) {
  std::map<std::string, size_t> hashes;
  std::error_code ec;
  for (fs::recursive_directory_iterator
           it(folder, fs::directory_options::skip_permission_denied, ec),
       end;
       !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    hashes[it->path().string()] = std::hash<std::string>()(data.str());
  }
  return hashes;
}

// Inputs a pipeline may hand the preview by mistake or by malice. Each is
// refused with exit code 2 and one line naming it, control characters
// escaped, or (code 0) taken as Windows would take it.
TEST(PreviewHostileInput, RefusedWithOneLineOrTakenAsWindowsWould) {
  Scratch scratch;
  // Folders that cannot be read whole.
  scratch.Put("locked/README.TXT", "r");
  scratch.Put("locked/MANUALS/Guide-en.pdf", "en");
  chmod(scratch.Path("locked/MANUALS").c_str(), 0);
  scratch.Put("dangling/A.TXT", "a");
  fs::create_symlink(scratch.Path("dangling/GONE.DLL"), scratch.Path("dangling/B.DLL"));
  scratch.Put("loop/A.TXT", "a");
  fs::create_directory_symlink(scratch.Path("loop"), scratch.Path("loop/AGAIN"));
  scratch.Put("cycle/A.TXT", "a");
  fs::create_symlink(scratch.Path("cycle/Y"), scratch.Path("cycle/X"));
  fs::create_symlink(scratch.Path("cycle/X"), scratch.Path("cycle/Y"));
  scratch.Put("pipe/A.TXT", "a");
  mkfifo(scratch.Path("pipe/FIFO").c_str(), 0644);
  // Inputs a report must never replace, and files Windows would read otherwise.
  std::string earlier = scratch.Put("earlier.reg", "REGEDIT4\r\n\r\nthe report of yesterday\r\n");
  scratch.Put("box/A.TXT", "a");
  std::string package = scratch.Put("pkg/ZOLTAVEX.DLL", "the engine");
  fs::create_hard_link(package, scratch.Path("hardlink.dll"));
  scratch.Put("cased/zoltavex.dll", "lower");
  scratch.Put("cased/ZOLTAVEX.DLL", "upper");
  scratch.Put("dotted/A.DLL", "a");
  scratch.Put("dotted/a.dll.", "a with a dot");
  scratch.Put("device/NUL.TXT", "n");
  scratch.Put("console/con", "c");
  scratch.Put("rootlink/A.TXT", "a");
  fs::create_directory_symlink("/", scratch.Path("rootlink/ROOT"));
  scratch.Put("kernel/A.TXT", "a");
  fs::create_symlink("/proc/self/mem", scratch.Path("kernel/MEM.BIN"));
  scratch.Put("escape\x1b[31m/A.TXT", "a");
  mkfifo(scratch.Path("machine.fifo").c_str(), 0644);
  // Report paths that are links, or name files no path names.
  const std::string linkTarget = scratch.Put("target.json", "{\"the report of\": \"yesterday\"}");
  fs::create_symlink("target.json", scratch.Path("link.json"));
  fs::create_directory(scratch.Path("links"));
  fs::create_symlink("../link.json", scratch.Path("links/chain.reg"));
  fs::create_symlink("links/made.json", scratch.Path("dangling.json"));
  fs::create_symlink("missing/made.json", scratch.Path("nowhere.json"));
  fs::create_symlink("box", scratch.Path("box-link.json"));
  fs::create_symlink("links/both.json", scratch.Path("both-link.json"));
  int pipeEnds[2];
  ASSERT_EQ(0, pipe(pipeEnds));
  const std::string pipeLink = "/proc/self/fd/" + std::to_string(pipeEnds[1]);
  int deleted = open(scratch.Path("deleted.json").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_LE(0, deleted);
  fs::remove(scratch.Path("deleted.json"));
  const std::string deletedLink = "/proc/self/fd/" + std::to_string(deleted);
  const std::string earlierJson = scratch.Put("earlier.json", "{\"the report of\": \"yesterday\"}");
  scratch.Put("readonly/keep.txt", "k");
  chmod(scratch.Path("readonly").c_str(), 0555);
  fs::create_directory(scratch.Path("empty"));
  // Machine files that are not descriptions.
  std::string zeros = scratch.Put("zeros.json", std::string(64, '\0'));
  std::string empty = scratch.Put("empty.json", "");
  const std::string tenMegabytes(10000000, 'W');
  const std::string longPath = "C:\\\\" + std::string(3000000, 'P');

  struct Case {
    std::string name;
    std::vector<std::string> args;  // "@" stands for a file holding machine
    std::string machine;
    int code;
    std::string expected;  // in the error output (code 2) or the report
    bool asUser = false;
    std::vector<std::string> writes = {};  // files the run may change: its reports
    // Called before each step on the user's files (see SetFileStepHookForTests).
    preview::FileStepHook step = nullptr;
    int stopSignal = 0;                    // the run is stopped by it, in a child
    bool fullDisk = false;                 // the run has no room for a byte, in a child
    std::vector<std::string> absent = {};  // paths that must not be there after the run
  };
  // A description given as the machine file ("@" in the arguments).
  auto described = [](const std::string& name, const std::string& json, int code,
                      const std::string& expected) {
    return Case{name, {"--machine", "@"}, json, code, expected};
  };
  auto refused = [](const std::string& name, const std::vector<std::string>& args,
                    const std::string& expected,
                    bool asUser = false) { return Case{name, args, "", 2, expected, asUser}; };
  // The same, with a step on the user's files made to fail, or the run stopped.
  auto failing = [&](const std::string& name, const std::vector<std::string>& args,
                     const std::string& expected, preview::FileStepHook step) {
    Case c = refused(name, args, expected);
    c.step = std::move(step);
    return c;
  };
  auto stopped = [&](const std::string& name, int signal) {
    Case c{name, {"--reg", earlier, "--json", scratch.Path("stopped.json")}, "", 128 + signal, ""};
    c.stopSignal = signal;
    c.absent = {scratch.Path("stopped.json")};
    return c;
  };
  auto written = [](const std::string& name, const std::vector<std::string>& args,
                    const std::string& report) {
    return Case{name, args, "", 0, "Exit code: 0", false, {report}};
  };
  auto onFullDisk = [&](const std::string& name, const std::string& folder,
                        const std::string& made) {
    Case c = refused(
        name, {"--export-sample", folder},
        "--export-sample: cannot write \"" + folder + "/source/WNASPI32.9x\": File too large");
    c.fullDisk = true;
    c.absent = {made};
    return c;
  };
  const std::string newReport = scratch.Path("new.json");
  const std::string valueV = R"(, "name": "V", "type": "REG_DWORD", "data": 1})";
  const std::vector<Case> cases = {
      refused("an endless device", {"--machine", "/dev/zero"},
              "--machine /dev/zero: a character device, not a machine description file"),
      refused("a pipe as machine file", {"--machine", scratch.Path("machine.fifo")},
              ": a pipe, not a machine description file"),
      Case{"a report naming the machine file",
           {"--machine", "@", "--json", scratch.Path("machine.json")},
           "{}",
           2,
           "--json: \"" + scratch.Path("machine.json") + "\" is the machine description"},
      Case{"a report naming the machine file through a link",
           {"--machine", "@", "--reg", scratch.Path("machine-link.json")},
           "{}",
           2,
           "is the machine description; a report never replaces an input"},
      refused("a report naming a package file",
              {"--source", scratch.Path("pkg"), "--json", package},
              "is \"" + package + "\", a file the run reads"),
      refused("a report naming a disc file through a hard link",
              {"--cd", "E=" + scratch.Path("pkg"), "--app", "C:\\O", "--reg",
               scratch.Path("hardlink.dll")},
              "a file the run reads"),
      refused("both reports in one file", {"--reg", earlier, "--json", earlier},
              "--reg: \"" + earlier + "\" is also the file of --json"),
      refused("both reports in one new file",
              {"--reg", newReport, "--json", scratch.Path("box/../new.json")},
              "is also the file of --json"),
      refused("a refused report keeps the earlier one",
              {"--reg", earlier, "--json", scratch.Path("missing/report.json")},
              "--json: cannot write \"" + scratch.Path("missing/report.json") + "\""),
      refused("a report into a full device", {"--reg", "/dev/full"},
              "--reg: \"/dev/full\" is a character device, not a file a report can replace"),
      refused("the sample into a folder that holds files", {"--export-sample", scratch.Path("box")},
              "--export-sample: \"" + scratch.Path("box") + "\" is not empty"),
      refused("a package file that cannot be read", {"--source", scratch.Path("kernel")},
              "--source: cannot read \"" + scratch.Path("kernel/MEM.BIN") + "\" whole"),
      refused("names that differ in case only", {"--source", scratch.Path("cased")},
              "\"" + scratch.Path("cased/ZOLTAVEX.DLL") + "\" and \"" +
                  scratch.Path("cased/zoltavex.dll") + "\" are one name on Windows"),
      refused("names that differ in a trailing dot",
              {"--cd", "E=" + scratch.Path("dotted"), "--app", "C:\\O"}, "are one name on Windows"),
      refused("a device name with an extension", {"--source", scratch.Path("device")},
              "NUL.TXT\": a name Windows keeps for a device"),
      refused("a device name in lower case", {"--source", scratch.Path("console")},
              "con\": a name Windows keeps for a device"),
      refused("a link to the root folder", {"--source", scratch.Path("rootlink")},
              "\"" + scratch.Path("rootlink/ROOT") + "\": a link to a folder"),
      refused("a command line longer than Windows passes",
              {"--app", "C:\\" + std::string(20000, 'A'), "--doc", std::string(20000, 'D')},
              "--app and --doc make a command line of 40032 characters; Windows passes at most "
              "32766"),
      described("a machine without the source folder", R"({"missing": ["%SOURCE%"]})", 0,
                "C:\\SETUP\\ holds nothing: the machine description removes the folder"),
      described("an entry given twice", "{\"family\": \"9x\",\n \"family\": \"nt\"}", 2,
                "line 2: the entry \"family\" is given twice in one object"),
      described("a registry entry's key given twice",
                RegistryMachine("{\"key\": \"HKLM\\\\A\",\n\n \"key\": \"HKLM\\\\B\"}"), 2,
                "line 3: the entry \"key\" is given twice"),
      described("a device name in a machine path", R"({"folders": ["C:\\AUX\\X"]})", 2,
                "folders[0]: \"C:\\AUX\\X\" holds the name \"AUX\", which Windows keeps"),
      described("a trailing space in a machine path",
                R"({"files": [{"path": "%SYSTEM%\\ZOLTAVEX.DLL ", "text": "old"}]})", 2,
                "ZOLTAVEX.DLL \" holds the name \"ZOLTAVEX.DLL \": Windows drops a name's "
                "trailing dots and spaces"),
      described("a file path ending in a backslash", R"({"readOnly": ["C:\\A.TXT\\"]})", 2,
                "readOnly[0]: \"C:\\A.TXT\\\" ends in a backslash, so it names no file"),
      Case{"an earlier report replaced by a run",
           {"--reg", earlier, "--json", newReport},
           "",
           0,
           "Exit code: 0",
           false,
           {earlier, newReport}},
      Case{
          "escape sequences in the head",
          {"--source", scratch.Path("escape\x1b[31m"), "--app", "C:\\\xc3\x96\x1b]0;x\x07", "--doc",
           "D\r\x1b[2J\xc2\x9b"
           "2J\xff\xe2\x82"},
          "",
          0,
          // A whole UTF-8 character stays; C1 controls (U+009B) and bytes
          // of no whole character are escaped like C0 ones.
          "command line   \"C:\\SETUP\\DRVSETUP.EXE\" \"C:\\\xc3\x96\\x1b]0;x\\x07\" "
          "\"D\\x0d\\x1b[2J\\xc2\\x9b"
          "2J\\xff\\xe2\\x82\""},
      refused("a folder as machine file", {"--machine", scratch.Path()},
              "a folder, not a machine description file"),
      refused("a file of zero bytes", {"--machine", zeros},
              "a binary file (a zero byte at offset 0)"),
      refused("an empty file", {"--machine", empty}, "an empty file"),
      refused("an unreadable source subfolder", {"--source", scratch.Path("locked")},
              "--source: cannot read the folder \"" + scratch.Path("locked/MANUALS") +
                  "\": Permission denied",
              true),
      refused("an unreadable disc subfolder",
              {"--cd", "E=" + scratch.Path("locked"), "--app", "C:\\O"},
              "--cd E: cannot read the folder \"" + scratch.Path("locked/MANUALS") + "\"", true),
      refused("a link to nothing", {"--source", scratch.Path("dangling")},
              "--source: cannot read \"" + scratch.Path("dangling/B.DLL") + "\""),
      refused("a link to the folder itself", {"--source", scratch.Path("loop")},
              "\"" + scratch.Path("loop/AGAIN") +
                  "\": a link to a folder; links to folders are "
                  "not followed"),
      refused("links that point at each other",
              {"--cd", "F=" + scratch.Path("cycle"), "--app", "C:\\O"},
              "--cd F: cannot read \"" + scratch.Path("cycle/X") + "\""),
      refused("a pipe in the disc", {"--source", scratch.Path("pipe")},
              "\"" + scratch.Path("pipe/FIFO") + "\": a pipe, not a file or folder"),
      refused("an option with an escape sequence", {"--family", "9x\x1b[2J"},
              "--family must be 9x or nt, not \"9x\\x1b[2J\""),
      described("a file below a file",
                R"({"files": [{"path": "%SYSTEM%\\ZOLTAVEX.DLL", "text": "x"},
                              {"path": "%SYSTEM%\\ZOLTAVEX.DLL\\X", "text": "y"}]})",
                2,
                "files[1]: \"C:\\WINDOWS\\system32\\ZOLTAVEX.DLL\\X\" cannot exist: "
                "\"C:\\WINDOWS\\system32\\ZOLTAVEX.DLL\" is a file"),
      described("a folder below a file", R"({"folders": ["%WINDOWS%\\WIN.INI\\A"]})", 2,
                "folders[0]: \"C:\\WINDOWS\\WIN.INI\\A\" cannot exist"),
      described("a folder where a file is", R"({"folders": ["%WINDOWS%\\WIN.INI"]})", 2,
                "folders[0]: \"C:\\WINDOWS\\WIN.INI\" is a file"),
      described("an INI file below a file", R"({"ini": {"%WINDOWS%\\SYSTEM.INI\\X.INI": "[a]"}})",
                2, "cannot exist"),
      described("a key name of 256 characters",
                RegistryMachine("{\"key\": \"HKLM\\\\" + std::string(256, 'K') + "\"}"), 2,
                "registry[0].key: the key name \"KKKK"),
      described("a key name of 255 characters",
                RegistryMachine("{\"key\": \"HKLM\\\\" + std::string(255, 'K') + "\"}"), 0,
                "Exit code: 0"),
      described("a value name of 16,384 characters",
                RegistryMachine("{\"key\": \"HKLM\\\\A\", \"name\": \"" + std::string(16384, 'V') +
                                "\", \"type\": \"REG_DWORD\", \"data\": 1}"),
                2, "registry[0].name: a value name of 16384 characters (at most 16383)"),
      described("a value name of 16,383 characters",
                RegistryMachine("{\"key\": \"HKLM\\\\A\", \"name\": \"" + std::string(16383, 'V') +
                                "\", \"type\": \"REG_DWORD\", \"data\": 1}"),
                0, "Exit code: 0"),
      described("keys 513 levels deep",
                RegistryMachine("{\"key\": \"" + KeyOfDepth("HKLM", 513) + "\"}"), 2,
                "registry[0].key: keys nest deeper than 512 levels below HKLM"),
      described("a key chain 8,000 levels deep",
                RegistryMachine("{\"key\": \"" + KeyOfDepth("HKU", 8000) + "\"}"), 2,
                "deeper than 512 levels"),
      described("keys 512 levels deep",
                RegistryMachine("{\"key\": \"" + KeyOfDepth("HKLM", 512) + "\"" + valueV), 0,
                "Exit code: 0"),
      described("the user's key 512 levels deep",
                RegistryMachine("{\"key\": \"" + KeyOfDepth("HKCU", 512) + "\"}"), 2,
                "deeper than 512 levels below HKCU"),
      described("a value at the machine's root", RegistryMachine(R"({"key": "HKLM\\")" + valueV), 2,
                "registry[0].key: a value cannot lie at the root key \"HKLM\""),
      described("a value at the users' root", RegistryMachine(R"({"key": "HKEY_USERS")" + valueV),
                2, "a value cannot lie at the root key"),
      described("a value at the current user's key", RegistryMachine(R"({"key": "HKCU")" + valueV),
                0, "Exit code: 0"),
      described("an empty key name inside a path", RegistryMachine(R"({"key": "HKLM\\A\\\\B"})"), 2,
                "an empty key name in \"HKLM\\A\\\\B\""),
      described("a key name with a line end and an escape sequence",
                RegistryMachine(R"({"key": "HKLM\\A\n\u001b[2J"})"), 2,
                "the key name \"A\\x0a\\x1b[2J\" holds a control character"),
      described("a value name with a zero byte",
                RegistryMachine(R"({"key": "HKLM\\A", "name": "a\u0000b", "type": "REG_DWORD",
                                    "data": 1})"),
                2, "registry[0].name: a value name with a zero byte"),
      described("a string list that would read back shorter",
                RegistryMachine(R"({"key": "HKLM\\A", "name": "M", "type": "REG_MULTI_SZ",
                                    "data": ["a\u0000b", ""]})"),
                2, "registry[0].data: a string with a zero byte ends the list early"),
      described("an unknown entry with control characters",
                "{\"bad\\n\\u001b[31mentry\\u0000\": 1}", 2,
                "\"bad\\x0a\\x1b[31mentry\\x00\": unknown entry"),
      described("a 10 MB version name", "{\"windows\": \"" + tenMegabytes + "\"}", 2,
                "unknown version \"" + std::string(40, 'W') + "\"... (9999960 more bytes)"),
      described("a 3 MB path", "{\"files\": [{\"path\": \"" + longPath + "\"}]}", 2,
                "... (2999883 more bytes) longer than"),
      described("a path with a zero byte", R"({"files": [{"path": "C:\\A\u0000B.TXT"}]})", 2,
                "files[0]: \"C:\\A\\x00B.TXT\" holds a character Windows refuses"),
      // A report path that is a link replaces the file it names; the link stays.
      written("a report through a link", {"--json", scratch.Path("link.json")}, linkTarget),
      written("a report through a chain of links", {"--reg", scratch.Path("links/chain.reg")},
              linkTarget),
      written("a report through a link to nothing", {"--json", scratch.Path("dangling.json")},
              scratch.Path("links/made.json")),
      refused("a link to nothing in a missing folder", {"--json", scratch.Path("nowhere.json")},
              "--json: cannot write \"" + scratch.Path("nowhere.json") +
                  "\": No such file or directory"),
      refused("both reports in one new file through a link",
              {"--reg", scratch.Path("links/both.json"), "--json", scratch.Path("both-link.json")},
              "is also the file of --json"),
      refused("a loop of links as report", {"--reg", scratch.Path("cycle/X")},
              "--reg: cannot write \"" + scratch.Path("cycle/X") +
                  "\": Too many levels of symbolic links"),
      refused("a link to a folder as report", {"--reg", scratch.Path("box-link.json")},
              "\" is a folder, not a file a report can replace"),
      refused("a descriptor's link to a pipe", {"--reg", pipeLink},
              "--reg: \"" + pipeLink + "\" is a pipe, not a file a report can replace"),
      refused("a descriptor's link to a deleted file", {"--json", deletedLink},
              "--json: \"" + deletedLink +
                  "\" is a file no path names, not a file a report can replace"),
      // Any name the file system holds takes a report; a reason is the system's.
      written("a report name of 250 bytes",
              {"--json", scratch.Path(std::string(245, 'r') + ".json")},
              scratch.Path(std::string(245, 'r') + ".json")),
      refused("a report in a folder the user cannot write",
              {"--json", scratch.Path("readonly/r.json")},
              "--json: cannot write \"" + scratch.Path("readonly/r.json") + "\": Permission denied",
              true),
      // All reports are put in place or none; the earlier ones stay.
      failing("a second report that cannot take its place",
              {"--reg", earlier, "--json", scratch.Path("late.json")},
              "--json: cannot write \"" + scratch.Path("late.json") + "\": Is a directory",
              [&](const std::string& step, const std::string&, const std::string& to) {
                if (step == "place" && to == scratch.Path("late.json")) fs::create_directory(to);
              }),
      failing("a new report taken back when the second cannot take its place",
              {"--reg", scratch.Path("late.reg"), "--json", scratch.Path("late-too.json")},
              "--json: cannot write \"" + scratch.Path("late-too.json") + "\": Is a directory",
              [&](const std::string& step, const std::string&, const std::string& to) {
                if (step == "place" && to == scratch.Path("late-too.json")) {
                  fs::create_directory(to);
                }
              }),
      failing("a second earlier report that cannot be set aside",
              {"--reg", earlier, "--json", earlierJson},
              "--json: cannot write \"" + earlierJson + "\": Is a directory",
              [&](const std::string& step, const std::string& from, const std::string& to) {
                if (step != "aside" || from != earlierJson) return;
                fs::remove(to);
                fs::create_directory(to);
              }),
      // A stopped run leaves no temporary file and the earlier reports.
      stopped("a run stopped by SIGINT", SIGINT),
      stopped("a run stopped by SIGTERM", SIGTERM),
      stopped("a run stopped by SIGHUP", SIGHUP),
      // --export-sample stands alone; a failed one leaves nothing of its own.
      refused("the sample with a report",
              {"--export-sample", scratch.Path("fresh"), "--json", scratch.Path("fresh.json")},
              "--export-sample is given alone, not with --json"),
      refused("the sample with --trace", {"--trace", "--export-sample", scratch.Path("fresh")},
              "--export-sample is given alone, not with --trace"),
      onFullDisk("a sample export on a full disk", scratch.Path("full/sample"),
                 scratch.Path("full")),
      onFullDisk("a sample export into an empty folder on a full disk", scratch.Path("empty"),
                 scratch.Path("empty/source")),
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
      if (a == "@") a = scratch.Put("machine.json", c.machine);
    }
    fs::remove(scratch.Path("machine-link.json"));
    fs::create_symlink(scratch.Path("machine.json"), scratch.Path("machine-link.json"));
    // The user's files stay as they were; only the reports asked for change.
    std::map<std::string, size_t> before = FileHashes(scratch.Path());
    preview::SetFileStepHookForTests(c.step);
    Outcome o = c.asUser || c.fullDisk || c.stopSignal
                    ? PreviewInChild(args, c.asUser, c.fullDisk, c.stopSignal)
                    : Preview(args);
    preview::SetFileStepHookForTests(nullptr);
    std::map<std::string, size_t> after = FileHashes(scratch.Path());
    for (const std::string& path : c.absent) {
      EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << c.name << ": " << path;
    }
    // Links stay links.
    for (const char* link : {"link.json", "links/chain.reg", "dangling.json"}) {
      EXPECT_TRUE(fs::is_symlink(scratch.Path(link))) << c.name << ": " << link;
    }
    for (const std::string& report : c.writes) {
      EXPECT_NE(before[report], after[report]) << c.name << ": " << report;
      before.erase(report);
      after.erase(report);
    }
    EXPECT_EQ(before, after) << c.name;
    EXPECT_EQ(c.code, o.code) << c.name << "\n" << o.err.substr(0, 2000);
    const std::string& text = c.code == 2 ? o.err : o.out;
    EXPECT_NE(std::string::npos, text.find(c.expected)) << c.name << "\n" << text.substr(0, 2000);
    for (char ch : o.out) {
      unsigned char u = static_cast<unsigned char>(ch);
      EXPECT_TRUE(ch == '\n' || (u >= 32 && u != 127))
          << c.name << ": byte " << int(u) << " in the report";
      if (ch != '\n' && (u < 32 || u == 127)) break;
    }
    if (c.code != 2) continue;
    EXPECT_EQ("", o.out) << c.name;
    EXPECT_EQ(0u, o.err.find("drvsetup-preview: ")) << c.name;
    EXPECT_LT(o.err.size(), 4200u) << c.name;
    // One line, or the line and the hint to --help; nothing raw from the input.
    size_t lines = std::count(o.err.begin(), o.err.end(), '\n');
    EXPECT_TRUE(lines == 1 || (lines == 2 && o.err.find("\nTry '") != std::string::npos))
        << c.name << "\n"
        << o.err.substr(0, 2000);
    for (char ch : o.err) {
      unsigned char u = static_cast<unsigned char>(ch);
      EXPECT_TRUE(ch == '\n' || (u >= 32 && u != 127)) << c.name << ": byte " << int(u);
      if (ch != '\n' && (u < 32 || u == 127)) break;
    }
  }
  chmod(scratch.Path("locked/MANUALS").c_str(), 0755);
  chmod(scratch.Path("readonly").c_str(), 0755);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  close(deleted);
}

// A SYSTEM.INI holding zero bytes: the profile API reads each such line up
// to its zero bytes and the rewrite of [386Enh] writes that form back; the
// report shows the change instead of losing the line.
TEST(PreviewHostileInput, SystemIniWithZeroBytesShowsWhatTheRewriteMadeOfThem) {
  Scratch scratch;
  std::string machine = scratch.Put("m.json", R"({"ini": {"%WINDOWS%\\SYSTEM.INI": [
      "[386Enh]", "\u0000\u0000k=v", "device=zoltavex.vxd", "x\u0000y=3", "after=kept"]}})");
  Outcome o = Preview({"--family", "9x", "--machine", machine});
  ASSERT_EQ(0, o.code) << o.err;
  std::string ini = Section(o.out, "INI entries changed");
  EXPECT_NE(std::string::npos, ini.find("- \\x00\\x00k=v\n")) << ini;
  EXPECT_NE(std::string::npos, ini.find("+ =v\n")) << ini;
  EXPECT_NE(std::string::npos, ini.find("- x\\x00y=3\n")) << ini;
  EXPECT_NE(std::string::npos, ini.find("+ x=3\n")) << ini;
  EXPECT_NE(std::string::npos, ini.find("+ ;evice=zoltavex.vxd")) << ini;
  EXPECT_EQ(std::string::npos, ini.find("after=kept")) << ini;  // unchanged, so not listed
}

// The number in a report section's title: "Files placed (3)" gives 3.
long Count(const std::string& report, const std::string& title) {
  size_t at = report.find("\n" + title + " (");
  if (at == std::string::npos) return -1;
  return std::stol(report.substr(at + title.size() + 3));
}

TEST(PreviewJson, ReportOfBothFamiliesReadsBackWithTheTextReportsFigures) {
  Scratch scratch;
  for (const char* family : {"9x", "nt"}) {
    std::string file = scratch.Path(std::string("report-") + family + ".json");
    Outcome o = Preview({"--family", family, "--json", file, "--running", "HELPER.EXE"});
    ASSERT_EQ(0, o.code) << o.err;
    nlohmann::json doc = nlohmann::json::parse(HostFileText(file));
    EXPECT_EQ(family, doc["family"].get<std::string>());
    EXPECT_EQ(Count(o.out, "Message boxes"), long(doc["messageBoxes"].size())) << family;
    EXPECT_EQ(Count(o.out, "Files placed"), long(doc["files"]["placed"].size())) << family;
    EXPECT_EQ(Count(o.out, "Files staged, named at the restart"),
              long(doc["files"]["staged"].size()))
        << family;
    EXPECT_EQ(Count(o.out, "Files removed"), long(doc["files"]["removed"].size())) << family;
    long written = 0;
    for (const auto& key : doc["registry"]["keys"]) written += long(key["written"].size());
    EXPECT_EQ(Count(o.out, "Registry values written"), written) << family;
    long iniLines = 0;
    for (const auto& ini : doc["ini"]) {
      for (const auto& section : ini["sections"]) iniLines += long(section["lines"].size());
    }
    EXPECT_EQ(Count(o.out, "INI entries changed"), iniLines) << family;
    EXPECT_EQ(Count(o.out, "Renames pending for the restart"), long(doc["renames"].size()))
        << family;
    EXPECT_EQ(Count(o.out, "  Files new or replaced since before the run"),
              long(doc["afterRestart"]["placed"].size()))
        << family;
    EXPECT_NE(std::string::npos, o.out.find("Platform calls made: " +
                                            std::to_string(doc["platformCalls"].get<long>())));
    EXPECT_NE(std::string::npos,
              o.out.find("Exit code: " + std::to_string(doc["exitCode"].get<int>())));
    // Every file, rename and registry key of the JSON is in the text report.
    for (const char* list : {"placed", "staged", "removed"}) {
      for (const auto& f : doc["files"][list]) {
        EXPECT_NE(std::string::npos, o.out.find(f["path"].get<std::string>())) << family;
      }
    }
    for (const auto& r : doc["renames"]) {
      EXPECT_NE(std::string::npos, o.out.find(r["from"].get<std::string>())) << family;
    }
    for (const auto& key : doc["registry"]["keys"]) {
      EXPECT_NE(std::string::npos, o.out.find("  " + key["path"].get<std::string>()))
          << key["path"];
    }
  }
  // Registry values keep their exact bytes and a readable form.
  std::string machine = scratch.Put("m.json", R"({"registry": [
      {"key": "HKCU\\Software\\Miravelt\\Engine", "name": "Latency", "type": "REG_DWORD",
       "data": 128}]})");
  std::string file = scratch.Path("engine.json");
  ASSERT_EQ(0, Preview({"--family", "9x", "--machine", machine, "--json", file}).code);
  nlohmann::json doc = nlohmann::json::parse(HostFileText(file));
  ASSERT_FALSE(doc["registry"]["removedKeys"].empty());
  EXPECT_EQ("HKEY_CURRENT_USER\\Software\\Miravelt\\Engine",
            doc["registry"]["removedKeys"][0].get<std::string>());
  bool sawNumber = false;
  for (const auto& key : doc["registry"]["keys"]) {
    for (const auto& v : key["written"]) {
      const auto& value = v["value"];
      EXPECT_EQ(value["bytes"].get<size_t>() * 2, value["hex"].get<std::string>().size());
      if (value["type"] == "REG_DWORD") sawNumber = sawNumber || value.contains("number");
    }
  }
  EXPECT_TRUE(sawNumber);
  // A report file that cannot be written is bad input, before the run.
  Outcome o = Preview({"--json", scratch.Path("no/such/folder/r.json")});
  EXPECT_EQ(2, o.code);
  EXPECT_EQ("", o.out);
  EXPECT_NE(std::string::npos, o.err.find("--json: cannot write"));
}

TEST(PreviewRemoval, InstallRestartAndRemovalOnOneMachineWithWhatStays) {
  Scratch scratch;
  for (const char* family : {"9x", "nt"}) {
    const std::string file = scratch.Path(std::string("removal-") + family + ".json");
    Outcome o = Preview({"--family", family, "--remove", "--json", file});
    ASSERT_EQ(0, o.code) << o.err;
    // The install's report first, as without --remove, then the removal's.
    const std::string install = Preview({"--family", family}).out;
    EXPECT_EQ(0u, o.out.find(install)) << family;
    const std::string removal = o.out.substr(install.size());
    EXPECT_NE(std::string::npos, removal.find("drvremove.exe on a simulated")) << family;
    EXPECT_NE(std::string::npos, removal.find("command line   \"C:\\SETUP\\DRVREMOVE.EXE\""));
    nlohmann::json doc = nlohmann::json::parse(HostFileText(file));
    const nlohmann::json& run = doc["removal"];
    ASSERT_TRUE(run.is_object()) << family;
    EXPECT_EQ(0, run["exitCode"].get<int>());
    EXPECT_NE(std::string::npos, removal.find("Platform calls made: " +
                                              std::to_string(run["platformCalls"].get<long>())));
    // The removal's run is the machine after the install's restart: it
    // places nothing, and shows only its own boxes.
    EXPECT_TRUE(run["files"]["placed"].empty()) << family;
    EXPECT_TRUE(run["messageBoxes"].empty()) << family;
    // What stays: the same items in both forms, each with its reason where
    // the keep list names one; the install's kept files are among them.
    const nlohmann::json& stays = run["stays"];
    long unexplained = 0;
    std::set<std::string> kept;
    for (const auto& item : stays) {
      const std::string path = item["path"].get<std::string>();
      EXPECT_NE(std::string::npos, removal.find(item["kind"].get<std::string>() + " " + path))
          << path;
      if (item["keptBecause"].is_null()) {
        ++unexplained;
      } else {
        kept.insert(path.substr(path.find_last_of('\\') + 1));
      }
    }
    EXPECT_EQ(unexplained, run["unexplained"].get<long>());
    // The sample install leaves nothing that no keep list names.
    EXPECT_EQ(0, unexplained) << family;
    EXPECT_NE(std::string::npos,
              removal.find("Staying items on no keep list: " + std::to_string(unexplained)));
    for (const char* name :
         {"FTD2XX.DLL", "FTD2XXUN.EXE", "FTD2XX.SYS", "WNASPI32.DLL", "HISTORY.TXT", "ORVOOEM.DLL"})
      EXPECT_TRUE(kept.count(name)) << family << " " << name;
    // Nothing of the driver, engine or INF files stays.
    for (const auto& item : stays) {
      const std::string path = item["path"].get<std::string>();
      if (item["kind"] != "file" || path.find("C:\\SETUP") == 0) continue;
      EXPECT_EQ(std::string::npos, path.find("ZOLTAV")) << path;
      EXPECT_EQ(std::string::npos, path.find("USB.INF")) << path;
    }
  }
  Outcome bad = Preview({"--remove=yes"});
  EXPECT_EQ(2, bad.code);
  EXPECT_NE(std::string::npos, bad.err.find("--remove takes no value"));
}

TEST(PreviewRemoval, KeepReasonsNameTheKeepListAndNothingElse) {
  const std::string app = "C:\\Program Files\\Orvo-Studio\\";
  struct Case {
    const char* kind;
    std::string path;
    bool kept;
  } cases[] = {
      {"file", "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\APIX.VXD", true},
      {"file", "C:\\WINNT\\system32\\drivers\\ASPI32.OLD", true},
      {"file", "C:\\WINDOWS\\system32\\FTD2XXUN.EXE", true},
      {"file", app + "OrvoStudio-en.pdf", true},
      {"file", "C:\\Program Files\\Orvo-Studio-Old\\X.DLL", false},
      {"file", "C:\\WINDOWS\\system32\\ZOLTAVEX.DLL", false},
      {"file", "C:\\WINDOWS\\INF\\DQ_USB.INF", false},
      {"ini", "C:\\WINDOWS\\SYSTEM.INI [vcache]", true},
      {"ini", "C:\\WINDOWS\\WIN.INI [windows]", false},
      {"key", "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Aspi32\\Parameters", true},
      {"value", "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\APIX \"X\"", true},
      {"key", "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Aspi32x", false},
      {"key", "HKEY_CURRENT_USER\\Software\\Miravelt\\Engine", true},
      {"key", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Miravelt", false},
      {"key", "HKEY_LOCAL_MACHINE\\Enum", true},
      {"key", "HKEY_LOCAL_MACHINE\\Enum\\Root\\REALTIME", false},
      {"value",
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run "
       "\"Realtime Audio Engine\"",
       false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.kept, !preview::KeepReason(c.kind, c.path, app).empty()) << c.path;
}

}  // namespace
