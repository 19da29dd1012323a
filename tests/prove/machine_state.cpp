#include "machine_state.h"

#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>

#include "sim.h"
#include "text.h"

namespace prove {

namespace {

// Attribute bits that both machines keep: read-only, hidden, system,
// archive.
const uint32_t kComparedAttributes = 0x27;
// Contents up to this size are part of a file's item.
const size_t kShownContent = 64;

using text::Upper;

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return out;
}

std::string FileItem(uint64_t size, uint32_t attributes, const std::string* data) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "size=%llu attr=0x%02X", static_cast<unsigned long long>(size),
                attributes & kComparedAttributes);
  std::string out = buf;
  if (data && data->size() <= kShownContent) out += " data=\"" + Printable(*data) + "\"";
  return out;
}

std::string ValueItem(uint32_t type, const std::string& data) {
  return "type=" + std::to_string(type) + " data=" + text::HexBytes(data);
}

bool SplitRoot(const std::string& key, HKEY* root, std::string* path) {
  const size_t cut = key.find('\\');
  const std::string name = Upper(key.substr(0, cut));
  *path = cut == std::string::npos ? std::string() : key.substr(cut + 1);
  if (name == "HKLM" || name == "HKEY_LOCAL_MACHINE") {
    *root = HKEY_LOCAL_MACHINE;
  } else if (name == "HKCU" || name == "HKEY_CURRENT_USER") {
    *root = HKEY_CURRENT_USER;
  } else {
    return false;
  }
  return true;
}

bool IsWatchedIni(const Watch& watch, const std::string& path) {
  for (const std::string& ini : watch.iniFiles) {
    if (Upper(ini) == Upper(path)) return true;
  }
  return false;
}

void DumpSimKey(HKEY root, const std::string& path, const std::string& item, State* state) {
  if (!sim::RegKeyExists(root, path)) return;
  (*state)["reg " + Upper(item)] = "key";
  for (const std::string& name : sim::RegValueNames(root, path)) {
    sim::Value value;
    if (sim::RegGet(root, path, name, &value))
      (*state)["reg " + Upper(item) + " : " + Upper(name)] = ValueItem(value.type, value.data);
  }
  for (const std::string& sub : sim::RegSubkeys(root, path))
    DumpSimKey(root, path + "\\" + sub, item + "\\" + sub, state);
}

std::string PendingText(const std::string& from, const std::string& to, bool replace) {
  return from + " -> " + (replace ? "!" : "") + to;
}

}  // namespace

void AddIniItems(const std::string& file, const std::string& text, State* state) {
  const std::string prefix = "ini " + Upper(file);
  std::istringstream in(text);
  std::string line, section, renameOrder;
  while (std::getline(in, line)) {
    const size_t b = line.find_first_not_of(" \t\r");
    if (b == std::string::npos) continue;
    const size_t e = line.find_last_not_of(" \t\r");
    line = line.substr(b, e - b + 1);
    if (line[0] == '[') {
      const size_t close = line.find(']');
      section = Upper(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      (*state)[prefix + " [" + section + "]"] = "section";
      continue;
    }
    const std::string item = prefix + " [" + section + "] " + line;
    const auto it = state->find(item);
    (*state)[item] = std::to_string(it == state->end() ? 1 : std::stoi(it->second) + 1);
    if (section == "RENAME") renameOrder += (renameOrder.empty() ? "" : " | ") + line;
  }
  if (!renameOrder.empty()) (*state)[prefix + " [RENAME] order"] = renameOrder;
}

State SimState(const Watch& watch) {
  State state;
  for (const std::string& folder : watch.folders) {
    for (const std::string& path : sim::ListFiles(folder)) {
      if (IsWatchedIni(watch, path)) continue;
      std::string data;
      sim::FileData(path, &data);
      state["file " + Upper(path)] = FileItem(data.size(), sim::Attributes(path), &data);
    }
  }
  for (const std::string& ini : watch.iniFiles) {
    if (!sim::Exists(ini) || sim::IsFolder(ini)) continue;
    state["ini " + Upper(ini)] = "file";
    AddIniItems(ini, sim::IniText(ini), &state);
  }
  for (const std::string& key : watch.keys) {
    HKEY root;
    std::string path;
    if (SplitRoot(key, &root, &path)) DumpSimKey(root, path, key, &state);
  }
  std::string pending;
  for (const auto& entry : sim::PendingRenames()) {
    const bool replace = !entry.second.empty() && entry.second[0] == '!';
    pending += (pending.empty() ? "" : " | ") +
               PendingText(entry.first, replace ? entry.second.substr(1) : entry.second, replace);
  }
  if (!pending.empty()) state["pending"] = pending;
  if (!watch.securityKey.empty()) {
    state["security " + Upper(watch.securityKey)] =
        sim::SecurityText(sim::GetKeySecurity(HKEY_LOCAL_MACHINE, watch.securityKey));
  }
  return state;
}

State WineState(winehost::WinePrefix& wine, const Watch& watch) {
  State state;
  for (const std::string& folder : watch.folders) {
    for (const winehost::FileEntry& entry : wine.Files(folder)) {
      if (entry.folder) continue;
      const std::string path = folder + "\\" + entry.path;
      if (IsWatchedIni(watch, path)) continue;
      std::string data;
      const bool read = entry.size <= kShownContent && wine.ReadFile(path, &data);
      state["file " + Upper(path)] = FileItem(entry.size, entry.attributes, read ? &data : nullptr);
    }
  }
  for (const std::string& ini : watch.iniFiles) {
    std::string text;
    if (!wine.ReadFile(ini, &text)) continue;
    state["ini " + Upper(ini)] = "file";
    AddIniItems(ini, text, &state);
  }
  for (const std::string& key : watch.keys) {
    const winehost::RegTree tree = wine.DumpKey(key);
    if (!tree.exists) continue;
    for (const std::string& rel : tree.keys) {
      const std::string item = Upper(rel.empty() ? key : key + "\\" + rel);
      state["reg " + item] = "key";
      auto values = tree.values.find(rel);
      if (values == tree.values.end()) continue;
      for (const auto& value : values->second)
        state["reg " + item + " : " + Upper(value.first)] =
            ValueItem(value.second.type, value.second.data);
    }
  }
  std::string pending;
  for (const winehost::PendingRename& entry : wine.PendingRenames())
    pending += (pending.empty() ? "" : " | ") + PendingText(entry.from, entry.to, entry.replace);
  if (!pending.empty()) state["pending"] = pending;
  if (!watch.securityKey.empty()) {
    const winehost::KeySecurity security = wine.KeySecurityOf("MACHINE\\" + watch.securityKey);
    state["security " + Upper(watch.securityKey)] = security.ok ? security.sddl : "unreadable";
  }
  return state;
}

std::map<std::string, std::string> Changes(const State& before, const State& after) {
  std::map<std::string, std::string> out;
  std::set<std::string> items;
  for (const auto& e : before) items.insert(e.first);
  for (const auto& e : after) items.insert(e.first);
  for (const std::string& item : items) {
    auto b = before.find(item);
    auto a = after.find(item);
    const std::string was = b == before.end() ? "absent" : b->second;
    const std::string is = a == after.end() ? "absent" : a->second;
    if (was == is) continue;
    // The two machines write access lists differently; whether it changed
    // is what compares.
    out[item] = item.compare(0, 9, "security ") == 0 ? "changed" : was + " -> " + is;
  }
  return out;
}

std::vector<std::string> CompareChanges(const std::map<std::string, std::string>& sim,
                                        const std::map<std::string, std::string>& wine) {
  std::vector<std::string> out;
  std::set<std::string> items;
  for (const auto& e : sim) items.insert(e.first);
  for (const auto& e : wine) items.insert(e.first);
  for (const std::string& item : items) {
    auto s = sim.find(item);
    auto w = wine.find(item);
    const std::string simChange = s == sim.end() ? "unchanged" : s->second;
    const std::string wineChange = w == wine.end() ? "unchanged" : w->second;
    if (simChange != wineChange)
      out.push_back(item + ": sim " + simChange + "; wine " + wineChange);
  }
  return out;
}

RegistryCopy WineRegistry(winehost::WinePrefix& wine, const std::vector<std::string>& keys) {
  RegistryCopy copy;
  for (const std::string& key : keys) {
    const winehost::RegTree tree = wine.DumpKey(key);
    if (!tree.exists) continue;
    for (const std::string& rel : tree.keys) {
      const std::string full = rel.empty() ? key : key + "\\" + rel;
      copy.keys.push_back(full);
      auto values = tree.values.find(rel);
      if (values == tree.values.end()) continue;
      for (const auto& value : values->second)
        copy.values.push_back({full, value.first, value.second.type, value.second.data});
    }
  }
  return copy;
}

void PutSimRegistry(const RegistryCopy& copy, const std::vector<std::string>& keys) {
  HKEY root;
  std::string path;
  for (const std::string& key : keys) {
    if (SplitRoot(key, &root, &path)) sim::RegRemoveKey(root, path);
  }
  for (const std::string& key : copy.keys) {
    if (SplitRoot(key, &root, &path)) sim::RegPutKey(root, path);
  }
  for (const RegistryCopy::Value& value : copy.values) {
    if (SplitRoot(value.key, &root, &path))
      sim::RegPut(root, path, value.name, value.type, value.data);
  }
}

}  // namespace prove
