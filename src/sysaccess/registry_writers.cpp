// STUB: replaced by the registry value writers.
#include "registry_writers.h"

bool ValueExists(HKEY, const std::string&, const std::string&) { return false; }
void WriteTypedTextValue(HKEY, DWORD, const std::string&, const std::string&, const std::string&) {}
void WriteStringValue(HKEY, const std::string&, const std::string&, const std::string&) {}
void WriteDwordValue(HKEY, const std::string&, const std::string&, DWORD) {}
void WriteRawValue(HKEY, const std::string&, const std::string&, const BYTE*, DWORD, DWORD) {}
void WriteBinaryValue(HKEY, const std::string&, const std::string&, const BYTE*, DWORD) {}
