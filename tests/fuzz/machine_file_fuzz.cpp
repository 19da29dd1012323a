// Machine descriptions from arbitrary bytes: the parser answers every input
// with a description or one error line, never a crash. What it accepts stays
// within what Windows can hold (key and value names, key depth, no values at
// the machine's roots) and builds on a standard machine, or is refused with
// one error line; error lines hold no control characters and stay short
// whatever the input. Two kinds of input are made from the bytes rather than
// taken as they are: an entry repeated thousands of times (no entry is lost
// or doubled), and an object whose entry is given twice (always
// refused: the parser alone would keep the last).
#include <algorithm>
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

const size_t kMostRepeated = 4096;
const size_t kMostRepeatedBytes = 1u << 20;

// The description the bytes stand for. An input starting with 0x01 is a
// registry entry repeated a number of times (two bytes); one
// starting with 0x02 an entry name and a value, the name given twice in one
// object (at the top or in a registry entry). Every other input is the text.
struct Made {
  std::string text;
  size_t repeated = 0;      // the registry list holds a multiple of this
  bool givenTwice = false;  // must be refused
};

Made MakeText(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  Made made;
  if (size == 0 || (data[0] != 1 && data[0] != 2)) {
    made.text.assign(reinterpret_cast<const char*>(data), size);
    return made;
  }
  if (in.Byte() == 1) {
    size_t count = (static_cast<size_t>(in.Byte()) << 8 | in.Byte()) + 1;
    std::string entry = in.Rest();
    const std::string head = "{\"registry\": [", tail = "]}";
    const size_t room = preview::kMaxMachineFileBytes - head.size() - tail.size();
    // Within the 16 MiB bound, and as many as one input's time allows: the
    // proof gives an input a second under the sanitizers, and a parsed
    // entry is also built on the machine.
    count = std::min({count, room / (entry.size() + 1), kMostRepeated,
                      kMostRepeatedBytes / (entry.size() + 1) + 1});
    made.text.reserve(head.size() + count * (entry.size() + 1) + tail.size());
    made.text = head;
    for (size_t i = 0; i < count; ++i) made.text += (i ? "," : "") + entry;
    made.text += tail;
    made.repeated = count;
    return made;
  }
  const bool inEntry = in.Flag();
  const std::string name = "\"" + in.Text(40, "\"\\") + "\"";
  const std::string value = in.Rest();
  const std::string twice = name + ": " + value + ",\n" + name + ": " + value;
  made.text = inEntry ? "{\"registry\": [{" + twice + "}]}" : "{" + twice + "}";
  made.givenTwice = true;
  return made;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Made made = MakeText(data, size);
  preview::MachineDescription description;
  std::string error;
  if (!preview::ParseMachineDescription(made.text, &description, &error)) {
    CheckMessage(error, "parse");
    return 0;
  }
  if (made.givenTwice) fuzz::Broken("accepted an entry given twice in one object");
  if (made.repeated && description.registry.size() % made.repeated != 0) {
    fuzz::Broken(std::to_string(made.repeated) + " repeated entries gave " +
                 std::to_string(description.registry.size()));
  }
  for (const auto& entry : description.registry) CheckRegistryEntry(entry);

  sim::Reset(description.hasWindows ? description.windows : sim::Windows::WinXP);
  preview::PathNames names{sim::WindowsFolder(), sim::SystemFolder(), "C:\\SETUP",
                           "C:\\Program Files\\Orvo-Studio"};
  if (!preview::ApplyMachineDescription(description, names, &error)) CheckMessage(error, "apply");
  return 0;
}
