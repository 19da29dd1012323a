// Registry value writers: one open/create, one set, one close per value.
// Nothing is reported; a key that cannot be created is passed over.
#include "registry_writers.h"

#include <cstring>

bool ValueExists(HKEY root, const std::string& keyPath, const std::string& valueName) {
  HKEY key = NULL;
  if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = 0;
  const bool present =
      RegQueryValueExA(key, valueName.c_str(), NULL, &type, NULL, NULL) == ERROR_SUCCESS;
  RegCloseKey(key);
  return present;
}

void WriteRawValue(HKEY root, const std::string& keyPath, const std::string& valueName,
                   const BYTE* data, DWORD byteCount, DWORD valueType) {
  HKEY key = NULL;
  DWORD disposition = 0;
  if (RegCreateKeyExA(root, keyPath.c_str(), 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                      &key, &disposition) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(key, valueName.c_str(), 0, valueType, data, byteCount);
  RegCloseKey(key);
}

void WriteTypedTextValue(HKEY root, DWORD valueType, const std::string& keyPath,
                         const std::string& valueName, const std::string& text) {
  // The text up to its first zero byte, stored with its terminating zero.
  const DWORD byteCount = static_cast<DWORD>(std::strlen(text.c_str()) + 1);
  WriteRawValue(root, keyPath, valueName, reinterpret_cast<const BYTE*>(text.c_str()), byteCount,
                valueType);
}

void WriteStringValue(HKEY root, const std::string& keyPath, const std::string& valueName,
                      const std::string& text) {
  WriteTypedTextValue(root, REG_SZ, keyPath, valueName, text);
}

void WriteDwordValue(HKEY root, const std::string& keyPath, const std::string& valueName,
                     DWORD number) {
  const BYTE bytes[4] = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                         static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
  WriteRawValue(root, keyPath, valueName, bytes, sizeof(bytes), REG_DWORD);
}

void WriteBinaryValue(HKEY root, const std::string& keyPath, const std::string& valueName,
                      const BYTE* data, DWORD byteCount) {
  WriteRawValue(root, keyPath, valueName, data, byteCount, REG_BINARY);
}

void WriteRegistryRows(const RegistryRow* rows, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const RegistryRow& row = rows[i];
    const BYTE* bytes = static_cast<const BYTE*>(row.bytes);
    switch (row.kind) {
      case REG_SZ:
        WriteStringValue(HKEY_LOCAL_MACHINE, row.key, row.name, row.text);
        break;
      case REG_DWORD:
        WriteDwordValue(HKEY_LOCAL_MACHINE, row.key, row.name, row.number);
        break;
      case REG_BINARY:
        WriteBinaryValue(HKEY_LOCAL_MACHINE, row.key, row.name, bytes, row.byteCount);
        break;
      default:
        WriteRawValue(HKEY_LOCAL_MACHINE, row.key, row.name, bytes, row.byteCount, row.kind);
        break;
    }
  }
}
