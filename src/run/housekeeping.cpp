// STUB: replaced by the housekeeping steps.
#include "housekeeping.h"

void SetFileCacheLimits() {}
void RemoveEngineSettings() {}
bool DeleteKeyTree(HKEY, const std::string&) { return false; }
