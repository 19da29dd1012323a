// File removals: deletion now, or at the next restart behind the renames
// already pending for it.
#include "file_removal.h"

#include <map>
#include <set>

#include "file_placement.h"
#include "messages.h"
#include "platform_family.h"

namespace {

const char kWininit[] = "Wininit.ini";
const char kRenameSection[] = "rename";
// Wininit.ini is a short list; a larger file is not taken for one.
const DWORD kLargestWininit = 1u << 20;

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

std::string FileNamePart(const std::string& path) {
  const size_t cut = path.find_last_of("\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string UnableToRemove(const std::string& path) {
  return "Unable to remove \"" + FileNamePart(path) + "\" !";
}

// One line of a text, without its line ending, and where the next begins.
struct Line {
  size_t begin;
  size_t end;   // where the text of the line ends
  size_t next;  // after its line ending
};

std::vector<Line> LinesOf(const std::string& text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    const size_t next = end == std::string::npos ? text.size() : end + 1;
    if (end == std::string::npos) end = text.size();
    const size_t textEnd = end > pos && text[end - 1] == '\r' ? end - 1 : end;
    lines.push_back({pos, textEnd, next});
    pos = next;
  }
  return lines;
}

// The section a line opens ("" when it opens none): the name between '['
// and ']', blanks around it dropped.
bool OpensSection(const std::string& line, std::string* name) {
  const std::string text = Trimmed(line);
  if (text.empty() || text[0] != '[') return false;
  const size_t close = text.find(']');
  *name = Trimmed(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

// The lines of the first section of that name: [first, last) line indexes;
// false when the text has no such section.
bool FindSection(const std::string& text, const std::vector<Line>& lines,
                 const std::string& section, size_t* first, size_t* last) {
  const std::string wanted = Upper(section);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name;
    if (!OpensSection(text.substr(lines[i].begin, lines[i].end - lines[i].begin), &name) ||
        Upper(name) != wanted) {
      continue;
    }
    size_t j = i + 1;
    std::string other;
    while (j < lines.size() &&
           !OpensSection(text.substr(lines[j].begin, lines[j].end - lines[j].begin), &other)) {
      ++j;
    }
    *first = i + 1;
    *last = j;
    return true;
  }
  return false;
}

// -------------------------------------------------- the pending renames

// NT: PendingFileRenameOperations, pairs of "\??\"-prefixed paths, the new
// path "!"-prefixed when it is replaced, empty for a deletion.
std::string WithoutNtPrefix(const std::string& path) {
  return path.compare(0, 4, "\\??\\") == 0 ? path.substr(4) : path;
}

std::vector<PendingRename> NtRenames() {
  std::vector<PendingRename> renames;
  std::vector<char> data;
  if (!ReadPendingRenames(data)) return renames;
  std::vector<std::string> strings;
  size_t pos = 0;
  while (pos < data.size()) {
    size_t zero = pos;
    while (zero < data.size() && data[zero] != '\0') ++zero;
    if (zero == data.size()) break;  // cut off by the end of the data
    strings.emplace_back(data.data() + pos, zero - pos);
    pos = zero + 1;
  }
  for (size_t i = 0; i + 1 < strings.size(); i += 2) {
    if (strings[i].empty()) break;  // the end of the list
    PendingRename rename;
    rename.existingPath = WithoutNtPrefix(strings[i]);
    std::string target = strings[i + 1];
    rename.replace = !target.empty() && target[0] == '!';
    if (rename.replace) target.erase(0, 1);
    rename.newPath = WithoutNtPrefix(target);
    renames.push_back(rename);
  }
  return renames;
}

// 9x: the whole of Wininit.ini, read through a file handle; false when it is
// there but cannot be read (a missing file reads as empty).
bool ReadWininit(const std::string& path, std::string* text) {
  text->clear();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  bool read = false;
  const DWORD size = GetFileSize(file, NULL);
  if (size != INVALID_FILE_SIZE && size <= kLargestWininit) {
    std::vector<char> buffer(size + 1, '\0');
    DWORD got = 0;
    if (size == 0 || ReadFile(file, buffer.data(), size, &got, NULL)) {
      text->assign(buffer.data(), size == 0 ? 0 : got);
      read = true;
    }
  }
  CloseHandle(file);
  return read;
}

// Adds the deletions to Wininit.ini in one write of the whole new text; a
// refused open, read or write ends the run.
void ScheduleWininitDeletions(const std::string& path, const std::vector<std::string>& paths) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) FailIniWrite(kWininit);
  bool written = false;
  const DWORD size = GetFileSize(file, NULL);
  if (size != INVALID_FILE_SIZE && size <= kLargestWininit) {
    std::vector<char> buffer(size + 1, '\0');
    DWORD got = 0;
    if (size == 0 || (ReadFile(file, buffer.data(), size, &got, NULL) && got == size)) {
      std::vector<std::string> lines;
      for (const std::string& p : paths) lines.push_back("NUL=" + p);
      // Only lines are added: the new text is never shorter than the old.
      const std::string text =
          WithLinesInSection(std::string(buffer.data(), size), kRenameSection, lines);
      DWORD put = 0;
      written = SetFilePointer(file, 0, NULL, FILE_BEGIN) == 0 &&
                WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, NULL) &&
                put == text.size() && SetEndOfFile(file);
    }
  }
  CloseHandle(file);
  if (!written) FailIniWrite(kWininit);
}

// ---------------------------------------------------------- deletion now

// Whether the path still holds a file after trying to delete it now.
bool LeftAfterDeleting(const std::string& path) {
  if (DeleteFileA(path.c_str())) return false;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;  // a folder is no file of ours
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return true;
  if (!SetFileAttributesA(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY))) return true;
  return !DeleteFileA(path.c_str());
}

// A path from a drive's root ("C:\\...") or a share ("\\\\server\\..."). Any
// other path would be taken relative to the current folder, where the
// product's files are not: a folder that could not be read gives such paths.
bool FromARoot(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') return true;
  return path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
}

bool HoldsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::vector<std::string> PathsLeftAfterRenames(
    const std::vector<std::string>& paths, const std::vector<PendingRename>& pending,
    const std::function<bool(const std::string&)>& exists) {
  // The paths that matter: ours, and every path a pending rename moves
  // into one that matters.
  std::set<std::string> matters;
  for (const std::string& p : paths) matters.insert(Upper(p));
  for (bool grown = true; grown;) {
    grown = false;
    for (const PendingRename& r : pending) {
      if (!r.newPath.empty() && matters.count(Upper(r.newPath)) &&
          matters.insert(Upper(r.existingPath)).second) {
        grown = true;
      }
    }
  }
  std::map<std::string, bool> holds;
  auto holdsFile = [&](const std::string& path) {
    const std::string key = Upper(path);
    auto it = holds.find(key);
    if (it == holds.end()) it = holds.emplace(key, exists(path)).first;
    return it->second;
  };
  for (const PendingRename& r : pending) {
    const std::string from = Upper(r.existingPath);
    if (!matters.count(from)) continue;
    if (r.newPath.empty()) {
      holds[from] = false;
      continue;
    }
    const std::string to = Upper(r.newPath);
    if (!holdsFile(r.existingPath) || from == to) continue;
    if (!r.replace && holdsFile(r.newPath)) continue;  // the rename fails
    holds[to] = true;
    holds[from] = false;
  }
  std::vector<std::string> left;
  std::set<std::string> seen;
  for (const std::string& p : paths) {
    if (seen.insert(Upper(p)).second && holdsFile(p)) left.push_back(p);
  }
  return left;
}

namespace {

// What ends the text's last line when it has no line ending: a file cut
// after its CR gets only the LF, so that the line reads as it did.
std::string EndingOfLastLine(const std::string& text) {
  if (text.empty() || text.back() == '\n') return std::string();
  return text.back() == '\r' ? "\n" : "\r\n";
}

}  // namespace

std::string WithLinesInSection(const std::string& text, const std::string& section,
                               const std::vector<std::string>& lines) {
  std::string added;
  for (const std::string& line : lines) added += line + "\r\n";
  const std::vector<Line> all = LinesOf(text);
  size_t first = 0;
  size_t last = 0;
  if (!FindSection(text, all, section, &first, &last)) {
    return text + EndingOfLastLine(text) + "[" + section + "]\r\n" + added;
  }
  // After the section's last line that is not blank (or right after its
  // heading): blank lines before the next section stay before it.
  size_t after = first;
  for (size_t i = first; i < last; ++i) {
    if (!Trimmed(text.substr(all[i].begin, all[i].end - all[i].begin)).empty()) after = i + 1;
  }
  const size_t at = all[after - 1].next;
  return text.substr(0, at) + EndingOfLastLine(text.substr(0, at)) + added + text.substr(at);
}

std::vector<PendingRename> WininitRenames(const std::string& text) {
  std::vector<PendingRename> renames;
  const std::vector<Line> all = LinesOf(text);
  size_t first = 0;
  size_t last = 0;
  if (!FindSection(text, all, kRenameSection, &first, &last)) return renames;
  for (size_t i = first; i < last; ++i) {
    const std::string line = Trimmed(text.substr(all[i].begin, all[i].end - all[i].begin));
    const size_t eq = line.find('=');
    if (line.empty() || line[0] == ';' || eq == std::string::npos) continue;
    PendingRename rename;
    const std::string target = Trimmed(line.substr(0, eq));
    rename.existingPath = Trimmed(line.substr(eq + 1));
    if (rename.existingPath.empty()) continue;
    rename.newPath = Upper(target) == "NUL" ? std::string() : target;
    if (!rename.newPath.empty() || Upper(target) == "NUL") renames.push_back(rename);
  }
  return renames;
}

void RemoveFiles(const std::vector<std::string>& requested, const std::string& windowsFolder) {
  std::vector<std::string> paths;
  for (const std::string& path : requested) {
    if (FromARoot(path)) paths.push_back(path);
  }
  std::set<std::string> left;
  for (const std::string& path : paths) {
    if (LeftAfterDeleting(path)) left.insert(Upper(path));
  }
  // Our own paths hold a file exactly when they could not be deleted now.
  std::set<std::string> ours;
  for (const std::string& path : paths) ours.insert(Upper(path));
  auto existsNow = [&ours, &left](const std::string& path) {
    const std::string key = Upper(path);
    return ours.count(key) ? left.count(key) != 0 : HoldsFile(path);
  };

  if (PlatformFamily == FAMILY_9X) {
    const std::string wininit = windowsFolder + kWininit;
    if (!FromARoot(wininit)) {
      // Without the windows folder there is no Wininit.ini to write to.
      for (const std::string& path : paths) {
        if (left.count(Upper(path))) ShowInstallerMessage(UnableToRemove(path));
      }
      return;
    }
    std::string text;
    const bool read = ReadWininit(wininit, &text);
    const std::vector<std::string> schedule = PathsLeftAfterRenames(
        paths, read ? WininitRenames(text) : std::vector<PendingRename>(), existsNow);
    if (!schedule.empty()) ScheduleWininitDeletions(wininit, schedule);
    return;
  }
  for (const std::string& path : PathsLeftAfterRenames(paths, NtRenames(), existsNow)) {
    if (!MoveFileExA(path.c_str(), NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
      ShowInstallerMessage(UnableToRemove(path));
    }
  }
}
