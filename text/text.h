// Small text helpers shared by the simulated machine, the Wine host, the
// tools and the tests: case folding, hexadecimal forms, C-style escapes
// and lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace text {

// Upper-case copy (a-z only, as Windows folds names and keys).
std::string Upper(std::string s);
// Whether a and b are equal when both are upper-cased.
bool EqualNoCase(const std::string& a, const std::string& b);

// "0x1F": a number in upper-case hexadecimal with its prefix.
std::string Hex(uint64_t v);
// Lower-case hexadecimal digits without prefix, at least `width` of them:
// HexDigits(0x1f, 4) is "001f".
std::string HexDigits(uint64_t v, int width = 0);
// Every byte as two lower-case digits, with `separator` between bytes
// ("0a,ff" with ','; "0aff" with none).
std::string HexBytes(const std::string& bytes, const std::string& separator = std::string());

// The C-style escaped form of bytes, without quotes: backslash and double
// quote get a backslash, other bytes outside 0x20-0x7e become \xNN
// (upper-case digits). With namedControls, newline, carriage return and tab
// are written \n, \r and \t instead.
std::string Escape(const std::string& bytes, bool namedControls = true);
// A quoted, escaped string back to its bytes: the quotes go, and \n, \r, \t,
// \xNN (two hex digits) and \<any other character> are undone. Text that is
// not in double quotes is returned as it is.
std::string Unquote(const std::string& quoted);
// The same escapes read from inside a longer text (a log line), from the
// opening quote at s[open] to the first unescaped closing quote; *end is set
// past it, or to the end of s when it is missing. \x takes hexDigits digits
// (4 for the wide strings Wine prints; a value beyond one byte becomes '?').
std::string ReadQuoted(const std::string& s, size_t open, size_t* end, int hexDigits = 2);

// The lines of a text: each ends at a newline, a carriage return before it
// is dropped, and a newline at the very end starts no further line.
std::vector<std::string> Lines(const std::string& text);

}  // namespace text
