// STUB: replaced by the USB device packages.
#include "packages.h"

void InstallKova51UsbPackage(const std::string&, const std::string&, const std::string&) {}
void InstallDqUsbPackage(const std::string&, const std::string&, const std::string&) {}
