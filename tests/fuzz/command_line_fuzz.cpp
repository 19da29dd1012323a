// The command-line tokenizer on arbitrary bytes, against a second,
// independent reading of the token rules.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "run.h"

namespace {

const size_t kLongestToken = 256;

bool Blank(unsigned char c) { return c >= 1 && c <= 32; }

// Token n of line, read by the rules: blanks and empty quoted pairs before a
// token are skipped; a token runs to the next byte 0..32 outside quotes; a
// quote opens or closes a quoted stretch and is dropped; the walk stops at
// an empty token; a token longer than 256 characters counts as absent.
std::string ModelToken(const std::string& line, int n) {
  size_t i = 0;
  const size_t end = line.size();
  for (int index = 0; index <= n; ++index) {
    bool skipped = true;
    while (skipped) {
      skipped = false;
      while (i < end && Blank(static_cast<unsigned char>(line[i]))) ++i;
      if (i + 1 < end && line[i] == '"' && line[i + 1] == '"') {
        i += 2;
        skipped = true;
      }
    }
    std::string token;
    bool inQuotes = false;
    for (; i < end; ++i) {
      const unsigned char c = static_cast<unsigned char>(line[i]);
      if (c == '"') {
        inQuotes = !inQuotes;
        continue;
      }
      if (!inQuotes && c <= 32) break;
      token.push_back(static_cast<char>(c));
    }
    if (token.empty()) return std::string();
    if (index == n) return token.size() > kLongestToken ? std::string() : token;
  }
  return std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The command line is a C string: it ends at its first zero byte.
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.substr(0, line.find('\0'));

  for (int n = 0; n <= 6; ++n) {
    const std::string token = CommandLineToken(line.c_str(), n);
    if (token.size() > kLongestToken) fuzz::Broken("a token longer than 256 characters");
    if (token.find('"') != std::string::npos) fuzz::Broken("a quote kept in a token");
    const std::string expected = ModelToken(line, n);
    if (token != expected) {
      fuzz::Broken("token " + std::to_string(n) + " is \"" + token + "\", expected \"" + expected +
                   "\"");
    }
  }
  // Negative numbers and no line at all name no token.
  if (!CommandLineToken(line.c_str(), -1).empty()) fuzz::Broken("a token for n = -1");
  if (!CommandLineToken(nullptr, 1).empty()) fuzz::Broken("a token of no line");
  return 0;
}
