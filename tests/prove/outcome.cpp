#include "outcome.h"
#include "harness.h"
#include "messages.h"
#include "text.h"

#include <cctype>
#include <sstream>

namespace prove {

namespace {

const char kInstallerCaption[] = "Miravelt Installation";
const char kErrorCaption[] = "Application Error";
const unsigned kErrorType = 0x2010;  // MB_ICONERROR | MB_TASKMODAL

bool EndsWithNoCase(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && text::Upper(s.substr(s.size() - end.size())) == end;
}

const char kEnumRootKey[] = "SYSTEM\\CurrentControlSet\\Enum\\Root";

// Every key and value below a key, named from the root's short name.
void AddKeyItems(HKEY root, const std::string& path, const std::string& name, MachineState* state) {
  (*state)["reg " + name] = "key";
  for (const std::string& value : sim::RegValueNames(root, path)) {
    sim::Value v;
    if (sim::RegGet(root, path, value, &v))
      (*state)["reg " + name + " : " + text::Upper(value)] = std::to_string(v.type) + " " + v.data;
  }
  for (const std::string& sub : sim::RegSubkeys(root, path))
    AddKeyItems(root, path.empty() ? sub : path + "\\" + sub, name + "\\" + text::Upper(sub),
                state);
}

// Each non-blank line of an INI text with its section, counted.
void AddIniLines(const std::string& file, const std::string& text, MachineState* state) {
  std::istringstream in(text);
  std::string line, section;
  while (std::getline(in, line)) {
    const size_t b = line.find_first_not_of(" \t\r");
    if (b == std::string::npos) continue;
    line = line.substr(b, line.find_last_not_of(" \t\r") - b + 1);
    if (line[0] == '[') section = text::Upper(line.substr(1, line.find(']') - 1));
    std::string& count = (*state)["ini " + file + " [" + section + "] " + line];
    count = std::to_string(count.empty() ? 1 : std::stoi(count) + 1);
  }
}

// The backup name of a file: the same folder and base name, extension .OLD.
std::string BackupName(const std::string& path) {
  const size_t slash = path.rfind('\\');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ".OLD";
  return path.substr(0, dot) + ".OLD";
}

}  // namespace

const std::vector<std::string>& InstallerMessages() {
  static const std::vector<std::string> messages = {
      kGuardMessage,
      "Unable to copy \"ZOLTAVEX.VXD\" to Systemdirectory!",
      "Unable to copy \"ZOLTAV16.DLL\" to Systemdirectory!",
      "Unable to copy \"ZOLTAVEX.INF\" to INF directory !",
      "Unable to copy \"ZOLTAVEX.SYS\" to Systemdirectory!",
      "Unable to set permission for \"HKLM\\System\\Enum\\Root\" !",
      "Unable to copy \"KOVA51USB.INF\" to INF dirtectory !",
      "Unable to copy \"DQ_USB.INF\" to INF directory !",
      "Unable to copy \"FTD2XX.DLL\" to System32 directory!",
      "Unable to copy \"FTD2XXUN.EXE\" to System32 directory!",
      "Unable to copy \"FTD2XX.SYS\" to Drivers directory!",
  };
  return messages;
}

bool IsFatalBox(const sim::Box& box) {
  return box.owner == nullptr && box.caption == kErrorCaption && box.type == kErrorType &&
         (box.text == "Unable to write to Wininit.ini" ||
          box.text == "Unable to write to System.ini");
}

bool IsAllowedBox(const sim::Box& box) {
  if (IsFatalBox(box)) return true;
  if (box.owner != nullptr || box.caption != kInstallerCaption || box.type != 0) return false;
  for (const std::string& text : InstallerMessages()) {
    if (box.text == text) return true;
  }
  return false;
}

std::vector<std::string> SplitArgs(const std::string& args) {
  std::vector<std::string> out;
  std::string current;
  bool quoted = false;
  int depth = 0;  // [..] and {..} hold commas of their own
  for (size_t i = 0; i < args.size(); ++i) {
    const char c = args[i];
    if (quoted) {
      current += c;
      if (c == '\\' && i + 1 < args.size()) {
        current += args[++i];
      } else if (c == '"') {
        quoted = false;
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
    } else if (c == '[' || c == '{') {
      ++depth;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    } else if (c == ',' && depth == 0) {
      out.push_back(current);
      current.clear();
      // The separator is ", ".
      if (i + 1 < args.size() && args[i + 1] == ' ') ++i;
      continue;
    }
    current += c;
  }
  if (!current.empty() || !out.empty()) out.push_back(current);
  return out;
}

std::string FatalIniFile(const sim::Call& call) {
  if (call.function != "WritePrivateProfileStringA") return std::string();
  const std::vector<std::string> args = SplitArgs(call.args);
  if (args.size() != 4 || args[0] == "NULL") return std::string();
  const std::string section = text::Unquote(args[0]);
  const std::string file = text::Unquote(args[3]);
  if (text::EqualNoCase(section, "RENAME") && text::EqualNoCase(file, "Wininit.ini"))
    return "Wininit.ini";
  if (text::EqualNoCase(section, "VCache") && text::EqualNoCase(file, "System.ini"))
    return "System.ini";
  return std::string();
}

Verdict Judge(const sim::RunResult& result, const Expectation& expected) {
  Verdict verdict;
  auto wrong = [&](const std::string& why) {
    verdict.wrong = true;
    if (!verdict.why.empty()) verdict.why += "; ";
    verdict.why += why;
  };

  if (!sim::NothingOutstanding()) {
    verdict.leak = true;
    verdict.why = "still held: " + sim::OutstandingText();
  }

  const bool fatal = expected.nineX && !expected.refusedFatalIni.empty();
  if (!result.exited) {
    wrong("the run returned without ending the process");
  } else if (result.exitCode != (fatal ? 1u : 0u)) {
    wrong("exit code " + std::to_string(result.exitCode) + ", expected " + (fatal ? "1" : "0"));
  }

  const std::vector<sim::Box> boxes = sim::Boxes();
  for (size_t i = 0; i < boxes.size(); ++i) {
    const sim::Box& box = boxes[i];
    if (!IsAllowedBox(box)) {
      wrong("message box not the installer's: \"" + box.text + "\" [" + box.caption + "]");
    } else if (IsFatalBox(box) && (!fatal || i + 1 != boxes.size())) {
      wrong("\"" + box.text + "\" shown where no refused INI write ends the run");
    }
  }
  if (fatal) {
    const std::string text = "Unable to write to " + expected.refusedFatalIni;
    if (boxes.empty() || boxes.back().text != text || !IsFatalBox(boxes.back()))
      wrong("the run did not end with \"" + text + "\"");
  }
  return verdict;
}

const char* const kEnumRootSecurityItem = "security HKLM\\SYSTEM\\CURRENTCONTROLSET\\ENUM\\ROOT";

MachineState ReadMachineState() {
  MachineState state;
  for (const std::string& path : sim::ListFiles()) {
    const std::string name = text::Upper(path);
    std::string data;
    sim::FileData(path, &data);
    state["attr " + name] = std::to_string(sim::Attributes(path));
    if (EndsWithNoCase(path, ".INI")) {
      // An INI file is judged by its lines.
      state["file " + name] = "ini file";
      AddIniLines(name, data, &state);
    } else {
      state["file " + name] = data;
    }
  }
  AddKeyItems(HKEY_LOCAL_MACHINE, "", "HKLM", &state);
  AddKeyItems(HKEY_USERS, "", "HKU", &state);
  if (!sim::Is9x(sim::Version()))
    state[kEnumRootSecurityItem] =
        sim::SecurityText(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, kEnumRootKey));
  return state;
}

std::set<std::string> ChangedItems(const MachineState& before, const MachineState& after) {
  std::set<std::string> changed;
  for (const auto& item : before) {
    const auto it = after.find(item.first);
    if (it == after.end() || it->second != item.second) changed.insert(item.first);
  }
  for (const auto& item : after) {
    if (!before.count(item.first)) changed.insert(item.first);
  }
  return changed;
}

std::set<std::string> LostFiles(const MachineState& before, const MachineState& after) {
  std::set<std::string> lost;
  for (const auto& item : before) {
    if (item.first.compare(0, 5, "file ") != 0 || item.second == "ini file") continue;
    const auto same = after.find(item.first);
    if (same != after.end() && same->second == item.second) continue;
    const auto backup = after.find(BackupName(item.first));
    if (backup != after.end() && backup->second == item.second) continue;
    lost.insert(item.first);
  }
  return lost;
}

Allowance AllowanceOf(const MachineState& before, const MachineState& cleanAfter) {
  Allowance allowance{ChangedItems(before, cleanAfter), LostFiles(before, cleanAfter), {}};
  const auto list = cleanAfter.find(kEnumRootSecurityItem);
  if (list != cleanAfter.end()) allowance.lists.insert(list->second);
  return allowance;
}

void Widen(Allowance& allowance, const Allowance& more) {
  allowance.changed.insert(more.changed.begin(), more.changed.end());
  allowance.lost.insert(more.lost.begin(), more.lost.end());
  allowance.lists.insert(more.lists.begin(), more.lists.end());
}

bool IsKeptListItem(const std::string& item) {
  static const std::string kept = "reg HKLM\\SOFTWARE\\MIRAVELT\\ACCESS KEPT FOR ";
  return item.compare(0, kept.size(), kept) == 0;
}

std::string JudgeState(const MachineState& before, const MachineState& after,
                       const Allowance& allowance) {
  std::string why;
  auto add = [&](const std::string& text) { why += (why.empty() ? "" : "; ") + text; };
  for (const std::string& file : LostFiles(before, after)) {
    if (!allowance.lost.count(file)) add("lost " + file);
  }
  const auto was = before.find(kEnumRootSecurityItem);
  if (was != before.end()) {
    const auto now = after.find(kEnumRootSecurityItem);
    if (now == after.end() || (now->second != was->second && !allowance.lists.count(now->second)))
      add("the access list of Enum\\Root is not the one before the run: " +
          (now == after.end() ? std::string("none") : now->second));
  }
  // Registry values and INI lines; new files are the installer's own
  // (staged copies a failure left behind), and files that were there are
  // judged above.
  for (const std::string& item : ChangedItems(before, after)) {
    const bool judged = item.compare(0, 4, "reg ") == 0 || item.compare(0, 4, "ini ") == 0;
    if (judged && !allowance.changed.count(item) && !IsKeptListItem(item)) add("changed " + item);
  }
  return why;
}

}  // namespace prove
