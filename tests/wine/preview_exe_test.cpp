// drvsetup-preview.exe, the preview built for Windows, under Wine: its report
// of the sample run is the Linux tool's, line for line, for both families,
// with the sample built in and with the sample as real Windows folders; and
// it refuses what the Linux tool refuses, with the same line.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "installer_fixture.h"
#include "preview.h"
#include "text.h"

using namespace winetest;

namespace {

const char kPreviewExe[] = "C:\\tools\\drvsetup-preview.exe";

using text::Lines;

std::string LinuxReport(const std::vector<std::string>& args, int* code,
                        std::string* error = nullptr) {
  std::ostringstream out, err;
  *code = preview::PreviewMain(args, out, err);
  if (error) *error = err.str();
  return out.str();
}

// The two reports, line for line; a folder's name in the report's head is
// the one it was given on each side.
void ExpectSameLines(const std::string& windows, std::string linux,
                     const std::vector<std::pair<std::string, std::string>>& folders,
                     const std::string& what, Caller caller = {}) {
  TRACE_CALLER(caller);
  for (const auto& f : folders) {
    for (size_t at; (at = linux.find(f.first)) != std::string::npos;) {
      linux.replace(at, f.first.size(), f.second);
    }
  }
  std::vector<std::string> w = Lines(windows), l = Lines(linux);
  EXPECT_EQ(w.size(), l.size()) << what;
  for (size_t i = 0; i < std::min(w.size(), l.size()); ++i) {
    EXPECT_EQ(w[i], l[i]) << what << ", line " << i + 1;
  }
}

class PreviewExeTest : public InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    ASSERT_TRUE(wine->PlaceProgram("drvsetup-preview.exe", kPreviewExe))
        << "drvsetup-preview.exe is missing in " << ProgramsDir() << "; "
        << ProgramsMissingHint(DefaultArch());
  }
};

TEST_F(PreviewExeTest, BuiltInSampleGivesTheLinuxReportOnBothFamilies) {
  for (const char* family : {"9x", "nt"}) {
    RunResult r = wine->Run(kPreviewExe, {"--family", family});
    ASSERT_FALSE(r.timedOut) << family;
    int code = -1;
    std::string linux = LinuxReport({"--family", family}, &code);
    EXPECT_EQ(r.exitCode, code) << family << "\n" << r.err.substr(0, 2000);
    EXPECT_NE(r.out.find("Exit code: 0"), std::string::npos) << family;
    ExpectSameLines(r.out, linux, {}, family);
  }
}

TEST_F(PreviewExeTest, SampleInWindowsFoldersGivesTheLinuxReport) {
  // The sample as real files, read by both tools from where each sees them.
  const std::string exported = wine->HostPath("C:\\sample");
  int code = -1;
  LinuxReport({"--export-sample", exported}, &code);
  ASSERT_EQ(code, 0);
  std::ifstream arguments(exported + "/arguments.txt");
  std::string app, doc;
  std::getline(arguments, app);
  std::getline(arguments, doc);
  for (const char* family : {"9x", "nt"}) {
    RunResult r =
        wine->Run(kPreviewExe, {"--family", family, "--source", "C:\\sample\\source", "--cd",
                                "E=C:\\sample\\disc", "--app", app, "--doc", doc});
    ASSERT_FALSE(r.timedOut) << family;
    std::string linux = LinuxReport({"--family", family, "--source", exported + "/source", "--cd",
                                     "E=" + exported + "/disc", "--app", app, "--doc", doc},
                                    &code);
    EXPECT_EQ(r.exitCode, code) << family << "\n" << r.err.substr(0, 2000);
    ExpectSameLines(
        r.out, linux,
        {{exported + "/source", "C:\\sample\\source"}, {exported + "/disc", "C:\\sample\\disc"}},
        family);
  }
  // A folder that is not there is bad input on Windows too.
  RunResult r = wine->Run(kPreviewExe, {"--source", "C:\\no\\such\\folder"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--source: no folder \"C:\\no\\such\\folder\""), std::string::npos)
      << r.err.substr(0, 2000);
}

// Inputs both builds refuse: each side is given the same files by the name
// it sees them by, and must answer exit code 2 and the same line. (Two
// refusals cannot be compared: Wine shows a Unix pipe to Windows programs as
// an empty file, which the Windows build refuses as that, and a command line
// too long for Windows never reaches the Windows build.)
TEST_F(PreviewExeTest, RefusalsGiveTheLinuxLine) {
  namespace fs = std::filesystem;
  const std::string host = wine->HostPath("C:\\refuse");
  const std::string win = "C:\\refuse";
  fs::remove_all(host);
  auto put = [&](const std::string& relative, const std::string& data) {
    fs::create_directories(fs::path(host + "/" + relative).parent_path());
    std::ofstream(host + "/" + relative, std::ios::binary) << data;
  };
  put("up/A.TXT", "a");
  fs::create_directory_symlink("..", host + "/up/UP");
  put("root/A.TXT", "a");
  fs::create_directory_symlink("/", host + "/root/ROOT");
  put("cased/zoltavex.dll", "lower");
  put("cased/ZOLTAVEX.DLL", "upper");
  put("device/NUL.TXT", "n");
  put("pkg/ZOLTAVEX.DLL", "engine");
  put("machine.json", "{}");
  put("twice.json", "{\"family\": \"9x\",\n \"family\": \"nt\"}");
  put("full/A.TXT", "a");

  struct Refusal {
    std::vector<std::string> args;  // "@" stands for the folder both sides see
  };
  const std::vector<Refusal> refusals = {
      {{"--source", "@/up"}},
      {{"--source", "@/root"}},
      {{"--source", "@/cased"}},
      {{"--source", "@/device"}},
      {{"--source", "@/pkg", "--json", "@/pkg/ZOLTAVEX.DLL"}},
      {{"--machine", "@/machine.json", "--reg", "@/machine.json"}},
      {{"--reg", "@/new.reg", "--json", "@/new.reg"}},
      {{"--machine", "@/twice.json"}},
      {{"--export-sample", "@/full"}},
  };
  for (const Refusal& refusal : refusals) {
    std::vector<std::string> linuxArgs, windowsArgs;
    for (const std::string& arg : refusal.args) {
      if (arg.compare(0, 1, "@") != 0) {
        linuxArgs.push_back(arg);
        windowsArgs.push_back(arg);
        continue;
      }
      std::string below = arg.substr(1);
      linuxArgs.push_back(host + below);
      for (char& c : below) {
        if (c == '/') c = '\\';
      }
      windowsArgs.push_back(win + below);
    }
    int code = -1;
    std::string linuxError;
    LinuxReport(linuxArgs, &code, &linuxError);
    RunResult r = wine->Run(kPreviewExe, windowsArgs);
    ASSERT_FALSE(r.timedOut) << windowsArgs[1];
    EXPECT_EQ(code, 2) << linuxArgs[1] << "\n" << linuxError;
    EXPECT_EQ(r.exitCode, 2) << windowsArgs[1] << "\n" << r.err.substr(0, 2000);
    // The Linux line with the folder named as Windows names it.
    std::string expected = linuxError;
    for (size_t at; (at = expected.find(host)) != std::string::npos;) {
      size_t end = expected.find('"', at);
      std::string path = expected.substr(at, end - at);
      path.replace(0, host.size(), win);
      for (char& c : path) {
        if (c == '/') c = '\\';
      }
      expected.replace(at, end - at, path);
    }
    ExpectSameLines(r.err, expected, {}, windowsArgs[1]);
  }
  fs::remove_all(host);
}

}  // namespace
