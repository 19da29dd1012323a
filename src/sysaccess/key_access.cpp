// STUB: replaced by the key access grant.
#include "key_access.h"

std::string KeyObjectName(HKEY, const std::string& keyPath) { return keyPath; }
bool GrantKeyAccess(HKEY, const std::string&, DWORD) { return false; }
bool ReadKeyAccess(HKEY, const std::string&, SavedKeyAccess&) { return false; }
bool RestoreKeyAccess(HKEY, const std::string&, const SavedKeyAccess&) { return false; }
