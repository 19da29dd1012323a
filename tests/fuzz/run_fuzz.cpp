// The whole installer on arbitrary simulated machines: any version, an
// arbitrary engine settings tree, an arbitrary [386Enh] section, any set of
// package files and targets (missing, read-only, locked, old, folders in
// their place), missing folders, unwritable INI files, drives, a running
// host application and any command line.
//
// Whatever the machine, the run ends the process with exit code 0, or 1
// after a refused INI write on the 9x family; it releases everything it
// obtained and shows only the installer's own boxes; it removes the engine
// settings when it tried to, and it loses no line of SYSTEM.INI.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "harness.h"
#include "outcome.h"
#include "sim.h"
#include "text.h"

namespace {

const char kSource[] = "C:\\SETUP\\";
const char kEngine[] = "Software\\Miravelt\\Engine";

// Targets, relative to the system folder ("S") or the windows folder ("W").
const char* const kTargets[] = {
    "S\\ZOLTAVEX.VXD",        "S\\ZOLTAV16.DLL",       "W\\INF\\ZOLTAVEX.INF",
    "S\\ZOLTAVEX.DL",         "S\\ZOLTAVEX.EX",        "S\\DRIVERS\\ZOLTAVEX.SYS",
    "S\\WNASPI32.DLL",        "S\\WNASPI32.9x",        "S\\ASPIENUM.VXD",
    "S\\DRIVERS\\ASPI32.SYS", "W\\SYSTEM\\WINASPI.NT", "W\\INF\\KOVA51USB.INF",
    "W\\INF\\DQ_USB.INF",     "S\\FTD2XX.DLL",         "S\\FTD2XXUN.EXE",
    "S\\DRIVERS\\FTD2XX.SYS"};

const char* const kFolders[] = {"W\\INF", "S\\DRIVERS", "S\\IOSUBSYS", "W\\SYSTEM",
                                "W\\SYSTEM32\\DRIVERS"};

const char* const kSectionLines[] = {
    "device=zoltavex.vxd",   ";evice=zoltavex.vxd",  "DEVICE=zoltavex.vxd",  "device=ZOLTAVEX.VXD",
    "device = zoltavex.vxd", "device=zoltavex.vxd ", "device=zoltavex.vxdx", "device=*vcd",
    "ebios=*ebios",          "keyboard=*vkd",        "; a comment",          "no equals sign"};

const char* const kKeyNames[] = {"A", "a", "Sub", "Zeta", "0000", "Midi", "x y", "\xe4\xf6"};

const char* const kHostNames[] = {"C:\\Orvo\\ORVO.EXE", "C:\\Orvo\\orvoplay.exe", "ORVOCLUB.EXE",
                                  "C:\\Orvo\\ORVO.EXE.OLD", "C:\\Orvo\\\xd6RVO.EXE"};

std::string Target(const std::string& relative) {
  return (relative[0] == 'S' ? sim::SystemFolder() : sim::WindowsFolder()) + relative.substr(1);
}

std::string KeyName(fuzz::Input& in) {
  const size_t choice = in.Below(12);
  if (choice < sizeof kKeyNames / sizeof kKeyNames[0]) return kKeyNames[choice];
  std::string name = in.Text(40, "\\");
  return name.empty() ? "k" : name;
}

void BuildEngineTree(fuzz::Input& in) {
  const size_t keys = in.Below(10);
  for (size_t i = 0; i < keys; ++i) {
    std::string path = kEngine;
    const size_t depth = 1 + in.Below(6);
    for (size_t d = 0; d < depth; ++d) path += "\\" + KeyName(in);
    switch (in.Below(4)) {
      case 0:
        sim::RegPutKey(HKEY_CURRENT_USER, path);
        break;
      case 1:
        sim::RegPutString(HKEY_CURRENT_USER, path, KeyName(in), in.Text(20, std::string()));
        break;
      case 2:
        sim::RegPutDword(HKEY_CURRENT_USER, path, KeyName(in), in.Byte());
        break;
      default:
        sim::RegPut(HKEY_CURRENT_USER, path, in.Flag() ? std::string() : KeyName(in), in.Below(12),
                    in.Bytes(24));
    }
  }
  if (in.Below(4) == 0) sim::RegRemoveKey(HKEY_CURRENT_USER, kEngine);
}

std::string BuildSystemIni(fuzz::Input& in) {
  std::string text = "[boot]\r\nshell=Explorer.exe\r\ndevice=zoltavex.vxd\r\n\r\n[386Enh]\r\n";
  const size_t lines = in.Below(16);
  for (size_t i = 0; i < lines; ++i) {
    const size_t choice = in.Below(16);
    std::string line = choice < sizeof kSectionLines / sizeof kSectionLines[0]
                           ? kSectionLines[choice]
                           : in.Text(60, "\r\n[");
    // Now and then a section too large for the first buffer.
    const size_t repeat = in.Below(32) == 0 ? 400 : 1;
    for (size_t r = 0; r < repeat; ++r) text += line + "\r\n";
  }
  if (in.Flag()) text += "\r\n[vcache]\r\nMinFileCache=512\r\n";
  return text;
}

void BuildFiles(fuzz::Input& in) {
  for (const std::string& name : PackageFiles()) {
    const std::string path = std::string(kSource) + name;
    switch (in.Below(8)) {
      case 5:
        break;  // missing
      case 6:
        sim::PutFile(path, name, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        break;
      case 7:  // written in 1979: not a file to the installer
        sim::PutFile(path, name, FILE_ATTRIBUTE_ARCHIVE, sim::FileTimeOf(1979, 12, 31, 12));
        break;
      default:
        sim::PutFile(path, name);
    }
  }
  for (const char* relative : kFolders) {
    if (in.Below(6) == 0) sim::Remove(Target(relative));
  }
  for (const char* relative : kTargets) {
    const std::string path = Target(relative);
    switch (in.Below(12)) {
      case 8:
        sim::PutFile(path, "old", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        break;
      case 9:
        sim::PutFile(path, "old", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        break;
      case 10:
        sim::PutFile(path, "old");
        sim::SetLocked(path, true);
        break;
      case 11:
        sim::MakeFolder(path);
        break;
      default:
        break;
    }
  }
}

void BuildIniFiles(fuzz::Input& in) {
  const std::string windows = sim::WindowsFolder();
  if (in.Flag()) sim::PutIni(windows + "\\SYSTEM.INI", BuildSystemIni(in));
  switch (in.Below(8)) {
    case 0:
      sim::MakeFolder(windows + "\\Wininit.ini");
      break;
    case 1:
      sim::PutIni(windows + "\\WININIT.INI", "[RENAME]\r\nNUL=C:\\OLD.TMP\r\n");
      break;
    case 2:
      sim::PutIni(windows + "\\WININIT.INI", "[rename]\r\n");
      sim::SetAttributes(windows + "\\WININIT.INI", FILE_ATTRIBUTE_READONLY);
      break;
    default:
      break;
  }
  if (in.Below(16) == 0) sim::SetAttributes(windows + "\\SYSTEM.INI", FILE_ATTRIBUTE_READONLY);
}

void BuildDrives(fuzz::Input& in) {
  for (char letter = 'D'; letter <= 'G'; ++letter) {
    const UINT type = static_cast<UINT>(in.Below(7));
    if (type == DRIVE_NO_ROOT_DIR) continue;
    sim::SetDrive(letter, type, in.Below(4) != 0);
    const std::string root = std::string(1, letter) + ":\\";
    if (in.Flag()) sim::PutFile(root + "OEM\\ORVOOEM.DLL", "oem");
    if (in.Flag()) sim::PutFile(root + "DATA\\DOC\\Manual-de.pdf", "de");
    if (in.Flag()) sim::PutFile(root + "DATA\\DOC\\Manual-en.pdf", "en");
  }
}

std::string Arguments(fuzz::Input& in) {
  switch (in.Below(4)) {
    case 0:
      return std::string();
    case 1:
      sim::PutFile("C:\\Program Files\\Orvo\\HISTORY.TXT", "notes");
      return "\"C:\\Program Files\\Orvo\" Manual";
    case 2:
      return "C:\\Orvo";
    default:
      return in.Text(80, std::string());
  }
}

struct IniLine {
  std::string section;  // upper-cased, "" before the first header
  std::string raw;      // as it stands, without its line end
  std::string text;     // without the blanks around it
};

// The non-blank lines of an INI text.
std::vector<IniLine> IniLines(const std::string& text) {
  std::vector<IniLine> out;
  std::istringstream in(text);
  std::string line, section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t b = line.find_first_not_of(" \t\r\v");
    if (b == std::string::npos) continue;
    const size_t e = line.find_last_not_of(" \t\r\v");
    const std::string trimmed = line.substr(b, e - b + 1);
    if (trimmed[0] == '[') {
      const size_t close = trimmed.find(']');
      section = text::Upper(
          trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      const size_t sb = section.find_first_not_of(' ');
      section = sb == std::string::npos ? std::string() : section.substr(sb);
      while (!section.empty() && section.back() == ' ') section.pop_back();
    }
    out.push_back({section, line, trimmed});
  }
  return out;
}

bool IsCacheLine(const std::string& line) {
  std::string key = text::Upper(line.substr(0, line.find('=')));
  while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
  return key == "MINFILECACHE" || key == "MAXFILECACHE";
}

// Every line of SYSTEM.INI before the run is still there after it; the
// driver's device lines in [386Enh] are there as comments. Only the file
// cache lines may change.
void CheckNoLineLost(const std::string& before, const std::string& after) {
  std::map<std::string, int> remaining;
  for (const IniLine& line : IniLines(after)) ++remaining[line.text];
  for (const IniLine& line : IniLines(before)) {
    if (IsCacheLine(line.text)) continue;
    std::string expected = line.text;
    // Only an entry that is exactly the device entry becomes a comment.
    if (line.section == "386ENH" && line.raw == "device=zoltavex.vxd") expected[0] = ';';
    if (remaining[expected]-- <= 0) fuzz::Broken("SYSTEM.INI lost the line \"" + expected + "\"");
  }
}

bool Called(const std::vector<sim::Call>& trace, const std::string& function,
            const std::string& args, std::string* result = nullptr) {
  for (const sim::Call& call : trace) {
    if (call.function == function && call.args.compare(0, args.size(), args) == 0) {
      if (result) *result = call.result;
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const sim::Windows version = AllVersions()[in.Below(AllVersions().size())];
  ResetMachine(version);
  const bool versionFails = in.Below(16) == 0;
  sim::SetVersionFails(versionFails);
  if (in.Below(8) == 0) sim::SetDbcs(true, "\x81-\x9f\xe0-\xfc");

  BuildEngineTree(in);
  BuildFiles(in);
  BuildIniFiles(in);
  BuildDrives(in);
  if (in.Below(6) == 0) {
    sim::ProcessSpec host;
    host.pid = 4242;
    host.imagePath = kHostNames[in.Below(sizeof kHostNames / sizeof kHostNames[0])];
    host.openable = in.Below(4) != 0;
    sim::AddProcess(host);
  }
  const std::string arguments = Arguments(in);
  const std::string systemIni = sim::WindowsFolder() + "\\SYSTEM.INI";
  const std::string iniBefore = sim::IniText(systemIni);

  sim::ClearTrace();
  const sim::RunResult result = RunInstaller(arguments);
  const std::vector<sim::Call> trace = sim::Trace();

  prove::Expectation expected;
  expected.nineX = sim::Is9x(version) && !versionFails;
  for (const sim::Call& call : trace) {
    const std::string file = prove::FatalIniFile(call);
    if (!file.empty() && call.result == "0") {
      expected.refusedFatalIni = file;
      break;
    }
  }
  // DRVSETUP_FUZZ_VERBOSE=1 shows what one input did.
  if (std::getenv("DRVSETUP_FUZZ_VERBOSE")) {
    std::fprintf(stderr, "version %s, arguments [%s], exit %u\n--- SYSTEM.INI before\n%s\n",
                 sim::WindowsName(version), arguments.c_str(), result.exitCode, iniBefore.c_str());
    std::fprintf(stderr, "--- SYSTEM.INI after\n%s\n--- trace\n%s\n",
                 sim::IniText(systemIni).c_str(), sim::TraceText().c_str());
  }
  const prove::Verdict verdict = prove::Judge(result, expected);
  if (verdict.leak || verdict.wrong) fuzz::Broken(verdict.why);

  // The engine settings are gone once the run has removed them.
  std::string deleted;
  if (Called(trace, "RegDeleteKeyA", "HKEY_CURRENT_USER, \"Software\\\\Miravelt\\\\Engine\\\\\"") &&
      sim::RegKeyExists(HKEY_CURRENT_USER, kEngine)) {
    fuzz::Broken("the engine settings key is still there after its removal");
  }

  // SYSTEM.INI: written back whole only when it was read whole.
  std::string written;
  if (Called(trace, "WritePrivateProfileSectionA", "\"386Enh\"", &written) && written != "0")
    CheckNoLineLost(iniBefore, sim::IniText(systemIni));

  // A 9x run that got past the guard leaves the file cache limits in place.
  bool guardStopped = false;
  for (const sim::Box& box : sim::Boxes()) guardStopped = guardStopped || box.text == kGuardMessage;
  if (expected.nineX && result.exitCode == 0 && !guardStopped) {
    std::string min, max;
    if (!sim::IniValue(systemIni, "VCache", "MinFileCache", &min) || min != "20480" ||
        !sim::IniValue(systemIni, "VCache", "MaxFileCache", &max) || max != "20480")
      fuzz::Broken("the file cache limits are not 20480");
  }
  return 0;
}
