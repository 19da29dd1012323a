// The handle table and the counted memory blocks of the simulated machine
// (handles.cpp): what a program obtained and has not released yet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim.h"

namespace sim {

struct Key;
struct Node;

enum class HandleKind { Key, Find, Snapshot, Process, Library, Heap, Sid, Local, File };

struct HandleObject {
  HandleKind kind;
  std::string path;                   // key path (root-relative, with root name) or file path
  Key* key = nullptr;                 // Key
  Node* file = nullptr;               // File: the file it was opened on
  DWORD access = 0;                   // Key, Process, File (GENERIC_READ, GENERIC_WRITE)
  DWORD share = 0;                    // File: FILE_SHARE_*
  uint64_t filePointer = 0;           // File
  DWORD pid = 0;                      // Process
  std::vector<ProcessSpec> snapshot;  // Snapshot
  size_t position = 0;                // Snapshot
  std::string library;                // Library
  int refs = 1;                       // Library
};

// Handles are small numbers, looked up by kind: GetHandle answers nullptr for
// a number that is not a live handle of that kind.
uintptr_t NewHandle(HandleObject object);
HandleObject* GetHandle(uintptr_t handle, HandleKind kind);
void ReleaseHandle(uintptr_t handle);

// The process heap's handle (never a value NewHandle gives out).
extern const uintptr_t kProcessHeapHandle;

// Real memory counted as a resource until freed (HeapAlloc, SIDs, LocalFree
// blocks). FreeBlock answers false for memory that is not a live block of
// that kind.
void* NewBlock(HandleKind kind, size_t size);
bool FreeBlock(void* block, HandleKind kind);
bool IsBlock(const void* block, HandleKind kind);

}  // namespace sim
