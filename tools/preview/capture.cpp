// Capturing a run: the machine's files and registry before the run, after
// it and after the restart, and what differs between them.
#include <algorithm>
#include <functional>
#include <set>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "installer_process.h"
#include "report.h"
#include "text.h"

namespace preview {

namespace {

using text::Upper;

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

bool SameValue(const sim::Value& a, const sim::Value& b) {
  return a.type == b.type && a.data == b.data;
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

// The source and disc files, by size, in path order: a placed file's origin
// is the first of them with the same bytes.
class Origins {
 public:
  Origins(const FileSnapshot& before, const RunReport& report) {
    const std::string source = Upper(report.sourceFolder);
    for (const auto& f : before) {
      const std::string& id = f.first;  // the upper-cased path
      bool fromSource = id.compare(0, source.size(), source) == 0;
      bool fromDisc = id.size() > 1 && id[1] == ':' && id[0] != 'C';
      if (fromSource || fromDisc) bySize_[f.second.data.size()].push_back(&f);
    }
  }
  std::string Of(const std::string& id, const FileState& file) const {
    auto candidates = bySize_.find(file.data.size());
    if (candidates == bySize_.end()) return std::string();
    for (const auto* f : candidates->second) {
      if (f->first != id && f->second.data == file.data) return f->second.path;
    }
    return std::string();
  }

 private:
  std::unordered_map<size_t, std::vector<const FileSnapshot::value_type*>> bySize_;
};

}  // namespace

FileChanges CompareFiles(const FileSnapshot& before, const FileSnapshot& after,
                         const std::vector<Rename>& renames, const RunReport& report) {
  std::map<std::string, std::string> stagedTo;
  for (const Rename& r : renames) stagedTo.emplace(Upper(r.from), r.to);
  const Origins origins(before, report);
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
    change.origin = origins.Of(f.first, now);
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

namespace {

// Every key below root with its upper-cased path, parents before their
// subkeys in index order; the running user's key is shown as
// HKEY_CURRENT_USER.
void WalkKeys(HKEY root, const std::string& rootName, bool withSecurity,
              const std::function<void(std::string id, KeyState state)>& visit) {
  const std::string user = Upper(sim::CurrentUserSid());
  sim::WalkRegistry(root, withSecurity, [&](sim::KeyRecord& record) {
    KeyState state;
    state.path = record.path.empty() ? rootName : rootName + "\\" + record.path;
    std::string id = Upper(state.path);
    const std::string& below = record.path;
    if (root == HKEY_USERS && below.size() >= user.size() &&
        (below.size() == user.size() || below[user.size()] == '\\') &&
        Upper(below.substr(0, user.size())) == user) {
      state.path = "HKEY_CURRENT_USER" + below.substr(user.size());
    }
    state.values = std::move(record.values);
    if (withSecurity && !record.path.empty()) {
      state.hasSecurity = true;
      state.security = std::move(record.security);
    }
    visit(std::move(id), std::move(state));
  });
}

void WalkBothTrees(bool withSecurity,
                   const std::function<void(std::string id, KeyState state)>& visit) {
  WalkKeys(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", withSecurity, visit);
  WalkKeys(HKEY_USERS, "HKEY_USERS", withSecurity, visit);
}

// What changed in one key: old is its state before (nullptr: new key).
void CompareKey(const KeyState* old, const KeyState& now, RegistryChanges* changes) {
  if (old && old->hasSecurity && now.hasSecurity && !(old->security == now.security)) {
    changes->security.push_back(
        {now.path, sim::SecurityText(old->security), sim::SecurityText(now.security)});
  }
  // Values keep their index order, so a key whose values were left alone
  // has the same list: the common case needs no names folded at all.
  if (old && old->values.size() == now.values.size() &&
      std::equal(old->values.begin(), old->values.end(), now.values.begin(),
                 [](const auto& a, const auto& b) {
                   return a.first == b.first && SameValue(a.second, b.second);
                 })) {
    return;
  }
  KeyChange change;
  change.path = now.path;
  change.created = old == nullptr;
  // The values of both sides by their upper-cased names, each name folded
  // once.
  std::unordered_map<std::string, const sim::Value*> oldValues, nowNames;
  if (old) {
    oldValues.reserve(old->values.size());
    for (const auto& o : old->values) oldValues[Upper(o.first)] = &o.second;
    nowNames.reserve(now.values.size());
  }
  for (const auto& value : now.values) {
    ValueChange v;
    v.name = value.first;
    v.value = value.second;
    if (old) {
      std::string name = Upper(value.first);
      auto o = oldValues.find(name);
      if (o != oldValues.end()) {
        v.hadOld = true;
        v.old = *o->second;
      }
      nowNames.emplace(std::move(name), &value.second);
    }
    if (!v.hadOld || !SameValue(v.old, v.value)) change.written.push_back(std::move(v));
  }
  if (old) {
    for (const auto& o : old->values) {
      if (!nowNames.count(Upper(o.first))) change.removedValues.push_back(o.first);
    }
  }
  if (change.created || !change.written.empty() || !change.removedValues.empty()) {
    changes->keys.push_back(std::move(change));
  }
}

// The topmost keys of before that are gone.
void RemovedKeys(const RegistrySnapshot& before,
                 const std::function<bool(const std::string&)>& kept, RegistryChanges* changes) {
  for (const std::string* path : before.order) {
    const std::string& id = *path;
    if (kept(id)) continue;
    size_t slash = id.find_last_of('\\');
    bool parentGone = slash != std::string::npos && before.keys.count(id.substr(0, slash)) &&
                      !kept(id.substr(0, slash));
    if (!parentGone) changes->removedKeys.push_back(before.keys.at(id).path);
  }
}

}  // namespace

RegistrySnapshot TakeRegistry(bool withSecurity) {
  RegistrySnapshot snapshot;
  WalkBothTrees(withSecurity, [&](std::string id, KeyState state) {
    auto at = snapshot.keys.emplace(std::move(id), std::move(state)).first;
    snapshot.order.push_back(&at->first);
  });
  return snapshot;
}

RegistryChanges CompareRegistry(const RegistrySnapshot& before, const RegistrySnapshot& after) {
  RegistryChanges changes;
  for (const std::string* id : after.order) {
    auto old = before.keys.find(*id);
    CompareKey(old == before.keys.end() ? nullptr : &old->second, after.keys.at(*id), &changes);
  }
  RemovedKeys(
      before, [&](const std::string& id) { return after.keys.count(id) != 0; }, &changes);
  return changes;
}

RegistryChanges CompareRegistryNow(const RegistrySnapshot& before, bool withSecurity) {
  // The registry as it stands is compared key by key as the walk reaches
  // it, without a second snapshot; the keys of before that it meets are
  // noted.
  RegistryChanges changes;
  std::unordered_set<const KeyState*> met;
  met.reserve(before.keys.size());
  WalkBothTrees(withSecurity, [&](std::string id, KeyState state) {
    auto old = before.keys.find(id);
    const KeyState* was = old == before.keys.end() ? nullptr : &old->second;
    if (was) met.insert(was);
    CompareKey(was, state, &changes);
  });
  RemovedKeys(
      before,
      [&](const std::string& id) {
        auto old = before.keys.find(id);
        return old != before.keys.end() && met.count(&old->second) != 0;
      },
      &changes);
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
  report->registry = CompareRegistryNow(registryBefore, !report->nineX);
  report->renames = PendingRenamesNow(report->nineX, report->after);
  sim::Restart();
  report->afterRestart = TakeFiles();
  report->renamesLeft = PendingRenamesNow(report->nineX, report->afterRestart);
}

}  // namespace preview
