#include "machine_file.h"
#include "text.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

namespace preview {

namespace {

using nlohmann::json;

// A fault in the description, with the place it was found.
struct Fault {
  std::string where;
  std::string what;
};

std::string Place(const std::string& where, const std::string& key) {
  return where.empty() ? key : where + "." + key;
}

std::string Place(const std::string& where, size_t index) {
  return where + "[" + std::to_string(index) + "]";
}

const json& Member(const json& object, const char* key) { return object.at(key); }

std::string String(const json& value, const std::string& where) {
  if (!value.is_string()) throw Fault{where, "expected a string"};
  return value.get<std::string>();
}

bool Bool(const json& value, const std::string& where) {
  if (!value.is_boolean()) throw Fault{where, "expected true or false"};
  return value.get<bool>();
}

std::vector<std::string> Strings(const json& value, const std::string& where) {
  if (!value.is_array()) throw Fault{where, "expected a list of strings"};
  std::vector<std::string> result;
  for (size_t i = 0; i < value.size(); ++i) result.push_back(String(value[i], Place(where, i)));
  return result;
}

uint64_t Unsigned(const json& value, const std::string& where, uint64_t max) {
  if (!value.is_number_integer() ||
      (value.is_number_integer() && !value.is_number_unsigned() && value.get<int64_t>() < 0)) {
    throw Fault{where, "expected a whole number from 0 to " + std::to_string(max)};
  }
  uint64_t n = value.get<uint64_t>();
  if (n > max) throw Fault{where, "expected a whole number from 0 to " + std::to_string(max)};
  return n;
}

void OnlyKeys(const json& object, const std::string& where,
              std::initializer_list<const char*> allowed) {
  if (!object.is_object()) throw Fault{where, "expected an object"};
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool known =
        std::any_of(allowed.begin(), allowed.end(), [&](const char* k) { return it.key() == k; });
    if (!known) throw Fault{Place(where, it.key()), "unknown entry"};
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "3a 7c 51", "3a,7c,51" or "3a7c51".
std::string HexBytes(const json& value, const std::string& where) {
  std::string text = String(value, where);
  std::string bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ',' || c == '\t' || c == '\n' || c == '\r') {
      if (high >= 0) throw Fault{where, "odd number of hex digits in a byte"};
      continue;
    }
    int digit = HexDigit(c);
    if (digit < 0) throw Fault{where, "expected hex bytes such as \"3a 7c 51\""};
    if (high < 0) {
      high = digit;
    } else {
      bytes += static_cast<char>(high * 16 + digit);
      high = -1;
    }
  }
  if (high >= 0) throw Fault{where, "odd number of hex digits in a byte"};
  return bytes;
}

// Text of a file or INI file: a string, or a list of lines joined with CR LF.
std::string Text(const json& value, const std::string& where) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_array()) {
    std::string text;
    for (const std::string& line : Strings(value, where)) text += line + "\r\n";
    return text;
  }
  throw Fault{where, "expected a string or a list of lines"};
}

DWORD TypeOf(const json& value, const std::string& where) {
  static const std::pair<const char*, DWORD> names[] = {
      {"REG_NONE", REG_NONE},     {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ},
      {"REG_BINARY", REG_BINARY}, {"REG_DWORD", REG_DWORD}, {"REG_MULTI_SZ", REG_MULTI_SZ},
  };
  if (value.is_number()) {
    return static_cast<DWORD>(Unsigned(value, where, std::numeric_limits<DWORD>::max()));
  }
  std::string name = String(value, where);
  for (const auto& n : names) {
    if (name == n.first) return n.second;
  }
  throw Fault{where, "unknown type \"" + name +
                         "\" (REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_NONE "
                         "or a number)"};
}

std::string ValueData(DWORD type, const json& data, const std::string& where) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      std::string text = String(data, where);
      if (text.find('\0') != std::string::npos) {
        throw Fault{where, "text with a zero byte; give the bytes as \"hex\""};
      }
      return text + '\0';
    }
    case REG_DWORD:
      return sim::DwordOf(
          static_cast<DWORD>(Unsigned(data, where, std::numeric_limits<DWORD>::max())));
    case REG_MULTI_SZ: {
      std::string bytes;
      for (const std::string& s : Strings(data, where)) bytes += s + '\0';
      return bytes + '\0';
    }
    case REG_BINARY:
      if (data.is_array()) {
        std::string bytes;
        for (size_t i = 0; i < data.size(); ++i) {
          bytes += static_cast<char>(Unsigned(data[i], Place(where, i), 255));
        }
        return bytes;
      }
      return HexBytes(data, where);
    default:
      throw Fault{where, "give the bytes of this type as \"hex\""};
  }
}

MachineDescription::RegistryEntry RegistryEntryOf(const json& item, const std::string& where) {
  OnlyKeys(item, where, {"key", "name", "type", "data", "hex"});
  MachineDescription::RegistryEntry entry;
  if (!item.contains("key")) throw Fault{where, "needs a \"key\""};
  std::string full = String(Member(item, "key"), Place(where, "key"));
  size_t slash = full.find('\\');
  entry.root = full.substr(0, slash);
  entry.key = slash == std::string::npos ? std::string() : full.substr(slash + 1);
  HKEY root;
  if (!RootFromName(entry.root, &root)) {
    throw Fault{Place(where, "key"), "must start with HKLM\\, HKCU\\ or HKU\\"};
  }
  bool named = item.contains("name"), typed = item.contains("type");
  bool data = item.contains("data"), hex = item.contains("hex");
  if (!named && !typed && !data && !hex) return entry;  // just the key
  if (!typed) throw Fault{where, "a value needs a \"type\""};
  if (data == hex) throw Fault{where, "a value needs either \"data\" or \"hex\""};
  entry.hasValue = true;
  entry.name = named ? String(Member(item, "name"), Place(where, "name")) : std::string();
  entry.type = TypeOf(Member(item, "type"), Place(where, "type"));
  entry.data = hex ? HexBytes(Member(item, "hex"), Place(where, "hex"))
                   : ValueData(entry.type, Member(item, "data"), Place(where, "data"));
  return entry;
}

MachineDescription Describe(const json& root) {
  MachineDescription d;
  OnlyKeys(root, "",
           {"windows", "family", "folders", "files", "ini", "registry", "processes", "readOnly",
            "locked", "missing"});
  if (root.contains("windows") && root.contains("family")) {
    throw Fault{"family", "give either \"windows\" or \"family\""};
  }
  if (root.contains("windows")) {
    std::string name = String(root["windows"], "windows");
    if (!sim::WindowsFromName(name, &d.windows)) {
      throw Fault{"windows", "unknown version \"" + name +
                                 "\" (win95, win98, winme, nt351, nt40, win2k, winxp, win7, "
                                 "win10)"};
    }
    d.hasWindows = true;
  }
  if (root.contains("family")) {
    std::string name = String(root["family"], "family");
    if (name != "9x" && name != "nt") throw Fault{"family", "expected \"9x\" or \"nt\""};
    d.windows = name == "9x" ? sim::Windows::Win98 : sim::Windows::WinXP;
    d.hasWindows = true;
  }
  if (root.contains("folders")) d.folders = Strings(root["folders"], "folders");
  if (root.contains("files")) {
    const json& files = root["files"];
    if (!files.is_array()) throw Fault{"files", "expected a list of files"};
    for (size_t i = 0; i < files.size(); ++i) {
      std::string where = Place("files", i);
      const json& item = files[i];
      OnlyKeys(item, where, {"path", "text", "hex", "readOnly", "locked"});
      if (!item.contains("path")) throw Fault{where, "needs a \"path\""};
      if (item.contains("text") && item.contains("hex")) {
        throw Fault{where, "give either \"text\" or \"hex\""};
      }
      MachineDescription::File file;
      file.path = String(item["path"], Place(where, "path"));
      if (item.contains("text")) file.data = Text(item["text"], Place(where, "text"));
      if (item.contains("hex")) file.data = HexBytes(item["hex"], Place(where, "hex"));
      if (item.contains("readOnly"))
        file.readOnly = Bool(item["readOnly"], Place(where, "readOnly"));
      if (item.contains("locked")) file.locked = Bool(item["locked"], Place(where, "locked"));
      d.files.push_back(file);
    }
  }
  if (root.contains("ini")) {
    const json& ini = root["ini"];
    if (!ini.is_object()) throw Fault{"ini", "expected an object of path: text"};
    for (auto it = ini.begin(); it != ini.end(); ++it) {
      d.ini.push_back({it.key(), Text(it.value(), Place("ini", it.key()))});
    }
  }
  if (root.contains("registry")) {
    const json& registry = root["registry"];
    if (!registry.is_array()) throw Fault{"registry", "expected a list of keys and values"};
    for (size_t i = 0; i < registry.size(); ++i) {
      d.registry.push_back(RegistryEntryOf(registry[i], Place("registry", i)));
    }
  }
  if (root.contains("processes")) d.processes = Strings(root["processes"], "processes");
  if (root.contains("readOnly")) d.readOnly = Strings(root["readOnly"], "readOnly");
  if (root.contains("locked")) d.locked = Strings(root["locked"], "locked");
  if (root.contains("missing")) d.missing = Strings(root["missing"], "missing");
  return d;
}

using text::Upper;

}  // namespace

bool RootFromName(const std::string& name, HKEY* root) {
  std::string n = Upper(name);
  if (n == "HKLM" || n == "HKEY_LOCAL_MACHINE") {
    *root = HKEY_LOCAL_MACHINE;
  } else if (n == "HKCU" || n == "HKEY_CURRENT_USER") {
    *root = HKEY_CURRENT_USER;
  } else if (n == "HKU" || n == "HKEY_USERS") {
    *root = HKEY_USERS;
  } else {
    return false;
  }
  return true;
}

bool ParseMachineDescription(const std::string& text, MachineDescription* out, std::string* error) {
  json root;
  try {
    root = json::parse(text, nullptr, true, /*ignore_comments=*/true);
  } catch (const json::exception& e) {
    *error = std::string("not valid JSON: ") + e.what();
    return false;
  }
  try {
    *out = Describe(root);
  } catch (const Fault& fault) {
    *error = (fault.where.empty() ? std::string() : fault.where + ": ") + fault.what;
    return false;
  } catch (const json::exception& e) {
    *error = e.what();
    return false;
  }
  return true;
}

bool LoadMachineDescription(const std::string& fileName, MachineDescription* out,
                            std::string* error) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) {
    *error = "cannot read the file";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    *error = "cannot read the file";
    return false;
  }
  return ParseMachineDescription(text.str(), out, error);
}

std::string ExpandPath(const std::string& path, const PathNames& names) {
  static const char* const keys[] = {"%WINDOWS%", "%SYSTEM%", "%SOURCE%", "%APP%"};
  const std::string* values[] = {&names.windows, &names.system, &names.source, &names.application};
  std::string result;
  size_t i = 0;
  while (i < path.size()) {
    bool replaced = false;
    for (size_t k = 0; k < 4; ++k) {
      std::string key = keys[k];
      if (path.compare(i, key.size(), key) == 0) {
        std::string value = *values[k];
        // A folder is joined to what follows with exactly one backslash.
        while (!value.empty() && value.back() == '\\') value.pop_back();
        result += value;
        i += key.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) result += path[i++];
  }
  return result;
}

bool IsMachinePath(const std::string& path, std::string* why) {
  if (path.size() < 4 || (path[0] != 'C' && path[0] != 'c') || path[1] != ':' || path[2] != '\\') {
    *why = "expected a full path on drive C: (\"C:\\...\")";
    return false;
  }
  if (path.size() >= MAX_PATH) {
    *why = "longer than a Windows path may be";
    return false;
  }
  std::string rest = path.substr(3);
  if (!rest.empty() && rest.back() == '\\') rest.pop_back();
  std::string part;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i < rest.size() && rest[i] != '\\') {
      unsigned char c = static_cast<unsigned char>(rest[i]);
      if (c < 32 || std::string("<>:\"/|?*").find(rest[i]) != std::string::npos) {
        *why = "holds a character Windows refuses in names";
        return false;
      }
      part += rest[i];
      continue;
    }
    if (part.empty() || part == "." || part == "..") {
      *why = "has an empty, \".\" or \"..\" part";
      return false;
    }
    part.clear();
  }
  return true;
}

namespace {

// Raised while applying: the message is complete.
struct ApplyError {
  std::string text;
};

std::string Checked(const std::string& raw, const PathNames& names, const std::string& where) {
  std::string path = ExpandPath(raw, names);
  std::string why;
  if (!IsMachinePath(path, &why)) throw ApplyError{where + ": \"" + path + "\" " + why};
  return path;
}

std::string Parent(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos || slash < 3 ? path.substr(0, 3) : path.substr(0, slash);
}

}  // namespace

bool ApplyMachineDescription(const MachineDescription& d, const PathNames& names,
                             std::string* error) {
  try {
    for (size_t i = 0; i < d.folders.size(); ++i) {
      sim::MakeFolder(Checked(d.folders[i], names, Place("folders", i)));
    }
    for (size_t i = 0; i < d.files.size(); ++i) {
      const MachineDescription::File& file = d.files[i];
      std::string where = Place("files", i);
      std::string path = Checked(file.path, names, where);
      if (sim::IsFolder(path)) throw ApplyError{where + ": \"" + path + "\" is a folder"};
      sim::MakeFolder(Parent(path));
      DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
      if (file.readOnly) attributes |= FILE_ATTRIBUTE_READONLY;
      sim::PutFile(path, file.data, attributes);
      if (file.locked) sim::SetLocked(path, true);
    }
    for (const MachineDescription::IniFile& ini : d.ini) {
      std::string where = Place("ini", ini.path);
      std::string path = Checked(ini.path, names, where);
      if (sim::IsFolder(path)) throw ApplyError{where + ": \"" + path + "\" is a folder"};
      sim::MakeFolder(Parent(path));
      sim::PutIni(path, ini.text);
    }
    for (const MachineDescription::RegistryEntry& entry : d.registry) {
      HKEY root = nullptr;
      RootFromName(entry.root, &root);
      if (entry.hasValue) {
        sim::RegPut(root, entry.key, entry.name, entry.type, entry.data);
      } else {
        sim::RegPutKey(root, entry.key);
      }
    }
    for (size_t i = 0; i < d.processes.size(); ++i) {
      std::string why;
      if (!AddRunningProgram(d.processes[i], names.application, &why)) {
        throw ApplyError{Place("processes", i) + ": " + why};
      }
    }
    for (size_t i = 0; i < d.readOnly.size(); ++i) {
      std::string where = Place("readOnly", i);
      std::string path = Checked(d.readOnly[i], names, where);
      if (!sim::Exists(path) || sim::IsFolder(path)) {
        throw ApplyError{where + ": no file \"" + path + "\" on the machine"};
      }
      sim::SetAttributes(path, sim::Attributes(path) | FILE_ATTRIBUTE_READONLY);
    }
    for (size_t i = 0; i < d.locked.size(); ++i) {
      std::string where = Place("locked", i);
      std::string path = Checked(d.locked[i], names, where);
      if (!sim::Exists(path) || sim::IsFolder(path)) {
        throw ApplyError{where + ": no file \"" + path + "\" on the machine"};
      }
      sim::SetLocked(path, true);
    }
    for (size_t i = 0; i < d.missing.size(); ++i) {
      std::string path = Checked(d.missing[i], names, Place("missing", i));
      if (sim::Exists(path)) sim::Remove(path);
    }
  } catch (const ApplyError& e) {
    *error = e.text;
    return false;
  }
  return true;
}

bool AddRunningProgram(const std::string& name, const std::string& folder, std::string* error) {
  if (name.empty()) {
    *error = "a running program needs a name";
    return false;
  }
  if (name.find('\0') != std::string::npos || name.size() >= MAX_PATH) {
    *error = "\"" + name + "\" cannot be a program's name";
    return false;
  }
  std::string path = name;
  if (name.find('\\') == std::string::npos && name.find(':') == std::string::npos) {
    std::string base = folder.empty() ? std::string("C:\\Program Files") : folder;
    while (!base.empty() && base.back() == '\\') base.pop_back();
    path = base + "\\" + name;
  }
  DWORD pid = 1000;
  for (const sim::ProcessSpec& p : sim::Processes()) pid = std::max<DWORD>(pid, p.pid + 4);
  sim::ProcessSpec spec;
  spec.pid = pid;
  spec.imagePath = path;
  sim::AddProcess(spec);
  return true;
}

}  // namespace preview
