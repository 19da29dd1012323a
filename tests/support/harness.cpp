#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "installer_process.h"
#include "text.h"

void ResetMachine(sim::Windows version) {
  sim::Reset(version);
  sim::PutHostEngineSettings();
}

namespace {

// A run of either program. Every registry change of the run must have been
// noted, or a preview's comparison would pass over it: a simulator fault
// that stops tests and campaigns alike.
sim::RunResult Run(const std::string& commandLine, sim::Program program) {
  sim::SetCommandLine(commandLine);
  const sim::RegistryAtMark before = sim::TakeRegistryAtMark();
  const sim::RunResult result = sim::RunInstallerProcess(program);
  const std::string changed = sim::ChangedBehindMark(before);
  if (!changed.empty()) {
    std::fprintf(stderr, "a change below %s was not noted\n", changed.c_str());
    std::abort();
  }
  return result;
}

}  // namespace

sim::RunResult RunInstaller(const std::string& arguments) {
  return Run(sim::InstallerCommandLine(arguments), sim::Program::Setup);
}

sim::RunResult RunRemover() {
  return Run(sim::InstallerCommandLine(std::string(), sim::kRemovalPath), sim::Program::Removal);
}

std::vector<std::string> BoxTexts() {
  std::vector<std::string> texts;
  for (const sim::Box& box : sim::Boxes()) texts.push_back(box.text);
  return texts;
}

namespace {

bool Mentions(const sim::Call& call, const std::string& function, const std::string& escaped) {
  return (function.empty() || call.function == function) &&
         call.args.find(escaped) != std::string::npos;
}

}  // namespace

size_t CallsOf(const std::string& function, const std::string& text) {
  const std::string escaped = text::Escape(text);
  size_t count = 0;
  for (const sim::Call& call : sim::Trace()) count += Mentions(call, function, escaped);
  return count;
}

size_t FirstCall(const std::string& function, const std::string& text) {
  const std::string escaped = text::Escape(text);
  const std::vector<sim::Call>& trace = sim::Trace();
  for (size_t i = 0; i < trace.size(); ++i) {
    if (Mentions(trace[i], function, escaped)) return i;
  }
  return std::string::npos;
}

std::string File(const std::string& path) {
  std::string data;
  return sim::FileData(path, &data) ? data : "missing";
}

std::string Reg(const std::string& key, const std::string& name) {
  sim::Value v;
  if (!sim::RegGet(HKEY_LOCAL_MACHINE, key, name, &v)) return "missing";
  return std::to_string(v.type) + ":" + v.data;
}

std::string Sz(const char* text) { return "1:" + sim::StringOf(text); }

const char* const kGuardMessage =
    "Please close Orvo-Studio, restart your machine and run setup again !";

const std::vector<std::string>& PackageFiles() {
  static const std::vector<std::string> files = {
      // audio kernel, both families
      "ZOLTAVEX.VXD", "ZOLTAV16.DLL", "ZOLTAVEX.INF", "ZOLTAVEX.DLL", "ZOLTAVEX.EXE",
      "ZOLTAVEX.SYS",
      // ASPI layer, both families
      "WNASPI32.9x", "WINASPI.9x", "ASPIENUM.9x", "APIX.9x", "ASPI32.NT", "WNASPI32.NT",
      "WINASPI.NT", "WOWPOST.NT",
      // USB packages
      "KOVA51USB.INF", "DQ_USB.INF", "FTD2XX.DLL", "FTD2XXUN.EXE", "FTD2XX.SYS"};
  return files;
}

const char* const kSystemIni9x =
    "[boot]\r\n"
    "shell=Explorer.exe\r\n"
    "\r\n"
    "[386Enh]\r\n"
    "ebios=*ebios\r\n"
    "device=zoltavex.vxd\r\n"
    "device=*vcd\r\n"
    "DEVICE=ZOLTAVEX.VXD\r\n"
    "device=zoltavex.vxd\r\n"
    "keyboard=*vkd\r\n"
    "\r\n"
    "[vcache]\r\n"
    "MinFileCache=512\r\n";

const std::vector<KeptItem>& RemovalKeepList() {
  static const char* const kAspi =
      "the ASPI layer and its .OLD backups: other applications reach CD-ROM drives through it";
  static const char* const kSystemIni =
      "SYSTEM.INI's [VCache] values and the [386Enh] lines the installer turned into "
      "comments: the values from before the install are not known";
  static const std::vector<KeptItem> list = {
      {"\\WNASPI32.", kAspi},
      {"\\WINASPI.", kAspi},
      {"\\ASPIENUM.", kAspi},
      {"\\APIX.", kAspi},
      {"\\ASPI32.", kAspi},
      {"\\WOWPOST.", kAspi},
      {"\\SERVICES\\VXD\\ASPIENUM", kAspi},
      {"\\SERVICES\\VXD\\APIX", kAspi},
      {"\\SERVICES\\ASPI32", kAspi},
      {"\\FTD2XX",
       "FTDI's D2XX library, driver and uninstaller program: every device built on that "
       "maker's chips shares them"},
      {"\\SYSTEM.INI [VCACHE]", kSystemIni},
      {"\\SYSTEM.INI [386ENH]", kSystemIni},
  };
  return list;
}

const char* RoundTripReason(const std::string& item, const std::string& applicationFolder) {
  const std::string upper = text::Upper(item);
  for (const KeptItem& kept : RemovalKeepList()) {
    if (upper.find(kept.pattern) != std::string::npos) return kept.reason;
  }
  if (!applicationFolder.empty() &&
      upper.compare(0, 5 + applicationFolder.size() + 1,
                    "FILE " + text::Upper(applicationFolder) + "\\") == 0) {
    return "the files in the application folder: the host application's own uninstaller owns it";
  }
  if (upper.find("\\WININIT.BAK") != std::string::npos) {
    return "the platform keeps the last restart's Wininit.ini as WININIT.BAK";
  }
  if (upper.find("\\SOFTWARE\\MIRAVELT\\ENGINE") != std::string::npos &&
      upper.compare(0, 8, "REG HKCU") == 0) {
    return "the installer removes the current user's engine settings before its packages";
  }
  return nullptr;
}

const std::vector<sim::Windows>& AllVersions() {
  static const std::vector<sim::Windows> versions = {
      sim::Windows::Win95, sim::Windows::Win98, sim::Windows::WinMe,
      sim::Windows::NT351, sim::Windows::NT40,  sim::Windows::Win2k,
      sim::Windows::WinXP, sim::Windows::Win7,  sim::Windows::Win10};
  return versions;
}

std::string HostFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

sim::RunResult RunCutBefore(size_t k, size_t /*callsOfWholeRun*/, void (*entry)()) {
  sim::ClearTrace();
  sim::ClearFaults();
  sim::StopBeforeCall(k);
  const sim::RunResult result = sim::Run(entry);
  sim::ClearFaults();
  return result;
}

void CutRunAgainAndRestart(size_t k, size_t callsOfWholeRun, void (*entry)()) {
  RunCutBefore(k, callsOfWholeRun, entry);
  sim::Restart();
  sim::Run(entry);
  sim::Restart();
}
