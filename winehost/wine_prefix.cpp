// The Wine host's prefixes: the template made once per build tree and each
// prefix copied from it, and where the Windows programs come from.
// Host files, sessions and runs, and the reads through the probe are in
// the other wine_prefix_*.cpp files.
#include "wine_prefix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "host_files.h"
#include "text.h"

namespace winehost {

namespace {

const char kTemplateMarker[] = "drvsetup-template.ok";

// Calls from these libraries are left out of relay logs: what a test wants
// to see are the calls made by the program under test, and without this a
// single message box produces hundreds of thousands of lines.
const char kRelayFromExclude[] =
    "winex11.drv;winemac.drv;user32;gdi32;advapi32;kernel32;kernelbase;ntdll;win32u;msvcrt;"
    "ucrtbase;comctl32;uxtheme;imm32;combase;ole32;oleaut32;rpcrt4;sechost;shell32;shlwapi;"
    "shcore;setupapi;msctf;dwmapi;explorer;winemenubuilder;psapi;version";

// Folders of test processes that were killed before they could clean up
// (their wineservers end on their own, see StartSession).
void RemoveStaleTestFolders() {
  const std::string tmp = TempDir();
  DIR* d = opendir(tmp.c_str());
  if (!d) return;
  std::vector<std::string> stale;
  const time_t now = time(nullptr);
  while (dirent* e = readdir(d)) {
    if (std::strncmp(e->d_name, "drvsetup-wine-", 14) != 0) continue;
    struct stat st;
    const std::string path = tmp + "/" + e->d_name;
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && now - st.st_mtime > 3 * 3600)
      stale.push_back(path);
  }
  closedir(d);
  for (const auto& path : stale) RemoveHostTree(path);
}

// The last lines of a log, on one line: where only the failure's own line
// is shown (a CI run), the log itself may be gone with its machine.
std::string LogEnd(const std::string& log) {
  std::string contents;
  ReadHostFile(log, &contents);
  std::vector<std::string> lines;
  for (const std::string& line : text::Lines(contents))
    if (!line.empty()) lines.push_back(line.substr(0, 200));
  std::string end;
  for (size_t i = lines.size() > 3 ? lines.size() - 3 : 0; i < lines.size(); ++i)
    end += (end.empty() ? "" : " | ") + lines[i];
  return end.empty() ? "nothing" : end;
}

// One template per Wine: a 32-bit prefix is not a 64-bit one.
std::string TemplatePath(WineArch arch) {
  const std::string base = FolderFromEnvironment("DRVSETUP_WINE_TEMPLATE", DRVSETUP_WINE_TEMPLATE);
  return arch == WineArch::k32 ? base + "-win32" : base;
}

// Makes the template prefix once per build tree. A lock file keeps parallel
// test processes from making it twice.
bool EnsureTemplate(WineArch arch, std::string* error) {
  static bool doneFor[2] = {false, false};
  static std::string failureFor[2];  // a failed attempt is not repeated by every test
  bool& done = doneFor[arch == WineArch::k32];
  std::string& failure = failureFor[arch == WineArch::k32];
  if (done) return true;
  if (!failure.empty()) {
    *error = failure;
    return false;
  }
  RemoveStaleTestFolders();
  const std::string tmpl = TemplatePath(arch);
  const std::string lockPath = tmpl + ".lock";
  int lock = open(lockPath.c_str(), O_RDWR | O_CREAT, 0644);
  if (lock < 0) {
    *error = "cannot open " + lockPath;
    return false;
  }
  while (flock(lock, LOCK_EX) < 0 && errno == EINTR) {
  }
  bool ok = PathExists(tmpl + "/" + kTemplateMarker);
  if (!ok) {
    const std::string building = tmpl + ".new";
    const std::string log = tmpl + ".log";
    unlink(log.c_str());
    RunLogged(PlainCommand({"rm", "-rf", building, tmpl}));
    auto wine = [&](const std::vector<std::string>& wineArgv) {
      return RunLogged(WineCommand(wineArgv, building, "-all", arch), log);
    };
    int rc = wine({"wineboot", "-i"});
    if (rc == 0)
      rc = wine({"wine", "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayFromExclude",
                 "/t", "REG_SZ", "/d", kRelayFromExclude, "/f"});
    wine({"wineserver", "-k"});
    wine({"wineserver", "-w"});
    if (rc == 0 && IsDirectory(building + "/drive_c/windows/system32") &&
        rename(building.c_str(), tmpl.c_str()) == 0) {
      ok = WriteHostFile(tmpl + "/" + kTemplateMarker, "made by wineboot -i\n");
    }
    if (!ok)
      *error = "could not make the template prefix " + tmpl + " (see " + log +
               "; it ends: " + LogEnd(log) + ")";
  }
  flock(lock, LOCK_UN);
  close(lock);
  done = ok;
  if (!ok) failure = *error;
  return ok;
}

}  // namespace

// ------------------------------------------------------------ availability

std::string ProgramsDir(WineArch arch) {
  if (arch == WineArch::k32) return FolderFromEnvironment("DRVSETUP_WIN32_DIR", DRVSETUP_WIN32_DIR);
  return FolderFromEnvironment("DRVSETUP_WIN64_DIR", DRVSETUP_WIN64_DIR);
}

std::string ProgramPath(const std::string& name, WineArch arch) {
  return ProgramsDir(arch) + "/" + name;
}

bool ProgramsBuilt(std::string* missing, WineArch arch) {
  missing->clear();
  for (const char* p : {"drvsetup.exe", "drvremove.exe", "probe.exe", "standin.exe", "empty.exe",
                        "empty_imports.exe"}) {
    if (access(ProgramPath(p, arch).c_str(), R_OK) != 0) {
      if (!missing->empty()) *missing += ", ";
      *missing += p;
    }
  }
  return missing->empty();
}

const std::vector<std::string>& WindowsVersions() {
  static const std::vector<std::string> names = {"win95", "win98", "winme", "nt351", "nt40",
                                                 "win2k", "winxp", "win7",  "win10"};
  return names;
}

bool NineXVersion(const std::string& name) {
  return name == "win95" || name == "win98" || name == "winme";
}

// ------------------------------------------------------------ the prefix

WinePrefix::WinePrefix(WineArch arch) : arch_(arch) {
  if (!EnsureTemplate(arch_, &error_)) return;
  std::string pattern = TempDir() + "/drvsetup-wine-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) {
    error_ = "mkdtemp failed";
    return;
  }
  root_ = buf.data();
  prefix_ = root_ + "/prefix";
  if (RunLogged(PlainCommand({"cp", "-a", TemplatePath(arch_), prefix_})) != 0 ||
      !IsDirectory(prefix_ + "/drive_c/windows")) {
    error_ = "could not copy the template prefix " + TemplatePath(arch_);
    return;
  }
  unlink((prefix_ + "/" + kTemplateMarker).c_str());
  // The probe runs from the test's own folder (drive Z:), outside C:.
  MakeHostFolders(root_ + "/bin");
  if (RunLogged(PlainCommand({"cp", ProgramPath("probe.exe", arch_), root_ + "/bin/probe.exe"})) !=
      0) {
    error_ = "could not copy probe.exe";
    return;
  }
  ready_ = true;
}

WinePrefix::~WinePrefix() {
  if (root_.empty()) return;
  if (!holdEvent_.empty()) Release();
  EndSession();
  RemoveHostTree(root_);
}

std::string WinePrefix::NextFile(const std::string& stem) {
  return root_ + "/" + stem + "-" + std::to_string(++counter_);
}

std::vector<std::string> WinePrefix::TakeProblems() {
  std::vector<std::string> out;
  out.swap(problems_);
  return out;
}

}  // namespace winehost
