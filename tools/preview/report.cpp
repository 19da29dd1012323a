#include "report.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <set>
#include <sstream>

#include "installer_process.h"
#include "preview.h"
#include "text.h"

namespace preview {

namespace {

using text::Upper;

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Text in double quotes; bytes that would not print are shown as \xNN. Long
// texts are cut after 1024 bytes (the JSON report has them whole).
std::string Quoted(const std::string& whole) {
  const size_t kLongest = 1024;
  std::string text = whole.substr(0, kLongest);
  std::string q = "\"";
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      q += '\\';
      q += c;
    } else if (u < 32 || u == 127) {
      q += "\\x" + text::HexDigits(u, 2);
    } else {
      q += c;
    }
  }
  q += "\"";
  if (whole.size() > kLongest) {
    q += "... (" + std::to_string(whole.size() - kLongest) + " more bytes)";
  }
  return q;
}

std::string Bytes(size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// Whether data is one text with exactly its terminating zero.
bool IsText(const std::string& data) {
  return !data.empty() && data.back() == '\0' && data.find('\0') == data.size() - 1;
}

bool IsMultiText(const std::string& data) {
  if (data.size() < 2 || data[data.size() - 1] != '\0' || data[data.size() - 2] != '\0') {
    return false;
  }
  // No empty string before the final one.
  return data.size() == 2 ? false : data.find(std::string(2, '\0')) == data.size() - 2;
}

DWORD DwordValue(const std::string& data) {
  DWORD n = 0;
  for (size_t i = 0; i < 4; ++i)
    n |= static_cast<DWORD>(static_cast<unsigned char>(data[i])) << (8 * i);
  return n;
}

std::string HexList(const std::string& data, size_t limit) {
  std::string text;
  for (size_t i = 0; i < data.size() && i < limit; ++i) {
    if (i) text += ' ';
    text += text::HexDigits(static_cast<unsigned char>(data[i]), 2);
  }
  if (data.size() > limit) text += " ...";
  return text;
}

std::string ValueTextOf(const sim::Value& v) {
  std::string text = TypeName(v.type) + " ";
  if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && IsText(v.data)) {
    text += Quoted(v.data.substr(0, v.data.size() - 1));
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD n = DwordValue(v.data);
    text += "0x" + text::HexDigits(n, 8) + " (" + std::to_string(n) + ")";
  } else if (v.type == REG_MULTI_SZ && IsMultiText(v.data)) {
    std::string rest = v.data.substr(0, v.data.size() - 2);
    std::string list;
    size_t start = 0;
    while (true) {
      size_t zero = rest.find('\0', start);
      list += (list.empty() ? "" : ", ") + Quoted(rest.substr(start, zero - start));
      if (zero == std::string::npos) break;
      start = zero + 1;
    }
    text += list;
  } else {
    text += v.data.empty() ? "(no data)" : HexList(v.data, 32);
  }
  return text + ", " + Bytes(v.data.size());
}

std::string ValueName(const std::string& name) { return name.empty() ? "(default)" : Quoted(name); }

bool IsPendingRenameList(const std::string& key, const std::string& name) {
  return Upper(name) == "PENDINGFILERENAMEOPERATIONS" &&
         EndsWith(Upper(key), "\\CONTROL\\SESSION MANAGER");
}

bool SameValue(const sim::Value& a, const sim::Value& b) {
  return a.type == b.type && a.data == b.data;
}

// ------------------------------------------------------------ the registry

// Every key below root, parents before their subkeys in index order. The
// keys still to visit are kept in a list, so the depth of the tree costs no
// stack.
void WalkKeys(HKEY root, const std::string& rootName, bool withSecurity, RegistrySnapshot* out) {
  std::vector<std::string> pending = {std::string()};
  while (!pending.empty()) {
    std::string key = std::move(pending.back());
    pending.pop_back();
    KeyState state;
    state.path = key.empty() ? rootName : rootName + "\\" + key;
    for (const std::string& name : sim::RegValueNames(root, key)) {
      sim::Value value;
      if (sim::RegGet(root, key, name, &value)) state.values.emplace_back(name, value);
    }
    if (withSecurity && !key.empty()) {
      state.hasSecurity = true;
      state.security = sim::GetKeySecurity(root, key);
    }
    std::string id = Upper(state.path);
    out->order.push_back(id);
    out->keys[id] = std::move(state);
    std::vector<std::string> subkeys = sim::RegSubkeys(root, key);
    for (auto sub = subkeys.rbegin(); sub != subkeys.rend(); ++sub) {
      pending.push_back(key.empty() ? *sub : key + "\\" + *sub);
    }
  }
}

// ------------------------------------------------------------ INI files

struct IniSection {
  std::string name;
  std::vector<std::string> lines;
};

// The lines of each section, blank lines left out; section 0 holds the lines
// before the first header. A second header of the same name continues it.
std::vector<IniSection> IniSections(const std::string& text) {
  std::vector<IniSection> sections(1);
  size_t current = 0;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    if (line[first] == '[') {
      size_t close = line.find(']', first);
      std::string name = line.substr(
          first + 1, close == std::string::npos ? std::string::npos : close - first - 1);
      current = 0;
      for (size_t i = 1; i < sections.size() && current == 0; ++i) {
        if (Upper(sections[i].name) == Upper(name)) current = i;
      }
      if (current == 0) {
        sections.push_back({name, {}});
        current = sections.size() - 1;
      }
      continue;
    }
    sections[current].lines.push_back(line);
  }
  return sections;
}

const IniSection* FindSection(const std::vector<IniSection>& sections, const std::string& name,
                              bool preamble) {
  if (preamble) return &sections[0];
  for (size_t i = 1; i < sections.size(); ++i) {
    if (Upper(sections[i].name) == Upper(name)) return &sections[i];
  }
  return nullptr;
}

// Section header ("" for the lines before the first one) and its line
// differences, for every section that differs.
SectionDiffList SectionDiffs(const std::string& oldText, const std::string& newText) {
  SectionDiffList result;
  std::vector<IniSection> oldSections = IniSections(oldText);
  std::vector<IniSection> newSections = IniSections(newText);
  std::vector<std::pair<std::string, bool>> names = {{"", true}};
  for (const auto* list : {&oldSections, &newSections}) {
    for (size_t i = 1; i < list->size(); ++i) {
      bool known = std::any_of(names.begin() + 1, names.end(), [&](const auto& n) {
        return Upper(n.first) == Upper((*list)[i].name);
      });
      if (!known) names.emplace_back((*list)[i].name, false);
    }
  }
  for (const auto& name : names) {
    const IniSection* o = FindSection(oldSections, name.first, name.second);
    const IniSection* n = FindSection(newSections, name.first, name.second);
    std::vector<std::string> diff = DiffLines(o ? o->lines : std::vector<std::string>(),
                                              n ? n->lines : std::vector<std::string>());
    bool headerOnly = diff.empty() && !name.second && (o == nullptr) != (n == nullptr);
    if (!diff.empty() || headerOnly) {
      result.emplace_back(name.second ? std::string() : "[" + name.first + "]", diff);
    }
  }
  return result;
}

bool IsIniPath(const std::string& upperPath) { return EndsWith(upperPath, ".INI"); }

}  // namespace

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
  }
  return "type " + std::to_string(type);
}

std::string WininitPath() { return Upper(sim::WindowsFolder() + "\\WININIT.INI"); }

std::vector<IniChange> CompareIniFiles(const FileSnapshot& before, const FileSnapshot& after,
                                       const std::string& skip) {
  std::set<std::string> paths;
  for (const auto& f : before) {
    if (IsIniPath(f.first)) paths.insert(f.first);
  }
  for (const auto& f : after) {
    if (IsIniPath(f.first)) paths.insert(f.first);
  }
  std::vector<IniChange> changes;
  for (const std::string& id : paths) {
    if (id == skip) continue;
    auto b = before.find(id), a = after.find(id);
    std::string oldText = b == before.end() ? std::string() : b->second.data;
    std::string newText = a == after.end() ? std::string() : a->second.data;
    if (b != before.end() && a != after.end() && oldText == newText) continue;
    IniChange change;
    change.path = a != after.end() ? a->second.path : b->second.path;
    change.created = b == before.end();
    change.removed = a == after.end();
    change.sections = SectionDiffs(oldText, newText);
    changes.push_back(change);
  }
  return changes;
}

// ------------------------------------------------------------ files

namespace {

std::string Origin(const FileState& file, const FileSnapshot& before, const RunReport& report) {
  for (const auto& f : before) {
    const std::string& p = f.second.path;
    bool fromSource =
        Upper(p).compare(0, report.sourceFolder.size(), Upper(report.sourceFolder)) == 0;
    bool fromDisc = p.size() > 1 && p[1] == ':' && Upper(p.substr(0, 1)) != "C";
    if ((fromSource || fromDisc) && f.second.data == file.data && Upper(p) != Upper(file.path)) {
      return p;
    }
  }
  return std::string();
}

std::string AttributeText(DWORD a) {
  std::string flags;
  if (a & FILE_ATTRIBUTE_READONLY) flags += " read-only";
  if (a & FILE_ATTRIBUTE_HIDDEN) flags += " hidden";
  if (a & FILE_ATTRIBUTE_SYSTEM) flags += " system";
  if (a & FILE_ATTRIBUTE_ARCHIVE) flags += " archive";
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%02x", static_cast<unsigned>(a));
  return std::string(buffer) + (flags.empty() ? "" : " (" + flags.substr(1) + ")");
}

}  // namespace

FileChanges CompareFiles(const FileSnapshot& before, const FileSnapshot& after,
                         const std::vector<Rename>& renames, const RunReport& report) {
  std::map<std::string, std::string> stagedTo;
  for (const Rename& r : renames) stagedTo.emplace(Upper(r.from), r.to);
  FileChanges changes;
  for (const auto& f : after) {
    if (IsIniPath(f.first)) continue;
    auto b = before.find(f.first);
    const FileState& now = f.second;
    FileChange change;
    change.path = now.path;
    change.bytes = now.data.size();
    change.attributesAfter = now.attributes;
    if (b != before.end()) {
      change.attributesBefore = b->second.attributes;
      change.attributesChanged = b->second.attributes != now.attributes;
    }
    if (b != before.end() && b->second.data == now.data) {
      if (change.attributesChanged) changes.attributes.push_back(change);
      continue;
    }
    change.isNew = b == before.end();
    change.origin = Origin(now, before, report);
    auto staged = stagedTo.find(f.first);
    if (staged != stagedTo.end()) {
      change.staged = true;
      change.becomes = staged->second;
      changes.staged.push_back(change);
    } else {
      changes.placed.push_back(change);
    }
  }
  for (const auto& f : before) {
    if (!IsIniPath(f.first) && after.count(f.first) == 0) {
      FileChange change;
      change.path = f.second.path;
      change.bytes = f.second.data.size();
      change.attributesBefore = f.second.attributes;
      changes.removed.push_back(change);
    }
  }
  return changes;
}

namespace {

enum class ListKind { Changed, Removed, Attributes };

// What the text report says of a file after its path.
std::string WhatText(const FileChange& f, ListKind kind) {
  std::string attributes =
      AttributeText(f.attributesBefore) + " -> " + AttributeText(f.attributesAfter);
  if (kind == ListKind::Removed) return std::string();
  if (kind == ListKind::Attributes) return attributes;
  std::string what = std::string(f.isNew ? "new" : "replaced") + ", " + Bytes(f.bytes) +
                     (f.origin.empty() ? std::string() : ", from " + f.origin);
  if (f.attributesChanged) what += "; attributes " + attributes;
  if (f.staged) {
    what += f.becomes.empty() ? "; deleted at the restart"
                              : "; becomes " + f.becomes + " at the restart";
  }
  return what;
}

void WriteFileList(std::ostream& out, const std::string& title, const std::vector<FileChange>& list,
                   ListKind kind, const std::string& indent = "  ") {
  out << "\n" << title << " (" << list.size() << ")\n";
  if (list.empty()) {
    out << indent << "none\n";
    return;
  }
  size_t width = 0;
  for (const FileChange& f : list) width = std::max(width, std::min<size_t>(f.path.size(), 56));
  for (const FileChange& f : list) {
    out << indent << f.path;
    std::string what = WhatText(f, kind);
    if (!what.empty()) {
      out << std::string(f.path.size() < width ? width - f.path.size() : 0, ' ') << "  " << what;
    }
    out << "\n";
  }
}

std::string RenameText(const Rename& r) {
  if (r.to.empty()) return "delete " + r.from;
  return r.from + "  ->  " + r.to + (r.replace ? "  (replacing)" : "");
}

// ------------------------------------------------------------ REGEDIT4

std::string Regedit4String(const std::string& text) {
  std::string q = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

std::string Regedit4Data(const sim::Value& v, size_t nameWidth) {
  if (v.type == REG_SZ && IsText(v.data)) {
    return Regedit4String(v.data.substr(0, v.data.size() - 1));
  }
  if (v.type == REG_DWORD && v.data.size() == 4)
    return "dword:" + text::HexDigits(DwordValue(v.data), 8);
  std::string text = v.type == REG_BINARY ? "hex:" : "hex(" + std::to_string(v.type) + "):";
  size_t column = nameWidth + 1 + text.size();
  for (size_t i = 0; i < v.data.size(); ++i) {
    text += text::HexDigits(static_cast<unsigned char>(v.data[i]), 2);
    column += 2;
    if (i + 1 < v.data.size()) {
      text += ',';
      ++column;
      if (column > 76) {
        text += "\\\r\n  ";
        column = 2;
      }
    }
  }
  return text;
}

}  // namespace

std::string ValueText(const sim::Value& value) { return ValueTextOf(value); }

std::vector<std::string> IniDifferences(const std::string& before, const std::string& after) {
  std::vector<std::string> lines;
  for (const auto& section : SectionDiffs(before, after)) {
    if (!section.first.empty()) lines.push_back(section.first);
    lines.insert(lines.end(), section.second.begin(), section.second.end());
  }
  return lines;
}

// ------------------------------------------------------------ snapshots

FileSnapshot TakeFiles() {
  FileSnapshot files;
  for (const std::string& path : sim::ListFiles()) {
    FileState state;
    state.path = path;
    sim::FileData(path, &state.data);
    state.attributes = sim::Attributes(path);
    files[Upper(path)] = state;
  }
  return files;
}

RegistrySnapshot TakeRegistry(bool withSecurity) {
  RegistrySnapshot snapshot;
  WalkKeys(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", withSecurity, &snapshot);
  WalkKeys(HKEY_USERS, "HKEY_USERS", withSecurity, &snapshot);
  // The running user's key is shown under its usual name.
  std::string user = "HKEY_USERS\\" + sim::CurrentUserSid();
  for (auto& key : snapshot.keys) {
    std::string& path = key.second.path;
    if (Upper(path).compare(0, user.size(), Upper(user)) == 0 &&
        (path.size() == user.size() || path[user.size()] == '\\')) {
      path = "HKEY_CURRENT_USER" + path.substr(user.size());
    }
  }
  return snapshot;
}

RegistryChanges CompareRegistry(const RegistrySnapshot& before, const RegistrySnapshot& after) {
  RegistryChanges changes;
  for (const std::string& id : after.order) {
    const KeyState& now = after.keys.at(id);
    auto old = before.keys.find(id);
    KeyChange change;
    change.path = now.path;
    change.created = old == before.keys.end();
    for (const auto& value : now.values) {
      ValueChange v;
      v.name = value.first;
      v.value = value.second;
      if (!change.created) {
        for (const auto& o : old->second.values) {
          if (Upper(o.first) == Upper(value.first)) {
            v.hadOld = true;
            v.old = o.second;
          }
        }
      }
      if (!v.hadOld || !SameValue(v.old, v.value)) change.written.push_back(v);
    }
    if (!change.created) {
      for (const auto& o : old->second.values) {
        bool kept = std::any_of(now.values.begin(), now.values.end(),
                                [&](const auto& n) { return Upper(n.first) == Upper(o.first); });
        if (!kept) change.removedValues.push_back(o.first);
      }
      if (old->second.hasSecurity && now.hasSecurity && !(old->second.security == now.security)) {
        changes.security.push_back(
            {now.path, sim::SecurityText(old->second.security), sim::SecurityText(now.security)});
      }
    }
    if (change.created || !change.written.empty() || !change.removedValues.empty()) {
      changes.keys.push_back(change);
    }
  }
  for (const std::string& id : before.order) {
    if (after.keys.count(id)) continue;
    size_t slash = id.find_last_of('\\');
    bool parentGone = slash != std::string::npos && before.keys.count(id.substr(0, slash)) &&
                      !after.keys.count(id.substr(0, slash));
    if (!parentGone) changes.removedKeys.push_back(before.keys.at(id).path);
  }
  return changes;
}

std::vector<Rename> PendingRenamesNow(bool nineX, const FileSnapshot& files) {
  std::vector<Rename> renames;
  if (!nineX) {
    for (const auto& pair : sim::PendingRenames()) {
      Rename r;
      r.from = pair.first;
      if (r.from.compare(0, 4, "\\??\\") == 0) r.from = r.from.substr(4);
      r.to = pair.second;
      if (!r.to.empty() && r.to[0] == '!') {
        r.replace = true;
        r.to = r.to.substr(1);
      }
      if (r.to.compare(0, 4, "\\??\\") == 0) r.to = r.to.substr(4);
      renames.push_back(r);
    }
    return renames;
  }
  auto wininit = files.find(WininitPath());
  if (wininit == files.end()) return renames;
  for (const IniSection& section : IniSections(wininit->second.data)) {
    if (Upper(section.name) != "RENAME") continue;
    for (const std::string& line : section.lines) {
      size_t eq = line.find('=');
      if (eq == std::string::npos || line[0] == ';') continue;
      Rename r;
      r.from = line.substr(eq + 1);
      r.to = line.substr(0, eq);
      r.replace = true;
      if (Upper(r.to) == "NUL") r.to.clear();
      renames.push_back(r);
    }
  }
  return renames;
}

std::vector<std::string> DiffLines(const std::vector<std::string>& a,
                                   const std::vector<std::string>& b) {
  size_t start = 0;
  while (start < a.size() && start < b.size() && a[start] == b[start]) ++start;
  size_t endA = a.size(), endB = b.size();
  while (endA > start && endB > start && a[endA - 1] == b[endB - 1]) {
    --endA;
    --endB;
  }
  size_t n = endA - start, m = endB - start;
  std::vector<std::string> diff;
  if (n * m > 4000000) {
    // Too large to match line by line: everything between is shown replaced.
    for (size_t i = start; i < endA; ++i) diff.push_back("- " + a[i]);
    for (size_t j = start; j < endB; ++j) diff.push_back("+ " + b[j]);
    return diff;
  }
  // Longest common subsequence over the differing middle.
  std::vector<std::vector<unsigned>> lcs(n + 1, std::vector<unsigned>(m + 1, 0));
  for (size_t i = n; i-- > 0;) {
    for (size_t j = m; j-- > 0;) {
      lcs[i][j] = a[start + i] == b[start + j] ? lcs[i + 1][j + 1] + 1
                                               : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    }
  }
  size_t i = 0, j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && a[start + i] == b[start + j]) {
      ++i;
      ++j;
    } else if (i < n && (j == m || lcs[i + 1][j] >= lcs[i][j + 1])) {
      diff.push_back("- " + a[start + i++]);
    } else {
      diff.push_back("+ " + b[start + j++]);
    }
  }
  return diff;
}

void CaptureRun(RunReport* report) {
  report->before = TakeFiles();
  RegistrySnapshot registryBefore = TakeRegistry(!report->nineX);
  sim::ClearTrace();
  report->result = sim::RunInstallerProcess();
  report->callCount = sim::CallCount();
  if (report->trace) report->calls = sim::Trace();
  report->boxes = sim::Boxes();
  report->after = TakeFiles();
  report->registry = CompareRegistry(registryBefore, TakeRegistry(!report->nineX));
  report->renames = PendingRenamesNow(report->nineX, report->after);
  sim::Restart();
  report->afterRestart = TakeFiles();
  report->renamesLeft = PendingRenamesNow(report->nineX, report->afterRestart);
}

void WriteReport(const RunReport& r, std::ostream& out) {
  out << "drvsetup.exe on a simulated " << r.windowsName << " ("
      << (r.nineX ? "9x family" : "NT family") << ")\n";
  out << "  source folder  " << r.sourceFolder << " holds " << r.sourceText << "\n";
  for (const std::string& disc : r.discs) out << "  CD-ROM drive   " << disc << "\n";
  out << "  command line   " << r.commandLine << "\n";

  out << "\nMessage boxes (" << r.boxes.size() << ")\n";
  if (r.boxes.empty()) out << "  none\n";
  for (size_t i = 0; i < r.boxes.size(); ++i) {
    const sim::Box& box = r.boxes[i];
    out << "  " << i + 1 << ". [" << box.caption << "] " << box.text;
    if (box.type != 0) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "  (type 0x%04x)", box.type);
      out << buffer;
    }
    out << "\n";
  }

  FileChanges files = CompareFiles(r.before, r.after, r.renames, r);
  WriteFileList(out, "Files placed", files.placed, ListKind::Changed);
  WriteFileList(out, "Files staged, named at the restart", files.staged, ListKind::Changed);
  WriteFileList(out, "Files removed", files.removed, ListKind::Removed);
  if (!files.attributes.empty()) {
    WriteFileList(out, "File attributes changed", files.attributes, ListKind::Attributes);
  }

  size_t written = 0;
  for (const KeyChange& k : r.registry.keys) written += k.written.size();
  out << "\nRegistry values written (" << written << ")\n";
  if (r.registry.keys.empty()) out << "  none\n";
  for (const KeyChange& k : r.registry.keys) {
    out << "  " << k.path << (k.created ? "  (new key)" : "") << "\n";
    for (const ValueChange& v : k.written) {
      if (IsPendingRenameList(k.path, v.name)) {
        // Its contents are the renames shown below.
        out << "    " << ValueName(v.name) << " = " << TypeName(v.value.type) << ", "
            << Bytes(v.value.data.size()) << " (the renames pending, below)\n";
        continue;
      }
      out << "    " << ValueName(v.name) << " = " << ValueTextOf(v.value);
      if (v.hadOld) out << "  (was " << ValueTextOf(v.old) << ")";
      out << "\n";
    }
    for (const std::string& name : k.removedValues)
      out << "    " << ValueName(name) << " removed\n";
  }
  if (!r.registry.removedKeys.empty()) {
    out << "\nRegistry keys removed (" << r.registry.removedKeys.size() << ")\n";
    for (const std::string& key : r.registry.removedKeys) out << "  " << key << "\n";
  }
  if (!r.registry.security.empty()) {
    out << "\nRegistry access lists changed (" << r.registry.security.size() << ")\n";
    for (const SecurityChange& s : r.registry.security) {
      out << "  " << s.path << "\n    before: " << s.before << "\n    after:  " << s.after << "\n";
    }
  }

  std::vector<IniChange> ini = CompareIniFiles(r.before, r.after, WininitPath());
  size_t lines = 0;
  for (const IniChange& c : ini) {
    for (const auto& s : c.sections) lines += s.second.size();
  }
  out << "\nINI entries changed (" << lines << ")\n";
  if (ini.empty()) out << "  none\n";
  for (const IniChange& c : ini) {
    out << "  " << c.path << (c.created ? "  (new file)" : c.removed ? "  (removed)" : "") << "\n";
    for (const auto& section : c.sections) {
      std::string indent = "    ";
      if (!section.first.empty()) {
        out << "    " << section.first << "\n";
        indent = "      ";
      }
      for (const std::string& line : section.second) out << indent << SafeLine(line) << "\n";
    }
  }

  out << "\nRenames pending for the restart (" << r.renames.size() << ", "
      << (r.nineX ? "Wininit.ini [RENAME]" : "PendingFileRenameOperations") << ")\n";
  if (r.renames.empty()) out << "  none\n";
  for (size_t i = 0; i < r.renames.size(); ++i) {
    out << "  " << i + 1 << ". " << RenameText(r.renames[i]) << "\n";
  }

  out << "\nAfter the restart\n";
  if (r.renamesLeft.empty()) {
    out << "  renames still pending: none\n";
  } else {
    out << "  renames still pending: " << r.renamesLeft.size() << "\n";
    for (const Rename& rename : r.renamesLeft) out << "    " << RenameText(rename) << "\n";
  }
  FileChanges restart = CompareFiles(r.before, r.afterRestart, {}, r);
  WriteFileList(out, "  Files new or replaced since before the run", restart.placed,
                ListKind::Changed, "    ");
  WriteFileList(out, "  Files gone since before the run", restart.removed, ListKind::Removed,
                "    ");

  if (r.trace) {
    out << "\nPlatform calls (" << r.calls.size() << ")\n";
    for (size_t i = 0; i < r.calls.size(); ++i) {
      const sim::Call& call = r.calls[i];
      char number[32];
      std::snprintf(number, sizeof number, "%5zu  ", i + 1);
      out << number << call.function << "(" << call.args << ") = " << call.result;
      if (call.lastError != 0) out << "  [error " << call.lastError << "]";
      if (call.injected) out << "  [failed on purpose]";
      out << "\n";
    }
  }

  out << "\nPlatform calls made: " << r.callCount << "\n";
  if (r.result.exited) {
    out << "Exit code: " << r.result.exitCode << "\n";
  } else {
    out << "Exit code: none (the installer returned without ending its process)\n";
  }
}

std::string Regedit4Text(const RunReport& r) {
  std::string text = "REGEDIT4\r\n\r\n";
  for (const std::string& key : r.registry.removedKeys) text += "[-" + key + "]\r\n\r\n";
  for (const KeyChange& k : r.registry.keys) {
    text += "[" + k.path + "]\r\n";
    for (const std::string& name : k.removedValues) {
      text += (name.empty() ? std::string("@") : Regedit4String(name)) + "=-\r\n";
    }
    for (const ValueChange& v : k.written) {
      std::string name = v.name.empty() ? std::string("@") : Regedit4String(v.name);
      text += name + "=" + Regedit4Data(v.value, name.size()) + "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

}  // namespace preview
