// Registry value writers: each opens (creating) the key, sets one value and
// closes the key again. Nothing is reported.
#pragma once

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
