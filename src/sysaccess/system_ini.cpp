// STUB: replaced by SYSTEM.INI editing.
#include "system_ini.h"

void DisableSystemIniDevice(const std::string&) {}
void DisableDeviceEntries(char*, size_t, const std::string&) {}
