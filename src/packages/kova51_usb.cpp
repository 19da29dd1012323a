// The Kova51 USB device package: only its setup information file; the
// platform picks it up when the device is connected.
#include "file_placement.h"
#include "file_removal.h"
#include "packages.h"

namespace {

const char kInfFile[] = "INF\\KOVA51USB.INF";

}  // namespace

void InstallKova51UsbPackage(const std::string& sourceFolder, const std::string& windowsFolder,
                             const std::string&) {
  const std::string source = NormalizeFolder(sourceFolder, kAddTrailingBackslash);
  const std::string windows = NormalizeFolder(windowsFolder, kAddTrailingBackslash);
  // The message reads word for word as users and support have always seen
  // it, "dirtectory" included: setup programs and support notes match it.
  CopyPackageFile(source + "KOVA51USB.INF", windows + kInfFile,
                  "Unable to copy \"KOVA51USB.INF\" to INF dirtectory !");
}

void RemoveKova51UsbPackage(const std::string& windowsFolder, const std::string&) {
  const std::string windows = NormalizeFolder(windowsFolder, kAddTrailingBackslash);
  RemoveFiles({windows + kInfFile}, windows);
}
