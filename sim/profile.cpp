// The profile API over INI files stored in the simulated file system.
//
// Files are edited in place, line by line, as Windows does: untouched lines
// keep their text and line ends, new lines end in CRLF. Lookups ignore case
// and the blanks around section names, keys and values; whole-section reads
// give the lines back as they stand.
#include <cstring>

#include "machine.h"

namespace sim {

namespace {

struct Line {
  std::string text;
  std::string eol;  // "\r\n", "\n", or empty for an unterminated last line
};

struct Span {
  size_t header = 0;  // index of the "[name]" line
  size_t end = 0;     // index after the section's last line
};

const char kCrLf[] = "\r\n";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (IsBlank(s[b]) || s[b] == '\r')) ++b;
  while (e > b && (IsBlank(s[e - 1]) || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

// Names given by the caller lose their surrounding spaces (spaces only).
std::string TrimSpaces(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return s.substr(b, e - b);
}

// A line as the profile API reads it when it holds zero bytes: a section
// name, or the name before the first '=' and the value after it, each end at
// their first zero byte (a line without either at its first one), and a
// write gives the file back in that form: "\0\0k=v" is an entry with an
// empty name and the value "v", "[Ot\0her]" the section "[Ot]".
std::string WithoutZeroBytes(const std::string& text) {
  auto cut = [](const std::string& s) { return s.substr(0, s.find('\0')); };
  size_t first = text.find_first_not_of(" \t");
  if (first != std::string::npos && text[first] == '[') {
    size_t close = text.find(']', first);
    std::string inner =
        text.substr(first + 1, close == std::string::npos ? std::string::npos : close - first - 1);
    return text.substr(0, first) + "[" + cut(inner) + "]";
  }
  size_t eq = text.find('=');
  if (eq == std::string::npos) return cut(text);
  return cut(text.substr(0, eq)) + "=" + cut(text.substr(eq + 1));
}

std::vector<Line> Parse(const std::string& data) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < data.size()) {
    size_t nl = data.find('\n', pos);
    Line line;
    if (nl == std::string::npos) {
      line.text = data.substr(pos);
      pos = data.size();
    } else {
      line.text = data.substr(pos, nl - pos);
      line.eol = "\n";
      if (!line.text.empty() && line.text.back() == '\r') {
        line.text.pop_back();
        line.eol = kCrLf;
      }
      pos = nl + 1;
    }
    if (line.text.find('\0') != std::string::npos) line.text = WithoutZeroBytes(line.text);
    lines.push_back(line);
  }
  return lines;
}

std::string Join(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& line : lines) out += line.text + line.eol;
  return out;
}

bool IsBlankLine(const std::string& text) { return TrimBlanks(text).empty(); }

// "[name]" (the bracket may be missing at the end of the line).
bool SectionName(const std::string& text, std::string* name) {
  size_t i = 0;
  while (i < text.size() && (IsBlank(text[i]) || text[i] == '\r')) ++i;
  if (i >= text.size() || text[i] != '[') return false;
  size_t close = text.find(']', i + 1);
  std::string inner =
      text.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
  if (name) *name = TrimBlanks(inner);
  return true;
}

// An entry line: "key=value" or a bare "key"; comments and blank lines are
// none.
bool EntryOf(const std::string& text, std::string* key, std::string* value) {
  std::string trimmed = TrimBlanks(text);
  if (trimmed.empty() || trimmed[0] == ';') return false;
  size_t eq = trimmed.find('=');
  if (eq == std::string::npos) {
    *key = trimmed;
    value->clear();
  } else {
    *key = TrimBlanks(trimmed.substr(0, eq));
    *value = TrimBlanks(trimmed.substr(eq + 1));
  }
  return true;
}

std::vector<Span> Sections(const std::vector<Line>& lines) {
  std::vector<Span> spans;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (SectionName(lines[i].text, nullptr)) {
      if (!spans.empty()) spans.back().end = i;
      Span span;
      span.header = i;
      span.end = lines.size();
      spans.push_back(span);
    }
  }
  return spans;
}

// The first section of that name.
bool FindSection(const std::vector<Line>& lines, const std::string& section, Span* out) {
  std::string wanted = Upper(TrimSpaces(section));
  for (const Span& span : Sections(lines)) {
    std::string name;
    SectionName(lines[span.header].text, &name);
    if (Upper(name) == wanted) {
      *out = span;
      return true;
    }
  }
  return false;
}

// The first line of the section holding that key; lines.size() when none.
size_t FindEntry(const std::vector<Line>& lines, const Span& span, const std::string& key,
                 std::string* value) {
  std::string wanted = Upper(TrimSpaces(key));
  for (size_t i = span.header + 1; i < span.end; ++i) {
    std::string k, v;
    if (EntryOf(lines[i].text, &k, &v) && Upper(k) == wanted) {
      if (value) *value = v;
      return i;
    }
  }
  return lines.size();
}

// Index after the section's last non-blank line.
size_t ContentEnd(const std::vector<Line>& lines, const Span& span) {
  size_t end = span.end;
  while (end > span.header + 1 && IsBlankLine(lines[end - 1].text)) --end;
  return end;
}

void Append(std::vector<Line>* lines, const std::string& text) {
  if (!lines->empty() && lines->back().eol.empty()) lines->back().eol = kCrLf;
  lines->push_back(Line{text, kCrLf});
}

// The file's text for reading; false (with the reason) when it cannot be read.
bool ReadProfile(const std::string& full, std::string* data, DWORD* error) {
  DWORD e = LookupError(full);
  if (e != ERROR_SUCCESS) {
    *error = e;
    return false;
  }
  Node* node = FindNode(full);
  if (node->folder) {
    *error = ERROR_ACCESS_DENIED;
    return false;
  }
  if (node->locked) {
    *error = ERROR_SHARING_VIOLATION;
    return false;
  }
  *data = node->data;
  return true;
}

// Whether the file may be written: ERROR_SUCCESS, with *exists telling
// whether it is already there.
DWORD WritableProfile(const std::string& full, bool* exists) {
  DWORD e = LookupError(full);
  *exists = e == ERROR_SUCCESS;
  if (e != ERROR_SUCCESS && e != ERROR_FILE_NOT_FOUND) return e;
  Drive* drive = DriveOf(full);
  if (drive && drive->type == DRIVE_CDROM) return ERROR_ACCESS_DENIED;
  if (!*exists) return ERROR_SUCCESS;
  Node* node = FindNode(full);
  if (node->folder || (node->attributes & FILE_ATTRIBUTE_READONLY)) return ERROR_ACCESS_DENIED;
  if (node->locked) return ERROR_SHARING_VIOLATION;
  return ERROR_SUCCESS;
}

void StoreProfile(const std::string& full, const std::vector<Line>& lines, bool exists) {
  if (exists) {
    Node* node = FindNode(full);
    node->data = Join(lines);
    node->attributes |= FILE_ATTRIBUTE_ARCHIVE;
  } else {
    PutFile(full, Join(lines));
  }
}

// A list of zero-terminated strings ended by an extra zero. When it does not
// fit, what fits is copied, closed by two zeros, and the answer is size - 2.
DWORD CopyList(const std::vector<std::string>& entries, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  std::string list;
  for (const std::string& entry : entries) {
    list += entry;
    list += '\0';
  }
  if (list.empty()) {
    buffer[0] = '\0';
    if (size > 1) buffer[1] = '\0';
    return 0;
  }
  if (list.size() + 1 <= size) {
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    return static_cast<DWORD>(list.size());
  }
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

// One string; when it does not fit it is cut to size - 1 characters.
DWORD CopyString(const std::string& text, LPSTR buffer, DWORD size, bool* cut) {
  *cut = false;
  if (!buffer || size == 0) return 0;
  size_t n = text.size();
  if (n + 1 > size) {
    n = size - 1;
    *cut = true;
  }
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<DWORD>(n);
}

std::string Unquoted(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    return value.substr(1, value.size() - 2);
  return value;
}

std::string ListArg(LPCSTR list) {
  if (!list) return "NULL";
  std::string out = "\"";
  for (const char* p = list; *p; p += std::strlen(p) + 1) {
    std::string q = Quote(p);
    out += q.substr(1, q.size() - 2) + "\\0";
  }
  return out + "\"";
}

}  // namespace

std::string ProfilePath(const std::string& file) {
  if (file.find_first_of("\\/:") == std::string::npos) return M().windowsFolder + "\\" + file;
  return FullPath(file);
}

bool ProfileSectionLines(const std::string& file, const std::string& section,
                         std::vector<std::string>* lines) {
  std::string data;
  if (!FileData(ProfilePath(file), &data)) return false;
  std::vector<Line> parsed = Parse(data);
  Span span;
  if (!FindSection(parsed, section, &span)) return false;
  lines->clear();
  for (size_t i = span.header + 1; i < span.end; ++i) {
    if (!IsBlankLine(parsed[i].text)) lines->push_back(parsed[i].text);
  }
  return true;
}

// ------------------------------------------------------ control interface

void PutIni(const std::string& path, const std::string& text) {
  std::string full = ProfilePath(path);
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  uint64_t lastWrite = kDefaultFileTime;
  if (Node* node = FindNode(full)) {
    if (!node->folder) {
      attributes = node->attributes;
      lastWrite = node->lastWrite;
    }
  }
  PutFile(full, text, attributes, lastWrite);
}

std::string IniText(const std::string& path) {
  std::string data;
  FileData(ProfilePath(path), &data);
  return data;
}

bool IniValue(const std::string& path, const std::string& section, const std::string& key,
              std::string* value) {
  std::string data;
  if (!FileData(ProfilePath(path), &data)) return false;
  std::vector<Line> lines = Parse(data);
  Span span;
  if (!FindSection(lines, section, &span)) return false;
  std::string v;
  if (FindEntry(lines, span, key, &v) == lines.size()) return false;
  if (value) *value = Unquoted(v);
  return true;
}

}  // namespace sim

// ------------------------------------------------------------ Win32 calls

using namespace sim;

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                       LPCSTR lpFileName) {
  CallRecord rec("WritePrivateProfileStringA", Quote(lpAppName) + ", " + Quote(lpKeyName) + ", " +
                                                   Quote(lpString) + ", " + Quote(lpFileName));
  Machine& m = M();
  auto fail = [&](DWORD error) {
    m.lastError = error;
    return rec.Return<BOOL>(FALSE);
  };
  if (rec.ShouldFail()) return fail(ERROR_ACCESS_DENIED);
  if (!lpFileName || !*lpFileName) return fail(ERROR_INVALID_PARAMETER);
  if (DWORD e = PathLengthError(lpFileName)) return fail(e);
  std::string full = ProfilePath(lpFileName);
  if (!lpAppName && !lpKeyName && !lpString) {
    // Flushing the cached copy: nothing is cached here; the answer is zero
    // either way.
    return fail(LookupError(full) == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
  }
  if (!lpAppName) return fail(ERROR_INVALID_PARAMETER);
  bool exists = false;
  if (DWORD e = WritableProfile(full, &exists)) return fail(e);
  bool removing = !lpKeyName || !lpString;
  if (!exists && removing) return rec.Return<BOOL>(TRUE);

  std::vector<Line> lines;
  if (exists) lines = Parse(FindNode(full)->data);
  Span span;
  bool found = FindSection(lines, lpAppName, &span);
  if (!lpKeyName) {
    // The section goes, its comments and blank lines stay.
    if (found) {
      std::vector<Line> kept(lines.begin(), lines.begin() + span.header);
      for (size_t i = span.header + 1; i < span.end; ++i) {
        std::string k, v;
        if (!EntryOf(lines[i].text, &k, &v)) kept.push_back(lines[i]);
      }
      kept.insert(kept.end(), lines.begin() + span.end, lines.end());
      StoreProfile(full, kept, true);
    }
  } else if (!lpString) {
    if (found) {
      size_t at = FindEntry(lines, span, lpKeyName, nullptr);
      if (at < lines.size()) {
        lines.erase(lines.begin() + at);
        StoreProfile(full, lines, true);
      }
    }
  } else {
    std::string key = TrimSpaces(lpKeyName);
    if (!found) {
      Append(&lines, "[" + TrimSpaces(lpAppName) + "]");
      Append(&lines, key + "=" + lpString);
    } else {
      size_t at = FindEntry(lines, span, key, nullptr);
      if (at < lines.size()) {
        // The key keeps the spelling it has in the file.
        std::string existing, v;
        EntryOf(lines[at].text, &existing, &v);
        lines[at].text = existing + "=" + lpString;
      } else {
        size_t end = ContentEnd(lines, span);
        if (end == lines.size() && !lines.empty() && lines.back().eol.empty())
          lines.back().eol = kCrLf;
        lines.insert(lines.begin() + end, Line{key + "=" + lpString, kCrLf});
      }
    }
    StoreProfile(full, lines, exists);
  }
  // A file made by this write leaves ERROR_FILE_NOT_FOUND behind.
  m.lastError = exists ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  return rec.Return<BOOL>(TRUE);
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                      LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
  CallRecord rec("GetPrivateProfileStringA", Quote(lpAppName) + ", " + Quote(lpKeyName) + ", " +
                                                 Quote(lpDefault) + ", " +
                                                 PointerArg(lpReturnedString) + ", " +
                                                 std::to_string(nSize) + ", " + Quote(lpFileName));
  Machine& m = M();
  // The default loses its trailing spaces.
  std::string fallback = lpDefault ? lpDefault : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
  bool cut = false;
  auto answerDefault = [&](DWORD error) {
    m.lastError = error;
    DWORD n = lpAppName && lpKeyName ? CopyString(fallback, lpReturnedString, nSize, &cut)
                                     : CopyList({}, lpReturnedString, nSize);
    return rec.Return<DWORD>(n);
  };
  if (rec.ShouldFail()) return answerDefault(ERROR_ACCESS_DENIED);
  if (!lpFileName) return answerDefault(ERROR_INVALID_PARAMETER);
  if (DWORD e = PathLengthError(lpFileName)) return answerDefault(e);
  std::string data;
  DWORD error = ERROR_SUCCESS;
  if (!ReadProfile(ProfilePath(lpFileName), &data, &error)) return answerDefault(error);
  std::vector<Line> lines = Parse(data);
  m.lastError = ERROR_SUCCESS;
  if (!lpAppName) {
    std::vector<std::string> names;
    for (const Span& span : Sections(lines)) {
      std::string name;
      SectionName(lines[span.header].text, &name);
      names.push_back(name);
    }
    return rec.Return<DWORD>(CopyList(names, lpReturnedString, nSize));
  }
  Span span;
  if (!FindSection(lines, lpAppName, &span)) return answerDefault(ERROR_SUCCESS);
  if (!lpKeyName) {
    std::vector<std::string> keys;
    for (size_t i = span.header + 1; i < span.end; ++i) {
      std::string k, v;
      if (EntryOf(lines[i].text, &k, &v)) keys.push_back(k);
    }
    return rec.Return<DWORD>(CopyList(keys, lpReturnedString, nSize));
  }
  std::string value;
  if (FindEntry(lines, span, lpKeyName, &value) == lines.size())
    return answerDefault(ERROR_SUCCESS);
  DWORD n = CopyString(Unquoted(value), lpReturnedString, nSize, &cut);
  if (cut) m.lastError = ERROR_MORE_DATA;
  return rec.Return<DWORD>(n);
}

DWORD WINAPI GetPrivateProfileSectionA(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize,
                                       LPCSTR lpFileName) {
  CallRecord rec("GetPrivateProfileSectionA", Quote(lpAppName) + ", " +
                                                  PointerArg(lpReturnedString) + ", " +
                                                  std::to_string(nSize) + ", " + Quote(lpFileName));
  Machine& m = M();
  auto empty = [&](DWORD error) {
    m.lastError = error;
    return rec.Return<DWORD>(CopyList({}, lpReturnedString, nSize));
  };
  if (rec.ShouldFail()) return empty(ERROR_ACCESS_DENIED);
  if (!lpAppName || !lpFileName) return empty(ERROR_INVALID_PARAMETER);
  if (DWORD e = PathLengthError(lpFileName)) return empty(e);
  std::string data;
  DWORD error = ERROR_SUCCESS;
  if (!ReadProfile(ProfilePath(lpFileName), &data, &error)) return empty(error);
  std::vector<Line> lines = Parse(data);
  Span span;
  if (!FindSection(lines, lpAppName, &span)) return empty(ERROR_SUCCESS);
  // The section's lines as they stand: comments kept, nothing trimmed.
  std::vector<std::string> entries;
  for (size_t i = span.header + 1; i < span.end; ++i) {
    if (!IsBlankLine(lines[i].text)) entries.push_back(lines[i].text);
  }
  return rec.Return<DWORD>(CopyList(entries, lpReturnedString, nSize));
}

BOOL WINAPI WritePrivateProfileSectionA(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName) {
  CallRecord rec("WritePrivateProfileSectionA",
                 Quote(lpAppName) + ", " + ListArg(lpString) + ", " + Quote(lpFileName));
  Machine& m = M();
  auto fail = [&](DWORD error) {
    m.lastError = error;
    return rec.Return<BOOL>(FALSE);
  };
  if (rec.ShouldFail()) return fail(ERROR_ACCESS_DENIED);
  if (!lpAppName || !lpFileName || !*lpFileName) return fail(ERROR_INVALID_PARAMETER);
  if (DWORD e = PathLengthError(lpFileName)) return fail(e);
  std::string full = ProfilePath(lpFileName);
  bool exists = false;
  if (DWORD e = WritableProfile(full, &exists)) return fail(e);
  std::vector<Line> lines;
  if (exists) lines = Parse(FindNode(full)->data);
  Span span;
  bool found = FindSection(lines, lpAppName, &span);
  if (!lpString) {
    // No list: the section goes.
    if (found) {
      lines.erase(lines.begin() + span.header, lines.begin() + span.end);
      StoreProfile(full, lines, true);
    }
    return rec.Return<BOOL>(TRUE);
  }
  std::vector<Line> entries;
  for (const char* p = lpString; *p; p += std::strlen(p) + 1) entries.push_back(Line{p, kCrLf});
  if (found) {
    size_t end = ContentEnd(lines, span);
    if (lines[span.header].eol.empty()) lines[span.header].eol = kCrLf;
    lines.erase(lines.begin() + span.header + 1, lines.begin() + end);
    lines.insert(lines.begin() + span.header + 1, entries.begin(), entries.end());
  } else {
    Append(&lines, "[" + TrimSpaces(lpAppName) + "]");
    lines.insert(lines.end(), entries.begin(), entries.end());
  }
  StoreProfile(full, lines, exists);
  return rec.Return<BOOL>(TRUE);
}
