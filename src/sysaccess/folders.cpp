// The windows and system folders as the platform reports them.
#include "folders.h"

#include <vector>

namespace {

// The first buffer size.
const DWORD kFirstBufferSize = 261;
// Beyond this no Windows path can reach; a query still asking for more is
// taken as failed.
const DWORD kLongestPath = 65536;

std::string ReadFolder(UINT(WINAPI* query)(LPSTR, UINT)) {
  return ReadGrowing([query](char* buffer, DWORD size) { return query(buffer, size); });
}

}  // namespace

std::string ReadGrowing(const std::function<DWORD(char* buffer, DWORD size)>& query) {
  std::vector<char> buffer(kFirstBufferSize, '\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = query(buffer.data(), size);
    if (length < size) return std::string(buffer.data(), length);
    if (length > kLongestPath || size >= kLongestPath) return std::string();
    buffer.assign(length > size ? length + 1 : size * 2, '\0');
  }
}

std::string ReadSystemFolder() { return ReadFolder(GetSystemDirectoryA); }

std::string ReadWindowsFolder() { return ReadFolder(GetWindowsDirectoryA); }
