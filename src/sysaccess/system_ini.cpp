// SYSTEM.INI [386Enh]: turning a driver's device= lines into comments.
#include "system_ini.h"

#include <cstring>
#include <vector>

namespace {

const char kSystemIni[] = "SYSTEM.INI";
const char kSection[] = "386Enh";
const DWORD kFirstBufferSize = 8192;
// A section that still does not fit is left as it stands rather than
// written back cut short.
const DWORD kLargestBufferSize = 64u * 1024u * 1024u;

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
  // The platform answers size - 2 when the section did not fit: read it
  // again into a buffer twice as large until it does. Two zero bytes past
  // the size handed over keep the list ended whatever the platform wrote.
  std::vector<char> section;
  for (DWORD size = kFirstBufferSize;; size *= 2) {
    section.assign(size + 2, '\0');
    const DWORD count = GetPrivateProfileSectionA(kSection, section.data(), size, kSystemIni);
    if (count != size - 2) break;
    if (size >= kLargestBufferSize) return;
  }
  DisableDeviceEntries(section.data(), section.size(), deviceFileName);
  WritePrivateProfileSectionA(kSection, section.data(), kSystemIni);
}
