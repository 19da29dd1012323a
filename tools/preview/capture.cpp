// Capturing a run: the machine's files and registry before the run, after
// it and after the restart, and what differs between them.
#include <algorithm>
#include <cassert>
#include <functional>
#include <set>
#include <sstream>
#include <unordered_map>

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
// `places` finds a section by its upper-cased name.
struct IniText {
  std::vector<IniSection> sections;
  std::unordered_map<std::string, size_t> places;
};

IniText IniSections(const std::string& text) {
  IniText ini;
  ini.sections.resize(1);
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
      auto place = ini.places.emplace(Upper(name), ini.sections.size());
      if (place.second) ini.sections.push_back({name, {}});
      current = place.first->second;
      continue;
    }
    ini.sections[current].lines.push_back(line);
  }
  return ini;
}

const IniSection* FindSection(const IniText& ini, const std::string& upperName, bool preamble) {
  if (preamble) return &ini.sections[0];
  auto place = ini.places.find(upperName);
  return place == ini.places.end() ? nullptr : &ini.sections[place->second];
}

// Section header ("" for the lines before the first one) and its line
// differences, for every section that differs.
SectionDiffList SectionDiffs(const std::string& oldText, const std::string& newText) {
  SectionDiffList result;
  const IniText oldIni = IniSections(oldText);
  const IniText newIni = IniSections(newText);
  struct Name {
    std::string name, upper;
    bool preamble;
  };
  std::vector<Name> names = {{"", "", true}};
  std::unordered_map<std::string, bool> known;
  for (const IniText* ini : {&oldIni, &newIni}) {
    for (size_t i = 1; i < ini->sections.size(); ++i) {
      std::string upper = Upper(ini->sections[i].name);
      if (known.emplace(upper, true).second)
        names.push_back({ini->sections[i].name, std::move(upper), false});
    }
  }
  for (const Name& name : names) {
    const IniSection* o = FindSection(oldIni, name.upper, name.preamble);
    const IniSection* n = FindSection(newIni, name.upper, name.preamble);
    std::vector<std::string> diff = DiffLines(o ? o->lines : std::vector<std::string>(),
                                              n ? n->lines : std::vector<std::string>());
    bool headerOnly = diff.empty() && !name.preamble && (o == nullptr) != (n == nullptr);
    if (!diff.empty() || headerOnly) {
      result.emplace_back(name.preamble ? std::string() : "[" + name.name + "]", diff);
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

// Every key below root, parents before their subkeys in index order; the
// running user's key is shown as HKEY_CURRENT_USER. The state's values and
// access list are views into the machine, for this visit only.
struct KeyView {
  std::string id;
  std::string path;
  bool unchanged = false;  // it and every key below it, since the mark
  std::vector<std::pair<std::string, sim::Value>> values;
  const sim::KeySecurity* security = nullptr;  // the NT family's, below a root
};

void WalkKeys(HKEY root, const std::string& rootName, bool withSecurity, uint64_t mark,
              const std::function<void(KeyView& key)>& visit) {
  const std::string user = Upper(sim::CurrentUserSid());
  sim::WalkRegistry(
      root, withSecurity,
      [&](sim::KeyRecord& record) {
        KeyView key;
        key.path = record.path.empty() ? rootName : rootName + "\\" + record.path;
        key.id = Upper(key.path);
        const std::string& below = record.path;
        if (root == HKEY_USERS && below.size() >= user.size() &&
            (below.size() == user.size() || below[user.size()] == '\\') &&
            Upper(below.substr(0, user.size())) == user) {
          key.path = "HKEY_CURRENT_USER" + below.substr(user.size());
        }
        key.unchanged = record.unchanged;
        key.values = std::move(record.values);
        if (!record.path.empty()) key.security = record.security;
        visit(key);
      },
      mark);
}

void WalkBothTrees(bool withSecurity, uint64_t mark,
                   const std::function<void(KeyView& key)>& visit) {
  WalkKeys(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", withSecurity, mark, visit);
  WalkKeys(HKEY_USERS, "HKEY_USERS", withSecurity, mark, visit);
}

// What changed in one key: old is its state before (nullptr: new key).
void CompareKey(const KeyState* old, const KeyView& now, RegistryChanges* changes) {
  if (old && old->hasSecurity && now.security && !(old->security == *now.security)) {
    changes->security.push_back(
        {now.path, sim::SecurityText(old->security), sim::SecurityText(*now.security)});
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

}  // namespace

size_t RegistrySnapshot::Find(const std::string& id) const {
  // Places by id in an open-addressed table of twice the keys or more, a
  // place plus one in each used slot: one array, nothing made per key.
  const std::hash<std::string> hash;
  if (index_.empty()) {
    size_t size = 2;
    while (size < 2 * keys.size()) size *= 2;
    index_.assign(size, 0);
    for (size_t i = 0; i < keys.size(); ++i) {
      size_t slot = hash(keys[i].id) & (size - 1);
      while (index_[slot]) slot = (slot + 1) & (size - 1);
      index_[slot] = i + 1;
    }
  }
  const size_t mask = index_.size() - 1;
  for (size_t slot = hash(id) & mask; index_[slot]; slot = (slot + 1) & mask) {
    if (keys[index_[slot] - 1].id == id) return index_[slot] - 1;
  }
  return npos;
}

RegistrySnapshot TakeRegistry(bool withSecurity) {
  RegistrySnapshot snapshot;
  snapshot.mark = sim::RegistryMark();
  // The keys above the one visited, nearest last: its parent is the nearest
  // whose id and a backslash begin its own; the others' trees end here.
  std::vector<size_t> above;
  WalkBothTrees(withSecurity, 0, [&](KeyView& key) {
    const size_t at = snapshot.keys.size();
    while (!above.empty()) {
      const std::string& id = snapshot.keys[above.back()].id;
      if (key.id.size() > id.size() && key.id[id.size()] == '\\' &&
          key.id.compare(0, id.size(), id) == 0) {
        break;
      }
      snapshot.keys[above.back()].end = at;
      above.pop_back();
    }
    KeyState state;
    state.id = std::move(key.id);
    state.path = std::move(key.path);
    state.parent = above.empty() ? at : above.back();
    state.values = std::move(key.values);
    if (key.security) {
      state.hasSecurity = true;
      state.security = *key.security;
    }
    snapshot.keys.push_back(std::move(state));
    above.push_back(at);
  });
  for (size_t at : above) snapshot.keys[at].end = snapshot.keys.size();
  return snapshot;
}

namespace {

#ifndef NDEBUG
bool SameChanges(const RegistryChanges& a, const RegistryChanges& b) {
  auto sameKey = [](const KeyChange& x, const KeyChange& y) {
    return x.path == y.path && x.created == y.created && x.removedValues == y.removedValues &&
           std::equal(x.written.begin(), x.written.end(), y.written.begin(), y.written.end(),
                      [](const ValueChange& v, const ValueChange& w) {
                        return v.name == w.name && SameValue(v.value, w.value) &&
                               v.hadOld == w.hadOld && SameValue(v.old, w.old);
                      });
  };
  auto sameSecurity = [](const SecurityChange& x, const SecurityChange& y) {
    return x.path == y.path && x.before == y.before && x.after == y.after;
  };
  return a.removedKeys == b.removedKeys &&
         std::equal(a.keys.begin(), a.keys.end(), b.keys.begin(), b.keys.end(), sameKey) &&
         std::equal(a.security.begin(), a.security.end(), b.security.begin(), b.security.end(),
                    sameSecurity);
}
#endif

// The comparison walk: keys the run left alone come in the snapshot's own
// order, so the next key of the snapshot is tried first. A key the run made
// below a key it made is new; one below an older key is looked for among
// that key's subkeys in the snapshot, or in the index once those searches
// have cost an eighth of the snapshot. A tree the run left alone is passed
// over whole. False when the registry is not the snapshot's: a tree said
// unchanged that the snapshot does not hold.
bool CompareWalk(const RegistrySnapshot& before, bool withSecurity, uint64_t mark,
                 RegistryChanges* changes) {
  const size_t npos = RegistrySnapshot::npos;
  const std::deque<KeyState>& keys = before.keys;
  std::vector<char> met(keys.size(), 0);
  size_t next = 0, searched = 0;
  bool consistent = true;
  // The keys above the one visited, nearest last, with their places.
  std::vector<std::pair<std::string, size_t>> above;
  auto place = [&](const std::string& id) {
    while (!above.empty()) {
      const std::string& parent = above.back().first;
      if (id.size() > parent.size() && id[parent.size()] == '\\' &&
          id.compare(0, parent.size(), parent) == 0) {
        break;
      }
      above.pop_back();
    }
    if (next < keys.size() && keys[next].id == id) return next;
    if (above.empty() || searched > keys.size() / 8) return before.Find(id);
    const size_t parent = above.back().second;
    if (parent == npos) return npos;
    for (size_t at = parent + 1; at < keys[parent].end; at = keys[at].end) {
      ++searched;
      if (keys[at].id == id) return at;
    }
    return npos;
  };
  WalkBothTrees(withSecurity, mark, [&](KeyView& key) {
    const size_t at = place(key.id);
    if (!key.unchanged) above.emplace_back(key.id, at);
    if (at == RegistrySnapshot::npos) {
      if (key.unchanged) {
        consistent = false;
      } else {
        CompareKey(nullptr, key, changes);
      }
      return;
    }
    const size_t end = key.unchanged ? before.keys[at].end : at + 1;
    if (key.unchanged) {
      std::fill(met.begin() + static_cast<std::ptrdiff_t>(at),
                met.begin() + static_cast<std::ptrdiff_t>(end), 1);
    } else {
      met[at] = 1;
      CompareKey(&before.keys[at], key, changes);
    }
    if (at >= next) next = end;
  });
  // The topmost keys of before that are gone.
  for (size_t i = 0; i < before.keys.size(); ++i) {
    if (met[i]) continue;
    const KeyState& key = before.keys[i];
    if (key.parent == i || met[key.parent]) changes->removedKeys.push_back(key.path);
  }
  return consistent;
}

}  // namespace

RegistryChanges CompareRegistry(const RegistrySnapshot& before, bool withSecurity) {
  RegistryChanges changes;
  if (!CompareWalk(before, withSecurity, before.mark, &changes)) {
    changes = RegistryChanges();
    CompareWalk(before, withSecurity, 0, &changes);
  }
#ifndef NDEBUG
  // The trees passed over are held to the whole walk's result: a change the
  // simulated registry did not note shows here, in every test that
  // previews a run.
  RegistryChanges whole;
  CompareWalk(before, withSecurity, 0, &whole);
  assert(SameChanges(changes, whole));
#endif
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
  const IniText ini = IniSections(wininit->second.data);
  if (const IniSection* section = FindSection(ini, "RENAME", false)) {
    for (const std::string& line : section->lines) {
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
  report->registry = CompareRegistry(registryBefore, !report->nineX);
  report->renames = PendingRenamesNow(report->nineX, report->after);
  sim::Restart();
  report->afterRestart = TakeFiles();
  report->renamesLeft = PendingRenamesNow(report->nineX, report->afterRestart);
}

}  // namespace preview
