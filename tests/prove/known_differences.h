// The reviewed list of known platform differences, read from its Markdown
// file: every "## " heading starts an entry, and each line of the form
//   match: `REGEX`
// below it names the difference lines it covers (ECMAScript regular
// expressions, searched anywhere in the line).
#pragma once

#include <regex>
#include <string>
#include <vector>

namespace prove {

struct KnownDifference {
  std::string title;
  std::vector<std::string> patterns;
  std::vector<std::regex> compiled;
};

// Reads the list; false (with a reason) when the file cannot be read or a
// pattern is not a valid expression.
bool LoadKnownDifferences(const std::string& path, std::vector<KnownDifference>* list,
                          std::string* error);
bool ParseKnownDifferences(const std::string& text, std::vector<KnownDifference>* list,
                           std::string* error);

// The entry that covers a difference line, or nullptr.
const KnownDifference* FindKnown(const std::vector<KnownDifference>& list, const std::string& line);

}  // namespace prove
