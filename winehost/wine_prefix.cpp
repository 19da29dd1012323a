// The Wine host: prefixes, sessions, runs and the state read back.
#include "wine_prefix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "host_files.h"

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

std::string WinFolderOf(const std::string& winPath) {
  size_t cut = winPath.find_last_of('\\');
  return cut == std::string::npos ? std::string() : winPath.substr(0, cut);
}

// Decodes %HH escapes of probe.exe's output.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::strtoul(s.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The Wine registry files double every backslash of key names and texts.
std::string RegFileEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

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

// One template per Wine: a 32-bit prefix is not a 64-bit one.
std::string TemplatePath(WineArch arch) {
  const std::string base = FolderFromEnvironment("DRVSETUP_WINE_TEMPLATE", DRVSETUP_WINE_TEMPLATE);
  return arch == WineArch::k32 ? base + "-win32" : base;
}

// A guard against a hang only; emulated 32-bit Wine starts far slower.
int TimeLimit(WineArch arch, int seconds) { return arch == WineArch::k32 ? 3 * seconds : seconds; }

size_t emulatorRetries = 0;
const int kEmulatorRetriesPerRun = 2;

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
    if (!ok) *error = "could not make the template prefix " + tmpl + " (see " + log + ")";
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

size_t EmulatorRetries() { return emulatorRetries; }

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

pid_t WinePrefix::Spawn(const std::vector<std::string>& wineArgv, const std::string& cwd,
                        const std::string& outFile) {
  ProcessIo io;
  io.cwd = cwd;
  io.out = io.err = outFile;
  io.ownGroup = true;
  return StartProcess(WineCommand(wineArgv, prefix_, "-all", arch_), io);
}

RunResult WinePrefix::Exec(const std::vector<std::string>& wineArgv, const std::string& cwd,
                           const std::string& winedebug, int timeoutSeconds) {
  for (int attempt = 0;; ++attempt) {
    RunResult r = RunProcess(WineCommand(wineArgv, prefix_, winedebug, arch_), cwd, NextFile("out"),
                             NextFile("err"), TimeLimit(arch_, timeoutSeconds));
    if (arch_ != WineArch::k32 || attempt == kEmulatorRetriesPerRun || !EmulatorCrashed(r))
      return r;
    ++emulatorRetries;
  }
}

std::vector<std::string> WinePrefix::TakeProblems() {
  std::vector<std::string> out;
  out.swap(problems_);
  return out;
}

bool WinePrefix::AppendRegistry(const std::string& file, const std::string& text) {
  if (sessionLive_) {
    Problem("the registry files of " + prefix_ + " can only be edited while no session runs");
    return false;
  }
  std::ofstream out(prefix_ + "/" + file, std::ios::binary | std::ios::app);
  out << "\n" << text;
  return static_cast<bool>(out.flush());
}

bool WinePrefix::SetVersion(const std::string& name) {
  if (sessionLive_) return SetString("HKCU\\Software\\Wine", "Version", name);
  return AppendRegistry("user.reg", "[" + RegFileEscape("Software\\Wine") + "] 0\n\"Version\"=\"" +
                                        RegFileEscape(name) + "\"\n");
}

bool WinePrefix::RegistrySection(const std::string& key, std::string* file, std::string* header) {
  size_t cut = key.find('\\');
  std::string root = key.substr(0, cut), path = cut == std::string::npos ? "" : key.substr(cut + 1);
  if (EqualNoCase(root, "HKLM") || EqualNoCase(root, "HKEY_LOCAL_MACHINE")) {
    *file = "system.reg";
  } else if (EqualNoCase(root, "HKCU") || EqualNoCase(root, "HKEY_CURRENT_USER")) {
    *file = "user.reg";
  } else {
    Problem("only HKLM and HKCU keys can be preset: " + key);
    return false;
  }
  *header = "[" + RegFileEscape(path) + "] 0\n";
  return !path.empty();
}

bool WinePrefix::PresetKey(const std::string& key) {
  std::string file, header;
  return RegistrySection(key, &file, &header) && AppendRegistry(file, header);
}

bool WinePrefix::PresetValue(const std::string& key, const std::string& name, uint32_t type,
                             const std::string& data) {
  std::string file, header;
  if (!RegistrySection(key, &file, &header)) return false;
  std::string line = name.empty() ? "@=" : "\"" + RegFileEscape(name) + "\"=";
  if (type == kRegDword && data.size() == 4) {
    char buf[16];
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(data[i]);
    std::snprintf(buf, sizeof buf, "dword:%08x", v);
    line += buf;
  } else {
    // Wine keeps text values in UTF-16: widen the 8-bit text types.
    const bool text = type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
    std::string bytes;
    for (char c : data) {
      bytes += c;
      if (text) bytes += '\0';
    }
    line += type == kRegBinary ? "hex:" : "hex(" + std::to_string(type) + "):";
    std::string hex = text::HexBytes(bytes);
    for (size_t i = 0; i < hex.size(); i += 2) {
      if (i) line += ',';
      line += hex.substr(i, 2);
    }
  }
  return AppendRegistry(file, header + line + "\n");
}

std::string WinePrefix::AddDrive(char letter, const std::string& type,
                                 const std::string& hostFolder) {
  const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  std::string folder = hostFolder.empty() ? root_ + "/drive-" + std::string(1, l) : hostFolder;
  const std::string link = prefix_ + "/dosdevices/" + std::string(1, l) + ":";
  if (!MakeHostFolders(folder)) return std::string();
  unlink(link.c_str());
  if (symlink(folder.c_str(), link.c_str()) != 0) return std::string();
  if (!AppendRegistry("system.reg", "[" + RegFileEscape("Software\\Wine\\Drives") + "] 0\n\"" +
                                        std::string(1, l) + ":\"=\"" + type + "\"\n"))
    return std::string();
  return folder;
}

std::string WinePrefix::HostPath(const std::string& winPathIn) const {
  std::string winPath = winPathIn;
  if (winPath.compare(0, 4, "\\??\\") == 0) winPath = winPath.substr(4);
  if (winPath.size() < 2 || winPath[1] != ':' ||
      !std::isalpha(static_cast<unsigned char>(winPath[0])))
    return std::string();
  std::string host =
      prefix_ + "/dosdevices/" +
      std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(winPath[0])))) + ":";
  std::stringstream parts(winPath.substr(2));
  std::string part;
  bool exists = true;
  while (std::getline(parts, part, '\\')) {
    if (part.empty() || part == ".") continue;
    std::string next = host + "/" + part;
    if (exists && !PathExists(next)) {
      // Windows ignores case; find the entry as it is spelt on disk.
      std::string found;
      if (DIR* d = opendir(host.c_str())) {
        while (dirent* e = readdir(d)) {
          if (strcasecmp(e->d_name, part.c_str()) == 0) {
            found = e->d_name;
            break;
          }
        }
        closedir(d);
      }
      if (!found.empty()) {
        next = host + "/" + found;
      } else {
        exists = false;
      }
    }
    host = next;
  }
  return host;
}

bool WinePrefix::PutFile(const std::string& winPath, const std::string& data) {
  std::string host = HostPath(winPath);
  if (host.empty()) return false;
  size_t cut = host.find_last_of('/');
  return MakeHostFolders(host.substr(0, cut)) && WriteHostFile(host, data);
}

bool WinePrefix::MakeFolder(const std::string& winPath) {
  std::string host = HostPath(winPath);
  return !host.empty() && MakeHostFolders(host);
}

bool WinePrefix::ReadFile(const std::string& winPath, std::string* data) const {
  std::string host = HostPath(winPath);
  return !host.empty() && !IsDirectory(host) && ReadHostFile(host, data);
}

std::string WinePrefix::FileText(const std::string& winPath) const {
  std::string data;
  return ReadFile(winPath, &data) ? data : std::string();
}

bool WinePrefix::Exists(const std::string& winPath) const {
  std::string host = HostPath(winPath);
  return !host.empty() && PathExists(host);
}

bool WinePrefix::Remove(const std::string& winPath) {
  std::string host = HostPath(winPath);
  if (host.empty()) return false;
  return IsDirectory(host) ? rmdir(host.c_str()) == 0 : unlink(host.c_str()) == 0;
}

bool WinePrefix::PlaceProgram(const std::string& program, const std::string& winPath) {
  std::string data;
  return ReadHostFile(ProgramPath(program, arch_), &data) && PutFile(winPath, data);
}

bool WinePrefix::MakeReadOnly(const std::string& winPath) {
  struct stat st;
  std::string host = HostPath(winPath);
  return stat(host.c_str(), &st) == 0 && chmod(host.c_str(), st.st_mode & ~0222) == 0;
}

bool WinePrefix::MakeImmutable(const std::string& winPath) {
  return SetImmutable(HostPath(winPath), true);
}

bool WinePrefix::ReleaseImmutable(const std::string& winPath) {
  return SetImmutable(HostPath(winPath), false);
}

bool WinePrefix::Writable(const std::string& winPath) const {
  struct stat st;
  return stat(HostPath(winPath).c_str(), &st) == 0 && (st.st_mode & 0222) != 0;
}

bool WinePrefix::PlaceInstaller(const std::string& folder) {
  return PlaceProgram("drvsetup.exe", folder + "\\drvsetup.exe") &&
         PlaceProgram("drvremove.exe", folder + "\\drvremove.exe");
}

RunResult WinePrefix::RunInstaller(const std::vector<std::string>& args) {
  return Run(std::string(kSourceFolder) + "\\drvsetup.exe", args);
}

RunResult WinePrefix::RunInstallerTraced(const std::vector<std::string>& args, RelayTrace* trace) {
  return RunTraced(std::string(kSourceFolder) + "\\drvsetup.exe", args, trace);
}

RunResult WinePrefix::RunRemover() {
  return Run(std::string(kSourceFolder) + "\\drvremove.exe", {});
}

RunResult WinePrefix::RunRemoverTraced(RelayTrace* trace) {
  return RunTraced(std::string(kSourceFolder) + "\\drvremove.exe", {}, trace);
}

bool WinePrefix::EnsureSession() { return sessionLive_ || StartSession(); }

bool WinePrefix::StartSession() {
  if (!ready_) return false;
  if (sessionLive_) return true;
  // Persistent, so that the session outlives the gaps between programs;
  // the server still ends 5 minutes after the last program should the test
  // process die without EndSession.
  RunResult server = Exec({"wineserver", "-p300"}, root_, "-all");
  if (server.exitCode != 0) {
    Problem("wineserver -p failed: " + server.err);
    return false;
  }
  sessionLive_ = true;
  // The first program brings up the session's own processes (services,
  // explorer, ...) and performs what a restart performs.
  RunResult first = Exec({"wine", ProbePath(), "version"}, root_, "-all");
  if (first.exitCode != 0) {
    Problem("the session of " + prefix_ + " did not start: " + first.err);
    return false;
  }
  return true;
}

void WinePrefix::EndSession() {
  Exec({"wineserver", "-k"}, root_, "-all", 60);
  Exec({"wineserver", "-w"}, root_, "-all", 60);
  for (auto& b : background_) {
    int status;
    for (int i = 0; i < 500 && waitpid(b.pid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(-b.pid, SIGKILL);
    waitpid(b.pid, &status, WNOHANG);
  }
  background_.clear();
  sessionLive_ = false;
}

bool WinePrefix::Restart() {
  if (!EnsureSession()) return false;
  RunResult r = Exec({"wine", "wineboot", "-r"}, root_, "-all");
  return r.exitCode == 0;
}

std::string WinePrefix::ProbePath() { return root_ + "/bin/probe.exe"; }

RunResult WinePrefix::Run(const std::string& winExe, const std::vector<std::string>& args) {
  if (!EnsureSession()) return RunResult();
  std::vector<std::string> argv = {"wine", winExe};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string cwd = HostPath(WinFolderOf(winExe));
  return Exec(argv, IsDirectory(cwd) ? cwd : root_, "-all");
}

RunResult WinePrefix::RunTraced(const std::string& winExe, const std::vector<std::string>& args,
                                RelayTrace* trace) {
  if (!EnsureSession()) return RunResult();
  std::vector<std::string> argv = {"wine", winExe};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string cwd = HostPath(WinFolderOf(winExe));
  RunResult r = Exec(argv, IsDirectory(cwd) ? cwd : root_, "+pid,+loaddll,+relay");
  *trace = ParseRelayLog(r.err, WinBasename(winExe), PeImageSize(HostPath(winExe)));
  return r;
}

RunResult WinePrefix::Launch(const std::string& commandLine, const std::string& winedebug) {
  if (!EnsureSession()) return RunResult();
  const std::string file = NextFile("cmdline");
  WriteHostFile(file, commandLine);
  std::string winFile = "Z:" + file;
  for (char& c : winFile)
    if (c == '/') c = '\\';
  std::string cwd = HostPath(kSourceFolder);
  RunResult r =
      Exec({"wine", ProbePath(), "launch", winFile}, IsDirectory(cwd) ? cwd : root_, winedebug);
  unlink(file.c_str());
  // probe.exe passes the exit code on in full in its output.
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.compare(0, 2, "X\t") == 0) r.exitCode = static_cast<int>(std::stoul(line.substr(2)));
  }
  return r;
}

RunResult WinePrefix::RunCommandLine(const std::string& commandLine) {
  return Launch(commandLine, "-all");
}

RunResult WinePrefix::RunCommandLineTraced(const std::string& commandLine,
                                           const std::string& winExe, RelayTrace* trace) {
  RunResult r = Launch(commandLine, "+pid,+loaddll,+relay");
  *trace = ParseRelayLog(r.err, WinBasename(winExe), PeImageSize(HostPath(winExe)));
  return r;
}

bool WinePrefix::StartBackground(const std::string& winExe, const std::vector<std::string>& args) {
  if (!EnsureSession()) return false;
  std::vector<std::string> argv = {"wine", winExe};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string cwd = HostPath(WinFolderOf(winExe));
  const std::string out = NextFile("background");
  pid_t pid = Spawn(argv, IsDirectory(cwd) ? cwd : root_, out);
  if (pid < 0) return false;
  background_.push_back({pid, out});
  const std::string name = WinBasename(winExe);
  for (int attempt = 0; attempt < 300; ++attempt) {
    for (const auto& p : Processes())
      if (EqualNoCase(p, name)) return true;
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) return false;  // it ended
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

bool WinePrefix::Hold(const std::string& winPath) {
  if (!EnsureSession() || !holdEvent_.empty()) return false;
  holdEvent_ = "drvsetup-test-hold-" + std::to_string(++counter_);
  const std::string out = NextFile("hold");
  pid_t pid = Spawn({"wine", ProbePath(), "hold", winPath, holdEvent_}, root_, out);
  if (pid < 0) return false;
  background_.push_back({pid, out});
  for (int attempt = 0; attempt < 600; ++attempt) {
    std::string text;
    ReadHostFile(out, &text);
    if (text.find("H\r\n") != std::string::npos || text.find("H\n") != std::string::npos)
      return true;
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  holdEvent_.clear();
  return false;
}

void WinePrefix::Release() {
  if (holdEvent_.empty()) return;
  Probe({"signal", holdEvent_});
  holdEvent_.clear();
}

RunResult WinePrefix::Probe(const std::vector<std::string>& args,
                            std::vector<std::vector<std::string>>* records) {
  if (!EnsureSession()) return RunResult();
  std::vector<std::string> argv = {"wine", ProbePath()};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = Exec(argv, root_, "-all");
  if (records) {
    records->clear();
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      std::vector<std::string> fields;
      size_t start = 0;
      for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(Unescape(line.substr(start, tab - start)));
        if (tab == std::string::npos) break;
        start = tab + 1;
      }
      records->push_back(fields);
    }
  }
  return r;
}

RegTree WinePrefix::DumpKey(const std::string& key) {
  RegTree tree;
  std::vector<std::vector<std::string>> records;
  RunResult r = Probe({"regdump", key}, &records);
  if (r.exitCode != 0) {
    if (r.exitCode != 2) Problem("probe regdump " + key + " failed: " + r.out);
    return tree;
  }
  tree.exists = true;
  for (const auto& rec : records) {
    if (rec.size() == 2 && rec[0] == "K") {
      tree.keys.push_back(rec[1]);
      tree.values[rec[1]];
    } else if (rec.size() == 6 && rec[0] == "V") {
      RegValue v;
      v.type = static_cast<uint32_t>(std::stoul(rec[3]));
      v.data = FromHex(rec[5]);
      tree.values[rec[1]][rec[2]] = v;
    }
  }
  return tree;
}

bool WinePrefix::SetValue(const std::string& key, const std::string& name, uint32_t type,
                          const std::string& data) {
  RunResult r = Probe({"regset", key, name, std::to_string(type), text::HexBytes(data)});
  return r.exitCode == 0;
}

bool WinePrefix::DeleteKey(const std::string& key) {
  return Probe({"regdelete", key}).exitCode == 0;
}

std::vector<PendingRename> WinePrefix::PendingRenames() {
  std::vector<PendingRename> out;
  std::vector<std::vector<std::string>> records;
  RunResult r = Probe({"pending"}, &records);
  if (r.exitCode != 0) Problem("probe pending failed: " + r.out);
  for (const auto& rec : records) {
    if (rec.size() != 3 || rec[0] != "R") continue;
    PendingRename p;
    p.from = rec[1];
    p.to = rec[2];
    if (!p.to.empty() && p.to[0] == '!') {
      p.replace = true;
      p.to = p.to.substr(1);
    }
    out.push_back(p);
  }
  return out;
}

KeySecurity WinePrefix::KeySecurityOf(const std::string& objectName) {
  KeySecurity s;
  std::vector<std::vector<std::string>> records;
  RunResult r = Probe({"sddl", objectName}, &records);
  s.ok = r.exitCode == 0;
  for (const auto& rec : records) {
    if (rec.size() == 2 && rec[0] == "C")
      s.control = static_cast<uint16_t>(std::stoul(rec[1], nullptr, 16));
    if (rec.size() == 2 && rec[0] == "S") s.sddl = rec[1];
  }
  return s;
}

uint32_t WinePrefix::Attributes(const std::string& winPath) {
  std::vector<std::vector<std::string>> records;
  Probe({"attrs", winPath}, &records);
  for (const auto& rec : records)
    if (rec.size() == 2 && rec[0] == "A")
      return static_cast<uint32_t>(std::stoul(rec[1], nullptr, 16));
  return 0xFFFFFFFFu;
}

bool WinePrefix::SetAttributes(const std::string& winPath, uint32_t attributes) {
  return Probe({"setattrs", winPath, std::to_string(attributes)}).exitCode == 0;
}

std::vector<FileEntry> WinePrefix::Files(const std::string& winFolder) {
  std::vector<FileEntry> out;
  std::vector<std::vector<std::string>> records;
  Probe({"files", winFolder}, &records);
  for (const auto& rec : records) {
    if (rec.size() == 3 && rec[0] == "D") {
      FileEntry e;
      e.path = rec[1];
      e.attributes = static_cast<uint32_t>(std::stoul(rec[2], nullptr, 16));
      e.folder = true;
      out.push_back(e);
    } else if (rec.size() == 4 && rec[0] == "F") {
      FileEntry e;
      e.path = rec[1];
      e.attributes = static_cast<uint32_t>(std::stoul(rec[2], nullptr, 16));
      e.size = std::stoull(rec[3]);
      out.push_back(e);
    }
  }
  return out;
}

std::vector<std::string> WinePrefix::Processes() {
  std::vector<std::string> out;
  std::vector<std::vector<std::string>> records;
  Probe({"procs"}, &records);
  for (const auto& rec : records)
    if (rec.size() == 3 && rec[0] == "P") out.push_back(rec[2]);
  return out;
}

VersionInfo WinePrefix::Version() {
  VersionInfo v;
  std::vector<std::vector<std::string>> records;
  Probe({"version"}, &records);
  for (const auto& rec : records) {
    if (rec.size() == 5 && rec[0] == "V") {
      v.platform = static_cast<uint32_t>(std::stoul(rec[1]));
      v.major = static_cast<uint32_t>(std::stoul(rec[2]));
      v.minor = static_cast<uint32_t>(std::stoul(rec[3]));
      v.build = static_cast<uint32_t>(std::stoul(rec[4]));
    }
  }
  return v;
}

unsigned WinePrefix::DriveType(const std::string& root) {
  std::vector<std::vector<std::string>> records;
  Probe({"drivetype", root}, &records);
  for (const auto& rec : records)
    if (rec.size() == 2 && rec[0] == "T") return static_cast<unsigned>(std::stoul(rec[1]));
  return 0xFFFFFFFFu;
}

unsigned long WinePrefix::CopyFile(const std::string& from, const std::string& to) {
  std::vector<std::vector<std::string>> records;
  RunResult r = Probe({"copy", from, to}, &records);
  if (r.exitCode == 0) return 0;
  for (const auto& rec : records)
    if (rec.size() == 2 && rec[0] == "E") return std::stoul(rec[1]);
  return 0xFFFFFFFFul;
}

}  // namespace winehost