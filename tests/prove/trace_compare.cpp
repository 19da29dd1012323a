#include "trace_compare.h"

#include <cctype>
#include <cstdlib>
#include <map>

#include "calls.h"
#include "outcome.h"
#include "text.h"

namespace prove {

namespace {

// A call's argument and result kinds come from the simulated machine's call
// table (sim/calls.def): S string, N 32-bit number, P pointer (only NULL or
// not), K registry key, and handles L library, F search, T snapshot, R
// process, H heap, O open file; results N number, P pointer, V nothing, or a handle kind
// for a handle the call hands out.
const sim::CallInfo* SignatureOf(const std::string& function) { return sim::FindCall(function); }

// Calls of the process walk that concern one process each: the two machines
// run different processes, so only the walk itself is compared.
bool IsPerProcessCall(const std::string& function) {
  return function == "OpenProcess" || function == "EnumProcessModules" ||
         function == "GetModuleFileNameExA" || function == "Process32Next";
}

using text::Upper;

const char* PredefinedRoot(uint64_t value) {
  switch (value & 0xffffffffu) {
    case 0x80000000u:
      return "HKEY_CLASSES_ROOT";
    case 0x80000001u:
      return "HKEY_CURRENT_USER";
    case 0x80000002u:
      return "HKEY_LOCAL_MACHINE";
    case 0x80000003u:
      return "HKEY_USERS";
    case 0x80000005u:
      return "HKEY_CURRENT_CONFIG";
    default:
      return nullptr;
  }
}

// A key path below an open key: the subkey's trailing backslashes do not
// name another key.
std::string JoinKey(const std::string& parent, const std::string& subkey) {
  std::string sub = subkey;
  while (!sub.empty() && sub.back() == '\\') sub.pop_back();
  return sub.empty() ? parent : parent + "\\" + Upper(sub);
}

// One raw argument or result, as each side reports it.
struct Raw {
  bool isNull = false;
  bool hasText = false;
  std::string text;  // the string, unescaped
  bool cut = false;
  uint64_t value = 0;
  std::string identity;  // what tells two handles apart on this side
  const char* root = nullptr;
};

// The normaliser shared by both sides: it follows the handles the calls hand
// out and names them.
class Normalizer {
 public:
  // Returns false when the call is left out.
  bool Add(const std::string& function, const std::vector<Raw>& args, const Raw& result,
           bool returned, std::vector<NormalCall>* out) {
    if (function == "GetLastError" || function == "SetLastError") return false;
    const sim::CallInfo* sig = SignatureOf(function);
    NormalCall call;
    call.function = function;
    if (!sig) {
      for (const Raw& a : args) call.args.push_back({a.hasText ? a.text : a.identity, false});
      call.result = result.identity;
      out->push_back(call);
      return true;
    }
    const std::string kinds = sig->args;
    bool perProcess = IsPerProcessCall(function);
    for (size_t i = 0; i < args.size(); ++i) {
      const char kind = i < kinds.size() ? kinds[i] : 'P';
      call.args.push_back(Arg(kind, args[i], &perProcess));
    }
    if (function == "RegCloseKey" && !args.empty() && !args[0].root) keys_.erase(args[0].identity);
    if (function == "FreeLibrary" && !args.empty()) handles_['L'].erase(args[0].identity);
    if (function == "FindClose" && !args.empty()) handles_['F'].erase(args[0].identity);
    if (function == "CloseHandle" && !args.empty()) {
      handles_['T'].erase(args[0].identity);
      handles_['O'].erase(args[0].identity);
      handles_['R'].erase(args[0].identity);
    }

    call.result = returned ? Result(sig->result, result, call.args) : "?";
    if ((function == "RegOpenKeyExA" || function == "RegCreateKeyExA") && call.result == "0" &&
        call.args.size() > 1) {
      std::string subkey = call.args[1].text;
      if (subkey.size() >= 2 && subkey.front() == '"') subkey = subkey.substr(1, subkey.size() - 2);
      pendingKeys_.push_back(JoinKey(call.args[0].text, subkey));
    }
    if (perProcess) return false;
    out->push_back(call);
    return true;
  }

 private:
  NormalArg Arg(char kind, const Raw& raw, bool* perProcess) {
    switch (kind) {
      case 'S':
        if (raw.hasText) return {"\"" + raw.text + "\"", raw.cut};
        return {raw.isNull ? "NULL" : "ptr", false};
      case 'N':
        return {std::to_string(raw.value & 0xffffffffu), false};
      case 'K':
        return {KeyName(raw), false};
      case 'L':
      case 'F':
      case 'T':
      case 'R':
      case 'H':
      case 'O':
        return {HandleName(kind, raw), false};
      case '?': {
        // CloseHandle: whichever kind the handle was obtained as.
        const std::string snapshot = HandleName('T', raw);
        if (snapshot[0] != '?') return {snapshot, false};
        const std::string file = HandleName('O', raw);
        if (file[0] != '?') return {file, false};
        const std::string process = HandleName('R', raw);
        if (process[0] != '?') *perProcess = true;
        return {process, false};
      }
      default:
        return {raw.isNull ? "NULL" : "ptr", false};
    }
  }

  std::string KeyName(const Raw& raw) {
    if (raw.root) return raw.root;
    auto it = keys_.find(raw.identity);
    if (it != keys_.end()) return it->second;
    // A key handle is first used right after the call that opened it; keys
    // opened inside the use of another come out in the reverse order.
    if (pendingKeys_.empty()) return "?KEY";
    const std::string name = pendingKeys_.back();
    pendingKeys_.pop_back();
    keys_[raw.identity] = name;
    return name;
  }

  std::string HandleName(char kind, const Raw& raw) {
    if (raw.isNull) return "NULL";
    if (kind == 'H') return "heap";
    auto& names = handles_[kind];
    auto it = names.find(raw.identity);
    return it == names.end() ? std::string("?") + kind : it->second;
  }

  // A handle is named by what it was obtained for (the file searched, the
  // library loaded, the process opened), so that one call more or less on
  // one side does not rename every handle after it.
  std::string Result(char kind, const Raw& raw, const std::vector<NormalArg>& args) {
    switch (kind) {
      case 'N':
        return std::to_string(raw.value & 0xffffffffu);
      case 'P':
        return raw.isNull ? "NULL" : "ptr";
      case 'V':
        return "";
      case 'H':
        return raw.isNull ? "NULL" : "heap";
      default: {
        if (raw.isNull) return "NULL";
        if (raw.value == ~uint64_t(0) || raw.value == 0xffffffffu) return "INVALID";
        static const std::map<char, std::string> prefix = {
            {'L', "lib"}, {'F', "find"}, {'T', "snap"}, {'R', "proc"}, {'O', "file"}};
        std::string what;
        if (kind == 'R' && args.size() == 3) {
          what = args[2].text;  // the process identifier
        } else if (kind != 'R' && !args.empty()) {
          what = args[0].text;
        }
        const std::string name = prefix.at(kind) + "(" + what + ")";
        handles_[kind][raw.identity] = name;
        return name;
      }
    }
  }

  std::map<std::string, std::string> keys_;
  std::vector<std::string> pendingKeys_;
  std::map<char, std::map<std::string, std::string>> handles_;
};

// ----------------------------------------------------------------- the sim

uint64_t ParseNumber(const std::string& text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    return std::strtoull(text.c_str() + 2, nullptr, 16);
  if (!text.empty() && text[0] == '-')
    return static_cast<uint64_t>(std::strtoll(text.c_str(), nullptr, 10));
  return std::strtoull(text.c_str(), nullptr, 10);
}

Raw SimRaw(const std::string& text) {
  Raw raw;
  raw.identity = text;
  // The trace writes a null pointer as NULL; a number there (a pointer
  // shown by what it points to) is not one.
  raw.isNull = text == "NULL";
  if (text.size() >= 2 && text.front() == '"') {
    raw.hasText = true;
    raw.text = text::Unquote(text);
  } else if (text.compare(0, 5, "HKEY_") == 0) {
    for (uint64_t v = 0x80000000u; v <= 0x80000005u; ++v) {
      const char* name = PredefinedRoot(v);
      if (name && text == name) raw.root = name;
    }
  } else {
    raw.value = ParseNumber(text);
  }
  return raw;
}

// ----------------------------------------------------------------- Wine

std::string WineFunction(const std::string& name) {
  if (name == "RtlAllocateHeap") return "HeapAlloc";
  if (name == "RtlFreeHeap") return "HeapFree";
  if (name == "RtlGetLastWin32Error") return "GetLastError";
  if (name == "RtlSetLastWin32Error") return "SetLastError";
  if (name.compare(0, 3, "K32") == 0) return name.substr(3);
  return name;
}

Raw WineRaw(const winehost::RelayArg& arg) {
  Raw raw;
  raw.value = arg.value;
  raw.isNull = arg.value == 0 && !arg.hasText;
  raw.hasText = arg.hasText;
  raw.text = arg.text;
  raw.cut = arg.truncated;
  raw.identity = text::HexDigits(arg.value);
  raw.root = PredefinedRoot(arg.value);
  if (raw.root && (arg.value >> 32) != 0 && (arg.value >> 32) != 0xffffffffu) raw.root = nullptr;
  return raw;
}

Raw WineResult(uint64_t value) {
  Raw raw;
  raw.value = value;
  raw.isNull = value == 0;
  raw.identity = text::HexDigits(value);
  return raw;
}

std::string Shorten(const std::string& text, size_t limit) {
  return text.size() <= limit ? text : text.substr(0, limit) + "...";
}

}  // namespace

std::string NormalCall::Text() const {
  std::string out = function + "(";
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) out += ", ";
    out += Shorten(args[i].text, 200);
    if (args[i].prefix) out += "...";
  }
  out += ")";
  if (!result.empty()) out += " = " + result;
  return out;
}

bool SameCall(const NormalCall& a, const NormalCall& b) {
  if (a.function != b.function || a.result != b.result || a.args.size() != b.args.size())
    return false;
  for (size_t i = 0; i < a.args.size(); ++i) {
    const NormalArg& x = a.args[i];
    const NormalArg& y = b.args[i];
    if (x.prefix || y.prefix) {
      // The cut string lacks its closing quote; compare what both have.
      const std::string& cut = x.prefix ? x.text : y.text;
      const std::string& whole = x.prefix ? y.text : x.text;
      const std::string stem = cut.substr(0, cut.size() > 0 ? cut.size() - 1 : 0);
      if (whole.compare(0, stem.size(), stem) != 0) return false;
    } else if (x.text != y.text) {
      return false;
    }
  }
  return true;
}

std::vector<NormalCall> NormalizeSimTrace(const std::vector<sim::Call>& trace) {
  std::vector<NormalCall> out;
  Normalizer normalizer;
  for (const sim::Call& call : trace) {
    std::vector<Raw> args;
    for (const std::string& a : SplitArgs(call.args)) args.push_back(SimRaw(a));
    normalizer.Add(call.function, args, SimRaw(call.result), true, &out);
  }
  return out;
}

std::vector<NormalCall> NormalizeRelayTrace(const winehost::RelayTrace& trace) {
  std::vector<NormalCall> out;
  Normalizer normalizer;
  // What comes before the installer's first own call, reading the platform
  // family, is the C runtime starting up.
  bool started = false;
  for (const winehost::RelayCall& call : trace.calls) {
    const std::string function = WineFunction(call.function);
    if (!started && function != "GetVersionExA") continue;
    started = true;
    if (!SignatureOf(function) && function != "GetLastError" && function != "SetLastError")
      continue;  // the C runtime's own calls (msvcrt and the like)
    std::vector<Raw> args;
    for (const winehost::RelayArg& a : call.args) args.push_back(WineRaw(a));
    normalizer.Add(function, args, WineResult(call.retval),
                   call.returned || function == "ExitProcess", &out);
  }
  return out;
}

namespace {

bool SameArgs(const NormalCall& a, const NormalCall& b) {
  NormalCall x = a;
  x.result = b.result;
  return SameCall(x, b);
}

// One stretch of calls that only one side made: a call both made with the
// same arguments but another result is one difference, written
// "differs: CALL: sim R1; wine R2"; the rest are "sim-only" / "wine-only".
void AddHunk(const std::vector<const NormalCall*>& sim, const std::vector<const NormalCall*>& wine,
             std::vector<std::string>* out) {
  std::vector<bool> used(wine.size(), false);
  size_t next = 0;  // wine calls before this one are out already
  for (const NormalCall* s : sim) {
    size_t match = wine.size();
    for (size_t j = next; j < wine.size(); ++j) {
      if (!used[j] && SameArgs(*s, *wine[j])) {
        match = j;
        break;
      }
    }
    if (match == wine.size()) {
      out->push_back("sim-only: " + s->Text());
      continue;
    }
    for (; next < match; ++next) {
      if (!used[next]) out->push_back("wine-only: " + wine[next]->Text());
      used[next] = true;
    }
    NormalCall shown = *s;
    shown.result.clear();
    out->push_back("differs: " + shown.Text() + ": sim " + s->result + "; wine " +
                   wine[match]->result);
    used[match] = true;
    next = match + 1;
  }
  for (size_t j = 0; j < wine.size(); ++j) {
    if (!used[j]) out->push_back("wine-only: " + wine[j]->Text());
  }
}

}  // namespace

std::vector<std::string> CompareTraces(const std::vector<NormalCall>& sim,
                                       const std::vector<NormalCall>& wine) {
  const size_t n = sim.size(), m = wine.size();
  // lcs[i][j]: the longest common subsequence of sim[i..] and wine[j..].
  std::vector<std::vector<uint32_t>> lcs(n + 1, std::vector<uint32_t>(m + 1, 0));
  for (size_t i = n; i-- > 0;) {
    for (size_t j = m; j-- > 0;) {
      lcs[i][j] = SameCall(sim[i], wine[j]) ? lcs[i + 1][j + 1] + 1
                                            : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    }
  }
  std::vector<std::string> out;
  std::vector<const NormalCall*> simOnly, wineOnly;
  size_t i = 0, j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && SameCall(sim[i], wine[j])) {
      AddHunk(simOnly, wineOnly, &out);
      simOnly.clear();
      wineOnly.clear();
      ++i;
      ++j;
    } else if (j >= m || (i < n && lcs[i + 1][j] >= lcs[i][j + 1])) {
      simOnly.push_back(&sim[i++]);
    } else {
      wineOnly.push_back(&wine[j++]);
    }
  }
  AddHunk(simOnly, wineOnly, &out);
  return out;
}

}  // namespace prove
