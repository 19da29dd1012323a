// The real files the preview reads and writes, looked at the same way on
// Linux and on Windows: which file a path names (through links and hard
// links), whether a folder entry is a link, and putting a finished file in
// place. This file and user_files.cpp see the real platform, not the
// simulated one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace preview {

// Which file a path names: equal identities are one file, whatever the
// paths (links, hard links, another spelling of a folder).
struct FileIdentity {
  bool known = false;  // false: the path names nothing that can be opened
  uint64_t volume = 0;
  uint64_t file = 0;
  bool operator==(const FileIdentity& o) const {
    return known && o.known && volume == o.volume && file == o.file;
  }
  bool operator<(const FileIdentity& o) const {
    return volume != o.volume ? volume < o.volume : file < o.file;
  }
};
FileIdentity IdentityOf(const std::string& path);

// What a path names, following links: a file, a folder, a pipe, a device
// (not_found when nothing). On Windows the kind of an opened file is asked
// for, so that a pipe or a device seen through Wine is not taken for a file.
std::filesystem::file_type HostFileType(const std::string& path);

// Whether the path itself is a link (a symbolic link, or on Windows any
// reparse point such as a junction), not what it names.
bool IsLink(const std::string& path);

// The file a path names, following a symbolic link (and a chain of them) to
// the name at its end, which need not exist: a report written there replaces
// the file and leaves the link as it is. A path that is no link is its own
// name. False with the system's reason when the chain cannot be followed (a
// loop, a folder that cannot be read).
bool FollowLinks(const std::string& path, std::string* file, std::string* why);

// A file of the run's own, made new in a folder under a short name
// (".drvsetup-preview-<process>-<n>.tmp") so that any name beside it fits
// the file system. It is removed when the object goes, and when the preview
// is stopped (SIGINT, SIGTERM or SIGHUP; on Windows Ctrl+C, Ctrl+Break or the
// console closed) before it is released.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();
  // Makes the empty file in the folder; false with the system's reason.
  bool Make(const std::string& folder, std::string* why);
  const std::string& path() const { return path_; }
  // The file was moved away: its name is no longer the run's to remove.
  void Release();

 private:
  std::string path_;
  int slot_ = -1;
};

// The folder a file path lies in ("." for a bare name).
std::string FolderOf(const std::string& path);

// A finished file and the place it is to take.
struct Placement {
  std::string finished;
  std::string place;
};

// Puts every finished file in its place, all of them or none: a file at a
// place is first set aside under a name of its own in its folder, then the
// finished files are moved in, then the set-aside files are removed. When a
// step fails, the steps taken are undone (the finished files go back to
// their names, the set-aside ones to their places) and false is returned
// with the index of the placement that failed and the system's reason. A
// stop signal that comes meanwhile waits until all is done or undone.
bool PutAllInPlace(const std::vector<Placement>& placements, size_t* failed, std::string* why);

// Writes a file that must be new, holding `data`; a file or folder of that
// name is never replaced. On failure nothing of the file stays and *why holds
// the system's reason.
bool WriteNewFile(const std::string& path, const std::string& data, std::string* why);

// For tests: called before each step on the user's files is taken: "made"
// (a temporary file, in `to`), "aside" (a file at its place is set aside,
// `from` to `to`), "place" (a finished file moved to its place) and "write"
// (a new file written by WriteNewFile, in `to`).
using FileStepHook =
    std::function<void(const std::string& step, const std::string& from, const std::string& to)>;
void SetFileStepHookForTests(FileStepHook hook);

}  // namespace preview
