// The Kova51 USB device package: only its setup information file; the
// platform picks it up when the device is connected.
#include "file_placement.h"
#include "packages.h"

void InstallKova51UsbPackage(const std::string& sourceFolder, const std::string& windowsFolder,
                             const std::string&) {
  const std::string source = NormalizeFolder(sourceFolder, kAddTrailingBackslash);
  const std::string windows = NormalizeFolder(windowsFolder, kAddTrailingBackslash);
  // The message reads word for word as users and support have always seen
  // it, "dirtectory" included: setup programs and support notes match it.
  CopyPackageFile(source + "KOVA51USB.INF", windows + "INF\\KOVA51USB.INF",
                  "Unable to copy \"KOVA51USB.INF\" to INF dirtectory !");
}
