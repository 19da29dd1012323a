// The real files the preview reads and writes, looked at the same way on
// Linux and on Windows: which file a path names (through links and hard
// links), whether a folder entry is a link, and putting a finished file in
// place. This file and user_files.cpp see the real platform, not the
// simulated one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

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

// Moves a finished file over the one at `to` in one step (a rename on the
// same volume); false with the system's reason in *why.
bool MoveIntoPlace(const std::string& from, const std::string& to, std::string* why);

}  // namespace preview
