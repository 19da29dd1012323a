// The report as one JSON document, for pipelines that compare two disc
// builds: the same findings as the text report, with numbers as numbers and
// the exact bytes of registry values.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "report.h"

namespace preview {

namespace {

using nlohmann::json;

std::string Hex(const std::string& data) {
  std::string text;
  text.reserve(data.size() * 2);
  for (char c : data) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
    text += pair;
  }
  return text;
}

// Text and lists of texts as registry values hold them, when they do.
bool SplitStrings(const std::string& data, std::vector<std::string>* out) {
  if (data.size() < 2 || data.compare(data.size() - 2, 2, std::string(2, '\0')) != 0) return false;
  std::string rest = data.substr(0, data.size() - 1);
  for (size_t start = 0; start < rest.size();) {
    size_t zero = rest.find('\0', start);
    if (zero == start) return false;  // an empty string inside the list
    out->push_back(rest.substr(start, zero - start));
    start = zero + 1;
  }
  return true;
}

json ValueJson(const sim::Value& v) {
  json value = {{"type", TypeName(v.type)}, {"bytes", v.data.size()}, {"hex", Hex(v.data)}};
  bool text = !v.data.empty() && v.data.find('\0') == v.data.size() - 1;
  std::vector<std::string> strings;
  if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && text) {
    value["text"] = v.data.substr(0, v.data.size() - 1);
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD n = 0;
    for (size_t i = 0; i < 4; ++i) {
      n |= static_cast<DWORD>(static_cast<unsigned char>(v.data[i])) << (8 * i);
    }
    value["number"] = n;
  } else if (v.type == REG_MULTI_SZ && SplitStrings(v.data, &strings)) {
    value["strings"] = strings;
  }
  return value;
}

json FileJson(const FileChange& f) {
  json file = {{"path", f.path}, {"bytes", f.bytes}, {"new", f.isNew}};
  file["from"] = f.origin.empty() ? json() : json(f.origin);
  file["attributesBefore"] = f.isNew ? json() : json(f.attributesBefore);
  file["attributesAfter"] = f.attributesAfter;
  if (f.staged) file["becomes"] = f.becomes.empty() ? json() : json(f.becomes);
  return file;
}

json FileListJson(const std::vector<FileChange>& list) {
  json files = json::array();
  for (const FileChange& f : list) files.push_back(FileJson(f));
  return files;
}

json RemovedJson(const std::vector<FileChange>& list) {
  json files = json::array();
  for (const FileChange& f : list) files.push_back({{"path", f.path}, {"bytes", f.bytes}});
  return files;
}

json RenamesJson(const std::vector<Rename>& renames) {
  json list = json::array();
  for (const Rename& r : renames) {
    list.push_back(
        {{"from", r.from}, {"to", r.to.empty() ? json() : json(r.to)}, {"replace", r.replace}});
  }
  return list;
}

json RegistryJson(const RegistryChanges& changes) {
  json keys = json::array();
  for (const KeyChange& k : changes.keys) {
    json written = json::array();
    for (const ValueChange& v : k.written) {
      json value = {{"name", v.name}, {"value", ValueJson(v.value)}};
      value["was"] = v.hadOld ? ValueJson(v.old) : json();
      written.push_back(value);
    }
    keys.push_back({{"path", k.path},
                    {"new", k.created},
                    {"written", written},
                    {"removedValues", k.removedValues}});
  }
  json security = json::array();
  for (const SecurityChange& s : changes.security) {
    security.push_back({{"path", s.path}, {"before", s.before}, {"after", s.after}});
  }
  return {{"keys", keys}, {"removedKeys", changes.removedKeys}, {"accessLists", security}};
}

json IniJson(const std::vector<IniChange>& changes) {
  json files = json::array();
  for (const IniChange& c : changes) {
    json sections = json::array();
    for (const auto& section : c.sections) {
      // "[Name]" in the text report; the lines before the first header have
      // no name.
      const std::string& header = section.first;
      json name = header.size() >= 2 ? json(header.substr(1, header.size() - 2)) : json();
      sections.push_back({{"section", name}, {"lines", section.second}});
    }
    files.push_back(
        {{"path", c.path}, {"new", c.created}, {"removed", c.removed}, {"sections", sections}});
  }
  return files;
}

}  // namespace

std::string JsonReport(const RunReport& r) {
  json doc;
  doc["windows"] = r.windowsName;
  doc["family"] = r.nineX ? "9x" : "nt";
  doc["commandLine"] = r.commandLine;
  doc["sourceFolder"] = r.sourceFolder;
  doc["source"] = r.sourceText;
  doc["discs"] = r.discs;

  json boxes = json::array();
  for (const sim::Box& box : r.boxes) {
    boxes.push_back({{"caption", box.caption}, {"text", box.text}, {"type", box.type}});
  }
  doc["messageBoxes"] = boxes;

  FileChanges files = CompareFiles(r.before, r.after, r.renames, r);
  doc["files"] = {{"placed", FileListJson(files.placed)},
                  {"staged", FileListJson(files.staged)},
                  {"removed", RemovedJson(files.removed)},
                  {"attributesChanged", FileListJson(files.attributes)}};
  doc["registry"] = RegistryJson(r.registry);
  doc["ini"] = IniJson(CompareIniFiles(r.before, r.after, WininitPath()));
  doc["renames"] = RenamesJson(r.renames);

  FileChanges restart = CompareFiles(r.before, r.afterRestart, {}, r);
  doc["afterRestart"] = {{"renamesPending", RenamesJson(r.renamesLeft)},
                         {"placed", FileListJson(restart.placed)},
                         {"removed", RemovedJson(restart.removed)}};

  doc["platformCalls"] = r.callCount;
  if (r.trace) {
    json calls = json::array();
    for (const sim::Call& call : r.calls) {
      calls.push_back({{"function", call.function},
                       {"args", call.args},
                       {"result", call.result},
                       {"lastError", call.lastError},
                       {"failedOnPurpose", call.injected}});
    }
    doc["calls"] = calls;
  }
  doc["exited"] = r.result.exited;
  doc["exitCode"] = r.result.exited ? json(r.result.exitCode) : json();
  // Names and texts are ANSI bytes; any that are not UTF-8 show U+FFFD here
  // (the exact bytes of registry values are in their "hex").
  return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace preview
