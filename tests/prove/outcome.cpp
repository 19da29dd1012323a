#include "outcome.h"
#include "harness.h"
#include "text.h"

#include <cctype>

namespace prove {

namespace {

const char kInstallerCaption[] = "Miravelt Installation";
const char kErrorCaption[] = "Application Error";
const unsigned kErrorType = 0x2010;  // MB_ICONERROR | MB_TASKMODAL

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

}  // namespace prove
