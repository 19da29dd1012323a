// The four package installers, called by the run in this order.
#pragma once

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

// The two family branches of InstallAudioKernel; systemFolder ends in a
// backslash.
void InstallAudioKernel9x(const std::string& sourceFolder, const std::string& windowsFolder,
                          const std::string& systemFolder);
void InstallAudioKernelNt(const std::string& sourceFolder, const std::string& windowsFolder,
                          const std::string& systemFolder);
