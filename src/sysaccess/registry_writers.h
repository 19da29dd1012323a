// Registry value writers: each opens (creating) the key, sets one value and
// closes the key again; and the packages' value tables, written row by row.
// Nothing is reported.
#pragma once

#include <cstddef>
#include <string>

#include "drvsetup.h"

bool ValueExists(HKEY root, const std::string& keyPath, const std::string& valueName);
void WriteTypedTextValue(HKEY root, DWORD valueType, const std::string& keyPath,
                         const std::string& valueName, const std::string& text);
void WriteStringValue(HKEY root, const std::string& keyPath, const std::string& valueName,
                      const std::string& text);
void WriteDwordValue(HKEY root, const std::string& keyPath, const std::string& valueName,
                     DWORD number);
void WriteRawValue(HKEY root, const std::string& keyPath, const std::string& valueName,
                   const BYTE* data, DWORD byteCount, DWORD valueType);
void WriteBinaryValue(HKEY root, const std::string& keyPath, const std::string& valueName,
                      const BYTE* data, DWORD byteCount);

// One registry value of a package's table, under HKEY_LOCAL_MACHINE.
// REG_SZ rows carry text, REG_DWORD rows a number; REG_BINARY rows go through
// WriteBinaryValue and every other kind through WriteRawValue, both with the
// row's bytes and byte count.
struct RegistryRow {
  const char* key;
  const char* name;  // "" is the key's default value
  DWORD kind;
  const char* text;
  DWORD number;
  const void* bytes;
  DWORD byteCount;
};

// Writes the rows in order; nothing is tested or reported.
void WriteRegistryRows(const RegistryRow* rows, size_t count);

template <size_t N>
void WriteRegistryRows(const RegistryRow (&rows)[N]) {
  WriteRegistryRows(rows, N);
}
