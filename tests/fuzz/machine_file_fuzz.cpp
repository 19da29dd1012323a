// Machine descriptions from arbitrary bytes: the parser answers every input
// with a description or one error line, never a crash. What it accepts stays
// within what Windows can hold (key and value names, key depth, no values at
// the machine's roots) and builds on a standard machine, or is refused with
// one error line; error lines hold no control characters and stay short
// whatever the input.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "machine_file.h"
#include "sim.h"

namespace {

void CheckMessage(const std::string& error, const char* what) {
  if (error.empty()) fuzz::Broken(std::string(what) + ": refused without a message");
  if (error.size() > 2000) {
    fuzz::Broken(std::string(what) + ": a message of " + std::to_string(error.size()) + " bytes");
  }
  for (char c : error) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127) {
      fuzz::Broken(std::string(what) + ": control byte " + std::to_string(u) + " in the message");
    }
  }
}

void CheckRegistryEntry(const preview::MachineDescription::RegistryEntry& entry) {
  HKEY root = nullptr;
  if (!preview::RootFromName(entry.root, &root)) fuzz::Broken("accepted the root " + entry.root);
  std::string key = entry.key;
  if (!key.empty() && key.back() == '\\') key.pop_back();
  size_t depth = root == HKEY_CURRENT_USER ? 1 : 0;
  for (size_t start = 0; !key.empty();) {
    size_t slash = key.find('\\', start);
    size_t end = slash == std::string::npos ? key.size() : slash;
    if (end == start || end - start > preview::kMaxKeyNameLength) {
      fuzz::Broken("accepted the key name \"" + key.substr(start, end - start) + "\"");
    }
    ++depth;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  if (depth > preview::kMaxKeyDepth)
    fuzz::Broken("accepted a key of depth " + std::to_string(depth));
  if (!entry.hasValue) return;
  if (entry.name.size() > preview::kMaxValueNameLength) fuzz::Broken("accepted a long value name");
  if (key.empty() && root != HKEY_CURRENT_USER) fuzz::Broken("accepted a value at a root key");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  preview::MachineDescription description;
  std::string error;
  if (!preview::ParseMachineDescription(text, &description, &error)) {
    CheckMessage(error, "parse");
    return 0;
  }
  for (const auto& entry : description.registry) CheckRegistryEntry(entry);

  sim::Reset(description.hasWindows ? description.windows : sim::Windows::WinXP);
  preview::PathNames names{sim::WindowsFolder(), sim::SystemFolder(), "C:\\SETUP",
                           "C:\\Program Files\\Orvo-Studio"};
  if (!preview::ApplyMachineDescription(description, names, &error)) CheckMessage(error, "apply");
  return 0;
}
