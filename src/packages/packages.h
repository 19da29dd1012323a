// The four package installers, called by the run in the order of
// PackageInstallers.
#pragma once

#include <string>

#include "drvsetup.h"

// A package installer: its files come from the source folder, which ends in
// a backslash; the windows and system folders are as the platform reports
// them, and each installer normalises its own copies.
typedef void (*PackageInstaller)(const std::string& sourceFolder, const std::string& windowsFolder,
                                 const std::string& systemFolder);

// InstallAspiLayer, InstallAudioKernel, InstallKova51UsbPackage and
// InstallDqUsbPackage: the run calls them in this order, each whatever the
// ones before it did.
extern const PackageInstaller PackageInstallers[4];

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
