// A prefix's host side: its registry files (version, preset keys, drives)
// while no session runs, and the files of its drives.
#include "wine_prefix.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "host_files.h"

namespace winehost {

namespace {

// The Wine registry files double every backslash of key names and texts.
std::string RegFileEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

bool WinePrefix::AppendRegistry(const std::string& file, const std::string& text) {
  if (sessionLive_) {
    Problem("the registry files of " + prefix_ + " can only be edited while no session runs");
    return false;
  }
  std::ofstream out(prefix_ + "/" + file, std::ios::binary | std::ios::app);
  out << "\n" << text;
  return static_cast<bool>(out.flush());
}

bool WinePrefix::SetVersion(const std::string& name) {
  if (sessionLive_) return SetString("HKCU\\Software\\Wine", "Version", name);
  return AppendRegistry("user.reg", "[" + RegFileEscape("Software\\Wine") + "] 0\n\"Version\"=\"" +
                                        RegFileEscape(name) + "\"\n");
}

bool WinePrefix::RegistrySection(const std::string& key, std::string* file, std::string* header) {
  size_t cut = key.find('\\');
  std::string root = key.substr(0, cut), path = cut == std::string::npos ? "" : key.substr(cut + 1);
  if (EqualNoCase(root, "HKLM") || EqualNoCase(root, "HKEY_LOCAL_MACHINE")) {
    *file = "system.reg";
  } else if (EqualNoCase(root, "HKCU") || EqualNoCase(root, "HKEY_CURRENT_USER")) {
    *file = "user.reg";
  } else {
    Problem("only HKLM and HKCU keys can be preset: " + key);
    return false;
  }
  *header = "[" + RegFileEscape(path) + "] 0\n";
  return !path.empty();
}

bool WinePrefix::PresetKey(const std::string& key) {
  std::string file, header;
  return RegistrySection(key, &file, &header) && AppendRegistry(file, header);
}

bool WinePrefix::PresetValue(const std::string& key, const std::string& name, uint32_t type,
                             const std::string& data) {
  std::string file, header;
  if (!RegistrySection(key, &file, &header)) return false;
  std::string line = name.empty() ? "@=" : "\"" + RegFileEscape(name) + "\"=";
  if (type == kRegDword && data.size() == 4) {
    char buf[16];
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(data[i]);
    std::snprintf(buf, sizeof buf, "dword:%08x", v);
    line += buf;
  } else {
    // Wine keeps text values in UTF-16: widen the 8-bit text types.
    const bool text = type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
    std::string bytes;
    for (char c : data) {
      bytes += c;
      if (text) bytes += '\0';
    }
    line += type == kRegBinary ? "hex:" : "hex(" + std::to_string(type) + "):";
    std::string hex = text::HexBytes(bytes);
    for (size_t i = 0; i < hex.size(); i += 2) {
      if (i) line += ',';
      line += hex.substr(i, 2);
    }
  }
  return AppendRegistry(file, header + line + "\n");
}

std::string WinePrefix::AddDrive(char letter, const std::string& type,
                                 const std::string& hostFolder) {
  const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  std::string folder = hostFolder.empty() ? root_ + "/drive-" + std::string(1, l) : hostFolder;
  const std::string link = prefix_ + "/dosdevices/" + std::string(1, l) + ":";
  if (!MakeHostFolders(folder)) return std::string();
  unlink(link.c_str());
  if (symlink(folder.c_str(), link.c_str()) != 0) return std::string();
  if (!AppendRegistry("system.reg", "[" + RegFileEscape("Software\\Wine\\Drives") + "] 0\n\"" +
                                        std::string(1, l) + ":\"=\"" + type + "\"\n"))
    return std::string();
  return folder;
}

std::string WinePrefix::HostPath(const std::string& winPathIn) const {
  std::string winPath = winPathIn;
  if (winPath.compare(0, 4, "\\??\\") == 0) winPath = winPath.substr(4);
  if (winPath.size() < 2 || winPath[1] != ':' ||
      !std::isalpha(static_cast<unsigned char>(winPath[0])))
    return std::string();
  std::string host =
      prefix_ + "/dosdevices/" +
      std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(winPath[0])))) + ":";
  std::stringstream parts(winPath.substr(2));
  std::string part;
  bool exists = true;
  while (std::getline(parts, part, '\\')) {
    if (part.empty() || part == ".") continue;
    std::string next = host + "/" + part;
    if (exists && !PathExists(next)) {
      // Windows ignores case; find the entry as it is spelt on disk.
      std::string found;
      if (DIR* d = opendir(host.c_str())) {
        while (dirent* e = readdir(d)) {
          if (strcasecmp(e->d_name, part.c_str()) == 0) {
            found = e->d_name;
            break;
          }
        }
        closedir(d);
      }
      if (!found.empty()) {
        next = host + "/" + found;
      } else {
        exists = false;
      }
    }
    host = next;
  }
  return host;
}

bool WinePrefix::PutFile(const std::string& winPath, const std::string& data) {
  std::string host = HostPath(winPath);
  if (host.empty()) return false;
  size_t cut = host.find_last_of('/');
  return MakeHostFolders(host.substr(0, cut)) && WriteHostFile(host, data);
}

bool WinePrefix::MakeFolder(const std::string& winPath) {
  std::string host = HostPath(winPath);
  return !host.empty() && MakeHostFolders(host);
}

bool WinePrefix::ReadFile(const std::string& winPath, std::string* data) const {
  std::string host = HostPath(winPath);
  return !host.empty() && !IsDirectory(host) && ReadHostFile(host, data);
}

std::string WinePrefix::FileText(const std::string& winPath) const {
  std::string data;
  return ReadFile(winPath, &data) ? data : std::string();
}

bool WinePrefix::Exists(const std::string& winPath) const {
  std::string host = HostPath(winPath);
  return !host.empty() && PathExists(host);
}

bool WinePrefix::Remove(const std::string& winPath) {
  std::string host = HostPath(winPath);
  if (host.empty()) return false;
  return IsDirectory(host) ? rmdir(host.c_str()) == 0 : unlink(host.c_str()) == 0;
}

bool WinePrefix::PlaceProgram(const std::string& program, const std::string& winPath) {
  std::string data;
  return ReadHostFile(ProgramPath(program, arch_), &data) && PutFile(winPath, data);
}

bool WinePrefix::MakeReadOnly(const std::string& winPath) {
  struct stat st;
  std::string host = HostPath(winPath);
  return stat(host.c_str(), &st) == 0 && chmod(host.c_str(), st.st_mode & ~0222) == 0;
}

bool WinePrefix::MakeImmutable(const std::string& winPath) {
  return SetImmutable(HostPath(winPath), true);
}

bool WinePrefix::ReleaseImmutable(const std::string& winPath) {
  return SetImmutable(HostPath(winPath), false);
}

bool WinePrefix::Writable(const std::string& winPath) const {
  struct stat st;
  return stat(HostPath(winPath).c_str(), &st) == 0 && (st.st_mode & 0222) != 0;
}

bool WinePrefix::PlaceInstaller(const std::string& folder) {
  return PlaceProgram("drvsetup.exe", folder + "\\drvsetup.exe");
}

}  // namespace winehost
