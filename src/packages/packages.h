// The four package installers, called by the run in this order.
#pragma once

#include <cstddef>
#include <string>

#include "drvsetup.h"

void InstallAspiLayer(const std::string& sourceFolder, const std::string& windowsFolder,
                      const std::string& systemFolder);
void InstallAudioKernel(const std::string& sourceFolder, const std::string& windowsFolder,
                        const std::string& systemFolder);
void InstallKova51UsbPackage(const std::string& sourceFolder, const std::string& windowsFolder,
                             const std::string& systemFolder);
void InstallDqUsbPackage(const std::string& sourceFolder, const std::string& windowsFolder,
                         const std::string& systemFolder);

// The two family branches of InstallAudioKernel; every folder ends in a
// backslash.
void InstallAudioKernel9x(const std::string& sourceFolder, const std::string& windowsFolder,
                          const std::string& systemFolder);
void InstallAudioKernelNt(const std::string& sourceFolder, const std::string& windowsFolder,
                          const std::string& systemFolder);

// The engine library and the engine program, staged into the system folder
// (which ends in a backslash), with the Run value and the engine settings.
// The same on both families.
void InstallAudioEngine(const std::string& sourceFolder, const std::string& systemFolder);

// Default engine configuration, written once as "Config".
extern const BYTE EngineConfigDefault[16];

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
