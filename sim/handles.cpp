// The handle table and the resource accounting of the simulated machine.
//
// Handles are small numbers with an object behind them; memory blocks
// (process heap, SIDs, local blocks) are real allocations, so that a program
// that writes past one is caught by the address sanitizer.
#include <iterator>
#include <map>
#include <memory>

#include "handles.h"
#include "machine.h"

namespace sim {

namespace {

// The memory behind the blocks. It lives outside the machine: blocks a reset
// or restart retires stay allocated (nothing may free them twice) and are
// released when the program ends.
std::map<void*, std::unique_ptr<unsigned char[]>>& Storage() {
  static std::map<void*, std::unique_ptr<unsigned char[]>> storage;
  return storage;
}

const char* KindName(HandleKind kind) {
  switch (kind) {
    case HandleKind::Key:
      return "key";
    case HandleKind::Find:
      return "find";
    case HandleKind::Snapshot:
      return "snapshot";
    case HandleKind::Process:
      return "process";
    case HandleKind::Library:
      return "library";
    case HandleKind::Heap:
      return "heap";
    case HandleKind::Sid:
      return "sid";
    case HandleKind::Local:
      return "local";
    case HandleKind::File:
      return "file";
  }
  return "?";
}

}  // namespace

uintptr_t NewHandle(HandleObject object) {
  Machine& m = M();
  uintptr_t value = m.nextHandle;
  // Handles are multiples of four, as on Windows; none is a value that means
  // something else.
  while (value == 0 || value % 4 != 0 || value == kProcessHeapHandle || m.handles.count(value)) {
    value = (value + 4) & ~uintptr_t(3);
  }
  m.nextHandle = value + 4;
  m.handles.emplace(value, std::move(object));
  return value;
}

HandleObject* GetHandle(uintptr_t handle, HandleKind kind) {
  Machine& m = M();
  auto it = m.handles.find(handle);
  if (it == m.handles.end() || it->second.kind != kind) return nullptr;
  return &it->second;
}

void ReleaseHandle(uintptr_t handle) { M().handles.erase(handle); }

void* NewBlock(HandleKind kind, size_t size) {
  std::unique_ptr<unsigned char[]> memory(new unsigned char[size]);
  void* block = memory.get();
  Storage()[block] = std::move(memory);
  M().blocks[block] = kind;
  return block;
}

bool IsBlock(const void* block, HandleKind kind) {
  const Machine& m = M();
  auto it = m.blocks.find(const_cast<void*>(block));
  return it != m.blocks.end() && it->second == kind;
}

bool FreeBlock(void* block, HandleKind kind) {
  if (!IsBlock(block, kind)) return false;
  M().blocks.erase(block);
  Storage().erase(block);
  return true;
}

std::map<std::string, int> Outstanding() {
  const Machine& m = M();
  std::map<std::string, int> counts;
  for (const auto& entry : m.handles) {
    const HandleObject& object = entry.second;
    counts[KindName(object.kind)] += object.kind == HandleKind::Library ? object.refs : 1;
  }
  for (const auto& entry : m.blocks) counts[KindName(entry.second)] += 1;
  for (auto it = counts.begin(); it != counts.end();) {
    it = it->second == 0 ? counts.erase(it) : std::next(it);
  }
  return counts;
}

bool NothingOutstanding() { return Outstanding().empty(); }

std::string OutstandingText() {
  const std::map<std::string, int> counts = Outstanding();
  if (counts.empty()) return "nothing outstanding";
  std::string text;
  for (const auto& entry : counts) {
    if (!text.empty()) text += ", ";
    text += entry.first + " " + std::to_string(entry.second);
  }
  // Which keys, libraries, searches and files, to find the place that forgot one.
  for (const auto& entry : M().handles) {
    const HandleObject& object = entry.second;
    if (object.kind == HandleKind::Key || object.kind == HandleKind::Library ||
        object.kind == HandleKind::Find || object.kind == HandleKind::File) {
      text +=
          "\n  " + std::string(KindName(object.kind)) + " " + Hex(entry.first) + " " + object.path;
    }
  }
  return text;
}

}  // namespace sim
