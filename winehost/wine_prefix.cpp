// Wine test helper: prefixes, sessions, runs and the state read back.
#include "wine_prefix.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
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

extern char** environ;

namespace winetest {

namespace {

const char kTemplateMarker[] = "drvsetup-template.ok";

// Calls from these libraries are left out of relay logs: what a test wants
// to see are the calls made by the program under test, and without this a
// single message box produces hundreds of thousands of lines.
const char kRelayFromExclude[] =
    "winex11.drv;winemac.drv;user32;gdi32;advapi32;kernel32;kernelbase;ntdll;win32u;msvcrt;"
    "ucrtbase;comctl32;uxtheme;imm32;combase;ole32;oleaut32;rpcrt4;sechost;shell32;shlwapi;"
    "shcore;setupapi;msctf;dwmapi;explorer;winemenubuilder;psapi;version";

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool ReadHostFile(const std::string& path, std::string* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *data = s.str();
  return true;
}

bool WriteHostFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << data;
  return static_cast<bool>(out.flush());
}

bool MakeHostFolders(const std::string& path) {
  if (path.empty() || IsDirectory(path)) return true;
  size_t cut = path.find_last_of('/');
  if (cut != std::string::npos && cut > 0 && !MakeHostFolders(path.substr(0, cut))) return false;
  return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string Basename(const std::string& winPath) {
  size_t cut = winPath.find_last_of("\\/:");
  return cut == std::string::npos ? winPath : winPath.substr(cut + 1);
}

std::string WinFolderOf(const std::string& winPath) {
  size_t cut = winPath.find_last_of('\\');
  return cut == std::string::npos ? std::string() : winPath.substr(0, cut);
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
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

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
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

// Runs a host command and waits for it; the exit status, or -1.
int System(const std::vector<std::string>& argv, const std::vector<std::string>* env = nullptr,
           const std::string& outFile = "/dev/null") {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in >= 0) dup2(in, 0);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    if (env) {
      for (const auto& e : *env) envp.push_back(const_cast<char*>(e.c_str()));
      envp.push_back(nullptr);
    }
    execvpe(args[0], args.data(), env ? envp.data() : environ);
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> BaseEnvironment() {
  static const char* const dropped[] = {
      "DISPLAY=",  "WAYLAND_DISPLAY=", "WINEPREFIX=", "WINEDEBUG=", "WINEDLLOVERRIDES=",
      "WINEARCH=", "WINESERVER=",      "WINELOADER=", "LD_PRELOAD="};
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    bool drop = false;
    for (const char* d : dropped) drop = drop || std::strncmp(*e, d, std::strlen(d)) == 0;
    if (!drop) env.push_back(*e);
  }
  // No Mono or Gecko: nothing here needs them, and looking for them is slow.
  env.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
  return env;
}

// chattr +i / -i of one file or folder.
bool SetImmutable(const std::string& path, bool on) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

// Clears the immutable flag (chattr +i) of one entry; symbolic links are
// never followed (a prefix links z: to /).
int ClearImmutableEntry(const char* path, const struct stat* st, int, struct FTW*) {
  if (!S_ISREG(st->st_mode) && !S_ISDIR(st->st_mode)) return 0;
  int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL)) {
    flags &= ~FS_IMMUTABLE_FL;
    ioctl(fd, FS_IOC_SETFLAGS, &flags);
  }
  close(fd);
  return 0;
}

// Removes a test folder, immutable files included.
void RemoveTestFolder(const std::string& root) {
  nftw(root.c_str(), ClearImmutableEntry, 32, FTW_PHYS | FTW_MOUNT);
  System({"rm", "-rf", "--one-file-system", root});
}

std::string TempDir() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
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
  for (const auto& path : stale) RemoveTestFolder(path);
}

// A folder named in the environment, made absolute: Wine refuses a relative
// WINEPREFIX, and a test process may change its working folder.
std::string FolderFromEnvironment(const char* name, const char* fallback) {
  const char* overridden = std::getenv(name);
  std::string folder = overridden && *overridden ? overridden : fallback;
  if (!folder.empty() && folder[0] != '/') {
    std::vector<char> cwd(4096);
    if (getcwd(cwd.data(), cwd.size())) folder = std::string(cwd.data()) + "/" + folder;
  }
  return folder;
}

std::string TemplatePath() {
  return FolderFromEnvironment("DRVSETUP_WINE_TEMPLATE", DRVSETUP_WINE_TEMPLATE);
}

// Makes the template prefix once per build tree. A lock file keeps parallel
// test processes from making it twice.
bool EnsureTemplate(std::string* error) {
  static bool done = false;
  static std::string failure;  // a failed attempt is not repeated by every test
  if (done) return true;
  if (!failure.empty()) {
    *error = failure;
    return false;
  }
  RemoveStaleTestFolders();
  const std::string tmpl = TemplatePath();
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
    System({"rm", "-rf", building, tmpl});
    std::vector<std::string> env = BaseEnvironment();
    env.push_back("WINEPREFIX=" + building);
    env.push_back("WINEDEBUG=-all");
    const std::string log = tmpl + ".log";
    unlink(log.c_str());
    int rc = System({"wineboot", "-i"}, &env, log);
    if (rc == 0)
      rc = System({"wine", "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayFromExclude",
                   "/t", "REG_SZ", "/d", kRelayFromExclude, "/f"},
                  &env, log);
    System({"wineserver", "-k"}, &env, log);
    System({"wineserver", "-w"}, &env, log);
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

bool WineInstalled() { return OnPath("wine") && OnPath("wineserver") && OnPath("wineboot"); }

std::string ProgramsDir() {
  return FolderFromEnvironment("DRVSETUP_WIN64_DIR", DRVSETUP_WIN64_DIR);
}

std::string ProgramPath(const std::string& name) { return ProgramsDir() + "/" + name; }

bool ProgramsBuilt(std::string* missing) {
  missing->clear();
  for (const char* p :
       {"drvsetup.exe", "probe.exe", "standin.exe", "empty.exe", "empty_imports.exe"}) {
    if (access(ProgramPath(p).c_str(), R_OK) != 0) {
      if (!missing->empty()) *missing += ", ";
      *missing += p;
    }
  }
  return missing->empty();
}

// ------------------------------------------------------------ data read back

namespace {
template <typename Map>
auto FindNoCase(Map& m, const std::string& key) -> decltype(m.begin()) {
  auto it = m.find(key);
  if (it != m.end()) return it;
  for (it = m.begin(); it != m.end(); ++it)
    if (EqualNoCase(it->first, key)) return it;
  return m.end();
}
}  // namespace

bool RegTree::HasKey(const std::string& relPath) const {
  for (const auto& k : keys)
    if (EqualNoCase(k, relPath)) return true;
  return false;
}

const RegValue* RegTree::Value(const std::string& relPath, const std::string& name) const {
  auto key = FindNoCase(values, relPath);
  if (key == values.end()) return nullptr;
  auto value = FindNoCase(key->second, name);
  return value == key->second.end() ? nullptr : &value->second;
}

size_t RegTree::ValueCount() const {
  size_t n = 0;
  for (const auto& k : values) n += k.second.size();
  return n;
}

// ----------------------------------------------------------- relay trace

const std::string& RelayCall::Text(size_t i) const {
  static const std::string empty;
  return i < args.size() ? args[i].text : empty;
}

uint64_t RelayCall::Value(size_t i) const { return i < args.size() ? args[i].value : 0; }

std::vector<RelayCall> RelayTrace::Named(const std::string& function) const {
  std::vector<RelayCall> out;
  for (const auto& c : calls)
    if (c.function == function) out.push_back(c);
  return out;
}

size_t RelayTrace::Count(const std::string& function) const { return Named(function).size(); }

namespace {

bool IsHex(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// Reads a C-escaped string as Wine's debugstr prints it, starting at the
// opening quote; sets *end past the closing quote.
std::string ReadQuoted(const std::string& s, size_t open, size_t* end, bool wide) {
  std::string out;
  size_t i = open + 1;
  while (i < s.size() && s[i] != '"') {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      out += s[i++];
      continue;
    }
    char e = s[i + 1];
    i += 2;
    switch (e) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'x': {
        size_t digits = 0;
        unsigned long v = 0;
        while (digits < (wide ? 4u : 2u) && i < s.size() &&
               std::isxdigit(static_cast<unsigned char>(s[i]))) {
          v = v * 16 + std::strtoul(std::string(1, s[i]).c_str(), nullptr, 16);
          ++i;
          ++digits;
        }
        out += v < 256 ? static_cast<char>(v) : '?';
        break;
      }
      default:
        out += e;
        break;  // \\ and \" and anything else
    }
  }
  *end = i < s.size() ? i + 1 : i;
  return out;
}

RelayArg ParseArg(const std::string& raw) {
  RelayArg arg;
  arg.raw = raw;
  size_t i = 0;
  while (i < raw.size() && std::isxdigit(static_cast<unsigned char>(raw[i]))) ++i;
  arg.value = i ? std::strtoull(raw.substr(0, i).c_str(), nullptr, 16) : 0;
  size_t q = raw.find('"', i);
  if (q != std::string::npos) {
    arg.wide = q > 0 && raw[q - 1] == 'L';
    size_t end = 0;
    arg.text = ReadQuoted(raw, q, &end, arg.wide);
    arg.hasText = true;
    arg.truncated = raw.compare(end, 3, "...") == 0;
  }
  return arg;
}

// Splits "a,b \"x,y\",c" at the commas outside quotes.
std::vector<RelayArg> SplitArgs(const std::string& s) {
  std::vector<RelayArg> out;
  if (s.empty()) return out;
  std::string cur;
  bool quoted = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (quoted && c == '\\' && i + 1 < s.size()) {
      cur += c;
      cur += s[++i];
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      out.push_back(ParseArg(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(ParseArg(cur));
  return out;
}

// "DLL.Function(" at the start of s: fills dll and function, returns the
// position after '('.
size_t ParseName(const std::string& s, std::string* dll, std::string* function) {
  size_t dot = s.find('.');
  size_t paren = s.find('(');
  if (dot == std::string::npos || paren == std::string::npos || dot > paren) return 0;
  *dll = s.substr(0, dot);
  *function = s.substr(dot + 1, paren - dot - 1);
  if (dll->empty() || function->empty() || function->find(' ') != std::string::npos ||
      dll->find(' ') != std::string::npos)
    return 0;
  return paren + 1;
}

}  // namespace

RelayTrace ParseRelayLog(const std::string& log, const std::string& exeName, uint64_t imageSize) {
  RelayTrace trace;
  if (imageSize == 0) imageSize = 0x1000000;
  // Open calls per thread: indexes into trace.calls.
  std::map<std::string, std::vector<size_t>> open;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t c1 = line.find(':');
    if (c1 == std::string::npos) continue;
    size_t c2 = line.find(':', c1 + 1);
    if (c2 == std::string::npos) continue;
    std::string pid = line.substr(0, c1), tid = line.substr(c1 + 1, c2 - c1 - 1);
    if (!IsHex(pid) || !IsHex(tid)) continue;
    std::string rest = line.substr(c2 + 1);

    if (!trace.found) {
      static const std::string loaded = "trace:loaddll:";
      if (rest.compare(0, loaded.size(), loaded) != 0) continue;
      size_t q = rest.find("Loaded L\"");
      size_t at = rest.find("\" at ");
      if (q == std::string::npos || at == std::string::npos || at < q) continue;
      size_t end = 0;
      std::string path = ReadQuoted(rest, q + 8, &end, true);
      if (!EqualNoCase(Basename(path), exeName)) continue;
      trace.found = true;
      trace.pid = pid;
      trace.imageBase = std::strtoull(rest.c_str() + at + 5, nullptr, 16);
      continue;
    }
    if (pid != trace.pid) continue;

    bool isCall = rest.compare(0, 5, "Call ") == 0;
    bool isRet = rest.compare(0, 5, "Ret  ") == 0;
    if (!isCall && !isRet) continue;
    size_t retPos = rest.rfind(" ret=");
    if (retPos == std::string::npos) continue;
    uint64_t retAddress = std::strtoull(rest.c_str() + retPos + 5, nullptr, 16);
    if (retAddress < trace.imageBase || retAddress >= trace.imageBase + imageSize) continue;
    std::string body = rest.substr(5, retPos - 5);
    RelayCall call;
    size_t argsStart = ParseName(body, &call.dll, &call.function);
    if (argsStart == 0) continue;

    if (isCall) {
      size_t close = body.rfind(')');
      if (close == std::string::npos || close < argsStart) continue;
      call.tid = tid;
      call.retAddress = retAddress;
      call.args = SplitArgs(body.substr(argsStart, close - argsStart));
      open[tid].push_back(trace.calls.size());
      trace.calls.push_back(call);
    } else {
      size_t rv = body.find(" retval=");
      uint64_t retval =
          rv == std::string::npos ? 0 : std::strtoull(body.c_str() + rv + 8, nullptr, 16);
      auto& stack = open[tid];
      for (size_t k = stack.size(); k-- > 0;) {
        RelayCall& c = trace.calls[stack[k]];
        if (c.function == call.function && c.dll == call.dll && c.retAddress == retAddress) {
          c.returned = true;
          c.retval = retval;
          stack.erase(stack.begin() + static_cast<std::ptrdiff_t>(k));
          break;
        }
      }
    }
  }
  return trace;
}

uint64_t PeImageSize(const std::string& hostPath) {
  std::string data;
  if (!ReadHostFile(hostPath, &data) || data.size() < 0x40) return 0;
  auto u32 = [&](size_t at) -> uint64_t {
    if (at + 4 > data.size()) return 0;
    return static_cast<uint64_t>(static_cast<unsigned char>(data[at])) |
           static_cast<uint64_t>(static_cast<unsigned char>(data[at + 1])) << 8 |
           static_cast<uint64_t>(static_cast<unsigned char>(data[at + 2])) << 16 |
           static_cast<uint64_t>(static_cast<unsigned char>(data[at + 3])) << 24;
  };
  uint64_t pe = u32(0x3c);
  if (data.compare(0, 2, "MZ") != 0 || pe + 24 + 60 > data.size() ||
      data.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
    return 0;
  // SizeOfImage lies 56 bytes into the optional header, after the 4-byte
  // signature and the 20-byte file header, in both PE32 and PE32+.
  return u32(pe + 24 + 56);
}

std::vector<MessageBoxCall> MessageBoxes(const RelayTrace& trace) {
  std::vector<MessageBoxCall> out;
  for (const auto& c : trace.calls) {
    if (c.function != "MessageBoxA") continue;
    // The type is a 32-bit argument: 64-bit code leaves the upper half of
    // its register undefined.
    out.push_back({c.Text(1), c.Text(2), c.Value(3) & 0xffffffffu});
  }
  return out;
}

int64_t ExitProcessCode(const RelayTrace& trace) {
  int64_t code = -1;
  for (const auto& c : trace.calls)
    if (c.function == "ExitProcess") code = static_cast<int64_t>(c.Value(0) & 0xffffffffu);
  return code;
}

// ----------------------------------------------------------------- INI text

namespace {
std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// Calls f(line) for each line of the section; stops when f returns false.
template <typename F>
void ForSectionLines(const std::string& text, const std::string& section, F f) {
  std::istringstream in(text);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    if (!t.empty() && t[0] == '[') {
      size_t close = t.find(']');
      inside = close != std::string::npos && EqualNoCase(Trim(t.substr(1, close - 1)), section);
      continue;
    }
    if (inside && !f(line)) return;
  }
}
}  // namespace

bool IniValue(const std::string& text, const std::string& section, const std::string& key,
              std::string* value) {
  bool found = false;
  ForSectionLines(text, section, [&](const std::string& line) {
    size_t eq = line.find('=');
    if (eq == std::string::npos || !EqualNoCase(Trim(line.substr(0, eq)), key)) return true;
    *value = Trim(line.substr(eq + 1));
    found = true;
    return false;
  });
  return found;
}

std::vector<std::string> IniSectionLines(const std::string& text, const std::string& section) {
  std::vector<std::string> out;
  ForSectionLines(text, section, [&](const std::string& line) {
    out.push_back(line);
    return true;
  });
  while (!out.empty() && Trim(out.back()).empty()) out.pop_back();
  return out;
}

// ------------------------------------------------------------------ bytes

std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string DwordBytes(uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  return out;
}

std::string SzBytes(const std::string& s) { return s + std::string(1, '\0'); }

// ------------------------------------------------------------ the prefix

WinePrefix::WinePrefix() {
  if (!EnsureTemplate(&error_)) return;
  std::string pattern = TempDir() + "/drvsetup-wine-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) {
    error_ = "mkdtemp failed";
    return;
  }
  root_ = buf.data();
  prefix_ = root_ + "/prefix";
  if (System({"cp", "-a", TemplatePath(), prefix_}) != 0 ||
      !IsDirectory(prefix_ + "/drive_c/windows")) {
    error_ = "could not copy the template prefix " + TemplatePath();
    return;
  }
  unlink((prefix_ + "/" + kTemplateMarker).c_str());
  // The probe runs from the test's own folder (drive Z:), outside C:.
  MakeHostFolders(root_ + "/bin");
  if (System({"cp", ProgramPath("probe.exe"), root_ + "/bin/probe.exe"}) != 0) {
    error_ = "could not copy probe.exe";
    return;
  }
  ready_ = true;
}

WinePrefix::~WinePrefix() {
  if (root_.empty()) return;
  if (!holdEvent_.empty()) Release();
  EndSession();
  RemoveTestFolder(root_);
}

std::vector<std::string> WinePrefix::Environment(const std::string& winedebug) const {
  std::vector<std::string> env = BaseEnvironment();
  env.push_back("WINEPREFIX=" + prefix_);
  env.push_back("WINEDEBUG=" + winedebug);
  return env;
}

std::string WinePrefix::NextFile(const std::string& stem) {
  return root_ + "/" + stem + "-" + std::to_string(++counter_);
}

pid_t WinePrefix::Spawn(const std::vector<std::string>& argv, const std::string& cwd,
                        const std::string& outFile) {
  std::vector<std::string> env = Environment("-all");
  pid_t pid = fork();
  if (pid != 0) return pid;
  setpgid(0, 0);
  if (chdir(cwd.c_str()) != 0) _exit(126);
  int in = open("/dev/null", O_RDONLY);
  int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in >= 0) dup2(in, 0);
  if (out >= 0) {
    dup2(out, 1);
    dup2(out, 2);
  }
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  execvpe(args[0], args.data(), envp.data());
  _exit(127);
}

RunResult WinePrefix::Exec(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::string& winedebug, int timeoutSeconds) {
  RunResult result;
  const std::string outFile = NextFile("out"), errFile = NextFile("err");
  std::vector<std::string> env = Environment(winedebug);
  pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    setpgid(0, 0);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    int in = open("/dev/null", O_RDONLY);
    int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in >= 0) dup2(in, 0);
    if (out >= 0) dup2(out, 1);
    if (err >= 0) dup2(err, 2);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  // A guard against a hang only: the run is stopped, never judged by time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  ReadHostFile(outFile, &result.out);
  ReadHostFile(errFile, &result.err);
  unlink(outFile.c_str());
  unlink(errFile.c_str());
  return result;
}

bool WinePrefix::AppendRegistry(const std::string& file, const std::string& text) {
  if (sessionLive_) {
    ADD_FAILURE() << "the registry files of " << prefix_
                  << " can only be edited while no session runs";
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
    ADD_FAILURE() << "only HKLM and HKCU keys can be preset: " << key;
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
    std::string hex = ToHex(bytes);
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
  return ReadHostFile(ProgramPath(program), &data) && PutFile(winPath, data);
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
  return PlaceProgram("drvsetup.exe", folder + "\\drvsetup.exe");
}

RunResult WinePrefix::RunInstaller(const std::vector<std::string>& args) {
  return Run(std::string(kSourceFolder) + "\\drvsetup.exe", args);
}

RunResult WinePrefix::RunInstallerTraced(const std::vector<std::string>& args, RelayTrace* trace) {
  return RunTraced(std::string(kSourceFolder) + "\\drvsetup.exe", args, trace);
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
    ADD_FAILURE() << "wineserver -p failed: " << server.err;
    return false;
  }
  sessionLive_ = true;
  // The first program brings up the session's own processes (services,
  // explorer, ...) and performs what a restart performs.
  RunResult first = Exec({"wine", ProbePath(), "version"}, root_, "-all");
  if (first.exitCode != 0) {
    ADD_FAILURE() << "the session of " << prefix_ << " did not start: " << first.err;
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
  *trace = ParseRelayLog(r.err, Basename(winExe), PeImageSize(HostPath(winExe)));
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
  *trace = ParseRelayLog(r.err, Basename(winExe), PeImageSize(HostPath(winExe)));
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
  const std::string name = Basename(winExe);
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
    if (r.exitCode != 2) ADD_FAILURE() << "probe regdump " << key << " failed: " << r.out;
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
  RunResult r = Probe({"regset", key, name, std::to_string(type), ToHex(data)});
  return r.exitCode == 0;
}

bool WinePrefix::DeleteKey(const std::string& key) {
  return Probe({"regdelete", key}).exitCode == 0;
}

std::vector<PendingRename> WinePrefix::PendingRenames() {
  std::vector<PendingRename> out;
  std::vector<std::vector<std::string>> records;
  RunResult r = Probe({"pending"}, &records);
  if (r.exitCode != 0) ADD_FAILURE() << "probe pending failed: " << r.out;
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

}  // namespace winetest
