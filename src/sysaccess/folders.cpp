// The windows and system folders as the platform reports them.
#include "folders.h"

#include <vector>

namespace {

// The first buffer size for a folder query.
const UINT kFirstBufferSize = 261;
// Beyond this no Windows path can reach; a query still asking for more is
// taken as failed.
const UINT kLongestPath = 65536;

// Reads a folder the platform reports, growing the buffer while the answer
// does not fit, so a long folder never comes back cut or empty.
std::string ReadFolder(UINT(WINAPI* query)(LPSTR, UINT)) {
  std::vector<char> buffer(kFirstBufferSize, '\0');
  for (;;) {
    UINT length = query(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length < buffer.size()) return std::string(buffer.data());
    if (length > kLongestPath) return std::string();
    buffer.assign(length + 1, '\0');
  }
}

}  // namespace

std::string ReadSystemFolder() { return ReadFolder(GetSystemDirectoryA); }

std::string ReadWindowsFolder() { return ReadFolder(GetWindowsDirectoryA); }
