// The machine as readable, stable text, and the difference of two such texts.
#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "machine.h"
#include "text.h"

namespace sim {

namespace {

// Contents up to this size are shown as text when printable.
const size_t kShownContents = 64;
// Above this many table cells the difference is taken line by line
// without a common subsequence.
const size_t kMaxDiffCells = 8u * 1024u * 1024u;

const char* DriveTypeName(UINT type) {
  switch (type) {
    case DRIVE_REMOVABLE:
      return "removable";
    case DRIVE_FIXED:
      return "fixed";
    case DRIVE_REMOTE:
      return "network";
    case DRIVE_CDROM:
      return "cdrom";
    case DRIVE_RAMDISK:
      return "ramdisk";
    case DRIVE_UNKNOWN:
      return "unknown";
    default:
      return "none";
  }
}

std::string AttributeLetters(const Node& node) {
  std::string s = "-----";
  if (node.attributes & FILE_ATTRIBUTE_READONLY) s[0] = 'R';
  if (node.attributes & FILE_ATTRIBUTE_HIDDEN) s[1] = 'H';
  if (node.attributes & FILE_ATTRIBUTE_SYSTEM) s[2] = 'S';
  if (node.attributes & FILE_ATTRIBUTE_ARCHIVE) s[3] = 'A';
  if (node.folder) s[4] = 'D';
  return s;
}

std::string TimeText(uint64_t fileTime) {
  // Days and seconds since 1601-01-01 (UTC), shown as a civil date.
  uint64_t seconds = fileTime / 10000000ull;
  int64_t z = static_cast<int64_t>(seconds / 86400) - 134774 + 719468;
  uint64_t inDay = seconds % 86400;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  int64_t year = yoe + era * 400 + (month <= 2);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d %02d:%02d:%02d", static_cast<long long>(year),
                month, day, static_cast<int>(inDay / 3600), static_cast<int>((inDay / 60) % 60),
                static_cast<int>(inDay % 60));
  return buf;
}

bool Printable(const std::string& data) {
  for (unsigned char c : data) {
    if ((c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c >= 0x7f) return false;
  }
  return true;
}

std::string ContentsText(const std::string& data) {
  if (data.size() <= kShownContents && Printable(data)) return Quote(data.c_str());
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : data) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char buf[24];
  std::snprintf(buf, sizeof buf, "#%016llx", static_cast<unsigned long long>(hash));
  return buf;
}

bool IsIni(const std::string& name) {
  return name.size() > 4 && Upper(name.substr(name.size() - 4)) == ".INI";
}

void DumpFolder(const Node& folder, const std::string& prefix, std::string* files,
                std::vector<std::pair<std::string, const Node*>>* inis) {
  for (const auto& entry : folder.children) {
    const Node& node = *entry.second;
    std::string path = prefix + "\\" + node.name;
    if (node.folder) {
      *files += path + "\\  " + AttributeLetters(node) + "\n";
      DumpFolder(node, path, files, inis);
      continue;
    }
    *files += path + "  " + AttributeLetters(node) + "  " + std::to_string(node.data.size()) +
              "  " + TimeText(node.lastWrite) + "  " + ContentsText(node.data);
    if (node.locked) *files += "  locked";
    *files += "\n";
    if (IsIni(node.name)) inis->emplace_back(path, &node);
  }
}

bool HasExplicitSecurity(const Key& key) {
  if (key.security.isProtected) return true;
  for (const Ace& ace : key.security.dacl) {
    if (!(ace.flags & INHERITED_ACE)) return true;
  }
  return false;
}

void DumpSecurity(const Key& key, const std::string& path, std::string* out) {
  if (HasExplicitSecurity(key)) *out += path + "  " + SecurityText(key.security) + "\n";
  for (const std::string& name : key.subkeyOrder) {
    auto it = key.subkeys.find(name);
    if (it == key.subkeys.end()) continue;
    DumpSecurity(*it->second, path + "\\" + it->second->name, out);
  }
}

}  // namespace

std::string Dump() {
  Machine& m = M();
  std::string out;
  out += "[machine]\n";
  out += std::string("version ") + WindowsName(m.version) + "\n";
  out += "windows folder " + m.windowsFolder + "\n";
  out += "system folder " + m.systemFolder + "\n";

  out += "[drives]\n";
  for (const Drive& drive : m.drives) {
    if (drive.type == DRIVE_NO_ROOT_DIR) continue;
    out += drive.root.name + " " + DriveTypeName(drive.type);
    if (!drive.mediumPresent) out += " (no medium)";
    out += "\n";
  }

  out += "[files]\n";
  std::vector<std::pair<std::string, const Node*>> inis;
  for (const Drive& drive : m.drives) DumpFolder(drive.root, drive.root.name, &out, &inis);

  for (const auto& ini : inis) {
    out += "[ini " + ini.first + "]\n";
    for (const std::string& line : text::Lines(ini.second->data)) out += "  " + line + "\n";
  }

  out += "[registry]\n";
  out += RegistryText();
  if (!out.empty() && out.back() != '\n') out += "\n";

  if (!Is9x(m.version)) {
    out += "[security]\n";
    DumpSecurity(m.hklm, "HKEY_LOCAL_MACHINE", &out);
    DumpSecurity(m.hku, "HKEY_USERS", &out);
  }

  out += "[pending renames]\n";
  for (const auto& entry : PendingRenames()) {
    out += entry.first + " -> " + (entry.second.empty() ? "(delete)" : entry.second) + "\n";
  }
  return out;
}

std::string DiffDumps(const std::string& a, const std::string& b) {
  std::vector<std::string> x = text::Lines(a), y = text::Lines(b);
  size_t head = 0;
  while (head < x.size() && head < y.size() && x[head] == y[head]) ++head;
  size_t tail = 0;
  while (tail < x.size() - head && tail < y.size() - head &&
         x[x.size() - 1 - tail] == y[y.size() - 1 - tail])
    ++tail;
  size_t n = x.size() - head - tail, k = y.size() - head - tail;
  std::string out;
  if (n == 0 && k == 0) return out;

  if ((n + 1) * (k + 1) > kMaxDiffCells) {
    // Too large for a common subsequence: lines missing on the other side,
    // counted, in order.
    std::unordered_map<std::string, long> inY, inX;
    for (size_t j = 0; j < k; ++j) ++inY[y[head + j]];
    for (size_t i = 0; i < n; ++i) ++inX[x[head + i]];
    for (size_t i = 0; i < n; ++i) {
      if (inY[x[head + i]]-- <= 0) out += "- " + x[head + i] + "\n";
    }
    for (size_t j = 0; j < k; ++j) {
      if (inX[y[head + j]]-- <= 0) out += "+ " + y[head + j] + "\n";
    }
    return out;
  }

  // Longest common subsequence of the differing middle, from the back.
  std::vector<uint32_t> table((n + 1) * (k + 1), 0);
  auto at = [&](size_t i, size_t j) -> uint32_t& { return table[i * (k + 1) + j]; };
  for (size_t i = n; i-- > 0;) {
    for (size_t j = k; j-- > 0;) {
      at(i, j) =
          x[head + i] == y[head + j] ? at(i + 1, j + 1) + 1 : std::max(at(i + 1, j), at(i, j + 1));
    }
  }
  size_t i = 0, j = 0;
  while (i < n || j < k) {
    if (i < n && j < k && x[head + i] == y[head + j]) {
      ++i;
      ++j;
    } else if (i < n && (j == k || at(i + 1, j) >= at(i, j + 1))) {
      out += "- " + x[head + i++] + "\n";
    } else {
      out += "+ " + y[head + j++] + "\n";
    }
  }
  return out;
}

}  // namespace sim
