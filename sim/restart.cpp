// What the platform does at its next start: the pending renames of the NT
// family, Wininit.ini's [RENAME] section, and a fresh set of processes.
#include "machine.h"

namespace sim {

const char* const kSessionManagerKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char* const kPendingRenamesValue = "PendingFileRenameOperations";

namespace {

const char kNtPrefix[] = "\\??\\";

std::string WithoutNtPrefix(const std::string& path) {
  if (path.compare(0, 4, kNtPrefix) == 0) return path.substr(4);
  return path;
}

std::string Trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

// The platform's own processes survive a restart (they start again); so
// does the installer's own entry, since a later run stands for the
// installer started anew. Everything else ends.
bool SurvivesRestart(const Machine& m, const ProcessSpec& process) {
  if (process.pid == m.installerPid) return true;
  if (process.imagePath.empty()) return true;  // the idle and system processes
  // Images below the windows folder, also in the native forms
  // "\SystemRoot\..." and "\??\C:\...".
  std::string image = Upper(process.imagePath);
  if (image.compare(0, 12, "\\SYSTEMROOT\\") == 0) return true;
  return image.find(Upper(m.windowsFolder) + "\\") != std::string::npos;
}

void Unlock(Node* node) {
  node->locked = false;
  for (auto& child : node->children) Unlock(child.second.get());
}

void RemovePendingValue() {
  std::string rootName;
  Key* root = RootKey(HKEY_LOCAL_MACHINE, &rootName);
  Key* key = root ? FindKey(root, kSessionManagerKey) : nullptr;
  if (!key) return;
  RemoveValue(key, kPendingRenamesValue);
}

// Wininit.ini's [RENAME] lines in the order of the file: key = new path,
// value = existing path; the key "NUL" deletes a file, and several such lines
// each delete theirs. Afterwards the 9x family keeps the file as WININIT.BAK;
// the NT family removes it.
void ProcessWininit(Machine& m) {
  std::string path = ProfilePath("Wininit.ini");
  if (!Exists(path) || IsFolder(path)) return;
  std::vector<std::string> lines;
  if (ProfileSectionLines("Wininit.ini", "RENAME", &lines)) {
    for (const std::string& line : lines) {
      std::string text = Trimmed(line);
      size_t eq = text.find('=');
      if (text.empty() || text[0] == ';' || eq == std::string::npos) continue;
      std::string target = Trimmed(text.substr(0, eq));
      std::string source = Trimmed(text.substr(eq + 1));
      if (source.empty()) continue;
      if (Upper(target) == "NUL") {
        if (!IsFolder(source)) DeleteEntry(source);
      } else if (!target.empty()) {
        MoveEntry(FullPath(source), FullPath(target), true);
      }
    }
  }
  if (Is9x(m.version)) {
    MoveEntry(path, m.windowsFolder + "\\WININIT.BAK", true);
  } else {
    DeleteEntry(path);
  }
}

}  // namespace

void DropResources(Machine& m) {
  m.handles.clear();
  for (const auto& block : m.blocks) m.retiredBlocks[block.first] = block.second;
  m.blocks.clear();
}

std::vector<std::pair<std::string, std::string>> PendingRenames() {
  std::vector<std::pair<std::string, std::string>> list;
  Value value;
  if (!RegGet(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue, &value)) return list;
  const std::string& data = value.data;
  size_t pos = 0;
  auto next = [&]() {
    size_t zero = data.find('\0', pos);
    if (zero == std::string::npos) zero = data.size();
    std::string s = data.substr(pos, zero - pos);
    pos = zero + 1;
    return s;
  };
  // Pairs until an empty source ends the list.
  while (pos < data.size()) {
    std::string from = next();
    if (from.empty()) break;
    std::string to = pos < data.size() ? next() : std::string();
    list.emplace_back(from, to);
  }
  return list;
}

void Restart() {
  Machine& m = M();
  for (const auto& entry : PendingRenames()) {
    std::string from = WithoutNtPrefix(entry.first);
    if (entry.second.empty()) {
      // A deletion: a file, or a folder that is empty by now.
      DeleteEntry(from);
      continue;
    }
    bool replace = entry.second[0] == '!';
    std::string to = WithoutNtPrefix(replace ? entry.second.substr(1) : entry.second);
    MoveEntry(FullPath(from), FullPath(to), replace);
  }
  RemovePendingValue();
  ProcessWininit(m);

  std::vector<DWORD> ended;
  for (const ProcessSpec& process : m.processes) {
    if (!SurvivesRestart(m, process)) ended.push_back(process.pid);
  }
  RemoveProcesses(ended);
  for (Drive& drive : m.drives) Unlock(&drive.root);
  DropResources(m);
  m.lastError = ERROR_SUCCESS;
}

}  // namespace sim
