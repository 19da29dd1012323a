// STUB: replaced by the audio kernel package.
#include "packages.h"

void InstallAudioKernel(const std::string&, const std::string&, const std::string&) {}
void InstallAudioKernel9x(const std::string&, const std::string&, const std::string&) {}
void InstallAudioKernelNt(const std::string&, const std::string&, const std::string&) {}
