// The command-line tokenizer on arbitrary bytes.
//
// Every input is read twice. As a command line, it must give tokens that
// keep the promises that hold for any line (no quote in a token, nothing
// longer than 256 characters, nothing after the first missing token, only
// the line's own bytes). As choices, it picks a line of the table below,
// whose arguments were worked out by hand from the token rules, and varies
// what stands between its tokens (blanks, control bytes, empty quoted pairs),
// which must not change them.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "run.h"

namespace {

const size_t kLongestToken = 256;
const int kTokensChecked = 6;

struct Line {
  std::vector<std::string> pieces;  // the tokens as typed, quotes included
  std::vector<std::string> tokens;  // what each piece must give
  bool openEnd = false;             // the last piece ends inside quotes
};

const std::vector<Line>& Table() {
  static const std::string longest(kLongestToken, 'L');
  static const std::vector<Line> lines = {
      {{"\"C:\\SETUP\\DRVSETUP.EXE\"", "C:\\App", "doc"},
       {"C:\\SETUP\\DRVSETUP.EXE", "C:\\App", "doc"}},
      {{"prog", "\"C:\\Program Files\\Orvo\"", "Manual"},
       {"prog", "C:\\Program Files\\Orvo", "Manual"}},
      // Quotes open and close anywhere in a token and are dropped.
      {{"prog", "a\"b c\"d", "e"}, {"prog", "ab cd", "e"}},
      {{"prog", "\"a\"\"b\""}, {"prog", "ab"}},
      {{"prog", "x\"\""}, {"prog", "x"}},
      // A backslash escapes nothing: the quote after it closes.
      {{"prog", "\"C:\\My App\\\"", "doc"}, {"prog", "C:\\My App\\", "doc"}},
      // An unclosed quote takes the rest of the line.
      {{"prog", "\"C:\\Orvo Studio\\ x"}, {"prog", "C:\\Orvo Studio\\ x"}, true},
      // 256 characters are a token; 257 are none, and the walk goes on.
      {{"prog", longest, "next"}, {"prog", longest, "next"}},
      {{"prog", longest + "M", "next"}, {"prog", "", "next"}},
      {{"prog", "\"" + longest + "\""}, {"prog", longest}},
      // Bytes above the blanks belong to a token.
      {{"prog", "\x7f\x80\xff", "a!b"}, {"prog", "\x7f\x80\xff", "a!b"}},
  };
  return lines;
}

bool IsBlank(unsigned char c) { return c >= 1 && c <= 32; }

// One or more blanks (any byte 1..32), and maybe empty quoted pairs, each
// with blanks after it. `leading`: before the first token, where a pair may
// also come first.
std::string Separator(fuzz::Input& in, bool leading) {
  std::string out;
  if (leading && in.Flag()) out += "\"\"";
  const size_t stretches = 1 + in.Below(3);
  for (size_t s = 0; s < stretches; ++s) {
    if (s > 0 || (leading && !out.empty())) out += "\"\"";
    const size_t blanks = 1 + in.Below(3);
    for (size_t b = 0; b < blanks; ++b) out += static_cast<char>(1 + in.Below(32));
  }
  return out;
}

void CheckTableLine(fuzz::Input& in) {
  const Line& line = Table()[in.Below(Table().size())];
  std::string text = in.Flag() ? Separator(in, true) : std::string();
  for (size_t i = 0; i < line.pieces.size(); ++i) {
    if (i > 0) text += Separator(in, false);
    text += line.pieces[i];
  }
  if (!line.openEnd && in.Flag()) text += Separator(in, false);

  for (int n = 0; n <= kTokensChecked; ++n) {
    const std::string expected = static_cast<size_t>(n) < line.tokens.size() ? line.tokens[n] : "";
    const std::string token = CommandLineToken(text.c_str(), n);
    if (token != expected) {
      fuzz::Broken("table line \"" + text + "\": token " + std::to_string(n) + " is \"" + token +
                   "\", expected \"" + expected + "\"");
    }
  }
}

// Whether token is the line's bytes, quotes left out, taken in order.
bool IsDrawnFrom(const std::string& token, const std::string& line) {
  size_t at = 0;
  for (char c : token) {
    at = line.find(c, at);
    if (at == std::string::npos) return false;
    ++at;
  }
  return true;
}

void CheckAnyLine(const std::string& line) {
  bool ended = false;
  for (int n = 0; n <= kTokensChecked; ++n) {
    const std::string token = CommandLineToken(line.c_str(), n);
    const std::string which = "token " + std::to_string(n) + " \"" + token + "\"";
    if (token.size() > kLongestToken) fuzz::Broken(which + ": longer than 256 characters");
    if (token.find('"') != std::string::npos) fuzz::Broken(which + ": a quote kept");
    if (!IsDrawnFrom(token, line)) fuzz::Broken(which + ": bytes not of the line");
    // Outside quotes a blank ends a token; a line without quotes has none
    // inside a token.
    if (line.find('"') == std::string::npos) {
      for (char c : token) {
        if (IsBlank(static_cast<unsigned char>(c))) fuzz::Broken(which + ": a blank inside");
      }
    }
    // The walk stops at a missing token. (An over-long token reads as a
    // missing one but does not stop it; a line this short has none.)
    if (ended && !token.empty()) fuzz::Broken(which + ": after a missing token");
    ended = token.empty() && line.size() <= kLongestToken;
  }
  // Negative numbers and no line at all name no token.
  if (!CommandLineToken(line.c_str(), -1).empty()) fuzz::Broken("a token for n = -1");
  if (!CommandLineToken(nullptr, 1).empty()) fuzz::Broken("a token of no line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The command line is a C string: it ends at its first zero byte.
  std::string line(reinterpret_cast<const char*>(data), size);
  CheckAnyLine(line.substr(0, line.find('\0')));

  fuzz::Input in(data, size);
  CheckTableLine(in);
  return 0;
}
