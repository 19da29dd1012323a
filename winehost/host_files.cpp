// Files and folders of the host.
#include "host_files.h"

#include <fcntl.h>
#include <ftw.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "wine_process.h"

namespace winehost {

namespace {

// Clears the immutable flag of one entry; symbolic links are never followed
// (a prefix links z: to /).
int ClearImmutableEntry(const char* path, const struct stat* st, int, struct FTW*) {
  if (!S_ISREG(st->st_mode) && !S_ISDIR(st->st_mode)) return 0;
  int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL)) {
    flags &= ~FS_IMMUTABLE_FL;
    ioctl(fd, FS_IOC_SETFLAGS, &flags);
  }
  close(fd);
  return 0;
}

}  // namespace

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool ReadHostFile(const std::string& path, std::string* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *data = s.str();
  return true;
}

bool WriteHostFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << data;
  return static_cast<bool>(out.flush());
}

bool MakeHostFolders(const std::string& path) {
  if (path.empty() || IsDirectory(path)) return true;
  size_t cut = path.find_last_of('/');
  if (cut != std::string::npos && cut > 0 && !MakeHostFolders(path.substr(0, cut))) return false;
  return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool SetImmutable(const std::string& path, bool on) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

void RemoveHostTree(const std::string& root) {
  nftw(root.c_str(), ClearImmutableEntry, 32, FTW_PHYS | FTW_MOUNT);
  RunLogged(PlainCommand({"rm", "-rf", "--one-file-system", root}));
}

std::string TempDir() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

std::string FolderFromEnvironment(const char* name, const std::string& fallback) {
  const char* overridden = std::getenv(name);
  std::string folder = overridden && *overridden ? overridden : fallback;
  if (!folder.empty() && folder[0] != '/') {
    std::vector<char> cwd(4096);
    if (getcwd(cwd.data(), cwd.size())) folder = std::string(cwd.data()) + "/" + folder;
  }
  return folder;
}

}  // namespace winehost
