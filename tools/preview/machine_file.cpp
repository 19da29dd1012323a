#include "machine_file.h"

#include "text.h"
#include "user_files.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
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

// An entry's name as a place: as it stands when it is a plain word, else
// quoted and escaped.
std::string EntryName(const std::string& name) {
  bool plain =
      !name.empty() && name.size() <= 60 && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
      });
  return plain ? name : Shown(name, 60);
}

void OnlyKeys(const json& object, const std::string& where,
              std::initializer_list<const char*> allowed) {
  if (!object.is_object()) throw Fault{where, "expected an object"};
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool known =
        std::any_of(allowed.begin(), allowed.end(), [&](const char* k) { return it.key() == k; });
    if (!known) throw Fault{Place(where, EntryName(it.key())), "unknown entry"};
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
  throw Fault{where, "unknown type " + Shown(name, 40) +
                         " (REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_NONE "
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
      // A zero byte, or an empty string, would end the list early: it would
      // read back as a different list.
      std::string bytes;
      for (const std::string& s : Strings(data, where)) {
        if (s.empty() || s.find('\0') != std::string::npos) {
          throw Fault{where,
                      std::string(s.empty() ? "an empty string" : "a string with a zero byte") +
                          " ends the list early; give the bytes as \"hex\""};
        }
        bytes += s + '\0';
      }
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

bool RootIs(const std::string& name, HKEY wanted) {
  HKEY root = nullptr;
  return RootFromName(name, &root) && root == wanted;
}

// The key below its root, checked against what Windows can hold: no empty
// name inside the path (one trailing backslash is passed over), names of at
// most 255 printable characters, at most 512 levels. The current user's key
// is itself one level below HKEY_USERS.
void CheckKeyPath(const std::string& root, const std::string& key, const std::string& where) {
  std::string path = key;
  if (!path.empty() && path.back() == '\\') path.pop_back();
  if (path.empty()) return;
  HKEY handle = nullptr;
  RootFromName(root, &handle);
  size_t depth = handle == HKEY_CURRENT_USER ? 1 : 0;
  size_t start = 0;
  while (true) {
    size_t slash = path.find('\\', start);
    size_t end = slash == std::string::npos ? path.size() : slash;
    if (end == start) throw Fault{where, "an empty key name in " + Shown(root + "\\" + key)};
    if (end - start > kMaxKeyNameLength) {
      throw Fault{where, "the key name " + Shown(path.substr(start, end - start), 40) +
                             " is longer than 255 bytes"};
    }
    for (size_t i = start; i < end; ++i) {
      if (static_cast<unsigned char>(path[i]) < 32 || path[i] == 127) {
        throw Fault{where, "the key name " + Shown(path.substr(start, end - start)) +
                               " holds a control character"};
      }
    }
    if (++depth > kMaxKeyDepth) {
      throw Fault{where, "keys nest deeper than 512 levels below " + root};
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
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
  CheckKeyPath(entry.root, entry.key, Place(where, "key"));
  bool named = item.contains("name"), typed = item.contains("type");
  bool data = item.contains("data"), hex = item.contains("hex");
  if (!named && !typed && !data && !hex) return entry;  // just the key
  if (!typed) throw Fault{where, "a value needs a \"type\""};
  if (data == hex) throw Fault{where, "a value needs either \"data\" or \"hex\""};
  entry.hasValue = true;
  entry.name = named ? String(Member(item, "name"), Place(where, "name")) : std::string();
  if (entry.name.size() > kMaxValueNameLength) {
    throw Fault{Place(where, "name"), "a value name of " + std::to_string(entry.name.size()) +
                                          " characters (at most 16383)"};
  }
  if (entry.name.find('\0') != std::string::npos) {
    throw Fault{Place(where, "name"), "a value name with a zero byte"};
  }
  // The machine's and the users' roots hold only keys; the current user's
  // key is an ordinary key and may hold values.
  std::string below = entry.key;
  while (!below.empty() && below.back() == '\\') below.pop_back();
  if (below.empty() && !RootIs(entry.root, HKEY_CURRENT_USER)) {
    throw Fault{Place(where, "key"), "a value cannot lie at the root key " + Shown(entry.root)};
  }
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
      throw Fault{"windows", "unknown version " + Shown(name, 40) +
                                 " (win95, win98, winme, nt351, nt40, win2k, winxp, win7, "
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
      d.ini.push_back({it.key(), Text(it.value(), Place("ini", Shown(it.key())))});
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

// A position in the text of a description that counts the line ends it has
// passed: the parser reads through it one character at a time.
class LineCountingCursor {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  LineCountingCursor(const char* at, size_t* lines) : at_(at), lines_(lines) {}
  reference operator*() const { return *at_; }
  LineCountingCursor& operator++() {
    if (*at_ == '\n') ++*lines_;
    ++at_;
    return *this;
  }
  LineCountingCursor operator++(int) {
    LineCountingCursor before = *this;
    ++*this;
    return before;
  }
  bool operator==(const LineCountingCursor& o) const { return at_ == o.at_; }
  bool operator!=(const LineCountingCursor& o) const { return at_ != o.at_; }

 private:
  const char* at_;
  size_t* lines_;
};

// The library's own tree builder, noting the first name given twice in one
// object with the line the cursor has reached: the builder itself would keep
// the last silently. (The library's callback parser, which could note it
// too, searches a list for discarded entries each time an object in it
// ends: its time grows with the square of the registry list.)
class NotingBuilder : public nlohmann::detail::json_sax_dom_parser<json> {
 public:
  NotingBuilder(json& root, const size_t* lines) : json_sax_dom_parser(root), lines_(lines) {}
  bool start_object(std::size_t elements) {
    objects_.emplace_back();
    return json_sax_dom_parser::start_object(elements);
  }
  bool end_object() {
    if (!objects_.empty()) objects_.pop_back();
    return json_sax_dom_parser::end_object();
  }
  bool key(std::string& name) {
    if (twice.empty() && !objects_.empty() && !objects_.back().insert(name).second) {
      twice = name;
      twiceLine = *lines_;
    }
    return json_sax_dom_parser::key(name);
  }
  std::string twice;
  size_t twiceLine = 0;

 private:
  const size_t* lines_;
  std::vector<std::set<std::string>> objects_;
};

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
  // The parser reads the text through a cursor that counts its lines, so
  // that an entry given twice in one object can be named with its line.
  size_t lines = 1;
  NotingBuilder builder(root, &lines);
  try {
    LineCountingCursor first(text.data(), &lines), last(text.data() + text.size(), &lines);
    json::sax_parse(first, last, &builder, json::input_format_t::json, /*strict=*/true,
                    /*ignore_comments=*/true);
  } catch (const json::exception& e) {
    // The parser quotes the text it stopped in, which may be long.
    *error = "not valid JSON: " + SafeLine(e.what(), 300);
    return false;
  }
  if (!builder.twice.empty()) {
    *error = "line " + std::to_string(builder.twiceLine) + ": the entry " +
             Shown(builder.twice, 60) + " is given twice in one object";
    return false;
  }
  try {
    *out = Describe(root);
  } catch (const Fault& fault) {
    *error = (fault.where.empty() ? std::string() : fault.where + ": ") + fault.what;
    return false;
  } catch (const json::exception& e) {
    *error = SafeLine(e.what(), 300);
    return false;
  }
  return true;
}

std::string KindOfFile(std::filesystem::file_type type) {
  switch (type) {
    case std::filesystem::file_type::regular:
      return "a file";
    case std::filesystem::file_type::directory:
      return "a folder";
    case std::filesystem::file_type::character:
      return "a character device";
    case std::filesystem::file_type::block:
      return "a block device";
    case std::filesystem::file_type::fifo:
      return "a pipe";
    case std::filesystem::file_type::socket:
      return "a socket";
    default:
      return "an entry of unknown kind";
  }
}

bool LoadMachineDescription(const std::string& fileName, MachineDescription* out,
                            std::string* error) {
  // Only a file is read: a pipe or a device may never end, or wait for a
  // writer that never comes.
  const std::filesystem::file_type type = HostFileType(fileName);
  if (type != std::filesystem::file_type::not_found &&
      type != std::filesystem::file_type::regular) {
    *error = KindOfFile(type) + ", not a machine description file";
    return false;
  }
  std::ifstream in(fileName, std::ios::binary);
  if (!in) {
    *error = "cannot read the file";
    return false;
  }
  // Read in pieces, one byte past the bound at most.
  std::string text;
  char piece[65536];
  while (text.size() <= kMaxMachineFileBytes) {
    size_t want = std::min(sizeof piece, kMaxMachineFileBytes + 1 - text.size());
    in.read(piece, static_cast<std::streamsize>(want));
    text.append(piece, static_cast<size_t>(in.gcount()));
    if (!in) break;
  }
  if (in.bad()) {
    *error = "cannot read the file";
    return false;
  }
  if (text.size() > kMaxMachineFileBytes) {
    *error = "a file holding more than 16 MiB; a machine description may be at most 16 MiB";
    return false;
  }
  if (text.empty()) {
    *error = "an empty file; a machine description is a JSON object";
    return false;
  }
  size_t zero = text.find('\0');
  if (zero != std::string::npos) {
    *error = "a binary file (a zero byte at offset " + std::to_string(zero) +
             "), not a JSON machine description";
    return false;
  }
  return ParseMachineDescription(text, out, error);
}

namespace {

// The length of the UTF-8 sequence at text[i] (before `end`) when it is a
// whole, shortest one of a character a terminal shows as it is (U+00A0 and
// above, no surrogate); 0 otherwise.
size_t ShownCharacter(const std::string& text, size_t i, size_t end) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (lead >= 0xF5 || length == 0 || i + length > end) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = code << 6 | (next & 0x3F);
  }
  const uint32_t least[] = {0, 0, 0xA0, 0x800, 0x10000};
  if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return 0;
  return length;
}

// The first limit bytes of text with control characters (C0, DEL and, in
// UTF-8, C1) and every byte that is no part of a whole UTF-8 character as
// \xNN: a terminal takes none of them as a command.
std::string Escaped(const std::string& text, size_t limit) {
  std::string out;
  const size_t n = std::min(text.size(), limit);
  for (size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t whole = c >= 0x80 ? ShownCharacter(text, i, n) : 0;
    if (whole > 0) {
      out.append(text, i, whole);
      i += whole;
    } else if (c < 32 || c >= 127) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02x", c);
      out += code;
      ++i;
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string LeftOut(const std::string& text, size_t limit) {
  if (text.size() <= limit) return std::string();
  size_t more = text.size() - limit;
  return "... (" + std::to_string(more) + (more == 1 ? " more byte)" : " more bytes)");
}

}  // namespace

std::string Shown(const std::string& text, size_t limit) {
  return "\"" + Escaped(text, limit) + "\"" + LeftOut(text, limit);
}

std::string SafeLine(const std::string& text, size_t limit) {
  std::string body = text;
  bool newline = !body.empty() && body.back() == '\n';
  if (newline) body.pop_back();
  return Escaped(body, limit) + LeftOut(body, limit) + (newline ? "\n" : "");
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

bool IsReservedDeviceName(const std::string& name) {
  std::string base = Upper(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (base == device) return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
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
    if (part.back() == '.' || part.back() == ' ') {
      *why = "holds the name " + Shown(part) +
             ": Windows drops a name's trailing dots and spaces, so it cannot hold that name";
      return false;
    }
    if (IsReservedDeviceName(part)) {
      *why = "holds the name " + Shown(part) + ", which Windows keeps for a device";
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

// A path of the machine, expanded; a file's may not end in a backslash.
enum class PathOf { kFolder, kFile };
std::string Checked(const std::string& raw, const PathNames& names, const std::string& where,
                    PathOf kind = PathOf::kFile) {
  std::string path = ExpandPath(raw, names);
  std::string why;
  if (!IsMachinePath(path, &why)) throw ApplyError{where + ": " + Shown(path) + " " + why};
  if (kind == PathOf::kFile && path.back() == '\\')
    throw ApplyError{where + ": " + Shown(path) + " ends in a backslash, so it names no file"};
  return path;
}

// A path below a file cannot exist: the file would have to be a folder.
void NoFileAbove(const std::string& path, const std::string& where) {
  for (size_t slash = path.find('\\', 3); slash != std::string::npos;
       slash = path.find('\\', slash + 1)) {
    std::string above = path.substr(0, slash);
    if (sim::Exists(above) && !sim::IsFolder(above)) {
      throw ApplyError{where + ": " + Shown(path) + " cannot exist: " + Shown(above) +
                       " is a file"};
    }
  }
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
      std::string where = Place("folders", i);
      std::string path = Checked(d.folders[i], names, where, PathOf::kFolder);
      NoFileAbove(path, where);
      if (sim::Exists(path) && !sim::IsFolder(path)) {
        throw ApplyError{where + ": " + Shown(path) + " is a file"};
      }
      sim::MakeFolder(path);
    }
    for (size_t i = 0; i < d.files.size(); ++i) {
      const MachineDescription::File& file = d.files[i];
      std::string where = Place("files", i);
      std::string path = Checked(file.path, names, where);
      NoFileAbove(path, where);
      if (sim::IsFolder(path)) throw ApplyError{where + ": " + Shown(path) + " is a folder"};
      sim::MakeFolder(Parent(path));
      DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
      if (file.readOnly) attributes |= FILE_ATTRIBUTE_READONLY;
      sim::PutFile(path, file.data, attributes);
      if (file.locked) sim::SetLocked(path, true);
    }
    for (const MachineDescription::IniFile& ini : d.ini) {
      std::string where = Place("ini", Shown(ini.path));
      std::string path = Checked(ini.path, names, where);
      NoFileAbove(path, where);
      if (sim::IsFolder(path)) throw ApplyError{where + ": " + Shown(path) + " is a folder"};
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
    DWORD pid = FirstFreeProcessId();
    for (size_t i = 0; i < d.processes.size(); ++i, pid += 4) {
      std::string why;
      if (!AddRunningProgram(d.processes[i], names.application, pid, &why)) {
        throw ApplyError{Place("processes", i) + ": " + why};
      }
    }
    for (size_t i = 0; i < d.readOnly.size(); ++i) {
      std::string where = Place("readOnly", i);
      std::string path = Checked(d.readOnly[i], names, where);
      if (!sim::Exists(path) || sim::IsFolder(path)) {
        throw ApplyError{where + ": no file " + Shown(path) + " on the machine"};
      }
      sim::SetAttributes(path, sim::Attributes(path) | FILE_ATTRIBUTE_READONLY);
    }
    for (size_t i = 0; i < d.locked.size(); ++i) {
      std::string where = Place("locked", i);
      std::string path = Checked(d.locked[i], names, where);
      if (!sim::Exists(path) || sim::IsFolder(path)) {
        throw ApplyError{where + ": no file " + Shown(path) + " on the machine"};
      }
      sim::SetLocked(path, true);
    }
    for (size_t i = 0; i < d.missing.size(); ++i) {
      std::string path = Checked(d.missing[i], names, Place("missing", i), PathOf::kFolder);
      if (sim::Exists(path)) sim::Remove(path);
    }
  } catch (const ApplyError& e) {
    *error = e.text;
    return false;
  }
  return true;
}

bool AddRunningProgram(const std::string& name, const std::string& folder, DWORD pid,
                       std::string* error) {
  if (name.empty()) {
    *error = "a running program needs a name";
    return false;
  }
  if (name.find('\0') != std::string::npos || name.size() >= MAX_PATH) {
    *error = Shown(name) + " cannot be a program's name";
    return false;
  }
  std::string path = name;
  if (name.find('\\') == std::string::npos && name.find(':') == std::string::npos) {
    std::string base = folder.empty() ? std::string("C:\\Program Files") : folder;
    while (!base.empty() && base.back() == '\\') base.pop_back();
    path = base + "\\" + name;
  }
  sim::ProcessSpec spec;
  spec.pid = pid;
  spec.imagePath = path;
  sim::AddProcess(spec);
  return true;
}

DWORD FirstFreeProcessId() {
  DWORD pid = 1000;
  for (const sim::ProcessSpec& p : sim::Processes()) pid = std::max<DWORD>(pid, p.pid + 4);
  return pid;
}

}  // namespace preview
