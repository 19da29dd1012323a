// The order of the package installers.
#include "packages.h"

const PackageInstaller PackageInstallers[4] = {InstallAspiLayer, InstallAudioKernel,
                                               InstallKova51UsbPackage, InstallDqUsbPackage};
