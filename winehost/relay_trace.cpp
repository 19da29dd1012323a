// Relay traces.
#include "relay_trace.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>

#include "host_files.h"
#include "wine_data.h"

namespace winehost {

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
    arg.text = text::ReadQuoted(raw, q, &end, arg.wide ? 4 : 2);
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
      std::string path = text::ReadQuoted(rest, q + 8, &end, 4);
      if (!EqualNoCase(WinBasename(path), exeName)) continue;
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

}  // namespace winehost
