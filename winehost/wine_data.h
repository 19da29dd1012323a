// What the Wine host reads back from a prefix, and the small text and byte
// helpers that go with it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "text.h"

namespace winehost {

// Registry value types by their platform numbers.
enum : uint32_t { kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4, kRegMultiSz = 7 };

struct RegValue {
  uint32_t type = 0;
  std::string data;  // the bytes as RegEnumValueA delivers them
};

// A registry key and everything below it. Key paths are relative to the
// dumped key ("" is the key itself), value names as stored; lookups ignore
// case.
struct RegTree {
  bool exists = false;
  std::vector<std::string> keys;  // in the order dumped
  // key path -> value name -> value
  std::map<std::string, std::map<std::string, RegValue>> values;

  bool HasKey(const std::string& relPath) const;
  const RegValue* Value(const std::string& relPath, const std::string& name) const;
  size_t ValueCount() const;
};

struct FileEntry {
  std::string path;  // relative to the listed folder
  uint32_t attributes = 0;
  uint64_t size = 0;
  bool folder = false;
};

// One entry of PendingFileRenameOperations, paths as stored (with "\??\").
struct PendingRename {
  std::string from;
  std::string to;        // empty: delete at restart
  bool replace = false;  // the target was marked '!' (MOVEFILE_REPLACE_EXISTING)
};

struct KeySecurity {
  bool ok = false;
  uint16_t control = 0;  // SECURITY_DESCRIPTOR_CONTROL
  std::string sddl;      // the DACL as SDDL ("D:...")
};

struct VersionInfo {
  uint32_t platform = 0, major = 0, minor = 0, build = 0;
};

// ----------------------------------------------------------------- INI text
// The value of `key` in `section` of an INI file's text: names compared
// without case, blanks around names and values dropped, the first entry wins.
bool IniValue(const std::string& text, const std::string& section, const std::string& key,
              std::string* value);
// The lines of a section as they stand (without the header); empty when the
// section is missing.
std::vector<std::string> IniSectionLines(const std::string& text, const std::string& section);

// ------------------------------------------------------------------ bytes
std::string FromHex(const std::string& hex);
std::string DwordBytes(uint32_t v);
std::string SzBytes(const std::string& s);  // the text and its terminating zero

// Names compared as Windows compares them: without case.
using text::EqualNoCase;
// The last part of a Windows path (after the last \\, / or :).
std::string WinBasename(const std::string& winPath);

}  // namespace winehost
