// STUB: replaced by file placement.
#include "file_placement.h"

const char* const InstallerCaption = "Miravelt Installation";
void ShowInstallerMessage(const std::string&) {}
std::string NormalizeFolder(const std::string& path, BYTE) { return path; }
bool FileExists(const std::string&) { return false; }
void ClearReadOnly(const std::string&) {}
void CopyPackageFile(const std::string&, const std::string&, const std::string&) {}
bool StageFile(const std::string&, const std::string&, const std::string&) { return false; }
void ScheduleRenameAtRestart(const std::string&, const std::string&) {}
void FailIniWrite(const std::string&) { ExitProcess(1); }
