// The two USB device packages: they only place setup information files and
// the D2XX library, program and driver; the platform picks the files up when
// a device is connected.
#include "file_placement.h"
#include "packages.h"

void InstallKova51UsbPackage(const std::string& sourceFolder, const std::string& windowsFolder,
                             const std::string&) {
  const std::string source = NormalizeFolder(sourceFolder, 1);
  const std::string windows = NormalizeFolder(windowsFolder, 1);
  CopyPackageFile(source + "KOVA51USB.INF", windows + "INF\\KOVA51USB.INF",
                  "Unable to copy \"KOVA51USB.INF\" to INF dirtectory !");
}

void InstallDqUsbPackage(const std::string& sourceFolder, const std::string& windowsFolder,
                         const std::string& systemFolder) {
  const std::string source = NormalizeFolder(sourceFolder, 1);
  const std::string windows = NormalizeFolder(windowsFolder, 1);
  const std::string system = NormalizeFolder(systemFolder, 1);

  CopyPackageFile(source + "DQ_USB.INF", windows + "INF\\DQ_USB.INF",
                  "Unable to copy \"DQ_USB.INF\" to INF directory !");
  CopyPackageFile(source + "FTD2XX.DLL", system + "FTD2XX.DLL",
                  "Unable to copy \"FTD2XX.DLL\" to System32 directory!");
  CopyPackageFile(source + "FTD2XXUN.EXE", system + "FTD2XXUN.EXE",
                  "Unable to copy \"FTD2XXUN.EXE\" to System32 directory!");

  // The driver goes to SYSTEM32\Drivers beside a 9x system folder.
  const std::string drivers = PlatformFamily == FAMILY_9X
                                  ? NormalizeFolder(system, 0) + "32\\" + "Drivers\\"
                                  : system + "Drivers\\";
  CopyPackageFile(source + "FTD2XX.SYS", drivers + "FTD2XX.SYS",
                  "Unable to copy \"FTD2XX.SYS\" to Drivers directory!");
}
