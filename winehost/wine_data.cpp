// What the Wine host reads back, INI text and bytes.
#include "wine_data.h"

#include <strings.h>

#include <sstream>

namespace winehost {

// ------------------------------------------------------------ data read back

namespace {
template <typename Map>
auto FindNoCase(Map& m, const std::string& key) -> decltype(m.begin()) {
  auto it = m.find(key);
  if (it != m.end()) return it;
  for (it = m.begin(); it != m.end(); ++it)
    if (EqualNoCase(it->first, key)) return it;
  return m.end();
}
}  // namespace

bool RegTree::HasKey(const std::string& relPath) const {
  for (const auto& k : keys)
    if (EqualNoCase(k, relPath)) return true;
  return false;
}

const RegValue* RegTree::Value(const std::string& relPath, const std::string& name) const {
  auto key = FindNoCase(values, relPath);
  if (key == values.end()) return nullptr;
  auto value = FindNoCase(key->second, name);
  return value == key->second.end() ? nullptr : &value->second;
}

size_t RegTree::ValueCount() const {
  size_t n = 0;
  for (const auto& k : values) n += k.second.size();
  return n;
}

// ----------------------------------------------------------------- INI text

namespace {
std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// Calls f(line) for each line of the section; stops when f returns false.
template <typename F>
void ForSectionLines(const std::string& text, const std::string& section, F f) {
  std::istringstream in(text);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    if (!t.empty() && t[0] == '[') {
      size_t close = t.find(']');
      inside = close != std::string::npos && EqualNoCase(Trim(t.substr(1, close - 1)), section);
      continue;
    }
    if (inside && !f(line)) return;
  }
}
}  // namespace

bool IniValue(const std::string& text, const std::string& section, const std::string& key,
              std::string* value) {
  bool found = false;
  ForSectionLines(text, section, [&](const std::string& line) {
    size_t eq = line.find('=');
    if (eq == std::string::npos || !EqualNoCase(Trim(line.substr(0, eq)), key)) return true;
    *value = Trim(line.substr(eq + 1));
    found = true;
    return false;
  });
  return found;
}

std::vector<std::string> IniSectionLines(const std::string& text, const std::string& section) {
  std::vector<std::string> out;
  ForSectionLines(text, section, [&](const std::string& line) {
    out.push_back(line);
    return true;
  });
  while (!out.empty() && Trim(out.back()).empty()) out.pop_back();
  return out;
}

// ------------------------------------------------------------------ bytes

std::string WinBasename(const std::string& winPath) {
  size_t cut = winPath.find_last_of("\\/:");
  return cut == std::string::npos ? winPath : winPath.substr(cut + 1);
}

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
  return out;
}

std::string DwordBytes(uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  return out;
}

std::string SzBytes(const std::string& s) { return s + std::string(1, '\0'); }

}  // namespace winehost
