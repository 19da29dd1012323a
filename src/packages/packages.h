// The four package installers, called by the run in this order.
#pragma once

#include <string>

#include "drvsetup.h"

// Folder strings are 8-bit (ANSI) paths. The source folder ends in a
// backslash; the windows and system folders arrive as the platform reports
// them and each package normalises its own copies.
typedef void (*PackageInstaller)(const std::string& sourceFolder, const std::string& windowsFolder,
                                 const std::string& systemFolder);

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
