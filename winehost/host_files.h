// Files and folders of the host, as the Wine host reads and makes them.
#pragma once

#include <string>

namespace winehost {

bool IsDirectory(const std::string& path);
bool PathExists(const std::string& path);  // without following a last symbolic link
// The whole file; false when it cannot be read.
bool ReadHostFile(const std::string& path, std::string* data);
bool WriteHostFile(const std::string& path, const std::string& data);
// The folder and its missing parents.
bool MakeHostFolders(const std::string& path);

// chattr +i / -i of one file or folder.
bool SetImmutable(const std::string& path, bool on);
// Removes a folder and everything below it, immutable files included;
// symbolic links are never followed and other file systems never entered.
void RemoveHostTree(const std::string& root);

// $TMPDIR, or /tmp.
std::string TempDir();
// The folder named by the environment variable, else `fallback`, made
// absolute against the current folder (Wine refuses a relative WINEPREFIX,
// and a caller may change its working folder later).
std::string FolderFromEnvironment(const char* name, const std::string& fallback);

}  // namespace winehost
