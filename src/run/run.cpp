// STUB: replaced by the run sequence.
#include "run.h"

DWORD PlatformFamily = 0;

void RunSetup() { ExitProcess(0); }
std::string GetCommandLineArgument(int) { return std::string(); }
std::string CommandLineToken(const char*, int) { return std::string(); }
std::string SourceFolderOf(const std::string&) { return std::string(); }
std::string FindOnCdRom(const std::string&) { return std::string(); }
void CopyFromCdRom(const std::string&, const std::string&) {}
void RunFinalPhase(const std::string&, const std::string&) {}
