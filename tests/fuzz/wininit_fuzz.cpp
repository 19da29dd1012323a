// The removal's Wininit.ini editing on arbitrary files: the deletions are
// added to the first [rename] section (or a new one), and nothing else
// changes. Every line of the file reads as it did, in the same order, with
// the new lines among them; the renames pending before still come first and
// read as they did, and the new deletions follow them.
#include <cstdint>
#include <string>
#include <vector>

#include "file_removal.h"
#include "fuzz_input.h"
#include "text.h"

namespace {

bool SameRenames(const std::vector<PendingRename>& a, const std::vector<PendingRename>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].existingPath != b[i].existingPath || a[i].newPath != b[i].newPath ||
        a[i].replace != b[i].replace) {
      return false;
    }
  }
  return true;
}

const char* const kPaths[] = {
    "C:\\WINDOWS\\SYSTEM\\ZOLTAVEX.VXD", "C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL",
    "C:\\Program Files\\Orvo-Studio\\ORVO.DLL", "\\\\SERVER\\share\\x.dll"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  std::vector<std::string> paths;
  const size_t count = 1 + input.Below(3);
  for (size_t i = 0; i < count; ++i) paths.push_back(kPaths[input.Below(4)]);
  const std::string file = input.Rest();

  std::vector<std::string> added;
  for (const std::string& p : paths) added.push_back("NUL=" + p);
  const std::string after = WithLinesInSection(file, "rename", added);

  // The lines: the old ones in order, with the new ones (and a heading when
  // there was no section) at one place among them.
  const std::vector<std::string> before = text::Lines(file);
  const std::vector<std::string> now = text::Lines(after);
  size_t same = 0;
  while (same < before.size() && same < now.size() && before[same] == now[same]) ++same;
  size_t inserted = now.size() - before.size();
  bool linesKept =
      now.size() >= before.size() + added.size() && now.size() <= before.size() + added.size() + 1;
  for (size_t i = same; linesKept && i < before.size(); ++i)
    linesKept = before[i] == now[i + inserted];
  if (!linesKept) {
    fuzz::Broken("a line of the file changed: \"" + text::Escape(file) + "\" became \"" +
                 text::Escape(after) + "\"");
  }

  std::vector<PendingRename> expected = WininitRenames(file);
  for (const std::string& p : paths) expected.push_back({p, std::string(), true});
  if (!SameRenames(WininitRenames(after), expected)) {
    fuzz::Broken("the renames do not read as before plus the deletions: \"" + text::Escape(file) +
                 "\" became \"" + text::Escape(after) + "\"");
  }
  return 0;
}
