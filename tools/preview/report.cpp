#include "report.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <set>
#include <sstream>

#include "installer_process.h"
#include "machine_file.h"
#include "preview.h"
#include "text.h"

namespace preview {

namespace {

using text::Upper;

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Text in double quotes, escaped as text::Escape does (every byte outside
// printable ASCII as \xNN). Long texts are cut after 1024 bytes (the JSON
// report has them whole).
std::string Quoted(const std::string& whole) {
  const size_t kLongest = 1024;
  std::string q = "\"" + text::Escape(whole.substr(0, kLongest), false) + "\"";
  if (whole.size() > kLongest) {
    q += "... (" + std::to_string(whole.size() - kLongest) + " more bytes)";
  }
  return q;
}

// Text from the input or the run that is shown as it stands (paths, the
// command line, message texts): control characters escaped, backslashes and
// quotes left as they are.
std::string Printable(const std::string& text) { return SafeLine(text, 1024); }

std::string Bytes(size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// Whether data is one text with exactly its terminating zero.
bool IsText(const std::string& data) {
  return !data.empty() && data.back() == '\0' && data.find('\0') == data.size() - 1;
}

bool IsMultiText(const std::string& data) {
  if (data.size() < 2 || data[data.size() - 1] != '\0' || data[data.size() - 2] != '\0') {
    return false;
  }
  // No empty string before the final one.
  return data.size() == 2 ? false : data.find(std::string(2, '\0')) == data.size() - 2;
}

DWORD DwordValue(const std::string& data) {
  DWORD n = 0;
  for (size_t i = 0; i < 4; ++i)
    n |= static_cast<DWORD>(static_cast<unsigned char>(data[i])) << (8 * i);
  return n;
}

std::string HexList(const std::string& data, size_t limit) {
  std::string text;
  for (size_t i = 0; i < data.size() && i < limit; ++i) {
    if (i) text += ' ';
    text += text::HexDigits(static_cast<unsigned char>(data[i]), 2);
  }
  if (data.size() > limit) text += " ...";
  return text;
}

std::string ValueTextOf(const sim::Value& v) {
  std::string text = TypeName(v.type) + " ";
  if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && IsText(v.data)) {
    text += Quoted(v.data.substr(0, v.data.size() - 1));
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD n = DwordValue(v.data);
    text += "0x" + text::HexDigits(n, 8) + " (" + std::to_string(n) + ")";
  } else if (v.type == REG_MULTI_SZ && IsMultiText(v.data)) {
    std::string rest = v.data.substr(0, v.data.size() - 2);
    std::string list;
    size_t start = 0;
    while (true) {
      size_t zero = rest.find('\0', start);
      list += (list.empty() ? "" : ", ") + Quoted(rest.substr(start, zero - start));
      if (zero == std::string::npos) break;
      start = zero + 1;
    }
    text += list;
  } else {
    text += v.data.empty() ? "(no data)" : HexList(v.data, 32);
  }
  return text + ", " + Bytes(v.data.size());
}

std::string ValueName(const std::string& name) { return name.empty() ? "(default)" : Quoted(name); }

bool IsPendingRenameList(const std::string& key, const std::string& name) {
  return Upper(name) == "PENDINGFILERENAMEOPERATIONS" &&
         EndsWith(Upper(key), "\\CONTROL\\SESSION MANAGER");
}

}  // namespace

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
  }
  return "type " + std::to_string(type);
}

// ------------------------------------------------------------ files

namespace {

std::string AttributeText(DWORD a) {
  std::string flags;
  if (a & FILE_ATTRIBUTE_READONLY) flags += " read-only";
  if (a & FILE_ATTRIBUTE_HIDDEN) flags += " hidden";
  if (a & FILE_ATTRIBUTE_SYSTEM) flags += " system";
  if (a & FILE_ATTRIBUTE_ARCHIVE) flags += " archive";
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%02x", static_cast<unsigned>(a));
  return std::string(buffer) + (flags.empty() ? "" : " (" + flags.substr(1) + ")");
}

enum class ListKind { Changed, Removed, Attributes };

// What the text report says of a file after its path.
std::string WhatText(const FileChange& f, ListKind kind) {
  std::string attributes =
      AttributeText(f.attributesBefore) + " -> " + AttributeText(f.attributesAfter);
  if (kind == ListKind::Removed) return std::string();
  if (kind == ListKind::Attributes) return attributes;
  std::string what = std::string(f.isNew ? "new" : "replaced") + ", " + Bytes(f.bytes) +
                     (f.origin.empty() ? std::string() : ", from " + f.origin);
  if (f.attributesChanged) what += "; attributes " + attributes;
  if (f.staged) {
    what += f.becomes.empty() ? "; deleted at the restart"
                              : "; becomes " + f.becomes + " at the restart";
  }
  return what;
}

void WriteFileList(std::ostream& out, const std::string& title, const std::vector<FileChange>& list,
                   ListKind kind, const std::string& indent = "  ") {
  out << "\n" << title << " (" << list.size() << ")\n";
  if (list.empty()) {
    out << indent << "none\n";
    return;
  }
  size_t width = 0;
  for (const FileChange& f : list) width = std::max(width, std::min<size_t>(f.path.size(), 56));
  for (const FileChange& f : list) {
    out << indent << Printable(f.path);
    std::string what = WhatText(f, kind);
    if (!what.empty()) {
      out << std::string(f.path.size() < width ? width - f.path.size() : 0, ' ') << "  " << what;
    }
    out << "\n";
  }
}

std::string RenameText(const Rename& r) {
  if (r.to.empty()) return "delete " + Printable(r.from);
  return Printable(r.from) + "  ->  " + Printable(r.to) + (r.replace ? "  (replacing)" : "");
}

// ------------------------------------------------------------ REGEDIT4

std::string Regedit4String(const std::string& text) {
  std::string q = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

std::string Regedit4Data(const sim::Value& v, size_t nameWidth) {
  if (v.type == REG_SZ && IsText(v.data)) {
    return Regedit4String(v.data.substr(0, v.data.size() - 1));
  }
  if (v.type == REG_DWORD && v.data.size() == 4)
    return "dword:" + text::HexDigits(DwordValue(v.data), 8);
  std::string text = v.type == REG_BINARY ? "hex:" : "hex(" + std::to_string(v.type) + "):";
  size_t column = nameWidth + 1 + text.size();
  for (size_t i = 0; i < v.data.size(); ++i) {
    text += text::HexDigits(static_cast<unsigned char>(v.data[i]), 2);
    column += 2;
    if (i + 1 < v.data.size()) {
      text += ',';
      ++column;
      if (column > 76) {
        text += "\\\r\n  ";
        column = 2;
      }
    }
  }
  return text;
}

}  // namespace

std::string ValueText(const sim::Value& value) { return ValueTextOf(value); }
void WriteReport(const RunReport& r, std::ostream& out) {
  out << "drvsetup.exe on a simulated " << r.windowsName << " ("
      << (r.nineX ? "9x family" : "NT family") << ")\n";
  out << "  source folder  " << r.sourceFolder << " holds " << Printable(r.sourceText) << "\n";
  for (const std::string& disc : r.discs) out << "  CD-ROM drive   " << Printable(disc) << "\n";
  out << "  command line   " << Printable(r.commandLine) << "\n";

  out << "\nMessage boxes (" << r.boxes.size() << ")\n";
  if (r.boxes.empty()) out << "  none\n";
  for (size_t i = 0; i < r.boxes.size(); ++i) {
    const sim::Box& box = r.boxes[i];
    out << "  " << i + 1 << ". [" << Printable(box.caption) << "] " << Printable(box.text);
    if (box.type != 0) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "  (type 0x%04x)", box.type);
      out << buffer;
    }
    out << "\n";
  }

  FileChanges files = CompareFiles(r.before, r.after, r.renames, r);
  WriteFileList(out, "Files placed", files.placed, ListKind::Changed);
  WriteFileList(out, "Files staged, named at the restart", files.staged, ListKind::Changed);
  WriteFileList(out, "Files removed", files.removed, ListKind::Removed);
  if (!files.attributes.empty()) {
    WriteFileList(out, "File attributes changed", files.attributes, ListKind::Attributes);
  }

  size_t written = 0;
  for (const KeyChange& k : r.registry.keys) written += k.written.size();
  out << "\nRegistry values written (" << written << ")\n";
  if (r.registry.keys.empty()) out << "  none\n";
  for (const KeyChange& k : r.registry.keys) {
    out << "  " << Printable(k.path) << (k.created ? "  (new key)" : "") << "\n";
    for (const ValueChange& v : k.written) {
      if (IsPendingRenameList(k.path, v.name)) {
        // Its contents are the renames shown below.
        out << "    " << ValueName(v.name) << " = " << TypeName(v.value.type) << ", "
            << Bytes(v.value.data.size()) << " (the renames pending, below)\n";
        continue;
      }
      out << "    " << ValueName(v.name) << " = " << ValueTextOf(v.value);
      if (v.hadOld) out << "  (was " << ValueTextOf(v.old) << ")";
      out << "\n";
    }
    for (const std::string& name : k.removedValues)
      out << "    " << ValueName(name) << " removed\n";
  }
  if (!r.registry.removedKeys.empty()) {
    out << "\nRegistry keys removed (" << r.registry.removedKeys.size() << ")\n";
    for (const std::string& key : r.registry.removedKeys) out << "  " << Printable(key) << "\n";
  }
  if (!r.registry.security.empty()) {
    out << "\nRegistry access lists changed (" << r.registry.security.size() << ")\n";
    for (const SecurityChange& s : r.registry.security) {
      out << "  " << s.path << "\n    before: " << s.before << "\n    after:  " << s.after << "\n";
    }
  }

  std::vector<IniChange> ini = CompareIniFiles(r.before, r.after, WininitPath());
  size_t lines = 0;
  for (const IniChange& c : ini) {
    for (const auto& s : c.sections) lines += s.second.size();
  }
  out << "\nINI entries changed (" << lines << ")\n";
  if (ini.empty()) out << "  none\n";
  for (const IniChange& c : ini) {
    out << "  " << Printable(c.path)
        << (c.created   ? "  (new file)"
            : c.removed ? "  (removed)"
                        : "")
        << "\n";
    for (const auto& section : c.sections) {
      std::string indent = "    ";
      if (!section.first.empty()) {
        out << "    " << section.first << "\n";
        indent = "      ";
      }
      for (const std::string& line : section.second) out << indent << SafeLine(line) << "\n";
    }
  }

  out << "\nRenames pending for the restart (" << r.renames.size() << ", "
      << (r.nineX ? "Wininit.ini [RENAME]" : "PendingFileRenameOperations") << ")\n";
  if (r.renames.empty()) out << "  none\n";
  for (size_t i = 0; i < r.renames.size(); ++i) {
    out << "  " << i + 1 << ". " << RenameText(r.renames[i]) << "\n";
  }

  out << "\nAfter the restart\n";
  if (r.renamesLeft.empty()) {
    out << "  renames still pending: none\n";
  } else {
    out << "  renames still pending: " << r.renamesLeft.size() << "\n";
    for (const Rename& rename : r.renamesLeft) out << "    " << RenameText(rename) << "\n";
  }
  FileChanges restart = CompareFiles(r.before, r.afterRestart, {}, r);
  WriteFileList(out, "  Files new or replaced since before the run", restart.placed,
                ListKind::Changed, "    ");
  WriteFileList(out, "  Files gone since before the run", restart.removed, ListKind::Removed,
                "    ");

  if (r.trace) {
    out << "\nPlatform calls (" << r.calls.size() << ")\n";
    for (size_t i = 0; i < r.calls.size(); ++i) {
      const sim::Call& call = r.calls[i];
      char number[32];
      std::snprintf(number, sizeof number, "%5zu  ", i + 1);
      out << number << call.function << "(" << call.args << ") = " << call.result;
      if (call.lastError != 0) out << "  [error " << call.lastError << "]";
      if (call.injected) out << "  [failed on purpose]";
      out << "\n";
    }
  }

  out << "\nPlatform calls made: " << r.callCount << "\n";
  if (r.result.exited) {
    out << "Exit code: " << r.result.exitCode << "\n";
  } else {
    out << "Exit code: none (the installer returned without ending its process)\n";
  }
}

std::string Regedit4Text(const RunReport& r) {
  std::string text = "REGEDIT4\r\n\r\n";
  for (const std::string& key : r.registry.removedKeys) text += "[-" + key + "]\r\n\r\n";
  for (const KeyChange& k : r.registry.keys) {
    text += "[" + k.path + "]\r\n";
    for (const std::string& name : k.removedValues) {
      text += (name.empty() ? std::string("@") : Regedit4String(name)) + "=-\r\n";
    }
    for (const ValueChange& v : k.written) {
      std::string name = v.name.empty() ? std::string("@") : Regedit4String(v.name);
      text += name + "=" + Regedit4Data(v.value, name.size()) + "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

}  // namespace preview
