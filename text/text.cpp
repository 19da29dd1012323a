#include "text.h"

#include <cstdio>

namespace text {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The escaped bytes of s from `begin` up to `limit`, or up to the first
// unescaped double quote when stopAtQuote; *stop is where reading ended. A
// backslash with nothing after it before the limit stays as it is; \x takes
// exactly hexDigits digits (a value beyond one byte becomes '?'), and one
// with fewer is dropped, its digits then read as they stand.
std::string ReadEscaped(const std::string& s, size_t begin, size_t limit, int hexDigits,
                        bool stopAtQuote, size_t* stop) {
  std::string out;
  size_t i = begin;
  for (; i < limit; ++i) {
    const char c = s[i];
    if (stopAtQuote && c == '"') break;
    if (c != '\\' || i + 1 >= limit) {
      out += c;
      continue;
    }
    const char next = s[++i];
    switch (next) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'x': {
        unsigned long v = 0;
        int digits = 0;
        while (digits < hexDigits && i + 1 + digits < limit && HexDigit(s[i + 1 + digits]) >= 0) {
          v = v * 16 + static_cast<unsigned long>(HexDigit(s[i + 1 + digits]));
          ++digits;
        }
        if (digits == hexDigits) {
          out += v < 256 ? static_cast<char>(v) : '?';
          i += static_cast<size_t>(digits);
        }
        break;
      }
      default:
        out += next;  // \\, \" and any other character
    }
  }
  *stop = i;
  return out;
}

}  // namespace

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && Upper(a) == Upper(b);
}

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

std::string HexDigits(uint64_t v, int width) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%0*llx", width, static_cast<unsigned long long>(v));
  return buf;
}

std::string HexBytes(const std::string& bytes, const std::string& separator) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (i) out += separator;
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Escape(const std::string& bytes, bool namedControls) {
  std::string out;
  for (char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += ch;
    } else if (namedControls && (c == '\n' || c == '\r' || c == '\t')) {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out;
}

std::string Unquote(const std::string& quoted) {
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return quoted;
  size_t stop = 0;
  return ReadEscaped(quoted, 1, quoted.size() - 1, 2, false, &stop);
}

std::string ReadQuoted(const std::string& s, size_t open, size_t* end, int hexDigits) {
  size_t stop = 0;
  std::string out = ReadEscaped(s, open + 1, s.size(), hexDigits, true, &stop);
  *end = stop < s.size() ? stop + 1 : stop;
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    size_t cut = nl;
    if (cut > pos && text[cut - 1] == '\r') --cut;
    lines.push_back(text.substr(pos, cut - pos));
    pos = nl + 1;
  }
  return lines;
}

}  // namespace text
