// SYSTEM.INI [386Enh]: turning a driver's device= lines into comments.
#include "system_ini.h"

#include <cstring>
#include <vector>

#include "file_placement.h"
#include "folders.h"

namespace {

const char kSystemIni[] = "SYSTEM.INI";
const char kSection[] = "386Enh";
const DWORD kFirstBufferSize = 8192;
// A section that still does not fit is left as it stands rather than
// written back cut short.
const DWORD kLargestBufferSize = 64u * 1024u * 1024u;

// The size of SYSTEM.INI in the windows folder, or 0 when it cannot be
// found. A section's entries never take more room than its lines, so a buffer
// of this size plus the list's two closing zeros holds any of its sections.
DWORD SystemIniSize() {
  const std::string folder = ReadWindowsFolder();
  if (folder.empty()) return 0;
  const std::string path = NormalizeFolder(folder, kAddTrailingBackslash) + kSystemIni;
  WIN32_FIND_DATAA found;
  std::memset(&found, 0, sizeof(found));
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  if (found.nFileSizeHigh != 0 || found.nFileSizeLow > kLargestBufferSize) {
    return kLargestBufferSize;
  }
  return found.nFileSizeLow;
}

}  // namespace

void DisableDeviceEntries(char* sectionBuffer, size_t bufferSize,
                          const std::string& deviceFileName) {
  if (!sectionBuffer) return;
  const std::string entry = "device=" + deviceFileName;
  size_t pos = 0;
  while (pos < bufferSize && sectionBuffer[pos] != '\0') {
    char* current = sectionBuffer + pos;
    const void* zero = std::memchr(current, 0, bufferSize - pos);
    const size_t length =
        zero ? static_cast<size_t>(static_cast<const char*>(zero) - current) : bufferSize - pos;
    if (length == entry.size() && std::memcmp(current, entry.data(), length) == 0) {
      current[0] = ';';
    }
    pos += length + 1;
  }
}

void DisableSystemIniDevice(const std::string& deviceFileName) {
  WritePrivateProfileStringA(NULL, NULL, NULL, kSystemIni);
  // The whole section is read: into the usual buffer when SYSTEM.INI fits
  // in it, else into one as large as the file. Should the platform still
  // answer size - 2 (the section did not fit), it is read again into a
  // buffer twice as large. Two zero bytes past the size handed over keep the
  // list ended whatever the platform wrote.
  const DWORD fileSize = SystemIniSize();
  DWORD size = fileSize + 2 > kFirstBufferSize ? fileSize + 2 : kFirstBufferSize;
  std::vector<char> section;
  for (;; size *= 2) {
    section.assign(size + 2, '\0');
    const DWORD count = GetPrivateProfileSectionA(kSection, section.data(), size, kSystemIni);
    // Nothing read (no section, or a refused read): nothing to disable,
    // and writing the empty list back could wipe the section.
    if (count == 0) return;
    if (count != size - 2) break;
    if (size >= kLargestBufferSize) return;
  }
  DisableDeviceEntries(section.data(), section.size(), deviceFileName);
  WritePrivateProfileSectionA(kSection, section.data(), kSystemIni);
}
