// SYSTEM.INI device entry disabling on arbitrary section buffers: nothing
// moves, no length changes, and only entries exactly equal to the device
// entry get their first byte turned into ';'. The buffer is handed over in
// a block of exactly its size, so a read or write past it is caught.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_input.h"
#include "system_ini.h"

namespace {

// The buffer as it must be afterwards: entries are read from the start,
// each up to its zero byte (or the end of the buffer), until an empty entry.
std::string Expected(const std::string& buffer, const std::string& device) {
  const std::string entry = "device=" + device;
  std::string out = buffer;
  size_t pos = 0;
  while (pos < out.size() && out[pos] != '\0') {
    size_t zero = out.find('\0', pos);
    if (zero == std::string::npos) zero = out.size();
    if (out.compare(pos, zero - pos, entry) == 0) out[pos] = ';';
    pos = zero + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  // Mostly the installer's own device name; sometimes another one, the
  // empty one included.
  std::string device = "zoltavex.vxd";
  const uint8_t choice = input.Byte();
  if (choice >= 0xF0) device = input.Text(16, std::string());
  // Sometimes the buffer carries the two closing zero bytes, sometimes it
  // ends in the middle of an entry.
  const bool closed = input.Flag();
  std::string section = input.Rest();
  if (closed) section += std::string(2, '\0');

  const std::string expected = Expected(section, device);
  if (section.empty()) {
    DisableDeviceEntries(nullptr, 0, device);
    return 0;
  }
  std::unique_ptr<char[]> buffer(new char[section.size()]);
  std::memcpy(buffer.get(), section.data(), section.size());
  DisableDeviceEntries(buffer.get(), section.size(), device);
  const std::string after(buffer.get(), section.size());
  if (after != expected) {
    for (size_t i = 0; i < after.size(); ++i) {
      if (after[i] != expected[i]) {
        fuzz::Broken("byte " + std::to_string(i) + " of " + std::to_string(after.size()) + " is " +
                     std::to_string(static_cast<unsigned char>(after[i])) + ", expected " +
                     std::to_string(static_cast<unsigned char>(expected[i])));
      }
    }
  }
  return 0;
}
