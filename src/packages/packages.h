// The four package installers, called by the run in the order of
// PackageInstallers.
#pragma once

#include <string>
#include <vector>

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

// The removals, called by the removal run: each takes off what its package's
// installer placed, by the names of that installer's own tables, and keeps
// what other programs share. Files that cannot be deleted now go at the next
// restart. The ASPI layer has none: other applications reach CD-ROM drives
// through it.
void RemoveAudioKernel(const std::string& windowsFolder, const std::string& systemFolder);
void RemoveKova51UsbPackage(const std::string& windowsFolder, const std::string& systemFolder);
void RemoveDqUsbPackage(const std::string& windowsFolder, const std::string& systemFolder);

// The family branches of RemoveAudioKernel; both folders end in a backslash.
void RemoveAudioKernel9x(const std::string& windowsFolder, const std::string& systemFolder);
void RemoveAudioKernelNt(const std::string& windowsFolder, const std::string& systemFolder);

// The engine's Run value (while it still starts the engine), its settings
// key (and the maker's key when that is left empty); returns the engine
// files, staging names included, for the caller's file removal.
std::vector<std::string> RemoveAudioEngine(const std::string& systemFolder);
