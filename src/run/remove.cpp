// The removal run: the same start as the installer's (platform family,
// running-application guard, folders), then each package's removal.
#include "remove.h"

#include <string>

#include "folders.h"
#include "guard.h"
#include "packages.h"
#include "platform_family.h"

void RunRemoval() {
  ReadPlatformFamily();

  StopIfHostApplicationRuns();

  const std::string systemFolder = ReadSystemFolder();
  const std::string windowsFolder = ReadWindowsFolder();

  RemoveAudioKernel(windowsFolder, systemFolder);
  RemoveKova51UsbPackage(windowsFolder, systemFolder);
  RemoveDqUsbPackage(windowsFolder, systemFolder);
  // The ASPI layer stays: other applications reach CD-ROM drives through it.
  // So do SYSTEM.INI's [VCache] values and the [386Enh] lines the installer
  // turned into comments (the values from before are not known), and the
  // files of the application folder (its own uninstaller owns it).

  ExitProcess(0);
}
