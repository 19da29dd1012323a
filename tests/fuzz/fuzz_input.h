// Reading choices out of a fuzzer's bytes. When the bytes run out every
// choice is the smallest one, so that every input is a valid one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t Remaining() const { return size_ - pos_; }

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool Flag() { return (Byte() & 1) != 0; }
  // A number from 0 to count - 1 (count > 0).
  size_t Below(size_t count) {
    if (count <= 1) return 0;
    size_t value = Byte();
    if (count > 256) value = value << 8 | Byte();
    return value % count;
  }
  // Up to maxLength bytes, the length taken first.
  std::string Bytes(size_t maxLength) {
    size_t length = Below(maxLength + 1);
    std::string out;
    while (length-- > 0 && pos_ < size_) out += static_cast<char>(data_[pos_++]);
    return out;
  }
  // Bytes without the ones a caller cannot have in the text at all.
  std::string Text(size_t maxLength, const std::string& excluded) {
    std::string out = Bytes(maxLength);
    std::string kept;
    for (char c : out) {
      if (c != '\0' && excluded.find(c) == std::string::npos) kept += c;
    }
    return kept;
  }
  // Everything that is left.
  std::string Rest() {
    std::string out(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
    pos_ = size_;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Ends the process so that the fuzzer keeps the input: a broken promise of
// the installer.
[[noreturn]] inline void Broken(const std::string& what) {
  std::fprintf(stderr, "broken: %s\n", what.c_str());
  std::abort();
}

}  // namespace fuzz
