// The DQ USB device package: its setup information file and the D2XX
// library, program and driver; the platform picks the files up when the
// device is connected.
#include "file_placement.h"
#include "packages.h"
#include "platform_family.h"

void InstallDqUsbPackage(const std::string& sourceFolder, const std::string& windowsFolder,
                         const std::string& systemFolder) {
  const std::string source = NormalizeFolder(sourceFolder, kAddTrailingBackslash);
  const std::string windows = NormalizeFolder(windowsFolder, kAddTrailingBackslash);
  const std::string system = NormalizeFolder(systemFolder, kAddTrailingBackslash);

  CopyPackageFile(source + "DQ_USB.INF", windows + "INF\\DQ_USB.INF",
                  "Unable to copy \"DQ_USB.INF\" to INF directory !");
  CopyPackageFile(source + "FTD2XX.DLL", system + "FTD2XX.DLL",
                  "Unable to copy \"FTD2XX.DLL\" to System32 directory!");
  CopyPackageFile(source + "FTD2XXUN.EXE", system + "FTD2XXUN.EXE",
                  "Unable to copy \"FTD2XXUN.EXE\" to System32 directory!");

  // The driver goes to SYSTEM32\Drivers beside a 9x system folder.
  const std::string drivers =
      PlatformFamily == FAMILY_9X
          ? NormalizeFolder(system, kRemoveTrailingBackslash) + "32\\" + "Drivers\\"
          : system + "Drivers\\";
  CopyPackageFile(source + "FTD2XX.SYS", drivers + "FTD2XX.SYS",
                  "Unable to copy \"FTD2XX.SYS\" to Drivers directory!");
}
