// Drives, folders and files of the simulated machine, and the kernel32 calls
// that work on them.
#include <cstring>
#include <initializer_list>

#include "machine.h"

namespace sim {

namespace {

// Bits a file keeps; FILE_ATTRIBUTE_DIRECTORY is a property of the node and
// FILE_ATTRIBUTE_NORMAL only stands for "no bits".
const DWORD kStoredBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                          FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;

// FILETIME ticks per second, and the days from 1601-01-01 to 1970-01-01.
const uint64_t kTicksPerSecond = 10000000ull;
const int64_t kDaysFrom1601To1970 = 134774;

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int DriveIndex(char letter) {
  if (letter >= 'a' && letter <= 'z') return letter - 'a';
  if (letter >= 'A' && letter <= 'Z') return letter - 'A';
  return -1;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2);
}

std::vector<std::string> SplitParts(const std::string& rest) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : rest) {
    if (c == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

// A path taken apart: drive index, the names below the root, and whether it
// ended in a backslash.
struct Parsed {
  int drive = -1;
  std::vector<std::string> parts;
  bool trailing = false;
};

Parsed ParseFull(const std::string& full) {
  Parsed p;
  if (full.size() < 2 || full[1] != ':' || !IsLetter(full[0])) return p;
  p.drive = DriveIndex(full[0]);
  p.parts = SplitParts(full.substr(2));
  p.trailing = full.size() > 3 && full.back() == '\\';
  return p;
}

// The outcome of resolving a path.
struct Resolved {
  Drive* drive = nullptr;
  Node* node = nullptr;    // the entry itself
  Node* parent = nullptr;  // the folder that holds (or would hold) it
  std::string leaf;        // its name as given
  std::string full;        // the full path
  DWORD error = ERROR_SUCCESS;
};

// Resolves a path. With honourDrive, a drive without a root or without its
// medium holds nothing, as the Win32 calls see it; the control interface
// looks through that.
Resolved Resolve(const std::string& path, bool honourDrive) {
  Resolved r;
  if (path.empty()) {
    r.error = ERROR_PATH_NOT_FOUND;
    return r;
  }
  r.full = FullPath(path);
  Parsed p = ParseFull(r.full);
  if (p.drive < 0) {
    r.error = ERROR_PATH_NOT_FOUND;
    return r;
  }
  Drive& drive = M().drives[p.drive];
  r.drive = &drive;
  if (honourDrive) {
    if (drive.type == DRIVE_NO_ROOT_DIR || drive.type == DRIVE_UNKNOWN) {
      r.error = ERROR_PATH_NOT_FOUND;
      return r;
    }
    if (!drive.mediumPresent) {
      r.error = ERROR_NOT_READY;
      return r;
    }
  }
  if (p.parts.empty()) {
    r.node = &drive.root;
    return r;
  }
  Node* folder = &drive.root;
  for (size_t i = 0; i + 1 < p.parts.size(); ++i) {
    auto it = folder->children.find(Upper(p.parts[i]));
    if (it == folder->children.end() || !it->second->folder) {
      r.error = ERROR_PATH_NOT_FOUND;
      return r;
    }
    folder = it->second.get();
  }
  r.parent = folder;
  r.leaf = p.parts.back();
  auto it = folder->children.find(Upper(r.leaf));
  if (it == folder->children.end()) {
    r.error = ERROR_FILE_NOT_FOUND;
    return r;
  }
  if (p.trailing && !it->second->folder) {
    // "file.txt\" names a folder that is not there.
    r.error = ERROR_PATH_NOT_FOUND;
    return r;
  }
  r.node = it->second.get();
  return r;
}

// Why a write into this drive is refused (CD-ROM media are read-only).
DWORD WriteError(const Drive* drive) {
  if (drive && drive->type == DRIVE_CDROM) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

Node* AddChild(Node* folder, const std::string& name, bool isFolder) {
  auto node = std::make_unique<Node>();
  node->name = name;
  node->folder = isFolder;
  node->attributes = isFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  Node* raw = node.get();
  folder->children[Upper(name)] = std::move(node);
  return raw;
}

// Creates every missing folder of a full path; returns the last one, or
// nullptr when a file stands in the way.
Node* EnsureFolders(const std::string& path) {
  std::string full = FullPath(path);
  Parsed p = ParseFull(full);
  if (p.drive < 0) return nullptr;
  Node* folder = &M().drives[p.drive].root;
  for (const std::string& part : p.parts) {
    auto it = folder->children.find(Upper(part));
    if (it == folder->children.end()) {
      folder = AddChild(folder, part, true);
    } else if (it->second->folder) {
      folder = it->second.get();
    } else {
      return nullptr;
    }
  }
  return folder;
}

DWORD ReportedAttributes(const Node* node) {
  if (node->folder) return (node->attributes & kStoredBits) | FILE_ATTRIBUTE_DIRECTORY;
  DWORD bits = node->attributes & kStoredBits;
  return bits ? bits : FILE_ATTRIBUTE_NORMAL;
}

FILETIME ToFileTime(uint64_t v) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return ft;
}

uint64_t FromFileTime(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// '*' and '?' in one name, case-insensitively.
bool NameMatches(const std::string& pattern, const std::string& name) {
  std::string p = Upper(pattern), n = Upper(name);
  size_t pi = 0, ni = 0, star = std::string::npos, mark = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ni;
    } else if (star != std::string::npos) {
      pi = star + 1;
      ni = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

void CollectFiles(const Node* folder, const std::string& prefix, std::vector<std::string>* out) {
  for (const auto& child : folder->children) {
    std::string path = prefix + "\\" + child.second->name;
    if (child.second->folder) {
      CollectFiles(child.second.get(), path, out);
    } else {
      out->push_back(path);
    }
  }
}

std::string Args2(const char* a, const char* b) { return Quote(a) + ", " + Quote(b); }

// Takes a node out of its folder; nullptr when it is not there.
std::unique_ptr<Node> Detach(Node* parent, const std::string& name) {
  auto it = parent->children.find(Upper(name));
  if (it == parent->children.end()) return nullptr;
  std::unique_ptr<Node> node = std::move(it->second);
  parent->children.erase(it);
  return node;
}

bool IsInside(const Node* folder, const Node* candidate) {
  if (folder == candidate) return true;
  for (const auto& child : folder->children) {
    if (child.second->folder && IsInside(child.second.get(), candidate)) return true;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------- internals

std::string CurrentFolder() {
  const std::string& module = M().modulePath;
  size_t cut = module.find_last_of("\\/");
  if (cut == std::string::npos) return "C:";
  std::string folder = module.substr(0, cut);
  return folder.empty() ? "C:" : folder;
}

std::string FullPath(const std::string& path) {
  std::string p = path;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') return p;  // UNC: not resolved
  std::string current = CurrentFolder();
  std::string prefix;  // "X:"
  std::string rest;
  if (p.size() >= 2 && IsLetter(p[0]) && p[1] == ':') {
    prefix = p.substr(0, 2);
    rest = p.substr(2);
    if (rest.empty() || rest[0] != '\\') {
      // Relative to the drive's current folder: the process's own on its
      // drive, the root elsewhere.
      bool same = current.size() >= 2 && DriveIndex(current[0]) == DriveIndex(p[0]);
      rest = (same ? current.substr(2) : std::string()) + "\\" + rest;
    }
  } else if (!p.empty() && p[0] == '\\') {
    prefix = current.substr(0, 2);
    rest = p;
  } else {
    prefix = current.substr(0, 2);
    rest = current.substr(2) + "\\" + p;
  }
  bool trailing = !p.empty() && p.back() == '\\';
  std::vector<std::string> parts;
  for (const std::string& part : SplitParts(rest)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string full = prefix + "\\";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) full += "\\";
    full += parts[i];
  }
  if (trailing && !parts.empty()) full += "\\";
  return full;
}

Node* FindNode(const std::string& path) { return Resolve(path, true).node; }

Node* FindParent(const std::string& path, std::string* leaf) {
  Resolved r = Resolve(path, true);
  if (leaf) *leaf = r.leaf;
  if (r.error != ERROR_SUCCESS && r.error != ERROR_FILE_NOT_FOUND) return nullptr;
  return r.parent;
}

DWORD LookupError(const std::string& path) { return Resolve(path, true).error; }

DWORD PathLengthError(const char* path) {
  // MAX_PATH counts the terminating zero.
  const DWORD kFilenameExcedRange = 206;  // ERROR_FILENAME_EXCED_RANGE
  return path && std::strlen(path) >= MAX_PATH ? kFilenameExcedRange : ERROR_SUCCESS;
}

Drive* DriveOf(const std::string& fullPath) {
  Parsed p = ParseFull(fullPath);
  return p.drive < 0 ? nullptr : &M().drives[p.drive];
}

bool MoveEntry(const std::string& from, const std::string& to, bool replace) {
  Resolved src = Resolve(from, false);
  Resolved dst = Resolve(to, false);
  if (!src.node || !src.parent || !dst.parent) return false;
  if (src.node->folder && IsInside(src.node, dst.parent)) return false;
  if (dst.node == src.node) {
    src.node->name = dst.leaf;  // a change of case only
    return true;
  }
  if (dst.node) {
    if (!replace || dst.node->folder) return false;
    Detach(dst.parent, dst.leaf);
  }
  std::unique_ptr<Node> node = Detach(src.parent, src.leaf);
  node->name = dst.leaf;
  dst.parent->children[Upper(dst.leaf)] = std::move(node);
  return true;
}

bool DeleteEntry(const std::string& path) {
  Resolved r = Resolve(path, false);
  if (!r.node || !r.parent) return false;
  if (r.node->folder && !r.node->children.empty()) return false;
  Detach(r.parent, r.leaf);
  return true;
}

void ResetFiles(Machine& m) {
  for (Drive& drive : m.drives) {
    drive.type = DRIVE_NO_ROOT_DIR;
    drive.mediumPresent = true;
    drive.root.children.clear();
    drive.root.folder = true;
    drive.root.attributes = FILE_ATTRIBUTE_DIRECTORY;
  }
  for (int i = 0; i < 26; ++i)
    m.drives[i].root.name = std::string(1, static_cast<char>('A' + i)) + ":";
  m.drives['C' - 'A'].type = DRIVE_FIXED;
}

// ------------------------------------------------------ control interface

void SetDrive(char letter, UINT type, bool mediumPresent) {
  int i = DriveIndex(letter);
  if (i < 0) return;
  M().drives[i].type = type;
  M().drives[i].mediumPresent = mediumPresent;
}

uint64_t FileTimeOf(int year, int month, int day, int hour, int minute, int second) {
  int64_t days = DaysFromCivil(year, month, day) + kDaysFrom1601To1970;
  int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  if (seconds < 0) return 0;
  return static_cast<uint64_t>(seconds) * kTicksPerSecond;
}

void MakeFolder(const std::string& path) { EnsureFolders(path); }

void PutFile(const std::string& path, const std::string& data, DWORD attributes,
             uint64_t lastWrite) {
  std::string full = FullPath(path);
  Parsed p = ParseFull(full);
  if (p.drive < 0 || p.parts.empty()) return;
  std::string leaf = p.parts.back();
  std::string parentPath = full.substr(0, 2) + "\\";
  for (size_t i = 0; i + 1 < p.parts.size(); ++i) parentPath += p.parts[i] + "\\";
  Node* folder = EnsureFolders(parentPath);
  if (!folder) return;
  auto it = folder->children.find(Upper(leaf));
  Node* node;
  if (it != folder->children.end() && !it->second->folder) {
    node = it->second.get();
  } else {
    if (it != folder->children.end()) folder->children.erase(it);
    node = AddChild(folder, leaf, false);
  }
  node->data = data;
  node->attributes = attributes & kStoredBits;
  node->lastWrite = lastWrite;
}

bool FileData(const std::string& path, std::string* data) {
  Node* node = Resolve(path, false).node;
  if (!node || node->folder) return false;
  if (data) *data = node->data;
  return true;
}

DWORD Attributes(const std::string& path) {
  Node* node = Resolve(path, false).node;
  return node ? ReportedAttributes(node) : INVALID_FILE_ATTRIBUTES;
}

void SetAttributes(const std::string& path, DWORD attributes) {
  Node* node = Resolve(path, false).node;
  if (node) node->attributes = attributes & kStoredBits;
}

void SetLastWrite(const std::string& path, uint64_t lastWrite) {
  Node* node = Resolve(path, false).node;
  if (node) node->lastWrite = lastWrite;
}

bool Exists(const std::string& path) { return Resolve(path, false).node != nullptr; }

bool IsFolder(const std::string& path) {
  Node* node = Resolve(path, false).node;
  return node && node->folder;
}

void Remove(const std::string& path) {
  Resolved r = Resolve(path, false);
  if (r.node && r.parent) Detach(r.parent, r.leaf);
}

void SetLocked(const std::string& path, bool locked) {
  Node* node = Resolve(path, false).node;
  if (node && !node->folder) node->locked = locked;
}

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> out;
  if (folder.empty()) {
    for (const Drive& drive : M().drives) CollectFiles(&drive.root, drive.root.name, &out);
    return out;
  }
  Parsed p = ParseFull(FullPath(folder));
  if (p.drive < 0) return out;
  // The prefix spelled as the folders are stored.
  const Node* node = &M().drives[p.drive].root;
  std::string prefix = node->name;
  for (const std::string& part : p.parts) {
    auto it = node->children.find(Upper(part));
    if (it == node->children.end() || !it->second->folder) return out;
    node = it->second.get();
    prefix += "\\" + node->name;
  }
  CollectFiles(node, prefix, &out);
  return out;
}

}  // namespace sim

// ------------------------------------------------------------ Win32 calls

using namespace sim;

namespace {

// The start that the file calls share: the call is recorded (and at a power
// loss stops the process there), the fault plan may refuse it, and the path
// arguments must be present and shorter than MAX_PATH. A refusal sets the
// last error and records the call's error result.
class FileCall {
 public:
  FileCall(const char* function, std::string args) : rec_(function, std::move(args)) {}

  // ERROR_SUCCESS when the call may go on; otherwise the error to fail with.
  // `othersPresent` tells whether the other required arguments are given;
  // `refusal` is the error an injected fault gives.
  DWORD Begin(std::initializer_list<const char*> paths, bool othersPresent = true,
              DWORD refusal = ERROR_ACCESS_DENIED) {
    if (rec_.ShouldFail()) return refusal;
    if (!othersPresent) return ERROR_INVALID_PARAMETER;
    for (const char* path : paths) {
      if (!path) return ERROR_INVALID_PARAMETER;
    }
    for (const char* path : paths) {
      if (DWORD e = sim::PathLengthError(path)) return e;
    }
    return ERROR_SUCCESS;
  }

  template <typename T>
  T Fail(DWORD error, T result) {
    sim::M().lastError = error;
    return rec_.Return<T>(result);
  }
  template <typename T>
  T Return(T result) {
    return rec_.Return<T>(result);
  }
  void Done(const std::string& result) { rec_.Done(result); }

 private:
  CallRecord rec_;
};

}  // namespace

namespace {

// Files held in memory grow no larger than this: the disk is full.
const uint64_t kLargestFile = uint64_t(1) << 30;

// The file behind a handle from CreateFileA, or nullptr when the handle is
// not one or its file is gone.
HandleObject* FileOf(HANDLE hFile, Node** node) {
  HandleObject* object = GetHandle(reinterpret_cast<uintptr_t>(hFile), HandleKind::File);
  if (!object) return nullptr;
  Node* found = Resolve(object->path, false).node;
  if (found != object->file) return nullptr;
  *node = found;
  return object;
}

// Whether a handle is open on this file (and its file is still the one at
// its path, not one made later in the place of a removed one).
bool OpenOn(const HandleObject& object, const Node* node) {
  return object.kind == HandleKind::File && object.file == node &&
         Resolve(object.path, false).node == node;
}

// Whether the file is held open by this process in a way that stops an
// opening with this access and sharing (both sides must share what the
// other wants).
bool SharingConflict(const Node* node, DWORD access, DWORD share) {
  for (const auto& entry : M().handles) {
    const HandleObject& other = entry.second;
    if (!OpenOn(other, node)) continue;
    const bool otherReads = other.access & GENERIC_READ, otherWrites = other.access & GENERIC_WRITE;
    if (((access & GENERIC_READ) && !(other.share & FILE_SHARE_READ)) ||
        ((access & GENERIC_WRITE) && !(other.share & FILE_SHARE_WRITE)) ||
        (otherReads && !(share & FILE_SHARE_READ)) || (otherWrites && !(share & FILE_SHARE_WRITE)))
      return true;
  }
  return false;
}

// Whether this process holds the file open at all: such a file is not
// deleted, renamed or replaced (the simulated machine has no deletion that
// waits for the last handle).
bool HeldOpen(const Node* node) {
  for (const auto& entry : M().handles) {
    if (OpenOn(entry.second, node)) return true;
  }
  return false;
}

// Deletes a file as DeleteFileA does; the error when it cannot.
DWORD DeleteNow(const char* path) {
  Resolved r = Resolve(path, true);
  if (r.error != ERROR_SUCCESS) return r.error;
  if (!r.parent || r.node->folder) return ERROR_ACCESS_DENIED;
  if (DWORD e = WriteError(r.drive)) return e;
  if (r.node->attributes & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  if (r.node->locked || HeldOpen(r.node)) return ERROR_SHARING_VIOLATION;
  Detach(r.parent, r.leaf);
  return ERROR_SUCCESS;
}

}  // namespace

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  FileCall call("CopyFileA",
                Args2(lpExistingFileName, lpNewFileName) + ", " + std::to_string(bFailIfExists));
  Machine& m = M();
  auto fail = [&](DWORD error) { return call.Fail<BOOL>(error, FALSE); };
  if (DWORD e = call.Begin({lpExistingFileName, lpNewFileName})) return fail(e);
  Resolved src = Resolve(lpExistingFileName, true);
  if (src.error != ERROR_SUCCESS) return fail(src.error);
  if (src.node->folder) return fail(ERROR_ACCESS_DENIED);
  if (src.node->locked || SharingConflict(src.node, GENERIC_READ, FILE_SHARE_READ))
    return fail(ERROR_SHARING_VIOLATION);
  Resolved dst = Resolve(lpNewFileName, true);
  if (dst.error != ERROR_SUCCESS && dst.error != ERROR_FILE_NOT_FOUND) return fail(dst.error);
  if (!dst.parent) return fail(ERROR_ACCESS_DENIED);  // a drive root
  if (DWORD e = WriteError(dst.drive)) return fail(e);
  DWORD keep = 0;
  if (dst.node) {
    if (bFailIfExists) return fail(ERROR_FILE_EXISTS);
    if (dst.node->folder || (dst.node->attributes & FILE_ATTRIBUTE_READONLY))
      return fail(ERROR_ACCESS_DENIED);
    if (dst.node->locked || HeldOpen(dst.node)) return fail(ERROR_SHARING_VIOLATION);
    if (dst.node == src.node) return fail(ERROR_SHARING_VIOLATION);
    // An overwritten target keeps its hidden and system bits.
    keep = dst.node->attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  }
  Node* target = dst.node ? dst.node : AddChild(dst.parent, dst.leaf, false);
  target->data = src.node->data;
  target->attributes = (src.node->attributes & kStoredBits) | keep | FILE_ATTRIBUTE_ARCHIVE;
  target->lastWrite = src.node->lastWrite;
  m.lastError = ERROR_SUCCESS;
  return call.Return<BOOL>(TRUE);
}

namespace {

// Adds one rename to the NT family's pending list, as the session manager
// expects it: "\??\" paths, "!" before a target that may be replaced, an
// empty target for a deletion, the list closed by an extra zero.
DWORD SchedulePendingRename(const char* from, const char* to, DWORD flags) {
  if (!UserMayAccess(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_SET_VALUE))
    return ERROR_ACCESS_DENIED;
  std::vector<std::pair<std::string, std::string>> list = PendingRenames();
  std::string target;
  if (to && *to) {
    target = std::string((flags & MOVEFILE_REPLACE_EXISTING) ? "!" : "") + "\\??\\" + FullPath(to);
  }
  list.emplace_back("\\??\\" + FullPath(from), target);
  std::string data;
  for (const auto& entry : list) {
    data += entry.first;
    data += '\0';
    data += entry.second;
    data += '\0';
  }
  data += '\0';
  RegPut(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenamesValue, REG_MULTI_SZ, data);
  return ERROR_SUCCESS;
}

}  // namespace

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  FileCall call("MoveFileExA", Args2(lpExistingFileName, lpNewFileName) + ", " + Hex(dwFlags));
  Machine& m = M();
  auto fail = [&](DWORD error) { return call.Fail<BOOL>(error, FALSE); };
  if (DWORD e = call.Begin({})) return fail(e);
  if (Is9x(m.version)) return fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (!lpExistingFileName || !*lpExistingFileName) return fail(ERROR_INVALID_PARAMETER);
  // The new name may be missing (a deletion, now or at the restart); when
  // given, it is held to the same length as the existing one.
  if (DWORD e = PathLengthError(lpExistingFileName)) return fail(e);
  if (DWORD e = PathLengthError(lpNewFileName)) return fail(e);
  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    if (DWORD e = SchedulePendingRename(lpExistingFileName, lpNewFileName, dwFlags)) return fail(e);
    return call.Return<BOOL>(TRUE);
  }
  // No new name and no delay: the file is deleted now.
  if (!lpNewFileName) {
    if (DWORD e = DeleteNow(lpExistingFileName)) return fail(e);
    return call.Return<BOOL>(TRUE);
  }
  Resolved src = Resolve(lpExistingFileName, true);
  if (src.error != ERROR_SUCCESS) return fail(src.error);
  if (!src.parent) return fail(ERROR_ACCESS_DENIED);
  if (src.node->locked || HeldOpen(src.node)) return fail(ERROR_SHARING_VIOLATION);
  if (DWORD e = WriteError(src.drive)) return fail(e);
  Resolved dst = Resolve(lpNewFileName, true);
  if (dst.error != ERROR_SUCCESS && dst.error != ERROR_FILE_NOT_FOUND) return fail(dst.error);
  if (!dst.parent) return fail(ERROR_ACCESS_DENIED);
  if (DWORD e = WriteError(dst.drive)) return fail(e);
  if (dst.node && dst.node != src.node) {
    if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) return fail(ERROR_ALREADY_EXISTS);
    if (dst.node->folder || src.node->folder || (dst.node->attributes & FILE_ATTRIBUTE_READONLY))
      return fail(ERROR_ACCESS_DENIED);
    if (dst.node->locked || HeldOpen(dst.node)) return fail(ERROR_SHARING_VIOLATION);
  }
  if (src.drive != dst.drive) {
    const DWORD kNotSameDevice = 17;
    if (!(dwFlags & MOVEFILE_COPY_ALLOWED) || src.node->folder) return fail(kNotSameDevice);
  }
  if (!MoveEntry(src.full, dst.full, true)) return fail(ERROR_ACCESS_DENIED);
  return call.Return<BOOL>(TRUE);
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  FileCall call("DeleteFileA", Quote(lpFileName));
  auto fail = [&](DWORD error) { return call.Fail<BOOL>(error, FALSE); };
  if (DWORD e = call.Begin({lpFileName})) return fail(e);
  if (DWORD e = DeleteNow(lpFileName)) return fail(e);
  return call.Return<BOOL>(TRUE);
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  FileCall call("GetFileAttributesA", Quote(lpFileName));
  auto fail = [&](DWORD error) { return call.Fail<DWORD>(error, INVALID_FILE_ATTRIBUTES); };
  if (DWORD e = call.Begin({lpFileName})) return fail(e);
  Resolved r = Resolve(lpFileName, true);
  if (r.error != ERROR_SUCCESS) return fail(r.error);
  DWORD attributes = ReportedAttributes(r.node);
  call.Done(Hex(attributes));
  return attributes;
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  FileCall call("SetFileAttributesA", Quote(lpFileName) + ", " + Hex(dwFileAttributes));
  auto fail = [&](DWORD error) { return call.Fail<BOOL>(error, FALSE); };
  if (DWORD e = call.Begin({lpFileName})) return fail(e);
  Resolved r = Resolve(lpFileName, true);
  if (r.error != ERROR_SUCCESS) return fail(r.error);
  if (DWORD e = WriteError(r.drive)) return fail(e);
  // Attribute changes need no data access, so a file held open without
  // sharing still takes them.
  r.node->attributes = dwFileAttributes & kStoredBits;
  return call.Return<BOOL>(TRUE);
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  FileCall call("FindFirstFileA", Quote(lpFileName) + ", " + PointerArg(lpFindFileData));
  auto fail = [&](DWORD error) { return call.Fail<HANDLE>(error, INVALID_HANDLE_VALUE); };
  if (DWORD e = call.Begin({lpFileName}, lpFindFileData != nullptr)) return fail(e);
  std::string name = lpFileName;
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  // A search names its entries; a trailing backslash or a bare root names
  // none.
  if (name.empty()) return fail(ERROR_PATH_NOT_FOUND);
  if (name.back() == '\\' || (name.size() == 2 && name[1] == ':'))
    return fail(ERROR_FILE_NOT_FOUND);
  Resolved r = Resolve(name, true);
  Node* found = nullptr;
  bool wildcard = r.leaf.find_first_of("*?") != std::string::npos;
  if (wildcard && r.parent && (r.error == ERROR_SUCCESS || r.error == ERROR_FILE_NOT_FOUND)) {
    for (const auto& child : r.parent->children) {
      if (NameMatches(r.leaf, child.second->name)) {
        found = child.second.get();
        break;
      }
    }
    if (!found) return fail(ERROR_FILE_NOT_FOUND);
  } else {
    if (r.error != ERROR_SUCCESS) return fail(r.error);
    if (!r.parent) return fail(ERROR_FILE_NOT_FOUND);
    found = r.node;
  }
  std::memset(lpFindFileData, 0, sizeof(*lpFindFileData));
  lpFindFileData->dwFileAttributes = ReportedAttributes(found);
  FILETIME ft = ToFileTime(found->lastWrite);
  lpFindFileData->ftCreationTime = ft;
  lpFindFileData->ftLastAccessTime = ft;
  lpFindFileData->ftLastWriteTime = ft;
  uint64_t size = found->folder ? 0 : found->data.size();
  lpFindFileData->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  lpFindFileData->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  std::strncpy(lpFindFileData->cFileName, found->name.c_str(), MAX_PATH - 1);
  HandleObject object;
  object.kind = HandleKind::Find;
  object.path = r.full;
  HANDLE h = reinterpret_cast<HANDLE>(NewHandle(object));
  return call.Return<HANDLE>(h);
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
  CallRecord rec("FindClose", ResultText(static_cast<const void*>(hFindFile)));
  uintptr_t h = reinterpret_cast<uintptr_t>(hFindFile);
  if (!GetHandle(h, HandleKind::Find)) {
    M().lastError = ERROR_INVALID_HANDLE;
    return rec.Return<BOOL>(FALSE);
  }
  ReleaseHandle(h);
  return rec.Return<BOOL>(TRUE);
}

BOOL WINAPI FileTimeToLocalFileTime(CONST FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
  FileCall call("FileTimeToLocalFileTime",
                (lpFileTime ? Hex(FromFileTime(*lpFileTime)) : std::string("NULL")) + ", " +
                    PointerArg(lpLocalFileTime));
  Machine& m = M();
  auto fail = [&](DWORD error) { return call.Fail<BOOL>(error, FALSE); };
  if (DWORD e = call.Begin({}, lpFileTime && lpLocalFileTime, ERROR_INVALID_PARAMETER))
    return fail(e);
  uint64_t utc = FromFileTime(*lpFileTime);
  int64_t bias = m.timeZoneBias * static_cast<int64_t>(kTicksPerSecond);
  if ((bias < 0 && utc < static_cast<uint64_t>(-bias)) ||
      (bias > 0 && utc > UINT64_MAX - static_cast<uint64_t>(bias)))
    return fail(ERROR_INVALID_PARAMETER);
  *lpLocalFileTime = ToFileTime(utc + static_cast<uint64_t>(bias));
  return call.Return<BOOL>(TRUE);
}

BOOL WINAPI FileTimeToDosDateTime(CONST FILETIME* lpFileTime, WORD* lpFatDate, WORD* lpFatTime) {
  FileCall call("FileTimeToDosDateTime",
                (lpFileTime ? Hex(FromFileTime(*lpFileTime)) : std::string("NULL")) + ", " +
                    PointerArg(lpFatDate) + ", " + PointerArg(lpFatTime));
  auto fail = [&](DWORD error) { return call.Fail<BOOL>(error, FALSE); };
  if (DWORD e = call.Begin({}, lpFileTime && lpFatDate && lpFatTime, ERROR_INVALID_PARAMETER))
    return fail(e);
  uint64_t seconds = FromFileTime(*lpFileTime) / kTicksPerSecond;
  int64_t days = static_cast<int64_t>(seconds / 86400) - kDaysFrom1601To1970;
  uint64_t inDay = seconds % 86400;
  int64_t year;
  int month, day;
  CivilFromDays(days, &year, &month, &day);
  if (year < 1980 || year > 2107) return fail(ERROR_INVALID_PARAMETER);
  *lpFatDate = static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day);
  *lpFatTime =
      static_cast<WORD>(((inDay / 3600) << 11) | (((inDay / 60) % 60) << 5) | ((inDay % 60) / 2));
  return call.Return<BOOL>(TRUE);
}

UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName) {
  CallRecord rec("GetDriveTypeA", Quote(lpRootPathName));
  if (rec.ShouldFail()) return rec.Return<UINT>(DRIVE_UNKNOWN);
  std::string root = lpRootPathName ? lpRootPathName : "\\";
  int drive = -1;
  if (root.size() >= 2 && IsLetter(root[0]) && root[1] == ':') {
    drive = DriveIndex(root[0]);
  } else if (root == "\\" || root == "/") {
    drive = DriveIndex(CurrentFolder()[0]);
  }
  UINT type = drive < 0 ? DRIVE_NO_ROOT_DIR : M().drives[drive].type;
  return rec.Return<UINT>(type);
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  FileCall call("CreateFileA", Quote(lpFileName) + ", " + Hex(dwDesiredAccess) + ", " +
                                   Hex(dwShareMode) + ", " + PointerArg(lpSecurityAttributes) +
                                   ", " + std::to_string(dwCreationDisposition) + ", " +
                                   Hex(dwFlagsAndAttributes) + ", " + PointerArg(hTemplateFile));
  auto fail = [&](DWORD error) { return call.Fail<HANDLE>(error, INVALID_HANDLE_VALUE); };
  if (DWORD e = call.Begin({lpFileName})) return fail(e);
  const DWORD access =
      (dwDesiredAccess & GENERIC_ALL) ? (GENERIC_READ | GENERIC_WRITE) : dwDesiredAccess;
  const bool writes = (access & GENERIC_WRITE) != 0;
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING)
    return fail(ERROR_INVALID_PARAMETER);
  Resolved r = Resolve(lpFileName, true);
  if (r.error != ERROR_SUCCESS && r.error != ERROR_FILE_NOT_FOUND) return fail(r.error);
  if (!r.parent) return fail(r.node ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
  const bool truncates =
      dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
  DWORD lastError = ERROR_SUCCESS;
  Node* node = r.node;
  if (node) {
    if (dwCreationDisposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS);
    // A folder opens only for its own operations, which these are not.
    if (node->folder) return fail(ERROR_ACCESS_DENIED);
    if (node->locked || SharingConflict(node, access, dwShareMode))
      return fail(ERROR_SHARING_VIOLATION);
    if (writes || truncates) {
      if (DWORD e = WriteError(r.drive)) return fail(e);
      if (node->attributes & FILE_ATTRIBUTE_READONLY) return fail(ERROR_ACCESS_DENIED);
    }
    if (dwCreationDisposition == CREATE_ALWAYS) {
      // Replacing a hidden or system file must keep those bits.
      const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
      if ((node->attributes & kept) & ~dwFlagsAndAttributes) return fail(ERROR_ACCESS_DENIED);
      node->attributes = (dwFlagsAndAttributes & kStoredBits) | FILE_ATTRIBUTE_ARCHIVE;
    }
    if (truncates) node->data.clear();
    if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS)
      lastError = ERROR_ALREADY_EXISTS;
  } else {
    if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING)
      return fail(ERROR_FILE_NOT_FOUND);
    if (DWORD e = WriteError(r.drive)) return fail(e);
    node = AddChild(r.parent, r.leaf, false);
    node->attributes = (dwFlagsAndAttributes & kStoredBits) | FILE_ATTRIBUTE_ARCHIVE;
  }
  HandleObject object;
  object.kind = HandleKind::File;
  object.path = FullPath(lpFileName);
  object.file = node;
  object.access = access;
  object.share = dwShareMode;
  M().lastError = lastError;
  return call.Return<HANDLE>(reinterpret_cast<HANDLE>(NewHandle(object)));
}

namespace {

// The start that the calls on an open file share: the handle must be one
// from CreateFileA whose file is still there, opened with the access the
// call needs.
HandleObject* FileOfHandle(FileCall& call, HANDLE hFile, DWORD neededAccess, Node** node,
                           DWORD* error) {
  *error = call.Begin({});
  if (*error) return nullptr;
  HandleObject* object = FileOf(hFile, node);
  if (!object) {
    *error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if ((object->access & neededAccess) != neededAccess) {
    *error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  return object;
}

}  // namespace

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  FileCall call("ReadFile", ResultText(static_cast<const void*>(hFile)) + ", " +
                                PointerArg(lpBuffer) + ", " + std::to_string(nNumberOfBytesToRead) +
                                ", " + PointerArg(lpNumberOfBytesRead) + ", " +
                                PointerArg(lpOverlapped));
  auto fail = [&](DWORD error) { return call.Fail<BOOL>(error, FALSE); };
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  Node* node = nullptr;
  DWORD e = ERROR_SUCCESS;
  HandleObject* file = FileOfHandle(call, hFile, GENERIC_READ, &node, &e);
  if (!file) return fail(e);
  if (!lpNumberOfBytesRead && !lpOverlapped) return fail(ERROR_INVALID_PARAMETER);
  if (!lpBuffer && nNumberOfBytesToRead) return fail(ERROR_NOACCESS);
  uint64_t position = file->filePointer;
  if (lpOverlapped)
    position = (static_cast<uint64_t>(lpOverlapped->OffsetHigh) << 32) | lpOverlapped->Offset;
  // At or past the end a read succeeds with nothing.
  const size_t size = node->data.size();
  const size_t count =
      position >= size ? 0 : std::min<size_t>(nNumberOfBytesToRead, size - position);
  if (count) std::memcpy(lpBuffer, node->data.data() + position, count);
  file->filePointer = position + count;
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = static_cast<DWORD>(count);
  return call.Return<BOOL>(TRUE);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  FileCall call("WriteFile",
                ResultText(static_cast<const void*>(hFile)) + ", " + PointerArg(lpBuffer) + ", " +
                    std::to_string(nNumberOfBytesToWrite) + ", " +
                    PointerArg(lpNumberOfBytesWritten) + ", " + PointerArg(lpOverlapped));
  auto fail = [&](DWORD error) { return call.Fail<BOOL>(error, FALSE); };
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  Node* node = nullptr;
  DWORD e = ERROR_SUCCESS;
  HandleObject* file = FileOfHandle(call, hFile, GENERIC_WRITE, &node, &e);
  if (!file) return fail(e);
  if (!lpNumberOfBytesWritten && !lpOverlapped) return fail(ERROR_INVALID_PARAMETER);
  if (!lpBuffer && nNumberOfBytesToWrite) return fail(ERROR_NOACCESS);
  uint64_t position = file->filePointer;
  if (lpOverlapped)
    position = (static_cast<uint64_t>(lpOverlapped->OffsetHigh) << 32) | lpOverlapped->Offset;
  if (nNumberOfBytesToWrite) {
    if (position > kLargestFile || nNumberOfBytesToWrite > kLargestFile - position)
      return fail(ERROR_DISK_FULL);
    // Writing past the end fills the gap with zeros.
    if (node->data.size() < position + nNumberOfBytesToWrite)
      node->data.resize(position + nNumberOfBytesToWrite, '\0');
    std::memcpy(&node->data[position], lpBuffer, nNumberOfBytesToWrite);
    node->attributes |= FILE_ATTRIBUTE_ARCHIVE;
  }
  file->filePointer = position + nNumberOfBytesToWrite;
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
  return call.Return<BOOL>(TRUE);
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
  FileCall call("SetFilePointer",
                ResultText(static_cast<const void*>(hFile)) + ", " +
                    std::to_string(lDistanceToMove) + ", " +
                    (lpDistanceToMoveHigh ? std::to_string(*lpDistanceToMoveHigh) : "NULL") + ", " +
                    std::to_string(dwMoveMethod));
  auto fail = [&](DWORD error) { return call.Fail<DWORD>(error, INVALID_SET_FILE_POINTER); };
  Node* node = nullptr;
  DWORD e = ERROR_SUCCESS;
  HandleObject* file = FileOfHandle(call, hFile, 0, &node, &e);
  if (!file) return fail(e);
  // Without the high part the distance is a signed 32-bit number.
  const int64_t distance =
      lpDistanceToMoveHigh
          ? static_cast<int64_t>(
                (static_cast<uint64_t>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
                static_cast<DWORD>(lDistanceToMove))
          : static_cast<int64_t>(lDistanceToMove);
  int64_t base = 0;
  if (dwMoveMethod == FILE_CURRENT) {
    base = static_cast<int64_t>(file->filePointer);
  } else if (dwMoveMethod == FILE_END) {
    base = static_cast<int64_t>(node->data.size());
  } else if (dwMoveMethod != FILE_BEGIN) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (distance < 0 && base < -distance) return fail(ERROR_NEGATIVE_SEEK);
  const uint64_t position = static_cast<uint64_t>(base + distance);
  // Without the high part the new position must fit in 32 bits.
  if (!lpDistanceToMoveHigh && position > 0xFFFFFFFEull) return fail(ERROR_INVALID_PARAMETER);
  file->filePointer = position;
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(position >> 32);
  // A position whose low part looks like the failure says so by the last
  // error; otherwise the last error stays.
  if (static_cast<DWORD>(position) == INVALID_SET_FILE_POINTER) M().lastError = ERROR_SUCCESS;
  return call.Return<DWORD>(static_cast<DWORD>(position));
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  FileCall call("SetEndOfFile", ResultText(static_cast<const void*>(hFile)));
  auto fail = [&](DWORD error) { return call.Fail<BOOL>(error, FALSE); };
  Node* node = nullptr;
  DWORD e = ERROR_SUCCESS;
  HandleObject* file = FileOfHandle(call, hFile, GENERIC_WRITE, &node, &e);
  if (!file) return fail(e);
  if (file->filePointer > kLargestFile) return fail(ERROR_DISK_FULL);
  node->data.resize(file->filePointer, '\0');
  node->attributes |= FILE_ATTRIBUTE_ARCHIVE;
  return call.Return<BOOL>(TRUE);
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  FileCall call("GetFileSize",
                ResultText(static_cast<const void*>(hFile)) + ", " + PointerArg(lpFileSizeHigh));
  auto fail = [&](DWORD error) { return call.Fail<DWORD>(error, INVALID_FILE_SIZE); };
  Node* node = nullptr;
  DWORD e = ERROR_SUCCESS;
  if (!FileOfHandle(call, hFile, 0, &node, &e)) return fail(e);
  const uint64_t size = node->data.size();
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  // A size whose low part looks like the failure says so by the last error.
  if (static_cast<DWORD>(size) == INVALID_FILE_SIZE) M().lastError = ERROR_SUCCESS;
  return call.Return<DWORD>(static_cast<DWORD>(size));
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
  FileCall call("RemoveDirectoryA", Quote(lpPathName));
  auto fail = [&](DWORD error) { return call.Fail<BOOL>(error, FALSE); };
  if (DWORD e = call.Begin({lpPathName})) return fail(e);
  Resolved r = Resolve(lpPathName, true);
  if (r.error != ERROR_SUCCESS) return fail(r.error);
  if (!r.node->folder) return fail(ERROR_DIRECTORY);
  if (!r.parent) {  // a drive root
    return fail(r.node->children.empty() ? ERROR_ACCESS_DENIED : ERROR_DIR_NOT_EMPTY);
  }
  if (DWORD e = WriteError(r.drive)) return fail(e);
  if (!r.node->children.empty()) return fail(ERROR_DIR_NOT_EMPTY);
  if (r.node->attributes & FILE_ATTRIBUTE_READONLY) return fail(ERROR_ACCESS_DENIED);
  Detach(r.parent, r.leaf);
  return call.Return<BOOL>(TRUE);
}
