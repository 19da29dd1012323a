// Small text helpers shared by the simulated machine, the Wine host, the
// tools and the tests: case folding, hexadecimal forms and C-style escapes.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace text
