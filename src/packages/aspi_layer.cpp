// STUB: replaced by the ASPI layer package.
#include "packages.h"

void InstallAspiLayer(const std::string&, const std::string&, const std::string&) {}
