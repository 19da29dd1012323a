#include "known_differences.h"

#include <fstream>
#include <sstream>

namespace prove {

bool ParseKnownDifferences(const std::string& text, std::vector<KnownDifference>* list,
                           std::string* error) {
  list->clear();
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, 3, "## ") == 0) {
      list->push_back(KnownDifference());
      list->back().title = line.substr(3);
      continue;
    }
    const size_t at = line.find("match: `");
    if (at == std::string::npos) continue;
    const size_t open = at + 8;
    const size_t close = line.rfind('`');
    if (close == std::string::npos || close < open) {
      *error = "line " + std::to_string(number) + ": a match without its closing backquote";
      return false;
    }
    if (list->empty()) {
      *error = "line " + std::to_string(number) + ": a match before the first entry";
      return false;
    }
    const std::string pattern = line.substr(open, close - open);
    try {
      list->back().compiled.emplace_back(pattern, std::regex::ECMAScript);
    } catch (const std::regex_error& e) {
      *error = "line " + std::to_string(number) + ": " + e.what();
      return false;
    }
    list->back().patterns.push_back(pattern);
  }
  return true;
}

bool LoadKnownDifferences(const std::string& path, std::vector<KnownDifference>* list,
                          std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseKnownDifferences(text.str(), list, error);
}

const KnownDifference* FindKnown(const std::vector<KnownDifference>& list,
                                 const std::string& line) {
  for (const KnownDifference& entry : list) {
    for (const std::regex& pattern : entry.compiled) {
      if (std::regex_search(line, pattern)) return &entry;
    }
  }
  return nullptr;
}

}  // namespace prove
