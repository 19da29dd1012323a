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
  const size_t end = quoted.size() - 1;  // the closing quote
  std::string out;
  for (size_t i = 1; i < end; ++i) {
    const char c = quoted[i];
    if (c != '\\' || i + 1 >= end) {
      out += c;
      continue;
    }
    const char next = quoted[++i];
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
      case 'x':
        // Two hex digits, both before the closing quote.
        if (i + 2 < end && HexDigit(quoted[i + 1]) >= 0 && HexDigit(quoted[i + 2]) >= 0) {
          out += static_cast<char>(HexDigit(quoted[i + 1]) * 16 + HexDigit(quoted[i + 2]));
          i += 2;
        }
        break;
      default:
        out += next;
    }
  }
  return out;
}

}  // namespace text
